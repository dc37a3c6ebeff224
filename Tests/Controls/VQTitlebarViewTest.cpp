// The title-bar view drawn into images: the missing-theme look, the grain rules and when the
// title shows.
#include "Controls/VQTitlebarView.h"
#include "Controls/VQTitlebarWindow.h"
#include "ControlsTestSupport.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

// A 40-point bar in a window that is shown and either active or not.
struct BarWindow {
    explicit BarWindow(bool active)
    {
        window.setTitleBarHeight(40);
        window.resize(600, 300);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        if (active) {
            window.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        } else {
            other.resize(100, 100);
            other.show();
            other.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&other));
        }
    }
    VQTitlebarView& view() { return *static_cast<VQTitlebarView*>(window.titleBarView()); }

    VQTitlebarWindow window;
    QWidget other;
};

// The largest difference between any pixel of row y (over x in [from, to)) and the first one.
int rowSpread(const QImage& img, int y, int from = 60, int to = 260)
{
    const QColor first = img.pixelColor(from, y);
    int spread = 0;
    for (int x = from; x < to; ++x) {
        const QColor c = img.pixelColor(x, y);
        spread = std::max({spread, std::abs(c.red() - first.red()), std::abs(c.green() - first.green()),
                           std::abs(c.blue() - first.blue())});
    }
    return spread;
}

} // namespace

TEST(VQTitlebarView, WithoutTheThemeGroupTheBarIsBlackWithAGreyBaseline)
{
    BarWindow inactive(false);
    inactive.view().setThemeGroupName(QStringLiteral("NoSuchGroup"));
    QImage img = controlstest::render(inactive.view());
    EXPECT_EQ(img.pixelColor(100, 20), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(100, 1), QColor(Qt::black));
    const int grey = qRound(0.408 * 255);
    EXPECT_EQ(img.pixelColor(100, 39), QColor(grey, grey, grey));
    EXPECT_EQ(img.pixelColor(0, 0).alpha(), 0);   // the rounded top corner
    EXPECT_EQ(rowSpread(img, 20), 0);             // no grain while inactive

    // Active, the missing group still draws the grain: faint, over black.
    BarWindow active(true);
    active.view().setThemeGroupName(QStringLiteral("NoSuchGroup"));
    img = controlstest::render(active.view());
    EXPECT_GT(rowSpread(img, 20), 0);
    EXPECT_LE(rowSpread(img, 20), 6);
    // The grain stops one point inside the baseline.
    EXPECT_EQ(img.pixelColor(100, 39), QColor(grey, grey, grey));

    // A group that lacks the switch draws neither gradient nor grain.
    active.view().setThemeGroupName(QStringLiteral("ImportingProgressBar"));
    img = controlstest::render(active.view());
    EXPECT_EQ(rowSpread(img, 20), 0);
    EXPECT_EQ(img.pixelColor(100, 20), QColor(Qt::black));
}

TEST(VQTitlebarView, TheGrainIsOneTilePixelPerDevicePixelAndOnlyWhileActive)
{
    BarWindow active(true);
    for (qreal scale : {1.0, 2.0}) {
        const QImage img = controlstest::render(active.view(), scale);
        const int y = int(20 * scale);
        int repeats = 0;
        // Clear of the centred icon.
        for (int x = 0; x < 140; ++x)
            repeats += img.pixel(x + 10, y) == img.pixel(x + 10 + VQTitlebarView::kNoiseTileSize, y);
        EXPECT_EQ(repeats, 140) << scale;
        EXPECT_GT(rowSpread(img, y), 0) << scale;
    }
    BarWindow inactive(false);
    EXPECT_EQ(rowSpread(controlstest::render(inactive.view()), 20), 0);
}

TEST(VQTitlebarView, TheTitleIsShownOnlyWhereAsked)
{
    // Drawn when asked; in full screen only with the full-screen switch too.
    BarWindow shown(false);
    shown.window.setWindowTitle(QStringLiteral("Folivo 2"));
    const QImage without = controlstest::render(shown.view());
    shown.window.setShowsTitle(true);
    EXPECT_NE(controlstest::render(shown.view()), without);
    shown.window.showFullScreen();
    QTRY_VERIFY(shown.window.isFullScreen());
    const QImage fullWithTitle = controlstest::render(shown.view());
    shown.window.setShowsTitle(false);
    EXPECT_EQ(controlstest::render(shown.view()), fullWithTitle);
}

TEST(VQTitlebarView, TheCentredIconHidesWholeWhenAsked)
{
    BarWindow bar(false);
    auto drawnIconPixels = [&] {
        QImage img(bar.view().size(), QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        bar.view().render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
        int n = 0;
        for (int y = 2; y < 38; ++y)
            for (int x = img.width() / 2 - 20; x < img.width() / 2 + 20; ++x)
                n += img.pixelColor(x, y) != img.pixelColor(20, y); // the bar's shade changes by row
        return n;
    };
    const QRect icon = bar.view().titleIconRect();
    ASSERT_FALSE(icon.isEmpty());
    EXPECT_EQ(icon.x() + icon.width() / 2, bar.view().width() / 2);
    ASSERT_GT(drawnIconPixels(), 20);
    bar.view().setTitleIconHidden(true);
    EXPECT_EQ(drawnIconPixels(), 0);
    bar.view().setTitleIconHidden(false);
    EXPECT_GT(drawnIconPixels(), 20);
}
