// The tall bar's arithmetic, in y-up rectangles.
#include "Controls/VQTitlebarLayout.h"

#include <QWidget>
#include <gtest/gtest.h>

using namespace vqtitlebar;

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
