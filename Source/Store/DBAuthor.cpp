#include "Store/DBAuthor.h"

#include "Store/DBFileInfo.h"

DB_DEFINE_TO_MANY(DBAuthor, DBFileInfo, fileInfos, setFileInfos, addFileInfosObject, removeFileInfosObject,
                  "fileInfos")
