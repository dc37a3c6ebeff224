// Readiness sources for file descriptors: a read source reports that a descriptor has bytes to
// read (with their count), a write source that it can take more. Their handlers run on a serial
// queue; one reactor thread waits on epoll for every source of the process and only hands
// events to the queues.
//
// Sources are level-triggered, so a descriptor left with bytes unread is reported again, and
// start suspended, so a handler is set before the first event: resume() arms them. While a handler is queued or running no second event is queued for that source; once it
// returns, the source re-arms itself if it is still resumed, so a descriptor that stays ready
// fires again. suspend() and resume() nest (a source fires only when resumed as often as it was
// suspended, counting the initial suspension).
//
// The readable count handed to a read handler is taken when the handler runs (FIONREAD). A count
// of 0 means end of stream (or an error pending on the descriptor): readiness with no bytes is
// checked with poll() first, so bytes that another step already took never pass for an end.
//
// cancel() stops further events at once and queues the cancel handler, which therefore runs once,
// after the last event handler. The descriptor stays the caller's: the source never closes it, and
// the cancel handler is the place to do so. Destroying a handle that was not cancelled cancels it.
//
// The reactor is started on first use and stopped and joined when the application object goes
// (or, without one, at the start of static destruction), like the worker pool; events that arrive
// after that are dropped.
//
// Locking: one mutex per source for its counts and handlers; the reactor's own mutex for its table
// of descriptors. Handlers never run under either.
#pragma once

#include "Platform/Foundation/DispatchQueue.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

class DispatchSource {
public:
    enum class Kind { Read, Write };
    // Read: the readable byte count. Write: always 1.
    using EventHandler = std::function<void(std::size_t data)>;
    using Handler = std::function<void()>;

    DispatchSource() = default;
    // The queue must be serial: the order of handlers and of the cancel handler depends on it.
    DispatchSource(int fd, Kind kind, DispatchQueue queue);
    ~DispatchSource();
    DispatchSource(DispatchSource&&) noexcept = default;
    DispatchSource& operator=(DispatchSource&&) noexcept;
    DispatchSource(const DispatchSource&) = delete;
    DispatchSource& operator=(const DispatchSource&) = delete;

    bool isValid() const { return m_state != nullptr; }
    int fd() const;

    void setEventHandler(EventHandler handler);
    void setCancelHandler(Handler handler);
    void resume();
    void suspend();
    void cancel();
    bool isCancelled() const;

    struct State; // shared with the reactor and the queued handlers

private:
    std::shared_ptr<State> m_state;
};

namespace detail {
// Stops the reactor and joins its thread; later sources never fire. Called by the application's
// post routine; public for the tests of the shut-down order.
void stopDispatchReactor();
} // namespace detail

} // namespace platform
