#include "Platform/Bonjour/DirectoryServiceBackend.h"

#include "Platform/FileEvents/FolderWatch.h"
#include "Platform/Foundation/DispatchSource.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

// A record whose file is unlocked but younger than this may still be being written by an owner
// that has not taken its lock yet; it is left alone.
constexpr qint64 kStaleGraceMs = 2000;
// Records are tiny; anything larger is not ours.
constexpr qint64 kMaxRecordSize = 64 * 1024;
const QString kSuffix = QStringLiteral(".service");

QString safeComponent(QString text)
{
    text.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (text == QStringLiteral(".") || text == QStringLiteral(".."))
        text = QLatin1Char('_') + text;
    return text;
}

QString typeFolder(const QString& root, const QString& type, const QString& domain)
{
    return QStringLiteral("%1/%2@%3").arg(root, safeComponent(NetService::normalizedType(type)),
                                          safeComponent(domain.isEmpty() ? QStringLiteral("local.") : domain));
}

QVariantMap toRecord(const NetService& s)
{
    QVariantMap txt;
    for (auto it = s.txt.begin(); it != s.txt.end(); ++it)
        txt.insert(it.key(), it.value());
    return {{QStringLiteral("name"), s.name},
            {QStringLiteral("type"), NetService::normalizedType(s.type)},
            {QStringLiteral("domain"), s.domain},
            {QStringLiteral("port"), qint64(s.port)},
            {QStringLiteral("txt"), txt},
            {QStringLiteral("pid"), qint64(::getpid())}};
}

std::optional<NetService> fromRecord(const QVariant& value)
{
    const QVariantMap m = value.toMap();
    NetService s;
    s.name = m.value(QStringLiteral("name")).toString();
    s.type = m.value(QStringLiteral("type")).toString();
    s.domain = m.value(QStringLiteral("domain")).toString();
    bool ok = false;
    const qint64 port = m.value(QStringLiteral("port")).toLongLong(&ok);
    if (s.name.isEmpty() || s.type.isEmpty() || !ok || port <= 0 || port > 65535)
        return std::nullopt;
    s.port = static_cast<quint16>(port);
    const QVariantMap txt = m.value(QStringLiteral("txt")).toMap();
    for (auto it = txt.begin(); it != txt.end(); ++it)
        s.txt.insert(it.key(), it.value().toByteArray());
    s.isLocal = true;
    return s;
}

// What a look at one record found.
struct RecordLook {
    std::optional<NetService> service; // set while its owner holds the lock
    qint64 pid = 0;                    // the owner's process, as the record says
    // Unlocked but too young to call dead: look again after this long.
    std::optional<std::chrono::milliseconds> undecidedFor;
};

// Reads a record and answers whether its owner is alive; removes records of dead owners.
RecordLook lookAtRecord(const QString& path)
{
    RecordLook look;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return look;
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        // Nobody holds it: the owner is gone (or has not locked it yet; see kStaleGraceMs).
        const QFileInfo info(path);
        const qint64 age = info.lastModified().msecsTo(QDateTime::currentDateTime());
        if (age > kStaleGraceMs)
            ::unlink(name.constData());
        else
            look.undecidedFor = std::chrono::milliseconds(kStaleGraceMs - std::max<qint64>(age, 0) + 1);
        ::close(fd);
        return look;
    }
    QFile file;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        const QByteArray bytes = file.read(kMaxRecordSize + 1);
        if (bytes.size() <= kMaxRecordSize) {
            if (auto value = PropertyList::read(bytes)) {
                look.service = fromRecord(*value);
                look.pid = value->toMap().value(QStringLiteral("pid")).toLongLong();
            }
        }
    } else {
        ::close(fd);
    }
    return look;
}

std::optional<NetService> readLiveRecord(const QString& path)
{
    return lookAtRecord(path).service;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

struct Claim {
    int fd = -1;        // the locked record, on success
    bool taken = false; // the name exists already
};

// Puts a whole, locked record under the name, unless the name exists. The record is made
// without a name first and linked in when complete, so a browser woken by its appearance
// reads it whole and locked, never empty or unowned; where that cannot be done (no unnamed
// files on this file system, no /proc) it is named first and filled after.
Claim claimRecord(const QString& folder, const QString& path, const QByteArray& bytes)
{
    const QByteArray encoded = QFile::encodeName(path);
    int fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !writeAll(fd, bytes)) {
            ::close(fd);
            return {};
        }
        ::fsync(fd);
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, encoded.constData(), AT_SYMLINK_FOLLOW) == 0)
            return {fd, false};
        const int error = errno;
        ::close(fd);
        if (error == EEXIST)
            return {-1, true};
    }
    fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return {-1, errno == EEXIST};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !writeAll(fd, bytes)) {
        ::unlink(encoded.constData());
        ::close(fd);
        return {};
    }
    ::fsync(fd);
    return {fd, false};
}

