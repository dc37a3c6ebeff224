// Runs operations on threads of its own, at most maxConcurrentOperationCount at once, highest
// queue priority first and first-come first-served within a priority.
//
// Operations block for long (imports wait on the store, syncers poll the disk), so they never
// borrow the shared dispatch pool. A queue starts a thread when an operation may start and
// keeps it while more operations are waiting; an idle queue holds no threads.
//
// Suspending stops operations from starting; running ones go on. waitUntilAllOperationsAreFinished
// on a suspended queue with waiting operations waits until someone resumes it.
//
// Destroying the queue cancels every operation and waits until the running ones have returned:
// their main() must test isCancelled(). Never destroy a queue, nor wait on it, from one of its
// own operations; nor on the main thread while its operations may wait for the main queue
// (a sync onto it, a save merged on the main thread): that hangs.
//
// Locking: one mutex per queue guards the waiting list and the counters; operations run
// outside it. The state lives on while a thread of the queue still uses it.
#pragma once

#include "Platform/Foundation/Operation.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class OperationQueue {
public:
    // As many at once as the machine has cores.
    static constexpr int DefaultMaxConcurrentOperationCount = -1;

    explicit OperationQueue(const QString& name = {});
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // Names the queue's threads.
    void setName(const QString& name);
    QString name() const;

    // -1 for the default; any other value below 1 counts as 1.
    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;

    // False (and logged) for a null operation or one that already joined a queue or started.
    bool addOperation(const std::shared_ptr<Operation>& operation);
    std::shared_ptr<Operation> addOperation(std::function<void()> work);

    void cancelAllOperations();

    void setSuspended(bool suspended);
    bool isSuspended() const;

    // Operations added and not yet finished (waiting or running).
    int operationCount() const;
    std::vector<std::shared_ptr<Operation>> operations() const;

    void waitUntilAllOperationsAreFinished() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace platform
