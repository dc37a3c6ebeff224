#include "Utilities/KPZipFile.h"

#include "Utilities/ZipCentralDirectory.h"
#include "Utilities/ZipTraditionalCipher.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTimeZone>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <minizip/zip.h>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr qsizetype kChunkSize = 64 * 1024;
constexpr unsigned long kFlagEncrypted = ZipEntry::kFlagEncrypted;
constexpr unsigned long kFlagUtf8 = ZipEntry::kFlagUtf8;
// Strong encryption, which only its makers' tools read.
constexpr quint16 kFlagStrongEncryption = 0x40;
constexpr unsigned long kDosFolderAttribute = 0x10;
// Entries say they come from a Unix host, with the file's mode: the stock unzip takes the names
// of entries from other hosts for code page 437 even when they carry the UTF-8 flag, and
// restores modes only from a Unix host.
constexpr uLong kVersionMadeBy = (3 << 8) | 30;

zipFile asZip(void* p)
{
    return static_cast<zipFile>(p);
}

// The entry's date field: whole seconds from Date1980 to the modification date (see the class
// comment; peers read it back the same way).
unsigned long dateField(const QString& file)
{
    const QFileInfo info(file);
    QDateTime modified = info.lastModified();
    if (!modified.isValid())
        modified = QDateTime::currentDateTime();
    const qint64 seconds = KPZipFile::Date1980().secsTo(modified);
    return static_cast<unsigned long>(std::clamp<qint64>(seconds, 1, 0xffffffffLL));
}

// The entry's fields from the file: its date field and its Unix mode.
zip_fileinfo entryInfo(const QString& file, bool isFolder)
{
    zip_fileinfo info = {};
    info.dosDate = dateField(file);
    mode_t permissions = isFolder ? 0755 : 0644;
    struct stat st = {};
    if (::stat(QFile::encodeName(file).constData(), &st) == 0)
        permissions = st.st_mode & 0777;
    info.external_fa = static_cast<uLong>((isFolder ? S_IFDIR : S_IFREG) | permissions) << 16;
    if (isFolder)
        info.external_fa |= kDosFolderAttribute;
    return info;
}

// Whether a member of size bytes needs the 64-bit fields. Deflate can make incompressible data
// a little larger, and the cipher adds its header, so the compressed size's bound counts too.
bool needsZip64(quint64 size)
{
    return size >= 0xffffffffull || compressBound(size) + ZipTraditionalCipher::kHeaderSize >= 0xffffffffull;
}

unsigned long nameFlags(const QByteArray& name)
{
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<uchar>(c) < 0x80; });
    return ascii ? 0 : kFlagUtf8;
}

