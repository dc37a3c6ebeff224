#include "Platform/Content/ImagePreview.h"

#include "Platform/Content/ImageDecodeLimit.h"
#include "Platform/Foundation/RegularFile.h"

#include <QBuffer>
#include <QImageReader>

namespace platform {

QImage ImagePreview::fitted(const QImage& image, const QSize& box)
{
    if (image.isNull() || (image.width() <= box.width() && image.height() <= box.height()))
        return image;
    return image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

bool ImagePreview::isOpaque(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return true;
    // Both 32-bit forms keep alpha in the top byte, premultiplied or not.
    const QImage argb = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_ARGB32_Premultiplied
                            ? image
                            : image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        QRgb all = 0xffffffffu;
        for (int x = 0; x < argb.width(); ++x)
            all &= line[x];
        if (qAlpha(all) != 0xff)
            return false;
    }
    return true;
}

QImage ImagePreview::normalised(const QImage& image)
{
    if (image.isNull())
        return image;
    return image.convertToFormat(isOpaque(image) ? QImage::Format_RGB32 : QImage::Format_ARGB32);
}

Result<QImage> ImagePreview::fromReader(QImageReader& reader, const QSize& box)
{
    reader.setAutoTransform(true);
    const QSize raw = reader.size();
    if (raw.isValid() && !raw.isEmpty()) {
        // The EXIF turn is applied after decoding, so the target is computed upright and
        // handed to the decoder in the stored orientation.
        const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
        const QSize upright = turned ? raw.transposed() : raw;
        const QSize target = (upright.width() > box.width() || upright.height() > box.height())
                                 ? upright.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1))
                                 : upright;
        // Checked here, not left to the process's decoder limit, which is set for the largest
        // image any reader takes.
        if (!ImageDecodeLimit::decodesScaled(reader) && ImageDecodeLimit::decodedBytes(raw, reader.imageFormat()) > kMaxFullDecodeBytes)
            return contentError(ContentError::TooLarge,
                                QStringLiteral("%1×%2 pixels are too many to decode for a preview").arg(raw.width()).arg(raw.height()));
        if (target != upright)
            reader.setScaledSize(turned ? target.transposed() : target);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return contentError(ContentError::Unreadable, QStringLiteral("not a readable image: %1").arg(reader.errorString()));
    return normalised(fitted(image, box));
}

Result<QImage> ImagePreview::fromFile(const QString& path, const QSize& box)
{
    // The pixel budget bounds the decode; the file itself may be any size.
    auto file = RegularFile::open(path, -1);
    if (!file)
        return contentErrorOfOpen(file.error());
    QImageReader reader(file->get());
    return fromReader(reader, box);
}

Result<QImage> ImagePreview::fromData(const QByteArray& data, const QSize& box)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return fromReader(reader, box);
}

} // namespace platform
