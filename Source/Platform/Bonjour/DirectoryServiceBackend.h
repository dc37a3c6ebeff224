// Same-host service discovery without a daemon: a per-user folder of service records.
//
// A publication is a property-list file "<folder>/<type>/<name>.service" whose owner keeps an
// exclusive lock on it for as long as the service lives; the lock goes away with the owner's
// process, so a browser that can take the lock itself knows the owner is gone and removes the
// record. Browsers look at the folder when the kernel says it changed or that a record's owner
// ended, and report differences; an idle browser does no work at all. Resolving is immediate:
// the record carries its port, and the host is this one.
//
// The folder is $FOLIVO_SERVICE_DIRECTORY when set (tests), else "Services" in the per-user
// private temporary folder.
#pragma once

#include "Platform/Bonjour/ServiceBackend.h"

namespace platform {

class DirectoryServiceBackend : public ServiceBackend {
public:
    // How soon a browser looks again at what it cannot watch: a folder where change
    // notification is unavailable, or a live record whose owner's process cannot be watched.
    static constexpr std::chrono::milliseconds kUnwatchedRecheckInterval{1000};

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

    // How many times browsers of this process have looked at their folders.
    static int scanCountForTesting();

private:
    QString m_folder;
};

} // namespace platform
