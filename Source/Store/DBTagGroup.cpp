#include "Store/DBTagGroup.h"

#include "Store/DBTag.h"

DB_DEFINE_TO_MANY(DBTagGroup, DBTag, tags, setTags, addTagsObject, removeTagsObject, "tags")
