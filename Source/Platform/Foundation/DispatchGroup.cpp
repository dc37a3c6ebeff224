#include "Platform/Foundation/DispatchGroup.h"

#include <QDebug>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

struct DispatchGroup::State {
    std::mutex mutex;
    std::condition_variable empty;
    int outstanding = 0;
    std::vector<std::pair<DispatchQueue, Task>> notifications;
};

DispatchGroup::DispatchGroup() : m_state(std::make_shared<State>())
{
}

void DispatchGroup::enter() const
{
    std::lock_guard lock(m_state->mutex);
    ++m_state->outstanding;
}

void DispatchGroup::leave() const
{
    std::vector<std::pair<DispatchQueue, Task>> due;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->outstanding == 0) {
            qCritical("DispatchGroup: leave() without a matching enter(); ignored");
            return;
        }
        if (--m_state->outstanding > 0)
            return;
        due.swap(m_state->notifications);
        m_state->empty.notify_all();
    }
    for (auto& [queue, task] : due)
        queue.async(std::move(task));
}

void DispatchGroup::async(const DispatchQueue& queue, Task task) const
{
    if (!queue.isValid() || !task)
        return;
    enter();
    // The group is left even when the task is dropped unrun (at process exit), so waiters wake.
    struct Leave {
        explicit Leave(DispatchGroup g) : group(std::move(g)) {}
        ~Leave() { group.leave(); }
        DispatchGroup group;
    };
    auto leave = std::make_shared<Leave>(*this);
    queue.async([task = std::move(task), leave = std::move(leave)] { task(); });
}

void DispatchGroup::notify(const DispatchQueue& queue, Task task) const
{
    if (!task)
        return;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->outstanding > 0) {
            m_state->notifications.emplace_back(queue, std::move(task));
            return;
        }
    }
    queue.async(std::move(task));
}

void DispatchGroup::wait() const
{
    const auto state = m_state; // outlives the handle, as in DispatchSemaphore::wait
    std::unique_lock lock(state->mutex);
    state->empty.wait(lock, [&] { return state->outstanding == 0; });
}

bool DispatchGroup::waitFor(std::chrono::milliseconds timeout) const
{
    const auto state = m_state;
    std::unique_lock lock(state->mutex);
    return state->empty.wait_for(lock, timeout, [&] { return state->outstanding == 0; });
}

} // namespace platform
