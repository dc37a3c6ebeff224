// Same-host service discovery without a daemon: a per-user folder of service records.
//
// A publication is a property-list file "<folder>/<type>/<name>.service" whose owner keeps an
// exclusive lock on it for as long as the service lives; the lock goes away with the owner's
// process, so a browser that can take the lock itself knows the owner is gone and removes the
// record. Browsers poll the folder (cheap: one directory listing per interval) and report
// differences. Resolving is immediate: the record carries its port, and the host is this one.
//
// The folder is $FOLIVO_SERVICE_DIRECTORY when set (tests), else "Services" in the per-user
// private temporary folder.
#pragma once

#include "Platform/Bonjour/ServiceBackend.h"

namespace platform {

class DirectoryServiceBackend : public ServiceBackend {
public:
    // How often browsers look at the folder.
    static constexpr std::chrono::milliseconds kPollInterval{200};

    explicit DirectoryServiceBackend(QString folder = {});

    QString backendName() const override { return QStringLiteral("directory"); }
    QString folder() const { return m_folder; }

    Result<std::unique_ptr<ServiceHandle>> publish(const NetService& service, DispatchQueue queue,
                                                   std::function<void(const NetService&)> published) override;
    Result<std::unique_ptr<ServiceHandle>> browse(const QString& type, const QString& domain,
                                                  DispatchQueue queue, BrowseCallbacks callbacks) override;
    std::unique_ptr<ServiceHandle> resolve(const NetService& service, DispatchQueue queue,
                                           std::function<void(Result<NetService>)> done) override;

    static QString defaultFolder();

private:
    QString m_folder;
};

} // namespace platform
