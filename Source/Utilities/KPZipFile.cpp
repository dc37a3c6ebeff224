#include "Utilities/KPZipFile.h"

#include "Utilities/ZipTraditionalCipher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr int kChunkSize = 4096;
// Files at least this large need the archive format's 64-bit extension.
constexpr qint64 kZip64Threshold = 0xffffffffLL;
constexpr unsigned long kFlagEncrypted = 0x1;
constexpr unsigned long kFlagDataDescriptor = 0x8;
constexpr unsigned kHostUnix = 3;

zipFile asZip(void* p)
{
    return static_cast<zipFile>(p);
}

unzFile asUnz(void* p)
{
    return static_cast<unzFile>(p);
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

// A name that stays inside the destination: relative, no "..", no empty or NUL components.
bool isSafeEntryName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QChar(0)))
        return false;
    const auto parts = name.split(QLatin1Char('/'));
    return std::none_of(parts.begin(), parts.end(),
                        [](const QString& p) { return p == QStringLiteral(".."); });
}

bool setModificationTime(const QString& path, const QDateTime& when)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = when.toSecsSinceEpoch();
    times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// Opens the target without following a link planted at its name.
int openTarget(const QString& target)
{
    return ::open(QFile::encodeName(target).constData(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
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

} // namespace

KPZipFile::KPZipFile() = default;

KPZipFile::~KPZipFile()
{
    if (m_zipFile)
        CloseZipFile2();
    if (m_unzFile)
        UnzipCloseFile();
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
    m_zipFile = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    return m_zipFile != nullptr;
}

bool KPZipFile::addFileToZip(const QString& file, const QString& newname)
{
    if (!m_zipFile)
        return false;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;

    zip_fileinfo info = {};
    info.dosDate = dateField(file);
    const QByteArray name = newname.toUtf8();
    if (!m_password.isEmpty())
        return addEncryptedFile(file, name, &info);

    const int zip64 = in.size() >= kZip64Threshold ? 1 : 0;
    if (zipOpenNewFileInZip4_64(asZip(m_zipFile), name.constData(), &info, nullptr, 0, nullptr, 0,
                                nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS,
                                8, Z_DEFAULT_STRATEGY, nullptr, 0, 0, 0, zip64)
        != ZIP_OK)
        return false;
    bool ok = true;
    QByteArray buffer(kChunkSize * 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (zipWriteInFileInZip(asZip(m_zipFile), buffer.constData(), static_cast<unsigned>(n)) != ZIP_OK) {
            ok = false;
            break;
        }
    }
    return zipCloseFileInZip(asZip(m_zipFile)) == ZIP_OK && ok;
}

bool KPZipFile::addEncryptedFile(const QString& file, const QByteArray& name, void* rawInfo)
{
    // The cipher's header carries the CRC, so the whole file is read first.
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray plain = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return false;
    const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(plain.constData()),
                            static_cast<uInt>(plain.size()));

    z_stream stream = {};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    QByteArray packed(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(plain.size()))),
                      Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
    stream.avail_in = static_cast<uInt>(plain.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(packed.size());
    const int rc = deflate(&stream, Z_FINISH);
    packed.resize(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    if (rc != Z_STREAM_END)
        return false;

    ZipTraditionalCipher cipher(m_password);
    QByteArray data = cipher.makeHeader(static_cast<uint8_t>(crc >> 24));
    cipher.encrypt(packed.data(), packed.size());
    data += packed;

    auto* info = static_cast<zip_fileinfo*>(rawInfo);
    const int zip64 = plain.size() >= kZip64Threshold ? 1 : 0;
    if (zipOpenNewFileInZip4_64(asZip(m_zipFile), name.constData(), info, nullptr, 0, nullptr, 0,
                                nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8,
                                Z_DEFAULT_STRATEGY, nullptr, 0, 0, kFlagEncrypted, zip64)
        != ZIP_OK)
        return false;
    const bool written = zipWriteInFileInZip(asZip(m_zipFile), data.constData(),
                                             static_cast<unsigned>(data.size()))
        == ZIP_OK;
    const bool closed = zipCloseFileInZipRaw64(asZip(m_zipFile), static_cast<ZPOS64_T>(plain.size()), crc)
        == ZIP_OK;
    return written && closed;
}

bool KPZipFile::addDirectoryToZip(const QString& folder, const QString& pathInZip)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path root(QFile::encodeName(folder).toStdString());
    if (!fs::is_directory(fs::symlink_status(root, ec)))
        return false;

    // Gather first so that the order is stable (sorted) whatever the file system returns.
    std::vector<fs::path> files;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    if (ec)
        return false;
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            return false;
        const auto status = it->symlink_status(ec);
        if (fs::is_regular_file(status))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());

    const QString prefix = pathInZip.isEmpty() || pathInZip.endsWith(QLatin1Char('/'))
        ? pathInZip
        : pathInZip + QLatin1Char('/');
    for (const auto& file : files) {
        if (m_cancel)
            return true;
        const QString relative = QFile::decodeName(file.lexically_relative(root).string().c_str());
        if (!addFileToZip(QFile::decodeName(file.string().c_str()), prefix + relative))
            return false;
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
    if (m_unzFile)
        UnzipCloseFile();
    m_password = password.toUtf8();
    m_unzFile = unzOpen64(QFile::encodeName(path).constData());
    if (!m_unzFile)
        return false;
    unz_global_info64 global = {};
    if (unzGetGlobalInfo64(asUnz(m_unzFile), &global) == UNZ_OK)
        qInfo("%ld entries in the zip file", static_cast<long>(global.number_entry));
    return true;
}

bool KPZipFile::UnzipCloseFile()
{
    m_password.clear();
    if (!m_unzFile)
        return true;
    const bool ok = unzClose(asUnz(m_unzFile)) == UNZ_OK;
    m_unzFile = nullptr;
    return ok;
}

bool KPZipFile::UnzipFileTo(const QString& folder, bool overWrite)
{
    if (!m_unzFile)
        return false;
    unzFile uf = asUnz(m_unzFile);
    int rc = unzGoToFirstFile(uf);
    if (rc != UNZ_OK) {
        OutputErrorMessage(QStringLiteral("Failed"));
        // An archive without entries is extracted completely; anything else is damage.
        return rc == UNZ_END_OF_LIST_OF_FILE;
    }
    const QString root = QDir::cleanPath(folder);
    do {
        unz_file_info64 info = {};
        char nameBuffer[4096];
        if (unzGetCurrentFileInfo64(uf, &info, nameBuffer, sizeof nameBuffer, nullptr, 0, nullptr, 0)
            != UNZ_OK) {
            OutputErrorMessage(QStringLiteral("Error occurs while getting file info"));
            return false;
        }
        QString name = QString::fromUtf8(nameBuffer, static_cast<qsizetype>(qMin<uLong>(info.size_filename, sizeof nameBuffer - 1)));
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const bool isFolder = name.endsWith(QLatin1Char('/'));
        if (!isSafeEntryName(name)) {
            OutputErrorMessage(QStringLiteral("Refused entry outside the destination: %1").arg(name));
            return false;
        }
        const bool isLink = (info.version >> 8) == kHostUnix && S_ISLNK(info.external_fa >> 16);
        if (isLink) {
            OutputErrorMessage(QStringLiteral("Refused link entry: %1").arg(name));
            return false;
        }

        const QString target = root + QLatin1Char('/') + name;
        if (isFolder) {
            if (!QDir().mkpath(target)) {
                OutputErrorMessage(QStringLiteral("Failed to create folder %1").arg(target));
                return false;
            }
        } else {
            QDir().mkpath(QFileInfo(target).absolutePath());
            const bool skip = !overWrite && QFileInfo::exists(target) && !OverWrite(target);
            if (!skip) {
                const bool encrypted = (info.flag & kFlagEncrypted) != 0;
                const bool ok = encrypted
                    ? extractEncryptedEntry(target, info.crc, info.flag, info.dosDate,
                                            static_cast<int>(info.compression_method))
                    : extractCurrentEntry(target, info.uncompressed_size);
                if (!ok)
                    return false;
                if (info.dosDate != 0
                    && !setModificationTime(target, Date1980().addSecs(static_cast<qint64>(info.dosDate))))
                    qInfo("Failed to set attributes");
            }
        }
        rc = unzGoToNextFile(uf);
    } while (rc == UNZ_OK);
    return rc == UNZ_END_OF_LIST_OF_FILE;
}

bool KPZipFile::extractCurrentEntry(const QString& target, quint64 uncompressedSize)
{
    unzFile uf = asUnz(m_unzFile);
    if (unzOpenCurrentFile(uf) != UNZ_OK) {
        OutputErrorMessage(QStringLiteral("Error occurs"));
        return false;
    }
    const int fd = openTarget(target);
    if (fd < 0) {
        OutputErrorMessage(QStringLiteral("Failed to create %1").arg(target));
        unzCloseCurrentFile(uf);
        return false;
    }
    bool ok = true;
    quint64 total = 0;
    char buffer[kChunkSize];
    for (;;) {
        const int n = unzReadCurrentFile(uf, buffer, sizeof buffer);
        if (n < 0) {
            OutputErrorMessage(QStringLiteral("Failed to reading zip file"));
            ok = false;
            break;
        }
        if (n == 0)
            break;
        total += static_cast<quint64>(n);
        if (!writeAll(fd, buffer, n)) {
            OutputErrorMessage(QStringLiteral("Failed to write %1").arg(target));
            ok = false;
            break;
        }
    }
    ok = (::close(fd) == 0) && ok;
    // Closing checks the CRC once the whole entry was read.
    const int closed = unzCloseCurrentFile(uf);
    if (ok && (closed != UNZ_OK || total != uncompressedSize)) {
        OutputErrorMessage(QStringLiteral("Damaged entry (CRC or size mismatch): %1").arg(target));
        ok = false;
    }
    if (!ok)
        QFile::remove(target);
    return ok;
}

bool KPZipFile::extractEncryptedEntry(const QString& target, unsigned long crc, unsigned long flag,
                                      unsigned long dosDate, int method)
{
    unzFile uf = asUnz(m_unzFile);
    if (m_password.isEmpty() || (method != 0 && method != Z_DEFLATED)) {
        OutputErrorMessage(QStringLiteral("Error occurs"));
        return false;
    }
    int rawMethod = 0, level = 0;
    if (unzOpenCurrentFile2(uf, &rawMethod, &level, 1) != UNZ_OK) {
        OutputErrorMessage(QStringLiteral("Error occurs"));
        return false;
    }
    ZipTraditionalCipher cipher(m_password);
    char header[ZipTraditionalCipher::kHeaderSize];
    if (unzReadCurrentFile(uf, header, sizeof header) != ZipTraditionalCipher::kHeaderSize) {
        unzCloseCurrentFile(uf);
        OutputErrorMessage(QStringLiteral("Failed to reading zip file"));
        return false;
    }
    const uint8_t check = cipher.readHeader(header);
    const uint8_t expected = (flag & kFlagDataDescriptor) ? static_cast<uint8_t>(dosDate >> 8)
                                                          : static_cast<uint8_t>(crc >> 24);
    if (check != expected) {
        unzCloseCurrentFile(uf);
        OutputErrorMessage(QStringLiteral("Wrong password for %1").arg(target));
        return false;
    }
    const int fd = openTarget(target);
    if (fd < 0) {
        unzCloseCurrentFile(uf);
        OutputErrorMessage(QStringLiteral("Failed to create %1").arg(target));
        return false;
    }

    z_stream stream = {};
    const bool deflated = method == Z_DEFLATED;
    if (deflated && inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        ::close(fd);
        unzCloseCurrentFile(uf);
        return false;
    }
    bool ok = true;
    bool ended = !deflated;
    uLong actualCrc = crc32(0, nullptr, 0);
    char in[kChunkSize];
    char out[kChunkSize * 4];
    for (;;) {
        const int n = unzReadCurrentFile(uf, in, sizeof in);
        if (n < 0) {
            OutputErrorMessage(QStringLiteral("Failed to reading zip file"));
            ok = false;
            break;
        }
        if (n == 0)
            break;
        cipher.decrypt(in, n);
        if (!deflated) {
            actualCrc = crc32(actualCrc, reinterpret_cast<const Bytef*>(in), static_cast<uInt>(n));
            ok = writeAll(fd, in, n);
        } else {
            stream.next_in = reinterpret_cast<Bytef*>(in);
            stream.avail_in = static_cast<uInt>(n);
            while (ok && stream.avail_in > 0 && !ended) {
                stream.next_out = reinterpret_cast<Bytef*>(out);
                stream.avail_out = sizeof out;
                const int rc = inflate(&stream, Z_NO_FLUSH);
                if (rc != Z_OK && rc != Z_STREAM_END) {
                    ok = false;
                    break;
                }
                const auto produced = static_cast<qsizetype>(sizeof out - stream.avail_out);
                actualCrc = crc32(actualCrc, reinterpret_cast<const Bytef*>(out), static_cast<uInt>(produced));
                ok = writeAll(fd, out, produced);
                ended = rc == Z_STREAM_END;
            }
        }
        if (!ok)
            break;
    }
    if (deflated)
        inflateEnd(&stream);
    ok = (::close(fd) == 0) && ok;
    unzCloseCurrentFile(uf);
    if (ok && (!ended || actualCrc != crc)) {
        OutputErrorMessage(QStringLiteral("Damaged entry (CRC mismatch): %1").arg(target));
        ok = false;
    }
    if (!ok)
        QFile::remove(target);
    return ok;
}