int openProcessHandle(qint64 pid)
{
#ifdef SYS_pidfd_open
    if (pid > 0 && pid <= std::numeric_limits<pid_t>::max())
        return int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
#endif
    return -1;
}

class Publication : public ServiceHandle {
public:
    Publication(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}
    ~Publication() override
    {
        *alive = false;
        // Unlink first, then drop the lock, so no browser sees an unlocked live record.
        ::unlink(QFile::encodeName(m_path).constData());
        ::close(m_fd);
    }

    // Cleared when the publication goes: its queued "published" answer is dropped then.
    const std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);

private:
    int m_fd;
    QString m_path;
};

std::atomic<int> g_scans{0};

bool isRecordName(const QByteArray& name)
{
    return name.endsWith(".service");
}

// A watch on the process that owns a record: its handle becomes readable when it ends.
struct OwnerWatch {
    qint64 pid = 0;
    dev_t device = 0;
    ino_t inode = 0;
    DispatchSource source;
};

// Removes the record its owner has just been seen to end with, when nobody holds it now. It
// needs no grace: the record was seen locked before. A record published anew under the name
// since is another file and stays.
void clearEndedRecord(const QString& path, dev_t device, ino_t inode)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    struct stat held{};
    struct stat named{};
    if (::fstat(fd, &held) == 0 && held.st_dev == device && held.st_ino == inode
        && ::flock(fd, LOCK_SH | LOCK_NB) == 0 && ::stat(name.constData(), &named) == 0
        && named.st_dev == device && named.st_ino == inode)
        ::unlink(name.constData());
    ::close(fd);
}

struct BrowseState {
    QString folder;
    DispatchQueue queue;     // where the callbacks run
    DispatchQueue scanQueue; // serial: every member below is touched only there
    BrowseCallbacks callbacks;
    std::unique_ptr<FolderWatch> watch;
    QHash<QString, NetService> known; // by file path
    std::map<QString, OwnerWatch> owners; // by file path
    std::optional<std::chrono::steady_clock::time_point> recheckAt;
    std::atomic<bool> alive{true};
};

