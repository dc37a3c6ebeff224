#include "Store/DBTag.h"

#include "Store/DBFileInfo.h"
#include "Store/DBTagGroup.h"

DB_DEFINE_TO_ONE(DBTag, DBTagGroup, group, setGroup, "group")
DB_DEFINE_TO_MANY(DBTag, DBFileInfo, fileInfos, setFileInfos, addFileInfosObject, removeFileInfosObject,
                  "fileInfos")
