#include "MainWindow/Parts/DocumentMenuActions.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/DocumentOpening.h"
#include "Browser/KPItemViewType.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/Workspace/Workspace.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBFileInfo.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DataBaseEngine.h"
#include "Tools/EmptyTrashWindowController.h"
#include "Tools/MergePDFWindowController.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFileInfo>

using platform::kit::senderTag;
namespace T = SideBarNodeType;

DocumentMenuActions::DocumentMenuActions(MainWindowContext& ctx) : m_ctx(ctx)
{
    openMergeSheet = [this](const QStringList& paths, const DBNode& folder, const QList<DBTag>& tags,
                            std::function<void()> done) {
        // Once begun, the sheet owns its controller.
        auto* merge = new MergePDFWindowController(paths, folder, tags);
        // The merged document joins the library this window shows.
        if (m_ctx.store)
            merge->setDataBaseEngine(m_ctx.store);
        merge->beginSheet(m_ctx.window);
        merge->mergePDFWithCompletedBlock(std::move(done));
    };
    openEmptyTrashSheet = [this](std::function<void()> closed) {
        auto* empty = new EmptyTrashWindowController;
        empty->setupCloseBlock(std::move(closed));
        empty->beginSheet(m_ctx.window);
    };
}

DocumentMenuActions::~DocumentMenuActions() = default;

void DocumentMenuActions::install()
{
    if (!m_ctx.commands)
        return;
    platform::kit::CommandDispatcher& commands = *m_ctx.commands;
    const auto plain = [&](const char* name, void (DocumentMenuActions::*handler)()) {
        m_commands.push_back(commands.add(QString::fromLatin1(name), [this, handler](const QVariant&) { (this->*handler)(); }));
    };
    const auto tagged = [&](const char* name, void (DocumentMenuActions::*handler)(const QVariant&)) {
        m_commands.push_back(commands.add(QString::fromLatin1(name), [this, handler](const QVariant& s) { (this->*handler)(s); }));
    };
    plain("menuOpen", &DocumentMenuActions::menuOpen);
    plain("menuQuickLook", &DocumentMenuActions::menuQuickLook);
    plain("menuRevealInFinder", &DocumentMenuActions::menuRevealInFinder);
    plain("menuShowOriginalFile", &DocumentMenuActions::menuShowOriginalFile);
    plain("menuMoveToTrash", &DocumentMenuActions::menuMoveToTrash);
    plain("menuMergePDF", &DocumentMenuActions::menuMergePDF);
    plain("menuCopySafeBoxClick", &DocumentMenuActions::menuCopySafeBoxClick);
    plain("menuDeleteSafeBoxFile", &DocumentMenuActions::menuDeleteSafeBoxFile);
    tagged("menuCollectionMenuClick", &DocumentMenuActions::menuCollectionMenuClick);
    tagged("menuCollectionMenuRatingClick", &DocumentMenuActions::menuCollectionMenuRatingClick);
    plain("menuEmptyTrash", &DocumentMenuActions::menuEmptyTrash);
}

QList<KPItemDataPtr> DocumentMenuActions::selectedItems() const
{
    if (!m_ctx.collectionView || !m_ctx.gridDataSource)
        return {};
    return m_ctx.gridDataSource->itemDatasWithSectionIndexSets(m_ctx.collectionView->selectedIndexs());
}

platform::Workspace& DocumentMenuActions::desktop() const
{
    return workspace ? *workspace : platform::Workspace::shared();
}

int DocumentMenuActions::itemViewType() const
{
    return int(m_ctx.viewSizeManager ? m_ctx.viewSizeManager->itemViewType() : KPViewSizeManager::instance().itemViewType());
}

KPNode::Ptr DocumentMenuActions::selectedMainNode() const
{
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    KPNode* node = sideBar && sideBar->sideBarView() ? sideBar->sideBarView()->selectedNode() : nullptr;
    return node ? node->shared_from_this() : nullptr;
}

