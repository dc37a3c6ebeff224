// A smart folder: a node of type 3 whose data holds the archived rule dictionary of the
// smart-folder editor. Fetches of "DBNode" return smart folders too; a DBNode view of one can
// be turned into this view with DBSmartFolder(node.object()).
#pragma once

#include "Store/DBNode.h"

#define DB_SMART_FOLDER_ATTRIBUTES(X) X(QByteArray, data, setData, "data")

class DBSmartFolder : public DBNode {
    DB_DECLARE_RECORD(DBSmartFolder, DBNode, "DBSmartFolder")

    DB_SMART_FOLDER_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)
};
