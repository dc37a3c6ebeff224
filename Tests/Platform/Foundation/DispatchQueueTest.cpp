#include "Platform/Foundation/Dispatch.h"

#include "Support/TestSupport.h"

#include <QEventLoop>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using platform::Dispatch;
using platform::DispatchGroup;
using platform::DispatchQueue;
using platform::QueuePriority;

namespace {

// Waits for a group while keeping the main queue alive.
bool finish(const DispatchGroup& group)
{
    return testsupport::spinUntil([&] { return group.waitFor(0ms); });
}

} // namespace

TEST(DispatchQueue, SerialQueueRunsOneTaskAtATimeInSubmissionOrder)
{
    const auto queue = DispatchQueue::serial(QStringLiteral("com.norlith.folivo2.test.order"));
    DispatchGroup group;
    std::vector<int> seen; // touched only by the queue's tasks
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    constexpr int Tasks = 2000;
    // Two submitting threads: each one's tasks must keep their relative order.
    auto submit = [&](int base) {
        for (int i = 0; i < Tasks / 2; ++i) {
            group.async(queue, [&, value = base + i] {
                if (inside.fetch_add(1) != 0)
                    ++overlaps;
                seen.push_back(value);
                inside.fetch_sub(1);
            });
        }
    };
    std::thread a(submit, 0);
    std::thread b(submit, 100000);
    a.join();
    b.join();
    ASSERT_TRUE(finish(group));

    EXPECT_EQ(overlaps.load(), 0);
    ASSERT_EQ(int(seen.size()), Tasks);
    int lastA = -1;
    int lastB = 99999;
    for (int v : seen) {
        int& last = v < 100000 ? lastA : lastB;
        EXPECT_EQ(v, last + 1);
        last = v;
    }
}

TEST(DispatchQueue, IsCurrentAndThreadNameFollowTheRunningQueue)
{
    const auto queue = DispatchQueue::serial(QStringLiteral("com.norlith.folivo2.backgroundsavetodatabase"));
    const auto other = DispatchQueue::serial(QStringLiteral("other"));
    std::atomic<bool> done{false};
    bool onQueue = false, onOther = true, onMain = true;
    QString threadName;
    queue.async([&] {
        onQueue = queue.isCurrent();
        onOther = other.isCurrent();
        onMain = DispatchQueue::main().isCurrent() || Dispatch::isMainThread();
        threadName = Dispatch::currentThreadName();
        done = true;
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return done.load(); }));
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(onOther);
    EXPECT_FALSE(onMain);
    EXPECT_EQ(threadName, QStringLiteral("backgroundsavet")); // the last label part, cut to 15 bytes
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_TRUE(DispatchQueue::main().isCurrent());
    EXPECT_TRUE(Dispatch::isMainThread());
}

TEST(DispatchQueue, SyncWaitsForTheTaskAndNeverDeadlocksOnItsOwnQueue)
{
    const auto a = DispatchQueue::serial(QStringLiteral("a"));
    const auto b = DispatchQueue::serial(QStringLiteral("b"));
    std::vector<QString> steps;
    a.sync([&] {
        steps.push_back(QStringLiteral("a"));
        // Both of these would wait for a forever; they are reported and run in place.
        a.sync([&] { steps.push_back(QStringLiteral("a-in-a")); });
        b.sync([&] {
            EXPECT_TRUE(a.isCurrent()); // a is held for b's task
            steps.push_back(QStringLiteral("b"));
            a.sync([&] { steps.push_back(QStringLiteral("a-in-b")); });
        });
    });
    EXPECT_EQ(steps, (std::vector<QString>{"a", "a-in-a", "b", "a-in-b"}));

    // A global queue's sync runs on the calling thread.
    const auto caller = std::this_thread::get_id();
    std::thread::id ranOn;
    DispatchQueue::global(QueuePriority::Low).sync([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, caller);
}

TEST(DispatchQueue, SyncQueuesBehindEarlierTasks)
{
    const auto queue = DispatchQueue::serial(QStringLiteral("behind"));
    std::binary_semaphore gate(0);
    std::vector<int> order;
    queue.async([&] {
        gate.acquire();
        order.push_back(1);
    });
    std::thread syncer([&] { queue.sync([&] { order.push_back(2); }); });
    gate.release();
    syncer.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(DispatchQueue, MainQueueRunsOnTheMainThreadInOrder)
{
    std::vector<int> order;
    std::atomic<bool> allOnMain{true};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            Dispatch::main([&, i] {
                allOnMain = allOnMain && Dispatch::isMainThread() && DispatchQueue::main().isCurrent();
                order.push_back(i);
            });
        }
    });
    worker.join();
    ASSERT_TRUE(testsupport::spinUntil([&] { return order.size() == 50; }));
    EXPECT_TRUE(allOnMain.load());
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(DispatchQueue, MainSyncFromAWorkerWaitsForTheEventLoopAndRunsInPlaceOnMain)
{
    std::atomic<bool> workerDone{false};
    bool ranOnMain = false;
    std::thread worker([&] {
        DispatchQueue::main().sync([&] { ranOnMain = Dispatch::isMainThread(); });
        workerDone = true;
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return workerDone.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);

    bool inPlace = false;
    DispatchQueue::main().sync([&] { inPlace = true; });
    EXPECT_TRUE(inPlace);
}

TEST(DispatchQueue, MainSyncFromATaskTheMainThreadWaitsForDoesNotHang)
{
    const auto queue = DispatchQueue::serial(QStringLiteral("held-by-main"));
    bool reached = false;
    queue.sync([&] { DispatchQueue::main().sync([&] { reached = true; }); });
    EXPECT_TRUE(reached);
}

TEST(DispatchQueue, MainQueueTasksRunInsideANestedModalLoop)
{
    bool innerRan = false;
    bool outerDone = false;
    Dispatch::main([&] {
        QEventLoop modal;
        Dispatch::main([&] {
            innerRan = true;
            modal.quit();
        });
        modal.exec();
        outerDone = true;
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return outerDone; }));
    EXPECT_TRUE(innerRan);
}

TEST(DispatchQueue, AfterRunsByDeadlineNotBySubmission)
{
    const auto queue = DispatchQueue::serial(QStringLiteral("after"));
    std::mutex mutex;
    std::vector<int> order;
    auto record = [&](int v) {
        return [&, v] {
            std::lock_guard lock(mutex);
            order.push_back(v);
        };
    };
    Dispatch::after(60ms, queue, record(3));
    Dispatch::after(20ms, queue, record(2));
    Dispatch::after(0ms, queue, record(1));
    ASSERT_TRUE(testsupport::spinUntil([&] {
        std::lock_guard lock(mutex);
        return order.size() == 3;
    }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}
