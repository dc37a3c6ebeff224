#include "Controls/ProgressIndicatorCellView.h"
#include "Platform/Kit/HeartBeat.h"

#include <QtMath>
#include <gtest/gtest.h>

namespace {

// The direction of a spoke in degrees, 0 pointing right, growing clockwise on screen.
double degrees(const QLineF& line)
{
    double a = qRadiansToDegrees(std::atan2(line.dy(), line.dx()));
    return a < 0 ? a + 360 : a;
}

} // namespace

TEST(ProgressIndicatorCellView, SpokeGeometryBySize)
{
    ProgressIndicatorCellView small;
    EXPECT_EQ(small.size(), QSize(16, 16));
    small.setSpinning(true);
    const auto s = small.spokes(QRectF(0, 0, 16, 16));
    ASSERT_EQ(s.size(), 12u);
    EXPECT_NEAR(QLineF(QPointF(8, 8), s[0].line.p1()).length(), 4.32, 1e-4);
    EXPECT_NEAR(QLineF(QPointF(8, 8), s[0].line.p2()).length(), 7.68, 1e-4);
    EXPECT_NEAR(small.lineWidth(QRectF(0, 0, 16, 16)), 1.28, 1e-5);
    EXPECT_DOUBLE_EQ(s[0].alpha, 1.0);
    EXPECT_NEAR(s[11].alpha, 1 - 0.25 * std::sqrt(11.0), 1e-9);

    const auto large = small.spokes(QRectF(0, 0, 32, 32));
    EXPECT_NEAR(QLineF(QPointF(16, 16), large[0].line.p1()).length(), 7.36, 1e-4);
    EXPECT_NEAR(QLineF(QPointF(16, 16), large[0].line.p2()).length(), 12.16, 1e-4);

    // In a wide rectangle the spinner sits at the left, centred vertically.
    const auto wide = small.spokes(QRectF(0, 0, 100, 16));
    EXPECT_NEAR(wide[0].line.p1().x(), 8, 1e-4);
}

TEST(ProgressIndicatorCellView, PhaseTurnsOneSpokePerBeat)
{
    ProgressIndicatorCellView spinner;
    spinner.setSpinning(true);
    EXPECT_NEAR(degrees(spinner.spokes(QRectF(0, 0, 16, 16))[0].line), 270, 1e-3);

    spinner.setExpand(true);
    spinner.startAnimation();
    spinner.heartBeat();
    EXPECT_NEAR(spinner.doubleValue(), 1.0 / 12, 1e-12);
    EXPECT_NEAR(degrees(spinner.spokes(QRectF(0, 0, 16, 16))[0].line), 300, 1e-3);
    for (int i = 1; i < 12; ++i)
        spinner.heartBeat();
    EXPECT_NEAR(std::fmod(spinner.doubleValue(), 1.0), 0.0, 1e-9);
    spinner.stopAnimation();
}

TEST(ProgressIndicatorCellView, NoBeatWorkWhenCollapsedOrNotStarted)
{
    ProgressIndicatorCellView spinner;
    spinner.setSpinning(true);
    spinner.heartBeat();   // not started
    EXPECT_EQ(spinner.doubleValue(), 0.0);
    spinner.startAnimation();
    spinner.heartBeat();   // started, but its row is collapsed
    EXPECT_EQ(spinner.doubleValue(), 0.0);
    spinner.stopAnimation();
    EXPECT_FALSE(platform::kit::HeartBeat::shared().contains(&spinner));
}

TEST(ProgressIndicatorCellView, ValuesClampAndStoppedSpokesStandStill)
{
    ProgressIndicatorCellView spinner;
    spinner.setDoubleValue(1.5);
    EXPECT_EQ(spinner.doubleValue(), 1.0);
    spinner.setDoubleValue(-0.2);
    EXPECT_EQ(spinner.doubleValue(), 0.0);

    spinner.setDoubleValue(0.5);
    spinner.setSpinning(false);
    EXPECT_NEAR(degrees(spinner.spokes(QRectF(0, 0, 16, 16))[0].line), 270, 1e-3);
    spinner.setDisplayedWhenStopped(false);
    EXPECT_TRUE(spinner.spokes(QRectF(0, 0, 16, 16)).empty());

    spinner.setObjectValue(true);
    EXPECT_TRUE(spinner.isSpinning());
    spinner.setObjectValue(QVariant());
    EXPECT_FALSE(spinner.isSpinning());

    ProgressIndicatorCellView framed(QRect(0, 0, 16, 16));
    EXPECT_FALSE(framed.isDisplayedWhenStopped());
    EXPECT_TRUE(framed.spokes(QRectF(0, 0, 16, 16)).empty());
}

TEST(ProgressIndicatorCellView, HeartBeatDropsDestroyedSpinners)
{
    auto& beat = platform::kit::HeartBeat::shared();
    const int before = beat.count();
    {
        ProgressIndicatorCellView spinner;
        spinner.setExpand(true);
        spinner.startAnimation();
        spinner.startAnimation();
        EXPECT_EQ(beat.count(), before + 1);
        EXPECT_TRUE(beat.isRunning());
    }
    beat.beat();   // must not reach the destroyed spinner
    EXPECT_EQ(beat.count(), before);
}
