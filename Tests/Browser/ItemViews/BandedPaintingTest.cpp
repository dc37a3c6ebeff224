// Banded fills and image draws give the very pixels of one whole call: at every scale, at
// fractional positions, under whole-pixel moves, and where banding must not happen at all.
#include "Browser/ItemViews/BandedPainting.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <functional>

namespace {

QImage canvas(qreal dpr)
{
    QImage image(QSize(300, 300) * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(QColor(200, 210, 220));
    return image;
}

QImage painted(qreal dpr, const QTransform& transform, const std::function<void(QPainter&)>& draw)
{
    QImage image = canvas(dpr);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setTransform(transform);
    draw(painter);
    return image;
}

// A picture with edges and soft alpha everywhere, so any row drawn twice or missed shows.
QImage picture(QSize size, qreal dpr)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixelColor(x, y, QColor::fromRgb((x * 7) % 256, (y * 5) % 256, (x + y) % 256, 40 + (x * y) % 200));
    return image;
}

} // namespace

TEST(BandedPainting, DrawsExactlyWhatOneCallDraws)
{
    const QTransform moves[] = {QTransform(), QTransform::fromTranslate(3, -7), QTransform::fromTranslate(0.5, 0.25),
                                QTransform::fromScale(1.5, 1.5), QTransform().rotate(10)};
    const QPointF origins[] = {QPointF(10, 20), QPointF(10.5, 20.5), QPointF(10.25, 20.75)};
    for (qreal dpr : {1.0, 2.0, 1.5}) {
        const QImage unscaled = picture(QSize(183, 170) * dpr, dpr);
        const QImage small = picture(QSize(40, 30), 1);
        for (const QTransform& move : moves) {
            for (const QPointF& at : origins) {
                SCOPED_TRACE(QStringLiteral("dpr %1 at %2,%3 transform %4").arg(dpr).arg(at.x()).arg(at.y()).arg(move.type()).toStdString());
                // A shadow's thin rings and a large block, in a colour with alpha.
                for (const QRectF& rect : {QRectF(at, QSizeF(1, 190)), QRectF(at, QSizeF(183, 1)), QRectF(at, QSizeF(150, 170.5))}) {
                    const QColor color(20, 30, 40, 90);
                    EXPECT_EQ(painted(dpr, move, [&](QPainter& p) { bandedpainting::fillRect(p, rect, color); }),
                              painted(dpr, move, [&](QPainter& p) { p.fillRect(rect, color); }));
                }
                // Unscaled, scaled up (passed on whole) and small.
                for (const auto& [image, size] : {std::pair{unscaled, QSizeF(183, 170)}, std::pair{unscaled, QSizeF(200, 190)},
                                                  std::pair{small, QSizeF(40, 30)}}) {
                    const QRectF target(at, size);
                    const QRectF whole(QPointF(0, 0), QSizeF(image.size()));
                    EXPECT_EQ(painted(dpr, move, [&](QPainter& p) { bandedpainting::drawImage(p, target, image); }),
                              painted(dpr, move, [&](QPainter& p) { p.drawImage(target, image, whole); }));
                }
            }
        }
    }
}
