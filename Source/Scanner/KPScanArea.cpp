#include "Scanner/KPScanArea.h"

#include <algorithm>
#include <cmath>

QRectF KPScanArea::fittedRect(const QSizeF& imageSize, const QRectF& bounds)
{
    if (imageSize.width() <= 0 || imageSize.height() <= 0 || bounds.width() <= 0 || bounds.height() <= 0)
        return {};
    const double scale = std::min(bounds.width() / imageSize.width(), bounds.height() / imageSize.height());
    const QSizeF shown = imageSize * scale;
    return QRectF(bounds.center() - QPointF(shown.width() / 2, shown.height() / 2), shown);
}

QRectF KPScanArea::selectionFromDrag(const QPointF& from, const QPointF& to, const QRectF& shownRect)
{
    if (shownRect.width() <= 0 || shownRect.height() <= 0)
        return {};
    if (std::abs(to.x() - from.x()) < kMinimumDrag || std::abs(to.y() - from.y()) < kMinimumDrag)
        return {};
    const QRectF dragged = QRectF(from, to).normalized().intersected(shownRect);
    if (dragged.width() <= 0 || dragged.height() <= 0)
        return {};
    return QRectF((dragged.left() - shownRect.left()) / shownRect.width(),
                  (dragged.top() - shownRect.top()) / shownRect.height(), dragged.width() / shownRect.width(),
                  dragged.height() / shownRect.height());
}

QRectF KPScanArea::shownSelection(const QRectF& selection, const QRectF& shownRect)
{
    if (selection.isEmpty())
        return {};
    return QRectF(shownRect.left() + selection.left() * shownRect.width(),
                  shownRect.top() + selection.top() * shownRect.height(), selection.width() * shownRect.width(),
                  selection.height() * shownRect.height());
}

QRectF KPScanArea::deviceArea(const QRectF& selection, const QRectF& bed)
{
    if (selection.isEmpty() || bed.isEmpty())
        return bed;
    const QRectF area(bed.left() + selection.left() * bed.width(), bed.top() + selection.top() * bed.height(),
                      selection.width() * bed.width(), selection.height() * bed.height());
    // Rounding must never ask the scanner for a point past its bed.
    return area.intersected(bed);
}
