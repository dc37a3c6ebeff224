// What an import has copied into the library and not stored yet, kept in a small file in the
// library folder, so that the next opening of the library can take back out the copies of an
// import that was killed before its records were saved.
//
// Before a staged copy tries to take a name in the library, that name and the identity of the
// staged file (device and inode, which the rename keeps) are appended to the journal; once the
// import's records are saved, or its copies removed, the journal goes. When the library is
// opened, removeLeftovers() removes an item a journal names only when it is still that very
// file and no record names it, and then its thumbnail unless a record names that. A name the
// copy could not take (someone else's file was there) is therefore never touched, nor is
// anything a journal does not name.
//
// Entries are plain appends: they survive the process being killed. A power cut may lose them,
// but the copies themselves are flushed only just before their records are saved.
//
// File: "<library>/.folivo-import-<16 hex digits>.journal", one per import, with lines of
// "<device> <inode> <library-relative path, percent-encoded>". A torn last line is ignored:
// its rename had not happened yet.
//
// Threads: a journal belongs to one import (its thread). removeLeftovers runs while the library
// is being opened, before any import starts.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Store/KPLibraryFileManager.h"

#include <QString>
#include <QStringList>
#include <functional>

class KPImportJournal {
public:
    explicit KPImportJournal(QString libraryFolder);
    // Leaves the file: an import that ends without forget() counts as killed.
    ~KPImportJournal() = default;
    KPImportJournal(const KPImportJournal&) = delete;
    KPImportJournal& operator=(const KPImportJournal&) = delete;

    // Notes a staged copy about to take item.relativePath. An error when the journal cannot be
    // written; the copy must then not take the name.
    platform::Result<void> note(const KPLibraryFileManager::StagedItem& item);
    // The copies noted so far are stored or removed: removes the journal.
    void forget();
    // The journal's file; empty until the first note.
    const QString& path() const { return m_path; }

    // On opening the library: takes back out what the journals in libraryFolder name and
    // isRecorded (a library-relative path) does not claim, then removes the journals. The
    // library-relative paths of the items removed. A journal that cannot be read is kept.
    static QStringList removeLeftovers(const QString& libraryFolder,
                                       const std::function<bool(const QString& relativePath)>& isRecorded);

private:
    QString m_libraryFolder;
    QString m_path;
};
