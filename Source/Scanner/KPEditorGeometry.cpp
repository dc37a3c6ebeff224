#include "Scanner/KPEditorGeometry.h"

#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace {

bool isSideways(double angle)
{
    return angle == 90 || angle == 270;
}

QSizeF shownSize(const QSizeF& imageSize, double angle)
{
    return isSideways(angle) ? imageSize.transposed() : imageSize;
}

} // namespace

std::optional<KPEditorGeometry::Fit> KPEditorGeometry::fit(const QSizeF& imageSize, double angle,
                                                           const QSizeF& viewSize)
{
    const QSizeF shown = shownSize(imageSize, angle);
    if (shown.width() <= 0 || shown.height() <= 0)
        return std::nullopt;
    Fit out;
    out.scale = std::max(0.0, std::min({1.0, (viewSize.width() - kMargin) / shown.width(),
                                        (viewSize.height() - kMargin) / shown.height()}));
    const double w = shown.width() * out.scale;
    const double h = shown.height() * out.scale;
    const double x = (viewSize.width() - w) / 2;
    const double y = (viewSize.height() - h) / 2;
    if (angle == 0 || angle == 360)
        out.tx = x, out.ty = y;
    else if (angle == 90)
        out.tx = x + w, out.ty = y;
    else if (angle == 180)
        out.tx = x + w, out.ty = y + h;
    else if (angle == 270)
        out.tx = x, out.ty = y + h;
    else
        return std::nullopt;
    return out;
}

double KPEditorGeometry::displayScale(const QSizeF& imageSize, double angle)
{
    const QSizeF shown = shownSize(imageSize, angle);
    return shown.height() > 0 ? shown.width() / shown.height() : 0;
}

QRectF KPEditorGeometry::displayedImageRect(const QSizeF& imageSize, double angle, const QSizeF& viewSize)
{
    const auto fitted = fit(imageSize, angle, viewSize);
    if (!fitted)
        return {};
    const QSizeF shown = shownSize(imageSize, angle) * fitted->scale;
    return QRectF(QPointF((viewSize.width() - shown.width()) / 2, (viewSize.height() - shown.height()) / 2), shown);
}

QRectF KPEditorGeometry::handleRect(const QRectF& crop, int index)
{
    const double x = crop.x(), y = crop.y(), w = crop.width(), h = crop.height();
    const double half = kHandleSide / 2;
    QPointF origin;
    switch (index) {
    case 0: origin = {x - half, y - half}; break;
    case 1: origin = {x - half, y + (h - kHandleSide) / 2}; break;
    case 2: origin = {x - half, y + h - half}; break;
    case 3: origin = {x + (w - kHandleSide) / 2, y + h - half}; break;
    case 4: origin = {x + w - half, y + h - half}; break;
    case 5: origin = {x + w - half, y + (h - kHandleSide) / 2}; break;
    case 6: origin = {x + w - half, y - half}; break;
    case 7: origin = {x + (w - kHandleSide) / 2, y - half}; break;
    default: origin = {0, 0}; break;
    }
    return QRectF(origin, QSizeF(kHandleSide, kHandleSide));
}

std::optional<int> KPEditorGeometry::handleAt(const QRectF& crop, const QPointF& point)
{
    for (int i = 0; i < kHandleCount; ++i)
        if (handleRect(crop, i).contains(point))
            return i;
    return std::nullopt;
}

QPointF KPEditorGeometry::anchorOf(const QRectF& crop, int index)
{
    const double x = crop.x(), y = crop.y(), r = crop.x() + crop.width(), t = crop.y() + crop.height();
    switch (index) {
    case 0:
    case 1: return {r, t};
    case 2: return {r, y};
    case 3:
    case 4:
    case 5: return {x, y};
    case 6:
    case 7: return {x, t};
    default: return {x, y};
    }
}

QRectF KPEditorGeometry::convertCropRectFromPointIndex(const QRectF& crop, int index)
{
    const QPointF anchor = anchorOf(crop, index);
    const double w = crop.width(), h = crop.height();
    const double sx = (index == 0 || index == 1 || index == 2) ? -w : w;
    const double sy = (index == 0 || index == 6 || index == 7) ? -h : h;
    return QRectF(anchor.x(), anchor.y(), sx, sy);
}

