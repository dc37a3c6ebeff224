#include "Store/DBNode.h"

#include "Store/DBFileInfo.h"

DB_DEFINE_TO_ONE(DBNode, DBNode, parent, setParent, "parent")
DB_DEFINE_TO_MANY(DBNode, DBNode, children, setChildren, addChildrenObject, removeChildrenObject, "children")
DB_DEFINE_TO_MANY(DBNode, DBFileInfo, files, setFiles, addFilesObject, removeFilesObject, "files")
