#include "Platform/Content/ZipArchive.h"

#include <QFile>
#include <QStringDecoder>

#include <minizip/unzip.h>
#include <zlib.h>

namespace platform {

namespace {

// Tuning: bytes inflated per step; the deadline and caps are checked between steps.
constexpr int kChunkBytes = 64 * 1024;
// The general-purpose flag bit that marks UTF-8 names; other names are from old DOS tools.
constexpr uLong kUtf8NameFlag = 1u << 11;
constexpr uLong kEncryptedFlag = 1u;

QString decodeEntryName(const QByteArray& raw, uLong flags)
{
    if (flags & kUtf8NameFlag)
        return QString::fromUtf8(raw);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = utf8.decode(raw);
    return utf8.hasError() ? QString::fromLatin1(raw) : name;
}

} // namespace

void ZipArchive::Closer::operator()(void* handle) const
{
    if (handle)
        unzClose(static_cast<unzFile>(handle));
}

ZipArchive::~ZipArchive() = default;

Result<ZipArchive> ZipArchive::open(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    unzFile handle = unzOpen64(encoded.constData());
    if (!handle)
        return contentError(ContentError::Unreadable, QStringLiteral("not a readable zip archive: %1").arg(path));
    ZipArchive archive;
    archive.m_handle.reset(handle);

    unz_global_info64 global{};
    if (unzGetGlobalInfo64(handle, &global) != UNZ_OK)
        return contentError(ContentError::Unreadable, QStringLiteral("zip directory unreadable: %1").arg(path));
    if (global.number_entry > quint64(kMaxEntries))
        return contentError(ContentError::TooLarge, QStringLiteral("zip lists too many entries: %1").arg(path));

    // The directory is listed once; reading an entry later jumps straight to its stored position.
    int rc = unzGoToFirstFile(handle);
    QByteArray nameBuffer(65536, '\0');
    while (rc == UNZ_OK) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(handle, &info, nameBuffer.data(), uLong(nameBuffer.size()), nullptr, 0,
                                    nullptr, 0)
            != UNZ_OK)
            return contentError(ContentError::Unreadable, QStringLiteral("zip entry unreadable: %1").arg(path));
        const QByteArray raw(nameBuffer.constData(), qsizetype(qMin<uLong>(info.size_filename, nameBuffer.size())));
        unz64_file_pos pos{};
        unzGetFilePos64(handle, &pos);
        if (!raw.endsWith('/')) {
            archive.m_entries.push_back(Entry{decodeEntryName(raw, info.flag), info.compressed_size,
                                              info.uncompressed_size, pos.pos_in_zip_directory, pos.num_of_file});
        }
        if (archive.m_entries.size() > size_t(kMaxEntries))
            return contentError(ContentError::TooLarge, QStringLiteral("zip lists too many entries: %1").arg(path));
        rc = unzGoToNextFile(handle);
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE)
        return contentError(ContentError::Unreadable, QStringLiteral("zip directory is damaged: %1").arg(path));
    return archive;
}

QStringList ZipArchive::entryNames() const
{
    QStringList names;
    names.reserve(qsizetype(m_entries.size()));
    for (const Entry& e : m_entries)
        names.append(e.name);
    return names;
}

const ZipArchive::Entry* ZipArchive::find(const QString& name) const
{
    const Entry* loose = nullptr;
    for (const Entry& e : m_entries) {
        if (e.name == name)
            return &e;
        if (!loose && e.name.compare(name, Qt::CaseInsensitive) == 0)
            loose = &e;
    }
    return loose;
}

Result<QByteArray> ZipArchive::read(const QString& name, ExtractionContext& ctx) const
{
    const Entry* entry = find(name);
    if (!entry)
        return contentError(ContentError::NotFound, QStringLiteral("no entry \"%1\" in the archive").arg(name));
    return readEntry(*entry, ctx);
}

std::optional<Error> inflationLimitError(qint64 produced, qint64 consumed, qint64 entryCap,
                                         const ExtractionContext& ctx)
{
    if (produced > entryCap)
        return Error{ContentError::kDomain, ContentError::TooLarge,
                     QStringLiteral("entry inflates beyond %1 bytes").arg(entryCap)};
    if (produced > ctx.bytesLeft())
        return Error{ContentError::kDomain, ContentError::TooLarge,
                     QStringLiteral("package inflates beyond %1 bytes").arg(ctx.limits().maxTotalBytes)};
    if (produced > ExtractionLimits::kRatioFreeBytes
        && produced / qMax<qint64>(consumed, 1) > ctx.limits().maxCompressionRatio)
        return Error{ContentError::kDomain, ContentError::TooLarge,
                     QStringLiteral("entry compressed more than %1:1").arg(ctx.limits().maxCompressionRatio)};
    return std::nullopt;
}

