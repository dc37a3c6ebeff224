#include "Utilities/ZipCentralDirectory.h"

#include <QStringDecoder>
#include <QtEndian>
#include <optional>
#include <zlib.h>

namespace {

constexpr quint32 kEndSignature = 0x06054b50;
constexpr qint64 kEndSize = 22;
constexpr quint32 kZip64LocatorSignature = 0x07064b50;
constexpr qint64 kZip64LocatorSize = 20;
constexpr quint32 kZip64EndSignature = 0x06064b50;
constexpr qint64 kZip64EndSize = 56;
constexpr quint32 kCentralSignature = 0x02014b50;
constexpr qsizetype kCentralSize = 46;
constexpr quint32 kDigitalSignature = 0x05054b50;
constexpr quint32 kLocalSignature = 0x04034b50;
constexpr qint64 kLocalSize = 30;
constexpr quint16 kZip64ExtraId = 0x0001;
constexpr quint16 kUnicodePathExtraId = 0x7075;
constexpr quint32 kMarker32 = 0xffffffffu;
// A central directory this large is not one a peer or a user would send.
constexpr quint64 kMaxCentralDirectory = 1ull << 30;

std::unexpected<platform::Error> damaged(const QString& what)
{
    return platform::fail(QStringLiteral("Zip"), 1, what);
}

// Little-endian fields over bytes whose length the caller checked with has().
class Cursor {
public:
    explicit Cursor(QByteArrayView bytes) : m_bytes(bytes) {}
    bool has(qint64 n) const { return n >= 0 && m_bytes.size() - m_pos >= n; }
    bool atEnd() const { return m_pos >= m_bytes.size(); }
    quint8 u8() { return static_cast<quint8>(m_bytes[m_pos++]); }
    quint16 u16() { return next<quint16>(); }
    quint32 u32() { return next<quint32>(); }
    quint64 u64() { return next<quint64>(); }
    QByteArrayView take(qsizetype n)
    {
        const QByteArrayView part = m_bytes.sliced(m_pos, n);
        m_pos += n;
        return part;
    }

private:
    template <class T>
    T next()
    {
        const T value = qFromLittleEndian<T>(m_bytes.data() + m_pos);
        m_pos += static_cast<qsizetype>(sizeof(T));
        return value;
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
};

platform::Result<QByteArray> readAt(QIODevice& device, quint64 offset, qint64 size)
{
    if (offset > static_cast<quint64>(device.size()) || size > device.size() - static_cast<qint64>(offset))
        return damaged(QStringLiteral("The archive is truncated"));
    if (!device.seek(static_cast<qint64>(offset)))
        return damaged(QStringLiteral("The archive cannot be read"));
    QByteArray bytes = device.read(size);
    if (bytes.size() != size)
        return damaged(QStringLiteral("The archive cannot be read"));
    return bytes;
}

std::optional<QByteArrayView> findExtra(QByteArrayView extra, quint16 id)
{
    // Some writers pad the extra field with a few zero bytes: a block that does not fit ends
    // the walk rather than failing it.
    Cursor cursor(extra);
    while (cursor.has(4)) {
        const quint16 blockId = cursor.u16();
        const quint16 size = cursor.u16();
        if (!cursor.has(size))
            break;
        const QByteArrayView block = cursor.take(size);
        if (blockId == id)
            return block;
    }
    return std::nullopt;
}

std::optional<QString> strictUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString fromCodePage437(QByteArrayView bytes)
{
    static constexpr char16_t kHigh[128] = {
        0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
        0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
        0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
        0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
        0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
        0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
        0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
        0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
        0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
        0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
        0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
    };
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<quint8>(c);
        text.append(byte < 0x80 ? QChar(byte) : QChar(kHigh[byte - 0x80]));
    }
    return text;
}

struct EndRecord {
    quint64 entryCount = 0;
    quint64 centralSize = 0;
    quint64 centralOffset = 0;
    // Where the record that follows the central directory starts.
    quint64 position = 0;
    bool zip64 = false;
};

// The end record nearest the end of the file whose comment ends the file; failing that, the
// last one whose comment fits (some tools leave bytes after the archive).
platform::Result<EndRecord> findEndRecord(QIODevice& archive)
{
    const qint64 fileSize = archive.size();
    if (fileSize < kEndSize)
        return damaged(QStringLiteral("Not a zip archive"));
    const qint64 tailSize = std::min<qint64>(fileSize, kEndSize + 0xffff);
    const qint64 tailStart = fileSize - tailSize;
    const auto tail = readAt(archive, static_cast<quint64>(tailStart), tailSize);
    if (!tail)
        return std::unexpected(tail.error());

    qsizetype found = -1;
    qsizetype fallback = -1;
    for (qsizetype p = tail->size() - kEndSize; p >= 0; --p) {
        if (qFromLittleEndian<quint32>(tail->constData() + p) != kEndSignature)
            continue;
        const qsizetype end = p + kEndSize + qFromLittleEndian<quint16>(tail->constData() + p + 20);
        if (end == tail->size()) {
            found = p;
            break;
        }
        if (fallback < 0 && end <= tail->size())
            fallback = p;
    }
    if (found < 0)
        found = fallback;
    if (found < 0)
        return damaged(QStringLiteral("Not a zip archive"));

    Cursor end(QByteArrayView(*tail).sliced(found + 4));
    const quint16 disk = end.u16();
    const quint16 centralDisk = end.u16();
    const quint16 entriesHere = end.u16();
    EndRecord record;
    record.entryCount = end.u16();
    record.centralSize = end.u32();
    record.centralOffset = end.u32();
    record.position = static_cast<quint64>(tailStart + found);

    const qint64 endPosition = tailStart + found;
    if (endPosition >= kZip64LocatorSize) {
        const auto locatorAt = static_cast<quint64>(endPosition - kZip64LocatorSize);
        const auto locator = readAt(archive, locatorAt, kZip64LocatorSize);
        if (!locator)
            return std::unexpected(locator.error());
        Cursor loc(*locator);
        if (loc.u32() == kZip64LocatorSignature) {
            loc.u32(); // disk of the 64-bit end record
            const quint64 declared = loc.u64();
            if (loc.u32() > 1)
                return damaged(QStringLiteral("Archives split over several parts are not supported"));
            // The declared position is off by the size of anything in front of the archive;
            // the record normally sits right before its locator.
            const quint64 expected = locatorAt >= quint64(kZip64EndSize) ? locatorAt - kZip64EndSize : 0;
            std::optional<QByteArray> zip64End;
            quint64 zip64Position = 0;
            for (const quint64 candidate : {declared, expected}) {
                const auto bytes = readAt(archive, candidate, kZip64EndSize);
                if (bytes && qFromLittleEndian<quint32>(bytes->constData()) == kZip64EndSignature) {
                    zip64End = *bytes;
                    zip64Position = candidate;
                    break;
                }
            }
            if (!zip64End)
                return damaged(QStringLiteral("The archive's 64-bit end record is missing"));
            Cursor z(*zip64End);
            z.u32(); // signature
            z.u64(); // record size
            z.u16(); // made by
            z.u16(); // needed
            const quint32 disk64 = z.u32();
            const quint32 centralDisk64 = z.u32();
            const quint64 entriesHere64 = z.u64();
            record.entryCount = z.u64();
            record.centralSize = z.u64();
            record.centralOffset = z.u64();
            record.position = zip64Position;
            record.zip64 = true;
            if (disk64 != 0 || centralDisk64 != 0 || entriesHere64 != record.entryCount)
                return damaged(QStringLiteral("Archives split over several parts are not supported"));
            return record;
        }
    }
    if (disk != 0 || centralDisk != 0 || entriesHere != record.entryCount)
        return damaged(QStringLiteral("Archives split over several parts are not supported"));
    return record;
}

} // namespace

