// Applies one piece of a folder comparison to the two stores: new files become referenced
// documents, documents of vanished files go to the trash, renames and modifications follow the
// files, and the index-folder store records what was done so the next comparison starts there.
//
// The order of the writes is what keeps the stores from disagreeing after a crash or a failed
// save. The library is written first, to disk (not only into the main context), and the
// index-folder store only after that save succeeded, and only for the entries the library
// took. The piece's thumbnails are flushed to disk together, once, before the library save
// that names them; a flush that fails leaves the new files unadded and the modified ones
// unrecorded, for the next pass. A crash between the two leaves files the next comparison sees as new although their
// documents exist; those are re-linked by path instead of being inserted again. A library save
// that fails leaves the index-folder store untouched, so the next sync tries again.
//
// One operation per piece, run one at a time on its syncer's import queue. The rows in the
// piece belong to the comparison's context on the syncer's thread; they are only read here
// through their object IDs, in contexts of this thread.
#pragma once

#include "IndexFolder/IndexFolderDiffChunk.h"
#include "IndexFolder/IndexFolderServices.h"

#include "Platform/Foundation/Operation.h"
#include "Platform/ObjectStore/ObjectID.h"

#include <QHash>
#include <QString>
#include <memory>
#include <mutex>

// What the imports of one sync run share: the import batch (DBRecent) the run's new documents
// join, made by the first piece that adds any, and the live documents already below the synced
// folder by path, read once when the first new file is met.
struct IndexFolderImportBatch {
    QString folder;                // the synced folder; re-linking looks below it
    std::mutex mutex;              // guards the members below
    platform::ObjectID recentID;   // null until a piece added documents
    bool documentsRead = false;
    QHash<QString, platform::ObjectID> documentsByPath;
    int addedCount = 0;            // documents inserted by this run
    int relinkedCount = 0;         // documents found again instead of inserted
    bool libraryFailed = false;    // a library save of this run failed
};

class IndexFolderImportDataPushObj : public platform::Operation {
public:
    static inline const QString kNewTagNotification = QStringLiteral("NewTagNotification");

    IndexFolderImportDataPushObj(IndexFolderDiffChunk chunk, std::shared_ptr<IndexFolderImportBatch> recent,
                                 IndexFolderServices services);
    ~IndexFolderImportDataPushObj() override;

    const IndexFolderDiffChunk& analyticsResult() const { return m_analyticsResult; }

protected:
    void main() override;

private:
    struct Work;
    void addFolders();
    platform::Result<QString> writeThumbnail(Work& work, const QString& path);
    void makeModifiedThumbnails(Work& work);
    // False when the flush failed (the batch is marked failed).
    bool flushThumbnails(Work& work);
    bool applyLibraryChanges(Work& work);
    void collectNewRecords(Work& work);
    bool insertNewRecords(Work& work);
    void recordInIndexStore(const Work& work);
    void readDocumentsBelowFolder();

    IndexFolderDiffChunk m_analyticsResult;
    std::shared_ptr<IndexFolderImportBatch> m_batch;
    IndexFolderServices m_services;
};
