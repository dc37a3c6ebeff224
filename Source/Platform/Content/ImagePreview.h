// Small upright pictures of image files without decoding them at full size.
//
// A camera picture is tens of megapixels and a preview needs a quarter of one, so the reader
// is told the target size before it decodes: JPEG decodes straight at a fraction of its size,
// and formats that cannot are decoded whole only when that stays under a pixel budget. The
// orientation recorded in EXIF is applied, so phone pictures stand the right way up.
#pragma once

#include "Platform/Content/ExtractionContext.h"

#include <QImage>
#include <QSize>

class QImageReader;

namespace platform {

class ImagePreview {
public:
    // Tuning: an image that must be decoded at full size (any but a JPEG, which decodes straight
    // at a fraction of its size) may have at most this many pixels (160 MB at 4 bytes each), and
    // take no more than that decoded.
    static constexpr qint64 kMaxFullDecodePixels = 40'000'000;
    static constexpr qint64 kMaxFullDecodeBytes = kMaxFullDecodePixels * 4;

    // The image fitted within box (never enlarged), upright. Fails (Unreadable) for what is no
    // image, (TooLarge) for one over the pixel budget.
    static Result<QImage> fromFile(const QString& path, const QSize& box);
    static Result<QImage> fromData(const QByteArray& data, const QSize& box);
    static Result<QImage> fromReader(QImageReader& reader, const QSize& box);

    // The image scaled down to fit within box, smoothly; as is when it already fits.
    static QImage fitted(const QImage& image, const QSize& box);
    // RGB32 when opaque, ARGB32 when it has transparency: the two forms previews come in.
    // Opaque means every pixel, not the format: many PNGs carry an alpha channel they never use.
    static QImage normalised(const QImage& image);
    // Whether no pixel is even partly transparent (always so without an alpha channel).
    static bool isOpaque(const QImage& image);
};

} // namespace platform
