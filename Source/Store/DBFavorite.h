// A favourite of the main side bar: the URI text of a node or tag. isNeedDelete marks one the
// user removed; the purge deletes it at the next opening.
#pragma once

#include "Store/DBRecord.h"

#define DB_FAVORITE_ATTRIBUTES(X)                                                                  \
    X(int, dataType, setDataType, "dataType")                                                      \
    X(QString, dataURI, setDataURI, "dataURI")                                                     \
    X(int, sortID, setSortID, "sortID")                                                            \
    X(bool, isNeedDelete, setIsNeedDelete, "isNeedDelete")

class DBFavorite : public DBRecord {
    DB_DECLARE_RECORD(DBFavorite, DBRecord, "DBFavorite")

    // Values of dataType.
    static constexpr int kDataTypeNode = 2;
    static constexpr int kDataTypeTag = 4;

    DB_FAVORITE_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)
};
