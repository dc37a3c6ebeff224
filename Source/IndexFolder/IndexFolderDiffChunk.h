// One piece of a folder comparison, handed to the index-folder import: at most 200 entries per
// list, the folder paths of the walk in the last piece only, and the context the rows live in
// (the chunk keeps it alive; the import reaches the rows through their object IDs).
#pragma once

#include "IndexFolder/IFFileItem.h"
#include "IndexFolder/KPFileNode.h"

#include "Platform/ObjectStore/ManagedObjectContext.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// "Rename": the row's file now stands at toPath.
struct IndexFolderRenameEntry {
    QString fromPath;
    QString toPath;
    platform::ManagedObjectPtr data;
};

// "Modified": the file at the row's path changed. newTags is set only when its tags changed
// ("" when they were all removed); changeTime is the walk's (KPFileNode::changeTime).
struct IndexFolderModifiedEntry {
    platform::ManagedObjectPtr data;
    QDateTime date;
    quint32 fileID = 0;
    std::optional<QString> newTags;
    std::optional<qint64> changeTime;
};

// An unchanged file whose tags the walk read again, at a change time the row does not hold
// yet: the row takes it, so the next pass need not read them.
struct IndexFolderSeenEntry {
    platform::ManagedObjectPtr data;
    qint64 changeTime = 0;
};

struct IndexFolderDiffChunk {
    QList<KPFileNode::Ptr> newRecords;               // "New"
    QList<platform::ManagedObjectPtr> removeRecords; // "Remove"
    QList<IndexFolderRenameEntry> renameRecords;     // "Rename"
    QList<IndexFolderModifiedEntry> modifiedRecords; // "Modified"
    QList<IndexFolderSeenEntry> seenRecords;         // rows that only take a change time
    std::optional<QStringList> folders;              // "Folders", last chunk only
    platform::ContextPtr context;                    // "Context"

    bool isEmpty() const
    {
        return newRecords.isEmpty() && removeRecords.isEmpty() && renameRecords.isEmpty()
            && modifiedRecords.isEmpty() && seenRecords.isEmpty();
    }
};
