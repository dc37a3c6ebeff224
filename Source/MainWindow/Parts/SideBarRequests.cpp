#include "MainWindow/Parts/SideBarRequests.h"

#include "Browser/CollectionView/KPCollectionItemView.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/BadgeRecountDriver.h"
#include "MainWindow/Parts/ContentSwitch.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/ObjectStore/PersistentStoreCoordinator.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarContext.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarFavorites.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"

namespace T = SideBarNodeType;
using platform::kit::Alert;

namespace {

QString tr(const char* key)
{
    return platform::localizedString(QString::fromUtf8(key));
}

} // namespace

SideBarRequests::SideBarRequests(MainWindowContext& ctx, ContentSwitch& content)
    : m_ctx(ctx), m_content(content)
{
}

SideBarRequests::~SideBarRequests()
{
    *m_alive = false;
}

void SideBarRequests::fillDelegates(SubSideBarDataSourceDelegate& sub, SideBarDataSourceDelegate& main)
{
    sub.onSubSideBarMoveRecordToNode = [this](const KPNode::Ptr& n) { onSubSideBarMoveRecordToNode(n); };
    sub.onSubSideBarRemoveNode = [this](const KPNode::Ptr& n) { onSubSideBarRemoveNode(n); };
    sub.onSubSideBarRemoveNodes = [this](const QList<KPNode::Ptr>& n) { onSubSideBarRemoveNodes(n); };
    sub.onSubSideBarNodeRenameChange = [this](const KPNode::Ptr& n) { onSubSideBarNodeRenameChange(n); };
    sub.onSubSideBarNodeFavorite = [this](const KPNode::Ptr& n) { onSubSideBarNodeFavorite(n); };
    main.onSideBarMoveDataToSafeBox = [this](const QStringList&) { onSideBarMoveDataToSafeBox(); };
    main.onSideBarPuckback = [this](const QStringList& uris) { onSideBarPuckback(uris); };
}

QList<KPItemDataPtr> SideBarRequests::selectedItems(const MainWindowContext& ctx)
{
    if (!ctx.collectionView || !ctx.gridDataSource)
        return {};
    return ctx.gridDataSource->itemDatasWithSectionIndexSets(ctx.collectionView->selectedIndexs());
}

void SideBarRequests::postRecount()
{
    (m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter())
        .post(RefreshItemCountNotification);
}

// ---- drops of grid documents on the second side bar ----

void SideBarRequests::onSubSideBarMoveRecordToNode(const KPNode::Ptr& target)
{
    if (!target)
        return;
    switch (target->nodeType()) {
    case T::FolderNode:
        return moveToFolder(target);
    case T::CollectionNode: {
        QList<DBFileInfo> files;
        for (const KPItemDataPtr& item : selectedItems())
            files.append(item->data());
        if (!files.isEmpty() && m_ctx.subSideBarDataSource)
            m_ctx.subSideBarDataSource->addFolderByNode(target, files);
        return;
    }
    case T::TagNode:
        return tagSelection(target);
    default:
        return;
    }
}

void SideBarRequests::moveToFolder(const KPNode::Ptr& target)
{
    if (selectedItems().isEmpty())
        return;
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    if (KPNode* selected = sideBar && sideBar->sideBarView() ? sideBar->sideBarView()->selectedNode() : nullptr)
        m_content.onSideBarBeforeNodeWillChange(selected->shared_from_this());
    moveSelectionToFolder(m_ctx, m_content, target->dbNode(), QVariant());
}

void SideBarRequests::moveSelectionToFolder(MainWindowContext& ctx, ContentSwitch& content, const DBNode& folder,
                                            const QVariant& recountObject)
{
    const QList<KPItemDataPtr> items = selectedItems(ctx);
    QList<KPItemDataPtr> leaving;
    for (const KPItemDataPtr& item : items) {
        DBFileInfo file = item->data();
        if (file.node() != folder)
            leaving.append(item);
        file.setNode(folder);
    }
    if (ctx.store && !items.isEmpty())
        ctx.store->save();
    if (leaving.isEmpty())
        return;
    // The context and the content switch outlive the grid's animations.
    removeFromGrid(ctx, leaving, [&ctx, &content, recountObject] {
        SideBarDataSource* bar = ctx.sideBarDataSource;
        KPNode* selected = bar && bar->sideBarView() ? bar->sideBarView()->selectedNode() : nullptr;
        if (selected && (selected->nodeType() == T::TagsNode || selected->nodeType() == T::CollectionsNode) &&
            ctx.subSideBarDataSource) {
            if (const KPNode::Ptr shown = ctx.subSideBarDataSource->selectedNode())
                content.onSubSideBarNodeChange(shown);
        }
        (ctx.notifications ? *ctx.notifications : platform::NotificationCenter::defaultCenter())
            .post(RefreshItemCountNotification, recountObject);
    });
}

