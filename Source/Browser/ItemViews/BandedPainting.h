// Fills and unscaled image draws cut into bands of a few device rows. Qt's raster engine hands
// any fill of more than about a hundred rows to its thread pool and waits for it; for the small
// pieces an item view draws (a shadow's one-point rings, a frame of a couple of hundred rows)
// the wake-ups cost ten times the pixels, and a scrolled grid draws a dozen such pieces per item
// per frame. Cut at whole device rows, each band covers exactly the pixels the whole would have,
// so the result is the same to the bit; where that cannot be assured (a scaled draw, a
// transform other than whole-pixel moves, a fractional device pixel ratio) the call is passed on
// whole.
//
// Threads: whichever thread owns the painter.
#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>

class QPainter;

namespace bandedpainting {

// Device rows per band: below the engine's threshold at every scale.
inline constexpr int kBandRows = 48;

// QPainter::fillRect(rect, color), rect in the painter's (y-down) coordinates.
void fillRect(QPainter& painter, const QRectF& rect, const QColor& color);
// QPainter::drawImage(target, image, image's whole rectangle).
void drawImage(QPainter& painter, const QRectF& target, const QImage& image);

} // namespace bandedpainting
