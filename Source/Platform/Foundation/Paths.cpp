#include "Platform/Foundation/Paths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

const char* const TemporaryFolderName = "Folivo 2";
constexpr mode_t PrivateMode = 0700;

QString absoluteEnv(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

QString homeOfPasswdEntry(const struct passwd* pw)
{
    if (!pw || !pw->pw_dir || !*pw->pw_dir)
        return {};
    return QDir::cleanPath(QFile::decodeName(pw->pw_dir));
}

// getpwuid_r/getpwnam_r with a growing buffer; the plain calls are not thread-safe.
template <class Lookup>
QString lookupHome(Lookup lookup)
{
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? size_t(hint) : 4096);
    for (;;) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        const int rc = lookup(&entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        return rc == 0 ? homeOfPasswdEntry(found) : QString();
    }
}

QString xdgOrDefault(const char* variable, const char* relative)
{
    const QString value = absoluteEnv(variable);
    return value.isEmpty() ? Paths::homeDirectory() + QLatin1Char('/') + QLatin1String(relative) : value;
}

} // namespace

QString Paths::homeDirectory()
{
    const QString home = absoluteEnv("HOME");
    return home.isEmpty() ? realHomeDirectory() : home;
}

QString Paths::realHomeDirectory()
{
    const uid_t uid = ::getuid();
    return lookupHome([uid](struct passwd* e, char* b, size_t n, struct passwd** r) {
        return ::getpwuid_r(uid, e, b, n, r);
    });
}

QString Paths::dataHome() { return xdgOrDefault("XDG_DATA_HOME", ".local/share"); }
QString Paths::configHome() { return xdgOrDefault("XDG_CONFIG_HOME", ".config"); }
QString Paths::cacheHome() { return xdgOrDefault("XDG_CACHE_HOME", ".cache"); }
QString Paths::applicationSupportDirectory() { return dataHome(); }

QString Paths::documentsDirectory()
{
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return docs.isEmpty() ? homeDirectory() + QStringLiteral("/Documents") : docs;
}

QString Paths::temporaryDirectoryPath()
{
    const QString runtime = absoluteEnv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QLatin1Char('/') + QLatin1String(TemporaryFolderName);
    return QStringLiteral("%1/%2-%3").arg(QDir::tempPath(), QLatin1String(TemporaryFolderName)).arg(::getuid());
}

Result<QString> Paths::temporaryDirectory()
{
    return ensurePrivateDirectory(temporaryDirectoryPath());
}

Result<QString> Paths::ensurePrivateDirectory(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), PrivateMode) != 0 && errno != EEXIST)
        return std::unexpected(Error::posix(errno, QStringLiteral("create folder %1").arg(path)));

    // Opening without following links and checking the open descriptor leaves no window in
    // which another user could swap the folder for a link of their own.
    int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        // Our own folder left at mode 0 or 0100 cannot be opened for reading; check it by
        // path, repair its mode and retry once.
        struct stat st {};
        if (::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
            && ::chmod(native.constData(), PrivateMode) == 0)
            fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        else
            errno = EACCES;
    }
    if (fd < 0) {
        const int err = errno;
        if (err == ELOOP || err == ENOTDIR)
            return fail(QStringLiteral("POSIX"), err,
                        QStringLiteral("%1 is not a folder of its own (a file or a link); refusing to use it").arg(path));
        return std::unexpected(Error::posix(err, QStringLiteral("open folder %1").arg(path)));
    }
    struct stat st {};
    Result<QString> result = path;
    if (::fstat(fd, &st) != 0) {
        result = std::unexpected(Error::posix(errno, QStringLiteral("inspect folder %1").arg(path)));
    } else if (st.st_uid != ::geteuid()) {
        result = fail(QStringLiteral("POSIX"), EPERM,
                      QStringLiteral("%1 belongs to another user (uid %2); refusing to use it").arg(path).arg(st.st_uid));
    } else if ((st.st_mode & 07777) != PrivateMode && ::fchmod(fd, PrivateMode) != 0) {
        result = std::unexpected(Error::posix(errno, QStringLiteral("make folder %1 private").arg(path)));
    }
    ::close(fd);
    return result;
}

QString Paths::expandTilde(const QString& path)
{
    if (!path.startsWith(QLatin1Char('~')))
        return path;
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
    QString home;
    if (user.isEmpty()) {
        home = homeDirectory();
    } else {
        const QByteArray name = user.toLocal8Bit();
        home = lookupHome([&name](struct passwd* e, char* b, size_t n, struct passwd** r) {
            return ::getpwnam_r(name.constData(), e, b, n, r);
        });
    }
    if (home.isEmpty())
        return path;
    if (slash < 0)
        return home;
    // The root as home must not give "//x".
    return (home == QLatin1String("/") ? QString() : home) + path.mid(slash);
}

bool Paths::isPathInside(const QString& path, const QString& folder)
{
    if (path.isEmpty() || folder.isEmpty() || !QDir::isAbsolutePath(path) || !QDir::isAbsolutePath(folder))
        return false;
    const QString p = QDir::cleanPath(path);
    const QString f = QDir::cleanPath(folder);
    if (p == f)
        return true;
    if (f == QLatin1String("/"))
        return true;
    return p.size() > f.size() && p.startsWith(f) && p[f.size()] == QLatin1Char('/');
}

} // namespace platform
