// A Move into the SafeBox that has begun deleting originals, kept in a small file in the library
// folder, so that the next opening of the library finishes it when the program was killed
// between the deletion of the originals and the removal of their records.
//
// The Move writes the journal (synced) once the box holds the copies sealed and before the
// first original is deleted, and removes it once the moved documents' records are gone. On
// opening, replay() marks for deletion each named record whose file is gone (the purge that
// follows removes it with its index text and thumbnail, as the Move would have), and removes the
// journals. A record whose file is still there stays as it is: its original was never deleted,
// so the library keeps it as after a copy. A record is acted on only while it still names the
// file the journal names.
//
// File: "<library>/.folivo-safebox-move-<16 hex digits>.journal", one line per document:
// "<record URI, percent-encoded> <absolute path of the original, percent-encoded>". Lines that
// do not read as such are skipped.
//
// Threads: write and remove on any thread (one Move owns its journal); replay on the main
// thread while the library is being opened, under the library lock.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Platform/ObjectStore/PersistentStoreCoordinator.h"

#include <QList>
#include <QString>

class KPSafeBoxMoveJournal {
public:
    struct Entry {
        QString uri;  // the document's record
        QString path; // its original, as the Move deletes it
    };

    // Writes a new journal naming entries, durably; its path.
    static platform::Result<QString> write(const QString& libraryFolder, const QList<Entry>& entries);
    static void remove(const QString& journalPath);
    // The entries of a journal file (empty when it cannot be read).
    static QList<Entry> read(const QString& journalPath);
    // The journals left in libraryFolder.
    static QStringList journals(const QString& libraryFolder);

    // On opening the library: marks for deletion (isTrash, isNeedDelete) every named record whose
    // original is gone, saves, and removes the journals. How many records were marked.
    static int replay(const QString& libraryFolder, const platform::ContextPtr& context,
                      const platform::CoordinatorPtr& coordinator);
};
