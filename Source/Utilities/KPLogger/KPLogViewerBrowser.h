// Finding log viewers through the platform's service discovery, for the logger's worker.
//
// Discovery answers on a dispatch queue of its own, but everything that acts on a viewer runs
// on the worker thread. So the callbacks only append events to a locked inbox and wake the
// worker, which takes them at its next pass. Each browse and resolve carries a generation
// number: events that a stopped browse or a cancelled resolve had already sent are dropped when
// taken, so nothing found by an earlier search is acted on after the search was stopped.
//
// Threads: start, stop, resolve and takeEvents on the worker; the inbox is shared under its
// mutex with the discovery queue.
#pragma once

#include "Platform/Bonjour/ServiceBackend.h"

#include <QList>
#include <functional>
#include <memory>
#include <optional>

class KPLogViewerBrowser {
public:
    struct Event {
        enum Kind { Found, Removed, Resolved } kind = Found;
        platform::NetService service;
        std::optional<platform::Error> error; // a resolve that failed
    };

    explicit KPLogViewerBrowser(std::function<void()> wake);
    ~KPLogViewerBrowser();
    KPLogViewerBrowser(const KPLogViewerBrowser&) = delete;
    KPLogViewerBrowser& operator=(const KPLogViewerBrowser&) = delete;

    // The discovery in use; the platform's shared one when none is set (before the first use).
    // Held for the life of the browser, so it outlives the worker that browses through it.
    void setBackend(std::shared_ptr<platform::ServiceBackend> backend);

    // Browses for the type in the domain ("" for the default ones); false when it cannot start.
    bool start(const QString& type, const QString& domain);
    void stop();
    // After this the wake given at construction is never called again, nor still running.
    void dropWake();
    bool isBrowsing() const { return m_browse != nullptr; }

    // Resolves one found service; the answer comes back as a Resolved event. A new resolve or
    // cancelResolve() drops the answer of the previous one.
    void resolve(const platform::NetService& service);
    void cancelResolve();

    QList<Event> takeEvents();

private:
    struct Inbox;

    platform::ServiceBackend& backend();
    // Handles are released on the discovery queue, where none of their callbacks can be running.
    void release(std::unique_ptr<platform::ServiceHandle> handle);

    std::shared_ptr<Inbox> m_inbox;
    platform::DispatchQueue m_queue;
    std::shared_ptr<platform::ServiceBackend> m_backend;
    std::unique_ptr<platform::ServiceHandle> m_browse;
    std::unique_ptr<platform::ServiceHandle> m_resolve;
};
