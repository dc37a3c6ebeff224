// What a document that leaves the library for good (moved into the SafeBox, emptied from the
// trash) leaves behind outside the library store, and its removal, which the library's purges
// run before they delete the document's record (DataBaseEngine::setLeftoverRemover): its words
// in the full-text index, the desktop's cached previews of its file, and the tag backups of
// its file (its path, name and tags, kept outside the file).
//
// Threads: the remover runs on the library's purge queue; what it calls may run on any thread.
#pragma once

#include "Store/DataBaseEngine.h"

#include <QList>
#include <functional>

class LibraryLeftovers {
public:
    // Removes the text of the index documents for good; false when some may remain.
    using IndexPurge = std::function<bool(const QList<qint64>&)>;

    // The remover; the index text goes through purge, by default the shared index manager's.
    // False (the records then stay marked for the next purge) when index text may remain; a
    // cached preview or a tag backup that cannot be removed is logged.
    static DataBaseEngine::LeftoverRemover remover(IndexPurge purge = {});

    LibraryLeftovers() = delete;
};
