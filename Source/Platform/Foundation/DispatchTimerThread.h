// The one thread behind every timer and delayed task. It keeps pending firings in a heap and,
// when one is due, calls its short hand-off function (which only queues work elsewhere), so a
// slow handler never delays another timer.
//
// Each firing may happen up to its leeway late; the thread sleeps until the earliest latest
// moment and then fires everything already due, which lets close deadlines share one wake-up.
//
// Created on first use and never destroyed; at process exit pending firings are dropped.
// Locking: one mutex guards the heap; hand-off functions run outside it.
#pragma once

#include <chrono>
#include <functional>

namespace platform::detail {

class DispatchTimerThread {
public:
    using Clock = std::chrono::steady_clock;

    static DispatchTimerThread& shared();

    void schedule(Clock::time_point deadline, Clock::duration leeway, std::function<void()> fire);

    DispatchTimerThread(const DispatchTimerThread&) = delete;
    DispatchTimerThread& operator=(const DispatchTimerThread&) = delete;

private:
    struct State;
    DispatchTimerThread();
    ~DispatchTimerThread() = delete; // lives for the whole process

    State* m_state;
};

} // namespace platform::detail
