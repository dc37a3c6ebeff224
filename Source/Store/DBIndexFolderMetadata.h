// What an index-folder document adds: the folderID of the folder holding its file
// (DBHelper::folderIDForFilePath) and a uuid that keys its row in the index-folder store.
#pragma once

#include "Store/DBRecord.h"

class DBFileInfo;

#define DB_INDEX_FOLDER_METADATA_ATTRIBUTES(X)                                                     \
    X(quint64, folderID, setFolderID, "folderID")                                                  \
    X(quint64, uuid, setUuid, "uuid")

class DBIndexFolderMetadata : public DBRecord {
    DB_DECLARE_RECORD(DBIndexFolderMetadata, DBRecord, "DBIndexFolderMetadata")

    DB_INDEX_FOLDER_METADATA_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)

    DBFileInfo fileInfo() const;
    bool setFileInfo(const DBFileInfo& fileInfo);
};