// The entry's name as path components below the destination, or nothing when it would leave
// it: absolute, a ".." component or a NUL. Empty and "." components are dropped, as the stock
// tools do.
std::optional<QStringList> safeComponents(const QString& name)
{
    if (name.startsWith(QLatin1Char('/')) || name.contains(QChar(0)))
        return std::nullopt;
    QStringList parts;
    for (const QString& part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QStringLiteral(".."))
            return std::nullopt;
        if (part != QStringLiteral("."))
            parts << part;
    }
    return parts;
}

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// A new file beside the target, never one that exists already, never through a link.
int createTemporary(const QString& folder, QString* path)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        *path = QStringLiteral("%1/.folivo-unzip-%2.part")
                    .arg(folder)
                    .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        const int fd = ::open(encoded(*path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

quint64 saturatingAdd(quint64 a, quint64 b)
{
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max() : a + b;
}

} // namespace

// The targets of one extraction as a tree of path components, flat so that no hostile depth
// reaches the stack: collisions are found, and each folder is checked or made once, in time
// proportional to the names' length.
class KPZipFile::Targets {
public:
    // False when the entry collides with one added before: the same file again, a file where a
    // folder is or a folder where a file is. A folder named twice is one folder.
    bool add(const QStringList& parts, bool isFolder)
    {
        qsizetype node = 0;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            const bool last = i + 1 == parts.size();
            const auto found = m_children.constFind({node, parts[i]});
            if (found == m_children.cend()) {
                m_nodes.push_back({last && !isFolder, false});
                const auto created = static_cast<qsizetype>(m_nodes.size()) - 1;
                m_children.insert({node, parts[i]}, created);
                node = created;
                continue;
            }
            node = found.value();
            if (m_nodes[static_cast<size_t>(node)].isFile || (last && !isFolder))
                return false;
        }
        return true;
    }

    // Makes the first count folders of parts below root, refusing any that exists as something
    // other than a real folder: a link planted in the destination must not carry files
    // elsewhere. failed names the one that could not be made.
    bool makeFolders(const QString& root, const QStringList& parts, qsizetype count, QString* failed)
    {
        QString path = root;
        qsizetype node = 0;
        for (qsizetype i = 0; i < count; ++i) {
            path += QLatin1Char('/') + parts[i];
            node = m_children.value({node, parts[i]});
            Node& folder = m_nodes[static_cast<size_t>(node)];
            if (folder.ready)
                continue;
            const QByteArray native = QFile::encodeName(path);
            struct stat st = {};
            if (::lstat(native.constData(), &st) != 0) {
                if (errno == ENOENT && ::mkdir(native.constData(), 0755) == 0) {
                    folder.ready = true;
                    continue;
                }
                if (errno != EEXIST || ::lstat(native.constData(), &st) != 0) {
                    *failed = path;
                    return false;
                }
            }
            if (!S_ISDIR(st.st_mode)) {
                *failed = path;
                return false;
            }
            folder.ready = true;
        }
        return true;
    }

private:
    struct Node {
        bool isFile = false;
        bool ready = false;
    };
    std::vector<Node> m_nodes{Node{}}; // 0 is the destination itself
    QHash<std::pair<qsizetype, QString>, qsizetype> m_children;
};

struct KPZipFile::Reader {
    QFile file;
    ZipCentralDirectory directory;
};

struct KPZipFile::PlannedEntry {
    const ZipEntry* entry = nullptr;
    QStringList parts;
    quint64 dataOffset = 0;
};

KPZipFile::KPZipFile() = default;

KPZipFile::~KPZipFile()
{
    if (m_zipFile)
        CloseZipFile2();
}

QDateTime KPZipFile::Date1980()
{
    return QDateTime(QDate(1980, 1, 1), QTime(0, 0), QTimeZone::systemTimeZone());
}

void KPZipFile::OutputErrorMessage(const QString& message) const
{
    if (m_delegate.ErrorMessage)
        m_delegate.ErrorMessage(message);
}

bool KPZipFile::OverWrite(const QString& path) const
{
    return m_delegate.OverWriteOperation ? m_delegate.OverWriteOperation(path) : true;
}

bool KPZipFile::CreateZipFile2(const QString& path, const QString& password)
{
    if (m_zipFile)
        CloseZipFile2();
    m_password = password.toUtf8();
    m_zipFile = zipOpen64(encoded(path).constData(), APPEND_STATUS_CREATE);
    return m_zipFile != nullptr;
}

bool KPZipFile::openEntry(const QByteArray& name, const void* info, int method, bool raw, bool zip64,
                          unsigned long flags)
{
    return zipOpenNewFileInZip4_64(asZip(m_zipFile), name.constData(), static_cast<const zip_fileinfo*>(info),
                                   nullptr, 0, nullptr, 0, nullptr, method,
                                   method == Z_DEFLATED ? Z_DEFAULT_COMPRESSION : 0, raw ? 1 : 0, -MAX_WBITS,
                                   8, Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy, flags | nameFlags(name),
                                   zip64 ? 1 : 0)
        == ZIP_OK;
}

