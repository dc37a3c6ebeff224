// A watched folder or document source. Its documents are not linked to it: they are the
// records with isIndex whose path lies below path.
#pragma once

#include "Store/DBRecord.h"

#define DB_INDEX_FOLDER_ATTRIBUTES(X)                                                              \
    X(QString, path, setPath, "path")                                                              \
    X(QString, title, setTitle, "title")                                                           \
    X(QString, type, setType, "type")                                                              \
    X(QByteArray, data, setData, "data")                                                           \
    X(bool, isLost, setIsLost, "isLost")                                                           \
    X(bool, isTrash, setIsTrash, "isTrash")

class DBIndexFolder : public DBRecord {
    DB_DECLARE_RECORD(DBIndexFolder, DBRecord, "DBIndexFolder")

    DB_INDEX_FOLDER_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)
};
