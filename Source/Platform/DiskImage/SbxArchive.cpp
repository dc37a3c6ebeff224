#include "Platform/DiskImage/SbxArchive.h"

#include "Platform/Foundation/XAttr.h"

#include <QDataStream>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QtEndian>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform::sbx {

namespace {

enum Kind : quint8 { End = 0, Folder = 1, File = 2, Link = 3 };

constexpr int kMaxPath = 4096;
constexpr int kMaxAttributes = 1024;
constexpr int kMaxAttributeName = 255;
constexpr quint32 kMaxAttributeValue = 64 * 1024;
constexpr qsizetype kCopyBlock = 64 * 1024;

Error archiveError(const QString& why)
{
    return Error{QStringLiteral("SafeBoxArchive"), 1, QStringLiteral("the container's archive is damaged: %1").arg(why)};
}

Error posixError(const QByteArray& path, const char* what)
{
    return Error::posix(errno, QStringLiteral("%1 %2").arg(QLatin1String(what), QFile::decodeName(path)));
}

QByteArray childPath(const QByteArray& parent, const QByteArray& name)
{
    return parent.isEmpty() ? name : parent + '/' + name;
}

QByteArray absolute(const QByteArray& root, const QByteArray& relative)
{
    return relative.isEmpty() ? root : root + '/' + relative;
}

qint64 ns(const struct timespec& t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct timespec timespecOf(qint64 value)
{
    struct timespec t{};
    t.tv_sec = time_t(value / 1000000000);
    t.tv_nsec = long(value % 1000000000);
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1000000000;
        t.tv_sec -= 1;
    }
    return t;
}

std::vector<QByteArray> sortedEntries(const QByteArray& folder)
{
    std::vector<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool isToolRecord(const QByteArray& relative)
{
    return relative == kAttachedRecordName || relative == kSidecarName;
}

qint64 parseBirthTime(const QByteArray& text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok ? value : 0;
}

qint64 statxBirthTime(const QByteArray& path)
{
    struct statx sx{};
    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        return qint64(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
    return 0;
}

class Encoder {
public:
    explicit Encoder(const ArchiveWrite& write) : m_write(write) {}

    Result<void> record(quint8 kind, const QByteArray& relative, quint32 mode, qint64 mtime, qint64 btime,
                        const QMap<QString, QByteArray>& attributes)
    {
        QByteArray out;
        QDataStream s(&out, QIODevice::WriteOnly);
        s.setByteOrder(QDataStream::BigEndian);
        s << kind << quint16(relative.size());
        s.writeRawData(relative.constData(), int(relative.size()));
        s << mode << mtime << btime << quint16(attributes.size());
        for (auto it = attributes.cbegin(); it != attributes.cend(); ++it) {
            const QByteArray name = it.key().toUtf8();
            s << quint16(name.size());
            s.writeRawData(name.constData(), int(name.size()));
            s << quint32(it.value().size());
            s.writeRawData(it.value().constData(), int(it.value().size()));
        }
        return m_write(out.constData(), out.size());
    }

    Result<void> number64(quint64 value)
    {
        char bytes[8];
        qToBigEndian(value, bytes);
        return m_write(bytes, 8);
    }

    Result<void> raw(const QByteArray& bytes) { return m_write(bytes.constData(), bytes.size()); }

private:
    const ArchiveWrite& m_write;
};

struct Walker {
    QByteArray root;
    Sidecar sidecar;
    Encoder& encoder;

    QMap<QString, QByteArray> attributesOf(const QByteArray& relative, const QByteArray& path, qint64* btime)
    {
        QMap<QString, QByteArray> attributes;
        const QString qpath = QFile::decodeName(path);
        if (auto names = XAttr::list(qpath)) {
            for (const QString& name : *names) {
                auto value = XAttr::get(qpath, name);
                if (!value)
                    continue;
                if (name == kBirthTimeAttribute)
                    *btime = parseBirthTime(*value);
                else if (name.size() <= kMaxAttributeName && value->size() <= qsizetype(kMaxAttributeValue))
                    attributes.insert(name, *value);
            }
        }
        const auto side = sidecar.constFind(relative);
        if (side != sidecar.constEnd()) {
            for (auto it = side->attributes.cbegin(); it != side->attributes.cend(); ++it)
                attributes.insert(it.key(), it.value());
            if (side->birthTimeNs)
                *btime = side->birthTimeNs;
        }
        if (!*btime)
            *btime = statxBirthTime(path);
        while (attributes.size() > kMaxAttributes)
            attributes.erase(std::prev(attributes.end()));
        return attributes;
    }

    Result<void> walk(const QByteArray& relative)
    {
        const QByteArray folder = absolute(root, relative);
        for (const QByteArray& name : sortedEntries(folder)) {
            const QByteArray rel = childPath(relative, name);
            if (relative.isEmpty() && isToolRecord(rel))
                continue;
            if (rel.size() > kMaxPath)
                return std::unexpected(Error{QStringLiteral("SafeBoxArchive"), 2,
                                             QStringLiteral("a path in the box is too long: %1").arg(QFile::decodeName(rel))});
            const QByteArray path = absolute(root, rel);
            struct stat st{};
            if (::lstat(path.constData(), &st) != 0)
                continue; // removed while the seal ran; the next seal sees the folder as it is then
            qint64 btime = 0;
            if (S_ISLNK(st.st_mode)) {
                QByteArray target(kMaxPath, '\0');
                const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
                if (n < 0)
                    continue;
                target.truncate(n);
                if (auto r = encoder.record(Link, rel, st.st_mode & 07777, ns(st.st_mtim), statxBirthTime(path), {}); !r)
                    return r;
                QByteArray length(2, '\0');
                qToBigEndian(quint16(target.size()), length.data());
                if (auto r = encoder.raw(length + target); !r)
                    return r;
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                const auto attributes = attributesOf(rel, path, &btime);
                if (auto r = encoder.record(Folder, rel, st.st_mode & 07777, ns(st.st_mtim), btime, attributes); !r)
                    return r;
                if (auto r = walk(rel); !r)
                    return r;
                continue;
            }
            if (!S_ISREG(st.st_mode))
                continue;
            const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                if (errno == ENOENT)
                    continue;
                return std::unexpected(posixError(path, "could not read"));
            }
            struct stat opened{};
            ::fstat(fd, &opened);
            const auto attributes = attributesOf(rel, path, &btime);
            auto result = encoder.record(File, rel, opened.st_mode & 07777, ns(opened.st_mtim), btime, attributes);
            // The size is fixed in the record before the bytes are read, so a file that grows or
            // shrinks meanwhile is cut or padded; the sealer seals again after such a change.
            const quint64 size = quint64(opened.st_size);
            if (result)
                result = encoder.number64(size);
            QByteArray block(kCopyBlock, '\0');
            quint64 left = size;
            while (result && left > 0) {
                const ssize_t n = ::read(fd, block.data(), size_t(std::min<quint64>(left, kCopyBlock)));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    const QByteArray zeros(qsizetype(std::min<quint64>(left, kCopyBlock)), '\0');
                    result = encoder.raw(zeros);
                    left -= quint64(zeros.size());
                    continue;
                }
                result = encoder.raw(block.left(n));
                left -= quint64(n);
            }
            ::close(fd);
            if (!result)
                return result;
        }
        return {};
    }
};

class Decoder {
public:
    explicit Decoder(const ArchiveRead& read) : m_read(read) {}