bool KPZipFile::addFileToZip(const QString& file, const QString& newname)
{
    if (!m_zipFile)
        return false;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;

    const zip_fileinfo info = entryInfo(file, false);
    const QByteArray name = newname.toUtf8();
    if (!m_password.isEmpty())
        return addEncryptedFile(in, name, &info);

    const bool zip64 = needsZip64(static_cast<quint64>(in.size()));
    if (!openEntry(name, &info, Z_DEFLATED, false, zip64, 0))
        return false;
    bool ok = true;
    quint64 total = 0;
    QByteArray buffer(kChunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n == 0)
            break;
        total += static_cast<quint64>(std::max<qint64>(n, 0));
        // A file that grew past what its fields can hold while it was read.
        if (n < 0 || (!zip64 && needsZip64(total))
            || zipWriteInFileInZip(asZip(m_zipFile), buffer.constData(), static_cast<unsigned>(n)) != ZIP_OK) {
            ok = false;
            break;
        }
    }
    return zipCloseFileInZip(asZip(m_zipFile)) == ZIP_OK && ok;
}

bool KPZipFile::addEncryptedFile(QFile& in, const QByteArray& name, const void* info)
{
    // The cipher's header carries the CRC, so the file is read twice: once for the CRC and once
    // to compress. A file that changed in between fails instead of carrying a wrong CRC.
    QByteArray buffer(kChunkSize, Qt::Uninitialized);
    uLong crc = crc32(0, nullptr, 0);
    quint64 size = 0;
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            break;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.constData()), static_cast<uInt>(n));
        size += static_cast<quint64>(n);
    }
    if (!in.seek(0))
        return false;

    if (!openEntry(name, info, Z_DEFLATED, true, needsZip64(size), kFlagEncrypted))
        return false;
    ZipTraditionalCipher cipher(m_password);
    QByteArray header = cipher.makeHeader(static_cast<uint8_t>(crc >> 24));
    bool ok = zipWriteInFileInZip(asZip(m_zipFile), header.constData(), static_cast<unsigned>(header.size()))
        == ZIP_OK;

    z_stream stream = {};
    ok = ok && deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    const bool initialised = ok;
    QByteArray out(kChunkSize, Qt::Uninitialized);
    uLong check = crc32(0, nullptr, 0);
    quint64 total = 0;
    int rc = Z_OK;
    while (ok && rc != Z_STREAM_END) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            ok = false;
            break;
        }
        check = crc32(check, reinterpret_cast<const Bytef*>(buffer.constData()), static_cast<uInt>(n));
        total += static_cast<quint64>(n);
        stream.next_in = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_in = static_cast<uInt>(n);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            rc = deflate(&stream, n == 0 ? Z_FINISH : Z_NO_FLUSH);
            const auto produced = static_cast<unsigned>(out.size() - stream.avail_out);
            cipher.encrypt(out.data(), produced);
            if (rc == Z_STREAM_ERROR
                || (produced > 0 && zipWriteInFileInZip(asZip(m_zipFile), out.constData(), produced) != ZIP_OK)) {
                ok = false;
                break;
            }
        } while (stream.avail_out == 0);
    }
    if (initialised)
        deflateEnd(&stream);
    ok = ok && total == size && check == crc;
    const bool closed = zipCloseFileInZipRaw64(asZip(m_zipFile), static_cast<ZPOS64_T>(size), crc) == ZIP_OK;
    return ok && closed;
}

bool KPZipFile::addFolderEntry(const QString& folder, const QString& newname)
{
    const zip_fileinfo info = entryInfo(folder, true);
    const QByteArray name = (newname.endsWith(QLatin1Char('/')) ? newname : newname + QLatin1Char('/')).toUtf8();
    return openEntry(name, &info, 0, false, false, 0) && zipCloseFileInZip(asZip(m_zipFile)) == ZIP_OK;
}

