// An author of documents, linked by name like tags.
#pragma once

#include "Store/DBRecord.h"

class DBFileInfo;

#define DB_AUTHOR_ATTRIBUTES(X)                                                                    \
    X(QString, name, setName, "name")                                                              \
    X(int, authorID, setAuthorID, "authorID")                                                      \
    X(bool, isTrash, setIsTrash, "isTrash")

class DBAuthor : public DBRecord {
    DB_DECLARE_RECORD(DBAuthor, DBRecord, "DBAuthor")

    DB_AUTHOR_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)

    QList<DBFileInfo> fileInfos() const;
    bool setFileInfos(const QList<DBFileInfo>& fileInfos);
    bool addFileInfosObject(const DBFileInfo& fileInfo);
    bool removeFileInfosObject(const DBFileInfo& fileInfo);
};
