// The comparison of a folder snapshot with what the index-folder store remembers of that
// folder: files that are new, gone, renamed (same file number, new path) or modified (same
// path, new date or tags), handed over in chunks of at most 200 entries per list. Unchanged
// files whose tags the walk had to read again give their rows the change time they were read
// at (in chunks of kSeenChunkSize: they cost one value each), so the next walk can skip them.
//
// The rows can be read before the walk (readRows), which then takes what they recorded
// (rememberedFiles) instead of reading every file's attributes; the comparison uses the same
// rows. Unchanged files are found with one hash look-up by path each; pairing the changed ones
// goes through indexes by path and by file number, so even a folder whose every file moved
// costs linear time. The comparison refuses to run rather than mislead the import:
// - without a working store, or when the rows cannot be fetched: every file would look new
//   and be imported again on every sync;
// - when the walked folder is out of reach while rows exist for it: every document would look
//   removed and be trashed. Out of reach is a folder missing or unreadable, a mount point
//   (as recorded at the last successful pass) that is now a plain folder, and a folder without
//   a document (hidden files do not count) unless it is on the device recorded for it then: an
//   unmounted volume leaves such a folder behind, while a folder emptied where it always was
//   loses its documents like any other removal. Without a recorded volume (stores from before
//   volumes were recorded, a sub-folder) a folder without a document removes nothing.
// Below a reachable folder, rows of a sub-folder that could not be listed (or of an item that
// could not be read) are never removed; rows of a sub-folder that no longer exists are.
//
// Threads: one comparison per object, on the caller's thread, in a private context of the
// store; chunks are handed over on that thread, in order.
#pragma once

#include "IndexFolder/IFFileItem.h"
#include "IndexFolder/IndexFolderDiffChunk.h"
#include "IndexFolder/KPFileNode.h"
#include "IndexFolder/KPFolderSnapshot.h"

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class KPIndexFolderDBEngine;

class KPFolderSnapshotAnalytics {
public:
    // Entries per list and chunk: bounds the work and memory of each import step.
    static constexpr qsizetype kChunkSize = 200;
    static constexpr qsizetype kSeenChunkSize = 5000;

    using ChunkBlock = std::function<void(const IndexFolderDiffChunk& chunk)>;

    // engine: null for the shared index-folder store. fileNode may be given later (setFileNode).
    explicit KPFolderSnapshotAnalytics(KPFileNode::Ptr fileNode, KPIndexFolderDBEngine* engine = nullptr);

    void setFileNode(KPFileNode::Ptr fileNode) { m_fileNode = std::move(fileNode); }

    // Reads the live rows of folder and everything below it ahead of the walk of folder. A
    // failure is not kept: the comparison reads again and reports it.
    void readRows(const QString& folder);
    // What the rows read say of each path, for the walk; valid while this object lives.
    KPFolderSnapshot::RememberedFiles rememberedFiles() const;

    // Compares and hands every chunk to block before it returns. Fails, handing over nothing,
    // with KPIndexFolderDBEngine's StoreUnavailableError, FetchError or UnreachableError (the
    // message says why; it is logged too).
    platform::Result<void> analyticsWithChunkCompletedBlock(ChunkBlock block);
    platform::Result<void> analyticsFileByFileNode(const KPFileNode::Ptr& node);

    // The private context the chunks' rows live in; made on first use.
    const platform::ContextPtr& queryContext();

private:
    struct StoredRow {
        IFFileItem item;
        platform::ManagedObjectPtr object;
        QString fullPath;
    };
    platform::Result<void> fetchRows(const QString& folder);
    // The first row at path (in fetch order), or -1; m_nextAtPath chains the others.
    qsizetype firstRowAt(const QString& path) const { return m_rowAtPath.value(path, 0) - 1; }

    // Why the listed root, with rows remembered for it, must not be compared ("" when it may).
    platform::Result<QString> volumeDoubt(const KPFileNode& root, bool holdsDocuments, qsizetype remembered);
    void emitChunks();
    void handOver(IndexFolderDiffChunk chunk);

    KPFileNode::Ptr m_fileNode;
    KPIndexFolderDBEngine* m_engine;
    platform::ContextPtr m_queryContext;
    ChunkBlock m_completedBlock;

    std::optional<QString> m_rowsFolder; // the folder whose rows m_rows holds
    std::vector<StoredRow> m_rows;
    QHash<QString, qsizetype> m_rowAtPath; // path → index of its first row + 1
    std::vector<qsizetype> m_nextAtPath;   // row → the next row at its path, or -1

    QList<KPFileNode::Ptr> m_newRecords;
    QList<platform::ManagedObjectPtr> m_removeRecords;
    QList<IndexFolderModifiedEntry> m_modifileRecords;
    QList<IndexFolderRenameEntry> m_renameRecords;
    QList<IndexFolderSeenEntry> m_seenRecords;
    QStringList m_folderRecords;
};
