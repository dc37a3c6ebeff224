// The arithmetic of the document item view: where the thumbnail frame sits, how a thumbnail
// is fitted into it, the list row's columns, the rating under a point and the size text. Pure
// functions of their arguments, all in the view's y-up coordinates.
#pragma once

#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>

namespace itemgeometry {

// v rounded to the nearest integer, halves away from zero.
double rnd(double v);

// The thumbnail frame of the icon forms for an item image size (W, H) in bounds: x 8, width
// W − 24, height H − 16, its top 8 below the top of the bounds.
QRectF iconFrameRect(const QSizeF& itemImageSize, const QRectF& bounds);

// A thumbnail of original pixel size fitted into frame with a 10-point inset, centred; never
// enlarged past its own size in both directions.
QRectF iconThumbnailRect(const QSize& original, const QRectF& frame);
// The same for the 40 × 40 box of a list row at (30, 5), without inset.
QRectF listThumbnailRect(const QSize& original);

struct ListColumns {
    double titleWidth = 0;
    double tagWidth = 0;
    double x = 0; // where the rating column starts (+12)
};
ListColumns listColumns(double rowWidth);

// 0 at or left of the first star, 5 past the last, else the star under x.
int ratingByPoint(double x, const QRectF& rateRect);

// "%.1f GB", "%.2f MB", "%.1f KB", "%.0f bytes"; empty for 0 (the caller shows "Unknown").
QString fileSizeText(qint64 bytes);

} // namespace itemgeometry
