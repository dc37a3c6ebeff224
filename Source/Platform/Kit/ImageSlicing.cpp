#include "Platform/Kit/ImageSlicing.h"

#include <cmath>

namespace platform::kit {

QImage cutPixels(const QImage& sheet, const QRect& pixels)
{
    if (sheet.isNull() || pixels.width() <= 0 || pixels.height() <= 0)
        return {};
    const QRect inside = pixels & sheet.rect();
    if (inside.isEmpty())
        return {};
    QImage out = sheet.copy(inside);
    out.setDevicePixelRatio(1.0);
    return out;
}

QImage cutImage(const QImage& sheet, const QRectF& rect1x, qreal scale)
{
    if (rect1x.width() <= 0 || rect1x.height() <= 0)
        return {};
    const QRect pixels(int(std::lround(rect1x.x() * scale)), int(std::lround(rect1x.y() * scale)),
                       int(std::lround(rect1x.width() * scale)), int(std::lround(rect1x.height() * scale)));
    QImage out = cutPixels(sheet, pixels);
    if (!out.isNull())
        out.setDevicePixelRatio(scale);
    return out;
}

QSizeF pointSize(const QImage& image)
{
    if (image.isNull())
        return {0, 0};
    return QSizeF(image.size()) / image.devicePixelRatio();
}

void drawThreeSlice(Canvas& canvas, const QRectF& up, const QImage& left, const QImage& middle,
                    const QImage& right, qreal opacity)
{
    const QSizeF l = pointSize(left);
    const QSizeF r = pointSize(right);
    const qreal h = up.height();
    canvas.drawImage(QRectF(QPointF(up.x(), up.y()), l), left, opacity);
    canvas.drawImage(QRectF(QPointF(up.right() - r.width(), up.y()), r), right, opacity);
    const qreal midWidth = up.width() - l.width() - r.width();
    if (midWidth > 0)
        canvas.drawImage(QRectF(up.x() + l.width(), up.y(), midWidth, h), middle, opacity);
}

void drawNinePart(Canvas& canvas, const QRectF& up, const std::array<QImage, 9>& parts)
{
    const QSizeF tl = pointSize(parts[0]);
    const QSizeF br = pointSize(parts[8]);
    const qreal left = tl.width();
    const qreal right = br.width();
    const qreal top = tl.height();
    const qreal bottom = br.height();
    const qreal midW = std::max<qreal>(0, up.width() - left - right);
    const qreal midH = std::max<qreal>(0, up.height() - top - bottom);
    // Rows from the top of the y-up rectangle down to its bottom.
    const qreal rowY[3] = {up.bottom() - top, up.y() + bottom, up.y()};
    const qreal rowH[3] = {top, midH, bottom};
    const qreal colX[3] = {up.x(), up.x() + left, up.right() - right};
    const qreal colW[3] = {left, midW, right};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            canvas.drawImage(QRectF(colX[col], rowY[row], colW[col], rowH[row]), parts[size_t(row * 3 + col)]);
}

} // namespace platform::kit
