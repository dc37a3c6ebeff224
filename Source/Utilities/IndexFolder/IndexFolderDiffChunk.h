// One piece of a folder comparison, handed to the index-folder import: at most 200 entries per
// list, the folder paths of the walk in the last piece only, and the context the rows live in
// (the chunk keeps it alive; the import reaches the rows through their object IDs).
#pragma once

#include "Utilities/IndexFolder/IFFileItem.h"
#include "Utilities/IndexFolder/KPFileNode.h"

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
// ("" when they were all removed).
struct IndexFolderModifiedEntry {
    platform::ManagedObjectPtr data;
    QDateTime date;
    quint32 fileID = 0;
    std::optional<QString> newTags;
};

struct IndexFolderDiffChunk {
    QList<KPFileNode::Ptr> newRecords;               // "New"
    QList<platform::ManagedObjectPtr> removeRecords; // "Remove"
    QList<IndexFolderRenameEntry> renameRecords;     // "Rename"
    QList<IndexFolderModifiedEntry> modifiedRecords; // "Modified"
    std::optional<QStringList> folders;              // "Folders", last chunk only
    platform::ContextPtr context;                    // "Context"

    bool isEmpty() const
    {
        return newRecords.isEmpty() && removeRecords.isEmpty() && renameRecords.isEmpty()
            && modifiedRecords.isEmpty();
    }
};
