#include "Platform/Foundation/FileManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtDebug>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {

bool FileManager::isUsableFileName(const QString& name)
{
    return fileNameProblems(name) == NoProblem;
}

int FileManager::fileNameProblems(const QString& name)
{
    if (name.isEmpty())
        return EmptyName;
    int problems = NoProblem;
    if (name.startsWith(QLatin1Char('.')))
        problems |= LeadingDot;
    if (name.contains(QLatin1Char('/')))
        problems |= Separator;
    if (name.contains(QChar(0)))
        problems |= NulCharacter;
    if (name.toUtf8().size() > kMaxFileNameBytes)
        problems |= TooLong;
    return problems;
}

QString FileManager::usableFileName(const QString& name, const QString& fallback)
{
    QString out = name;
    out.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QChar(0), QLatin1Char('_'));
    qsizetype dots = 0;
    while (dots < out.size() && out.at(dots) == QLatin1Char('.'))
        ++dots;
    out.remove(0, dots);
    // Each UTF-16 unit takes at least one byte: what lies past the 255th never fits.
    if (out.size() > kMaxFileNameBytes)
        out.truncate(out.at(kMaxFileNameBytes).isLowSurrogate() ? kMaxFileNameBytes - 1 : kMaxFileNameBytes);
    while (out.toUtf8().size() > kMaxFileNameBytes) {
        qsizetype cut = out.size() - 1;
        if (cut > 0 && out.at(cut).isLowSurrogate())
            --cut;
        out.truncate(cut);
    }
    return out.isEmpty() ? fallback : out;
}

namespace {

// Bytes per copy_file_range or read/write round.
constexpr size_t CopyChunk = 1 << 20;
// Names claimFreeName tries before giving up ("name", "name_1" … "name_9999").
constexpr int MaxFreeNameAttempts = 10000;
// Attempts at a fresh random temporary name before a write gives up.
constexpr int MaxTempNameAttempts = 100;

std::atomic<FileManager::RenameFunction> g_renameForTesting{nullptr};

using Bytes = QByteArray;

Bytes enc(const QString& path) { return QFile::encodeName(path); }
QString dec(const Bytes& path) { return QFile::decodeName(path); }

std::unexpected<Error> posixError(int err, const QString& what)
{
    return std::unexpected(Error::posix(err, what));
}

Bytes join(const Bytes& dir, const Bytes& name)
{
    return dir.endsWith('/') ? dir + name : dir + '/' + name;
}

QDateTime dateFrom(qint64 sec, qint64 nsec)
{
    return QDateTime::fromMSecsSinceEpoch(sec * 1000 + nsec / 1000000, Qt::UTC);
}

struct timespec timespecFrom(const QDateTime& date)
{
    const qint64 ms = date.toMSecsSinceEpoch();
    qint64 sec = ms / 1000;
    qint64 rem = ms % 1000;
    if (rem < 0) {
        rem += 1000;
        --sec;
    }
    struct timespec ts {};
    ts.tv_sec = time_t(sec);
    ts.tv_nsec = long(rem * 1000000);
    return ts;
}

FileType typeOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FileType::Regular;
    if (S_ISDIR(mode))
        return FileType::Directory;
    if (S_ISLNK(mode))
        return FileType::SymbolicLink;
    return FileType::Other;
}

