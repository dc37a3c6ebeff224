// The sealer: one process per open box, in its own session, that writes every change of the open
// folder back into the container.
//
// It seals once the folder has been quiet for a moment (so a file being saved is sealed whole),
// and at the latest every period while changes go on or while the watcher can only poll. A
// seal asked for through requestSeal counts as a change. Between these it sleeps: the folder's
// watcher, the request file's arrival and SIGTERM wake it, and the only timeout it sets is the
// moment the next seal falls due. It
// stops, without sealing, as soon as the folder is removed, moved away, unmounted or loses its
// ".sbx-attached" record: sealing a half-gone folder would replace a good container with a
// poorer one. A failed seal (a full disk) keeps the old container, is recorded and retried a
// period later. SIGTERM from detach is honoured between seals, never during one.
#include "Platform/DiskImage/DiskImageRuntime.h"
#include "Platform/DiskImage/DiskImageSeal.h"
#include "Platform/DiskImage/DiskImageTool.h"
#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/FileEvents/FolderWatch.h"
#include "Platform/FileEvents/InotifyWatcher.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform::sbx {

namespace {

constexpr qint64 kDefaultQuietMs = 2000;
constexpr qint64 kDefaultPeriodMs = 30000;
// How often the start looks whether the watcher has set up (only until it has).
constexpr useconds_t kSetUpLookUs = 5000;
// How often the request file is looked for when its folder cannot be watched.
constexpr int kRequestLookMs = 50;

// Set by the signal handler, which may run on any of the process's threads.
std::atomic<bool> g_standDown{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
// Written to wake the loop: by the watchers' threads and by the signal handler (write is safe
// there), so a wake-up between the loop's last look and its wait is never lost.
int g_wakeFd = -1;

void wakeLoop()
{
    const quint64 one = 1;
    if (g_wakeFd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(g_wakeFd, &one, sizeof one);
    }
}

void onStandDown(int)
{
    const int saved = errno;
    g_standDown.store(true);
    wakeLoop();
    errno = saved;
}

// Sleeps until something wakes the loop or timeoutMs passes (-1: no timeout).
void waitForWake(int timeoutMs)
{
    pollfd fd{g_wakeFd, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) > 0) {
        quint64 count = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_wakeFd, &count, sizeof count);
    }
}

qint64 orDefault(qint64 value, qint64 fallback)
{
    return value > 0 ? value : fallback;
}

struct ChangeState {
    std::mutex mutex; // guards every field below; the watcher thread and the loop share them
    bool dirty = false;
    qint64 firstChangeNs = 0;
    qint64 lastChangeNs = 0;
    bool lost = false;

    void changed(qint64 now)
    {
        {
            std::lock_guard lock(mutex);
            if (!dirty)
                firstChangeNs = now;
            dirty = true;
            lastChangeNs = now;
        }
        wakeLoop();
    }
};

} // namespace

