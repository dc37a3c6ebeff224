// Keeps one index folder in step with the disk: takes sync actions from its list, walks the
// folder, compares the walk with the index-folder store and runs the resulting imports one at a
// time on a private queue (they start while the comparison still hands out pieces).
//
// Why it is shaped this way:
// - Folder changes are gathered before a pass: a change waits until no other arrived for
//   kDebounce (at most kMaxDebounce), so an editor's safe-save (rename away, write, rename
//   back) is seen in its final state, not as a removal followed by a new file. All pending
//   changes then become one pass over their nearest common folder (the whole folder when a
//   full sync is pending too), so no change is dropped.
// - A changed folder that no longer exists is walked through its nearest existing ancestor, so
//   what was removed with it is found.
// - A folder out of reach (missing, unreadable, or what an unmounted volume leaves behind; see
//   KPFolderSnapshotAnalytics) removes nothing: it is marked lost and the log says why. It
//   loses that mark at its next good pass, which also records the volume the folder is on for
//   the passes after it. A store that cannot be read stops the pass too.
// - The removal of a folder from the library purge-marks its documents and flags their rows
//   before the folder is stopped. stop() then purge-marks, when the pass it interrupts ends,
//   what that pass imported meanwhile: documents below the folder that lie under no live index
//   folder (so none while the folder's own removal was not saved), flagging the rows of those
//   documents only. A plain cancel (the program quitting) never trashes anything.
// - The syncer ends when its list stays empty kIdleLooks times kIdleStep; whether it ends is
//   decided by the retire handler under the owner's lock, so an action handed over at that
//   moment either reaches a live syncer or a new one.
//
// Threads: main() runs on the manager's queue; addAction, stop and cancel come from any thread.
// m_mutex guards the action list and m_wake; the folder's path is fixed at construction.
#pragma once

#include "IndexFolder/IndexFolderImportDataPushObj.h"
#include "IndexFolder/IndexFolderServices.h"
#include "IndexFolder/KPFileNode.h"
#include "IndexFolder/KPFolderSnapshot.h"

#include "Platform/Foundation/Operation.h"
#include "Platform/ObjectStore/ObjectID.h"
#include "Store/DBIndexFolder.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class KPFolderSnapshotAnalytics;
namespace platform {
class OperationQueue;
}

// Names of the notifications a syncer posts on the main queue.
inline const QString IndexFolderSyncStartNotification = QStringLiteral("IndexFolderSyncStart");
inline const QString IndexFolderSyncNodeGeneratorFinishedNotification =
    QStringLiteral("IndexFolderSyncNodeGeneratorFinished");
inline const QString IndexFolderSyncFinishedNotification = QStringLiteral("IndexFolderSyncFinished");

// IndexFolderAction: {"ActionType": "TopLevel"} or {"ActionType": "FolderWasChange", "Folder": path};
// the per-item types ("New", "Remove", "Modified", "Rename") only announce a start and an end.
namespace IndexFolderAction {
inline const QString ActionType = QStringLiteral("ActionType");
inline const QString Folder = QStringLiteral("Folder");
inline const QString TopLevel = QStringLiteral("TopLevel");
inline const QString FolderWasChange = QStringLiteral("FolderWasChange");
} // namespace IndexFolderAction

// IndexFolderTreeInfo: the object of "IndexFolderSyncNodeGeneratorFinished".
namespace IndexFolderTreeInfo {
inline const QString IndexFolder = QStringLiteral("IndexFolder"); // the DBIndexFolder (ref)
inline const QString FileNode = QStringLiteral("FileNode");       // KPFileNode::Ptr of the root
} // namespace IndexFolderTreeInfo

class KPIndexFolderSyncer : public platform::Operation {
public:
    // Tuning: quiet time a folder change waits for, and the longest it waits under steady churn.
    static constexpr std::chrono::milliseconds kDebounce{1000};
    static constexpr std::chrono::milliseconds kMaxDebounce{10000};
    // Tuning: how long an idle syncer waits for more actions before it ends.
    static constexpr std::chrono::milliseconds kIdleStep{1000};
    static constexpr int kIdleLooks = 3;

    // folder: read here (main thread); the syncer keeps its path and object ID.
    KPIndexFolderSyncer(const DBIndexFolder& folder, IndexFolderServices services);
    ~KPIndexFolderSyncer() override;

    const QString& folderPath() const { return m_path; }

    void addAction(const QVariantMap& action);
    int pendingActionCount() const;

    // Decides, with the list locked, whether the idle syncer ends: true ends it. The manager's
    // handler takes its own lock first and forgets the syncer in the same step.
    using RetireHandler = std::function<bool(const std::function<bool()>& listIsEmpty)>;
    void setRetireHandler(RetireHandler handler);

    void cancel() override;
    // The folder left the library: cancel, and purge-mark what the interrupted pass left live.
    void stop();

    // How the last pass ended (tests and the log).
    enum class PassOutcome { None, Synced, Unreachable, StoreFailed, Cancelled };
    PassOutcome lastOutcome() const;

protected:
    void main() override;

private:
    std::optional<QVariantMap> takeAction();
    // False when cancelled while waiting.
    bool waitForQuiet();
    // True when the idle syncer ends (no action came, or it was cancelled).
    bool idleEnds();
    // The folder one pass over all pending changes syncs; fullSync tells a pass of the root.
    QString mergePendingChanges(const QVariantMap& first, bool* fullSync);
    // False when cancelled right after the walk (no end is announced then).
    bool runPass(const QString& folder, bool fullSync);
    // A walk of folder and everything below it: documents and folders, or folders only.
    KPFileNode::Ptr walk(const QString& folder, bool files, const KPFolderSnapshot::RememberedFiles& remembered = {}) const;
    // A walk of folder's documents after the rows of folder, which analytics keeps to compare.
    KPFileNode::Ptr walkAgainstRows(KPFolderSnapshotAnalytics& analytics, const QString& folder) const;
    void compareAndImport(KPFolderSnapshotAnalytics& analytics, const KPFileNode::Ptr& tree, bool isRoot);
    void rememberVolume(const KPFileNode& root);
    void setOutcome(PassOutcome outcome);
    void markLost(bool lost);
    void trashDocuments();
    // Posted on the main queue with the folder as object.
    void post(const QString& name) const;
    void postTree(const KPFileNode::Ptr& tree) const;

    QString m_path;
    platform::ObjectID m_folderID;
    DBIndexFolder m_folder; // touched on the main thread only
    IndexFolderServices m_services;
    std::unique_ptr<platform::OperationQueue> m_importQueue;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    QList<QVariantMap> m_syncActions;
    quint64 m_arrivals = 0;
    RetireHandler m_retire;
    bool m_stopped = false;
    PassOutcome m_lastOutcome = PassOutcome::None;
};
