#include "Platform/DiskImage/DiskImageRuntime.h"

#include "Platform/Foundation/Paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform::sbx {

namespace {

const QString kDevicePrefix = QStringLiteral("/dev/folivo-sbx-");

Error runtimeError(const QString& message)
{
    return Error{QStringLiteral("SafeBoxRuntime"), 1, message};
}

QString entryPath(const QString& device, const char* suffix)
{
    const QString id = deviceId(device);
    return id.isEmpty() ? QString() : registryFolder() + QLatin1Char('/') + id + QLatin1String(suffix);
}

Result<QJsonObject> readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::unexpected(runtimeError(QStringLiteral("cannot read %1").arg(path)));
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(1024 * 1024), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::unexpected(runtimeError(QStringLiteral("%1 is damaged").arg(path)));
    return doc.object();
}

} // namespace

QString runtimeFolderPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime))
        return {};
    return QDir::cleanPath(runtime) + QStringLiteral("/Folivo 2/SafeBox");
}

Result<QString> ensureRuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime) || !QFileInfo(runtime).isDir())
        return std::unexpected(runtimeError(
            QStringLiteral("no private runtime folder (XDG_RUNTIME_DIR is not set to an existing folder)")));
    auto app = Paths::ensurePrivateDirectory(QDir::cleanPath(runtime) + QStringLiteral("/Folivo 2"));
    if (!app)
        return std::unexpected(app.error());
    auto box = Paths::ensurePrivateDirectory(runtimeFolderPath());
    if (!box)
        return std::unexpected(box.error());
    auto registry = Paths::ensurePrivateDirectory(registryFolder());
    if (!registry)
        return std::unexpected(registry.error());
    const QString tag = *box + QStringLiteral("/CACHEDIR.TAG");
    if (!QFileInfo::exists(tag)) {
        QFile file(tag);
        if (file.open(QIODevice::WriteOnly))
            file.write("Signature: 8a477f597d28d172789f06886806bc55\n"
                       "# Open SafeBoxes of Folivo 2: plaintext that must not be backed up.\n");
    }
    return *box;
}

QString deviceForBox(const QByteArray& uuid, const QString& storeFile)
{
    const QFileInfo info(storeFile);
    const QString canonical = info.canonicalFilePath();
    const QByteArray place = QFile::encodeName(canonical.isEmpty() ? info.absoluteFilePath() : canonical);
    const QByteArray digest = QCryptographicHash::hash(uuid + QByteArray(1, '\0') + place, QCryptographicHash::Sha256);
    return kDevicePrefix + QString::fromLatin1(digest.left(16).toHex());
}

QString deviceId(const QString& device)
{
    if (!device.startsWith(kDevicePrefix))
        return {};
    const QString id = device.mid(kDevicePrefix.size());
    if (id.size() != 32 && id.size() != 8)
        return {};
    for (const QChar c : id)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return {};
    return id;
}

QString registryFolder()
{
    const QString root = runtimeFolderPath();
    return root.isEmpty() ? QString() : root + QStringLiteral("/attached");
}

Result<RegistryEntry> readRegistryEntry(const QString& device)
{
    const QString path = entryPath(device, ".json");
    if (path.isEmpty() || registryFolder().isEmpty())
        return std::unexpected(runtimeError(QStringLiteral("No such device")));
    auto json = readJson(path);
    if (!json)
        return std::unexpected(runtimeError(QStringLiteral("No such device")));
    RegistryEntry entry;
    entry.device = device;
    entry.image = json->value(QStringLiteral("image")).toString();
    entry.mount = json->value(QStringLiteral("mount")).toString();
    entry.uuidHex = json->value(QStringLiteral("uuid")).toString();
    entry.capacity = quint64(json->value(QStringLiteral("capacity")).toDouble());
    entry.sealerPid = qint64(json->value(QStringLiteral("sealerPid")).toDouble());
    return entry;
}

Result<void> writeRegistryEntry(const RegistryEntry& entry)
{
    const QJsonObject object{{QStringLiteral("image"), entry.image},
                             {QStringLiteral("mount"), entry.mount},
                             {QStringLiteral("uuid"), entry.uuidHex},
                             {QStringLiteral("capacity"), double(entry.capacity)},
                             {QStringLiteral("sealerPid"), double(entry.sealerPid)}};
    return writeFileDurably(entryPath(entry.device, ".json"), QJsonDocument(object).toJson());
}

void removeRegistryEntry(const QString& device)
{
    QFile::remove(entryPath(device, ".json"));
    QFile::remove(entryPath(device, ".state"));
    QFile::remove(entryPath(device, ".seal-request"));
}

Result<void> requestSeal(const QString& device)
{
    const QString path = sealRequestPath(device);
    if (path.isEmpty())
        return std::unexpected(runtimeError(QStringLiteral("%1 is no SafeBox device").arg(device)));
    // Its presence is the request; nothing needs to survive a crash, so no sync.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return std::unexpected(runtimeError(QStringLiteral("cannot ask for a seal at %1: %2").arg(path, file.errorString())));
    return {};
}