bool KPZipFile::addDirectoryToZip(const QString& folder, const QString& pathInZip)
{
    namespace fs = std::filesystem;
    if (!m_zipFile)
        return false;
    std::error_code ec;
    const fs::path root(encoded(folder).toStdString());
    if (!fs::is_directory(fs::symlink_status(root, ec)))
        return false;

    // Gathered first so that the order is stable (sorted) whatever the file system returns.
    // Paths compare component by component, so a folder's contents follow it directly.
    std::vector<std::pair<fs::path, bool>> items; // path, is a folder
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    if (ec)
        return false;
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            return false;
        const auto status = it->symlink_status(ec);
        if (fs::is_regular_file(status) || fs::is_directory(status))
            items.emplace_back(it->path(), fs::is_directory(status));
    }
    std::sort(items.begin(), items.end());

    const QString prefix = pathInZip.isEmpty() || pathInZip.endsWith(QLatin1Char('/'))
        ? pathInZip
        : pathInZip + QLatin1Char('/');
    if (items.empty() && !prefix.isEmpty())
        return addFolderEntry(folder, prefix);
    for (size_t i = 0; i < items.size(); ++i) {
        if (m_cancel)
            return true;
        const auto& [path, isFolder] = items[i];
        const QString native = QFile::decodeName(path.string().c_str());
        const QString name = prefix + QFile::decodeName(path.lexically_relative(root).string().c_str());
        if (isFolder) {
            const bool empty = i + 1 == items.size()
                || items[i + 1].first.parent_path() != path;
            if (empty && !addFolderEntry(native, name))
                return false;
        } else if (!addFileToZip(native, name)) {
            return false;
        }
    }
    return true;
}

bool KPZipFile::CloseZipFile2()
{
    m_password.clear();
    if (!m_zipFile)
        return false;
    const bool ok = zipClose(asZip(m_zipFile), nullptr) == ZIP_OK;
    m_zipFile = nullptr;
    return ok;
}

bool KPZipFile::UnzipOpenFile(const QString& path, const QString& password)
{
    UnzipCloseFile();
    m_password = password.toUtf8();
    auto reader = std::make_unique<Reader>();
    reader->file.setFileName(path);
    if (!reader->file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    auto directory = ZipCentralDirectory::read(reader->file);
    if (!directory) {
        OutputErrorMessage(directory.error().message);
        return false;
    }
    reader->directory = std::move(*directory);
    qInfo("%ld entries in the zip file", static_cast<long>(reader->directory.entries().size()));
    m_reader = std::move(reader);
    return true;
}

bool KPZipFile::UnzipCloseFile()
{
    m_password.clear();
    m_reader.reset();
    return true;
}

bool KPZipFile::UnzipFileTo(const QString& folder, bool overWrite)
{
    if (!m_reader)
        return false;
    const QString root = QDir::cleanPath(folder);
    if (!QDir().mkpath(root)) {
        OutputErrorMessage(QStringLiteral("Failed to create folder %1").arg(root));
        return false;
    }
    std::vector<PlannedEntry> plan;
    Targets targets;
    if (!planExtraction(root, plan, targets))
        return false;

    m_written.clear();
    const auto forget = qScopeGuard([this] { m_written.clear(); });
    for (const PlannedEntry& item : plan) {
        const bool isFolder = item.entry->isFolder();
        QString failed;
        if (!targets.makeFolders(root, item.parts, item.parts.size() - (isFolder ? 0 : 1), &failed)) {
            OutputErrorMessage(QStringLiteral("Failed to create folder %1").arg(failed));
            return false;
        }
        if (isFolder)
            continue;
        if (stopped()) {
            OutputErrorMessage(QStringLiteral("The extraction was stopped"));
            return false;
        }
        const QString target = root + QLatin1Char('/') + item.parts.join(QLatin1Char('/'));
        struct stat st = {};
        const bool exists = ::lstat(encoded(target).constData(), &st) == 0;
        if (!overWrite && exists && !OverWrite(target))
            continue;
        if (!extractEntry(item, target))
            return false;
    }
    return true;
}

// Everything that can be known before a byte is written: names, collisions, where each entry's
// bytes lie, and whether the declared sizes fit.
bool KPZipFile::planExtraction(const QString& root, std::vector<PlannedEntry>& plan, Targets& targets)
{
    const auto refuse = [this](const QString& message) {
        OutputErrorMessage(message);
        return false;
    };
    QFile& archive = m_reader->file;
    const ZipCentralDirectory& directory = m_reader->directory;
    std::vector<std::pair<quint64, quint64>> spans;
    quint64 needed = 0;

    struct statvfs fs = {};
    if (::statvfs(encoded(root).constData(), &fs) != 0)
        return refuse(QStringLiteral("Cannot tell the room left at %1").arg(root));
    const quint64 block = fs.f_frsize ? fs.f_frsize : (fs.f_bsize ? fs.f_bsize : 4096);

    for (const ZipEntry& entry : directory.entries()) {
        if (entry.isLink())
            return refuse(QStringLiteral("Refused link entry: %1").arg(entry.name));
        const auto parts = safeComponents(entry.name);
        if (!parts)
            return refuse(QStringLiteral("Refused entry outside the destination: %1").arg(entry.name));
        if (parts->isEmpty()) {
            if (entry.isFolder())
                continue; // the destination itself
            return refuse(QStringLiteral("Refused entry without a name"));
        }
        if (!entry.isFolder()) {
            if (entry.method != ZipEntry::kMethodStored && entry.method != ZipEntry::kMethodDeflated)
                return refuse(
                    QStringLiteral("Unsupported compression method %1: %2").arg(entry.method).arg(entry.name));
            if (entry.isEncrypted() && ((entry.flags & kFlagStrongEncryption) || m_password.isEmpty()))
                return refuse(QStringLiteral("Error occurs: %1 is encrypted").arg(entry.name));
        }

        if (!targets.add(*parts, entry.isFolder()))
            return refuse(QStringLiteral("Two entries map to %1").arg(parts->join(QLatin1Char('/'))));

        const auto dataOffset = ZipCentralDirectory::dataOffset(archive, entry);
        if (!dataOffset)
            return refuse(dataOffset.error().message);
        if (*dataOffset > directory.centralDirectoryOffset()
            || entry.compressedSize > directory.centralDirectoryOffset() - *dataOffset)
            return refuse(QStringLiteral("Damaged entry (it runs into the central directory): %1").arg(entry.name));
        spans.emplace_back(entry.localHeaderOffset, *dataOffset + entry.compressedSize);

        if (!entry.isFolder()) {
            const quint64 blocks = entry.uncompressedSize / block + (entry.uncompressedSize % block ? 1 : 0);
            needed = saturatingAdd(needed, blocks > std::numeric_limits<quint64>::max() / block
                                               ? std::numeric_limits<quint64>::max()
                                               : blocks * block);
        }
        plan.push_back({&entry, *parts, *dataOffset});
    }

    // Entries that share bytes are how a small archive claims to hold far more than it does.
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second)
            return refuse(QStringLiteral("Refused archive whose entries overlap"));
    }

    const quint64 available = fs.f_bavail > std::numeric_limits<quint64>::max() / block
        ? std::numeric_limits<quint64>::max()
        : static_cast<quint64>(fs.f_bavail) * block;
    if (needed > available || (fs.f_files > 0 && plan.size() > fs.f_favail))
        return refuse(QStringLiteral("Not enough room at %1 for the archive's %2 bytes").arg(root).arg(needed));
    return true;
}

