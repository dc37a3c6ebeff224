// Usage events ("applaunch", "newuser", "theme", "act-safebox", "crash") come in through the
// class entry fireEvent(name, value), which does nothing: no default written, nothing queued,
// nothing sent. Beside it stands the unused instance path that builds the tracking beacon on a
// one-at-a-time queue and drops it without sending.
#pragma once

#include "Analytics/TrackingRequest.h"
#include "Platform/Foundation/Operation.h"

#include <QString>
#include <memory>
#include <optional>

class AnalyticsHelper {
public:
    static void fireEvent(const QString& name, qint64 value);
    static QString UUIDString();

    // The unused path: queues a beacon build when the event is complete; always true.
    bool fireEvent(const QString& name, std::optional<qint64> value);

    QString domainName;
    std::optional<QString> analyticsAccountCode;

    // The one-at-a-time queue of beacon builds; ended by shutDown() in the shut-down order.
    static void waitForTracking();
    static void shutDown();
};

// Builds one beacon: waits a second at low priority, asks for the public address, computes the
// URL and ends. Nothing is sent.
class KPTracking : public platform::Operation {
public:
    explicit KPTracking(TrackingRequest request) : m_request(std::move(request)) {}
    TrackingRequest request() const;
    // The URL built, for tests; empty until the operation ran.
    QString builtURL() const;

protected:
    void main() override;

private:
    mutable std::mutex m_mutex; // guards m_request and m_url
    TrackingRequest m_request;
    QString m_url;
};
