#include "Store/DBFileInfoMetadata.h"

#include "Store/DBFileInfo.h"

DB_DEFINE_TO_ONE(DBFileInfoMetadata, DBFileInfo, fileInfo, setFileInfo, "fileInfo")