bool KPZipFile::extractEntry(const PlannedEntry& item, const QString& target)
{
    const ZipEntry& entry = *item.entry;
    const QString folder = QFileInfo(target).path();
    QString temporary;
    const int fd = createTemporary(folder, &temporary);
    if (fd < 0) {
        OutputErrorMessage(QStringLiteral("Failed to create %1").arg(target));
        return false;
    }
    bool ok = copyEntryData(item, fd, target);
    if (ok && entry.dateField != 0) {
        const struct timespec times[2] = {
            {0, UTIME_OMIT},
            {static_cast<time_t>(Date1980().addSecs(static_cast<qint64>(entry.dateField)).toSecsSinceEpoch()), 0},
        };
        if (::futimens(fd, times) != 0)
            qInfo("Failed to set attributes");
    }
    struct stat written = {};
    ok = ok && ::fstat(fd, &written) == 0;
    if (::close(fd) != 0 && ok) {
        OutputErrorMessage(QStringLiteral("Failed to write %1").arg(target));
        ok = false;
    }
    struct stat existing = {};
    if (ok && ::lstat(encoded(target).constData(), &existing) == 0
        && m_written.contains({existing.st_dev, existing.st_ino})) {
        OutputErrorMessage(QStringLiteral("Two entries map to %1").arg(target));
        ok = false;
    }
    if (ok && ::rename(encoded(temporary).constData(), encoded(target).constData()) != 0) {
        OutputErrorMessage(QStringLiteral("Failed to create %1").arg(target));
        ok = false;
    }
    if (!ok) {
        ::unlink(encoded(temporary).constData());
        return false;
    }
    m_written.insert({written.st_dev, written.st_ino});
    return true;
}

