#include "Platform/Kit/DelayedCalls.h"
#include "Platform/Kit/HeartBeat.h"
#include "Platform/Kit/Scheduler.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QVariantAnimation>
#include <gtest/gtest.h>

using namespace platform::kit;

namespace {

// Gives wall time and the event loop a chance: virtual work must not move on either.
void spinBriefly()
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
}

} // namespace

TEST(VirtualScheduler, RunsDueWorkInTimeOrderIncludingWorkAddedOnTheWay)
{
    VirtualScheduler clock;
    ASSERT_EQ(&Scheduler::current(), &clock);
    QStringList seen;
    auto log = [&](const char* what) { seen << QStringLiteral("%1@%2").arg(QLatin1String(what)).arg(clock.clockMs()); };

    Token inner;
    Token c = clock.after(30, [&] { log("c"); });
    Token a = clock.after(10, [&] {
        log("a");
        // Falls due inside the same advance, before c: it runs in between, at its own time.
        inner = clock.after(5, [&] { log("a+5"); });
    });
    Token b1 = clock.after(20, [&] { log("b1"); });
    Token b2 = clock.after(20, [&] { log("b2"); });   // same time: scheduling order
    Token late = clock.after(31, [&] { log("late"); });
    Token zero = clock.after(-5, [&] { log("zero"); });

    spinBriefly();
    EXPECT_TRUE(seen.isEmpty());
    clock.advance(30);
    EXPECT_EQ(seen, QStringList({"zero@0", "a@10", "a+5@15", "b1@20", "b2@20", "c@30"}));
    EXPECT_EQ(clock.clockMs(), 30);
    EXPECT_TRUE(late.isActive());
    EXPECT_FALSE(a.isActive());
    clock.advance(1);
    EXPECT_EQ(seen.last(), QStringLiteral("late@31"));
    EXPECT_EQ(clock.now(), QDateTime(QDate(2024, 1, 15), QTime(9, 0), Qt::UTC).addMSecs(31));
}

TEST(VirtualScheduler, CancellingByTokenOwnerOrFromInsideStopsTheWork)
{
    VirtualScheduler clock;
    int once = 0, owned = 0, ticks = 0, selfCancelled = 0;

    Token cancelled = clock.after(10, [&] { ++once; });
    cancelled.cancel();
    { Token dropped = clock.after(10, [&] { ++once; }); }   // the token's owner went away

    auto owner = std::make_unique<QObject>();
    clock.after(owner.get(), 10, [&] { ++owned; });
    clock.after(nullptr, 10, [&] { ++owned; });   // no owner: never scheduled
    owner.reset();

    Token repeat = clock.every(100, [&] { ++ticks; });
    Token self;
    self = clock.every(10, [&] {
        if (++selfCancelled == 3)
            self.cancel();
    });
    // Moving a token over a live one cancels the one it replaces.
    Token replaced = clock.after(5, [&] { once += 100; });
    replaced = clock.after(5, [&] { once += 1000; });

    clock.advance(1000);
    EXPECT_EQ(once, 1000);
    EXPECT_EQ(owned, 0);
    EXPECT_EQ(ticks, 10);            // virtual time catches up every missed interval
    EXPECT_EQ(selfCancelled, 3);
    EXPECT_TRUE(repeat.isActive());
    EXPECT_EQ(clock.pendingCount(), 1);
    repeat.cancel();
    EXPECT_EQ(clock.pendingCount(), 0);
}

TEST(VirtualScheduler, NestedAdvanceExtendsAndTheRealSchedulerComesBack)
{
    Scheduler* real = &Scheduler::current();
    Token survivor;
    {
        VirtualScheduler clock;
        QStringList seen;
        Token first = clock.after(10, [&] {
            seen << QStringLiteral("first");
            clock.advance(50);   // from inside work: extends the running advance
        });
        Token second = clock.after(40, [&] { seen << QStringLiteral("second"); });
        survivor = clock.after(100, [] {});
        clock.advance(20);
        EXPECT_EQ(seen, QStringList({"first", "second"}));
        EXPECT_EQ(clock.clockMs(), 60);
    }
    EXPECT_EQ(&Scheduler::current(), real);
    EXPECT_FALSE(survivor.isActive());   // its scheduler is gone; cancelling it is harmless
    survivor.cancel();
}

