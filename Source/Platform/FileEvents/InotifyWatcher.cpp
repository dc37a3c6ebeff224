#include "Platform/FileEvents/InotifyWatcher.h"

#include "Platform/Foundation/Dispatch.h"

#include <QFile>
#include <QStringDecoder>
#include <QtDebug>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Everything a folder's watch must hear about; IN_DONT_FOLLOW keeps a link below a root from
// leading the watch elsewhere, IN_EXCL_UNLINK drops events of files already unlinked.
constexpr quint32 kFolderMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB
    | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

// Room for many events per read; the kernel never splits one event across reads.
constexpr size_t kReadBufferSize = 64 * 1024;

// File systems whose remote changes raise no inotify events (statfs f_type values).
constexpr quint64 kEventlessFileSystems[] = {
    0x6969,     // NFS
    0x517B,     // SMB
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2
    0x65735546, // FUSE (sshfs, rclone, cloud-drive clients)
    0x01021997, // 9P
    0x5346414F, // AFS
    0x00C36400, // Ceph
    0x73757245, // Coda
    0x564C,     // NCP
};

std::mutex g_loggedMutex;
std::set<QByteArray>& loggedRoots()
{
    static std::set<QByteArray> roots;
    return roots;
}

// True the first time a root is named in the log during this process.
bool firstLogFor(const QByteArray& root)
{
    std::lock_guard lock(g_loggedMutex);
    return loggedRoots().insert(root).second;
}

QByteArray cleanRoot(const QString& path)
{
    QByteArray bytes = QFile::encodeName(path);
    while (bytes.size() > 1 && bytes.endsWith('/'))
        bytes.chop(1);
    return bytes;
}

bool isInsideBytes(const QByteArray& path, const QByteArray& folder)
{
    if (folder.isEmpty())
        return false;
    if (folder == "/")
        return path.startsWith('/');
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == '/');
}

QByteArray childPath(const QByteArray& dir, const QByteArray& name)
{
    return dir == "/" ? dir + name : dir + '/' + name;
}

std::optional<QString> decodeStrict(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

quint64 statfsType(const QString& root)
{
    struct statfs info {};
    if (::statfs(QFile::encodeName(root).constData(), &info) != 0)
        return 0;
    return quint64(quint32(info.f_type));
}

} // namespace

InotifyWatcher::InotifyWatcher(const QStringList& roots, FileEventStreamOptions options,
                               BatchHandler handler)
    : m_options(std::move(options))
    , m_handler(std::move(handler))
{
    for (const QString& path : roots) {
        const QByteArray bytes = cleanRoot(path);
        if (bytes.isEmpty())
            continue;
        bool seen = false;
        for (const Root& r : m_roots)
            seen = seen || r.path == bytes;
        if (!seen)
            m_roots.push_back(Root{bytes, QFile::decodeName(bytes), RootState::Watching});
    }
    for (const QString& path : m_options.excludedPaths) {
        const QByteArray bytes = cleanRoot(path);
        if (!bytes.isEmpty())
            m_excluded.push_back(bytes);
    }
}

InotifyWatcher::~InotifyWatcher()
{
    stop();
}

bool InotifyWatcher::isEventlessFileSystem(quint64 type)
{
    for (quint64 t : kEventlessFileSystems) {
        if (t == type)
            return true;
    }
    return false;
}

bool InotifyWatcher::start()
{
    if (m_thread.joinable())
        return true;
    m_stopFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_stopFd < 0) {
        qWarning("File events: cannot make a wake-up descriptor: %s", std::strerror(errno));
        return false;
    }
    m_inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotifyFd < 0)
        qWarning("File events: inotify is unavailable (%s); watched folders are looked at periodically",
                 std::strerror(errno));
    m_thread = std::thread([this] { run(); });
    return true;
}

void InotifyWatcher::stop()
{
    if (m_thread.joinable()) {
        m_stopRequested.store(true);
        const quint64 one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_stopFd, &one, sizeof one);
        m_thread.join();
    }
    if (m_inotifyFd >= 0)
        ::close(m_inotifyFd);
    if (m_stopFd >= 0)
        ::close(m_stopFd);
    m_inotifyFd = m_stopFd = -1;
}