int renameNoReplace(const char* from, const char* to)
{
    if (const auto hook = g_renameForTesting.load())
        return hook(from, to);
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
    // The file system cannot rename without replacing. A hard link can't replace either; for
    // folders, which cannot be linked, a check just before the rename is the best left.
    struct stat st {};
    if (::lstat(from, &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode)) {
        if (::link(from, to) == 0) {
            ::unlink(from);
            return 0;
        }
        // Without hard links either (FAT, some network shares) only the check below is left.
        if (errno != EPERM && errno != ENOTSUP && errno != EMLINK)
            return -1;
    }
    if (::lstat(to, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from, to);
}

// Names in a folder as raw bytes, sorted bytewise, so that names which are not valid UTF-8
// are still copied and removed correctly.
Result<std::vector<Bytes>> listRaw(const Bytes& dir)
{
    DIR* d = ::opendir(dir.constData());
    if (!d)
        return posixError(errno, QStringLiteral("read folder %1").arg(dec(dir)));
    std::vector<Bytes> names;
    errno = 0;
    while (const struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
        errno = 0;
    }
    const int err = errno;
    ::closedir(d);
    if (err)
        return posixError(err, QStringLiteral("read folder %1").arg(dec(dir)));
    std::sort(names.begin(), names.end());
    return names;
}

Result<void> fsyncPath(const Bytes& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return posixError(errno, QStringLiteral("open %1").arg(dec(path)));
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    // Some file systems refuse fsync on folders; nothing more can be done there.
    if (rc != 0 && err != EINVAL && err != EROFS)
        return posixError(err, QStringLiteral("flush %1").arg(dec(path)));
    return {};
}

Bytes parentOf(const Bytes& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? Bytes("/") : path.left(slash);
}

// Copies the "user." extended attributes through the given accessors. A destination that
// refuses user attributes loses them with a warning; any other failure fails the copy.
template <class List, class Get, class Set>
Result<void> copyUserAttributes(const Bytes& src, const Bytes& dst, List list, Get get, Set set)
{
    ssize_t size = list(nullptr, 0);
    if (size <= 0)
        return {};
    Bytes names(size, '\0');
    size = list(names.data(), names.size());
    if (size <= 0)
        return {};
    names.truncate(size);
    for (const Bytes& name : names.split('\0')) {
        if (!name.startsWith("user."))
            continue;
        ssize_t len = get(name.constData(), nullptr, 0);
        if (len < 0)
            continue;
        Bytes value(len, '\0');
        len = get(name.constData(), value.data(), value.size());
        if (len < 0)
            continue;
        if (set(name.constData(), value.constData(), size_t(len)) != 0) {
            if (errno == ENOTSUP) {
                qWarning("The file system of %s refuses user extended attributes; %s was not copied",
                         dst.constData(), name.constData());
                return {};
            }
            return posixError(errno, QStringLiteral("copy extended attribute %1 of %2 to %3")
                                         .arg(QString::fromUtf8(name), dec(src), dec(dst)));
        }
    }
    return {};
}

Result<void> copyFileData(int in, int out, const Bytes& src)
{
    bool useCopyRange = true;
    std::vector<char> buffer;
    for (;;) {
        if (useCopyRange) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, CopyChunk, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return {};
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EBADF)
                return posixError(errno, QStringLiteral("copy %1").arg(dec(src)));
            useCopyRange = false;
            buffer.resize(CopyChunk);
        }
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0)
            return {};
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return posixError(errno, QStringLiteral("read %1").arg(dec(src)));
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.data() + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return posixError(errno, QStringLiteral("write copy of %1").arg(dec(src)));
            }
            done += w;
        }
    }
}

Result<void> copyRegularFile(const Bytes& src, const Bytes& dst, const struct stat& st, bool durable, bool& created)
{
    const int in = ::open(src.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return posixError(errno, QStringLiteral("open %1").arg(dec(src)));
    const int out = ::open(dst.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return posixError(err, QStringLiteral("create %1").arg(dec(dst)));
    }
    created = true;
    Result<void> result = copyFileData(in, out, src);
    if (result)
        result = copyUserAttributes(
            src, dst, [in](char* b, size_t n) { return ::flistxattr(in, b, n); },
            [in](const char* name, void* b, size_t n) { return ::fgetxattr(in, name, b, n); },
            [out](const char* name, const void* v, size_t n) { return ::fsetxattr(out, name, v, n, 0); });
    if (result && ::fchmod(out, st.st_mode & 07777) != 0)
        result = posixError(errno, QStringLiteral("set permissions of %1").arg(dec(dst)));
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (result && ::futimens(out, times) != 0)
        result = posixError(errno, QStringLiteral("set dates of %1").arg(dec(dst)));
    if (result && durable && ::fsync(out) != 0)
        result = posixError(errno, QStringLiteral("flush %1").arg(dec(dst)));
    ::close(in);
    if (::close(out) != 0 && result)
        result = posixError(errno, QStringLiteral("close %1").arg(dec(dst)));
    return result;
}

Result<void> copyTree(const Bytes& src, const Bytes& dst, bool durable, bool& created)
{
    struct stat st {};
    if (::lstat(src.constData(), &st) != 0)
        return posixError(errno, QStringLiteral("read %1").arg(dec(src)));

    if (S_ISREG(st.st_mode))
        return copyRegularFile(src, dst, st, durable, created);

    if (S_ISLNK(st.st_mode)) {
        Bytes target(st.st_size > 0 ? st.st_size + 1 : 256, '\0');
        ssize_t n;
        while ((n = ::readlink(src.constData(), target.data(), target.size())) == ssize_t(target.size()))
            target.resize(target.size() * 2);
        if (n < 0)
            return posixError(errno, QStringLiteral("read link %1").arg(dec(src)));
        target.truncate(n);
        if (::symlink(target.constData(), dst.constData()) != 0)
            return posixError(errno, QStringLiteral("create link %1").arg(dec(dst)));
        created = true;
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, dst.constData(), times, AT_SYMLINK_NOFOLLOW);
        return {};
    }

    if (!S_ISDIR(st.st_mode))
        return posixError(ENOTSUP, QStringLiteral("copy %1 (a device, socket or pipe)").arg(dec(src)));

    // Private until complete, so that nobody sees or uses a half-copied package.
    if (::mkdir(dst.constData(), 0700) != 0)
        return posixError(errno, QStringLiteral("create folder %1").arg(dec(dst)));
    created = true;
    auto names = listRaw(src);
    if (!names)
        return std::unexpected(names.error());
    for (const Bytes& name : *names) {
        bool childCreated = false;
        if (auto r = copyTree(join(src, name), join(dst, name), durable, childCreated); !r)
            return r;
    }
    if (auto r = copyUserAttributes(
            src, dst, [&src](char* b, size_t n) { return ::llistxattr(src.constData(), b, n); },
            [&src](const char* name, void* b, size_t n) { return ::lgetxattr(src.constData(), name, b, n); },
            [&dst](const char* name, const void* v, size_t n) { return ::lsetxattr(dst.constData(), name, v, n, 0); });
        !r)
        return r;
    if (::chmod(dst.constData(), st.st_mode & 07777) != 0)
        return posixError(errno, QStringLiteral("set permissions of %1").arg(dec(dst)));
    // Last: adding the contents changed the folder's date.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::utimensat(AT_FDCWD, dst.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return posixError(errno, QStringLiteral("set dates of %1").arg(dec(dst)));
    if (durable)
        return fsyncPath(dst);
    return {};
}

