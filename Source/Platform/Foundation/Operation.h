// One unit of long-running work (an import, a folder sync) that can be cancelled and waited
// for. Subclass and implement main(), or wrap a function with fromFunction().
//
// Cancellation is cooperative: cancel() only sets a flag that main() tests at its checkpoints.
// An operation cancelled before it starts finishes without running main(). Either way it ends
// finished, and its completion callback runs once, on the operation's thread, after isFinished()
// has become true.
//
// Operations are shared (std::shared_ptr): the queue, the owner and observers may all hold one.
// Locking: the flags are atomics; one mutex guards the completion callback and the waiters.
#pragma once

#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

enum class OperationPriority { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };

class Operation : public std::enable_shared_from_this<Operation> {
public:
    Operation();
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    static std::shared_ptr<Operation> fromFunction(std::function<void()> work);
    // The function receives its operation, to test isCancelled() while it works.
    static std::shared_ptr<Operation> fromFunction(std::function<void(Operation&)> work);

    // Subclasses that hold inner work (a running sub-operation) override this to stop it too,
    // and call the base.
    virtual void cancel();
    bool isCancelled() const { return m_cancelled.load(); }
    bool isExecuting() const { return m_executing.load(); }
    bool isFinished() const { return m_finished.load(); }

    void setCompletionBlock(std::function<void()> block);

    void setQueuePriority(OperationPriority priority) { m_priority.store(priority); }
    OperationPriority queuePriority() const { return m_priority.load(); }

    void setName(const QString& name);
    QString name() const;

    // Runs the operation on the calling thread; what a queue does on its own thread. A second
    // call, or a call while it runs, does nothing.
    void start();
    // Blocks until the operation has finished. Never call it from the operation's own thread.
    void waitUntilFinished() const;

protected:
    virtual void main() = 0;

private:
    friend class OperationQueue;

    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_executing{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_enqueued{false}; // belongs to a queue; an operation joins only one
    std::atomic<OperationPriority> m_priority{OperationPriority::Normal};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_finishedChanged;
    std::function<void()> m_completion;
    QString m_name;
};

} // namespace platform
