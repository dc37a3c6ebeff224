#include "MainWindow/Parts/ImportFlow.h"

#include "Controls/KPProgressIndicator.h"
#include "Import/KPFileFolderImport.h"
#include "Import/KPFileFormatManager.h"
#include "Import/KPFileImport.h"
#include "Import/KPImportKeys.h"
#include "Import/UI/ImportHintWindowController.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/KPImportViewController.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Scheduler.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DataBaseEngine.h"

#include <QLabel>

namespace K = KPImportKeys;
namespace T = SideBarNodeType;
using platform::kit::Alert;

namespace {

class ProgramImportQueue final : public ImportQueue {
public:
    void addOperation(const std::shared_ptr<KPImportOperation>& operation) override { m_queue.addOperation(operation); }
    bool pauseImport() override { return m_queue.pauseImport(); }
    void continueImport() override { m_queue.continueImport(); }
    void deleteImported() override { m_queue.deleteImported(); }
    void saveImported() override { m_queue.saveImported(); }
    bool isPausable() const override { return KPFileImportQueue::isImportPausable(); }
    bool isImporing() const override { return m_queue.isImporing(); }
    bool finishImportsForQuit() override { return m_queue.finishImportsForQuit(); }

private:
    KPFileImportQueue m_queue;
};

platform::kit::DialogService& dialogsOf(const MainWindowContext& ctx)
{
    return ctx.dialogs ? *ctx.dialogs : platform::kit::DialogService::shared();
}

platform::kit::Scheduler& schedulerOf(const MainWindowContext& ctx)
{
    return ctx.scheduler ? *ctx.scheduler : platform::kit::Scheduler::current();
}

KPNode::Ptr nodeOf(const QVariant& value)
{
    return value.value<KPNode::Ptr>();
}

DBNode dbNodeOf(const QVariant& value)
{
    return value.isValid() ? DBNode(platform::ManagedObject::fromRef(value)) : DBNode();
}

} // namespace

ImportFlow::ImportFlow(MainWindowContext& ctx)
    : ImportFlow(ctx, std::make_unique<ProgramImportQueue>())
{
}

ImportFlow::ImportFlow(MainWindowContext& ctx, std::unique_ptr<ImportQueue> queue)
    : m_ctx(ctx), m_queue(std::move(queue))
{
    askKeepHierarchy = [this](std::function<void(int)> done) {
        const Alert alert = Alert::withMessage(platform::localizedString(QStringLiteral("KeepFolderHierarchy")),
                                               platform::localizedString(QStringLiteral("Yes")),
                                               platform::localizedString(QStringLiteral("No")));
        dialogsOf(m_ctx).alert(m_ctx.window, alert, [done = std::move(done)](int code) {
            platform::UserDefaults::standardUserDefaults().setBool(code == Alert::kDefaultReturn,
                                                                  kHierarchicalFolderKey);
            done(code);
        });
    };
    showImportResult = [this](const QStringList& lost, qint64 count) {
        auto* controller = new ImportHintWindowController(lost, count, m_ctx.window);
        controller->showWindow();
    };

    platform::NotificationCenter& center = notifications();
    auto on = [&](const QString& name, std::function<void(const platform::Notification&)> fn) {
        m_tokens.push_back(center.addObserver(name, std::move(fn)));
    };
    on(kAddFilesToLibrary, [this](const platform::Notification& n) { onAddFilesToLibrary(n.object.toMap()); });
    on(K::FileImportNotification, [this](const platform::Notification& n) { onFileImportNotification(n.object.toMap()); });
    on(KPImportViewController::kStopImporting, [this](const platform::Notification&) { onStopImporting(); });
    on(kIndexing, [this](const platform::Notification&) { onKPIndexManagerIndexing(); });
    on(kIndexFinished, [this](const platform::Notification&) { onKPIndexManagerIndexFinished(); });
}

ImportFlow::~ImportFlow()
{
    *m_alive = false;
    m_tokens.clear();
}

QWidget* ImportFlow::makeImportPanel()
{
    if (!m_importViewController)
        m_importViewController = new KPImportViewController(notifications());
    return m_importViewController;
}

bool ImportFlow::isImporting() const
{
    return m_queue->isImporing();
}

void ImportFlow::askQuitWhileImporting(std::function<void(bool quit)> answer)
{
    // "Continue" and "Quit" are shown as they stand.
    Alert alert = Alert::withMessage(platform::localizedString(QStringLiteral("ImportingDocuments")),
                                     QStringLiteral("Continue"), QStringLiteral("Quit"), {},
                                     platform::localizedString(QStringLiteral("ImportingDocumentText")));
    m_quitQuestion = std::make_shared<std::function<void(int)>>();
    alert.setCloser(m_quitQuestion);
    dialogsOf(m_ctx).alert(m_ctx.window, alert, [answer = std::move(answer)](int code) {
        answer(code == Alert::kAlternateReturn);
    });
}

