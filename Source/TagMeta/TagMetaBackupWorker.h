// The backup thread: a queue of paths without repeats, drained one path at a time on a
// deadline, so that a burst of writes to one file becomes a single backup.
//
// The first path of an idle queue waits `firstDelay`; each following one `spacing` after the
// previous backup, or no time at all once shut-down began. The queue, the deadline and the
// flags live under one mutex; the backup itself runs with the mutex released.
#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TagMetaBackupWorker {
public:
    using Clock = std::chrono::steady_clock;
    using Backup = std::function<void(const QString& path)>;

    TagMetaBackupWorker(Backup backup, std::chrono::milliseconds firstDelay,
                        std::chrono::milliseconds spacing);
    // Stops without draining (whatever is still queued is dropped).
    ~TagMetaBackupWorker();

    void enqueue(const QString& path);
    // From now on queued paths follow each other without pause.
    void hurry();
    // Waits until the queue ran empty or the deadline passed; answers whether it ran empty.
    bool waitUntilIdle(Clock::time_point deadline);

    bool isBusy() const;
    int pendingCount() const;

private:
    void run();

    Backup m_backup;
    const std::chrono::milliseconds m_firstDelay;
    const std::chrono::milliseconds m_spacing;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    QStringList m_queue;
    Clock::time_point m_deadline;
    bool m_busy = false;
    bool m_running = false; // a backup is being written right now
    bool m_hurry = false;
    bool m_stop = false;
    std::thread m_thread;
};
