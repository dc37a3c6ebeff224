#include "Platform/Content/JpegScans.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// The device's bytes one block at a time.
class Bytes {
public:
    explicit Bytes(QIODevice& device) : m_device(device) {}

    // The next byte, or -1 at the end.
    int next()
    {
        if (m_at == m_block.size() && !refill())
            return -1;
        return uchar(m_block[m_at++]);
    }
    // Skips n bytes; false when the bytes end first.
    bool skip(qint64 n)
    {
        while (n > 0) {
            if (m_at == m_block.size() && !refill())
                return false;
            const qint64 step = std::min<qint64>(n, m_block.size() - m_at);
            m_at += step;
            n -= step;
        }
        return true;
    }
    // Skips to the next 0xFF byte and takes it; false when the bytes end first.
    bool toNextFF()
    {
        for (;;) {
            if (m_at == m_block.size() && !refill())
                return false;
            const char* start = m_block.constData() + m_at;
            const void* found = std::memchr(start, 0xff, size_t(m_block.size() - m_at));
            if (found) {
                m_at += static_cast<const char*>(found) - start + 1;
                return true;
            }
            m_at = m_block.size();
        }
    }

private:
    bool refill()
    {
        m_block = m_device.read(kBlock);
        m_at = 0;
        return !m_block.isEmpty();
    }

    static constexpr qint64 kBlock = 64 * 1024;
    QIODevice& m_device;
    QByteArray m_block;
    qsizetype m_at = 0;
};

constexpr int kSOI = 0xd8;
constexpr int kEOI = 0xd9;
constexpr int kSOS = 0xda;
constexpr int kTEM = 0x01;

bool isRestart(int marker) { return marker >= 0xd0 && marker <= 0xd7; }

// The code of the marker whose 0xFF was just taken (fill bytes skipped); -1 at the end.
int markerCode(Bytes& bytes)
{
    int code = bytes.next();
    while (code == 0xff)
        code = bytes.next();
    return code;
}

// Skips a scan's entropy-coded data up to the marker that ends it: a 0xFF followed by anything
// but a stuffed zero or a restart marker. Answers that marker's code; -1 at the end.
int skipEntropyData(Bytes& bytes)
{
    for (;;) {
        if (!bytes.toNextFF())
            return -1;
        const int code = markerCode(bytes);
        if (code == 0 || isRestart(code))
            continue;
        return code;
    }
}

} // namespace

int JpegScans::count(QIODevice& device, int stopAbove)
{
    Bytes bytes(device);
    if (bytes.next() != 0xff || bytes.next() != kSOI)
        return -1;
    int scans = 0;
    int code = -1; // a marker already read (after a scan's data), else -1
    for (;;) {
        if (code < 0) {
            // Between segments decoders skip stray bytes up to the next marker.
            if (!bytes.toNextFF())
                return scans;
            code = markerCode(bytes);
            if (code < 0)
                return scans;
        }
        const int marker = code;
        code = -1;
        if (marker == kEOI)
            return scans;
        if (marker == 0 || marker == kSOI || marker == kTEM || isRestart(marker))
            continue; // no length follows
        if (marker == kSOS && ++scans > stopAbove)
            return scans;
        const int high = bytes.next();
        const int low = bytes.next();
        if (low < 0)
            return scans;
        const int length = (high << 8) | low;
        if (length < 2 || !bytes.skip(length - 2))
            return scans;
        if (marker == kSOS)
            code = skipEntropyData(bytes);
    }
}

} // namespace platform
