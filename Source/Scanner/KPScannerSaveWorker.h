// Saves the scan window's pages as one PDF document of the library: the pages drawn into a PDF
// in the temporary folder, the file moved into the library, its preview stored as the thumbnail,
// and one record inserted under the chosen collection or folder.
//
// Every step is checked. A save that fails or is cancelled before its record is stored removes
// what it made (the PDF, the moved file, the thumbnail) and answers 0, so the library never
// holds a record without a file nor a file without a record, and saving again makes no
// duplicate. Once the record is stored the save answers 1 whatever Cancel says.
//
// Threads: run() works on the calling thread (a global queue); the cancel flag may be set from
// any thread.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Scanner/KPCGImageStoreObj.h"
#include "Store/ImportRecord.h"

#include <QList>
#include <QSize>
#include <QString>
#include <atomic>
#include <functional>

class DataBaseEngine;
class KPLibraryFileManager;

class KPScannerSaveWorker {
public:
    // A side past this many points is beyond what PDF readers are expected to show.
    static constexpr int kMaxPageSide = 14400;
    static constexpr int kPreviewSide = 512;

    struct Environment {
        const KPLibraryFileManager* files = nullptr;
        QString temporaryFolder;
        // The preview stored as the document's thumbnail.
        std::function<QImage(const QString& pdfPath)> preview;
        // Stores the record under the node of that nodeID (0: none) and marks it scanned.
        std::function<platform::Result<void>(const ImportRecord& record, quint64 nodeID)> insert;
    };
    struct Outcome {
        int returnCode = 0;     // 1: the document is in the library
        QString error;          // why not, empty after a cancel
        QString relativePath;   // the stored document's library path
    };

    explicit KPScannerSaveWorker(Environment environment);

    Outcome run(const QList<KPCGImageStoreObj::Ptr>& pages, const QString& name, quint64 nodeID,
                const std::atomic<bool>& cancel) const;

    // The name as a file name: '/', NUL and control characters become '_', surrounding blanks
    // go, and it is cut (between characters) so that it stays a legal name with ".pdf" and a
    // collision suffix. Empty when nothing is left.
    static QString sanitizedFileName(const QString& name);
    // Why the name cannot be the document's (nothing left of it, or a leading dot, which would
    // hide the file), for the user; empty when it can.
    static QString nameError(const QString& name);
    // The largest turned width and the largest turned height over the pages.
    static QSize pageSize(const QList<KPCGImageStoreObj::Ptr>& pages);

    // Draws every page that has an image, centred on pages of one size (scaled down past
    // kMaxPageSide), into path. False when cancelled; an error when the PDF was not written
    // whole: the file is synced and opened again, and must hold every page drawn (a full disk
    // shows only so). What is left at path on failure is the caller's to remove.
    static platform::Result<bool> writePdf(const QList<KPCGImageStoreObj::Ptr>& pages, const QString& path,
                                           const std::atomic<bool>& cancel);

    // The insert of a running program: in a context of its own on engine (the shared one when
    // null), saved to disk, then merged into the main context.
    static platform::Result<void> insertIntoLibrary(const ImportRecord& record, quint64 nodeID,
                                                    DataBaseEngine* engine = nullptr);

private:
    Environment m_env;
};
