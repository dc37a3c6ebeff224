// Turns the bytes a scanner sends into one image: gray, colour and three-pass colour frames at
// 1, 8 or 16 bits, with the line count known or not (hand scanners send until they stop). The
// image keeps the scan's own depth and channels: gray stays gray, 16 bits stay 16 bits.
//
// Threads: one assembler per scan, used on one thread.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QImage>

namespace platform {

class SaneFrameAssembler {
public:
    enum class Format { Gray, RGB, Red, Green, Blue };
    struct Parameters {
        Format format = Format::Gray;
        bool lastFrame = true;
        int bytesPerLine = 0;
        int pixelsPerLine = 0;
        int lines = -1;         // -1: not known until the scanner stops
        int depth = 8;
    };

    // Tuning: a 1200-dpi A4 colour scan is ~140 Mpx; nothing a page needs comes close to this.
    static constexpr qint64 kMaxPixels = 300'000'000;

    // Starts a frame; an error for a frame that does not fit the ones before it or the caps.
    Result<void> beginFrame(const Parameters& parameters);
    // Bytes of the current frame, in order, in any piece sizes.
    Result<void> append(const char* data, qsizetype size);
    // The finished image, once the last frame has ended; an error when nothing whole arrived.
    Result<QImage> image() const;

private:
    Result<void> checkSize(qint64 lines) const;

    Parameters m_first;
    bool m_started = false;
    bool m_threePass = false;
    // One plane per channel for three-pass scans, else one interleaved buffer.
    QByteArray m_planes[3];
    QByteArray m_data;
    int m_plane = -1;
};

} // namespace platform
