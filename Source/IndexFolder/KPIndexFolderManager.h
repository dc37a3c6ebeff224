// Owns the syncers of all index folders and document sources: one per folder, at most
// kMaxConcurrentSyncers running at once (the others wait in the queue, collecting actions),
// and starts the full-text indexer after every finished sync.
//
// Folders are keyed by their exact path: two folders that differ only in case are two folders.
// A syncer leaves the map in the same locked step in which it decides to end, so an action is
// never handed to a syncer that no longer takes actions.
//
// Threads: the public calls come from the main thread (the side bar); the map is guarded by
// one lock (Syncers::folderSyncersLock), which the syncers' retire handlers and completions also take (before
// a syncer's own lock, never after it).
#pragma once

#include "IndexFolder/IndexFolderServices.h"
#include "IndexFolder/KPIndexFolderSyncer.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Store/DBIndexFolder.h"

#include <QHash>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <mutex>

namespace platform {
class OperationQueue;
}

class KPIndexFolderManager {
public:
    // Tuning: syncers running at once; each walks a disk and writes two stores.
    static constexpr int kMaxConcurrentSyncers = 3;

    // The shared manager over the program's stores, made on first use; it lives for the run.
    static KPIndexFolderManager& IndexFolderManager();

    explicit KPIndexFolderManager(IndexFolderServices services);
    // Cancels every syncer (their documents stay) and runs the main event loop until they end.
    ~KPIndexFolderManager();
    KPIndexFolderManager(const KPIndexFolderManager&) = delete;
    KPIndexFolderManager& operator=(const KPIndexFolderManager&) = delete;

    // Queues an IndexFolderAction on the folder's syncer, making and queueing one when none runs.
    void syncIndexFolder(const DBIndexFolder& folder, const QVariantMap& action);
    // The folder left the library: its syncer is stopped and forgotten.
    void stopIndexFolder(const DBIndexFolder& folder);

    std::shared_ptr<KPIndexFolderSyncer> syncerForPath(const QString& path) const;
    int syncerCount() const;
    platform::OperationQueue& operationQueue() { return *m_operationQueue; }

private:
    static QString keyOf(const DBIndexFolder& folder);

    IndexFolderServices m_services;
    // The map and its lock, shared with the syncers' handlers, which may outlive the manager
    // by the moment their completion takes.
    struct Syncers {
        std::mutex folderSyncersLock;
        QHash<QString, std::shared_ptr<KPIndexFolderSyncer>> folderSyncers;
    };
    std::shared_ptr<Syncers> m_syncers;
    std::unique_ptr<platform::OperationQueue> m_operationQueue;
    platform::ObserverToken m_finishedToken;
};
