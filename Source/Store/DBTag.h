// A tag. Documents link tags by name, compared ignoring case and diacritics (DataBaseEngine's
// insert operations); isTrash removes a tag from the side bar and has the purge delete it at
// the next opening.
#pragma once

#include "Store/DBRecord.h"

class DBFileInfo;
class DBTagGroup;

#define DB_TAG_ATTRIBUTES(X)                                                                       \
    X(QString, name, setName, "name")                                                              \
    X(int, tagID, setTagID, "tagID")                                                               \
    X(int, sortID, setSortID, "sortID")                                                            \
    X(bool, isTrash, setIsTrash, "isTrash")

class DBTag : public DBRecord {
    DB_DECLARE_RECORD(DBTag, DBRecord, "DBTag")

    DB_TAG_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)

    // Nil when ungrouped.
    DBTagGroup group() const;
    bool setGroup(const DBTagGroup& group);
    QList<DBFileInfo> fileInfos() const;
    bool setFileInfos(const QList<DBFileInfo>& fileInfos);
    bool addFileInfosObject(const DBFileInfo& fileInfo);
    bool removeFileInfosObject(const DBFileInfo& fileInfo);
};
