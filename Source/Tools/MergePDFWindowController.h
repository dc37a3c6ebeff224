// Merges the selected PDF documents into a new library document, as a sheet on the main window:
// the merge runs in the background (PDFMerge) while the sheet shows a busy bar; on success the
// merged file is moved into the library and its record made, in the chosen folder and with the
// tags of the selection; success or failure, the sheet then shows its hint view until the user
// presses the finish button.
//
// Calling order: construct, beginSheet(mainWindow), mergePDFWithCompletedBlock(block). The
// block runs only from the finish button, after the result was shown (not after a cancel).
// Once begun, the sheet owns the controller: it deletes itself when the sheet has ended (a
// cancel, the finish button, or its window going away, which counts as a cancel).
//
// The merged file goes into the library through KPLibraryFileManager::moveFile (verified, under
// a free name); only a file that arrived gets a record. A move that fails shows the failure
// hint, makes no record and deletes the merged file. A cancel drops a merge still running or
// waiting, and its file with it.
//
// Threads: main thread only; the merge's own thread is PDFMerge's.
#pragma once

#include "Store/DBNode.h"
#include "Store/DBTag.h"
#include "Tools/MergePDFWindow.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QStringList>
#include <functional>
#include <memory>

class DataBaseEngine;
class KPLibraryFileManager;
class PDFMerge;

namespace platform::kit {
class Sheet;
}

class MergePDFWindowController : public QObject {
public:
    using CompletedBlock = std::function<void()>;
    using PreviewProvider = std::function<QImage(const QString& path, const QSize& size)>;

    // The source PDFs in merge order, the folder for the new document (nil: none) and the
    // tags it gets (nil entries and repeats are linked once).
    MergePDFWindowController(const QStringList& filePaths, const DBNode& dbNode, const QList<DBTag>& tags);
    ~MergePDFWindowController() override;

    // Shows the content as a sheet on window's top-level window.
    void beginSheet(QWidget* window);
    // Starts the merge; block runs when the user finishes after the result was shown.
    void mergePDFWithCompletedBlock(CompletedBlock block);

    void btnCancelClick();
    void btnFinishedClick();

    const MergePDFOutlets& outlets() const { return m_outlets; }

    // Seams: the store engine (the shared one unless set), the library folder (the shared
    // manager unless set) and the preview maker (imageWithPreviewOfFileAtPath unless set).
    void setDataBaseEngine(DataBaseEngine* engine) { m_engine = engine; }
    void setLibraryFileManager(const KPLibraryFileManager* files) { m_files = files; }
    void setPreviewProvider(PreviewProvider provider) { m_preview = std::move(provider); }

    // The sheet's return codes.
    static constexpr int kFinishedCode = 1;
    static constexpr int kCancelCode = 0;

private:
    void mergeCompleted(const QString& mergedPath);
    // Moves the merged file into the library and makes its record; false when it did not arrive.
    bool storeMergedFile(const QString& mergedPath);
    void showHintView(const QString& text = QString());
    void sheetEnded(int returnCode);

    QStringList m_filePaths;
    DBNode m_dbNode;
    QList<DBTag> m_tags;
    MergePDFOutlets m_outlets;
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    std::unique_ptr<PDFMerge> m_pdfMerge;
    CompletedBlock m_completedBlock;
    DataBaseEngine* m_engine = nullptr;
    const KPLibraryFileManager* m_files = nullptr;
    PreviewProvider m_preview;
    bool m_sheetEnded = false;
};