Result<void> removeTree(const Bytes& path, const std::function<bool()>* keepGoing = nullptr)
{
    if (keepGoing && !(*keepGoing)())
        return posixError(ECANCELED, QStringLiteral("remove %1").arg(dec(path)));
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return posixError(errno, QStringLiteral("remove %1").arg(dec(path)));
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(path.constData()) != 0)
            return posixError(errno, QStringLiteral("remove %1").arg(dec(path)));
        return {};
    }
    auto names = listRaw(path);
    if (!names)
        return std::unexpected(names.error());
    for (const Bytes& name : *names) {
        if (auto r = removeTree(join(path, name), keepGoing); !r)
            return r;
    }
    if (::rmdir(path.constData()) != 0)
        return posixError(errno, QStringLiteral("remove folder %1").arg(dec(path)));
    return {};
}

std::unexpected<Error> differs(const Bytes& src, const Bytes& dst, const QString& how)
{
    return std::unexpected(Error{QStringLiteral("POSIX"), EIO,
                                 QStringLiteral("The copy %1 differs from %2: %3").arg(dec(dst), dec(src), how)});
}

Result<void> compareTree(const Bytes& src, const Bytes& dst)
{
    struct stat a {};
    struct stat b {};
    if (::lstat(src.constData(), &a) != 0)
        return posixError(errno, QStringLiteral("read %1").arg(dec(src)));
    if (::lstat(dst.constData(), &b) != 0)
        return differs(src, dst, QStringLiteral("it is missing"));
    if ((a.st_mode & S_IFMT) != (b.st_mode & S_IFMT))
        return differs(src, dst, QStringLiteral("the kinds of item differ"));
    if (S_ISREG(a.st_mode) && a.st_size != b.st_size)
        return differs(src, dst, QStringLiteral("%1 bytes instead of %2").arg(b.st_size).arg(a.st_size));
    if (S_ISLNK(a.st_mode)) {
        char ta[4096];
        char tb[4096];
        const ssize_t na = ::readlink(src.constData(), ta, sizeof ta);
        const ssize_t nb = ::readlink(dst.constData(), tb, sizeof tb);
        if (na < 0 || nb != na || std::memcmp(ta, tb, size_t(na)) != 0)
            return differs(src, dst, QStringLiteral("the link targets differ"));
    }
    if (!S_ISDIR(a.st_mode))
        return {};
    auto na = listRaw(src);
    if (!na)
        return std::unexpected(na.error());
    auto nb = listRaw(dst);
    if (!nb)
        return std::unexpected(nb.error());
    if (*na != *nb)
        return differs(src, dst, QStringLiteral("the folders hold different items"));
    for (const Bytes& name : *na) {
        if (auto r = compareTree(join(src, name), join(dst, name)); !r)
            return r;
    }
    return {};
}

