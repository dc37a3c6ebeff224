// A document's place in the full-text index: skDocumentID is the index's document identifier,
// or one of the states below. A new record waits to be indexed.
#pragma once

#include "Store/DBRecord.h"

class DBFileInfo;

#define DB_DOCUMENT_INDEX_ATTRIBUTES(X) X(qint64, skDocumentID, setSkDocumentID, "skDocumentID")

class DBDocumentIndex : public DBRecord {
    DB_DECLARE_RECORD(DBDocumentIndex, DBRecord, "DBDocumentIndex")

    static constexpr qint64 kWaitingForIndex = -1;
    static constexpr qint64 kIndexFailed = -2;
    static constexpr qint64 kNotIndexable = -3;

    DB_DOCUMENT_INDEX_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)

    DBFileInfo fileInfo() const;
    bool setFileInfo(const DBFileInfo& fileInfo);
};
