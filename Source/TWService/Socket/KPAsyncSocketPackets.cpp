#include "TWService/Socket/KPAsyncSocketPackets.h"

#include <QtGlobal>
#include <algorithm>
#include <cstring>

KPAsyncSocketPreBuffer::KPAsyncSocketPreBuffer(std::size_t capacity) : m_bytes(capacity) {}

void KPAsyncSocketPreBuffer::ensureCapacityForWrite(std::size_t n)
{
    const std::size_t space = availableSpace();
    if (space < n)
        m_bytes.resize(m_bytes.size() + (n - space)); // offsets survive: they are indices
}

void KPAsyncSocketPreBuffer::didRead(std::size_t n)
{
    m_read += n;
    if (m_read >= m_write)
        m_read = m_write = 0;
}

KPAsyncReadPacket::KPAsyncReadPacket(std::shared_ptr<QByteArray> buf, std::uint64_t offset, std::uint64_t max,
                                     double t, std::uint64_t length, QByteArray terminator, long tg)
    : maxLength(max), timeout(t), readLength(length), term(std::move(terminator)), tag(tg)
{
    if (buf) {
        buffer = std::move(buf);
        startOffset = offset;
        bufferOwner = false;
        originalBufferLength = std::uint64_t(buffer->size());
    } else {
        // Lengths that come from a peer must be capped by the caller: this allocates at once.
        buffer = std::make_shared<QByteArray>(qsizetype(readLength), Qt::Uninitialized);
        startOffset = 0;
        bufferOwner = true;
        originalBufferLength = 0;
    }
}

void KPAsyncReadPacket::ensureCapacityForAdditionalDataOfLength(std::uint64_t n)
{
    const std::uint64_t used = startOffset + bytesDone;
    const std::uint64_t have = std::uint64_t(buffer->size());
    if (have < used + n)
        buffer->resize(qsizetype(used + n));
}

std::uint64_t KPAsyncReadPacket::readLengthForNonTermWithHint(std::uint64_t hint) const
{
    Q_ASSERT_X(!isTermRead(), "KPAsyncReadPacket", "This method does not apply to term reads");
    Q_ASSERT_X(hint > 0, "KPAsyncReadPacket", "Invalid parameter: bytesAvailable");
    if (readLength > 0)
        return std::min(readLength - bytesDone, hint);
    if (maxLength > 0)
        return std::min(maxLength - bytesDone, hint);
    return hint;
}

std::uint64_t KPAsyncReadPacket::readLengthForTermWithHint(std::uint64_t hint, bool* shouldPreBuffer) const
{
    Q_ASSERT_X(isTermRead(), "KPAsyncReadPacket", "This method does not apply to non-term reads");
    std::uint64_t result = hint;
    if (maxLength > 0)
        result = std::min(result, maxLength - bytesDone);
    const std::uint64_t room = std::uint64_t(buffer->size()) - std::min<std::uint64_t>(buffer->size(), startOffset + bytesDone);
    // Reading more than the buffer holds straight into it could overrun the terminator into
    // bytes the next read owns; those go through the pre-buffer instead.
    if (shouldPreBuffer)
        *shouldPreBuffer = room < result;
    return result;
}

std::uint64_t KPAsyncReadPacket::readLengthForTermWithPreBuffer(const KPAsyncSocketPreBuffer& pre, bool* found) const
{
    Q_ASSERT_X(pre.availableBytes() > 0, "KPAsyncReadPacket", "Invoked with empty pre buffer!");
    Q_ASSERT_X(isTermRead(), "KPAsyncReadPacket", "This method does not apply to non-term reads");
    *found = false;
    const std::uint64_t p = pre.availableBytes();
    const std::uint64_t t = std::uint64_t(term.size());
    const std::uint64_t d = bytesDone;
    if (d + p < t)
        return p;
    std::uint64_t m = p;
    if (maxLength > 0)
        m = std::min(m, maxLength - d);
    const char* pb = pre.readBuffer();
    const char* tp = term.constData();
    // The terminator may start in the last bytes already stored in the packet.
    const std::uint64_t b = std::min(d, t - 1);
    const char* stored = buffer->constData() + startOffset + d;
    for (std::uint64_t k = b; k >= 1; --k) {
        if (t - k > m)
            continue; // more pre-buffer bytes than this read may take
        if (std::memcmp(stored - k, tp, k) == 0 && std::memcmp(pb, tp + k, t - k) == 0) {
            *found = true;
            return t - k;
        }
    }
    for (std::uint64_t off = 0; off + t <= m; ++off) {
        if (std::memcmp(pb + off, tp, t) == 0) {
            *found = true;
            return off + t;
        }
    }
    return m;
}

std::int64_t KPAsyncReadPacket::searchForTermAfterPreBuffering(std::int64_t n) const
{
    Q_ASSERT_X(isTermRead(), "KPAsyncReadPacket", "This method does not apply to non-term reads");
    const std::int64_t t = term.size();
    const std::int64_t d = std::int64_t(bytesDone);
    const char* base = buffer->constData() + startOffset;
    for (std::int64_t off = std::max<std::int64_t>(0, d - t + 1); off <= d + n - t; ++off) {
        if (std::memcmp(base + off, term.constData(), std::size_t(t)) == 0)
            return d + n - (off + t);
    }
    return -1;
}
