#include "Browser/ItemViews/ItemViewGeometry.h"

#include <algorithm>
#include <cmath>

namespace itemgeometry {

double rnd(double v)
{
    return std::round(v);
}

QRectF iconFrameRect(const QSizeF& itemImageSize, const QRectF& bounds)
{
    const double w = itemImageSize.width() - 24;
    const double h = itemImageSize.height() - 16;
    return QRectF(8, bounds.y() + bounds.height() - 8 - h, w, h);
}

namespace {

QSizeF fitted(const QSize& original, double boxW, double boxH)
{
    const double w0 = original.width();
    const double h0 = original.height();
    if (w0 <= 0 || h0 <= 0)
        return QSizeF(0, 0);
    const double r = w0 / h0;
    double w = 0;
    double h = 0;
    if (w0 >= h0) {
        w = rnd(boxW);
        h = rnd(w / r);
    } else {
        h = rnd(boxH);
        w = rnd(r * h);
    }
    if (w > w0 && h > h0)
        return QSizeF(w0, h0);
    return QSizeF(w, h);
}

} // namespace

QRectF iconThumbnailRect(const QSize& original, const QRectF& frame)
{
    const QSizeF s = fitted(original, frame.width() - 20, frame.height() - 20);
    return QRectF(rnd((frame.width() - s.width()) / 2 + frame.x()), rnd((frame.height() - s.height()) / 2 + frame.y()),
                  s.width(), s.height());
}

QRectF listThumbnailRect(const QSize& original)
{
    const QSizeF s = fitted(original, 40, 40);
    return QRectF(rnd((40 - s.width()) / 2 + 30), rnd((40 - s.height()) / 2 + 5), s.width(), s.height());
}

ListColumns listColumns(double rowWidth)
{
    const double rest = rowWidth - 388;
    if (rest > 300) {
        const double t = rnd(rest - 120);
        const double tw = rnd(0.6 * t);
        return {tw, t - tw, rest + 10};
    }
    return {100, 80, 310};
}

int ratingByPoint(double x, const QRectF& rateRect)
{
    if (x <= rateRect.x())
        return 0;
    if (x > rateRect.x() + rateRect.width())
        return 5;
    return std::clamp(int(std::ceil((x - rateRect.x()) / 16)), 0, 5);
}

QString fileSizeText(qint64 n)
{
    const double v = double(n);
    if (n >= 1073741824)
        return QString::asprintf("%.1f GB", v / 1073741824.0);
    if (n >= 1048576)
        return QString::asprintf("%.2f MB", v / 1048576.0);
    if (n >= 1024)
        return QString::asprintf("%.1f KB", v / 1024.0);
    if (n == 1)
        return QStringLiteral("1 byte");
    if (n > 0)
        return QString::asprintf("%.0f bytes", v);
    return QString();
}

} // namespace itemgeometry