bool ImportFlow::finishImportsForQuit()
{
    return m_queue->finishImportsForQuit();
}

QVariantMap ImportFlow::completedOptions(const QVariantMap& request) const
{
    QVariantMap options = request;
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    KPNode* selected = sideBar && sideBar->sideBarView() ? sideBar->sideBarView()->selectedNode() : nullptr;
    if (!options.contains(K::LastSelectNode) && selected)
        options.insert(K::LastSelectNode, QVariant::fromValue(selected->shared_from_this()));

    if (options.contains(K::DBNode) || options.value(kBoolImportToDocument).toBool())
        return options;
    if (!selected || selected->nodeType() != T::CollectionsNode || !m_ctx.subSideBarDataSource)
        return options;
    const KPNode::Ptr target = m_ctx.subSideBarDataSource->selectedNode();
    if (!target || (target->nodeType() != T::FolderNode && target->nodeType() != T::CollectionNode))
        return options;
    if (target->dbNode())
        options.insert(K::DBNode, target->dbNode().ref());
    if (target->nodeType() == T::CollectionNode && !options.contains(K::NewFolderName))
        options.insert(K::NewFolderName, m_ctx.subSideBarDataSource->newSubFolderNameByNode(target.get()));
    return options;
}

void ImportFlow::onAddFilesToLibrary(const QVariantMap& request)
{
    const QVariantMap options = completedOptions(request);
    if (options.contains(K::NewTags))
        return queueImport(options, false);

    auto& defaults = platform::UserDefaults::standardUserDefaults();
    if (defaults.boolForKey(kKeepImportWindowAskKey)) {
        QStringList paths;
        for (const QVariant& path : options.value(K::Paths).toList())
            paths.append(path.toString());
        KPFileFormatManager& table = formats ? *formats : KPFileFormatManager::fileFormatManager();
        if (!table.isExistFolder(paths))
            return queueImport(options, false);
        std::erase_if(m_pendingQuestions, [](const platform::kit::Token& t) { return !t.isActive(); });
        m_pendingQuestions.push_back(schedulerOf(m_ctx).after(kAskDelayMs, [this, options] {
            if (!askKeepHierarchy)
                return queueImport(options, false);
            askKeepHierarchy([this, alive = std::weak_ptr<bool>(m_alive), options](int code) {
                if (!alive.expired())
                    queueImport(options, code == 1);
            });
        }));
        return;
    }
    queueImport(options, defaults.boolForKey(kHierarchicalFolderKey));
}

void ImportFlow::queueImport(const QVariantMap& options, bool hierarchical)
{
    std::shared_ptr<KPImportOperation> operation;
    if (hierarchical)
        operation = std::make_shared<KPFileFolderImport>(options);
    else
        operation = std::make_shared<KPFileImport>(options);
    if (prepareOperation)
        prepareOperation(*operation);
    m_queue->addOperation(operation);
}

void ImportFlow::setPanelTitle(const QString& key, bool animate)
{
    if (!m_importViewController)
        return;
    m_importViewController->txtTitle()->setText(platform::localizedString(key));
    m_importViewController->progress()->setDoAnimation(animate);
}

void ImportFlow::onFileImportNotification(const QVariantMap& status)
{
    const QString name = status.value(K::Status).toString();
    if (name == K::ImportStart) {
        if (SideBarDataSource* sideBar = m_ctx.sideBarDataSource) {
            sideBar->showImportingNode(true);
            selectMainNode(sideBar->importingNode());
        }
        setPanelTitle(QStringLiteral("Preparing to import"), true);
    } else if (name == K::Progress) {
        if (m_importViewController) {
            m_importViewController->progress()->setDoAnimation(false);
            m_importViewController->showProgressByOptions(status);
        }
    } else if (name == K::SaveDataBaseStart) {
        setPanelTitle(QStringLiteral("Preparing save to data"), true);
    } else if (name == K::SaveDataBaseFinished) {
        finished(status);
    }
}

void ImportFlow::finished(const QVariantMap& status)
{
    closeQuitQuestionOnceIdle();
    if (m_importViewController) {
        m_importViewController->removeFromSuperView();
        m_importViewController = nullptr;
    }
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    if (sideBar) {
        const KPNode::Ptr importing = sideBar->importingNode();
        sideBar->showImportingNode(false);
        const KPNode::Ptr last = nodeOf(status.value(K::LastSelectNode));
        const bool usable = last && last != importing && isInMainTree(last);
        selectMainNode(usable ? last : sideBar->documentsNode());
    }
    showNewFolder(status);

    if (buildNeedIndexItem)
        buildNeedIndexItem();
    notifications().post(RefreshItemCountNotification, QStringLiteral("Tag,Collection"));

    QStringList lost;
    for (const QVariant& path : status.value(K::LostFiles).toList())
        lost.append(path.toString());
    if ((!lost.isEmpty() || platform::UserDefaults::standardUserDefaults().boolForKey(kShowImportedHintKey)) &&
        showImportResult)
        showImportResult(lost, status.value(K::SuccessCount).toLongLong());
}

