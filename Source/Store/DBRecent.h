// One import event (an import, an index-folder pass, a merge) and the documents it brought in.
#pragma once

#include "Store/DBRecord.h"

class DBFileInfo;

#define DB_RECENT_ATTRIBUTES(X)                                                                    \
    X(QDateTime, date, setDate, "date")                                                            \
    X(int, type, setType, "type")

class DBRecent : public DBRecord {
    DB_DECLARE_RECORD(DBRecent, DBRecord, "DBRecent")

    DB_RECENT_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)

    QList<DBFileInfo> fileInfos() const;
    bool setFileInfos(const QList<DBFileInfo>& fileInfos);
    bool addFileInfosObject(const DBFileInfo& fileInfo);
    bool removeFileInfosObject(const DBFileInfo& fileInfo);
};
