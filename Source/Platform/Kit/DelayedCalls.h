// Calls scheduled on the main event loop after a delay, all of which one owner can cancel at
// once: the stand-in for performing a selector after a delay and cancelling the previous
// requests. Destroying the DelayedCalls cancels what is still pending, so a call never runs
// after its owner has gone.
#pragma once

#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

namespace platform::kit {

class DelayedCalls {
public:
    DelayedCalls() = default;
    DelayedCalls(const DelayedCalls&) = delete;
    DelayedCalls& operator=(const DelayedCalls&) = delete;

    void perform(int ms, std::function<void()> fn);
    void cancelAll();
    int pendingCount() const;

private:
    std::vector<std::unique_ptr<QTimer>> m_timers;
};

} // namespace platform::kit
