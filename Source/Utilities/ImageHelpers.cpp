#include "Utilities/ImageHelpers.h"

#include "Platform/Content/ImageDecodeLimit.h"
#include "Platform/Content/ImagePreview.h"
#include "Platform/Foundation/Bundle.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <cstdlib>
#include <cstring>

namespace {

// Extensions tried for a resource named without one, in the order the bundle prefers them.
const char* const kImageResourceTypes[] = {"png", "tiff", "tif", "jpg", "jpeg", "icns", "gif", "bmp", "svg"};

QString imageResourcePath(const QString& name)
{
    if (name.isEmpty())
        return {};
    const platform::Bundle& bundle = platform::Bundle::mainBundle();
    QString path = bundle.pathForResource(name, QString());
    if (!path.isEmpty() && QFileInfo(path).isFile())
        return path;
    for (const char* type : kImageResourceTypes) {
        path = bundle.pathForResource(name, QString::fromLatin1(type));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

// Appends a quarter arc of radius around center in y-up angles (degrees).
void appendArc(QPainterPath& path, const QPointF& center, qreal radius, qreal fromDegrees)
{
    const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    // QPainterPath counts angles with y growing downwards; negating them keeps the y-up sense.
    path.arcTo(box, -fromDegrees, -90.0);
}

QPainterPath roundedOutline(const QRectF& rect, qreal radius)
{
    const qreal r = clampedCornerRadius(rect, radius);
    const QRectF inset = rect.adjusted(r, r, -r, -r);
    QPainterPath path;
    path.moveTo(inset.left() - r, inset.top());
    appendArc(path, QPointF(inset.left(), inset.top()), r, 180.0);
    appendArc(path, QPointF(inset.right(), inset.top()), r, 270.0);
    appendArc(path, QPointF(inset.right(), inset.bottom()), r, 0.0);
    appendArc(path, QPointF(inset.left(), inset.bottom()), r, 90.0);
    path.closeSubpath();
    return path;
}

} // namespace

qsizetype bitmapBytesPerRow(int width)
{
    return ((qsizetype(qMax(0, width)) * 4 + 15) / 16) * 16;
}

QImage createBitmapContext(qreal width, qreal height)
{
    const int w = int(width);
    const int h = int(height);
    if (w <= 0 || h <= 0)
        return {};
    const qsizetype stride = bitmapBytesPerRow(w);
    auto* buffer = static_cast<uchar*>(std::calloc(size_t(stride) * size_t(h), 1));
    if (!buffer)
        return {};
    QImage image(buffer, w, h, stride, QImage::Format_RGBA8888_Premultiplied,
                 [](void* data) { std::free(data); }, buffer);
    image.setDevicePixelRatio(1.0);
    return image;
}

QImage createCGImageFromImage(const QImage& image)
{
    return image;
}

QImage createCGImageFromFile(const QString& path)
{
    if (path.isEmpty())
        return {};
    QImageReader reader(path);
    // Bounded here, as every reader is: the process's decoder limit is set for the largest image
    // any reader takes. A format whose header gives no size (ICNS) is left to that limit.
    if (platform::ImageDecodeLimit::decodedBytes(reader.size(), reader.imageFormat()) > platform::ImagePreview::kMaxFullDecodeBytes)
        return {};
    return reader.read();
}

QImage createCGImageFromResource(const QString& name)
{
    return createCGImageFromFile(imageResourcePath(name));
}

QImage imageFromResource(const QString& name)
{
    return createCGImageFromResource(name);
}

QImage imageFromCGImage(const QImage& image)
{
    QImage copy = image;
    copy.setDevicePixelRatio(1.0);
    return copy;
}

QImage imageWithAlpha(const QImage& image, qreal alpha)
{
    if (image.isNull())
        return {};
    QImage copy = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&copy);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.fillRect(copy.rect(), QColor::fromRgbF(1, 1, 1, float(qBound(0.0, alpha, 1.0))));
    painter.end();
    return copy;
}

qreal clampedCornerRadius(const QRectF& rect, qreal radius)
{
    const qreal halfSide = qMin(rect.width(), rect.height()) / 2.0;
    return qMax<qreal>(0.0, qMin(radius, halfSide));
}

QPainterPath roundRectBezierPath(const QRectF& rect, qreal radius)
{
    return roundedOutline(rect, radius);
}

QPainterPath createRoundRectPath(const QRectF& rect, qreal radius)
{
    return roundedOutline(rect, radius);
}