    Result<void> bytes(char* data, qsizetype size) { return m_read(data, size); }

    template <class T>
    Result<T> number()
    {
        char raw[sizeof(T)];
        if (auto r = m_read(raw, sizeof(T)); !r)
            return std::unexpected(r.error());
        return qFromBigEndian<T>(raw);
    }

    Result<QByteArray> text(quint32 size)
    {
        QByteArray out(qsizetype(size), '\0');
        if (auto r = m_read(out.data(), out.size()); !r)
            return std::unexpected(r.error());
        return out;
    }

private:
    const ArchiveRead& m_read;
};

bool validPath(const QByteArray& path)
{
    if (path.isEmpty() || path.size() > kMaxPath || path.startsWith('/') || path.contains('\0'))
        return false;
    const QList<QByteArray> parts = path.split('/');
    return std::none_of(parts.begin(), parts.end(),
                        [](const QByteArray& part) { return part.isEmpty() || part == "." || part == ".."; });
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray() : path.left(slash);
}

} // namespace

Sidecar readSidecar(const QByteArray& root)
{
    Sidecar sidecar;
    QFile file(QFile::decodeName(root + '/' + kSidecarName));
    if (!file.open(QIODevice::ReadOnly))
        return sidecar;
    const QJsonObject object = QJsonDocument::fromJson(file.read(64 * 1024 * 1024)).object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonObject item = it.value().toObject();
        SidecarEntry entry;
        entry.birthTimeNs = qint64(item.value(QStringLiteral("btime")).toDouble());
        const QJsonObject attributes = item.value(QStringLiteral("attributes")).toObject();
        for (auto a = attributes.begin(); a != attributes.end(); ++a)
            entry.attributes.insert(a.key(), QByteArray::fromBase64(a.value().toString().toLatin1()));
        sidecar.insert(QByteArray::fromBase64(it.key().toLatin1()), entry);
    }
    return sidecar;
}

