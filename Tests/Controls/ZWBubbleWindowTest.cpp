// The bubble's geometry as pure functions (y-up screen space) and the window around it.
#include "Controls/ZWBubbleWindow.h"

#include <gtest/gtest.h>

using namespace zwbubble;

namespace {

const QSizeF kView(100, 40);
const QRectF kScreen(0, 0, 1920, 1080);

} // namespace

TEST(ZWBubbleGeometry, TheAutomaticSideFitsTheScreenByEachEdge)
{
    const Options o;
    EXPECT_EQ(bestSide(kView, {960, 540}, 0, o, kScreen, std::nullopt), 1);
    // Near the bottom: not below.
    EXPECT_EQ(bestSide(kView, {960, 30}, 0, o, kScreen, std::nullopt), 2);
    EXPECT_EQ(bestSide(kView, {1900, 30}, 0, o, kScreen, std::nullopt), 0);
    EXPECT_EQ(bestSide(kView, {75, 30}, 0, o, QRectF(0, 0, 150, 1080), std::nullopt), 3);
    // Near the left and right edges the bubble reaches away from them.
    EXPECT_EQ(bestSide(kView, {20, 540}, 0, o, kScreen, std::nullopt), 11);
    EXPECT_EQ(bestSide(kView, {1900, 540}, 0, o, kScreen, std::nullopt), 10);
    // Against the parent window's frame: a point by its bottom edge reaches upwards.
    EXPECT_EQ(bestSide(kView, {1900, 30}, 0, o, kScreen, QRectF(1500, 20, 400, 600)), 4);
    EXPECT_EQ(bestSide(kView, {960, 30}, 0, o, kScreen, QRectF(500, 20, 900, 600)), 6);
    // Near the top there is room below.
    EXPECT_EQ(bestSide(kView, {960, 1075}, 0, o, kScreen, std::nullopt), 1);
}

TEST(ZWBubbleGeometry, ClampsAndTheWindow)
{
    EXPECT_EQ(clampedBorderWidth(5, 2), 2);
    EXPECT_EQ(clampedViewMargin(-3), 0);
    EXPECT_EQ(clampedCornerRadius(50, 2, kView, 20), (4 + 40 - 20) / 2.0);
    EXPECT_EQ(clampedCornerRadius(-1, 2, kView, 20), 0);
    EXPECT_EQ(clampedArrowBaseWidth(100, 2, kView, 8, true), 4 + 40 - 16);
    EXPECT_EQ(clampedArrowBaseWidth(100, 2, kView, 8, false), 4 + 40 - 8);

    EXPECT_EQ(ZWBubbleWindow::create(nullptr, QPoint(10, 10)), nullptr);

    auto* view = new QWidget;
    view->resize(100, 40);
    auto bubble = ZWBubbleWindow::create(view, QPoint(500, 300), nullptr, 1, 5);
    ASSERT_NE(bubble, nullptr);
    EXPECT_EQ(bubble->windowType(), Qt::Tool);   // not a popup: outside clicks leave it open
    // Qt coordinates: the bubble's top edge 5 below the point, centred under it.
    EXPECT_EQ(bubble->geometry(), QRect(500 - 52, 305, 104, 60));
    EXPECT_EQ(view->geometry(), QRect(2, 18, 100, 40));

    bubble->setBorderWidth(5);
    EXPECT_EQ(bubble->options().borderWidth, 2);
    bubble->setViewMargin(-3);
    EXPECT_EQ(bubble->options().viewMargin, 0);
    EXPECT_EQ(bubble->geometry().size(), QSize(100, 56));
    bubble->setCanBeKeyWindow(false);
    EXPECT_TRUE(bubble->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(bubble->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));

    // A bubble's path holds its arrow's tip on the outer edge.
    const Geometry g = bubble->bubbleGeometry();
    EXPECT_TRUE(bubblePath(g, 1, bubble->options()).boundingRect().height() > g.frame.height() - 1);
}