TEST(VirtualScheduler, QtAnimationsFollowOnlyVirtualTime)
{
    VirtualScheduler clock;
    QVariantAnimation animation;
    animation.setStartValue(0.0);
    animation.setEndValue(100.0);
    animation.setDuration(200);
    bool finished = false;
    QObject::connect(&animation, &QVariantAnimation::finished, [&] { finished = true; });
    animation.start();

    spinBriefly();
    EXPECT_EQ(animation.currentTime(), 0);
    clock.advance(50);
    EXPECT_EQ(animation.currentTime(), 50);
    EXPECT_DOUBLE_EQ(animation.currentValue().toDouble(), 25.0);
    spinBriefly();
    EXPECT_EQ(animation.currentTime(), 50);
    clock.advance(150);
    EXPECT_TRUE(finished);
    EXPECT_DOUBLE_EQ(animation.currentValue().toDouble(), 100.0);

    // A second animation after the first stopped starts from its own zero, not from wall time.
    QVariantAnimation again;
    again.setStartValue(0.0);
    again.setEndValue(10.0);
    again.setDuration(100);
    again.start();
    spinBriefly();
    clock.advance(30);
    EXPECT_EQ(again.currentTime(), 30);
}

TEST(RealScheduler, RunsOnTheEventLoop)
{
    Scheduler& real = Scheduler::current();
    int ran = 0;
    Token a = real.after(0, [&] { ++ran; });
    Token b = real.after(0, [&] { ran += 10; });
    b.cancel();
    EXPECT_TRUE(a.isActive());
    ASSERT_TRUE(testsupport::spinUntil([&] { return ran != 0; }));
    EXPECT_EQ(ran, 1);
    EXPECT_LE(qAbs(real.now().secsTo(QDateTime::currentDateTimeUtc())), 5);
}

TEST(DelayedCalls, RunOnVirtualTimeAndCancelTogether)
{
    VirtualScheduler clock;
    int ran = 0;
    {
        DelayedCalls calls;
        calls.perform(100, [&] { ++ran; });
        calls.perform(100, [&] { ran += 10; });
        calls.cancelAll();
        calls.perform(100, [&] {
            ran += 100;
            calls.cancelAll();   // from inside one of its own calls
        });
        calls.perform(200, [&] { ran += 1000; });
        EXPECT_EQ(calls.pendingCount(), 2);
        clock.advance(99);
        EXPECT_EQ(ran, 0);
        clock.advance(1);
        EXPECT_EQ(ran, 100);
        EXPECT_EQ(calls.pendingCount(), 0);
        calls.perform(10, [&] { ran += 10000; });
    }
    // Destroyed with a call pending: it never runs.
    clock.advance(1000);
    EXPECT_EQ(ran, 100);
}

TEST(HeartBeat, BeatsTwelveTimesAVirtualSecondForLiveClientsOnly)
{
    VirtualScheduler clock;
    HeartBeat& beat = HeartBeat::shared();
    int a = 0, b = 0;
    auto ownerA = std::make_unique<QObject>();
    QObject ownerB;
    beat.add(ownerA.get(), [&] { ++a; });
    beat.add(ownerA.get(), [&] { a += 100; });   // already registered
    beat.add(&ownerB, [&] { ++b; });
    EXPECT_TRUE(beat.isRunning());
    spinBriefly();
    EXPECT_EQ(a, 0);
    clock.advance(1000);
    EXPECT_EQ(a, HeartBeat::kBeatsPerSecond);
    EXPECT_EQ(b, HeartBeat::kBeatsPerSecond);
    ownerA.reset();
    clock.advance(1000);
    EXPECT_EQ(b, 2 * HeartBeat::kBeatsPerSecond);
    beat.remove(&ownerB);
    EXPECT_FALSE(beat.contains(&ownerB));
    EXPECT_FALSE(beat.isRunning());
    clock.advance(1000);
    EXPECT_EQ(b, 2 * HeartBeat::kBeatsPerSecond);
}
