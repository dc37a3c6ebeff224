// A y-up drawing surface over a QPainter. The views' drawing algorithms are written with the
// origin at the bottom-left; Canvas takes those numbers literally and converts at this one
// boundary. Shapes are flipped with a transform, while images and text are placed by converting
// their rectangles, so nothing is ever drawn mirrored.
#pragma once

#include "Platform/Kit/TextAttributes.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRectF>
#include <functional>

namespace platform::kit {

class Canvas {
public:
    // height: the height of the y-up space (usually the widget's height).
    Canvas(QPainter& painter, qreal height);

    QPainter& painter() { return m_painter; }
    qreal height() const { return m_height; }
    QRectF toQtRect(const QRectF& up) const;
    QPainterPath toQtPath(const QPainterPath& up) const;

    void save();
    void restore();
    // Moves the y-up origin by (dx, dy).
    void translate(qreal dx, qreal dy);
    void setOpacity(qreal opacity);

    void fillRect(const QRectF& up, const QColor& color);
    void strokeRect(const QRectF& up, const QColor& color, qreal width = 1.0);
    void fillPath(const QPainterPath& up, const QBrush& brush);
    void strokePath(const QPainterPath& up, const QPen& pen);
    void strokeLine(const QPointF& from, const QPointF& to, const QPen& pen);
    void clipRect(const QRectF& up);
    void clipPath(const QPainterPath& up);

    // The whole image scaled into the rectangle.
    void drawImage(const QRectF& up, const QImage& image, qreal opacity = 1.0,
                   QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver);
    // Tiles of tileSize points starting at the rectangle's y-up origin, clipped to it.
    void drawTiled(const QRectF& up, const QImage& tile, const QSizeF& tileSize);

    // One line (or wrapped lines) of text inside the rectangle, shortened by the attributes'
    // line-break mode; the shadow's y-up offset is honoured.
    void drawText(const QRectF& up, const QString& text, const TextAttributes& attrs);

    // Rounded-rectangle paths in y-up space; roundedTopPath rounds only the two upper corners.
    static QPainterPath roundRectPath(const QRectF& rect, qreal radius);
    static QPainterPath roundedTopPath(const QRectF& rect, qreal radius);

    // A transparent image of size points at dpr, drawn by draw on a y-up canvas over it
    // (antialiased, smooth scaling).
    static QImage paintedImage(const QSizeF& size, qreal dpr, const std::function<void(Canvas&)>& draw);

private:
    QPainter& m_painter;
    qreal m_height;
};

// A blurred copy of an image with premultiplied alpha, a box blur of the given radius in pixels
// run three times (close to a Gaussian). Used for text shadows and glows.
QImage boxBlurred(const QImage& image, int radius);

} // namespace platform::kit
