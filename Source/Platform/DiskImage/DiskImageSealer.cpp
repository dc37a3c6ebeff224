// The sealer: one process per open box, in its own session, that writes every change of the open
// folder back into the container.
//
// It seals once the folder has been quiet for a moment (so a file being saved is sealed whole),
// and at the latest every period while changes go on or while the watcher can only poll. A
// seal asked for through requestSeal counts as a change. It
// stops, without sealing, as soon as the folder is removed, moved away, unmounted or loses its
// ".sbx-attached" record: sealing a half-gone folder would replace a good container with a
// poorer one. A failed seal (a full disk) keeps the old container, is recorded and retried a
// period later. SIGTERM from detach is honoured between seals, never during one.
#include "Platform/DiskImage/DiskImageRuntime.h"
#include "Platform/DiskImage/DiskImageSeal.h"
#include "Platform/DiskImage/DiskImageTool.h"
#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/FileEvents/InotifyWatcher.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <csignal>
#include <mutex>
#include <unistd.h>

namespace platform::sbx {

namespace {

constexpr qint64 kDefaultQuietMs = 2000;
constexpr qint64 kDefaultPeriodMs = 30000;
constexpr useconds_t kTickUs = 50000;

volatile sig_atomic_t g_standDown = 0;

void onStandDown(int)
{
    g_standDown = 1;
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
        std::lock_guard lock(mutex);
        if (!dirty)
            firstChangeNs = now;
        dirty = true;
        lastChangeNs = now;
    }
};

} // namespace

int runSealer(const QString& device, bool adopted)
{
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
                std::lock_guard lock(state.mutex);
                state.lost = true;
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

    // Attach waits for this record before it answers, so no change made after an attach is
    // missed by a watcher still setting up.
    while (!watcher.isWatching() && !g_standDown)
        ::usleep(kTickUs / 10);
    status.sealerPid = ::getpid();
    (void)writeSealStatus(device, status);

    const auto folderIsOurs = [&] {
        const auto record = readAttachedRecord(entry->mount);
        return QFileInfo(entry->mount).isDir() && record && record->uuidHex == entry->uuidHex;
    };
    qint64 retryAtNs = 0;
    bool lost = false;
    while (!g_standDown) {
        ::usleep(kTickUs);
        // A move waiting for a seal after its copies asks for one: it counts as a change.
        if (takeSealRequest(device))
            state.changed(monotonicNowNs());
        const qint64 now = monotonicNowNs();
        bool due = false;
        {
            std::lock_guard lock(state.mutex);
            lost = state.lost;
            due = state.dirty && now >= retryAtNs
                  && (now - state.lastChangeNs >= quietNs || now - state.firstChangeNs >= periodNs);
        }
        if (lost)
            break;
        if (!due || g_standDown)
            continue;
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
