#include "Scanner/KPEditorGeometry.h"

#include <QPainter>
#include <gtest/gtest.h>

using G = KPEditorGeometry;

TEST(KPEditorGeometryTest, FitsTurnedPagesCentredWithoutEnlargingOrDividingByZero)
{
    auto fit = G::fit(QSizeF(2000, 1000), 0, QSizeF(515, 400));
    ASSERT_TRUE(fit);
    EXPECT_DOUBLE_EQ(fit->scale, 0.25);
    EXPECT_DOUBLE_EQ(fit->tx, 7.5);
    EXPECT_DOUBLE_EQ(fit->ty, 75);
    EXPECT_EQ(G::displayedImageRect(QSizeF(2000, 1000), 0, QSizeF(515, 400)), QRectF(7.5, 75, 500, 250));

    // Each quarter turn moves the origin to the corner the turn brings to the bottom left.
    const QSizeF image(200, 100), view(500, 400);
    fit = G::fit(image, 90, view);
    EXPECT_DOUBLE_EQ(fit->scale, 1);
    EXPECT_DOUBLE_EQ(fit->tx, 200 + 100);
    EXPECT_DOUBLE_EQ(fit->ty, 100);
    fit = G::fit(image, 180, view);
    EXPECT_DOUBLE_EQ(fit->tx, 150 + 200);
    EXPECT_DOUBLE_EQ(fit->ty, 150 + 100);
    fit = G::fit(image, 270, view);
    EXPECT_DOUBLE_EQ(fit->tx, 200);
    EXPECT_DOUBLE_EQ(fit->ty, 100 + 200);
    EXPECT_DOUBLE_EQ(G::fit(image, 360, view)->tx, G::fit(image, 0, view)->tx);
    EXPECT_DOUBLE_EQ(G::displayScale(image, 90), 0.5);

    // Degenerate input never yields a negative scale or a division by zero.
    EXPECT_FALSE(G::fit(QSizeF(0, 100), 0, view));
    EXPECT_FALSE(G::fit(QSizeF(100, 0), 90, view));
    EXPECT_DOUBLE_EQ(G::fit(image, 0, QSizeF(10, 10))->scale, 0);
    EXPECT_DOUBLE_EQ(G::displayScale(QSizeF(100, 0), 0), 0);
    EXPECT_FALSE(G::fit(image, 45, view));
}

TEST(KPEditorGeometryTest, HandlesAnchorsAndHits)
{
    const QRectF crop(100, 50, 200, 100);
    EXPECT_EQ(G::handleRect(crop, 0), QRectF(96, 46, 8, 8));
    EXPECT_EQ(G::handleRect(crop, 1), QRectF(96, 50 + 46, 8, 8));
    EXPECT_EQ(G::handleRect(crop, 3), QRectF(100 + 96, 146, 8, 8));
    EXPECT_EQ(G::handleRect(crop, 4), QRectF(296, 146, 8, 8));
    EXPECT_EQ(G::handleRect(crop, 9), QRectF(0, 0, 8, 8));
    EXPECT_EQ(G::anchorOf(crop, 0), QPointF(300, 150));
    EXPECT_EQ(G::anchorOf(crop, 2), QPointF(300, 50));
    EXPECT_EQ(G::anchorOf(crop, 6), QPointF(100, 150));
    EXPECT_EQ(G::convertCropRectFromPointIndex(crop, 0), QRectF(300, 150, -200, -100));
    EXPECT_EQ(G::convertCropRectFromPointIndex(crop, 4), QRectF(100, 50, 200, 100));
    EXPECT_EQ(G::handleAt(crop, QPointF(299, 51)), 6);
    EXPECT_EQ(G::handleAt(crop, QPointF(200, 100)), std::nullopt);
    // Tiny rectangles: overlapping squares go to the lowest index.
    EXPECT_EQ(G::handleAt(QRectF(0, 0, 2, 2), QPointF(1, 1)), 0);
}

