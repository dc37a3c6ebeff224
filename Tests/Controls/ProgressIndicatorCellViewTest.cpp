#include "Controls/ProgressIndicatorCellView.h"
#include "ControlsTestSupport.h"
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

TEST(ProgressIndicatorCellView, BeatsTurnOnlyARunningSpinnerInAnExpandedRow)
{
    ProgressIndicatorCellView spinner;
    spinner.setSpinning(true);
    spinner.heartBeat();   // not started
    spinner.startAnimation();
    spinner.heartBeat();   // started, but its row is collapsed
    EXPECT_EQ(spinner.doubleValue(), 0.0);
    spinner.setExpand(true);
    for (int i = 0; i < 12; ++i)
        spinner.heartBeat();
    EXPECT_NEAR(std::fmod(spinner.doubleValue(), 1.0), 0.0, 1e-9);   // a full turn
    EXPECT_NEAR(degrees(spinner.spokes(QRectF(0, 0, 16, 16))[0].line), 270, 1e-3);
    spinner.stopAnimation();
    EXPECT_FALSE(platform::kit::HeartBeat::shared().contains(&spinner));

    // Stopped, the spokes stand still pointing up, or vanish when not shown when stopped.
    spinner.setDoubleValue(0.5);
    spinner.setSpinning(false);
    EXPECT_NEAR(degrees(spinner.spokes(QRectF(0, 0, 16, 16))[0].line), 270, 1e-3);
    spinner.setDisplayedWhenStopped(false);
    EXPECT_TRUE(spinner.spokes(QRectF(0, 0, 16, 16)).empty());
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