// Browsers look at the folder when it changes and when a record's owner ends, never on a clock:
// an owner that dies leaves its record behind (and its lock goes without a trace in the folder),
// so each live record's owner is watched through a process handle. Only what cannot be watched
// that way is looked at again after a while: a record too young to judge, an owner whose process
// cannot be watched, a folder that cannot be watched.
class Browse : public ServiceHandle {
public:
    explicit Browse(std::shared_ptr<BrowseState> state) : m_state(std::move(state))
    {
        m_state->scanQueue = DispatchQueue::serial(QStringLiteral("ServiceDirectoryBrowse"));
        // Made on the queue its events arrive on, so none arrives before it is in place; and
        // watching starts before the first look, so nothing published in between is missed.
        m_state->scanQueue.async([weak = std::weak_ptr<BrowseState>(m_state)] {
            auto state = weak.lock();
            if (!state)
                return;
            state->watch = std::make_unique<FolderWatch>(
                state->folder, state->scanQueue, [weak](const QByteArrayList& names, bool) {
                    auto s = weak.lock();
                    if (s && (names.isEmpty() || std::any_of(names.begin(), names.end(), isRecordName)))
                        scan(s);
                });
            scan(state);
        });
    }
    ~Browse() override { m_state->alive = false; }

private:
    static void scan(const std::shared_ptr<BrowseState>& state)
    {
        if (!state->alive)
            return;
        ++g_scans;
        const auto now = std::chrono::steady_clock::now();
        std::optional<std::chrono::milliseconds> recheckIn;
        auto recheckAfter = [&](std::chrono::milliseconds wait) {
            if (!recheckIn || wait < *recheckIn)
                recheckIn = wait;
        };
        if (!state->watch->isWatching()) {
            // The folder was removed (or never could be watched): made again and watched anew.
            QDir().mkpath(state->folder);
            if (!state->watch->rewatch())
                recheckAfter(DirectoryServiceBackend::kUnwatchedRecheckInterval);
        }

        QHash<QString, NetService> live;
        QHash<QString, qint64> pids;
        const QDir dir(state->folder);
        for (const QString& entry : dir.entryList(QDir::Files, QDir::Name)) {
            if (!entry.endsWith(kSuffix))
                continue;
            const QString path = dir.filePath(entry);
            RecordLook look = lookAtRecord(path);
            if (look.undecidedFor)
                recheckAfter(*look.undecidedFor);
            if (look.service) {
                live.insert(path, *look.service);
                pids.insert(path, look.pid);
            }
        }
        for (auto it = state->known.begin(); it != state->known.end(); ++it)
            if (!live.contains(it.key()))
                deliver(state, it.value(), false);
        for (auto it = live.begin(); it != live.end(); ++it) {
            const auto old = state->known.constFind(it.key());
            if (old == state->known.constEnd())
                deliver(state, it.value(), true);
            else if (old->port != it->port || old->txt != it->txt) {
                // A re-published record under the same name: gone, then found with new values.
                deliver(state, *old, false);
                deliver(state, it.value(), true);
            }
        }
        state->known = std::move(live);

        std::erase_if(state->owners, [&](const auto& owner) {
            return !pids.contains(owner.first) || pids.value(owner.first) != owner.second.pid;
        });
        for (auto it = pids.begin(); it != pids.end(); ++it) {
            if (state->owners.contains(it.key()) || it.value() == ::getpid())
                continue;
            if (!watchOwner(state, it.key(), it.value()))
                recheckAfter(DirectoryServiceBackend::kUnwatchedRecheckInterval);
        }

        if (recheckIn) {
            const auto at = now + *recheckIn;
            if (!state->recheckAt || at < *state->recheckAt || *state->recheckAt <= now) {
                state->recheckAt = at;
                state->scanQueue.after(*recheckIn, [weak = std::weak_ptr<BrowseState>(state), at] {
                    auto s = weak.lock();
                    if (!s || s->recheckAt != at)
                        return;
                    s->recheckAt.reset();
                    scan(s);
                });
            }
        }
    }

    static bool watchOwner(const std::shared_ptr<BrowseState>& state, const QString& path, qint64 pid)
    {
        const int fd = openProcessHandle(pid);
        if (fd < 0)
            return false;
        // The lock is looked at again once the handle is open: a pid read from the record of
        // an owner that died just before is no proof that the handle is that owner's.
        if (!readLiveRecord(path)) {
            ::close(fd);
            state->scanQueue.async([weak = std::weak_ptr<BrowseState>(state)] {
                if (auto s = weak.lock())
                    scan(s);
            });
            return true;
        }
        struct stat record{};
        if (::stat(QFile::encodeName(path).constData(), &record) != 0) {
            ::close(fd);
            return true; // gone meanwhile: its removal wakes the folder's watch
        }
        OwnerWatch owner{pid, record.st_dev, record.st_ino, DispatchSource(fd, DispatchSource::Kind::Read, state->scanQueue)};
        owner.source.setEventHandler([weak = std::weak_ptr<BrowseState>(state), path](std::size_t) {
            auto s = weak.lock();
            if (!s)
                return;
            // An ended process stays readable: its watch goes before the look.
            if (auto ended = s->owners.extract(path))
                clearEndedRecord(path, ended.mapped().device, ended.mapped().inode);
            scan(s);
        });
        owner.source.setCancelHandler([fd] { ::close(fd); });
        owner.source.resume();
        state->owners.emplace(path, std::move(owner));
        return true;
    }

    static void deliver(const std::shared_ptr<BrowseState>& state, NetService service, bool found)
    {
        state->queue.async([weak = std::weak_ptr<BrowseState>(state), service, found] {
            auto s = weak.lock();
            if (!s || !s->alive)
                return;
            const auto& cb = found ? s->callbacks.found : s->callbacks.removed;
            if (cb)
                cb(service);
        });
    }

    std::shared_ptr<BrowseState> m_state;
};