QRectF KPEditorGeometry::dragHandle(int index, const QPointF& anchor, const QPointF& pointer, const QRectF& current,
                                    bool constrain, double displayScale)
{
    const double ax = anchor.x(), ay = anchor.y(), px = pointer.x(), py = pointer.y();
    const double dx = px - ax, dy = py - ay;
    const bool lock = constrain && displayScale > 0;
    QRectF r;
    int drag = 4;
    if (dx >= 0 && dy <= 0) {
        drag = 1;
        r = QRectF(ax, py, dx, std::abs(std::trunc(dy)));
        if (lock) {
            r.setHeight(dx / displayScale);
            r.moveTop(ay - r.height());
        }
    } else if (dx <= 0 && dy <= 0) {
        drag = 2;
        r = QRectF(px, py, std::abs(std::trunc(dx)), std::abs(std::trunc(dy)));
        if (lock) {
            r.setHeight(r.width() / displayScale);
            r.moveLeft(ax - r.width());
            r.moveTop(ay - r.height());
        }
    } else if (dx <= 0 && dy >= 0) {
        drag = 3;
        r = QRectF(px, ay, std::abs(std::trunc(dx)), dy);
        if (lock)
            r.setHeight(r.width() / displayScale);
    } else {
        r = QRectF(ax, ay, dx, dy);
        if (lock)
            r.setHeight(dx / displayScale);
    }
    // A middle handle moves its own edge only.
    if (index == 1 || index == 5) {
        r.setY(current.y());
        r.setHeight(current.height());
        if (index == 1)
            r.setWidth(std::trunc(r.width()));
    } else if (index == 3 || index == 7) {
        r.setX(current.x());
        r.setWidth(current.width());
        if (index == 3 && drag == 3)
            r.setHeight(std::trunc(r.height()));
    }
    return r;
}

QRectF KPEditorGeometry::clampInside(const QRectF& crop, const QRectF& bounds)
{
    QRectF r = crop.normalized();
    r.setWidth(std::min(r.width(), bounds.width()));
    r.setHeight(std::min(r.height(), bounds.height()));
    r.moveLeft(std::clamp(r.x(), bounds.x(), bounds.x() + bounds.width() - r.width()));
    r.moveTop(std::clamp(r.y(), bounds.y(), bounds.y() + bounds.height() - r.height()));
    return r;
}

QImage KPEditorGeometry::cropFromSourceImage(const QImage& image, double angle, const Fit& fit,
                                             const QSizeF& viewSize, const QRectF& crop)
{
    if (image.isNull() || !(fit.scale > 0) || crop.isEmpty())
        return {};
    const double s = fit.scale;
    // The view at the image's resolution, of which only the part under the crop is drawn: a
    // thin page shown small makes that picture far larger than the page itself.
    const QSize canvasSize(std::max(1, qRound(viewSize.width() / s)), std::max(1, qRound(viewSize.height() / s)));
    const QSize turned = isSideways(angle) ? image.size().transposed() : image.size();
    const int w = int(std::min<double>(turned.width(), crop.width() / s));
    const int h = int(std::min<double>(turned.height(), crop.height() / s));
    if (w <= 0 || h <= 0)
        return {};
    const int x = qRound(crop.x() / s);
    const int yUp = qRound(crop.y() / s);
    const QRect area(x, canvasSize.height() - yUp - h, w, h);
    const QRect inside = area.intersected(QRect(QPoint(0, 0), canvasSize));
    if (inside.isEmpty())
        return {};
    QImage out(inside.size(), image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return {};
    out.fill(Qt::white);
    {
        QPainter painter(&out);
        painter.translate(-inside.x(), -inside.y());
        // y up, as the editor's geometry is given.
        painter.translate(0, canvasSize.height());
        painter.scale(1, -1);
        painter.translate(fit.tx / s, fit.ty / s);
        painter.rotate(angle);
        // The image's own rows run downwards; draw it upright in the y-up space.
        painter.translate(0, image.height());
        painter.scale(1, -1);
        painter.drawImage(QPointF(0, 0), image);
    }
    return image.isGrayscale() && !image.hasAlphaChannel() ? out.convertToFormat(QImage::Format_Grayscale8) : out;
}
