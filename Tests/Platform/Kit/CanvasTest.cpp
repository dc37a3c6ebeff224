#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/ImageSlicing.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace platform::kit;

namespace {

QImage blank(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QImage solid(int w, int h, const QColor& c, qreal dpr = 1.0)
{
    QImage img(QSize(w, h) * dpr, QImage::Format_ARGB32_Premultiplied);
    img.fill(c);
    img.setDevicePixelRatio(dpr);
    return img;
}

} // namespace

TEST(Canvas, YUpRectanglesLandAtTheBottom)
{
    QImage img = blank(100, 100);
    QPainter p(&img);
    Canvas canvas(p, 100);
    canvas.fillRect(QRectF(0, 0, 10, 10), Qt::red);
    canvas.translate(50, 50);
    canvas.fillRect(QRectF(0, 0, 10, 10), Qt::blue);
    p.end();
    EXPECT_EQ(img.pixelColor(5, 95), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(5, 5).alpha(), 0);
    EXPECT_EQ(img.pixelColor(55, 45), QColor(Qt::blue));
}

TEST(Canvas, ImagesAreNeverMirrored)
{
    // Top half red, bottom half green: drawn through the flip it must keep that order.
    QImage picture(10, 10, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter pp(&picture);
        pp.fillRect(0, 0, 10, 5, Qt::red);
        pp.fillRect(0, 5, 10, 5, Qt::green);
    }
    QImage img = blank(40, 40);
    QPainter p(&img);
    Canvas canvas(p, 40);
    canvas.drawImage(QRectF(0, 0, 20, 20), picture);
    p.end();
    EXPECT_EQ(img.pixelColor(10, 22), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(10, 38), QColor(Qt::green));
}

TEST(Canvas, RoundedTopPathRoundsOnlyTheUpperCorners)
{
    QImage img = blank(40, 40);
    QPainter p(&img);
    Canvas canvas(p, 40);
    canvas.fillPath(Canvas::roundedTopPath(QRectF(0, 0, 40, 40), 10), Qt::black);
    p.end();
    EXPECT_EQ(img.pixelColor(0, 0).alpha(), 0);      // top-left corner cut
    EXPECT_EQ(img.pixelColor(39, 0).alpha(), 0);     // top-right corner cut
    EXPECT_EQ(img.pixelColor(0, 39).alpha(), 255);   // bottom corners square
    EXPECT_EQ(img.pixelColor(39, 39).alpha(), 255);
    EXPECT_EQ(img.pixelColor(20, 1).alpha(), 255);
}

TEST(Canvas, ShadowOffsetIsYUpAndBlurDoesNotLoseTheText)
{
    TextAttributes attrs;
    attrs.font.setPixelSize(20);
    attrs.color = Qt::transparent;
    attrs.shadow = TextShadow{Qt::black, QSizeF(0, -10), std::nullopt};
    QImage img = blank(60, 60);
    QPainter p(&img);
    Canvas canvas(p, 60);
    canvas.drawText(QRectF(0, 30, 60, 30), QStringLiteral("█"), attrs);
    p.end();
    // The shadow moved 10 down: nothing drawn in the top rows of the text box.
    int firstRow = -1;
    for (int y = 0; y < 60 && firstRow < 0; ++y)
        for (int x = 0; x < 60; ++x)
            if (img.pixelColor(x, y).alpha() > 0) {
                firstRow = y;
                break;
            }
    EXPECT_GE(firstRow, 10);

    const QImage blurred = boxBlurred(solid(9, 9, Qt::black), 2);
    EXPECT_EQ(blurred.size(), QSize(9, 9));
    EXPECT_GT(blurred.pixelColor(4, 4).alpha(), 200);
}

TEST(ImageSlicing, CuttingHandlesScaleAndEdges)
{
    const QImage sheet = solid(64, 64, Qt::red);
    const QImage twoX = cutImage(sheet, QRectF(10, 20, 5, 6), 2.0);
    EXPECT_EQ(twoX.size(), QSize(10, 12));
    EXPECT_EQ(pointSize(twoX), QSizeF(5, 6));
    EXPECT_EQ(cutImage(sheet, QRectF(60, 60, 10, 10), 1.0).size(), QSize(4, 4));
    EXPECT_TRUE(cutImage(sheet, QRectF(70, 0, 4, 4), 1.0).isNull());
    EXPECT_TRUE(cutImage(sheet, QRectF(0, 0, 0, 4), 1.0).isNull());
    EXPECT_TRUE(cutImage(sheet, QRectF(0, 0, -3, 4), 1.0).isNull());
    EXPECT_TRUE(cutPixels(QImage(), QRect(0, 0, 4, 4)).isNull());
}

TEST(ImageSlicing, ThreeSliceKeepsCapsAndStretchesTheMiddle)
{
    QImage img = blank(50, 10);
    QPainter p(&img);
    Canvas canvas(p, 10);
    drawThreeSlice(canvas, QRectF(0, 0, 50, 10), solid(4, 10, Qt::red), solid(1, 10, Qt::green), solid(6, 10, Qt::blue));
    p.end();
    EXPECT_EQ(img.pixelColor(3, 5), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(4, 5), QColor(Qt::green));
    EXPECT_EQ(img.pixelColor(43, 5), QColor(Qt::green));
    EXPECT_EQ(img.pixelColor(44, 5), QColor(Qt::blue));

    // A 2x cap draws at its point size.
    QImage img2 = blank(50, 10);
    QPainter p2(&img2);
    Canvas c2(p2, 10);
    drawThreeSlice(c2, QRectF(0, 0, 50, 10), solid(4, 10, Qt::red, 2.0), solid(1, 10, Qt::green, 2.0), solid(6, 10, Qt::blue, 2.0));
    p2.end();
    EXPECT_EQ(img2.pixelColor(4, 5), QColor(Qt::green));
}

TEST(ImageSlicing, NinePartPutsCornersAtTheirCornersInYUp)
{
    std::array<QImage, 9> parts;
    const QColor colors[9] = {Qt::red, Qt::gray, Qt::green, Qt::gray, Qt::white, Qt::gray, Qt::blue, Qt::gray, Qt::yellow};
    for (int i = 0; i < 9; ++i)
        parts[size_t(i)] = solid(i % 2 ? 2 : 5, i % 2 ? 5 : 5, colors[i]);
    parts[4] = solid(2, 2, Qt::white);
    parts[1] = parts[7] = solid(2, 5, Qt::gray);
    parts[3] = parts[5] = solid(5, 2, Qt::gray);
    QImage img = blank(30, 30);
    QPainter p(&img);
    Canvas canvas(p, 30);
    drawNinePart(canvas, QRectF(0, 0, 30, 30), parts);
    p.end();
    EXPECT_EQ(img.pixelColor(1, 1), QColor(Qt::red));        // first piece: top-left on screen
    EXPECT_EQ(img.pixelColor(28, 1), QColor(Qt::green));
    EXPECT_EQ(img.pixelColor(1, 28), QColor(Qt::blue));
    EXPECT_EQ(img.pixelColor(28, 28), QColor(Qt::yellow));
    EXPECT_EQ(img.pixelColor(15, 15), QColor(Qt::white));
}