// A quit asked to wait only for the imports: once the last has let go there is nothing left to
// ask, and the quit the user asked for goes on. The queue lets go of an import just after its
// last save is announced, so the question looks again until it has.
void ImportFlow::closeQuitQuestionOnceIdle()
{
    if (!m_quitQuestion || !*m_quitQuestion) {
        m_quitQuestion.reset();
        return;
    }
    if (isImporting()) {
        std::weak_ptr<bool> alive = m_alive;
        m_quitQuestionCheck = schedulerOf(m_ctx).after(kQuitQuestionCheckMs, [this, alive] {
            if (alive.lock())
                closeQuitQuestionOnceIdle();
        });
        return;
    }
    const auto close = std::exchange(*m_quitQuestion, nullptr);
    m_quitQuestion.reset();
    close(Alert::kAlternateReturn);
}

void ImportFlow::showNewFolder(const QVariantMap& status)
{
    SubSideBarDataSource* collections = m_ctx.subSideBarDataSource;
    if (!collections)
        return;
    const DBNode newNode = dbNodeOf(status.value(K::NewNode));
    const DBNode parent = dbNodeOf(status.value(K::DBNode));
    const bool doNewFolder = status.value(K::DoNewFolderAction).toBool();
    const auto item = status.value(K::FileSystemItem).value<std::shared_ptr<KPFileSysytemItem>>();

    if (newNode && doNewFolder) {
        if (SideBarDataSource* sideBar = m_ctx.sideBarDataSource; sideBar && sideBar->sideBarView() &&
                                                                 sideBar->sideBarView()->selectedNode() !=
                                                                     sideBar->collectionsNode().get())
            selectMainNode(sideBar->collectionsNode());
        DBNode node = newNode;
        if (m_ctx.store && node.managedObjectContext() != m_ctx.store->context())
            node = DBNode(m_ctx.store->context()->existingObjectWithID(node.objectID()));
        if (!node)
            return;
        node.setTitle(collections->newSubFolderNameByNode(nullptr));
        collections->newFolderFromDBNode(node, DBNode());
        if (m_ctx.store)
            m_ctx.store->save();
        return;
    }
    if (item)
        collections->newFolderFromFileSystemItem(*item, parent);
    else if (newNode)
        collections->newFolderFromDBNode(newNode, parent);
}

void ImportFlow::onStopImporting()
{
    if (m_queue->pauseImport())
        return;
    const Alert alert = Alert::withMessage(platform::localizedString(QStringLiteral("Stop Import")),
                                           platform::localizedString(QStringLiteral("Delete Document")),
                                           platform::localizedString(QStringLiteral("Continue Importing")),
                                           platform::localizedString(QStringLiteral("Keep Documents")),
                                           platform::localizedString(QStringLiteral("Ask Stop Import")));
    dialogsOf(m_ctx).alert(m_ctx.window, alert, [this, alive = std::weak_ptr<bool>(m_alive)](int code) {
        if (!alive.expired())
            importingAlertDidEnd(code);
    });
}

void ImportFlow::importingAlertDidEnd(int returnCode)
{
    // The import went past the point where it listens while the question was open.
    if (!m_queue->isPausable())
        return;
    switch (returnCode) {
    case Alert::kDefaultReturn:
        m_queue->deleteImported();
        break;
    case Alert::kAlternateReturn:
        m_queue->continueImport();
        break;
    case Alert::kOtherReturn:
        m_queue->saveImported();
        break;
    default:
        break;
    }
}

void ImportFlow::onKPIndexManagerIndexing()
{
    if (m_ctx.sideBarDataSource)
        m_ctx.sideBarDataSource->showIndexingNode(true);
}

void ImportFlow::onKPIndexManagerIndexFinished()
{
    if (m_ctx.sideBarDataSource)
        m_ctx.sideBarDataSource->showIndexingNode(false);
}

void ImportFlow::selectMainNode(const KPNode::Ptr& node)
{
    if (m_ctx.sideBarDataSource && m_ctx.sideBarDataSource->sideBarView() && node)
        m_ctx.sideBarDataSource->sideBarView()->selectNode(node.get());
}

platform::NotificationCenter& ImportFlow::notifications() const
{
    return m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter();
}

bool ImportFlow::isInMainTree(const KPNode::Ptr& node) const
{
    const KPNode::Ptr root = m_ctx.sideBarDataSource ? m_ctx.sideBarDataSource->rootNode() : KPNode::Ptr();
    for (KPNode::Ptr at = node; at; at = at->parent()) {
        if (at == root)
            return true;
    }
    return false;
}
