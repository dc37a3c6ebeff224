// The page editor's geometry as pure functions: fitting a turned page into the view, the crop
// rectangle's handles and the arithmetic of dragging them, and cutting the crop out of the
// page. Coordinates are the editor's own, y up with the origin at the bottom left.
//
// Threads: none of these keep state; any thread.
#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <optional>

struct KPEditorGeometry {
    static constexpr double kMargin = 15;
    static constexpr double kHandleSide = 8;
    static constexpr int kHandleCount = 8;

    struct Fit {
        double scale = 1;
        double tx = 0;
        double ty = 0;
    };

    // The image of imageSize pixels turned by angle (0, 90, 180, 270 or 360), shown centred in a
    // view of viewSize, never enlarged, with kMargin of room. Nothing for an empty image or an
    // angle that is not a quarter turn. A view smaller than the margin gives scale 0, never less.
    static std::optional<Fit> fit(const QSizeF& imageSize, double angle, const QSizeF& viewSize);

    // Width / height as shown; 0 when the shown height is 0.
    static double displayScale(const QSizeF& imageSize, double angle);

    // The shown image's rectangle in the view (centred, scaled, turned).
    static QRectF displayedImageRect(const QSizeF& imageSize, double angle, const QSizeF& viewSize);

    // The handle square of index (0 … 7, counter-clockwise from the smallest corner); any other
    // index gives the square at the origin.
    static QRectF handleRect(const QRectF& crop, int index);
    // The handle hit by point (lowest index first), or nothing.
    static std::optional<int> handleAt(const QRectF& crop, const QPointF& point);
    // The fixed corner opposite handle index while it is dragged.
    static QPointF anchorOf(const QRectF& crop, int index);
    // crop with its origin at the anchor of index and its extents signed towards the handle.
    static QRectF convertCropRectFromPointIndex(const QRectF& crop, int index);

    // The crop rectangle while handle index is dragged to pointer, current being the rectangle
    // before this step. With constrain the height follows the width at displayScale (ignored
    // when displayScale is not positive).
    static QRectF dragHandle(int index, const QPointF& anchor, const QPointF& pointer, const QRectF& current,
                             bool constrain, double displayScale);

    // crop kept inside bounds (its size cut to bounds, then moved in).
    static QRectF clampInside(const QRectF& crop, const QRectF& bounds);

    // The part of the turned image under crop, at the image's own resolution. Empty when the
    // scale is not positive or nothing of the image lies under crop.
    static QImage cropFromSourceImage(const QImage& image, double angle, const Fit& fit, const QSizeF& viewSize,
                                      const QRectF& crop);
};
