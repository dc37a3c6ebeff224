// Every request to copy files into the library ("AddFilesToLibrary" with its import options)
// runs through here: the options are completed from the side-bar selection, a flat or a
// folder-keeping import is chosen and queued, and its statuses drive the Importing entry of the
// main side bar, the import panel and the clean-up once the records are stored. The stop button
// asks whether to throw away, keep or go on with what was imported so far.
//
// The import queue is owned here. A quit while an import runs asks first (askQuitWhileImporting)
// and then lets the running import store what it copied (finishImportsForQuit) before the
// library is written to disk.
//
// A side-bar node kept in the options ("LastSelectNode") may be gone by the time the import
// ends, or be the Importing entry itself; Documents is selected then.
//
// Threads: main thread only; the imports post their statuses there.
#pragma once

#include "Import/KPFileImportQueue.h"
#include "MainWindow/Parts/KPImportViewController.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Scheduler.h"
#include "SideBar/KPNode.h"

#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <vector>

class KPFileFormatManager;
class KPImportOperation;
class QWidget;
struct MainWindowContext;

// What the flow needs of the import queue; the program's KPFileImportQueue unless a test
// replays statuses through a fake.
class ImportQueue {
public:
    virtual ~ImportQueue() = default;
    virtual void addOperation(const std::shared_ptr<KPImportOperation>& operation) = 0;
    // False: paused, ask the user. True: nothing can be paused now.
    virtual bool pauseImport() = 0;
    virtual void continueImport() = 0;
    virtual void deleteImported() = 0;
    virtual void saveImported() = 0;
    // Whether an answer to the stop question can still reach the import.
    virtual bool isPausable() const = 0;
    virtual bool isImporing() const = 0;
    virtual bool finishImportsForQuit() = 0;
};

class ImportFlow {
public:
    static inline const QString kAddFilesToLibrary = QStringLiteral("AddFilesToLibrary");
    static inline const QString kBoolImportToDocument = QStringLiteral("BoolImportToDocument");
    static inline const QString kIndexing = QStringLiteral("KPIndexManagerIndexing");
    static inline const QString kIndexFinished = QStringLiteral("KPIndexManagerIndexFinished");
    static inline const QString kKeepImportWindowAskKey = QStringLiteral("Bool_KeepImportWindowAsk");
    static inline const QString kHierarchicalFolderKey = QStringLiteral("Bool_HierarchicalFolder");
    static inline const QString kShowImportedHintKey = QStringLiteral("Bool_ShowImportedHint");
    // The keep-hierarchy question is asked this long after the request.
    static constexpr int kAskDelayMs = 100;
    // How often a quit question asked during an import looks whether the import has let go.
    static constexpr int kQuitQuestionCheckMs = 100;

    // With the program's own queue.
    explicit ImportFlow(MainWindowContext& ctx);
    ImportFlow(MainWindowContext& ctx, std::unique_ptr<ImportQueue> queue);
    ~ImportFlow();
    ImportFlow(const ImportFlow&) = delete;
    ImportFlow& operator=(const ImportFlow&) = delete;

    // ---- hooks (the root or a test may replace them) ----
    // Readies each operation before it is queued (its library and store); empty: the
    // program's shared ones.
    std::function<void(KPImportOperation&)> prepareOperation;
    // The supported formats, for "is a folder among the paths" (null: the shared table).
    KPFileFormatManager* formats = nullptr;
    // Asks whether added folders keep their hierarchy; answers 1 to keep it. The default asks
    // through the dialog service and stores the answer in "Bool_HierarchicalFolder".
    std::function<void(std::function<void(int code)>)> askKeepHierarchy;
    // Starts the full-text indexer over the new documents.
    std::function<void()> buildNeedIndexItem;
    // Shows the import-result window; the default opens ImportHintWindowController.
    std::function<void(const QStringList& lostFiles, qint64 successCount)> showImportResult;

    // ---- entry points for the window ----
    // ContentSwitch::makeImportPanel.
    QWidget* makeImportPanel();
    // AppDelegate::Services::isImporting, askQuitWhileImporting and the step before the
    // library is written to disk at quit.
    bool isImporting() const;
    void askQuitWhileImporting(std::function<void(bool quit)> answer);
    bool finishImportsForQuit();

    // ---- notifications (public for the tests that drive them) ----
    void onAddFilesToLibrary(const QVariantMap& options);
    void onFileImportNotification(const QVariantMap& status);
    void onStopImporting();
    void onKPIndexManagerIndexing();
    void onKPIndexManagerIndexFinished();

    // The options as they are queued: "LastSelectNode", "DBNode" and "NewFolderName" taken
    // from the selection where the request left them open.
    QVariantMap completedOptions(const QVariantMap& options) const;

    ImportQueue& queue() { return *m_queue; }
    KPImportViewController* importViewController() const { return m_importViewController; }

private:
    void queueImport(const QVariantMap& options, bool hierarchical);
    void importingAlertDidEnd(int returnCode);
    void finished(const QVariantMap& status);
    void closeQuitQuestionOnceIdle();
    void showNewFolder(const QVariantMap& status);
    void selectMainNode(const KPNode::Ptr& node);
    bool isInMainTree(const KPNode::Ptr& node) const;
    platform::NotificationCenter& notifications() const;
    void setPanelTitle(const QString& key, bool animate);

    MainWindowContext& m_ctx;
    std::unique_ptr<ImportQueue> m_queue;
    QPointer<KPImportViewController> m_importViewController;
    std::vector<platform::ObserverToken> m_tokens;
    // Keep-hierarchy questions not yet asked; dropped with the flow.
    std::vector<platform::kit::Token> m_pendingQuestions;
    // The quit question while it is shown, and its next look at the queue.
    platform::kit::Alert::Closer m_quitQuestion;
    platform::kit::Token m_quitQuestionCheck;
    // Dropped with the flow: a pending question must not reach a destroyed flow.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
