#include "Platform/Kit/Canvas.h"

#include <QFontMetricsF>
#include <QTextLayout>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace platform::kit {

namespace {

// Passes of the box blur; three passes of a box approximate a Gaussian closely enough.
constexpr int kBlurPasses = 3;

void blurLine(uchar* data, int count, int stride, int radius, std::vector<int>& scratch)
{
    // Running sums over one row or column of ARGB32 premultiplied pixels.
    scratch.assign(size_t(count) * 4, 0);
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < 4; ++c)
            scratch[size_t(i) * 4 + c] = data[size_t(i) * stride + c];
    const int window = radius * 2 + 1;
    int sum[4] = {0, 0, 0, 0};
    for (int i = -radius; i <= radius; ++i) {
        const int k = std::clamp(i, 0, count - 1);
        for (int c = 0; c < 4; ++c)
            sum[c] += scratch[size_t(k) * 4 + c];
    }
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < 4; ++c)
            data[size_t(i) * stride + c] = uchar(sum[c] / window);
        const int out = std::clamp(i - radius, 0, count - 1);
        const int in = std::clamp(i + radius + 1, 0, count - 1);
        for (int c = 0; c < 4; ++c)
            sum[c] += scratch[size_t(in) * 4 + c] - scratch[size_t(out) * 4 + c];
    }
}

} // namespace

QImage boxBlurred(const QImage& source, int radius)
{
    QImage img = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (radius <= 0 || img.isNull())
        return img;
    std::vector<int> scratch;
    for (int pass = 0; pass < kBlurPasses; ++pass) {
        for (int y = 0; y < img.height(); ++y)
            blurLine(img.scanLine(y), img.width(), 4, radius, scratch);
        for (int x = 0; x < img.width(); ++x)
            blurLine(img.bits() + size_t(x) * 4, img.height(), int(img.bytesPerLine()), radius, scratch);
    }
    return img;
}

Canvas::Canvas(QPainter& painter, qreal height)
    : m_painter(painter)
    , m_height(height)
{
}

QRectF Canvas::toQtRect(const QRectF& up) const
{
    return QRectF(up.x(), m_height - up.y() - up.height(), up.width(), up.height());
}

QPainterPath Canvas::toQtPath(const QPainterPath& up) const
{
    return QTransform(1, 0, 0, -1, 0, m_height).map(up);
}

void Canvas::save() { m_painter.save(); }
void Canvas::restore() { m_painter.restore(); }

void Canvas::translate(qreal dx, qreal dy)
{
    m_painter.translate(dx, -dy);
}

void Canvas::setOpacity(qreal opacity) { m_painter.setOpacity(opacity); }

void Canvas::fillRect(const QRectF& up, const QColor& color)
{
    m_painter.fillRect(toQtRect(up), color);
}

void Canvas::strokeRect(const QRectF& up, const QColor& color, qreal width)
{
    m_painter.save();
    m_painter.setPen(QPen(color, width));
    m_painter.setBrush(Qt::NoBrush);
    m_painter.drawRect(toQtRect(up));
    m_painter.restore();
}

void Canvas::fillPath(const QPainterPath& up, const QBrush& brush)
{
    m_painter.fillPath(toQtPath(up), brush);
}

void Canvas::strokePath(const QPainterPath& up, const QPen& pen)
{
    m_painter.strokePath(toQtPath(up), pen);
}

void Canvas::strokeLine(const QPointF& from, const QPointF& to, const QPen& pen)
{
    m_painter.save();
    m_painter.setPen(pen);
    m_painter.drawLine(QPointF(from.x(), m_height - from.y()), QPointF(to.x(), m_height - to.y()));
    m_painter.restore();
}

void Canvas::clipRect(const QRectF& up)
{
    m_painter.setClipRect(toQtRect(up), Qt::IntersectClip);
}

void Canvas::clipPath(const QPainterPath& up)
{
    m_painter.setClipPath(toQtPath(up), Qt::IntersectClip);
}

