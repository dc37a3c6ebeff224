// The process-wide state behind TagMetaBackup's class methods, in one place so that the
// backup, restore and bulk-operation files share it.
//
// `lock` guards the worker pointer, the folder override, the delays and the repair thread;
// the flags are atomics read from any thread. `restoreIdle` is signalled whenever a restore
// thread ends, for shut-down to wait on.
#pragma once

#include "TagMeta/TagMetaBackup.h"
#include "TagMeta/TagMetaBackupWorker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

struct TagMetaBackupState {
    static TagMetaBackupState& shared();

    // The worker, created by the first backup request (which also checks the marker file).
    TagMetaBackupWorker* backupThread();
    void waitForRestoreThreads(std::chrono::steady_clock::time_point deadline);

    std::mutex lock;
    std::condition_variable restoreIdle;
    std::unique_ptr<TagMetaBackupWorker> worker;
    QString folderOverride;
    std::chrono::milliseconds firstDelay = TagMetaBackup::kFirstBackupDelay;
    std::chrono::milliseconds spacing = TagMetaBackup::kBackupSpacing;
    bool exitHookInstalled = false;

    std::atomic<bool> enabled{true};
    std::atomic<bool> restoreBusy{false};
    std::atomic<bool> terminating{false};
    std::atomic<quint64> filesWritten{0};

    // The repair thread: running while its body runs, cancelled by stopLiveRepairThread.
    std::thread repairThread;
    bool repairRunning = false;
    bool repairCancelled = false;
    std::condition_variable repairWake;

    TagMetaBackup::ReportPresenter reportPresenter;

    // Signalled when shut-down begins, for the long-running bulk operations.
    std::condition_variable terminatingWake;
    // The upgrade operation's thread, started at most once per run; the single-file queue's
    // busy flag, cleared when its done notification has been delivered.
    std::thread upgradeThread;
    bool upgradeStarted = false;
    std::atomic<bool> singleFileBusy{false};
};
