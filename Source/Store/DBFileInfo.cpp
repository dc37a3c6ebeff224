#include "Store/DBFileInfo.h"

#include "Store/DBAuthor.h"
#include "Store/DBDocumentIndex.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Store/DBNode.h"
#include "Store/DBRecent.h"
#include "Store/DBTag.h"

DB_DEFINE_TO_ONE(DBFileInfo, DBNode, node, setNode, "node")
DB_DEFINE_TO_ONE(DBFileInfo, DBRecent, recent, setRecent, "recent")
DB_DEFINE_TO_ONE(DBFileInfo, DBFileInfoMetadata, metadata, setMetadata, "metadata")
DB_DEFINE_TO_ONE(DBFileInfo, DBDocumentIndex, documentIndex, setDocumentIndex, "documentIndex")
DB_DEFINE_TO_ONE(DBFileInfo, DBIndexFolderMetadata, indexFolderMetadata, setIndexFolderMetadata,
                 "indexFolderMetadata")
DB_DEFINE_TO_MANY(DBFileInfo, DBTag, tags, setTags, addTagsObject, removeTagsObject, "tags")
DB_DEFINE_TO_MANY(DBFileInfo, DBAuthor, authors, setAuthors, addAuthorsObject, removeAuthorsObject, "authors")
