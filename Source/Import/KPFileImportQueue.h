// The serial queue every import of files into the library runs on, and the user's handle on
// the running import: pause it, then go on, keep what was imported, or throw it away.
//
// One operation runs at a time, in the order added. Each operation's completion puts the
// shared import state back to "run" on the queue's thread before the next operation starts,
// so an answer meant for one import never steers the next. The queue also owns the end of an
// import at quit: the running operation is cancelled (which it takes as "keep what was
// imported"), queued ones are dropped untouched, and the main thread keeps its event loop
// turning while it waits, because the operation's final save reaches the main context there.
//
// Threads: every member is called on the main thread; the operations run on the queue's own
// thread. The pending count is an atomic shared with the completions.
#pragma once

#include "Import/KPImportState.h"
#include "Platform/Foundation/OperationQueue.h"

#include <atomic>
#include <chrono>
#include <memory>

class KPFileImportQueue {
public:
    // Tuning: how long a quit waits for the running import to store what it copied.
    static constexpr std::chrono::milliseconds kQuitWait{5000};

    KPFileImportQueue();
    // Cancels everything and waits for the running operation, keeping the event loop alive.
    ~KPFileImportQueue();
    KPFileImportQueue(const KPFileImportQueue&) = delete;
    KPFileImportQueue& operator=(const KPFileImportQueue&) = delete;

    platform::OperationQueue& importQueue() { return *m_importQueue; }

    // Queues an import operation; its completion block becomes the state reset.
    void addOperation(const std::shared_ptr<platform::Operation>& operation);

    // False: the import is paused, ask the user. True: nothing can be paused now (no import,
    // or one already storing its records); ask nothing.
    bool pauseImport();
    void continueImport();
    void deleteImported();
    void saveImported();
    void cancelAll();

    // From addOperation until that operation's completion has run.
    bool isImporing() const;

    // For quit: cancels every import (the running one keeps what it copied) and waits up to
    // bound for the queue to empty, running the event loop meanwhile. True when it emptied.
    bool finishImportsForQuit(std::chrono::milliseconds bound = kQuitWait);

    // The shared state, for the stop alert's last look before it acts on the answer.
    static int importState() { return KPImportState::state(); }
    static bool isImportPausable() { return KPImportState::isPausable(); }

private:
    std::shared_ptr<std::atomic<int>> m_pending = std::make_shared<std::atomic<int>>(0);
    std::unique_ptr<platform::OperationQueue> m_importQueue;
};
