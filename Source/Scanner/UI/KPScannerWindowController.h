// The scan window: the page list with thumbnails at the left, the page editor at the right, and
// the controls below (Scan, New Page, Rotate, Crop, Save, the page count). Pages come from the
// scanner sheet, from files dropped on the editor and from "AddFromScanner". Closing with pages
// asks whether to save them first; Save opens the save sheet, whose code 1 closes the window.
// The program's quit asks the same while pages would be lost.
//
// Main thread only. Thumbnails are made on an operation queue of at most three; dropped files
// are read on a global queue.
#pragma once

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Scheduler.h"
#include "Scanner/KPScannerPageList.h"

#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>

class QLabel;
class QListWidget;
class QPushButton;
class QWidget;
class DataBaseEngine;
class KPEditorImageView;
class KPScannerSaveWindowController;
class ScanFromICWindowController;
class VQTitlebarWindow;

namespace platform {
class OperationQueue;
}

class KPScannerWindowController {
public:
    // Tuning: the pause between the close question's "Save" and the save sheet, so the alert is
    // gone before the sheet slides in.
    static constexpr int kDelayedSaveMs = 700;

    KPScannerWindowController();
    ~KPScannerWindowController();

    VQTitlebarWindow* window() const;
    // Runs once when the window has closed (saved, discarded or empty).
    std::function<void()> completion;
    // The library store the saves go into (the shared one when null).
    void setStore(DataBaseEngine* store) { m_store = store; }
    // True when the last save stored a document.
    bool didSave() const { return m_didSave; }

    void showWindow();
    const KPScannerPageList& pageList() const { return m_pages; }
    QLabel* pageCountLabel() const { return m_pageCount; }
    QPushButton* saveButton() const { return m_btnSave; }
    KPEditorImageView* editor() const { return m_editor; }
    KPScannerSaveWindowController* saveSheet() const { return m_saveSheet.get(); }
    ScanFromICWindowController* scanSheet() const { return m_scanSheet.get(); }

    void btnScanClick();
    void btnNewPageClick();
    void btnSaveClick();
    void btnRotateClick();
    void btnCropClick();
    // Adds pages made from these files (read off the main thread).
    void addFiles(const QStringList& paths);
    // Adds pages; those past the window's pixel budget are left out, and the user is told so
    // below the pages (after messages, what the caller has to say already).
    void addImages(const QList<QImage>& images, const QStringList& messages = {});
    QLabel* messageLabel() const { return m_message; }
    // Asks before closing when there are pages; answers whether the window may close now.
    bool windowShouldClose();
    // The program's quit would lose pages: unsaved ones, or a save under way.
    bool needsQuitQuestion() const;
    // Asks as closing does, the window brought to the front: answer(true) once the quit may go
    // on ("Don't Save" at once, "Save" once the pages are stored, or a save already under way
    // that stores them while the question is up, which then goes unanswered); "Cancel", or a
    // save that is cancelled, never answers. A second call while the question is up is not
    // answered either.
    void askBeforeQuit(std::function<void(bool quit)> answer);
    // Cancels a running scan and save. Answers the running flag of a save's worker, which goes on
    // until it sees the cancel (KPScannerSaveWindowController::waitForSave waits for it); null
    // when no save was begun.
    std::shared_ptr<const std::atomic<bool>> cancelWork();

private:
    void showNewPages(const QList<KPCGImageStoreObj::Ptr>& filled);
    void showMessages(const QStringList& messages);
    void reloadList();
    void selectPage(int row);
    void updateControls();
    void applyCrop();
    void close();
    // Takes the quit's question down and lets the quit go on (the pages are stored).
    void withdrawQuitQuestion();

    struct CloseDelegate;
    std::unique_ptr<CloseDelegate> m_closeDelegate;
    KPScannerPageList m_pages;
    std::unique_ptr<platform::OperationQueue> m_thumbQueue;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    QPointer<VQTitlebarWindow> m_window;
    QListWidget* m_list = nullptr;
    KPEditorImageView* m_editor = nullptr;
    QLabel* m_pageCount = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_btnSave = nullptr;
    QPushButton* m_btnCrop = nullptr;
    std::unique_ptr<ScanFromICWindowController> m_scanSheet;
    std::unique_ptr<KPScannerSaveWindowController> m_saveSheet;
    platform::ObserverToken m_thumbToken;
    platform::ObserverToken m_addToken;
    platform::kit::Token m_delayedSave;
    DataBaseEngine* m_store = nullptr;
    bool m_didSave = false;
    bool m_closing = false;
    bool m_askingBeforeQuit = false;
    // While the quit's question is up: the quit's answer, and what takes the question down.
    std::function<void(bool quit)> m_quitAnswer;
    platform::kit::Alert::Closer m_quitQuestion;
    // The quit that waits for the save "Save" began.
    std::function<void(bool quit)> m_quitAfterSave;
};
