#include "Platform/Workspace/Trash.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <atomic>
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


std::atomic<Trash::DeviceFunction> g_deviceFunction{nullptr};

Result<quint64> deviceOf(const QString& path, bool followLinks)
{
    if (const auto function = g_deviceFunction.load())
        return function(path, followLinks);
    struct stat st {};
    if ((followLinks ? ::stat(encoded(path).constData(), &st) : ::lstat(encoded(path).constData(), &st)) != 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("read %1").arg(path)));
    return quint64(st.st_dev);
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString childOf(const QString& folder, const QString& name)
{
    return folder == QLatin1String("/") ? QLatin1Char('/') + name : folder + QLatin1Char('/') + name;
}

// Where an item goes: a trash folder and the form of the path its info file records.
struct TrashLocation {
    QString folder;
    QString source;       // the item, as its info file's Path names it below
    QString infoPath;     // absolute in the home trash, relative to the top directory elsewhere
};

// The top directory of the file system that holds the item: the highest of its real parent
// folders on the item's device. A link on the way is resolved first, as it may lead anywhere.
Result<TrashLocation> topDirectoryTrash(const QString& source, quint64 device)
{
    QString top = QFileInfo(parentOf(source)).canonicalFilePath();
    if (top.isEmpty())
        return std::unexpected(Error::posix(ENOENT, QStringLiteral("find the folder of %1").arg(source)));
    auto topDevice = deviceOf(top, true);
    if (!topDevice)
        return std::unexpected(topDevice.error());
    if (*topDevice != device)
        return fail(kDomain, EXDEV, QStringLiteral("Cannot move %1 to the trash: it is a mount point").arg(source));
    while (top != QLatin1String("/")) {
        auto upDevice = deviceOf(parentOf(top), true);
        if (!upDevice || *upDevice != device)
            break;
        top = parentOf(top);
    }
    const QString realSource = childOf(QFileInfo(parentOf(source)).canonicalFilePath(), QFileInfo(source).fileName());
    const QString relative = top == QLatin1String("/") ? realSource.mid(1) : realSource.mid(top.size() + 1);
    return TrashLocation{childOf(top, QStringLiteral(".Trash-%1").arg(::geteuid())), realSource, relative};
}

// A top-directory trash may be made by us, or by the file manager earlier; anything at its name
// that is not a real folder of ours (a link, a file, another user's folder) is not used.
Result<void> ensureTopDirectoryTrash(const QString& folder)
{
    if (::mkdir(encoded(folder).constData(), 0700) == 0)
        return {};
    if (errno != EEXIST)
        return std::unexpected(Error::posix(errno, QStringLiteral("create the trash folder %1").arg(folder)));
    struct stat st {};
    if (::lstat(encoded(folder).constData(), &st) != 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("read the trash folder %1").arg(folder)));
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return fail(kDomain, 5, QStringLiteral("%1 is not a usable trash folder").arg(folder));
    return {};
}

// The nearest folder at or above path that exists: the home trash is only made when used.
QString nearestExisting(QString path)
{
    while (path != QLatin1String("/") && !itemExists(path))
        path = parentOf(path);
    return path;
}

Result<TrashLocation> trashFor(const QString& source)
{
    auto device = deviceOf(source, false);
    if (!device)
        return std::unexpected(device.error());
    const QString home = Trash::homeTrashPath();
    auto homeDevice = deviceOf(nearestExisting(home), true);
    if (!homeDevice)
        return std::unexpected(homeDevice.error());
    if (*homeDevice != *device)
        return topDirectoryTrash(source, *device);
    // A fresh account may not have its data home yet.
    if (auto made = FileManager::createDirectory(Paths::dataHome(), true); !made)
        return std::unexpected(made.error());
    if (auto made = ensurePrivateFolder(home); !made)
        return std::unexpected(made.error());
    return TrashLocation{home, source, source};
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
    const QString refused = QStringLiteral("Cannot move %1 to the trash").arg(source);
    if (source == QLatin1String("/") || Paths::isPathInside(homeTrashPath(), source)
        || Paths::isPathInside(source, homeTrashPath()))
        return fail(kDomain, 3, refused);
    struct stat sourceStat {};
    if (::lstat(encoded(source).constData(), &sourceStat) != 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("move %1 to the trash").arg(source)));

    auto location = trashFor(source);
    if (!location)
        return std::unexpected(location.error());
    const QString trash = location->folder;
    if (Paths::isPathInside(location->source, trash) || Paths::isPathInside(trash, location->source))
        return fail(kDomain, 3, refused);
    if (trash != homeTrashPath())
        if (auto made = ensureTopDirectoryTrash(trash); !made)
            return std::unexpected(made.error());
    const QString filesDir = trash + QStringLiteral("/files");
    const QString infoDir = trash + QStringLiteral("/info");
    for (const QString& folder : {filesDir, infoDir})
        if (auto made = ensurePrivateFolder(folder); !made)
            return std::unexpected(made.error());

    const QByteArray info =
        trashInfo(location->infoPath, deletionDate.isValid() ? deletionDate : QDateTime::currentDateTime());
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
        // A rename only: across devices (a bind mount, a look-up that was wrong) it fails.
        auto moved = FileManager::renameItem(source, target);
        if (moved)
            return target;
        ::unlink(encoded(infoPath).constData());
        if (itemExists(target) && itemExists(source))
            continue; // someone took the name between our check and the rename
        return std::unexpected(moved.error());
    }
    return fail(kDomain, 4, QStringLiteral("No free name in the trash for %1").arg(source));
}

void Trash::setDeviceFunctionForTesting(DeviceFunction function)
{
    g_deviceFunction.store(function);
}

} // namespace platform
