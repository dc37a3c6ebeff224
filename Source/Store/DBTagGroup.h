// A group of tags in the tags side bar.
#pragma once

#include "Store/DBRecord.h"

class DBTag;

#define DB_TAG_GROUP_ATTRIBUTES(X)                                                                 \
    X(QString, name, setName, "name")                                                              \
    X(int, sortID, setSortID, "sortID")                                                            \
    X(bool, expand, setExpand, "expand")                                                           \
    X(bool, isTrash, setIsTrash, "isTrash")

class DBTagGroup : public DBRecord {
    DB_DECLARE_RECORD(DBTagGroup, DBRecord, "DBTagGroup")

    DB_TAG_GROUP_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)

    QList<DBTag> tags() const;
    bool setTags(const QList<DBTag>& tags);
    bool addTagsObject(const DBTag& tag);
    bool removeTagsObject(const DBTag& tag);
};