void InotifyWatcher::simulateOverflowForTesting()
{
    m_overflowRequested.store(true);
    const quint64 one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_stopFd, &one, sizeof one);
}

QStringList InotifyWatcher::polledRoots() const
{
    std::lock_guard lock(m_stateMutex);
    return m_polledRoots;
}

void InotifyWatcher::publishPolledRoots()
{
    QStringList polled;
    for (const Root& r : m_roots) {
        if (r.state == RootState::Polled)
            polled.append(r.text);
    }
    std::lock_guard lock(m_stateMutex);
    m_polledRoots = polled;
}

bool InotifyWatcher::isExcluded(const QByteArray& path) const
{
    for (const QByteArray& ex : m_excluded) {
        if (isInsideBytes(path, ex))
            return true;
    }
    return false;
}

void InotifyWatcher::run()
{
    Dispatch::setCurrentThreadName(QStringLiteral("FileEvents"));
    m_nextPoll = Clock::now() + m_options.pollInterval;
    setUpRoots();
    m_watching.store(true);

    for (;;) {
        const auto now = Clock::now();
        auto wake = m_nextPoll;
        if (m_batchDeadline && *m_batchDeadline < wake)
            wake = *m_batchDeadline;
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
        const int timeout = waitMs <= 0 ? 0 : int(std::min<qint64>(waitMs + 1, 60 * 60 * 1000));

        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {m_inotifyFd, POLLIN, 0}};
        const int ready = ::poll(fds, m_inotifyFd >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno != EINTR) {
            qWarning("File events: poll failed: %s", std::strerror(errno));
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            quint64 value = 0;
            [[maybe_unused]] ssize_t n = ::read(m_stopFd, &value, sizeof value);
            if (m_stopRequested.load())
                break;
            if (m_overflowRequested.exchange(false))
                handleEvent(-1, IN_Q_OVERFLOW, {});
        }
        if (ready > 0 && m_inotifyFd >= 0 && (fds[1].revents & POLLIN))
            readEvents();
        if (Clock::now() >= m_nextPoll) {
            pollTick();
            m_nextPoll = Clock::now() + m_options.pollInterval;
        }
        if (m_batchDeadline && Clock::now() >= *m_batchDeadline)
            flush();
    }
}

void InotifyWatcher::setUpRoots()
{
    for (int i = 0; i < int(m_roots.size()); ++i)
        watchRoot(i);
    publishPolledRoots();
}

void InotifyWatcher::watchRoot(int root)
{
    Root& r = m_roots[size_t(root)];
    if (m_inotifyFd < 0) {
        markPolled(root, false);
        return;
    }
    const quint64 type = m_options.fileSystemType ? m_options.fileSystemType(r.text) : statfsType(r.text);
    if (isEventlessFileSystem(type)) {
        if (firstLogFor(r.path))
            qInfo("File events: %s is on a file system that reports no changes (type 0x%llx); "
                  "it is looked at every %lld s instead",
                  r.path.constData(), static_cast<unsigned long long>(type),
                  static_cast<long long>(m_options.pollInterval.count() / 1000));
        r.state = RootState::Polled;
        return;
    }
    r.state = RootState::Watching;
    switch (addTree(root, r.path)) {
    case AddResult::Ok:
        break;
    case AddResult::NoWatches:
        markPolled(root, true);
        break;
    case AddResult::Gone: {
        const int err = errno;
        if (firstLogFor(QByteArrayLiteral("unwatchable:") + r.path))
            qWarning("File events: cannot watch %s (%s); it is tried again later",
                     r.path.constData(), std::strerror(err));
        r.state = RootState::Lost;
        break;
    }
    }
}