void Canvas::drawImage(const QRectF& up, const QImage& image, qreal opacity, QPainter::CompositionMode mode)
{
    if (image.isNull() || up.isEmpty())
        return;
    m_painter.save();
    m_painter.setOpacity(m_painter.opacity() * opacity);
    m_painter.setCompositionMode(mode);
    m_painter.drawImage(toQtRect(up), image, QRectF(QPointF(0, 0), QSizeF(image.size())));
    m_painter.restore();
}

void Canvas::drawTiled(const QRectF& up, const QImage& tile, const QSizeF& tileSize)
{
    if (tile.isNull() || tileSize.width() <= 0 || tileSize.height() <= 0 || up.isEmpty())
        return;
    m_painter.save();
    clipRect(up);
    for (qreal y = up.y(); y < up.bottom(); y += tileSize.height())
        for (qreal x = up.x(); x < up.right(); x += tileSize.width())
            drawImage(QRectF(QPointF(x, y), tileSize), tile);
    m_painter.restore();
}

void Canvas::drawText(const QRectF& up, const QString& text, const TextAttributes& attrs)
{
    if (text.isEmpty() || up.width() <= 0)
        return;
    const QRectF box = toQtRect(up);
    int flags = int(attrs.horizontalAlignment()) | Qt::AlignTop;
    QString shown = text;
    if (attrs.wraps())
        flags |= (attrs.lineBreakMode == 1 ? Qt::TextWrapAnywhere : Qt::TextWordWrap);
    else
        shown = fittedText(text, attrs, box.width());

    m_painter.save();
    m_painter.setFont(attrs.font);
    if (attrs.shadow) {
        // A y-up offset: positive heights move the shadow up, i.e. towards smaller Qt y.
        const QPointF offset(attrs.shadow->offset.width(), -attrs.shadow->offset.height());
        const int blur = int(std::ceil(attrs.shadow->blur.value_or(0.0)));
        if (blur <= 0) {
            m_painter.setPen(attrs.shadow->color);
            m_painter.drawText(box.translated(offset), flags, shown);
        } else {
            const qreal dpr = m_painter.device() ? m_painter.device()->devicePixelRatioF() : 1.0;
            const QSize px = (box.size() + QSizeF(blur * 4, blur * 4)).toSize() * dpr;
            QImage layer(px, QImage::Format_ARGB32_Premultiplied);
            layer.setDevicePixelRatio(dpr);
            layer.fill(Qt::transparent);
            {
                QPainter lp(&layer);
                lp.setFont(attrs.font);
                lp.setPen(attrs.shadow->color);
                lp.drawText(QRectF(QPointF(blur * 2, blur * 2), box.size()), flags, shown);
            }
            layer = boxBlurred(layer, int(std::lround(blur * dpr / 2.0)));
            layer.setDevicePixelRatio(dpr);
            m_painter.drawImage(box.topLeft() + offset - QPointF(blur * 2, blur * 2), layer);
        }
    }
    m_painter.setPen(attrs.colorOrDefault());
    m_painter.drawText(box, flags, shown);
    m_painter.restore();
}

QImage Canvas::paintedImage(const QSizeF& size, qreal dpr, const std::function<void(Canvas&)>& draw)
{
    QImage image((size * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Canvas canvas(painter, size.height());
    draw(canvas);
    return image;
}

QPainterPath Canvas::roundRectPath(const QRectF& rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath Canvas::roundedTopPath(const QRectF& rect, qreal radius)
{
    // Built in y-up terms: the bottom edge is straight, the top two corners are arcs. Qt's arc
    // angles assume y-down, so the sweeps are negative here.
    const qreal r = std::min({radius, rect.width() / 2, rect.height()});
    QPainterPath path;
    path.moveTo(rect.left(), rect.top());
    path.lineTo(rect.right(), rect.top());
    path.lineTo(rect.right(), rect.bottom() - r);
    path.arcTo(QRectF(rect.right() - 2 * r, rect.bottom() - 2 * r, 2 * r, 2 * r), 0, -90);
    path.lineTo(rect.left() + r, rect.bottom());
    path.arcTo(QRectF(rect.left(), rect.bottom() - 2 * r, 2 * r, 2 * r), -90, -90);
    path.closeSubpath();
    return path;
}

} // namespace platform::kit
