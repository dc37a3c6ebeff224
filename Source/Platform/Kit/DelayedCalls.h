// Calls made after a delay on the current Scheduler, all of which one owner can cancel at once
// (a view that starts a delayed step anew drops the ones it asked for before).
// Destroying the DelayedCalls cancels what is still pending, so a call never runs after its
// owner has gone. Each call stays on the scheduler that was current when it was made.
#pragma once

#include "Platform/Kit/Scheduler.h"

#include <functional>
#include <vector>

namespace platform::kit {

class DelayedCalls {
public:
    DelayedCalls() = default;
    DelayedCalls(const DelayedCalls&) = delete;
    DelayedCalls& operator=(const DelayedCalls&) = delete;

    void perform(int ms, std::function<void()> fn);
    // Safe from inside one of the calls.
    void cancelAll();
    int pendingCount() const;

private:
    std::vector<Token> m_tokens;
};

} // namespace platform::kit
