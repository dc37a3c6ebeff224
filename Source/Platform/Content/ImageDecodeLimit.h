// The one memory limit of the process's image decoders, and each reader's own bound.
//
// Qt's decoders share one allocation limit for the whole process (QImageReader's), so a reader
// that set it for itself changed what every other reader could decode: a small limit for a
// peer's picture made the previews of ordinary photographs fail, a large one for a dropped page
// let every other reader allocate that much. It is set once, at start, high enough for the
// largest image any reader of the program accepts, and stays only as the backstop against a
// header that lies. Each reader bounds itself by the size the header gives before it decodes
// (headerWithin), at its own bound.
//
// Header-only so that the test main can set the same limit as the program without linking the
// content readers. Stateless apart from Qt's limit; callable from any thread.
#pragma once

#include <QImage>
#include <QImageReader>
#include <QSize>
#include <algorithm>
#include <limits>

namespace platform {

class ImageDecodeLimit {
public:
    // Tuning: the largest image the program decodes is a dropped scan page of 80 million pixels
    // at 16 bits a channel (8 bytes a pixel).
    static constexpr qint64 kProcessBytes = 80'000'000LL * 8;

    static constexpr int processMegabytes() { return int((kProcessBytes + (1 << 20) - 1) >> 20); }

    // Sets the process's limit; main calls it once before any image is read, and nothing else
    // sets it.
    static void install() { QImageReader::setAllocationLimit(processMegabytes()); }

    // Bytes an image of size takes decoded into format, with QImage's row padding; never taken
    // as less than 32 bits a pixel, which is what most decoders draw into whatever format they
    // report. Saturates instead of overflowing; -1 for an empty or invalid size.
    static qint64 decodedBytes(const QSize& size, QImage::Format format)
    {
        if (!size.isValid() || size.isEmpty())
            return -1;
        const int bits = format == QImage::Format_Invalid
                             ? 32
                             : std::max(32, int(QImage::toPixelFormat(format).bitsPerPixel()));
        const qint64 bytesPerLine = ((qint64(size.width()) * bits + 31) >> 5) << 2;
        if (bytesPerLine > std::numeric_limits<qint64>::max() / size.height())
            return std::numeric_limits<qint64>::max();
        return bytesPerLine * size.height();
    }

    // Whether the decoder draws straight at a scaled size, so that a scaled read never holds the
    // whole picture: only JPEG's does. Others that take a scaled size (PNG) decode whole first.
    static bool decodesScaled(QImageReader& reader) { return reader.format() == "jpeg"; }

    // Whether the reader's header gives a size whose decoded image stays within maxBytes. A
    // header without a size is not within any bound.
    static bool headerWithin(QImageReader& reader, qint64 maxBytes)
    {
        const qint64 bytes = decodedBytes(reader.size(), reader.imageFormat());
        return bytes > 0 && bytes <= maxBytes;
    }
};

} // namespace platform