Result<QByteArray> ZipArchive::readEntry(const Entry& entry, ExtractionContext& ctx) const
{
    const qint64 entryCap = ctx.limits().maxEntryBytes;
    // Declared sizes may lie low, but one that is already over a cap needs no inflating.
    if (auto err = inflationLimitError(qint64(qMin<quint64>(entry.uncompressedSize, quint64(1) << 62)),
                                       qint64(qMin<quint64>(entry.compressedSize, quint64(1) << 62)), entryCap, ctx))
        return std::unexpected(*err);

    unzFile handle = static_cast<unzFile>(m_handle.get());
    unz64_file_pos pos{entry.posInDirectory, entry.fileNumber};
    unz_file_info64 info{};
    if (unzGoToFilePos64(handle, &pos) != UNZ_OK
        || unzGetCurrentFileInfo64(handle, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return contentError(ContentError::Unreadable, QStringLiteral("zip entry \"%1\" unreadable").arg(entry.name));
    if (info.flag & kEncryptedFlag)
        return contentError(ContentError::Encrypted, QStringLiteral("zip entry \"%1\" is encrypted").arg(entry.name));
    if (unzOpenCurrentFile(handle) != UNZ_OK)
        return contentError(ContentError::Unreadable, QStringLiteral("zip entry \"%1\" cannot be opened").arg(entry.name));

    QByteArray out;
    out.reserve(qsizetype(qMin<quint64>(entry.uncompressedSize, quint64(kChunkBytes) * 16)));
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    std::optional<Error> failure;
    for (;;) {
        if (ctx.expired()) {
            failure = Error{ContentError::kDomain, ContentError::TimedOut,
                            QStringLiteral("ran out of time reading \"%1\"").arg(entry.name)};
            break;
        }
        const int n = unzReadCurrentFile(handle, chunk.data(), unsigned(chunk.size()));
        if (n < 0) {
            failure = Error{ContentError::kDomain, ContentError::Unreadable,
                            QStringLiteral("zip entry \"%1\" is damaged").arg(entry.name)};
            break;
        }
        if (n == 0)
            break;
        out.append(chunk.constData(), n);
        if ((failure = inflationLimitError(out.size(), qint64(entry.compressedSize), entryCap, ctx)))
            break;
    }
    const int closeRc = unzCloseCurrentFile(handle);
    if (failure)
        return std::unexpected(*failure);
    // minizip stops at the declared size, so a header that lies low shows up here as a bad
    // checksum; one that lies high as a short entry.
    if (closeRc == UNZ_CRCERROR || quint64(out.size()) != entry.uncompressedSize)
        return contentError(ContentError::Unreadable,
                            QStringLiteral("zip entry \"%1\" fails its checksum").arg(entry.name));
    ctx.chargeBytes(out.size());
    return out;
}

Result<QByteArray> ZipArchive::gunzip(const QByteArray& data, ExtractionContext& ctx)
{
    z_stream zs{};
    // 16 + window bits: expect a gzip header.
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK)
        return contentError(ContentError::Unreadable, QStringLiteral("cannot start inflating"));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    zs.avail_in = uInt(data.size());
    QByteArray out;
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    std::optional<Error> failure;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (ctx.expired()) {
            failure = Error{ContentError::kDomain, ContentError::TimedOut, QStringLiteral("ran out of time inflating")};
            break;
        }
        zs.next_out = reinterpret_cast<Bytef*>(chunk.data());
        zs.avail_out = uInt(chunk.size());
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            failure = Error{ContentError::kDomain, ContentError::Unreadable, QStringLiteral("gzip data is damaged")};
            break;
        }
        const int produced = chunk.size() - int(zs.avail_out);
        out.append(chunk.constData(), produced);
        if ((failure = inflationLimitError(out.size(), qint64(zs.total_in), ctx.limits().maxEntryBytes, ctx)))
            break;
        if (rc == Z_OK && produced == 0 && zs.avail_in == 0) {
            failure = Error{ContentError::kDomain, ContentError::Unreadable, QStringLiteral("gzip data is cut short")};
            break;
        }
    }
    inflateEnd(&zs);
    if (failure)
        return std::unexpected(*failure);
    ctx.chargeBytes(out.size());
    return out;
}

} // namespace platform
