// The pairing listener: a second published service ("_tarnwick_m_service._tcp", TXT "Name",
// "DataPort" and "GUID") through which another device pairs with this copy by a number shown
// on both sides.
//
// One match runs at a time. The listener greets each connection with its state: 1 when it takes
// the match, 2 when another match runs (then it closes), 3 when it is not open or is locked out
// after three failed matches (60 s). It compares the client's code with its owner's itself and
// answers 0xFFFFFFFF on a mismatch, so the code is never handed to a client that does not know it,
// and the client's own verdict never decides anything here. Every read waits at most 30 s.
//
// Locking: one mutex in the shared core guards the match state, the refused connections and the
// failure count; socket and delegate calls are made outside it. The owner hears the outcome of
// each match it was asked about exactly once, on the main thread: done (codes compared) or cancel
// (anything else).
#pragma once

#include "Platform/Bonjour/ServiceBackend.h"
#include "TWService/Mobile/TWMatchWire.h"
#include "TWService/Socket/KPAsyncSocket.h"

#include <QString>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <memory>

inline constexpr const char* kTWMobileServiceType = "_tarnwick_m_service._tcp";

class TWMatchServiceDelegate {
public:
    virtual ~TWMatchServiceDelegate() = default;
    // The code this copy shows for the request, or TWMatchWire::kMatchCancelled to turn it down.
    // Called on the connection's queue, never the main thread.
    virtual quint32 onTWMatchServiceReceiveMatchInfo(const QVariantMap& info, const KPAsyncSocketPtr& socket)
    {
        return TWMatchWire::kMatchCancelled;
    }
    virtual void onTWMatchServiceMatchDone(bool success) {}
    virtual void onTWMatchServiceMatchCancel() {}
};

// Limits of the pairing; tests shorten them.
struct TWMatchLimits {
    double read = 30;
    int maxFailures = 3;
    std::chrono::milliseconds lockout{60000};
    static TWMatchLimits& shared();
};

class TWMobileService {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    TWMobileService(QString guid, quint16 dataServerPort, QString userName);
    ~TWMobileService();
    TWMobileService(const TWMobileService&) = delete;
    TWMobileService& operator=(const TWMobileService&) = delete;

    // Listens on a port the system picks and publishes it; a started service answers at once.
    platform::Result<void> startService();
    void stopService();
    quint16 port() const;

    void setMatchDelegate(std::weak_ptr<TWMatchServiceDelegate> delegate);
    // A closed listener answers state 3 to everyone; a started one is open.
    void setOpenForMatching(bool open);
    bool isMatching() const;
    // Where the lock-out reads the time; the steady clock unless a test sets another.
    void setClock(Clock clock);

private:
    class Core;
    QString m_GUID;
    quint16 m_dataServerPort;
    QString m_userName;
    std::shared_ptr<Core> m_core;
    std::shared_ptr<platform::ServiceBackend> m_backend;
    std::unique_ptr<platform::ServiceHandle> m_netService;
};
