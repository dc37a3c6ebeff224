#include "Platform/Foundation/Dispatch.h"

#include "Support/TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using platform::Dispatch;
using platform::DispatchGroup;
using platform::DispatchQueue;
using platform::DispatchSemaphore;

TEST(DispatchGroup, NotifyRunsOnceAfterEveryMemberOnTheGivenQueue)
{
    DispatchGroup group;
    std::atomic<int> members{0};
    int seenAtNotify = -1;
    int notifications = 0;
    bool notifiedOnMain = false;
    DispatchSemaphore gate(0);
    for (int i = 0; i < 20; ++i) {
        group.async(DispatchQueue::global(), [&] {
            gate.wait();
            ++members;
        });
    }
    group.notify(DispatchQueue::main(), [&] {
        seenAtNotify = members.load();
        notifiedOnMain = Dispatch::isMainThread();
        ++notifications;
    });
    for (int i = 0; i < 20; ++i)
        gate.signal();
    ASSERT_TRUE(testsupport::spinUntil([&] { return notifications > 0; }));
    EXPECT_EQ(seenAtNotify, 20);
    EXPECT_TRUE(notifiedOnMain);

    // Once empty, a new notify runs straight away and the old one does not repeat.
    group.notify(DispatchQueue::main(), [&] { ++notifications; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return notifications == 2; }));
}

TEST(DispatchGroup, WaitTimesOutWhileAMemberIsOutstanding)
{
    DispatchGroup group;
    group.enter();
    EXPECT_FALSE(group.waitFor(5ms));
    group.leave();
    EXPECT_TRUE(group.waitFor(0ms));
    group.wait();
}

TEST(DispatchGroup, UnmatchedLeaveDoesNotReleaseLaterWaiters)
{
    DispatchGroup group;
    group.leave(); // ignored: the count must not go below zero
    group.enter();
    EXPECT_FALSE(group.waitFor(0ms));
    group.leave();
    EXPECT_TRUE(group.waitFor(0ms));
}

TEST(DispatchSemaphore, CountsSignalsAndTimesOut)
{
    DispatchSemaphore sem(2);
    EXPECT_TRUE(sem.waitFor(0ms));
    EXPECT_TRUE(sem.waitFor(0ms));
    EXPECT_FALSE(sem.waitFor(5ms));
    const DispatchSemaphore copy = sem; // copies share the count
    copy.signal();
    EXPECT_TRUE(sem.waitFor(0ms));
    EXPECT_FALSE(copy.waitFor(0ms));
}
