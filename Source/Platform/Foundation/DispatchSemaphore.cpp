#include "Platform/Foundation/DispatchSemaphore.h"

#include <condition_variable>
#include <mutex>

namespace platform {

struct DispatchSemaphore::State {
    std::mutex mutex;
    std::condition_variable available;
    int value = 0;
};

DispatchSemaphore::DispatchSemaphore(int value) : m_state(std::make_shared<State>())
{
    m_state->value = value;
}

void DispatchSemaphore::signal() const
{
    std::lock_guard lock(m_state->mutex);
    ++m_state->value;
    m_state->available.notify_one();
}

void DispatchSemaphore::wait() const
{
    // The waiter keeps the state alive: the handle it was called on may be destroyed meanwhile
    // (a static one at exit), and destroying a waited-on condition variable hangs.
    const auto state = m_state;
    std::unique_lock lock(state->mutex);
    state->available.wait(lock, [&] { return state->value > 0; });
    --state->value;
}

bool DispatchSemaphore::waitFor(std::chrono::milliseconds timeout) const
{
    const auto state = m_state;
    std::unique_lock lock(state->mutex);
    if (!state->available.wait_for(lock, timeout, [&] { return state->value > 0; }))
        return false;
    --state->value;
    return true;
}

} // namespace platform
