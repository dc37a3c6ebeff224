// Service discovery on real local networks through the Avahi daemon. Avahi's objects live on
// its own threaded event loop; every call from our side takes that loop's lock, and callbacks,
// which run on Avahi's thread, only hand copies of their values to the caller's queue.
#pragma once

#include "Platform/Bonjour/ServiceBackend.h"

#include <memory>

namespace platform {

class AvahiServiceBackend : public ServiceBackend {
public:
    // Null when no daemon answers.
    static std::unique_ptr<AvahiServiceBackend> create();
    ~AvahiServiceBackend() override;

    QString backendName() const override { return QStringLiteral("avahi"); }
    Result<std::unique_ptr<ServiceHandle>> publish(const NetService& service, DispatchQueue queue,
                                                   std::function<void(const NetService&)> published) override;
    Result<std::unique_ptr<ServiceHandle>> browse(const QString& type, const QString& domain,
                                                  DispatchQueue queue, BrowseCallbacks callbacks) override;
    std::unique_ptr<ServiceHandle> resolve(const NetService& service, DispatchQueue queue,
                                           std::function<void(Result<NetService>)> done) override;

    struct Private;

private:
    explicit AvahiServiceBackend(std::shared_ptr<Private> d);
    std::shared_ptr<Private> d;
};

} // namespace platform
