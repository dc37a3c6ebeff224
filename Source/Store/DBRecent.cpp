#include "Store/DBRecent.h"

#include "Store/DBFileInfo.h"

DB_DEFINE_TO_MANY(DBRecent, DBFileInfo, fileInfos, setFileInfos, addFileInfosObject, removeFileInfosObject,
                  "fileInfos")
