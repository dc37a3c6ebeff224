// A counting semaphore shared by copies of the handle, so lambdas on other threads can capture
// it by value. Waits with a timeout answer whether a unit was taken.
//
// Locking: one mutex and condition variable per semaphore.
#pragma once

#include <chrono>
#include <memory>

namespace platform {

class DispatchSemaphore {
public:
    explicit DispatchSemaphore(int value = 0);

    void signal() const;
    void wait() const;
    // False when the timeout passed without a unit becoming available.
    bool waitFor(std::chrono::milliseconds timeout) const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace platform
