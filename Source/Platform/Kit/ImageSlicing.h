// Cutting sprites from a sheet and drawing sliced images: a three-slice (two caps at their own
// width and a stretched middle), a nine-part frame and tiling. Sheet rectangles are given in 1x
// points from the sheet's top-left; on a 2x sheet they are doubled before cutting and the cut
// image carries the scale as its device pixel ratio, so it reports its 1x point size.
#pragma once

#include "Platform/Kit/Canvas.h"

#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <array>

namespace platform::kit {

// The part of sheet inside rect1x × scale; a null image when the rectangle is empty or lies
// wholly outside the sheet. A rectangle partly outside is cut to the part inside.
QImage cutImage(const QImage& sheet, const QRectF& rect1x, qreal scale);

// Crops pixels exactly (no scaling); a null image for an empty or outside rectangle.
QImage cutPixels(const QImage& sheet, const QRect& pixels);

// The point size of an image: its pixel size divided by its device pixel ratio.
QSizeF pointSize(const QImage& image);

// Caps at their own size at the rectangle's left and right ends (bottom-aligned), the middle
// stretched between them to the rectangle's height.
void drawThreeSlice(Canvas& canvas, const QRectF& up, const QImage& left, const QImage& middle,
                    const QImage& right, qreal opacity = 1.0);

// Nine pieces in reading order (top-left first, centre fifth, bottom-right last), y-up rect:
// corners at their own size, edges stretched along one axis, the centre in both.
void drawNinePart(Canvas& canvas, const QRectF& up, const std::array<QImage, 9>& parts);

} // namespace platform::kit