// Reads exactly the entry's compressed bytes, deciphers and inflates them into fd, and checks
// size and CRC. Output never goes past the declared size.
bool KPZipFile::copyEntryData(const PlannedEntry& item, int fd, const QString& target)
{
    const ZipEntry& entry = *item.entry;
    QFile& archive = m_reader->file;
    const auto fail = [this](const QString& message) {
        OutputErrorMessage(message);
        return false;
    };
    const QString damaged = QStringLiteral("Damaged entry (CRC or size mismatch): %1").arg(target);
    if (!archive.seek(static_cast<qint64>(item.dataOffset)))
        return fail(QStringLiteral("Failed to reading zip file"));
    quint64 remaining = entry.compressedSize;

    std::optional<ZipTraditionalCipher> cipher;
    if (entry.isEncrypted()) {
        char header[ZipTraditionalCipher::kHeaderSize];
        if (remaining < sizeof header || archive.read(header, sizeof header) != sizeof header)
            return fail(QStringLiteral("Failed to reading zip file"));
        remaining -= sizeof header;
        cipher.emplace(m_password);
        // With a data descriptor the writer did not know the CRC in advance and used the time.
        const bool descriptor = (entry.flags & ZipEntry::kFlagDataDescriptor) != 0;
        const auto expected = static_cast<uint8_t>(descriptor ? entry.dateField >> 8 : entry.crc >> 24);
        if (cipher->readHeader(header) != expected)
            return fail(QStringLiteral("Wrong password for %1").arg(target));
    }

    const bool deflated = entry.method == ZipEntry::kMethodDeflated;
    z_stream stream = {};
    if (deflated && inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return fail(QStringLiteral("Error occurs"));
    const auto end = qScopeGuard([&] {
        if (deflated)
            inflateEnd(&stream);
    });

    uLong crc = crc32(0, nullptr, 0);
    quint64 produced = 0;
    const auto deliver = [&](const char* data, qsizetype size) {
        if (static_cast<quint64>(size) > entry.uncompressedSize - produced)
            return fail(QStringLiteral("Damaged entry (it inflates past its declared size): %1").arg(target));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size));
        produced += static_cast<quint64>(size);
        if (!writeAll(fd, data, size))
            return fail(QStringLiteral("Failed to write %1").arg(target));
        if (m_writtenObserver && size > 0)
            m_writtenObserver(size);
        return true;
    };

    QByteArray in(kChunkSize, Qt::Uninitialized);
    QByteArray out(kChunkSize * 4, Qt::Uninitialized);
    bool ended = false;
    while (remaining > 0 && !ended) {
        if (stopped())
            return fail(QStringLiteral("The extraction was stopped"));
        const qint64 n = archive.read(in.data(), static_cast<qint64>(std::min<quint64>(remaining, in.size())));
        if (n <= 0)
            return fail(QStringLiteral("Failed to reading zip file"));
        remaining -= static_cast<quint64>(n);
        if (cipher)
            cipher->decrypt(in.data(), n);
        if (!deflated) {
            if (!deliver(in.constData(), n))
                return false;
            continue;
        }
        stream.next_in = reinterpret_cast<Bytef*>(in.data());
        stream.avail_in = static_cast<uInt>(n);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&stream, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                return fail(damaged);
            if (!deliver(out.constData(), out.size() - stream.avail_out))
                return false;
            ended = rc == Z_STREAM_END;
            if (rc == Z_BUF_ERROR)
                break;
        } while (!ended && (stream.avail_in > 0 || stream.avail_out == 0));
    }
    if ((deflated && !ended) || produced != entry.uncompressedSize || crc != entry.crc)
        return fail(damaged);
    return true;
}