void SideBarRequests::removeFromGrid(MainWindowContext& ctx, const QList<KPItemDataPtr>& items,
                                     std::function<void()> done)
{
    QList<KPSectionIndexSet> indexSets;
    if (ctx.gridDataSource) {
        for (const KPItemDataPtr& item : items) {
            if (const auto indexSet = ctx.gridDataSource->indexSetWithItemData(KPSectionItem(item)))
                indexSets.append(*indexSet);
        }
    }
    if (!ctx.collectionView || indexSets.isEmpty()) {
        done();
        return;
    }
    ctx.collectionView->removeItemWithIndexSets(indexSets, std::move(done));
}

void SideBarRequests::tagSelection(const KPNode::Ptr& target)
{
    const QList<KPItemDataPtr> items = selectedItems();
    if (items.isEmpty())
        return;
    const DBTag tag = target->tag(); // nil: Untagged
    for (const KPItemDataPtr& item : items) {
        DBFileInfo file = item->data();
        if (tag)
            file.addTagsObject(tag);
        else
            file.setTags({});
    }
    if (m_ctx.store)
        m_ctx.store->save();
    for (const KPItemDataPtr& item : items) {
        DBHelper::writeMetaDataInfoByTags(item->data());
        item->reloadTagFromDBFileInfo();
    }
    if (m_ctx.collectionView)
        m_ctx.collectionView->updateDisplayWithRect(m_ctx.collectionView->visibleRect());
    postRecount();
}

// ---- deleting nodes ----

qint64 SideBarRequests::documentCount(const KPNode::Ptr& node) const
{
    auto liveCount = [](const QList<DBFileInfo>& files) {
        return qint64(std::count_if(files.begin(), files.end(), [](const DBFileInfo& f) { return !f.isTrash(); }));
    };
    switch (node->nodeType()) {
    case T::TagNode:
        return node->tag() ? liveCount(node->tag().fileInfos()) : 0;
    case T::TagGroupNode: {
        qint64 count = 0;
        for (const KPNode::Ptr& child : node->children())
            count += child->tag() ? liveCount(child->tag().fileInfos()) : 0;
        return count;
    }
    case T::FolderNode:
    case T::CollectionNode:
        return node->dbNode() ? m_content.allFileInfosByNode(node).size() : 0;
    default:
        return 0;
    }
}

bool SideBarRequests::holdsDocuments(const KPNode::Ptr& node) const
{
    if (!node)
        return false;
    if (!BadgeRecountDriver::showsItemCount())
        return documentCount(node) > 0;
    switch (node->nodeType()) {
    case T::TagNode:
        return node->rightNumber() > 0;
    case T::TagGroupNode:
        return std::any_of(node->children().begin(), node->children().end(),
                           [](const KPNode::Ptr& child) { return child->rightNumber() > 0; });
    case T::FolderNode:
    case T::CollectionNode: {
        std::function<bool(const KPNode::Ptr&)> any = [&](const KPNode::Ptr& at) {
            if (at->rightNumber() > 0)
                return true;
            return std::any_of(at->children().begin(), at->children().end(), any);
        };
        return any(node);
    }
    default:
        return false;
    }
}

void SideBarRequests::onSubSideBarRemoveNode(const KPNode::Ptr& node)
{
    if (!node || !m_ctx.subSideBarDataSource)
        return;
    const int type = node->nodeType();
    if (type != T::TagNode && type != T::TagGroupNode && type != T::FolderNode && type != T::CollectionNode)
        return;
    if (!holdsDocuments(node))
        return m_ctx.subSideBarDataSource->removeNode(node);

    QString message, informative;
    if (type == T::TagNode || type == T::TagGroupNode) {
        message = tr("Do you want to delete this tag?");
        informative = tr("This action cannot be undo.");
    } else if (type == T::FolderNode) {
        message = tr("Do you want to delete the Folder \"%@\"?").replace(QStringLiteral("%@"), node->title());
        informative = tr("The documents in this Folder will be moved to Trash.");
    } else {
        message = tr("Do you want to delete the Collection \"%@\" and all of the items it contains?")
                      .replace(QStringLiteral("%@"), node->title());
        informative = tr("The documents in this Collection will be moved to Trash.");
    }
    const Alert alert = Alert::withMessage(message, tr("Delete"), tr("Cancel"), {}, informative);
    auto& dialogs = m_ctx.dialogs ? *m_ctx.dialogs : platform::kit::DialogService::shared();
    dialogs.alert(m_ctx.window, alert, [this, node, alive = std::weak_ptr<bool>(m_alive)](int code) {
        // The node may have left the tree while the sheet was open (a reload, another delete).
        if (alive.expired() || code != Alert::kDefaultReturn || !node->parent() || !m_ctx.subSideBarDataSource)
            return;
        m_ctx.subSideBarDataSource->removeNode(node);
    });
}

