// The socket's data-path records: the read-ahead buffer, one queued read, one queued write and the
// TLS marker. They live on the socket queue only and have no locking of their own.
#pragma once

#include <QByteArray>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <vector>

// A growable linear buffer with separate read and write positions. Bytes are only written into
// it while it holds nothing unread, so its free space is the room after the write position.
class KPAsyncSocketPreBuffer {
public:
    explicit KPAsyncSocketPreBuffer(std::size_t capacity);

    std::size_t availableBytes() const { return m_write - m_read; }
    const char* readBuffer() const { return m_bytes.data() + m_read; }
    std::size_t availableSpace() const { return m_bytes.size() - availableBytes(); }
    char* writeBuffer() { return m_bytes.data() + m_write; }

    void ensureCapacityForWrite(std::size_t n);
    void didRead(std::size_t n);
    void didWrite(std::size_t n) { m_write += n; }
    void reset() { m_read = m_write = 0; }

private:
    std::vector<char> m_bytes;
    std::size_t m_read = 0;
    std::size_t m_write = 0;
};

// One read request: an exact length, up to a terminator, or whatever is available (bounded by
// maxLength when that is above 0).
struct KPAsyncReadPacket {
    // buffer: the caller's, or null for one the packet makes itself.
    KPAsyncReadPacket(std::shared_ptr<QByteArray> buffer, std::uint64_t startOffset, std::uint64_t maxLength,
                      double timeout, std::uint64_t readLength, QByteArray term, long tag);

    std::shared_ptr<QByteArray> buffer;
    std::uint64_t startOffset = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t maxLength = 0;
    double timeout = -1;
    std::uint64_t readLength = 0;
    QByteArray term; // empty: not a terminator read
    bool bufferOwner = true;
    std::uint64_t originalBufferLength = 0;
    long tag = 0;

    bool isTermRead() const { return !term.isEmpty(); }
    void ensureCapacityForAdditionalDataOfLength(std::uint64_t n);
    std::uint64_t readLengthForNonTermWithHint(std::uint64_t hint) const;
    std::uint64_t readLengthForTermWithHint(std::uint64_t hint, bool* shouldPreBuffer) const;
    std::uint64_t readLengthForTermWithPreBuffer(const KPAsyncSocketPreBuffer& preBuffer, bool* found) const;
    // After n bytes were read straight into the buffer: how many follow the terminator, or -1.
    std::int64_t searchForTermAfterPreBuffering(std::int64_t n) const;
};

struct KPAsyncWritePacket {
    KPAsyncWritePacket(QByteArray data, double timeout, long tag)
        : buffer(std::move(data)), timeout(timeout), tag(tag) {}
    QByteArray buffer;
    std::uint64_t bytesDone = 0;
    double timeout = -1;
    long tag = 0;
};

// The TLS marker: the same object sits in both queues.
struct KPAsyncSpecialPacket {
    explicit KPAsyncSpecialPacket(QVariantMap settings) : tlsSettings(std::move(settings)) {}
    QVariantMap tlsSettings;
};
