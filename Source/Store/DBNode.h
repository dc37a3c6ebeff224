// A node of the collection tree: a collection (type 1), a folder (type 2) or a smart folder
// (type 3, the DBSmartFolder sub-entity). Its nodeID is fixed when the engine creates it and is
// the key saved selections and favourites find it by.
#pragma once

#include "Store/DBRecord.h"

class DBFileInfo;

#define DB_NODE_ATTRIBUTES(X)                                                                      \
    X(QString, title, setTitle, "title")                                                           \
    X(quint64, nodeID, setNodeID, "nodeID")                                                        \
    X(int, type, setType, "type")                                                                  \
    X(int, sortID, setSortID, "sortID")                                                            \
    X(bool, isTrash, setIsTrash, "isTrash")                                                        \
    X(bool, expand, setExpand, "expand")

class DBNode : public DBRecord {
    DB_DECLARE_RECORD(DBNode, DBRecord, "DBNode")

    enum NodeType { Collection = 1, Folder = 2, SmartFolder = 3 };

    DB_NODE_ATTRIBUTES(DB_DECLARE_ATTRIBUTE)

    // Nil at the top level.
    DBNode parent() const;
    bool setParent(const DBNode& parent);
    QList<DBNode> children() const;
    bool setChildren(const QList<DBNode>& children);
    bool addChildrenObject(const DBNode& child);
    bool removeChildrenObject(const DBNode& child);
    QList<DBFileInfo> files() const;
    bool setFiles(const QList<DBFileInfo>& files);
    bool addFilesObject(const DBFileInfo& file);
    bool removeFilesObject(const DBFileInfo& file);
};
