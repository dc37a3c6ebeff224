#include "Platform/Workspace/Trash.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

const QString kDomain = QStringLiteral("Trash");

// Names tried for one item before giving up: far more than any real trash holds of one name.
constexpr int kMaxNameAttempts = 10000;

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

Result<void> ensurePrivateFolder(const QString& path)
{
    if (::mkdir(encoded(path).constData(), 0700) != 0 && errno != EEXIST)
        return std::unexpected(Error::posix(errno, QStringLiteral("create the trash folder %1").arg(path)));
    struct stat st {};
    if (::lstat(encoded(path).constData(), &st) != 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("read the trash folder %1").arg(path)));
    if (!S_ISDIR(st.st_mode))
        return fail(kDomain, 1, QStringLiteral("%1 is not a folder").arg(path));
    return {};
}

// "report.pdf" → "report.2.pdf"; the first dot of a hidden name is part of its stem.
QString numberedName(const QString& name, int n)
{
    if (n == 1)
        return name;
    const qsizetype dot = name.indexOf(QLatin1Char('.'), 1);
    if (dot < 0)
        return QStringLiteral("%1.%2").arg(name).arg(n);
    return QStringLiteral("%1.%2%3").arg(name.left(dot)).arg(n).arg(name.mid(dot));
}

bool itemExists(const QString& path)
{
    struct stat st {};
    return ::lstat(encoded(path).constData(), &st) == 0;
}

// Creates the info file only when the name is free; false when it is taken.
Result<bool> claimInfo(const QString& infoPath, const QByteArray& content)
{
    const int fd = ::open(encoded(infoPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST)
            return false;
        return std::unexpected(Error::posix(errno, QStringLiteral("create %1").arg(infoPath)));
    }
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, size_t(content.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            ::unlink(encoded(infoPath).constData());
            return std::unexpected(Error::posix(err, QStringLiteral("write %1").arg(infoPath)));
        }
        written += n;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(encoded(infoPath).constData());
        return std::unexpected(Error::posix(err, QStringLiteral("write %1").arg(infoPath)));
    }
    return true;
}

} // namespace

QString Trash::homeTrashPath()
{
    return Paths::dataHome() + QStringLiteral("/Trash");
}

QByteArray Trash::trashInfo(const QString& originalPath, const QDateTime& deletionDate)
{
    // The path as the file system's bytes, escaped as in URLs.
    const QByteArray path = encoded(originalPath).toPercentEncoding("/");
    return QByteArray("[Trash Info]\nPath=") + path + "\nDeletionDate="
           + deletionDate.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "\n";
}

Result<QString> Trash::moveToTrash(const QString& path, const QDateTime& deletionDate)
{
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')))
        return fail(kDomain, 2, QStringLiteral("Cannot move \"%1\" to the trash: not an absolute path").arg(path));
    const QString source = QDir::cleanPath(path);
    const QString trash = homeTrashPath();
    if (source == QLatin1String("/") || Paths::isPathInside(trash, source) || Paths::isPathInside(source, trash))
        return fail(kDomain, 3, QStringLiteral("Cannot move %1 to the trash").arg(source));
    struct stat sourceStat {};
    if (::lstat(encoded(source).constData(), &sourceStat) != 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("move %1 to the trash").arg(source)));

    // A fresh account may not have its data home yet.
    if (auto home = FileManager::createDirectory(Paths::dataHome(), true); !home)
        return std::unexpected(home.error());
    for (const QString& folder : {trash, trash + QStringLiteral("/files"), trash + QStringLiteral("/info")})
        if (auto made = ensurePrivateFolder(folder); !made)
            return std::unexpected(made.error());
    const QString filesDir = trash + QStringLiteral("/files");
    const QString infoDir = trash + QStringLiteral("/info");

    struct stat trashStat {};
    if (::stat(encoded(filesDir).constData(), &trashStat) != 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("read %1").arg(filesDir)));
    if (trashStat.st_dev != sourceStat.st_dev)
        return fail(kDomain, EXDEV,
                    QStringLiteral("Cannot move %1 to the trash: it is on another file system than %2")
                        .arg(source, trash));

    const QByteArray info = trashInfo(source, deletionDate.isValid() ? deletionDate : QDateTime::currentDateTime());
    const QString name = QFileInfo(source).fileName();
    for (int n = 1; n <= kMaxNameAttempts; ++n) {
        const QString candidate = numberedName(name, n);
        const QString target = filesDir + QLatin1Char('/') + candidate;
        const QString infoPath = infoDir + QLatin1Char('/') + candidate + QStringLiteral(".trashinfo");
        if (itemExists(target))
            continue; // an item left without its info file still owns its name
        auto claimed = claimInfo(infoPath, info);
        if (!claimed)
            return std::unexpected(claimed.error());
        if (!*claimed)
            continue;
        auto moved = FileManager::moveItem(source, target);
        if (moved)
            return target;
        ::unlink(encoded(infoPath).constData());
        if (itemExists(target) && itemExists(source))
            continue; // someone took the name between our check and the rename
        return std::unexpected(moved.error());
    }
    return fail(kDomain, 4, QStringLiteral("No free name in the trash for %1").arg(source));
}

} // namespace platform
