// The thread behind a FileEventStream: one inotify instance, one watch per folder of every
// root, and the coalescing of raw events into batches.
//
// inotify watches single folders, so each root is walked (on this thread, never the caller's)
// and every folder below it gets a watch; a folder that is created or moved in is walked at
// once, and one moved out or deleted loses its watches. Paths are kept as the file system's
// bytes so that folders whose names are not UTF-8 are still watched; only events for such
// names are left out of the batches. Links are never followed below a root, hidden folders
// and excluded folders are not watched, and a folder reached twice (a bind mount looping back)
// is watched once.
//
// A root that cannot be watched item by item is looked at periodically instead: when the
// kernel runs out of watches (ENOSPC), when its file system reports no changes (network and
// FUSE mounts) or when inotify itself is unavailable. The log says so once per root and
// process. A root that disappears (deleted, moved away, unmounted) is reported and then tried
// again at each periodic look, so a volume that comes back is watched again.
//
// Threads: everything but start/stop/isWatching/polledRoots runs on the watcher's own thread
// and touches state nobody else sees. `m_stateMutex` guards the two facts other threads read.
#pragma once

#include "Platform/FileEvents/FileEvent.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {

// How often a root that cannot be watched is looked at whole. A full look costs about one
// listing of the tree, so two minutes keeps a cloud folder of tens of thousands of files
// current without keeping the disk or the network busy.
inline constexpr std::chrono::milliseconds kDefaultPollInterval = std::chrono::seconds(120);

struct FileEventStreamOptions {
    // How long events are gathered before a batch is handed over.
    std::chrono::milliseconds latency{200};
    // Folders never watched (the library folder inside a watched folder), compared by whole
    // components.
    QStringList excludedPaths;
    // Folders whose name begins with "." are not watched unless this is set.
    bool watchHiddenDirectories = false;
    // How often a root that cannot be watched is reported for a full look.
    std::chrono::milliseconds pollInterval = kDefaultPollInterval;
    // Test seams: a watch budget below the kernel's (0: none), and the file-system type of a
    // root (default: statfs's f_type).
    int maxWatches = 0;
    std::function<quint64(const QString& root)> fileSystemType;
};

class InotifyWatcher {
public:
    using BatchHandler = std::function<void(FileEventBatch batch)>;

    InotifyWatcher(const QStringList& roots, FileEventStreamOptions options, BatchHandler handler);
    ~InotifyWatcher();
    InotifyWatcher(const InotifyWatcher&) = delete;
    InotifyWatcher& operator=(const InotifyWatcher&) = delete;

    // Starts the thread; false when it could not be started at all.
    bool start();
    // Stops and joins the thread; no batch is handed over after it returns.
    void stop();

    // True once every root has been walked and watched (or set to be polled).
    bool isWatching() const { return m_watching.load(); }
    // The roots currently looked at periodically instead of watched.
    QStringList polledRoots() const;

    // Handles a kernel queue overflow as if one had happened (the kernel's limit is too high to
    // reach reliably in a test).
    void simulateOverflowForTesting();

    // Whether a statfs f_type is a file system that raises no events for remote changes.
    static bool isEventlessFileSystem(quint64 type);

private:
    enum class RootState { Watching, Polled, Lost };
    struct Root {
        QByteArray path;
        QString text;
        RootState state = RootState::Watching;
    };
    struct Watch {
        QByteArray path;
        int root = 0;
    };
    enum class AddResult { Ok, Gone, NoWatches };

    void run();
    void setUpRoots();
    void watchRoot(int root);
    AddResult addTree(int root, const QByteArray& top);
    void removeSubtree(const QByteArray& path);
    void removeWatchesOfRoot(int root);
    void markPolled(int root, bool noWatchesLeft);
    void loseRoot(int root, FileEventFlags why);
    void readEvents();
    void handleEvent(int wd, quint32 mask, const QByteArray& name);
    void pollTick();
    void report(const QByteArray& path, int root, FileEventFlags flags);
    void flush();
    bool isExcluded(const QByteArray& path) const;
    void publishPolledRoots();

    const FileEventStreamOptions m_options;
    const BatchHandler m_handler;
    std::vector<Root> m_roots;
    std::vector<QByteArray> m_excluded;

    int m_inotifyFd = -1;
    int m_stopFd = -1;
    std::thread m_thread;
    std::atomic<bool> m_watching{false};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_overflowRequested{false};

    std::unordered_map<int, Watch> m_watches;
    std::map<QByteArray, int> m_wdByPath; // ordered, so a subtree is one range

    FileEventBatch m_batch;
    QHash<QString, qsizetype> m_batchIndex;
    std::optional<std::chrono::steady_clock::time_point> m_batchDeadline;
    std::chrono::steady_clock::time_point m_nextPoll;

    mutable std::mutex m_stateMutex;
    QStringList m_polledRoots;
};

} // namespace platform