void SideBarRequests::onSubSideBarRemoveNodes(const QList<KPNode::Ptr>& nodes)
{
    if (nodes.isEmpty() || !m_ctx.subSideBarDataSource)
        return;
    qint64 sum = 0;
    for (const KPNode::Ptr& node : nodes)
        sum += BadgeRecountDriver::showsItemCount() ? node->rightNumber() : documentCount(node);
    if (sum <= 0)
        return m_ctx.subSideBarDataSource->removeNodes(nodes);
    const Alert alert = Alert::withMessage(tr("Do you want to delete these tags?"), tr("Delete"), tr("Cancel"), {},
                                           tr("This action cannot be undo."));
    auto& dialogs = m_ctx.dialogs ? *m_ctx.dialogs : platform::kit::DialogService::shared();
    dialogs.alert(m_ctx.window, alert, [this, nodes, alive = std::weak_ptr<bool>(m_alive)](int code) {
        if (alive.expired() || code != Alert::kDefaultReturn || !m_ctx.subSideBarDataSource)
            return;
        QList<KPNode::Ptr> still;
        for (const KPNode::Ptr& node : nodes) {
            if (node->parent())
                still.append(node);
        }
        if (!still.isEmpty())
            m_ctx.subSideBarDataSource->removeNodes(still);
    });
}

void SideBarRequests::onSubSideBarNodeRenameChange(const KPNode::Ptr& node)
{
    if (!node || node->nodeType() != T::TagNode || !m_ctx.dataSourceManager)
        return;
    for (const KPItemDataPtr& item : m_ctx.dataSourceManager->dataSource()) {
        if (item->bLoadedDataContent())
            item->reloadTagFromDBFileInfo();
    }
    if (m_ctx.collectionView) {
        for (KPCollectionItemView* view : m_ctx.collectionView->visibleItemViews())
            view->update();
    }
}

void SideBarRequests::onSubSideBarNodeFavorite(const KPNode::Ptr& node)
{
    if (node && m_ctx.sideBarDataSource)
        m_ctx.sideBarDataSource->favorites().favoriteNode(node);
}

// ---- the main side bar's drops ----

void SideBarRequests::onSideBarMoveDataToSafeBox()
{
    const QString target = m_ctx.safeBox ? m_ctx.safeBox->safeBoxAttactPath() : QString();
    if (target.isEmpty() || !copyToSafeBox)
        return;
    copyToSafeBox(target, selectedItems(),
                  [this, alive = std::weak_ptr<bool>(m_alive)](const QList<KPItemDataPtr>& copied, bool move) {
                      if (!alive.expired())
                          safeBoxCopyFinished(copied, move);
                  });
}

void SideBarRequests::safeBoxCopyFinished(const QList<KPItemDataPtr>& copied, bool move)
{
    if (move && !copied.isEmpty()) {
        QList<platform::ObjectID> moved;
        for (const KPItemDataPtr& item : copied) {
            DBFileInfo file = item->data();
            file.setIsTrash(true);
            file.setIsNeedDelete(true);
            if (file)
                moved.append(file.objectID());
        }
        if (m_ctx.store) {
            m_ctx.store->save();
            // The documents leave the library now, with their index text and thumbnails: the
            // box is where they are kept from here, and nothing of them may stay readable here.
            m_ctx.store->purgeDocuments(moved);
        }
        // The save lists the shown node again, which may happen before the fade ends: the
        // documents are looked up when it has ended, so only those still listed go.
        removeFromGrid(m_ctx, copied, [this, copied, alive = std::weak_ptr<bool>(m_alive)] {
            if (alive.expired() || !m_ctx.gridDataSource)
                return;
            QList<KPSectionIndexSet> still;
            for (const KPItemDataPtr& item : copied) {
                if (const auto indexSet = m_ctx.gridDataSource->indexSetWithItemData(KPSectionItem(item)))
                    still.append(*indexSet);
            }
            if (!still.isEmpty())
                m_ctx.gridDataSource->removeItemDataWithIndexSets(still);
        });
        postRecount();
    }
    if (m_ctx.safeBox)
        m_ctx.safeBox->refreshSafeBoxDataSource();
}

void SideBarRequests::onSideBarPuckback(const QStringList& uris)
{
    if (!m_ctx.store || !m_ctx.store->coordinator() || !m_ctx.store->context())
        return;
    QList<DBFileInfo> found;
    for (const QString& uri : uris) {
        const platform::ObjectID id = m_ctx.store->coordinator()->managedObjectIDForURIRepresentation(uri);
        if (id.isNull())
            continue;
        const DBFileInfo file(m_ctx.store->context()->existingObjectWithID(id));
        if (file)
            found.append(file);
    }
    for (DBFileInfo& file : found)
        file.setIsTrash(false);
    if (!found.isEmpty())
        m_ctx.store->save();
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    if (KPNode* selected = sideBar && sideBar->sideBarView() ? sideBar->sideBarView()->selectedNode() : nullptr)
        m_content.onSideBarNodeChange(selected->shared_from_this());
    postRecount();
}
