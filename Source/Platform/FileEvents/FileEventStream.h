// A stream of file-system events over a set of folders and everything below them, from the
// moment it starts (no history is replayed), delivered in batches on the main queue.
//
// Watched folders can change by the thousand at once (an unpacked archive, a synced folder), so
// events that arrive within the latency are gathered into one batch, one entry per path with the flags of all its
// events. Where the kernel cannot say what changed, the affected root itself is reported with
// MustScanSubDirs: after lost events (every root), after the root was removed or unmounted
// (RootChanged or Unmount), and periodically for roots that cannot be watched (Polled; see
// InotifyWatcher). The watching itself runs on a thread of the stream's own.
//
// Threads: make, start, stop and destroy the stream on the main thread; the callback runs there
// too and is never called once stop() has returned.
#pragma once

#include "Platform/FileEvents/FileEvent.h"
#include "Platform/FileEvents/InotifyWatcher.h"

#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

namespace platform {

class FileEventStream {
public:
    using Callback = std::function<void(const FileEventBatch& batch)>;

    FileEventStream(const QStringList& paths, Callback callback, FileEventStreamOptions options = {});
    ~FileEventStream();
    FileEventStream(const FileEventStream&) = delete;
    FileEventStream& operator=(const FileEventStream&) = delete;

    const QStringList& paths() const { return m_paths; }

    bool start();
    void stop();
    bool isStarted() const { return m_watcher != nullptr; }

    // True once the folders present at the start are all watched; changes made before that
    // may go unreported.
    bool isWatching() const;
    QStringList polledRoots() const;
    void simulateOverflowForTesting();

private:
    QStringList m_paths;
    Callback m_callback;
    FileEventStreamOptions m_options;
    std::shared_ptr<std::atomic<bool>> m_alive;
    std::unique_ptr<InotifyWatcher> m_watcher;
};

} // namespace platform