InotifyWatcher::AddResult InotifyWatcher::addTree(int root, const QByteArray& top)
{
    const bool isRoot = top == m_roots[size_t(root)].path;
    std::vector<QByteArray> pending{top};
    while (!pending.empty()) {
        if (m_stopRequested.load())
            return AddResult::Ok; // a stop must not wait for the walk of a large tree
        const QByteArray dir = std::move(pending.back());
        pending.pop_back();
        if (isExcluded(dir))
            continue;
        if (m_options.maxWatches > 0 && int(m_watches.size()) >= m_options.maxWatches) {
            errno = ENOSPC;
            return AddResult::NoWatches;
        }
        // The root may be given as a link to a folder; below it, links are never followed.
        const quint32 mask = kFolderMask | ((isRoot && dir == top) ? 0 : IN_DONT_FOLLOW);
        const int wd = ::inotify_add_watch(m_inotifyFd, dir.constData(), mask);
        if (wd < 0) {
            if (errno == ENOSPC)
                return AddResult::NoWatches;
            if (dir == top)
                return AddResult::Gone;
            continue; // vanished or unreadable below the top: its parent's events still come
        }
        auto existing = m_watches.find(wd);
        if (existing != m_watches.end() && existing->second.path != dir) {
            // The same folder reached by another route (bind mount, overlapping root).
            if (m_wdByPath.count(existing->second.path))
                continue;
            m_wdByPath.erase(existing->second.path);
        }
        m_watches[wd] = Watch{dir, root};
        m_wdByPath[dir] = wd;

        DIR* d = ::opendir(dir.constData());
        if (!d)
            continue;
        while (dirent* entry = ::readdir(d)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            if (name.startsWith('.') && !m_options.watchHiddenDirectories)
                continue;
            bool isDir = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                isDir = ::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                    && S_ISDIR(st.st_mode);
            }
            if (isDir)
                pending.push_back(childPath(dir, name));
        }
        ::closedir(d);
    }
    return AddResult::Ok;
}

void InotifyWatcher::removeSubtree(const QByteArray& path)
{
    auto it = m_wdByPath.lower_bound(path);
    while (it != m_wdByPath.end() && it->first.startsWith(path)) {
        if (!isInsideBytes(it->first, path)) {
            ++it;
            continue;
        }
        ::inotify_rm_watch(m_inotifyFd, it->second);
        m_watches.erase(it->second);
        it = m_wdByPath.erase(it);
    }
}

void InotifyWatcher::removeWatchesOfRoot(int root)
{
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        bool keep = it->second.root != root;
        if (!keep) {
            // A folder that another watched root also covers stays watched for that root.
            for (int other = 0; other < int(m_roots.size()) && !keep; ++other) {
                const Root& r = m_roots[size_t(other)];
                if (other != root && r.state == RootState::Watching && isInsideBytes(it->second.path, r.path)) {
                    it->second.root = other;
                    keep = true;
                }
            }
        }
        if (keep) {
            ++it;
            continue;
        }
        ::inotify_rm_watch(m_inotifyFd, it->first);
        m_wdByPath.erase(it->second.path);
        it = m_watches.erase(it);
    }
}

void InotifyWatcher::markPolled(int root, bool noWatchesLeft)
{
    Root& r = m_roots[size_t(root)];
    if (noWatchesLeft) {
        removeWatchesOfRoot(root);
        if (firstLogFor(r.path))
            qWarning("File events: no inotify watches left for %s (see fs.inotify.max_user_watches); "
                     "it is looked at every %lld s instead",
                     r.path.constData(), static_cast<long long>(m_options.pollInterval.count() / 1000));
    }
    r.state = RootState::Polled;
}

void InotifyWatcher::loseRoot(int root, FileEventFlags why)
{
    Root& r = m_roots[size_t(root)];
    if (r.state != RootState::Watching)
        return;
    removeWatchesOfRoot(root);
    r.state = RootState::Lost;
    report(r.path, root, why | FileEventFlag::MustScanSubDirs);
}

void InotifyWatcher::readEvents()
{
    alignas(inotify_event) char buffer[kReadBufferSize];
    for (;;) {
        const ssize_t n = ::read(m_inotifyFd, buffer, sizeof buffer);
        if (n <= 0)
            return; // EAGAIN: drained
        for (ssize_t offset = 0; offset < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + offset);
            const QByteArray name = ev->len ? QByteArray(ev->name) : QByteArray();
            handleEvent(ev->wd, ev->mask, name);
            offset += ssize_t(sizeof(inotify_event) + ev->len);
        }
    }
}

