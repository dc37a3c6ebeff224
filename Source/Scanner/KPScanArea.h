// The scan area picked on an overview: where the overview is shown in its view, the rectangle
// a drag selects on it (kept as fractions of the overview, so it survives a resize of the
// view), and that rectangle in the scanner's own units for the final scan.
//
// Threads: none of these keep state; any thread.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

struct KPScanArea {
    // A drag shorter than this (in view points) on either side is a click: it selects nothing.
    static constexpr double kMinimumDrag = 4;

    // The overview of imageSize shown whole and centred in bounds, keeping its proportions.
    // Empty for an empty image or bounds.
    static QRectF fittedRect(const QSizeF& imageSize, const QRectF& bounds);

    // The part of the shown overview between two points of a drag, as fractions (0 … 1) of the
    // overview; the points may be given in any order and lie outside it. Empty for a click or
    // a drag wholly beside the overview.
    static QRectF selectionFromDrag(const QPointF& from, const QPointF& to, const QRectF& shownRect);

    // A selection in fractions as it is drawn over the shown overview.
    static QRectF shownSelection(const QRectF& selection, const QRectF& shownRect);

    // The selection in the scanner's units within its bed (bed: the area an overview covers).
    // The whole bed for an empty selection; always inside the bed.
    static QRectF deviceArea(const QRectF& selection, const QRectF& bed);
};
