// The shared pool must keep making progress when every worker it has is blocked waiting for a
// task that is still queued behind them.
#include "Platform/Foundation/Dispatch.h"

#include "Support/TestSupport.h"

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

} // namespace

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