bool ZipEntry::isLink() const
{
    constexpr quint16 kHostUnix = 3;
    constexpr quint16 kHostDarwin = 19;
    const quint16 host = versionMadeBy >> 8;
    const quint32 mode = externalAttributes >> 16;
    return (host == kHostUnix || host == kHostDarwin) && (mode & 0170000u) == 0120000u;
}

platform::Result<QString> ZipCentralDirectory::decodeName(const QByteArray& raw, quint16 flags,
                                                          const QByteArray& extra)
{
    if (flags & ZipEntry::kFlagUtf8) {
        auto text = strictUtf8(raw);
        if (!text)
            return damaged(QStringLiteral("An entry name marked as UTF-8 is not UTF-8"));
        return *text;
    }
    if (const auto field = findExtra(extra, kUnicodePathExtraId); field && field->size() > 5) {
        Cursor cursor(*field);
        const quint8 version = cursor.u8();
        const quint32 nameCrc = cursor.u32();
        const uLong rawCrc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(raw.constData()),
                                   static_cast<uInt>(raw.size()));
        if (version == 1 && nameCrc == rawCrc) {
            if (auto text = strictUtf8(field->sliced(5)))
                return *text;
        }
    }
    if (auto text = strictUtf8(raw))
        return *text;
    return fromCodePage437(raw);
}