// A durable copy of src at dst, checked against src; on any failure nothing is left at dst.
Result<void> copyVerified(const Bytes& src, const Bytes& dst)
{
    bool created = false;
    Result<void> r = copyTree(src, dst, true, created);
    if (r)
        r = fsyncPath(parentOf(dst));
    if (r)
        r = compareTree(src, dst);
    if (!r && created)
        removeTree(dst);
    return r;
}

} // namespace

bool FileManager::fileExists(const QString& path, bool* isDirectory)
{
    struct stat st {};
    const bool exists = !path.isEmpty() && ::stat(enc(path).constData(), &st) == 0;
    if (isDirectory)
        *isDirectory = exists && S_ISDIR(st.st_mode);
    return exists;
}

bool FileManager::itemExists(const QString& path)
{
    struct stat st {};
    return !path.isEmpty() && ::lstat(enc(path).constData(), &st) == 0;
}

Result<void> FileManager::createDirectory(const QString& path, bool withIntermediates)
{
    if (path.isEmpty())
        return posixError(ENOENT, QStringLiteral("create a folder with no path"));
    const Bytes target = enc(QDir::cleanPath(path));
    if (!withIntermediates) {
        if (::mkdir(target.constData(), 0777) != 0)
            return posixError(errno, QStringLiteral("create folder %1").arg(path));
        return {};
    }
    for (qsizetype i = 1; i <= target.size(); ++i) {
        if (i < target.size() && target[i] != '/')
            continue;
        const Bytes part = target.left(i);
        if (::mkdir(part.constData(), 0777) == 0)
            continue;
        const int err = errno;
        struct stat st {};
        if (err == EEXIST && ::stat(part.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        return posixError(err == EEXIST ? ENOTDIR : err, QStringLiteral("create folder %1").arg(dec(part)));
    }
    return {};
}

Result<void> FileManager::copyItem(const QString& src, const QString& dst)
{
    const Bytes s = enc(src);
    const Bytes d = enc(dst);
    struct stat st {};
    if (::lstat(s.constData(), &st) != 0)
        return posixError(errno, QStringLiteral("copy %1").arg(src));
    struct stat existing {};
    if (::lstat(d.constData(), &existing) == 0)
        return posixError(EEXIST, QStringLiteral("copy %1 to %2").arg(src, dst));
    if (S_ISDIR(st.st_mode)) {
        const QString from = QFileInfo(src).canonicalFilePath();
        const QString into = QFileInfo(QFileInfo(dst).absolutePath()).canonicalFilePath();
        if (!from.isEmpty() && !into.isEmpty()
            && (into == from || into.startsWith(from + QLatin1Char('/')) || from == QLatin1String("/")))
            return posixError(EINVAL, QStringLiteral("copy folder %1 into itself (%2)").arg(src, dst));
    }
    bool created = false;
    Result<void> r = copyTree(s, d, false, created);
    if (!r && created)
        removeTree(d);
    return r;
}

Result<void> FileManager::verifyCopy(const QString& src, const QString& dst)
{
    return compareTree(enc(src), enc(dst));
}

Result<void> FileManager::moveItem(const QString& src, const QString& dst)
{
    const Bytes s = enc(src);
    const Bytes d = enc(dst);
    struct stat st {};
    if (::lstat(s.constData(), &st) != 0)
        return posixError(errno, QStringLiteral("move %1").arg(src));
    if (renameNoReplace(s.constData(), d.constData()) == 0)
        return {};
    if (errno != EXDEV)
        return posixError(errno, QStringLiteral("move %1 to %2").arg(src, dst));
    if (::lstat(d.constData(), &st) == 0)
        return posixError(EEXIST, QStringLiteral("move %1 to %2").arg(src, dst));
    if (auto r = copyVerified(s, d); !r)
        return r;
    if (auto r = removeTree(s); !r)
        return std::unexpected(Error{r.error().domain, r.error().code,
                                     QStringLiteral("%1 was copied to %2, but the original could not be removed: %3")
                                         .arg(src, dst, r.error().message)});
    return {};
}

Result<void> FileManager::renameItem(const QString& src, const QString& dst)
{
    if (renameNoReplace(enc(src).constData(), enc(dst).constData()) != 0)
        return posixError(errno, QStringLiteral("rename %1 to %2").arg(src, dst));
    return {};
}

Result<void> FileManager::removeItem(const QString& path)
{
    if (path.isEmpty())
        return posixError(ENOENT, QStringLiteral("remove an item with no path"));
    return removeTree(enc(path));
}

Result<void> FileManager::removeItem(const QString& path, const std::function<bool()>& keepGoing)
{
    if (path.isEmpty())
        return posixError(ENOENT, QStringLiteral("remove an item with no path"));
    return removeTree(enc(path), &keepGoing);
}

Result<FileAttributes> FileManager::attributesOfItem(const QString& path, bool followLinks)
{
    const Bytes p = enc(path);
    FileAttributes a;
    struct statx sx {};
    const int flags = (followLinks ? 0 : AT_SYMLINK_NOFOLLOW) | AT_STATX_SYNC_AS_STAT;
    if (::statx(AT_FDCWD, p.constData(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
        a.type = typeOf(sx.stx_mode);
        a.size = qint64(sx.stx_size);
        a.modificationDate = dateFrom(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
        if (sx.stx_mask & STATX_BTIME)
            a.creationDate = dateFrom(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
        a.permissions = sx.stx_mode & 07777;
        a.inode = sx.stx_ino;
        a.device = quint64(makedev(sx.stx_dev_major, sx.stx_dev_minor));
        a.ownerID = sx.stx_uid;
        a.linkCount = sx.stx_nlink;
        return a;
    }
    if (errno != ENOSYS)
        return posixError(errno, QStringLiteral("read attributes of %1").arg(path));
    struct stat st {};
    if ((followLinks ? ::stat(p.constData(), &st) : ::lstat(p.constData(), &st)) != 0)
        return posixError(errno, QStringLiteral("read attributes of %1").arg(path));
    a.type = typeOf(st.st_mode);
    a.size = qint64(st.st_size);
    a.modificationDate = dateFrom(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    a.permissions = st.st_mode & 07777;
    a.inode = st.st_ino;
    a.device = quint64(st.st_dev);
    a.ownerID = st.st_uid;
    a.linkCount = st.st_nlink;
    return a;
}

Result<void> FileManager::setModificationDate(const QString& path, const QDateTime& date)
{
    if (!date.isValid())
        return posixError(EINVAL, QStringLiteral("set an invalid date on %1").arg(path));
    struct timespec times[2] = {{0, UTIME_OMIT}, timespecFrom(date)};
    if (::utimensat(AT_FDCWD, enc(path).constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return posixError(errno, QStringLiteral("set the date of %1").arg(path));
    return {};
}

Result<QStringList> FileManager::contentsOfDirectory(const QString& path)
{
    auto raw = listRaw(enc(path));
    if (!raw)
        return std::unexpected(raw.error());
    QStringList names;
    names.reserve(qsizetype(raw->size()));
    for (const Bytes& name : *raw)
        names.append(dec(name));
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

struct Walk {
    const std::function<EnumerationControl(const EnumeratedItem&)>& visit;
    const std::function<bool(const QString&, const Error&)>& onError;
    // Folders on the current branch; a bind mount that loops back is not entered twice.
    std::set<std::pair<dev_t, ino_t>> branch;

    // false: stop everything.
    bool folder(const QString& dir, const QString& relative, int depth)
    {
        auto names = FileManager::contentsOfDirectory(dir);
        if (!names)
            return !onError || onError(dir, names.error());
        return entries(dir, relative, depth, *names);
    }

    bool entries(const QString& dir, const QString& relative, int depth, const QStringList& names)
    {
        for (const QString& name : names) {
            EnumeratedItem item;
            item.path = dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
            item.relativePath = relative.isEmpty() ? name : relative + QLatin1Char('/') + name;
            item.depth = depth;
            struct stat st {};
            if (::lstat(enc(item.path).constData(), &st) != 0)
                continue; // gone since the listing
            item.type = typeOf(st.st_mode);
            const EnumerationControl control = visit(item);
            if (control == EnumerationControl::Stop)
                return false;
            if (control == EnumerationControl::SkipDescendants || item.type != FileType::Directory)
                continue;
            const auto key = std::make_pair(st.st_dev, st.st_ino);
            if (!branch.insert(key).second)
                continue;
            const bool go = folder(item.path, item.relativePath, depth + 1);
            branch.erase(key);
            if (!go)
                return false;
        }
        return true;
    }
};

} // namespace

Result<void> FileManager::enumerate(const QString& root,
                                    const std::function<EnumerationControl(const EnumeratedItem&)>& visit,
                                    const std::function<bool(const QString&, const Error&)>& onError)
{
    // The root itself is read first so that its failure is the caller's error, not onError's.
    auto first = contentsOfDirectory(root);
    if (!first)
        return std::unexpected(first.error());
    Walk walk{visit, onError, {}};
    struct stat st {};
    if (::stat(enc(root).constData(), &st) == 0)
        walk.branch.insert({st.st_dev, st.st_ino});
    walk.entries(root, QString(), 1, *first);
    return {};
}

Result<QStringList> FileManager::subpathsOfDirectory(const QString& root)
{
    QStringList paths;
    auto r = enumerate(root, [&paths](const EnumeratedItem& item) {
        paths.append(item.relativePath);
        return EnumerationControl::Continue;
    });
    if (!r)
        return std::unexpected(r.error());
    return paths;
}

Result<void> FileManager::writeAtomically(const QString& path, const QByteArray& data)
{
    const QFileInfo info(path);
    const Bytes dir = enc(info.absolutePath());
    const Bytes target = enc(info.absoluteFilePath());
    Bytes temp;
    int fd = -1;
    for (int attempt = 0; attempt < MaxTempNameAttempts && fd < 0; ++attempt) {
        temp = join(dir, "." + enc(info.fileName()) + "."
                             + Bytes::number(QRandomGenerator::global()->generate(), 36) + ".tmp");
        // 0666 lets the umask decide, as for any new file.
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return posixError(errno, QStringLiteral("write %1").arg(path));
    }
    if (fd < 0)
        return posixError(EEXIST, QStringLiteral("find a temporary name beside %1").arg(path));

    Result<void> result;
    struct stat old {};
    if (::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);
    for (qsizetype done = 0; result && done < data.size();) {
        const ssize_t w = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            result = posixError(errno, QStringLiteral("write %1").arg(path));
        else
            done += w;
    }
    if (result && ::fsync(fd) != 0)
        result = posixError(errno, QStringLiteral("flush %1").arg(path));
    if (::close(fd) != 0 && result)
        result = posixError(errno, QStringLiteral("write %1").arg(path));
    if (result && ::rename(temp.constData(), target.constData()) != 0)
        result = posixError(errno, QStringLiteral("replace %1").arg(path));
    if (!result) {
        ::unlink(temp.constData());
        return result;
    }
    return fsyncPath(dir);
}

Result<QString> FileManager::claimFreeName(const QString& tempPath, const QString& dir,
                                           const QString& baseName, const QString& ext)
{
    if (baseName.isEmpty() || baseName.contains(QLatin1Char('/')) || ext.contains(QLatin1Char('/'))
        || baseName == QLatin1String(".") || baseName == QLatin1String(".."))
        return posixError(EINVAL, QStringLiteral("claim the name \"%1\" in %2").arg(baseName, dir));
    const Bytes original = enc(tempPath);
    Bytes source = original;
    bool staged = false;
    const QString folder = QDir::cleanPath(dir);
    for (int i = 0; i < MaxFreeNameAttempts; ++i) {
        QString name = i == 0 ? baseName : QStringLiteral("%1_%2").arg(baseName).arg(i);
        if (!ext.isEmpty())
            name += QLatin1Char('.') + ext;
        const QString candidate = folder + QLatin1Char('/') + name;
        if (renameNoReplace(source.constData(), enc(candidate).constData()) == 0) {
            if (staged) {
                if (auto r = removeTree(original); !r)
                    qWarning("%s", qPrintable(r.error().toString()));
            }
            return candidate;
        }
        const int err = errno;
        if (err == EEXIST || err == ENOTEMPTY)
            continue;
        if (err == EXDEV && !staged) {
            // Bring the item onto the folder's file system under a hidden name, then claim.
            const Bytes stage = enc(QStringLiteral("%1/.%2.%3.claim").arg(folder, baseName)
                                        .arg(QRandomGenerator::global()->generate(), 0, 36));
            if (auto r = copyVerified(original, stage); !r)
                return std::unexpected(r.error());
            source = stage;
            staged = true;
            --i;
            continue;
        }
        if (staged)
            removeTree(source);
        return posixError(err, QStringLiteral("move %1 to %2").arg(tempPath, candidate));
    }
    if (staged)
        removeTree(source);
    return posixError(EEXIST, QStringLiteral("find a free name for \"%1\" in %2").arg(baseName, dir));
}

void FileManager::setRenameFunctionForTesting(RenameFunction rename)
{
    g_renameForTesting.store(rename);
}

} // namespace platform
