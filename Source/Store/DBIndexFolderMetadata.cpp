#include "Store/DBIndexFolderMetadata.h"

#include "Store/DBFileInfo.h"

DB_DEFINE_TO_ONE(DBIndexFolderMetadata, DBFileInfo, fileInfo, setFileInfo, "fileInfo")
