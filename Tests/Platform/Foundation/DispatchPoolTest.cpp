// The shared pool must keep making progress when every worker it has is blocked waiting for a
// task that is still queued behind them.
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/DispatchPool.h"

#include "Support/TestSupport.h"

#include <QDir>
#include <QMap>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using platform::DispatchGroup;
using platform::DispatchQueue;
using platform::DispatchSemaphore;
using platform::QueuePriority;

namespace {

int moreThanTheCores()
{
    return int(std::max(2u, std::thread::hardware_concurrency())) * 2 + 3;
}

// Context switches so far of each idle pool worker of this process, by thread id; below 0 for a
// worker that is not asleep.
QMap<QString, qint64> idleWorkerSwitches()
{
    QMap<QString, qint64> switches;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString dir = tasks.filePath(tid);
        if (testsupport::readFile(dir + QStringLiteral("/comm")).trimmed() != platform::detail::PoolThreadName)
            continue;
        // A worker not asleep yet (running, or about to wait) counts as not idle.
        const QByteArray stat = testsupport::readFile(dir + QStringLiteral("/stat"));
        const qsizetype state = stat.lastIndexOf(") ") + 2;
        qint64 total = 0;
        for (const QByteArray& line : testsupport::readFile(dir + QStringLiteral("/status")).split('\n'))
            if (line.contains("ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        switches.insert(tid, state < 2 || stat.mid(state, 1) != "S" ? -1 : total);
    }
    return switches;
}

} // namespace

// An idle program's pool must not wake: workers within the core count have no reason to wake
// without work. Watched in a child of its own, whose pool holds only that case's workers.
TEST(DispatchPool, IdleWorkersWithinTheCoreCountDoNotWake)
{
    testsupport::ChildProcess child({QStringLiteral("--gtest_also_run_disabled_tests"),
                                     QStringLiteral("--gtest_filter=DispatchPoolChild.DISABLED_IdleWorkersSleep")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(child.standardOutput() + child.standardError());
    EXPECT_TRUE(child.exitCode() == 0 && output.contains(QStringLiteral("[  PASSED  ] 1 test."))) << output.toStdString();
}

TEST(DispatchPoolChild, DISABLED_IdleWorkersSleep)
{
    // Two tasks running at once: the pool holds at least two workers, no more than the cores.
    DispatchSemaphore started(0);
    DispatchSemaphore release(0);
    DispatchGroup group;
    for (int i = 0; i < 2; ++i) {
        group.async(DispatchQueue::global(), [&] {
            started.signal();
            release.wait();
        });
    }
    ASSERT_TRUE(started.waitFor(30s) && started.waitFor(30s));
    release.signal();
    release.signal();
    ASSERT_TRUE(group.waitFor(30s));
    ASSERT_LE(platform::detail::DispatchPool::shared().workerCount(), int(std::max(2u, std::thread::hardware_concurrency())));

    // Every worker asleep first, so going to sleep is not counted as a wake.
    QMap<QString, qint64> before;
    ASSERT_TRUE(testsupport::spinUntil([&] {
        const auto now = idleWorkerSwitches();
        const bool settled = now.size() >= 2 && now == before
            && std::all_of(now.cbegin(), now.cend(), [](qint64 n) { return n >= 0; });
        before = now;
        return settled;
    }, 30000));
    // Longer than an extra worker waits before it retires: the limit a wait with a time-out
    // would have to reach.
    std::this_thread::sleep_for(platform::detail::IdleRetirement + 2s);
    const auto after = idleWorkerSwitches();
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        EXPECT_EQ(after.value(it.key(), -1), it.value()) << "pool thread " << it.key().toStdString() << " woke while idle";
}

TEST(DispatchPool, GrowsWhenEveryWorkerWaitsOnALaterTask)
{
    const int blocked = moreThanTheCores();
    DispatchSemaphore released(0);
    DispatchGroup group;
    std::atomic<int> finished{0};
    for (int i = 0; i < blocked; ++i) {
        group.async(DispatchQueue::global(QueuePriority(i % 4)), [&] {
            released.wait();
            ++finished;
        });
    }
    // Queued last, at the lowest priority: it only runs if the pool grows past the waiters.
    group.async(DispatchQueue::global(QueuePriority::Background), [&, blocked] {
        for (int i = 0; i < blocked; ++i)
            released.signal();
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return group.waitFor(0ms); }, 60000));
    EXPECT_EQ(finished.load(), blocked);
}

TEST(DispatchPool, ChainOfSerialQueuesWaitingOnEachOtherCompletes)
{
    // Queue i waits for queue i+1 to signal; the last one signals straight away. Submitted in
    // order, so every early worker blocks on a queue that has not started yet.
    const int count = moreThanTheCores();
    std::vector<DispatchQueue> queues;
    std::vector<DispatchSemaphore> done; // one each: copies of a semaphore share its count
    for (int i = 0; i < count; ++i) {
        queues.push_back(DispatchQueue::serial(QStringLiteral("chain.%1").arg(i)));
        done.emplace_back(0);
    }
    done.emplace_back(0);
    done[size_t(count)].signal();
    DispatchGroup group;
    for (int i = 0; i < count; ++i) {
        group.async(queues[size_t(i)], [&, i] {
            done[size_t(i + 1)].wait();
            done[size_t(i)].signal();
        });
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return group.waitFor(0ms); }, 60000));
    EXPECT_TRUE(done[0].waitFor(0ms));
}
