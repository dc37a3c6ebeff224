#include "Platform/Bonjour/DirectoryServiceBackend.h"

#include "Platform/Foundation/DispatchTimer.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QSet>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
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

// Reads a record and answers whether its owner is alive; removes records of dead owners.
std::optional<NetService> readLiveRecord(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        // Nobody holds it: the owner is gone (or has not locked it yet; see kStaleGraceMs).
        const QFileInfo info(path);
        if (info.lastModified().msecsTo(QDateTime::currentDateTime()) > kStaleGraceMs)
            ::unlink(name.constData());
        ::close(fd);
        return std::nullopt;
    }
    QFile file;
    std::optional<NetService> result;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        const QByteArray bytes = file.read(kMaxRecordSize + 1);
        if (bytes.size() <= kMaxRecordSize) {
            if (auto value = PropertyList::read(bytes))
                result = fromRecord(*value);
        }
    } else {
        ::close(fd);
    }
    return result;
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

struct BrowseState {
    QString folder;
    DispatchQueue queue;
    BrowseCallbacks callbacks;
    QHash<QString, NetService> known; // by file path; touched only by the timer handler
    std::atomic<bool> alive{true};
};

class Browse : public ServiceHandle {
public:
    explicit Browse(std::shared_ptr<BrowseState> state) : m_state(std::move(state))
    {
        m_timer = DispatchTimer(DispatchQueue::serial(QStringLiteral("ServiceDirectoryBrowse")),
                                [weak = std::weak_ptr<BrowseState>(m_state)] {
                                    if (auto state = weak.lock())
                                        scan(state);
                                });
        m_timer.start(DirectoryServiceBackend::kPollInterval, {}, true);
    }
    ~Browse() override
    {
        m_state->alive = false;
        m_timer.cancel();
    }

private:
    static void scan(const std::shared_ptr<BrowseState>& state)
    {
        QHash<QString, NetService> now;
        const QDir dir(state->folder);
        for (const QString& entry : dir.entryList({QStringLiteral("*") + kSuffix}, QDir::Files, QDir::Name)) {
            const QString path = dir.filePath(entry);
            if (auto service = readLiveRecord(path))
                now.insert(path, *service);
        }
        for (auto it = state->known.begin(); it != state->known.end(); ++it)
            if (!now.contains(it.key()))
                deliver(state, it.value(), false);
        for (auto it = now.begin(); it != now.end(); ++it) {
            const auto old = state->known.constFind(it.key());
            if (old == state->known.constEnd())
                deliver(state, it.value(), true);
            else if (old->port != it->port || old->txt != it->txt) {
                // A re-published record under the same name: gone, then found with new values.
                deliver(state, *old, false);
                deliver(state, it.value(), true);
            }
        }
        state->known = std::move(now);
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
    DispatchTimer m_timer;
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

    // Like Bonjour, a taken name gets " (2)", " (3)"… rather than replacing its owner.
    NetService final = service;
    for (int n = 1; n < 1000; ++n) {
        final.name = n == 1 ? service.name : QStringLiteral("%1 (%2)").arg(service.name).arg(n);
        const QString path = folder + QLatin1Char('/') + safeComponent(final.name) + kSuffix;
        const QByteArray encoded = QFile::encodeName(path);
        int fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST) {
            // Taken, unless its owner died: then the stale record is cleared and the name reused.
            if (readLiveRecord(path) || QFileInfo::exists(path))
                continue;
            fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        }
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        auto bytes = PropertyList::write(toRecord(final), PlistFormat::Xml);
        if (!bytes || ::write(fd, bytes->constData(), static_cast<size_t>(bytes->size())) != bytes->size()) {
            ::unlink(encoded.constData());
            ::close(fd);
            return fail(QStringLiteral("Bonjour"), 3, QStringLiteral("Cannot write the service record %1").arg(path));
        }
        ::fsync(fd);
        final.isLocal = true;
        auto publication = std::make_unique<Publication>(fd, path);
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