TEST(KPEditorGeometryTest, DraggingCoversTheFourQuadrantsFlipsAndMiddleHandles)
{
    const QRectF current(100, 100, 200, 100);
    const QPointF anchor(100, 100); // handle 4's anchor
    // 4: up and right.
    EXPECT_EQ(G::dragHandle(4, anchor, QPointF(250, 180), current, false, 2), QRectF(100, 100, 150, 80));
    // 1: right and down, height truncated.
    EXPECT_EQ(G::dragHandle(4, anchor, QPointF(250, 59.6), current, false, 2), QRectF(100, 59.6, 150, 40));
    // 2: across the anchor both ways flips with positive extents.
    EXPECT_EQ(G::dragHandle(4, anchor, QPointF(40, 70), current, false, 2), QRectF(40, 70, 60, 30));
    // 3: left and up.
    EXPECT_EQ(G::dragHandle(4, anchor, QPointF(40, 170), current, false, 2), QRectF(40, 100, 60, 70));

    // The aspect lock makes the height follow the width.
    EXPECT_EQ(G::dragHandle(4, anchor, QPointF(300, 400), current, true, 2), QRectF(100, 100, 200, 100));
    EXPECT_EQ(G::dragHandle(4, anchor, QPointF(40, 70), current, true, 2), QRectF(40, 70, 60, 30));
    EXPECT_EQ(G::dragHandle(4, anchor, QPointF(300, 0), current, true, 2), QRectF(100, 0, 200, 100));
    // A lock with no usable aspect leaves the drag free instead of dividing by zero.
    EXPECT_EQ(G::dragHandle(4, anchor, QPointF(250, 180), current, true, 0), QRectF(100, 100, 150, 80));

    // Middle handles move one edge only.
    const QRectF right = G::dragHandle(5, QPointF(100, 100), QPointF(350, 400), current, false, 2);
    EXPECT_EQ(right, QRectF(100, 100, 250, 100));
    const QRectF left = G::dragHandle(1, QPointF(300, 200), QPointF(20.7, 150), current, false, 2);
    EXPECT_EQ(left, QRectF(20.7, 100, 279, 100));
    const QRectF top = G::dragHandle(3, QPointF(100, 100), QPointF(0, 260), current, false, 2);
    EXPECT_EQ(top, QRectF(100, 100, 200, 160));
}

TEST(KPEditorGeometryTest, CropIsKeptInsideAndCutAtTheImagesOwnResolution)
{
    EXPECT_EQ(G::clampInside(QRectF(-50, 10, 100, 500), QRectF(0, 0, 200, 300)), QRectF(0, 0, 100, 300));
    EXPECT_EQ(G::clampInside(QRectF(150, 250, 100, 100), QRectF(0, 0, 200, 300)), QRectF(100, 200, 100, 100));

    // Left half red, right half blue; 2000 × 1000 shown at 0.25 in 515 × 400.
    QImage image(2000, 1000, QImage::Format_RGB32);
    image.fill(Qt::red);
    {
        QPainter p(&image);
        p.fillRect(1000, 0, 1000, 1000, Qt::blue);
    }
    const QSizeF view(515, 400);
    const auto fit = G::fit(image.size(), 0, view);
    const QRectF shown = G::displayedImageRect(image.size(), 0, view);
    const QRectF rightHalf(shown.x() + shown.width() / 2, shown.y(), shown.width() / 2, shown.height());
    QImage cut = G::cropFromSourceImage(image, 0, *fit, view, rightHalf);
    EXPECT_EQ(cut.size(), QSize(1000, 1000));
    EXPECT_EQ(QColor(cut.pixel(500, 500)), QColor(Qt::blue));

    // Turned a quarter counter-clockwise, the right half of the image is on top.
    const auto turnedFit = G::fit(image.size(), 90, view);
    const QRectF turned = G::displayedImageRect(image.size(), 90, view);
    const QRectF topHalf(turned.x(), turned.y() + turned.height() / 2, turned.width(), turned.height() / 2);
    cut = G::cropFromSourceImage(image, 90, *turnedFit, view, topHalf);
    ASSERT_FALSE(cut.isNull());
    EXPECT_EQ(QColor(cut.pixel(cut.width() / 2, cut.height() / 2)), QColor(Qt::blue));

    EXPECT_TRUE(G::cropFromSourceImage(image, 0, G::Fit{0, 0, 0}, view, rightHalf).isNull());
    EXPECT_TRUE(G::cropFromSourceImage(QImage(), 0, *fit, view, rightHalf).isNull());
}

TEST(KPEditorGeometryTest, CroppingAThinPageDrawsOnlyWhatTheCropNeeds)
{
    // A 1 × 20,000 strip, black at the top and white below, shown a few points wide in a view so
    // wide that the view drawn at the page's resolution could not even be made.
    QImage strip(1, 20000, QImage::Format_Grayscale8);
    strip.fill(255);
    for (int y = 0; y < 10000; ++y)
        strip.scanLine(y)[0] = 0;
    const QSizeF view(2'000'000, 615);
    const auto fit = G::fit(strip.size(), 0, view);
    ASSERT_TRUE(fit);
    const QRectF shown = G::displayedImageRect(strip.size(), 0, view);
    // y up: the upper half of what is shown is the top of the page.
    const QRectF upper(shown.x(), shown.y() + shown.height() / 2, shown.width(), shown.height() / 2);
    const QImage cut = G::cropFromSourceImage(strip, 0, *fit, view, upper);
    ASSERT_FALSE(cut.isNull());
    EXPECT_EQ(cut.size(), QSize(1, 10000));
    EXPECT_EQ(cut.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(cut.pixelColor(0, 5000), QColor(Qt::black));
    EXPECT_EQ(cut.pixelColor(0, 100), QColor(Qt::black));
}
