// The work an import does for one file, shared by the flat and the hierarchical import: the
// preview, the verified copy into the library, the thumbnail, the metadata and the import
// record, and the two ways back out (throwing a copy away, removing a source after a move).
//
// A copy is trusted only after it has been compared with its source (tree shape and sizes);
// until then no record names it. Before the records are stored, all copies and thumbnails of the
// import are flushed to disk together with the folders that name them (only those: the rest of
// the file system is other programs' business), and a flush that fails keeps the records out of
// the store.
// A copy that fails leaves nothing behind and the source untouched. A thumbnail belongs to
// the copy it was made for (it is named after the copy's unique path), so throwing a copy away
// takes exactly its own thumbnail with it. Sources are removed only when the caller says the
// records were stored, never inside the library folder, and never through a link.
//
// Every name a copy takes is noted in the import's journal first (KPImportJournal), so that
// copies of an import killed before its save are taken back out when the library is opened
// again; the operation forgets the journal once its copies are stored or removed.
//
// What can be made of the source alone (the preview, its encoded thumbnail, the metadata) is
// made by prepare(), ahead of the copy and off the import thread, so that the import thread
// only copies, writes and records; the write of the thumbnail still waits for its copy.
//
// Threads: one worker belongs to one operation, on the import queue's thread, except
// preview(), prepare() and readMetadata(), which the operation's preview threads call as well
// (they only read the source). The seams are process-wide and meant for tests.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Store/KPImportJournal.h"
#include "Store/KPLibraryFileManager.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

struct KPPreparedFile;

// One file that arrived in the library: its record and what this import created for it.
struct KPImportedFile {
    QString source;    // the original's full path
    QString copyPath;  // absolute path of the copy in the library
    QString thumbPath; // absolute path of the thumbnail this import wrote; empty when none
    QVariantMap record;
};

class KPImportFileWorker {
public:
    struct Metadata {
        QStringList tags;
        int rate = 0;
        QStringList authors;
        QString comment;
        int finderLabel = 0;
    };

    KPImportFileWorker(const KPLibraryFileManager& library, const QStringList& newTags);

    const KPLibraryFileManager& library() const { return m_library; }

    // The 512×512 preview of the source (never null: the kind's icon stands in).
    QImage preview(const QString& source) const;
    // Tags (the file's own, then the import's new tags), rating, authors, comment and label.
    Metadata readMetadata(const QString& source) const;
    // The preview and its encoded thumbnail, and the metadata when withMetadata.
    KPPreparedFile prepare(const QString& source, bool withMetadata) const;
    // Writes the tags the import gives (with the file's own) into the copy's attributes.
    void writeGivenTags(const QString& copyPath, const Metadata& metadata) const;
    // Copies the source into today's folder and checks the copy; the copy's absolute path.
    platform::Result<QString> copyIn(const QString& source) const;
    // Flushes the copies and thumbnails made so far to disk, and only them (with the folders
    // that hold them); an error when any of them could not be written.
    platform::Result<void> flushCopies() const;
    // Writes the thumbnail of a copy, unflushed until flushCopies(); its absolute path, empty
    // when it could not be written.
    QString writeThumb(const QString& copyPath, const KPPreparedFile& prepared) const;
    // The import record of a copied file.
    KPImportedFile makeRecord(const QString& source, const QString& copyPath, const QString& thumbPath,
                              const Metadata& metadata) const;

    // Removes what this import made for the file: its copy and its thumbnail. False (logged)
    // when something stayed.
    bool discard(const KPImportedFile& file) const;
    // Every copy made so far is stored or removed: the journal can go.
    void forgetCopies() const;
    // Removes the source of a stored file when that is safe; false when it was kept.
    bool removeSource(const KPImportedFile& file) const;

    // Test seam: replaces the library's copy (answers the copy's library-relative path); a copy
    // made with the library passes beforeClaim on, so that the journal sees it.
    using CopyFunction = std::function<platform::Result<QString>(const KPLibraryFileManager&, const QString& source,
                                                                 const KPLibraryFileManager::BeforeClaim& beforeClaim)>;
    static void setCopyFunctionForTesting(CopyFunction copy);
    // Test seam: replaces the library's thumbnail writer (answers the thumbnail's relative path).
    using ThumbFunction = std::function<platform::Result<QString>(const KPLibraryFileManager&, const QString& copy,
                                                                  const QImage& image)>;
    static void setThumbFunctionForTesting(ThumbFunction thumb);
    // Test seam: replaces the preview maker; called from several threads at once.
    using PreviewFunction = std::function<QImage(const QString& source)>;
    static void setPreviewFunctionForTesting(PreviewFunction preview);

private:
    const KPLibraryFileManager& m_library;
    QStringList m_newTags;
    mutable KPImportJournal m_journal; // the import queue's thread only
    // The copies and thumbnails written since the last flushCopies(); the import queue's thread only.
    mutable QStringList m_unflushed;
};

// What prepare() made of one source.
struct KPPreparedFile {
    QString source;
    QImage preview;       // never null
    QByteArray thumbnail; // the preview as the library stores it; empty when it could not be encoded
    std::optional<KPImportFileWorker::Metadata> metadata;
};