QString sealRequestPath(const QString& device)
{
    return entryPath(device, ".seal-request");
}

bool takeSealRequest(const QString& device)
{
    const QString path = sealRequestPath(device);
    // Removed before the seal is marked due: a request made after this point is a new one.
    return !path.isEmpty() && ::unlink(QFile::encodeName(path).constData()) == 0;
}

QStringList registeredDevices()
{
    QStringList devices;
    const QString folder = registryFolder();
    if (folder.isEmpty())
        return devices;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        const QString device = kDevicePrefix + name.chopped(5);
        if (!deviceId(device).isEmpty())
            devices.append(device);
    }
    return devices;
}

SealStatus readSealStatus(const QString& device)
{
    SealStatus status;
    const QString path = entryPath(device, ".state");
    if (path.isEmpty())
        return status;
    auto json = readJson(path);
    if (!json)
        return status;
    status.generation = quint64(json->value(QStringLiteral("generation")).toDouble());
    status.lastSealBeganNs = qint64(json->value(QStringLiteral("lastSealBeganNs")).toString().toLongLong());
    status.lastFailure = json->value(QStringLiteral("lastFailure")).toString();
    status.sealerPid = qint64(json->value(QStringLiteral("sealerPid")).toDouble());
    status.sealedAtRealNs = json->value(QStringLiteral("sealedAtRealNs")).toString().toLongLong();
    return status;
}

Result<void> writeSealStatus(const QString& device, const SealStatus& status)
{
    const QJsonObject object{{QStringLiteral("generation"), double(status.generation)},
                             // as text: a double would round nanoseconds of a long uptime
                             {QStringLiteral("lastSealBeganNs"), QString::number(status.lastSealBeganNs)},
                             {QStringLiteral("sealedAtRealNs"), QString::number(status.sealedAtRealNs)},
                             {QStringLiteral("lastFailure"), status.lastFailure},
                             {QStringLiteral("sealerPid"), double(status.sealerPid)}};
    return writeFileDurably(entryPath(device, ".state"), QJsonDocument(object).toJson());
}

qint64 monotonicNowNs()
{
    struct timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 realtimeNowNs()
{
    struct timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool isSealerAlive(qint64 pid, const QString& device)
{
    if (pid <= 0 || deviceId(device).isEmpty())
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size() || line.at(close + 2) == 'Z' || line.at(close + 2) == 'X')
        return false;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return false;
    // A whole argument: one device name may begin another.
    return cmdline.readAll().split('\0').contains(device.toUtf8());
}

Result<AttachedRecord> readAttachedRecord(const QString& mount)
{
    auto json = readJson(mount + QStringLiteral("/.sbx-attached"));
    if (!json)
        return std::unexpected(json.error());
    AttachedRecord record;
    record.uuidHex = json->value(QStringLiteral("uuid")).toString();
    record.image = json->value(QStringLiteral("image")).toString();
    record.device = json->value(QStringLiteral("device")).toString();
    record.capacity = quint64(json->value(QStringLiteral("capacity")).toDouble());
    return record;
}

Result<void> writeAttachedRecord(const QString& folder, const AttachedRecord& record)
{
    const QJsonObject object{{QStringLiteral("uuid"), record.uuidHex},
                             {QStringLiteral("image"), record.image},
                             {QStringLiteral("device"), record.device},
                             {QStringLiteral("capacity"), double(record.capacity)}};
    return writeFileDurably(folder + QStringLiteral("/.sbx-attached"), QJsonDocument(object).toJson());
}

StoreLock::StoreLock(const QString& storeFile)
{
    const QFileInfo info(storeFile);
    const QByteArray path = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                                              + QStringLiteral(".lock"));
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_error = QString::fromLocal8Bit(strerror(errno));
        return;
    }
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno == EINTR)
            continue;
        m_error = QString::fromLocal8Bit(strerror(errno));
        ::close(m_fd);
        m_fd = -1;
        return;
    }
}

StoreLock::~StoreLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void syncFolderOf(const QString& path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

Result<void> writeFileDurably(const QString& path, const QByteArray& bytes)
{
    if (path.isEmpty())
        return std::unexpected(runtimeError(QStringLiteral("no place to write")));
    const QString temporary = path + QStringLiteral(".tmp-%1").arg(::getpid());
    const QByteArray native = QFile::encodeName(temporary);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("write %1").arg(temporary)));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            ::unlink(native.constData());
            return std::unexpected(Error::posix(err, QStringLiteral("write %1").arg(temporary)));
        }
        done += n;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || ::rename(native.constData(), QFile::encodeName(path).constData()) != 0) {
        const int err = errno;
        ::unlink(native.constData());
        return std::unexpected(Error::posix(err, QStringLiteral("write %1").arg(path)));
    }
    syncFolderOf(path);
    return {};
}

qint64 freeBytes(const QString& path)
{
    struct statvfs fs{};
    if (::statvfs(QFile::encodeName(path).constData(), &fs) != 0)
        return -1;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

} // namespace platform::sbx
