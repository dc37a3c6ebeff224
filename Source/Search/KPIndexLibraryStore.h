// The indexing worker's view of the library store: DBDocumentIndex records read and written
// through background contexts of the default context (KPCoreDataAction), waiting for each.
//
// A document inserted moments ago may still carry a temporary object ID; its URI would name
// nothing once the store has saved it, so the ID is made permanent before its URI goes into a
// record for the index.
#pragma once

#include "Search/KPIndexRecordStore.h"

class KPIndexLibraryStore : public KPIndexRecordStore {
public:
    platform::Result<QVariantList> fetchWaitingRecords(int limit) override;
    bool writeResults(const QVariantList& entries) override;
    QList<qint64> documentsWithoutRecord(const QVariantList& entries) override;
    bool resetForRebuild() override;
    qint64 highestDocumentID() override;
};
