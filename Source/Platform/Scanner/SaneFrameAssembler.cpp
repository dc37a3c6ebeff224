#include "Platform/Scanner/SaneFrameAssembler.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

const QString kDomain = QStringLiteral("Scanner");

int channels(SaneFrameAssembler::Format format)
{
    return format == SaneFrameAssembler::Format::RGB ? 3 : 1;
}

quint16 sample16(const char* p)
{
    quint16 v;
    std::memcpy(&v, p, 2); // the scanner's samples are in this machine's byte order
    return v;
}

} // namespace

Result<void> SaneFrameAssembler::checkSize(qint64 lines) const
{
    if (qint64(m_first.pixelsPerLine) * lines > kMaxPixels)
        return fail(kDomain, 20, QStringLiteral("The scan is larger than a page can be"));
    return {};
}

Result<void> SaneFrameAssembler::beginFrame(const Parameters& p)
{
    if (p.pixelsPerLine <= 0 || p.bytesPerLine <= 0 || !(p.depth == 1 || p.depth == 8 || p.depth == 16))
        return fail(kDomain, 21, QStringLiteral("The scanner sent a frame this program cannot read"));
    const qint64 needed = (qint64(p.pixelsPerLine) * channels(p.format) * p.depth + 7) / 8;
    if (p.bytesPerLine < needed)
        return fail(kDomain, 21, QStringLiteral("The scanner sent a frame this program cannot read"));
    const bool pass = p.format == Format::Red || p.format == Format::Green || p.format == Format::Blue;
    if (!m_started) {
        m_first = p;
        m_started = true;
        m_threePass = pass;
    } else if (!m_threePass || !pass || p.pixelsPerLine != m_first.pixelsPerLine || p.bytesPerLine != m_first.bytesPerLine
               || p.depth != m_first.depth) {
        return fail(kDomain, 21, QStringLiteral("The scanner's frames do not fit together"));
    }
    if (p.lines >= 0) {
        if (auto ok = checkSize(p.lines); !ok)
            return ok;
    }
    m_plane = pass ? int(p.format) - int(Format::Red) : -1;
    if (m_plane >= 0)
        m_planes[m_plane].clear();
    return {};
}

Result<void> SaneFrameAssembler::append(const char* data, qsizetype size)
{
    if (!m_started)
        return fail(kDomain, 21, QStringLiteral("Scan data arrived before its frame"));
    QByteArray& target = m_plane >= 0 ? m_planes[m_plane] : m_data;
    if (auto ok = checkSize((target.size() + size) / m_first.bytesPerLine); !ok)
        return ok;
    target.append(data, size);
    return {};
}

Result<QImage> SaneFrameAssembler::image() const
{
    if (!m_started)
        return fail(kDomain, 22, QStringLiteral("The scanner sent no image"));
    const int w = m_first.pixelsPerLine;
    const int bpl = m_first.bytesPerLine;
    const int depth = m_first.depth;
    qsizetype lines;
    if (m_threePass) {
        lines = std::min({m_planes[0].size(), m_planes[1].size(), m_planes[2].size()}) / bpl;
    } else {
        lines = m_data.size() / bpl;
    }
    if (m_first.lines >= 0)
        lines = std::min<qsizetype>(lines, m_first.lines);
    if (lines <= 0)
        return fail(kDomain, 22, QStringLiteral("The scanner sent no image"));
    const int h = int(lines);
    const bool colour = m_threePass || m_first.format == Format::RGB;

    QImage out;
    if (!colour) {
        out = QImage(w, h, depth == 16 ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
        for (int y = 0; y < h; ++y) {
            const char* row = m_data.constData() + qsizetype(y) * bpl;
            if (depth == 16) {
                auto* line = reinterpret_cast<quint16*>(out.scanLine(y));
                for (int x = 0; x < w; ++x)
                    line[x] = sample16(row + 2 * x);
            } else if (depth == 8) {
                std::memcpy(out.scanLine(y), row, size_t(w));
            } else {
                uchar* line = out.scanLine(y);
                // A set bit is black.
                for (int x = 0; x < w; ++x)
                    line[x] = (uchar(row[x / 8]) >> (7 - x % 8)) & 1 ? 0 : 255;
            }
        }
        return out;
    }

    out = QImage(w, h, depth == 16 ? QImage::Format_RGBX64 : QImage::Format_RGB888);
    auto sample = [&](int y, int x, int c) -> quint16 {
        const char* row;
        int index;
        if (m_threePass) {
            row = m_planes[c].constData() + qsizetype(y) * bpl;
            index = x;
        } else {
            row = m_data.constData() + qsizetype(y) * bpl;
            index = x * 3 + c;
        }
        if (depth == 16)
            return sample16(row + 2 * index);
        if (depth == 8)
            return quint16(uchar(row[index]));
        return ((uchar(row[index / 8]) >> (7 - index % 8)) & 1) ? 255 : 0;
    };
    for (int y = 0; y < h; ++y) {
        if (depth == 16) {
            auto* line = reinterpret_cast<QRgba64*>(out.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[x] = QRgba64::fromRgba64(sample(y, x, 0), sample(y, x, 1), sample(y, x, 2), 0xFFFF);
        } else {
            uchar* line = out.scanLine(y);
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    line[x * 3 + c] = uchar(sample(y, x, c));
        }
    }
    return out;
}

} // namespace platform