Result<void> writeSidecar(const QByteArray& root, const Sidecar& sidecar)
{
    QJsonObject object;
    for (auto it = sidecar.cbegin(); it != sidecar.cend(); ++it) {
        QJsonObject attributes;
        for (auto a = it->attributes.cbegin(); a != it->attributes.cend(); ++a)
            attributes.insert(a.key(), QString::fromLatin1(a.value().toBase64()));
        QJsonObject item{{QStringLiteral("attributes"), attributes}};
        if (it->birthTimeNs)
            item.insert(QStringLiteral("btime"), double(it->birthTimeNs));
        object.insert(QString::fromLatin1(it.key().toBase64()), item);
    }
    QSaveFile file(QFile::decodeName(root + '/' + kSidecarName));
    if (!file.open(QIODevice::WriteOnly))
        return std::unexpected(Error{QStringLiteral("SafeBoxArchive"), 3, file.errorString()});
    file.write(QJsonDocument(object).toJson(QJsonDocument::Compact));
    if (!file.commit())
        return std::unexpected(Error{QStringLiteral("SafeBoxArchive"), 3, file.errorString()});
    return {};
}

TreeSize measureTree(const QByteArray& root)
{
    TreeSize size;
    std::vector<QByteArray> pending{QByteArray()};
    while (!pending.empty()) {
        const QByteArray relative = pending.back();
        pending.pop_back();
        for (const QByteArray& name : sortedEntries(absolute(root, relative))) {
            const QByteArray rel = childPath(relative, name);
            if (relative.isEmpty() && isToolRecord(rel))
                continue;
            struct stat st{};
            if (::lstat(absolute(root, rel).constData(), &st) != 0)
                continue;
            ++size.entries;
            size.allocatedBytes += quint64(st.st_blocks) * 512;
            if (S_ISREG(st.st_mode))
                size.contentBytes += quint64(st.st_size);
            if (S_ISDIR(st.st_mode))
                pending.push_back(rel);
        }
    }
    return size;
}

bool treeChangedSince(const QByteArray& root, qint64 sinceRealNs)
{
    std::vector<QByteArray> pending{QByteArray()};
    while (!pending.empty()) {
        const QByteArray relative = pending.back();
        pending.pop_back();
        struct stat folder{};
        if (::lstat(absolute(root, relative).constData(), &folder) != 0 || ns(folder.st_ctim) >= sinceRealNs)
            return true;
        for (const QByteArray& name : sortedEntries(absolute(root, relative))) {
            const QByteArray rel = childPath(relative, name);
            if (relative.isEmpty() && rel == kAttachedRecordName)
                continue;
            struct stat st{};
            if (::lstat(absolute(root, rel).constData(), &st) != 0)
                return true;
            if (S_ISDIR(st.st_mode))
                pending.push_back(rel);
            else if (ns(st.st_ctim) >= sinceRealNs)
                return true;
        }
    }
    return false;
}

