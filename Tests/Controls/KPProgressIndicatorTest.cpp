#include "Controls/KPProgressIndicator.h"
#include "ControlsTestSupport.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QPointer>
#include <gtest/gtest.h>

using namespace controlstest;

TEST(KPProgressIndicator, ValuesStayInRangeAndUnchangedValuesDoNotRedraw)
{
    KPProgressIndicator bar(QRect(0, 0, 214, 15));
    EXPECT_EQ(bar.currentValue(), 100);
    bar.setCurrentValue(50);
    EXPECT_EQ(bar.fillWidth(214), 100);

    const int redraws = bar.redrawRequestCount();
    bar.setCurrentValue(50);
    bar.setMinValue(0);
    bar.setMaxValue(100);
    EXPECT_EQ(bar.redrawRequestCount(), redraws);

    bar.setCurrentValue(100);
    bar.setMaxValue(40);
    EXPECT_EQ(bar.currentValue(), 40);
    bar.setMinValue(60);
    EXPECT_EQ(bar.currentValue(), 60);
    // With the minimum above the maximum, the maximum has the last word.
    bar.setCurrentValue(-5);
    EXPECT_EQ(bar.currentValue(), 40);
}

TEST(KPProgressIndicator, EmptyRangeDrawsNoFill)
{
    KPProgressIndicator bar(QRect(0, 0, 214, 15));
    bar.setDoAnimation(false);
    bar.setMaxValue(0);
    bar.setMinValue(0);
    EXPECT_EQ(bar.fillWidth(214), 0);
    render(bar);   // must not divide by zero
}

TEST(KPProgressIndicator, StripesCycleThroughThirteenShifts)
{
    KPProgressIndicator bar(QRect(0, 0, 214, 15));
    EXPECT_FALSE(bar.fillAnimationRef().isNull());
    EXPECT_EQ(bar.fillAnimationRef().size(), QSize(214 + 12, 15));
    EXPECT_EQ(bar.translateX(), -13);
    QList<int> shifts;
    for (int i = 0; i < 13; ++i) {
        bar.updateMainThrad();
        shifts << bar.translateX();
    }
    EXPECT_EQ(shifts.front(), -12);
    EXPECT_EQ(shifts.back(), -13);
    EXPECT_FALSE(shifts.contains(0));

    // The timer drives the steps on its own while animating.
    const int start = bar.translateX();
    EXPECT_TRUE(testsupport::spinUntil([&] { return bar.translateX() != start; }));
}

TEST(KPProgressIndicator, AnimationStopsWhenSwitchedOffAndForGoodOnRemoval)
{
    QWidget parent;
    QPointer<KPProgressIndicator> bar = new KPProgressIndicator(QRect(0, 0, 100, 15), &parent);
    EXPECT_TRUE(bar->isAnimationRunning());
    bar->setDoAnimation(false);
    EXPECT_FALSE(bar->isAnimationRunning());
    bar->setDoAnimation(true);
    EXPECT_TRUE(bar->isAnimationRunning());
    bar->removeFromSuperview();
    EXPECT_FALSE(bar->isAnimationRunning());
    bar->setDoAnimation(false);
    bar->setDoAnimation(true);
    EXPECT_FALSE(bar->isAnimationRunning());
    EXPECT_EQ(bar->parentWidget(), nullptr);
    // Handed to deleteLater: gone once deferred deletions run.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(bar.isNull());
}
