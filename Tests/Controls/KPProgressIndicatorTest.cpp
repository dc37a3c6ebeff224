#include "Controls/KPProgressIndicator.h"
#include "ControlsTestSupport.h"
#include "Platform/Kit/Scheduler.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPHorizontalSprite.h"

#include <QCoreApplication>
#include <QPointer>
#include <gtest/gtest.h>

using namespace controlstest;

namespace {

// The middle row of the bar, where track, fill and stripes are all opaque.
constexpr int kRow = 7;

// The colour a three-slice of the bar's theme group shows in its stretched middle.
QColor middleColor(const char* name)
{
    auto* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("ImportingProgressBar"));
    auto* slices = group ? group->themeObjectWithName<KPHorizontalSprite>(QLatin1String(name)) : nullptr;
    return slices && slices->centerSprite() ? slices->centerSprite()->image().pixelColor(0, kRow) : QColor();
}

bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 && std::abs(a.blue() - b.blue()) <= 2 &&
           std::abs(a.alpha() - b.alpha()) <= 2;
}

// The first x in [from, to) whose pixel on the middle row is not near colour, or -1.
int firstOther(const QImage& img, int from, int to, const QColor& colour)
{
    for (int x = from; x < to; ++x) {
        if (!near(img.pixelColor(x, kRow), colour))
            return x;
    }
    return -1;
}

} // namespace

TEST(KPProgressIndicator, StillFormFillsUpToTheValueAndShowsTheTrackBeyond)
{
    const QColor fill = middleColor("fillBG");
    const QColor track = middleColor("barBG");
    ASSERT_TRUE(fill.isValid() && track.isValid());
    ASSERT_FALSE(near(fill, track));

    // Width 214 leaves 200 points for the range behind a 7-point cap; each fill ends in a
    // 7-point cap of its own.
    KPProgressIndicator bar(QRect(0, 0, 214, 15));
    bar.setDoAnimation(false);
    bar.setCurrentValue(50);
    QImage img = render(bar);
    EXPECT_EQ(firstOther(img, 7, 107, fill), -1);
    EXPECT_EQ(firstOther(img, 114, 207, track), -1);

    bar.setCurrentValue(100);
    img = render(bar);
    EXPECT_EQ(firstOther(img, 7, 207, fill), -1);

    bar.setCurrentValue(0);
    img = render(bar);
    EXPECT_EQ(firstOther(img, 14, 207, track), -1);
    EXPECT_NE(firstOther(img, 0, 14, track), -1);   // the empty fill's two caps

    // An empty range has no proportion to show: track only, and no division by zero.
    bar.setMaxValue(0);
    img = render(bar);
    EXPECT_EQ(firstOther(img, 7, 207, track), -1);
}

TEST(KPProgressIndicator, ValuesStayInRangeAndUnchangedValuesDoNotRedraw)
{
    KPProgressIndicator bar(QRect(0, 0, 214, 15));
    EXPECT_EQ(bar.currentValue(), 100);
    bar.setCurrentValue(50);
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

TEST(KPProgressIndicator, StepsFollowTheSchedulersTimeOnly)
{
    platform::kit::VirtualScheduler clock;
    KPProgressIndicator bar(QRect(0, 0, 214, 15));
    const int shift = bar.translateX();
    // Wall time passing does nothing; virtual time steps once per 40 ms.
    QCoreApplication::processEvents();
    EXPECT_EQ(bar.translateX(), shift);
    clock.advance(KPProgressIndicator::kStepMs - 1);
    EXPECT_EQ(bar.translateX(), shift);
    clock.advance(1);
    EXPECT_EQ(bar.translateX(), shift + 1);
    clock.advance(3 * KPProgressIndicator::kStepMs);
    EXPECT_EQ(bar.translateX(), shift + 4);
    bar.setDoAnimation(false);
    clock.advance(10 * KPProgressIndicator::kStepMs);
    EXPECT_EQ(bar.translateX(), shift + 4);
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
