#include "Platform/Foundation/OperationQueue.h"

#include "Platform/Foundation/Dispatch.h"
#include "Support/TestSupport.h"

#include <QStringList>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;
using platform::Dispatch;
using platform::DispatchSemaphore;
using platform::Operation;
using platform::OperationPriority;
using platform::OperationQueue;

namespace {

// Runs until cancelled; reports that it started.
class PollingOperation : public Operation {
public:
    std::atomic<bool> started{false};
    std::atomic<int> polls{0};

protected:
    void main() override
    {
        started = true;
        DispatchSemaphore never(0);
        while (!isCancelled()) {
            ++polls;
            never.waitFor(1ms);
        }
    }
};

} // namespace

TEST(OperationQueue, RunsAtMostTheAllowedNumberAtOnceOnItsOwnThreads)
{
    OperationQueue queue(QStringLiteral("syncers"));
    queue.setMaxConcurrentOperationCount(3);
    DispatchSemaphore gate(0);
    std::atomic<int> inside{0};
    std::atomic<int> peak{0};
    std::atomic<int> onOwnThread{0};
    for (int i = 0; i < 7; ++i) {
        queue.addOperation([&] {
            const int now = ++inside;
            for (int seen = peak.load(); now > seen && !peak.compare_exchange_weak(seen, now);) {
            }
            if (Dispatch::currentThreadName() == QStringLiteral("syncers"))
                ++onOwnThread;
            gate.wait();
            --inside;
        });
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return inside.load() == 3; }));
    EXPECT_EQ(queue.operationCount(), 7);
    for (int i = 0; i < 7; ++i)
        gate.signal();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0);
    EXPECT_EQ(peak.load(), 3);
    EXPECT_EQ(onOwnThread.load(), 7);
}

TEST(OperationQueue, OneAtATimeKeepsArrivalOrderWithinAPriorityAndHigherPrioritiesFirst)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    std::mutex mutex;
    QStringList order;
    auto op = [&](const QString& name, OperationPriority priority) {
        auto o = Operation::fromFunction([&, name] {
            std::lock_guard lock(mutex);
            order << name;
        });
        o->setQueuePriority(priority);
        return o;
    };
    queue.setSuspended(true);
    queue.addOperation(op(QStringLiteral("low"), OperationPriority::Low));
    queue.addOperation(op(QStringLiteral("normal1"), OperationPriority::Normal));
    queue.addOperation(op(QStringLiteral("high"), OperationPriority::VeryHigh));
    queue.addOperation(op(QStringLiteral("normal2"), OperationPriority::Normal));
    EXPECT_EQ(queue.operationCount(), 4);
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(order, (QStringList{"high", "normal1", "normal2", "low"}));
}

TEST(OperationQueue, CancelledBeforeStartSkipsMainButStillFinishesAndCompletes)
{
    OperationQueue queue;
    queue.setSuspended(true);
    std::atomic<bool> ran{false};
    std::atomic<bool> completed{false};
    auto op = Operation::fromFunction([&] { ran = true; });
    op->setCompletionBlock([&, raw = op.get()] { completed = raw->isFinished(); });
    ASSERT_TRUE(queue.addOperation(op));
    EXPECT_FALSE(op->isExecuting());
    op->cancel();
    queue.setSuspended(false);
    op->waitUntilFinished();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(ran.load());
    EXPECT_TRUE(op->isFinished());
    EXPECT_TRUE(op->isCancelled());
    EXPECT_TRUE(completed.load());
}

TEST(OperationQueue, CancelDuringRunEndsACooperativeOperation)
{
    OperationQueue queue;
    auto op = std::make_shared<PollingOperation>();
    std::atomic<int> completions{0};
    op->setCompletionBlock([&] { ++completions; });
    queue.addOperation(op);
    ASSERT_TRUE(testsupport::spinUntil([&] { return op->started.load(); }));
    EXPECT_TRUE(op->isExecuting());
    EXPECT_FALSE(op->isFinished());
    queue.cancelAllOperations();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->isExecuting());
    EXPECT_EQ(completions.load(), 1);
}

TEST(OperationQueue, SuspendHoldsBackNewStartsButNotRunningOperations)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    DispatchSemaphore gate(0);
    std::atomic<bool> firstDone{false};
    std::atomic<bool> secondStarted{false};
    queue.addOperation([&] {
        gate.wait();
        firstDone = true;
    });
    auto second = queue.addOperation([&] { secondStarted = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return queue.operations().front()->isExecuting(); }));
    queue.setSuspended(true);
    EXPECT_TRUE(queue.isSuspended());
    gate.signal();
    ASSERT_TRUE(testsupport::spinUntil([&] { return firstDone.load() && queue.operationCount() == 1; }));
    EXPECT_FALSE(secondStarted.load());
    EXPECT_FALSE(second->isExecuting());
    queue.setSuspended(false);
    second->waitUntilFinished();
    EXPECT_TRUE(secondStarted.load());
}

TEST(OperationQueue, RejectsNullAndOperationsThatAlreadyJoinedOrRan)
{
    OperationQueue queue;
    OperationQueue other;
    EXPECT_FALSE(queue.addOperation(std::shared_ptr<Operation>()));
    std::atomic<int> runs{0};
    auto op = Operation::fromFunction([&] { ++runs; });
    EXPECT_TRUE(queue.addOperation(op));
    EXPECT_FALSE(queue.addOperation(op));
    EXPECT_FALSE(other.addOperation(op));
    queue.waitUntilAllOperationsAreFinished();
    auto ranAlone = Operation::fromFunction([&] { ++runs; });
    ranAlone->start();
    ranAlone->start();
    EXPECT_FALSE(queue.addOperation(ranAlone));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs.load(), 2);
}

TEST(OperationQueue, DestroyingTheQueueCancelsAndWaitsForItsOperations)
{
    auto running = std::make_shared<PollingOperation>();
    auto waiting = std::make_shared<PollingOperation>();
    {
        OperationQueue queue;
        queue.setMaxConcurrentOperationCount(1);
        queue.addOperation(running);
        queue.addOperation(waiting);
        ASSERT_TRUE(testsupport::spinUntil([&] { return running->started.load(); }));
        queue.setSuspended(true); // a suspended queue must not make its destructor hang
    }
    EXPECT_TRUE(running->isFinished());
    EXPECT_TRUE(waiting->isFinished());
    EXPECT_FALSE(waiting->started.load());
}
