// Tracks a set of tasks that may run anywhere, to be told (notify) or to wait when all have
// finished. Copies of the handle share one group.
//
// A leave() without a matching enter() is a programming error: it is logged and ignored rather
// than letting the count go negative and release waiters early.
//
// Locking: one mutex per group; notify tasks are sent to their queues outside it.
#pragma once

#include "Platform/Foundation/DispatchQueue.h"

#include <chrono>
#include <functional>
#include <memory>

namespace platform {

class DispatchGroup {
public:
    using Task = std::function<void()>;

    DispatchGroup();

    void enter() const;
    void leave() const;

    // Runs the task on the queue as a member of the group.
    void async(const DispatchQueue& queue, Task task) const;
    // Sends the task to the queue once the group is empty (at once when it is empty now).
    void notify(const DispatchQueue& queue, Task task) const;

    void wait() const;
    // False when the timeout passed with members still outstanding.
    bool waitFor(std::chrono::milliseconds timeout) const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace platform
