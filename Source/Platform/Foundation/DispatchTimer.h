// A repeating timer whose handler runs on a queue. All timers share one timer thread that keeps
// their deadlines in a heap; the thread only hands handlers to their queues.
//
// Firings are merged, never stacked up: while a handler is still queued or running, further
// deadlines that pass are dropped. The leeway lets the timer fire up to that much late so that
// timers due close together wake the thread once.
//
// cancel() stops further handlers (one already running finishes) and then runs the cancel
// handler once on the timer's queue, after the last handler has returned. Destroying the timer
// cancels it. A handler that runs while its owner is destroyed must not touch the owner: cancel
// on the timer's own queue, or capture weak references.
//
// Locking: one mutex per timer, never held while a handler runs.
#pragma once

#include "Platform/Foundation/DispatchQueue.h"

#include <chrono>
#include <functional>
#include <memory>

namespace platform {

class DispatchTimer {
public:
    using Handler = std::function<void()>;

    DispatchTimer() = default;
    DispatchTimer(DispatchQueue queue, Handler handler);
    ~DispatchTimer();
    DispatchTimer(DispatchTimer&&) noexcept;
    DispatchTimer& operator=(DispatchTimer&&) noexcept;
    DispatchTimer(const DispatchTimer&) = delete;
    DispatchTimer& operator=(const DispatchTimer&) = delete;

    bool isValid() const { return m_state != nullptr; }

    void setCancelHandler(Handler handler);

    // Arms (or re-arms) the timer: first firing after one interval, or at once with fireAtOnce.
    // Has no effect once cancelled. An interval below one millisecond is raised to one.
    void start(std::chrono::milliseconds interval, std::chrono::milliseconds leeway = {},
               bool fireAtOnce = false);
    void cancel();
    bool isCancelled() const;

    struct State; // shared with the timer thread and the queued handlers

private:
    std::shared_ptr<State> m_state;
};

} // namespace platform
