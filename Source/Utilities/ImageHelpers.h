// Image chores shared by the views and the import: bitmap contexts, image conversions and the
// rounded-rectangle outline every themed control draws.
//
// The program's "image object" and "graphics image" are both QImage here, so the conversions
// mostly copy; they keep their names because callers pair them as before. Rounded rectangles
// are built in the program's y-up geometry (angles counted anticlockwise from the x axis with y
// growing upwards); the y-up canvas of the view layer maps them to the screen. QImage work is
// safe on any thread.
#pragma once

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>

// Bytes per row of a bitmap context width pixels wide: 4 per pixel, rounded up to 16.
qsizetype bitmapBytesPerRow(int width);
// A cleared RGBA premultiplied (alpha last) bitmap of the sizes truncated to whole pixels,
// rows of bitmapBytesPerRow bytes, device pixel ratio 1. Null for an empty size.
QImage createBitmapContext(qreal width, qreal height);

QImage createCGImageFromImage(const QImage& image);
// The file's first image; null when it is no image, or its header gives a size that would take
// more than a full-size preview decoded.
QImage createCGImageFromFile(const QString& path);
// The bundle's image resource of that name (with or without its extension).
QImage createCGImageFromResource(const QString& name);
QImage imageFromResource(const QString& name);
QImage imageFromCGImage(const QImage& image);
// A copy whose every pixel is multiplied by alpha (0-1).
QImage imageWithAlpha(const QImage& image, qreal alpha);

// The rounded outline: radius limited to half the smaller side, quarter arcs around the rectangle
// inset by the radius, from the bottom-left corner anticlockwise, closed.
QPainterPath roundRectBezierPath(const QRectF& rect, qreal radius);
QPainterPath createRoundRectPath(const QRectF& rect, qreal radius);
// The radius the two functions above use.
qreal clampedCornerRadius(const QRectF& rect, qreal radius);