platform::Result<ZipCentralDirectory> ZipCentralDirectory::read(QIODevice& archive)
{
    const auto end = findEndRecord(archive);
    if (!end)
        return std::unexpected(end.error());
    if (end->centralSize > end->position)
        return damaged(QStringLiteral("The archive's central directory lies outside the file"));
    const quint64 centralStart = end->position - end->centralSize;
    if (end->centralOffset > centralStart)
        return damaged(QStringLiteral("The archive's central directory lies outside the file"));
    // Bytes in front of the archive (a self-extractor, a header) shift every offset.
    const quint64 prefix = centralStart - end->centralOffset;
    if (end->centralSize > kMaxCentralDirectory)
        return damaged(QStringLiteral("The archive's central directory is too large"));
    const auto central = readAt(archive, centralStart, static_cast<qint64>(end->centralSize));
    if (!central)
        return std::unexpected(central.error());

    ZipCentralDirectory directory;
    directory.m_centralDirectoryOffset = centralStart;
    Cursor cursor(*central);
    while (!cursor.atEnd()) {
        if (!cursor.has(4))
            return damaged(QStringLiteral("The archive's central directory is damaged"));
        const quint32 signature = cursor.u32();
        if (signature == kDigitalSignature)
            break;
        if (signature != kCentralSignature || !cursor.has(kCentralSize - 4))
            return damaged(QStringLiteral("The archive's central directory is damaged"));
        ZipEntry entry;
        entry.versionMadeBy = cursor.u16();
        cursor.u16(); // version needed
        entry.flags = cursor.u16();
        entry.method = cursor.u16();
        entry.dateField = cursor.u32();
        entry.crc = cursor.u32();
        entry.compressedSize = cursor.u32();
        entry.uncompressedSize = cursor.u32();
        const quint16 nameLength = cursor.u16();
        const quint16 extraLength = cursor.u16();
        const quint16 commentLength = cursor.u16();
        cursor.u16(); // disk
        cursor.u16(); // internal attributes
        entry.externalAttributes = cursor.u32();
        entry.localHeaderOffset = cursor.u32();
        if (!cursor.has(qint64(nameLength) + extraLength + commentLength))
            return damaged(QStringLiteral("The archive's central directory is damaged"));
        const QByteArray rawName = cursor.take(nameLength).toByteArray();
        const QByteArray extra = cursor.take(extraLength).toByteArray();
        cursor.take(commentLength);

        // The 64-bit field holds, in this order, exactly the values whose 32-bit field is
        // all ones.
        const bool needsZip64 = entry.uncompressedSize == kMarker32 || entry.compressedSize == kMarker32
            || entry.localHeaderOffset == kMarker32;
        if (needsZip64) {
            const auto field = findExtra(extra, kZip64ExtraId);
            if (field) {
                Cursor z(*field);
                for (quint64* value : {&entry.uncompressedSize, &entry.compressedSize, &entry.localHeaderOffset}) {
                    if (*value != kMarker32)
                        continue;
                    if (!z.has(8))
                        return damaged(QStringLiteral("An entry's 64-bit sizes are damaged"));
                    *value = z.u64();
                }
            }
        }
        if (entry.localHeaderOffset > centralStart - prefix)
            return damaged(QStringLiteral("An entry lies outside the archive"));
        entry.localHeaderOffset += prefix;

        auto name = decodeName(rawName, entry.flags, extra);
        if (!name)
            return std::unexpected(name.error());
        entry.name = name->replace(QLatin1Char('\\'), QLatin1Char('/'));
        directory.m_entries.push_back(std::move(entry));
    }

    // Writers without the 64-bit records keep only the low 16 bits of a larger count.
    const quint64 parsed = directory.m_entries.size();
    if (parsed != end->entryCount && (end->zip64 || (parsed & 0xffff) != end->entryCount))
        return damaged(QStringLiteral("The archive's entry count does not match its central directory"));
    return directory;
}

platform::Result<quint64> ZipCentralDirectory::dataOffset(QIODevice& archive, const ZipEntry& entry)
{
    const auto header = readAt(archive, entry.localHeaderOffset, kLocalSize);
    if (!header)
        return std::unexpected(header.error());
    Cursor cursor(*header);
    if (cursor.u32() != kLocalSignature)
        return damaged(QStringLiteral("The local header of %1 is missing").arg(entry.name));
    cursor.take(22);
    const quint16 nameLength = cursor.u16();
    const quint16 extraLength = cursor.u16();
    return entry.localHeaderOffset + kLocalSize + nameLength + extraLength;
}