void DocumentMenuActions::post(const QString& name, const QVariant& object) const
{
    (m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter()).post(name, object);
}

// ---- open, preview, show ----

void DocumentMenuActions::menuOpen()
{
    QStringList paths;
    for (const KPItemDataPtr& item : selectedItems())
        paths.append(item->filePath());
    documentopening::openDocuments(desktop(), paths, m_ctx.window, m_ctx.dialogs);
}

void DocumentMenuActions::menuQuickLook()
{
    if (showPreview)
        showPreview();
}

void DocumentMenuActions::reveal(const QStringList& paths)
{
    QStringList existing;
    for (const QString& path : paths)
        if (!path.isEmpty() && QFileInfo::exists(path) && !existing.contains(path))
            existing.append(path);
    if (existing.isEmpty())
        return;
    if (auto shown = desktop().selectFiles(existing); !shown)
        KPLogLogMessage(QStringLiteral("Show in folder: %1").arg(shown.error().message));
}

void DocumentMenuActions::menuRevealInFinder()
{
    QStringList paths;
    for (const KPItemDataPtr& item : selectedItems())
        paths.append(item->filePath());
    reveal(paths);
}

void DocumentMenuActions::menuShowOriginalFile()
{
    QStringList paths;
    for (const KPItemDataPtr& item : selectedItems()) {
        const DBFileInfoMetadata metadata = item->data() ? item->data().metadata() : DBFileInfoMetadata();
        if (metadata)
            paths.append(metadata.from());
    }
    reveal(paths);
}

void DocumentMenuActions::showInfo()
{
    if (setInspectorExpanded)
        setInspectorExpanded(true);
    const QList<KPSectionIndexSet> selected =
        m_ctx.collectionView ? m_ctx.collectionView->selectedIndexs() : QList<KPSectionIndexSet>();
    if (!selected.isEmpty()) {
        m_ctx.collectionView->scrollItemWithSectionIndexSet(selected.first());
        if (m_ctx.inspector)
            m_ctx.inspector->showItemDatas(selectedItems(), itemViewType());
    }
    if (m_ctx.inspector && m_ctx.state.inspectorExpanded)
        m_ctx.inspector->refreshDatas();
}

// ---- the Trash ----

void DocumentMenuActions::menuMoveToTrash()
{
    // SafeBox files are no library records: the SafeBox's own delete removes them.
    if (itemViewType() == KPItemViewTypeSafeBox || !m_ctx.collectionView || !m_ctx.gridDataSource)
        return;
    const QList<KPSectionIndexSet> indexSets = m_ctx.collectionView->selectedIndexs();
    for (const KPItemDataPtr& item : m_ctx.gridDataSource->itemDatasWithSectionIndexSets(indexSets)) {
        DBFileInfo record = item->data();
        if (record)
            record.setIsTrash(true);
    }
    if (m_ctx.store)
        m_ctx.store->save();
    const std::weak_ptr<bool> alive = m_alive;
    m_ctx.collectionView->removeItemWithIndexSets(indexSets, [this, alive, indexSets] {
        if (alive.expired())
            return;
        if (m_ctx.gridDataSource)
            m_ctx.gridDataSource->removeItemDataWithIndexSets(indexSets);
        post(RefreshItemCountNotification, QStringLiteral("All"));
    });
}

