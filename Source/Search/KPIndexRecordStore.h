// What the indexing worker needs of the library store, and nothing more.
//
// The worker's rules (batches, idling, back-off, what a failed write means) are independent of
// how the store keeps its DBDocumentIndex records, so the store is reached through this seam:
// KPIndexLibraryStore answers it with background contexts of the library store, and tests can
// answer it with a store that fails on purpose (disk full) or holds thousands of records.
//
// Threads: every call comes from the indexing worker or from rebuildAndWait, never from the
// main thread, and may block until the store has answered.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QList>
#include <QVariantList>

class KPIndexRecordStore {
public:
    virtual ~KPIndexRecordStore() = default;

    // "New" records (IndexQueueRecord: "Type", "ID", "Path", "URI", "SKID") of at most limit
    // documents that wait for indexing (skDocumentID -1) and are not in the trash.
    virtual platform::Result<QVariantList> fetchWaitingRecords(int limit) = 0;
    // Sets each entry's record ({"ID", "DocumentID"}) to its new skDocumentID in one save; false
    // when the save failed, in which case no record changed.
    virtual bool writeResults(const QVariantList& entries) = 0;
    // Of entries just written, the index documents ("DocumentID" above 0) whose record has gone
    // meanwhile (the document left the library while it was being read): the worker purges them,
    // or their text would stay in the index with nothing that names it.
    virtual QList<qint64> documentsWithoutRecord(const QVariantList& entries)
    {
        Q_UNUSED(entries);
        return {};
    }
    // Sets every record that is not an image (-3) back to waiting (-1); false when the save failed.
    virtual bool resetForRebuild() = 0;
    // The highest skDocumentID any record holds (0 when none is positive), so that a new index
    // never hands out an ID the store still remembers.
    virtual qint64 highestDocumentID() = 0;
};