int runSealer(const QString& device, bool adopted)
{
    g_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (g_wakeFd < 0) {
        SealStatus status = readSealStatus(device);
        status.lastFailure = QStringLiteral("the sealer cannot wait for changes: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        (void)writeSealStatus(device, status);
        return 1;
    }
    struct sigaction action{};
    action.sa_handler = onStandDown;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);

    const auto entry = readRegistryEntry(device);
    if (!entry) {
        SealStatus status = readSealStatus(device);
        status.lastFailure = QStringLiteral("the sealer found no registry entry: %1").arg(entry.error().message);
        (void)writeSealStatus(device, status);
        return 1;
    }
    const qint64 quietNs = orDefault(toolTestHooks().quietMs, kDefaultQuietMs) * 1000000;
    const qint64 periodNs = orDefault(toolTestHooks().periodMs, kDefaultPeriodMs) * 1000000;

    SealStatus status = readSealStatus(device);

    ChangeState state;
    // An adopted folder may hold changes its dead sealer never wrote back.
    if (adopted
        && (status.sealedAtRealNs == 0
            || treeChangedSince(QFile::encodeName(entry->mount), status.sealedAtRealNs - kStatusTimeSlackNs)))
        state.changed(monotonicNowNs());

    FileEventStreamOptions options;
    options.latency = std::chrono::milliseconds(100);
    options.watchHiddenDirectories = true;
    options.pollInterval = std::chrono::milliseconds(periodNs / 1000000);
    InotifyWatcher watcher({entry->mount}, options, [&state](FileEventBatch batch) {
        for (const FileEvent& event : batch) {
            if (event.has(FileEventFlag::RootChanged | FileEventFlag::Unmount)) {
                {
                    std::lock_guard lock(state.mutex);
                    state.lost = true;
                }
                wakeLoop();
                return;
            }
        }
        state.changed(monotonicNowNs());
    });
    if (!watcher.start()) {
        status.lastFailure = QStringLiteral("the open folder cannot be watched");
        (void)writeSealStatus(device, status);
        return 1;
    }

    // A request is a file appearing beside the registry entry. Only its own name wakes the loop
    // (the folder holds every open box's records); a lost watch or an overflow wakes it too.
    const QString requestPath = sealRequestPath(device);
    const QByteArray requestName = QFile::encodeName(QFileInfo(requestPath).fileName());
    const FolderWatch requests(QFileInfo(requestPath).absolutePath(), DispatchQueue::serial(QStringLiteral("SealRequests")),
                               [requestName](const QByteArrayList& names, bool) {
                                   if (names.isEmpty() || names.contains(requestName))
                                       wakeLoop();
                               });

    // Attach waits for this record before it answers, so no change made after an attach is
    // missed by a watcher still setting up.
    while (!watcher.isWatching() && !g_standDown.load())
        ::usleep(kSetUpLookUs);
    status.sealerPid = ::getpid();
    (void)writeSealStatus(device, status);

    const auto folderIsOurs = [&] {
        const auto record = readAttachedRecord(entry->mount);
        return QFileInfo(entry->mount).isDir() && record && record->uuidHex == entry->uuidHex;
    };
    qint64 retryAtNs = 0;
    bool lost = false;
    while (!g_standDown.load()) {
        // A move waiting for a seal after its copies asks for one: it counts as a change.
        if (takeSealRequest(device))
            state.changed(monotonicNowNs());
        const qint64 now = monotonicNowNs();
        bool due = false;
        qint64 dueAtNs = -1;
        {
            std::lock_guard lock(state.mutex);
            lost = state.lost;
            if (state.dirty)
                dueAtNs = std::max(retryAtNs, std::min(state.lastChangeNs + quietNs, state.firstChangeNs + periodNs));
            due = state.dirty && now >= dueAtNs;
        }
        if (lost)
            break;
        if (g_standDown.load())
            continue;
        if (!due) {
            // Rounded up, so the wait never ends just before the moment it waits for.
            int timeoutMs = dueAtNs < 0 ? -1 : int(std::min<qint64>((dueAtNs - now + 999999) / 1000000, 3600 * 1000));
            if (!requests.isWatching())
                timeoutMs = timeoutMs < 0 ? kRequestLookMs : std::min(timeoutMs, kRequestLookMs);
            waitForWake(timeoutMs);
            continue;
        }
        if (!folderIsOurs()) {
            lost = true;
            break;
        }
        {
            std::lock_guard lock(state.mutex);
            state.dirty = false;
        }
        const qint64 began = monotonicNowNs();
        const qint64 beganReal = realtimeNowNs();
        Result<void> sealed;
        {
            StoreLock storeLock(entry->image);
            if (!storeLock.isLocked())
                sealed = std::unexpected(Error{QStringLiteral("SafeBoxSeal"), 1, storeLock.errorText()});
            else if (!folderIsOurs())
                lost = true;
            else
                sealed = sealFolder(entry->image, entry->mount);
        }
        if (lost)
            break;
        if (sealed) {
            ++status.generation;
            status.lastSealBeganNs = began;
            status.sealedAtRealNs = beganReal;
            status.lastFailure.clear();
        } else {
            status.lastFailure = sealed.error().message;
            retryAtNs = monotonicNowNs() + periodNs;
            state.changed(began);
        }
        (void)writeSealStatus(device, status);
    }
    watcher.stop();
    if (lost)
        status.lastFailure = QStringLiteral("the open folder was removed or moved; the container stays as last sealed");
    (void)writeSealStatus(device, status);
    return 0;
}

} // namespace platform::sbx
