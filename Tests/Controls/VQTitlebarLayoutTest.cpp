// The tall bar's arithmetic, in y-up rectangles.
#include "Controls/VQTitlebarLayout.h"

#include <QWidget>
#include <gtest/gtest.h>

using namespace vqtitlebar;

namespace {

const TrafficLights kButtons{QRectF(0, 0, 14, 16), QRectF(0, 0, 14, 16), QRectF(0, 0, 14, 16)};

} // namespace

TEST(VQTitlebarLayout, ButtonsInARowCentredOrUnderTheTopMargin)
{
    const QRectF c = containerFrame(QSizeF(1000, 680), 40);
    EXPECT_EQ(c, QRectF(0, 640, 1000, 40));

    TrafficLightOptions o;
    const TrafficLights t = layoutTrafficLights(c, kButtons, o);
    EXPECT_EQ(t.close, QRectF(8, 652, 14, 16));                      // C.y + 12
    EXPECT_EQ(t.minimize, QRectF(8 + 14 + 6, 652, 14, 16));
    EXPECT_EQ(t.zoom, QRectF(8 + 28 + 12, 652, 14, 16));

    // A half-point centre rounds; the close button's height places all three.
    TrafficLights odd = kButtons;
    odd.close.setHeight(15);
    odd.zoom.setHeight(30);
    const TrafficLights r = layoutTrafficLights(c, odd, o);
    EXPECT_EQ(r.close.y(), std::round(640 + 20 - 7.5));
    EXPECT_EQ(r.zoom.y(), r.close.y());
    EXPECT_EQ(r.zoom.height(), 30);

    o.centered = false;
    o.topMargin = 3;
    const TrafficLights top = layoutTrafficLights(c, kButtons, o);
    EXPECT_EQ(top.close.y(), 680 - 16 - 3);
}

TEST(VQTitlebarLayout, StackedButtonsUseTheSeparationLessTwo)
{
    const QRectF c = containerFrame(QSizeF(400, 300), 80);
    TrafficLightOptions o;
    o.vertical = true;
    o.leftMargin = 10;
    const TrafficLights t = layoutTrafficLights(c, kButtons, o);
    const double total = 3 * 16 + 2 * 4;
    EXPECT_EQ(t.zoom.y(), std::round(220 + 40 - total / 2));
    EXPECT_EQ(t.minimize.y(), t.zoom.y() + 16 + 4);
    EXPECT_EQ(t.close.y(), t.minimize.y() + 16 + 4);
    EXPECT_EQ(t.close.x(), 10);
    EXPECT_EQ(t.zoom.x(), 10);

    o.centered = false;
    const TrafficLights top = layoutTrafficLights(c, kButtons, o);
    EXPECT_EQ(top.close.y() + 16, 300 - 3);   // the stack ends under the top margin
}

TEST(VQTitlebarLayout, FullScreenButtonKeepsItsRightMarginAcrossResizes)
{
    const QRectF button(0, 0, 14, 16);
    for (double width : {1000.0, 1400.0, 1001.0}) {
        const QRectF c = containerFrame(QSizeF(width, 680), 40);
        const QRectF placed = layoutFullScreenButton(c, button, 10, true, 3);
        EXPECT_EQ(c.width() - placed.right(), 10);
        EXPECT_EQ(placed.y(), 652);
        EXPECT_EQ(layoutFullScreenButton(c, button, 10, false, 3).y(), 680 - 16 - 3);
    }
    // An unset margin is taken from where the button stood at the first layout and kept.
    const QRectF first = containerFrame(QSizeF(800, 600), 22);
    const double inherited = currentRightMargin(first, QRectF(800 - 14 - 8, 0, 14, 16));
    EXPECT_EQ(inherited, 8);
    const QRectF wider = containerFrame(QSizeF(1200, 600), 22);
    EXPECT_EQ(wider.width() - layoutFullScreenButton(wider, button, inherited, false, 3).right(), 8);
}

TEST(VQTitlebarLayout, ContentEndsBelowTheBarAndSheetsHangFromIt)
{
    EXPECT_EQ(contentFrame(QRectF(0, 0, 1000, 680), 680, 40), QRectF(0, 0, 1000, 640));
    EXPECT_EQ(contentFrame(QRectF(0, 0, 1000, 10), 30, 40).height(), 0);   // never negative
    EXPECT_EQ(sheetFrame(QRectF(100, 680, 300, 0), 680, 40), QRectF(100, 640, 300, 0));
    EXPECT_EQ(toQt(QRectF(100, 640, 300, 0), 680), QRect(100, 40, 300, 0));
    EXPECT_EQ(toQt(QRectF(8, 652, 14, 16), 680), QRect(8, 12, 14, 16));
}

TEST(VQTitlebarLayout, ManualResizeKeepsTheOppositeEdgesAndTheSizeLimits)
{
    const QRect start(100, 100, 1000, 700);
    const QSize minimum(1000, 680), maximum(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    EXPECT_EQ(resizedGeometry(start, Qt::RightEdge | Qt::BottomEdge, QPoint(50, 30), minimum, maximum),
              QRect(100, 100, 1050, 730));
    // Shrinking below the minimum from the left stops with the right edge where it was.
    EXPECT_EQ(resizedGeometry(start, Qt::LeftEdge | Qt::TopEdge, QPoint(300, 300), minimum, maximum),
              QRect(100, 120, 1000, 680));
    EXPECT_EQ(resizedGeometry(start, Qt::LeftEdge, QPoint(-40, 0), minimum, maximum), QRect(60, 100, 1040, 700));
    EXPECT_EQ(resizedGeometry(start, Qt::TopEdge, QPoint(0, 800), QSize(), maximum), QRect(100, 799, 1000, 1));
}
