#include "Store/DBDocumentIndex.h"

#include "Store/DBFileInfo.h"

DB_DEFINE_TO_ONE(DBDocumentIndex, DBFileInfo, fileInfo, setFileInfo, "fileInfo")
