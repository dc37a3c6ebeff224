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

TEST(ProgressIndicatorCellView, DrawsFadingSpokesOnlyWhileRunningInAnExpandedRow)
{
    ProgressIndicatorCellView spinner;
    spinner.setSpinning(true);
    // The ink of the spoke that points at the angle (degrees, clockwise from right): the alpha
    // of every pixel whose centre lies in that spoke's twelfth of the ring.
    const auto alphaAt = [&](const QImage& img, double angle) {
        int sum = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                const QLineF ray(QPointF(8, 8), QPointF(x + 0.5, y + 0.5));
                const double off = std::abs(std::remainder(degrees(ray) - angle, 360.0));
                if (ray.length() > 3 && off < 15)
                    sum += img.pixelColor(x, y).alpha();
            }
        }
        return sum;
    };
    const auto blank = [](const QImage& img) {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixelColor(x, y).alpha() != 0)
                    return false;
        return true;
    };
    EXPECT_TRUE(blank(controlstest::render(spinner)));   // not started
    spinner.startAnimation();
    EXPECT_TRUE(blank(controlstest::render(spinner)));   // started, but its row is collapsed
    spinner.setExpand(true);
    QImage img = controlstest::render(spinner);
    // The leading spoke points up and is the darkest; the ones behind it, anticlockwise, fade.
    EXPECT_GT(alphaAt(img, 270), alphaAt(img, 240));
    EXPECT_GT(alphaAt(img, 240), alphaAt(img, 180));
    EXPECT_GT(alphaAt(img, 180), alphaAt(img, 300));
    // A beat moves the leading spoke one place clockwise.
    spinner.heartBeat();
    img = controlstest::render(spinner);
    EXPECT_GT(alphaAt(img, 300), alphaAt(img, 270));
    spinner.stopAnimation();
    EXPECT_TRUE(blank(controlstest::render(spinner)));
}

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