void DocumentMenuActions::menuEmptyTrash()
{
    if (!openEmptyTrashSheet)
        return;
    const std::weak_ptr<bool> alive = m_alive;
    openEmptyTrashSheet([this, alive] {
        if (alive.expired())
            return;
        SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
        const KPNode::Ptr trash = sideBar ? sideBar->trashNode() : nullptr;
        // Only a Trash on show is listed again: listing it under another selected node would
        // leave the grid showing what the side bar does not.
        const KPNode::Ptr shown = selectedMainNode();
        if (trash && shown == trash && onSideBarNodeChange)
            onSideBarNodeChange(trash);
        if (trash && m_ctx.store) {
            const auto predicate = platform::Predicate::format(QStringLiteral("isTrash == YES && isNeedDelete == NO"));
            const qsizetype left = predicate ? m_ctx.store->countByObject(DBFileInfo::entityName(), *predicate)
                                             : DataBaseEngine::kCountNotFound;
            if (left >= 0)
                trash->setRightNumber(left);
            if (sideBar->sideBarView())
                sideBar->sideBarView()->reloadItem(trash.get());
        }
        if (m_ctx.appMenu)
            m_ctx.appMenu->setBEmptyTrash(false);
    });
}

// ---- merge and rating ----

void DocumentMenuActions::menuMergePDF()
{
    const QList<KPItemDataPtr> items = selectedItems();
    QStringList paths;
    QList<DBTag> tags;
    for (const KPItemDataPtr& item : items) {
        paths.append(item->filePath());
        if (item->data())
            tags.append(item->data().tags());
    }
    DBNode folder;
    const KPNode::Ptr main = selectedMainNode();
    if (main && main->nodeType() == T::CollectionsNode && m_ctx.subSideBarDataSource) {
        const KPNode::Ptr sub = m_ctx.subSideBarDataSource->selectedNode();
        if (sub && sub->nodeType() == T::FolderNode)
            folder = sub->dbNode();
    }
    if (!openMergeSheet)
        return;
    const std::weak_ptr<bool> alive = m_alive;
    openMergeSheet(paths, folder, tags, [this, alive] {
        if (alive.expired())
            return;
        if (const KPNode::Ptr shown = selectedMainNode(); shown && onSideBarNodeChange)
            onSideBarNodeChange(shown);
        // The merged document is a new document of the library: the badges count it.
        post(RefreshItemCountNotification, QStringLiteral("All"));
    });
}

void DocumentMenuActions::menuCollectionMenuRatingClick(const QVariant& sender)
{
    const int rate = senderTag(sender);
    if (rate < 0 || rate > 5 || !rateSelection)
        return;
    rateSelection(rate);
}

void DocumentMenuActions::menuCollectionMenuClick(const QVariant& sender)
{
    switch (senderTag(sender)) {
    case OpenTag: menuOpen(); break;
    case ShowInfoTag: showInfo(); break;
    case RevealTag: menuRevealInFinder(); break;
    case ShowOriginalTag: menuShowOriginalFile(); break;
    case MoveToTrashTag:
    case TrashFromSendToTag: menuMoveToTrash(); break;
    default: break;
    }
}

// ---- the SafeBox ----

void DocumentMenuActions::menuCopySafeBoxClick()
{
    if (!m_ctx.safeBox || m_ctx.safeBox->safeBoxAttactPath().isEmpty())
        return;
    if (!copySelectionToSafeBox || !copySelectionToSafeBox())
        KPLogLogMessage(QStringLiteral("Copy to SafeBox is not available in this build"));
}

bool DocumentMenuActions::canDeleteSafeBoxFiles() const
{
    return m_ctx.safeBox && m_ctx.safeBox->canRemoveFiles();
}

void DocumentMenuActions::menuDeleteSafeBoxFile()
{
    if (!canDeleteSafeBoxFiles()) {
        KPLogLogMessage(QStringLiteral("Delete from SafeBox is not available in this build"));
        return;
    }
    if (itemViewType() != KPItemViewTypeSafeBox)
        return;
    const std::weak_ptr<bool> alive = m_alive;
    m_ctx.safeBox->removeFiles(m_ctx.window, selectedItems(), [this, alive](const QList<KPItemDataPtr>& removed) {
        if (!alive.expired() && !removed.isEmpty() && m_ctx.safeBox)
            m_ctx.safeBox->refreshSafeBoxDataSource();
    });
}
