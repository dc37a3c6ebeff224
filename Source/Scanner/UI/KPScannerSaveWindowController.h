// The sheet that names the scanned document and picks the collection or folder it goes into,
// then saves the pages as one PDF through KPScannerSaveWorker on a global queue. It ends with
// 1 when the document is in the library and 0 otherwise (Cancel, or a failure it has shown).
//
// Main thread only; the worker reads the pages, which the sheet keeps while it runs.
#pragma once

#include "Scanner/KPCGImageStoreObj.h"
#include "Scanner/KPScannerSaveWorker.h"

#include <QList>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class DataBaseEngine;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace platform::kit {
class Sheet;
}

class KPScannerSaveWindowController {
public:
    // One entry of the target pop-up.
    struct Target {
        QString title;
        quint64 nodeID = 0;   // 0: "UnCollection"
        int type = 0;         // 1 collection, 2 folder
        int indentation = 0;
    };
    // Top-level collections and folders and their descendants, depth first, nothing in the Trash.
    static QList<Target> targets(DataBaseEngine* store = nullptr);

    // Into store, or the shared library store when null.
    explicit KPScannerSaveWindowController(QList<KPCGImageStoreObj::Ptr> pages, DataBaseEngine* store = nullptr);
    ~KPScannerSaveWindowController();

    // Begins the sheet on window; done gets the end code.
    void beginSheet(QWidget* window, std::function<void(int)> done);

    // For tests and the environment of a running program.
    void setEnvironment(KPScannerSaveWorker::Environment environment) { m_env = std::move(environment); }
    // Changes the environment of every sheet made from now on: the program's test build holds
    // its saves with it (null: none). Set on the main thread before the first sheet.
    using EnvironmentAdjuster = std::function<void(KPScannerSaveWorker::Environment&)>;
    static void setEnvironmentAdjuster(EnvironmentAdjuster adjuster);
    const KPScannerSaveWorker::Environment& environment() const { return m_env; }
    QLineEdit* nameField() const { return m_txtName; }
    QComboBox* popBtn() const { return m_popBtn; }
    QPushButton* saveButton() const { return m_btnSave; }
    QLabel* errorLabel() const { return m_error; }
    QWidget* content() const;

    void btnSaveClick();
    void btnCancelClick();

    // True while a save's worker runs; it outlives the sheet, so a quit can wait on it after the
    // sheet has gone. Null before the first save.
    using Running = std::shared_ptr<const std::atomic<bool>>;
    Running running() const { return m_running; }
    // Turns the event loop (the worker's end is delivered through it) until running is false
    // or bound has passed; answers whether the worker ended.
    static bool waitForSave(const Running& running, std::chrono::milliseconds bound);

private:
    void controlTextDidChange();
    void finish(const KPScannerSaveWorker::Outcome& outcome);

    QList<KPCGImageStoreObj::Ptr> m_pdfPages;
    std::shared_ptr<std::atomic<bool>> m_bCancelSave = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> m_running;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    KPScannerSaveWorker::Environment m_env;
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    QLineEdit* m_txtName = nullptr;
    QComboBox* m_popBtn = nullptr;
    QPushButton* m_btnSave = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QProgressBar* m_progressIndicator = nullptr;
    QLabel* m_error = nullptr;
    std::function<void(int)> m_done;
    bool m_saving = false;
};
