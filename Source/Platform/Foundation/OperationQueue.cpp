#include "Platform/Foundation/OperationQueue.h"

#include "Platform/Foundation/Dispatch.h"

#include <QDebug>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

namespace {

int defaultLimit()
{
    return int(std::max(2u, std::thread::hardware_concurrency()));
}

} // namespace

struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    QString name = QStringLiteral("folivo.operations");
    int maxCount = DefaultMaxConcurrentOperationCount;
    bool suspended = false;
    int active = 0;                                  // threads holding an operation
    std::vector<std::shared_ptr<Operation>> waiting; // in arrival order
    std::vector<std::shared_ptr<Operation>> all;     // waiting and running, in arrival order

    int limitLocked() const { return maxCount == DefaultMaxConcurrentOperationCount ? defaultLimit() : maxCount; }
    bool mayStartLocked() const { return !suspended && !waiting.empty() && active < limitLocked(); }
    std::shared_ptr<Operation> takeNextLocked();
    void startThreadsLocked();
    void runThread(std::shared_ptr<Operation> operation);
};

std::shared_ptr<Operation> OperationQueue::State::takeNextLocked()
{
    // The first operation of the highest priority: stable among equals.
    auto best = waiting.begin();
    for (auto it = waiting.begin(); it != waiting.end(); ++it) {
        if (int((*it)->queuePriority()) > int((*best)->queuePriority()))
            best = it;
    }
    auto op = std::move(*best);
    waiting.erase(best);
    return op;
}

void OperationQueue::State::startThreadsLocked()
{
    while (mayStartLocked()) {
        auto op = takeNextLocked();
        try {
            std::thread([self = shared_from_this(), op] { self->runThread(op); }).detach();
            ++active;
        } catch (const std::system_error& e) {
            qCritical("OperationQueue \"%s\": could not start a thread: %s", qUtf8Printable(name),
                      e.what());
            waiting.insert(waiting.begin(), std::move(op));
            return;
        }
    }
}

void OperationQueue::State::runThread(std::shared_ptr<Operation> operation)
{
    {
        std::lock_guard lock(mutex);
        Dispatch::setCurrentThreadName(name);
    }
    while (operation) {
        operation->start();
        std::lock_guard lock(mutex);
        std::erase(all, operation);
        operation.reset();
        // Keep this thread for the next waiting operation rather than start a new one.
        if (!suspended && !waiting.empty() && active <= limitLocked())
            operation = takeNextLocked();
        else
            --active;
        changed.notify_all();
    }
}

OperationQueue::OperationQueue(const QString& name) : m_state(std::make_shared<State>())
{
    if (!name.isEmpty())
        m_state->name = name;
}

OperationQueue::~OperationQueue()
{
    cancelAllOperations();
    setSuspended(false);
    waitUntilAllOperationsAreFinished();
}

void OperationQueue::setName(const QString& name)
{
    std::lock_guard lock(m_state->mutex);
    m_state->name = name;
}

QString OperationQueue::name() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->name;
}

void OperationQueue::setMaxConcurrentOperationCount(int count)
{
    std::lock_guard lock(m_state->mutex);
    m_state->maxCount = count == DefaultMaxConcurrentOperationCount ? count : std::max(1, count);
    m_state->startThreadsLocked();
}

int OperationQueue::maxConcurrentOperationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->maxCount;
}

bool OperationQueue::addOperation(const std::shared_ptr<Operation>& operation)
{
    if (!operation) {
        qWarning("OperationQueue: a null operation was not added");
        return false;
    }
    if (operation->m_started.load() || operation->m_enqueued.exchange(true)) {
        qWarning("OperationQueue: operation \"%s\" already started or queued; not added again",
                 qUtf8Printable(operation->name()));
        return false;
    }
    std::lock_guard lock(m_state->mutex);
    m_state->waiting.push_back(operation);
    m_state->all.push_back(operation);
    m_state->startThreadsLocked();
    return true;
}

std::shared_ptr<Operation> OperationQueue::addOperation(std::function<void()> work)
{
    auto op = Operation::fromFunction(std::move(work));
    addOperation(op);
    return op;
}

void OperationQueue::cancelAllOperations()
{
    // Cancelled outside the lock: a subclass's cancel() may reach back into the queue.
    for (const auto& op : operations())
        op->cancel();
}

void OperationQueue::setSuspended(bool suspended)
{
    std::lock_guard lock(m_state->mutex);
    m_state->suspended = suspended;
    m_state->startThreadsLocked();
}

bool OperationQueue::isSuspended() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->suspended;
}

int OperationQueue::operationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return int(m_state->all.size());
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->all;
}

void OperationQueue::waitUntilAllOperationsAreFinished() const
{
    std::unique_lock lock(m_state->mutex);
    m_state->changed.wait(lock, [&] { return m_state->all.empty(); });
}

} // namespace platform
