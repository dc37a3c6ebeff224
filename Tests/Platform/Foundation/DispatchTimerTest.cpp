#include "Platform/Foundation/Dispatch.h"

#include "Support/TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using platform::Dispatch;
using platform::DispatchQueue;
using platform::DispatchSemaphore;
using platform::DispatchTimer;

TEST(DispatchTimer, RepeatsUntilCancelledThenRunsTheCancelHandlerOnceAndStops)
{
    const auto queue = DispatchQueue::serial(QStringLiteral("timer"));
    std::atomic<int> fired{0};
    std::atomic<int> cancelled{0};
    std::atomic<int> firedAfterCancelHandler{0};
    DispatchTimer timer(queue, [&] {
        ++fired;
        if (cancelled.load() > 0)
            ++firedAfterCancelHandler;
    });
    timer.setCancelHandler([&] { ++cancelled; });
    timer.start(2ms, 1ms);
    ASSERT_TRUE(testsupport::spinUntil([&] { return fired.load() >= 5; }));
    timer.cancel();
    timer.cancel();
    EXPECT_TRUE(timer.isCancelled());
    ASSERT_TRUE(testsupport::spinUntil([&] { return cancelled.load() == 1; }));

    // Give a wrongly still-armed timer many chances to fire before looking.
    std::atomic<bool> looked{false};
    queue.after(40ms, [&] { looked = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return looked.load(); }));
    EXPECT_EQ(firedAfterCancelHandler.load(), 0);
    EXPECT_EQ(cancelled.load(), 1);
    timer.start(1ms); // a cancelled timer stays cancelled
}

TEST(DispatchTimer, FireAtOnceDoesNotWaitForTheFirstInterval)
{
    std::atomic<int> fired{0};
    bool onMain = false;
    DispatchTimer timer(DispatchQueue::main(), [&] {
        onMain = Dispatch::isMainThread();
        ++fired;
    });
    timer.start(std::chrono::hours(1), {}, true);
    ASSERT_TRUE(testsupport::spinUntil([&] { return fired.load() == 1; }));
    EXPECT_TRUE(onMain);
}

TEST(DispatchTimer, DestroyingAnUnfiredTimerCancelsItAndRunsTheCancelHandler)
{
    std::atomic<int> fired{0};
    std::atomic<bool> cancelHandlerRan{false};
    {
        DispatchTimer timer(DispatchQueue::global(), [&] { ++fired; });
        timer.setCancelHandler([&] { cancelHandlerRan = true; });
        timer.start(std::chrono::hours(1));
        DispatchTimer moved = std::move(timer); // the moved-from handle owns nothing
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return cancelHandlerRan.load(); }));
    EXPECT_EQ(fired.load(), 0);
}

TEST(DispatchTimer, SlowHandlerOnAConcurrentQueueNeverOverlapsItself)
{
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> fired{0};
    DispatchSemaphore slow(0);
    DispatchTimer timer(DispatchQueue::global(), [&] {
        if (inside.fetch_add(1) != 0)
            ++overlaps;
        if (++fired == 1)
            slow.wait(); // many deadlines pass while the first handler is held
        inside.fetch_sub(1);
    });
    std::atomic<bool> cancelled{false};
    timer.setCancelHandler([&] { cancelled = true; });
    timer.start(1ms);
    ASSERT_TRUE(testsupport::spinUntil([&] { return fired.load() == 1; }));
    // Cancelling while the handler runs: the cancel handler waits for it.
    timer.cancel();
    std::atomic<bool> looked{false};
    DispatchQueue::global().after(20ms, [&] { looked = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return looked.load(); }));
    EXPECT_FALSE(cancelled.load());
    slow.signal();
    ASSERT_TRUE(testsupport::spinUntil([&] { return cancelled.load(); }));
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(fired.load(), 1);
}

TEST(DispatchTimer, RestartReplacesTheSchedule)
{
    std::atomic<int> fired{0};
    DispatchTimer timer(DispatchQueue::global(), [&] { ++fired; });
    timer.start(std::chrono::hours(1));
    timer.start(1ms);
    ASSERT_TRUE(testsupport::spinUntil([&] { return fired.load() >= 3; }));
}