bool isProgramWrittenPath(const QByteArray& relative)
{
    return relative == kThumbnailFolderName || relative.startsWith(kThumbnailFolderName + '/');
}

Result<void> writeArchive(const QByteArray& root, const ArchiveWrite& write)
{
    Encoder encoder(write);
    Walker walker{root, readSidecar(root), encoder};
    if (auto r = walker.walk(QByteArray()); !r)
        return r;
    const char end = End;
    return write(&end, 1);
}

Result<ExtractStats> extractArchive(const ArchiveRead& read, const QByteArray& root, bool countOnly)
{
    Decoder in(read);
    ExtractStats stats;
    QSet<QByteArray> folders;
    struct PendingFolder {
        QByteArray path;
        quint32 mode;
        qint64 mtime;
    };
    std::vector<PendingFolder> pendingFolders;
    Sidecar sidecar;
    bool sidecarUsed = false;
    QByteArray block;

    for (;;) {
        const auto kind = in.number<quint8>();
        if (!kind)
            return std::unexpected(kind.error());
        if (*kind == End)
            break;
        if (*kind != Folder && *kind != File && *kind != Link)
            return std::unexpected(archiveError(QStringLiteral("unknown record kind %1").arg(*kind)));
        const auto pathSize = in.number<quint16>();
        if (!pathSize)
            return std::unexpected(pathSize.error());
        const auto relative = in.text(*pathSize);
        const auto mode = in.number<quint32>();
        const auto mtime = in.number<qint64>();
        const auto btime = in.number<qint64>();
        const auto attributeCount = in.number<quint16>();
        if (!relative || !mode || !mtime || !btime || !attributeCount)
            return std::unexpected(archiveError(QStringLiteral("a record is cut short")));
        if (!validPath(*relative) || isToolRecord(*relative))
            return std::unexpected(archiveError(QStringLiteral("unsafe path \"%1\"").arg(QString::fromUtf8(*relative))));
        const QByteArray parent = parentOf(*relative);
        if (!parent.isEmpty() && !folders.contains(parent))
            return std::unexpected(archiveError(
                QStringLiteral("\"%1\" is not inside a folder of the box").arg(QString::fromUtf8(*relative))));
        if (*attributeCount > kMaxAttributes)
            return std::unexpected(archiveError(QStringLiteral("too many attributes")));
        QMap<QString, QByteArray> attributes;
        for (int i = 0; i < *attributeCount; ++i) {
            const auto nameSize = in.number<quint16>();
            if (!nameSize || *nameSize > kMaxAttributeName || *nameSize == 0)
                return std::unexpected(archiveError(QStringLiteral("a bad attribute name")));
            const auto name = in.text(*nameSize);
            const auto valueSize = in.number<quint32>();
            if (!name || !valueSize || *valueSize > kMaxAttributeValue)
                return std::unexpected(archiveError(QStringLiteral("a bad attribute value")));
            const auto value = in.text(*valueSize);
            if (!value)
                return std::unexpected(value.error());
            attributes.insert(QString::fromUtf8(*name), *value);
        }
        ++stats.entries;
        const QByteArray path = absolute(root, *relative);
        const quint32 safeMode = *mode & 0777;

        if (*kind == Link) {
            const auto targetSize = in.number<quint16>();
            if (!targetSize || *targetSize > kMaxPath)
                return std::unexpected(archiveError(QStringLiteral("a bad link")));
            const auto target = in.text(*targetSize);
            if (!target || target->isEmpty() || target->contains('\0'))
                return std::unexpected(archiveError(QStringLiteral("a bad link")));
            if (countOnly)
                continue;
            // Left out rather than refusing the box: its documents stay readable, and the
            // program makes the real folder it needs.
            if (isProgramWrittenPath(*relative))
                continue;
            if (::symlink(target->constData(), path.constData()) != 0)
                return std::unexpected(posixError(path, "could not make the link"));
            const struct timespec times[2] = {timespecOf(*mtime), timespecOf(*mtime)};
            ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW);
            continue;
        }

        if (*kind == Folder) {
            if (folders.contains(*relative))
                return std::unexpected(archiveError(QStringLiteral("a folder is listed twice")));
            folders.insert(*relative);
            if (!countOnly) {
                if (::mkdir(path.constData(), 0700) != 0)
                    return std::unexpected(posixError(path, "could not make the folder"));
                pendingFolders.push_back({path, safeMode, *mtime});
            }
        }

        int fd = -1;
        if (*kind == File && !countOnly) {
            fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0)
                return std::unexpected(posixError(path, "could not make the file"));
        }
        Result<void> result;
        if (*kind == File) {
            const auto size = in.number<quint64>();
            if (!size)
                result = std::unexpected(size.error());
            quint64 left = size ? *size : 0;
            block.resize(kCopyBlock);
            while (result && left > 0) {
                const qsizetype take = qsizetype(std::min<quint64>(left, kCopyBlock));
                result = in.bytes(block.data(), take);
                if (result && fd >= 0) {
                    qsizetype done = 0;
                    while (done < take) {
                        const ssize_t n = ::write(fd, block.constData() + done, size_t(take - done));
                        if (n < 0 && errno == EINTR)
                            continue;
                        if (n <= 0) {
                            result = std::unexpected(posixError(path, "could not write"));
                            break;
                        }
                        done += n;
                    }
                }
                left -= quint64(take);
                stats.contentBytes += quint64(take);
            }
        }
        if (fd >= 0) {
            if (result)
                ::fchmod(fd, safeMode);
            ::close(fd);
        }
        if (!result)
            return std::unexpected(result.error());
        if (countOnly)
            continue;

        // Attributes and the creation date: "user." attributes where the file system takes them,
        // else the sidecar.
        const QString qpath = QFile::decodeName(path);
        SidecarEntry side;
        for (auto it = attributes.cbegin(); it != attributes.cend(); ++it) {
            if (it.key() == kBirthTimeAttribute)
                continue;
            auto set = XAttr::set(qpath, it.key(), it.value());
            if (!set && XAttr::isNotSupported(set.error()))
                side.attributes.insert(it.key(), it.value());
        }
        if (*btime) {
            auto set = XAttr::set(qpath, kBirthTimeAttribute, QByteArray::number(*btime));
            if (!set && XAttr::isNotSupported(set.error()))
                side.birthTimeNs = *btime;
        }
        if (!side.attributes.isEmpty() || side.birthTimeNs) {
            sidecar.insert(*relative, side);
            sidecarUsed = true;
        }
        if (*kind == File) {
            const struct timespec times[2] = {timespecOf(*mtime), timespecOf(*mtime)};
            ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW);
        }
    }
    if (countOnly)
        return stats;
    // Deepest first, so setting a folder's date is not undone by its children and a read-only
    // folder gets its mode only after everything inside it exists.
    for (auto it = pendingFolders.rbegin(); it != pendingFolders.rend(); ++it) {
        ::chmod(it->path.constData(), it->mode | 0700);
        const struct timespec times[2] = {timespecOf(it->mtime), timespecOf(it->mtime)};
        ::utimensat(AT_FDCWD, it->path.constData(), times, AT_SYMLINK_NOFOLLOW);
    }
    if (sidecarUsed)
        if (auto r = writeSidecar(root, sidecar); !r)
            return std::unexpected(r.error());
    return stats;
}

QByteArray encodeRecordForTesting(quint8 kind, const QByteArray& path, quint32 mode, const QByteArray& data)
{
    QByteArray out;
    const ArchiveWrite write = [&out](const char* bytes, qsizetype size) -> Result<void> {
        out.append(bytes, size);
        return {};
    };
    Encoder encoder(write);
    (void)encoder.record(kind, path, mode, 0, 0, {});
    if (kind == File) {
        (void)encoder.number64(quint64(data.size()));
        (void)encoder.raw(data);
    } else if (kind == Link) {
        char size[2];
        qToBigEndian(quint16(data.size()), size);
        out.append(size, 2);
        out.append(data);
    }
    return out;
}

QByteArray encodeEndRecordForTesting()
{
    return QByteArray(1, '\0');
}

} // namespace platform::sbx