void InotifyWatcher::handleEvent(int wd, quint32 mask, const QByteArray& name)
{
    using namespace FileEventFlag;
    if (mask & IN_Q_OVERFLOW) {
        // Events were lost: every root is looked at whole, and folders made meanwhile get
        // their watches now.
        for (int i = 0; i < int(m_roots.size()); ++i) {
            if (m_roots[size_t(i)].state != RootState::Watching)
                continue;
            report(m_roots[size_t(i)].path, i, MustScanSubDirs | KernelDropped);
            if (addTree(i, m_roots[size_t(i)].path) == AddResult::NoWatches)
                markPolled(i, true);
        }
        publishPolledRoots();
        return;
    }
    auto found = m_watches.find(wd);
    if (found == m_watches.end())
        return;
    const Watch watch = found->second;

    if (mask & IN_IGNORED) {
        m_watches.erase(found);
        auto byPath = m_wdByPath.find(watch.path);
        if (byPath != m_wdByPath.end() && byPath->second == wd)
            m_wdByPath.erase(byPath);
        return;
    }
    if (mask & (IN_UNMOUNT | IN_DELETE_SELF | IN_MOVE_SELF)) {
        // Only a root's own folder going away is reported here. A sub-folder's removal comes
        // from its parent; a volume unmounted below a root just loses its watches, so no sync
        // mistakes the empty mount point for emptied folders.
        const FileEventFlags why = (mask & IN_UNMOUNT) ? Unmount : RootChanged;
        for (int i = 0; i < int(m_roots.size()); ++i) {
            if (m_roots[size_t(i)].path == watch.path)
                loseRoot(i, why);
        }
        return;
    }
    if (name.isEmpty())
        return;

    const QByteArray path = childPath(watch.path, name);
    const bool isDir = mask & IN_ISDIR;
    FileEventFlags flags = isDir ? ItemIsDir : ItemIsFile;
    if (mask & IN_CREATE)
        flags |= ItemCreated;
    if (mask & IN_DELETE)
        flags |= ItemRemoved;
    if (mask & (IN_MOVED_FROM | IN_MOVED_TO))
        flags |= ItemRenamed;
    if (mask & (IN_MODIFY | IN_CLOSE_WRITE))
        flags |= ItemModified;
    if (mask & IN_ATTRIB)
        flags |= ItemInodeMetaMod;

    if (isDir && (mask & (IN_MOVED_FROM | IN_DELETE)))
        removeSubtree(path);
    if (isDir && (mask & (IN_CREATE | IN_MOVED_TO))
        && (m_options.watchHiddenDirectories || !name.startsWith('.'))) {
        if (addTree(watch.root, path) == AddResult::NoWatches) {
            markPolled(watch.root, true);
            publishPolledRoots();
        }
    }
    report(path, watch.root, flags);
}

void InotifyWatcher::pollTick()
{
    for (int i = 0; i < int(m_roots.size()); ++i) {
        Root& r = m_roots[size_t(i)];
        if (r.state == RootState::Polled) {
            report(r.path, i, FileEventFlag::MustScanSubDirs | FileEventFlag::Polled);
        } else if (r.state == RootState::Lost && m_inotifyFd >= 0) {
            watchRoot(i);
            if (r.state != RootState::Lost)
                report(r.path, i, FileEventFlag::MustScanSubDirs | FileEventFlag::RootChanged);
        }
    }
    publishPolledRoots();
}

void InotifyWatcher::report(const QByteArray& path, int root, FileEventFlags flags)
{
    const std::optional<QString> text = decodeStrict(path);
    if (!text)
        return;
    auto it = m_batchIndex.constFind(*text);
    if (it != m_batchIndex.constEnd()) {
        m_batch[*it].flags |= flags;
        return;
    }
    m_batchIndex.insert(*text, m_batch.size());
    m_batch.append(FileEvent{*text, m_roots[size_t(root)].text, flags});
    if (!m_batchDeadline)
        m_batchDeadline = Clock::now() + m_options.latency;
}

void InotifyWatcher::flush()
{
    m_batchDeadline.reset();
    m_batchIndex.clear();
    FileEventBatch batch;
    batch.swap(m_batch);
    if (!batch.isEmpty() && m_handler)
        m_handler(std::move(batch));
}

} // namespace platform