class ResolveHandle : public ServiceHandle {
public:
    const std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
    ~ResolveHandle() override { *alive = false; }
};

} // namespace

QString NetService::normalizedType(const QString& type)
{
    QString t = type.trimmed();
    while (t.endsWith(QLatin1Char('.')))
        t.chop(1);
    return t;
}

int DirectoryServiceBackend::scanCountForTesting()
{
    return g_scans.load();
}

DirectoryServiceBackend::DirectoryServiceBackend(QString folder)
    : m_folder(folder.isEmpty() ? defaultFolder() : std::move(folder))
{
}

QString DirectoryServiceBackend::defaultFolder()
{
    const QByteArray env = qgetenv("FOLIVO_SERVICE_DIRECTORY");
    if (!env.isEmpty())
        return QFile::decodeName(env);
    return Paths::temporaryDirectoryPath() + QStringLiteral("/Services");
}

Result<std::unique_ptr<ServiceHandle>> DirectoryServiceBackend::publish(
    const NetService& service, DispatchQueue queue, std::function<void(const NetService&)> published)
{
    if (service.name.isEmpty() || service.port == 0)
        return fail(QStringLiteral("Bonjour"), 1, QStringLiteral("A service needs a name and a port"));
    const QString folder = typeFolder(m_folder, service.type, service.domain);
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("Bonjour"), 2, QStringLiteral("Cannot create %1").arg(folder));

    // A taken name gets " (2)", " (3)"… rather than replacing its owner: two copies that
    // publish under one name must both stay visible to the browsers, each under a name of its own.
    NetService final = service;
    final.isLocal = true;
    for (int n = 1; n < 1000; ++n) {
        final.name = n == 1 ? service.name : QStringLiteral("%1 (%2)").arg(service.name).arg(n);
        const QString path = folder + QLatin1Char('/') + safeComponent(final.name) + kSuffix;
        auto bytes = PropertyList::write(toRecord(final), PlistFormat::Xml);
        if (!bytes)
            return fail(QStringLiteral("Bonjour"), 3, QStringLiteral("Cannot write the service record %1").arg(path));
        Claim claim = claimRecord(folder, path, *bytes);
        if (claim.taken) {
            // Taken, unless its owner died: then the stale record is cleared and the name reused.
            if (readLiveRecord(path) || QFileInfo::exists(path))
                continue;
            claim = claimRecord(folder, path, *bytes);
            if (claim.taken)
                continue;
        }
        if (claim.fd < 0)
            return fail(QStringLiteral("Bonjour"), 3, QStringLiteral("Cannot write the service record %1").arg(path));
        auto publication = std::make_unique<Publication>(claim.fd, path);
        if (published)
            queue.async([alive = publication->alive, published, final] {
                if (*alive)
                    published(final);
            });
        return publication;
    }
    return fail(QStringLiteral("Bonjour"), 4, QStringLiteral("No free name for %1").arg(service.name));
}

Result<std::unique_ptr<ServiceHandle>> DirectoryServiceBackend::browse(const QString& type, const QString& domain,
                                                                       DispatchQueue queue, BrowseCallbacks callbacks)
{
    auto state = std::make_shared<BrowseState>();
    state->folder = typeFolder(m_folder, type, domain);
    state->queue = queue;
    state->callbacks = std::move(callbacks);
    QDir().mkpath(state->folder);
    return std::make_unique<Browse>(std::move(state));
}

std::unique_ptr<ServiceHandle> DirectoryServiceBackend::resolve(const NetService& service, DispatchQueue queue,
                                                                std::function<void(Result<NetService>)> done)
{
    auto handle = std::make_unique<ResolveHandle>();
    const QString path = typeFolder(m_folder, service.type, service.domain) + QLatin1Char('/')
        + safeComponent(service.name) + kSuffix;
    queue.async([alive = handle->alive, path, done = std::move(done), name = service.name] {
        if (!*alive || !done)
            return;
        auto record = readLiveRecord(path);
        if (!record) {
            done(fail(QStringLiteral("Bonjour"), 5, QStringLiteral("Service %1 is gone").arg(name)));
            return;
        }
        record->hostName = QHostInfo::localHostName();
        record->addresses = {QHostAddress(QHostAddress::LocalHost)};
        done(*record);
    });
    return handle;
}

} // namespace platform
