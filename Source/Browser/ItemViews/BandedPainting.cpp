#include "Browser/ItemViews/BandedPainting.h"

#include <QPaintDevice>
#include <QPainter>
#include <QTransform>
#include <cmath>
#include <optional>

namespace bandedpainting {

namespace {

// The device rows per logical unit, when logical rows at whole units fall on whole device rows.
std::optional<int> wholeRowScale(const QPainter& painter)
{
    const QPaintDevice* device = painter.device();
    if (!device)
        return std::nullopt;
    const qreal dpr = device->devicePixelRatio();
    const QTransform t = painter.deviceTransform();
    if (dpr < 1 || dpr != std::floor(dpr) || t.type() > QTransform::TxScale || t.m11() != dpr || t.m22() != dpr
        || t.dx() != std::floor(t.dx()) || t.dy() != std::floor(t.dy()))
        return std::nullopt;
    return int(dpr);
}

} // namespace

void fillRect(QPainter& painter, const QRectF& rect, const QColor& color)
{
    const std::optional<int> scale = wholeRowScale(painter);
    if (!scale || rect.height() * *scale <= kBandRows) {
        painter.fillRect(rect, color);
        return;
    }
    // Cuts at whole logical rows, which the check above puts on whole device rows.
    const qreal step = qreal(kBandRows / *scale);
    qreal top = rect.top();
    qreal cut = std::floor(top) + step;
    while (top < rect.bottom()) {
        const qreal bottom = std::min(cut, rect.bottom());
        painter.fillRect(QRectF(rect.left(), top, rect.width(), bottom - top), color);
        top = bottom;
        cut += step;
    }
}

void drawImage(QPainter& painter, const QRectF& target, const QImage& image)
{
    if (image.isNull() || target.isEmpty())
        return;
    const std::optional<int> scale = wholeRowScale(painter);
    const QRectF source(QPointF(0, 0), QSizeF(image.size()));
    // Unscaled and on whole device pixels: every source pixel lands on one device pixel. Between
    // pixels the engine samples across the band's edge, which banding would change.
    const auto whole = [&](qreal v) { return v * *scale == std::floor(v * *scale); };
    const bool aligned = scale && target.width() * *scale == image.width() && target.height() * *scale == image.height()
        && whole(target.x()) && whole(target.y());
    if (!aligned || image.height() <= kBandRows) {
        painter.drawImage(target, image, source);
        return;
    }
    for (int y = 0; y < image.height(); y += kBandRows) {
        const int rows = std::min(kBandRows, image.height() - y);
        painter.drawImage(QRectF(target.x(), target.y() + qreal(y) / *scale, target.width(), qreal(rows) / *scale), image,
                          QRectF(0, y, image.width(), rows));
    }
}

} // namespace bandedpainting
