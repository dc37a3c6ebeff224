// The store side of removing a document source or index folder from the library: its record
// goes to the trash, its documents are purge-marked (they leave the library and are erased at
// the next start) and their rows in the index-folder store are flagged removed. What belongs to
// an index folder nested in it (documents and rows) is left exactly as it is, and a folder that
// lies inside another live one only loses its record, since the enclosing folder keeps its
// documents. Documents of the source that were already in the library trash are purge-marked
// with the rest.
//
// Paths are compared exactly and by whole components: removing "/A/Docs" never touches
// "/A/Docs2". The library change is made and saved in a context of its own and reaches the
// main context only when saved, so a failed save leaves the library as it was, in memory and
// on disk, and the index-folder rows are then not touched either. The rows are changed only
// after the library change was saved; a failure there is retried once, then recorded in
// "pendingSourceRemovals.plist" beside the index-folder store, and the next start completes it
// (completePendingRemovals) before any sync: the source is gone from the library all the same.
//
// Threads: main thread (the removal sheet waits for it).
#pragma once

#include "Platform/Foundation/Error.h"
#include "IndexFolder/IndexFolderServices.h"

#include <QString>

class DocumentSourceRemoval {
public:
    enum class Outcome {
        Removed,    // record, documents and rows
        RecordOnly, // the folder lies inside another live index folder
        NotFound,   // no live record has that path; nothing changed
    };

    // An error when the library change could not be read or saved: nothing changed then.
    static platform::Result<Outcome> removeSource(const QString& folderPath, const IndexFolderServices& services);

    static inline const QString kPendingFileName = QStringLiteral("pendingSourceRemovals.plist");
    // At start, before the syncs: flags the rows of removals whose flagging failed; answers how
    // many were completed. Those that fail again stay recorded.
    static int completePendingRemovals(const IndexFolderServices& services);
};
