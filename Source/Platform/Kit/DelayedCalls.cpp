#include "Platform/Kit/DelayedCalls.h"

#include <algorithm>

namespace platform::kit {

void DelayedCalls::perform(int ms, std::function<void()> fn)
{
    std::erase_if(m_tokens, [](const Token& t) { return !t.isActive(); });
    m_tokens.push_back(Scheduler::current().after(ms, std::move(fn)));
}

void DelayedCalls::cancelAll()
{
    // Cancelling only marks the work, so this may run inside one of the calls; the vector is
    // moved out first because a cancelled call's captures may reach back here.
    auto tokens = std::move(m_tokens);
    m_tokens.clear();
    for (Token& t : tokens)
        t.cancel();
}

int DelayedCalls::pendingCount() const
{
    return int(std::count_if(m_tokens.begin(), m_tokens.end(), [](const Token& t) { return t.isActive(); }));
}

} // namespace platform::kit
