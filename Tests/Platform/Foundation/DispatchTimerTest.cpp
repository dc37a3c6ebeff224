#include "Platform/Foundation/Dispatch.h"

#include "Support/TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;
using platform::Dispatch;
using platform::DispatchQueue;
using platform::DispatchSemaphore;
using platform::DispatchTimer;

namespace {

// What the handlers touch lives on the heap and is shared with them: a handler already running
// when its timer is cancelled may finish after the test has returned.
struct Counts {
    std::atomic<int> fired{0};
    std::atomic<int> cancelled{0};
    std::atomic<int> firedAfterCancelHandler{0};
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<bool> looked{false};
    std::atomic<bool> onMain{false};
};

} // namespace

TEST(DispatchTimer, RepeatsUntilCancelledThenRunsTheCancelHandlerOnceAndStops)
{
    const auto queue = DispatchQueue::serial(QStringLiteral("timer"));
    const auto c = std::make_shared<Counts>();
    DispatchTimer timer(queue, [c] {
        ++c->fired;
        if (c->cancelled.load() > 0)
            ++c->firedAfterCancelHandler;
    });
    timer.setCancelHandler([c] { ++c->cancelled; });
    timer.start(2ms, 1ms);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c->fired.load() >= 5; }));
    timer.cancel();
    timer.cancel();
    EXPECT_TRUE(timer.isCancelled());
    ASSERT_TRUE(testsupport::spinUntil([&] { return c->cancelled.load() == 1; }));

    // Give a wrongly still-armed timer many chances to fire before looking.
    queue.after(40ms, [c] { c->looked = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return c->looked.load(); }));
    EXPECT_EQ(c->firedAfterCancelHandler.load(), 0);
    EXPECT_EQ(c->cancelled.load(), 1);
    timer.start(1ms); // a cancelled timer stays cancelled
}

TEST(DispatchTimer, FireAtOnceDoesNotWaitForTheFirstInterval)
{
    const auto c = std::make_shared<Counts>();
    DispatchTimer timer(DispatchQueue::main(), [c] {
        c->onMain = Dispatch::isMainThread();
        ++c->fired;
    });
    timer.start(std::chrono::hours(1), {}, true);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c->fired.load() == 1; }));
    EXPECT_TRUE(c->onMain.load());
}

TEST(DispatchTimer, DestroyingAnUnfiredTimerCancelsItAndRunsTheCancelHandler)
{
    const auto c = std::make_shared<Counts>();
    {
        DispatchTimer timer(DispatchQueue::global(), [c] { ++c->fired; });
        timer.setCancelHandler([c] { ++c->cancelled; });
        timer.start(std::chrono::hours(1));
        DispatchTimer moved = std::move(timer); // the moved-from handle owns nothing
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return c->cancelled.load() == 1; }));
    EXPECT_EQ(c->fired.load(), 0);
}

TEST(DispatchTimer, SlowHandlerOnAConcurrentQueueNeverOverlapsItself)
{
    const auto c = std::make_shared<Counts>();
    const auto slow = std::make_shared<DispatchSemaphore>(0);
    DispatchTimer timer(DispatchQueue::global(), [c, slow] {
        if (c->inside.fetch_add(1) != 0)
            ++c->overlaps;
        if (++c->fired == 1)
            slow->wait(); // many deadlines pass while the first handler is held
        c->inside.fetch_sub(1);
    });
    timer.setCancelHandler([c] { ++c->cancelled; });
    timer.start(1ms);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c->fired.load() == 1; }));
    // Cancelling while the handler runs: the cancel handler waits for it.
    timer.cancel();
    DispatchQueue::global().after(20ms, [c] { c->looked = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return c->looked.load(); }));
    EXPECT_EQ(c->cancelled.load(), 0);
    slow->signal();
    ASSERT_TRUE(testsupport::spinUntil([&] { return c->cancelled.load() == 1; }));
    EXPECT_EQ(c->overlaps.load(), 0);
    EXPECT_EQ(c->fired.load(), 1);
}

TEST(DispatchTimer, RestartReplacesTheSchedule)
{
    const auto c = std::make_shared<Counts>();
    DispatchTimer timer(DispatchQueue::global(), [c] { ++c->fired; });
    timer.start(std::chrono::hours(1));
    timer.start(1ms);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c->fired.load() >= 3; }));
}
