#include "MainWindow/Parts/ContentSwitch.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPGroupRecords.h"
#include "Browser/KPGroupingEngine.h"
#include "Browser/KPSectionData.h"
#include "Browser/KPThumbnailLoader.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/KPSplitView.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"

#include <QDragEnterEvent>
#include <QEvent>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QSet>
#include <QWidget>
#include <algorithm>

namespace T = SideBarNodeType;

namespace {

// The empty library's view lies over the grid, and Qt offers a drag only to the widget under the
// pointer and to its parents, never to a sibling below: files dropped on an empty library would
// go nowhere. The view hands each drag event to the grid, as if the grid were under the pointer.
class DropPassThrough : public QObject {
public:
    DropPassThrough(QWidget* view, KPCollectionView* grid) : QObject(view), m_view(view), m_grid(grid)
    {
        view->setAcceptDrops(true);
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_view || !m_grid)
            return false;
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            const QPoint at = toGrid(drag->position()).toPoint();
            if (event->type() == QEvent::DragEnter) {
                QDragEnterEvent copy(at, drag->possibleActions(), drag->mimeData(), drag->buttons(), drag->modifiers());
                answer(drag, copy);
            } else {
                QDragMoveEvent copy(at, drag->possibleActions(), drag->mimeData(), drag->buttons(), drag->modifiers());
                answer(drag, copy);
            }
            return true;
        }
        case QEvent::DragLeave: {
            QDragLeaveEvent copy;
            m_grid->takeDragEvent(&copy);
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            QDropEvent copy(toGrid(drop->position()), drop->possibleActions(), drop->mimeData(), drop->buttons(),
                            drop->modifiers());
            answer(drop, copy);
            return true;
        }
        default:
            return false;
        }
    }

private:
    // Siblings: mapped through the screen, since neither is the other's parent.
    QPointF toGrid(QPointF point) const
    {
        QWidget* viewport = m_grid->viewport();
        return viewport->mapFromGlobal(m_view->mapToGlobal(point));
    }

    void answer(QDropEvent* original, QDropEvent& copy)
    {
        m_grid->takeDragEvent(&copy);
        original->setDropAction(copy.dropAction());
        original->setAccepted(copy.isAccepted());
    }

    QWidget* m_view;
    QPointer<KPCollectionView> m_grid;
};

} // namespace

// Keeps the overlays of the document area (the import panel, the empty-library view) filling
// it as it is resized.
class ContentSwitch::CenterOverlays : public QObject {
public:
    explicit CenterOverlays(QWidget* center) : m_center(center)
    {
        if (center)
            center->installEventFilter(this);
    }

    void fill(QWidget* overlay)
    {
        if (!overlay || !m_center)
            return;
        if (overlay->parentWidget() != m_center)
            overlay->setParent(m_center);
        overlay->setGeometry(m_center->rect());
        overlay->raise();
        overlay->show();
    }

    QWidget* center() const { return m_center; }
    QPointer<QWidget> importPanel;
    QPointer<QWidget> noDocumentView;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_center && event->type() == QEvent::Resize) {
            for (QWidget* overlay : {importPanel.data(), noDocumentView.data()}) {
                if (overlay && !overlay->isHidden())
                    overlay->setGeometry(m_center->rect());
            }
        }
        return false;
    }

private:
    QPointer<QWidget> m_center;
};

ContentSwitch::ContentSwitch(MainWindowContext& ctx)
    : folderAccess(&ContentSwitch::fileSystemFolderAccess), m_ctx(ctx),
      m_overlays(std::make_unique<CenterOverlays>(ctx.centerView))
{
}

ContentSwitch::~ContentSwitch() = default;

QWidget* ContentSwitch::importPanel() const
{
    return m_overlays->importPanel && !m_overlays->importPanel->isHidden() ? m_overlays->importPanel.data() : nullptr;
}

ContentSwitch::FolderAccess ContentSwitch::fileSystemFolderAccess(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir())
        return FolderAccess::Missing;
    return info.isReadable() && info.isExecutable() ? FolderAccess::Readable : FolderAccess::Unreadable;
}

// ---- the main side bar ----

void ContentSwitch::onSideBarNodeChange(const KPNode::Ptr& node)
{
    if (!node) {
        // No row is selected any more: nothing of the node left is shown.
        m_ctx.state.shownNode = nullptr;
        m_ctx.state.shownSubNode = nullptr;
        m_shownSubNodes.clear();
        showEmptyListing();
        return;
    }
    m_ctx.state.shownNode = node;
    m_shownSubNodes.clear();
    prepare(node);
    showMainNode(node);
    publishButtons();
}

void ContentSwitch::prepare(const KPNode::Ptr& node)
{
    const int type = node->nodeType();
    KPThumbnailLoader::shared().clearImageQueue();

    // Search: typed-ahead text, the search field and its suggestions.
    m_ctx.state.searchTitleKeyDownCharStr.clear();
    m_ctx.state.globleSearchLastString.clear();
    if (m_ctx.search) {
        m_ctx.search->resetSearchField();
        m_ctx.search->cancelContentSearches();
        m_ctx.search->destroySearchResultPopver();
    }
    if (m_ctx.safeBox)
        m_ctx.safeBox->removeSetupView();

    m_buttons = ContentButtons{};
    m_buttons.navigationIcon = SideBarDataSource::imageWithNodeType(type);
    m_buttons.navigationTitle = node->title();
    m_buttons.centerTitle = node->title();

    // Recent and Flagged keep the title already shown.
    postTitle(type == T::RecentNode || type == T::FlaggedNode ? QVariant() : QVariant(node->title()));

    if (type == T::ImportingNode) {
        showSecondSideBar(false);
    } else {
        showImportPanel(false);
        showSecondSideBar(type == T::TagsNode || type == T::CollectionsNode);
    }
    if (type == T::TagsNode || type == T::CollectionsNode || type == T::IndexFolderNode ||
        type == T::SubIndexFolderNode)
        m_buttons.groupButtons = true;

    viewSize().setItemViewType(KPItemViewTypeGroupedDocuments);
    setTileMode(T::isGroupedView(type));
    removeNoDocumentView();
}

void ContentSwitch::showMainNode(const KPNode::Ptr& node)
{
    KPGroupingEngine* grouping = m_ctx.gridDataSource ? &m_ctx.gridDataSource->grouping() : nullptr;
    switch (node->nodeType()) {
    case T::DocumentsNode: {
        m_buttons.groupButtons = true;
        bool fetched = false;
        const QList<KPItemDataPtr> items = queryFileInfos(QStringLiteral("isTrash == NO"), {}, &fetched);
        // A failed fetch is no empty library.
        if (fetched && items.isEmpty())
            showNoDocumentView();
        tail(node, items);
        return;
    }
    case T::RecentNode:
        m_buttons.recentButtons = true;
        if (grouping)
            grouping->createRecentDataAndFillData();
        return;
    case T::FlaggedNode:
        m_buttons.centerTitleShown = true;
        viewSize().setItemViewType(KPItemViewTypeFlag);
        if (grouping)
            grouping->createFlagDataAndFillData();
        listTileDocuments();
        return;
    case T::TrashNode:
        m_buttons.centerTitleShown = true;
        viewSize().setItemViewType(KPItemViewTypeDocuments);
        tail(node, queryFileInfos(QStringLiteral("isTrash == YES && isNeedDelete == NO")));
        return;
    case T::ImportingNode:
        showImportPanel(true);
        tail(node, {});
        return;
    case T::TagsNode:
    case T::CollectionsNode:
        // The second side bar selects its node and calls back with it; until then the grid
        // shows nothing of the node left.
        m_ctx.state.shownSubNode = nullptr;
        showEmptyListing();
        if (SubSideBarDataSource* sub = m_ctx.subSideBarDataSource) {
            sub->switchByNodeType(node->nodeType());
            // The bar calls back only when its selection changes: back on a tree whose row is
            // still selected (after an import, or from another node), the grid would stay empty.
            if (!m_ctx.state.shownSubNode) {
                const QList<KPNode::Ptr> still = sub->selectedNodes();
                if (still.size() == 1)
                    onSubSideBarNodeChange(still.front());
                else if (still.size() > 1)
                    onSubSideBarNodesChange(still);
            }
        }
        return;
    case T::TagNode:
        m_buttons.groupButtons = true;
        tail(node, tagFileInfos(*node));
        return;
    case T::FileTypeNode:
        m_buttons.centerTitleShown = true;
        if (grouping)
            grouping->createFileTypeAndFileData();
        return;
    case T::AuthorNode:
        if (grouping)
            grouping->createAuthorDataAndFillData();
        return;
    case T::FolderNode:
        m_buttons.groupButtons = true;
        tail(node, allFileInfosByNode(node));
        return;
    case T::SmartFolderNode:
        m_buttons.groupButtons = true;
        showSmartFolder(node);
        return;
    case T::SafeBoxNode:
        showSafeBox(node);
        return;
    case T::DocumentDateNode:
        m_buttons.centerTitleShown = true;
        viewSize().setItemViewType(KPItemViewTypeMonth);
        if (grouping)
            grouping->createDateDataAndFileDate();
        listTileDocuments();
        return;
    case T::IndexFolderNode:
    case T::SubIndexFolderNode:
        showIndexFolder(node);
        return;
    case T::ICloudNode:
        m_buttons.groupButtons = true;
        tail(node, allFileInfosByIndexNode(node));
        return;
    case T::ReceivedNode:
        m_buttons.centerTitleShown = true;
        tail(node,
             queryFileInfos(QStringLiteral("isTrash == NO && extendField == %@"), {DBFileInfo::kExtendReceiveFromDevice}),
             KPGroupSortTypeDateCreated);
        return;
    default:
        tail(node, {});
        return;
    }
}

void ContentSwitch::showSafeBox(const KPNode::Ptr& node)
{
    if (GridDataSource* grid = m_ctx.gridDataSource) {
        grid->dataSource().clear();
        grid->reloadData();
    }
    SafeBoxPane* box = m_ctx.safeBox;
    if (!QFileInfo::exists(KPLibraryFileManager::defaultManager().safeBoxFile())) {
        if (box)
            box->showSetupView(true);
        tail(node, {});
    } else if (!box || box->safeBoxAttactPath().isEmpty()) {
        if (box)
            box->showSetupView(false);
    } else {
        box->loadSafeBoxDataSource();
    }
}

// ---- the second side bar ----

void ContentSwitch::prepareSubSideBar()
{
    KPThumbnailLoader::shared().clearImageQueue();
    m_ctx.state.searchTitleKeyDownCharStr.clear();
    if (m_ctx.search) {
        m_ctx.search->resetSearchField();
        m_ctx.search->cancelContentSearches();
    }
}

void ContentSwitch::onSubSideBarNodeChange(const KPNode::Ptr& node)
{
    m_ctx.state.shownSubNode = node;
    m_shownSubNodes.clear();
    prepareSubSideBar();
    if (!node)
        showEmptyListing();
    else
        showSubNode(node);
    publishButtons();
}

void ContentSwitch::showSubNode(const KPNode::Ptr& node)
{
    switch (node->nodeType()) {
    case T::TagGroupNode:
        tail(node, tagGroupFileInfos(*node));
        return;
    case T::TagNode:
        tail(node, node->tag() ? tagFileInfos(*node) : queryFileInfos(QStringLiteral("isTrash == NO && tags.@count == 0")));
        return;
    case T::FolderNode:
    case T::CollectionNode:
        tail(node, node->dbNode() ? allFileInfosByNode(node) : queryFileInfos(QStringLiteral("isTrash == NO && node == nil")));
        return;
    case T::SmartFolderNode:
        showSmartFolder(node);
        return;
    case T::ListNode:
        tail(node, listNodeFileInfos(*node));
        return;
    default:
        tail(node, {});
        return;
    }
}

void ContentSwitch::onSubSideBarNodesChange(const QList<KPNode::Ptr>& nodes)
{
    prepareSubSideBar();
    m_ctx.state.shownSubNode = nullptr;
    m_shownSubNodes = nodes;
    showTags(nodes);
    publishButtons();
}

void ContentSwitch::showTags(const QList<KPNode::Ptr>& nodes)
{
    QStringList names;
    QList<KPItemDataPtr> items;
    for (const KPNode::Ptr& node : nodes) {
        if (!node || node->nodeType() != T::TagNode || !node->tag())
            continue;
        names.append(node->tag().name());
        items.append(tagFileInfos(*node));
    }
    if (m_onlyOtherDocuments && isListed(items))
        return;
    const QString title = names.join(QStringLiteral(" & "));
    postTitle(title);
    listed().addSource(items);
    regroup(std::nullopt);
}

void ContentSwitch::onSideBarBeforeNodeWillChange(const KPNode::Ptr& node)
{
    saveNode(node);
    if (node && (node->nodeType() == T::TagsNode || node->nodeType() == T::CollectionsNode)) {
        KPNode::Ptr sub = m_ctx.state.shownSubNode;
        if (!sub && m_ctx.subSideBarDataSource)
            sub = m_ctx.subSideBarDataSource->selectedNode();
        saveNode(sub);
    }
}

void ContentSwitch::onSubSideBarBeforeNodeWillChange(const KPNode::Ptr& node)
{
    saveNode(node);
}

void ContentSwitch::reshowSelected()
{
    const KPNode::Ptr node = m_ctx.state.shownNode;
    if (!node)
        return;
    const bool secondBar = node->nodeType() == T::TagsNode || node->nodeType() == T::CollectionsNode;
    if (!secondBar) {
        saveNode(node);
        onSideBarNodeChange(node);
    } else if (!m_shownSubNodes.isEmpty()) {
        onSubSideBarNodesChange(QList<KPNode::Ptr>(m_shownSubNodes));
    } else {
        const KPNode::Ptr sub = m_ctx.state.shownSubNode;
        saveNode(sub);
        onSubSideBarNodeChange(sub);
    }
}

// ---- following changes of the documents ----

void ContentSwitch::install()
{
    platform::NotificationCenter& center =
        m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter();
    m_recountObserver = center.addObserver(RefreshItemCountNotification, [this](const platform::Notification&) {
        if (!m_refreshing)
            m_burstRecount = true;
        listingMayHaveChanged(false);
    });
    // Renames, flags and ratings post nothing; they all end in a save of the library.
    if (m_ctx.store && m_ctx.store->context()) {
        std::weak_ptr<bool> alive = m_alive;
        m_saveObserver = m_ctx.store->context()->addDidSaveObserver([this, alive](const platform::SaveNotification& note) {
            // A purge deletes only documents marked for deletion, which no listing shows, fifty
            // at a time: listing again after each turn held the window for most of the purge.
            if (platform::Dispatch::isMainThread() && (m_refreshing || DataBaseEngine::isSavingPurgedDocuments()))
                return;
            platform::Dispatch::main([this, alive, note] {
                if (!alive.lock() || m_refreshing)
                    return;
                noteSave(note);
                listingMayHaveChanged(true);
            });
        });
    }
}

void ContentSwitch::listingMayHaveChanged(bool documentsEdited)
{
    if (m_refreshing)
        return;
    m_documentsEdited = m_documentsEdited || documentsEdited;
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    // Once per burst: a move of a hundred documents saves and recounts many times over.
    std::weak_ptr<bool> alive = m_alive;
    platform::Dispatch::main([this, alive] {
        if (!alive.lock())
            return;
        m_refreshQueued = false;
        refreshShown();
    });
}

bool ContentSwitch::isRefreshable(const KPNode& node) const
{
    switch (node.nodeType()) {
    case T::DocumentsNode:
    case T::RecentNode:
    case T::TrashNode:
    case T::TagNode:
    case T::FolderNode:
    case T::SmartFolderNode:
    case T::ICloudNode:
    case T::ReceivedNode:
        return true;
    case T::FlaggedNode:
    case T::FileTypeNode:
    case T::AuthorNode:
    case T::DocumentDateNode: {
        // Inside a tile the grid lists that tile's documents; the tiles come back with Back.
        const KPItemViewType type = viewSize().itemViewType();
        return type != KPItemViewTypeDocuments && type != KPItemViewTypeGroupedDocuments;
    }
    case T::IndexFolderNode:
    case T::SubIndexFolderNode:
        // A folder that cannot be reached says so in an alert at each listing.
        return !node.boolShowWarning();
    default:
        return false;
    }
}

void ContentSwitch::refreshShown()
{
    const KPNode::Ptr node = m_ctx.state.shownNode;
    KPCollectionView* grid = m_ctx.collectionView;
    if (!node || !grid || !m_ctx.gridDataSource || !m_ctx.state.globleSearchLastString.isEmpty())
        return;
    // Listing again recycles the item views, and with them an open tag editor.
    if (KPSectionItemView::isTagPopoverOpen()) {
        std::weak_ptr<bool> alive = m_alive;
        platform::kit::Scheduler& scheduler = m_ctx.scheduler ? *m_ctx.scheduler : platform::kit::Scheduler::current();
        m_refreshRetry = scheduler.after(kRefreshRetryMs, [this, alive] {
            if (alive.lock())
                refreshShown();
        });
        return;
    }
    const bool secondBar = node->nodeType() == T::TagsNode || node->nodeType() == T::CollectionsNode;
    const KPNode::Ptr sub = m_ctx.state.shownSubNode;
    if (secondBar ? (m_shownSubNodes.isEmpty() && !sub) : !isRefreshable(*node))
        return;
    // A recount request alone (the start's, an import's end) may change nothing that is shown:
    // then only a listing of other documents is shown again, so the grid is not rebuilt for
    // nothing. An edit of the library's documents shows everything again, as titles and other
    // values decide the sections.
    const bool edited = std::exchange(m_documentsEdited, false);
    const BurstChanges burst = std::exchange(m_burst, BurstChanges{});
    const bool recount = std::exchange(m_burstRecount, false);
    const KPNode* listing = secondBar ? sub.get() : node.get();
    if (edited && !recount && (leavesListingAlone(listing, burst) || updateInPlace(listing, burst)))
        return;
    if (!edited && !listsThroughTail(listing))
        return;
    const QScopedValueRollback onlyOtherDocuments(m_onlyOtherDocuments, !edited);
    // What listing again saves or recounts itself is no change of the documents.
    const QScopedValueRollback refreshing(m_refreshing, true);
    const QList<KPItemDataPtr> selected = m_ctx.gridDataSource->itemDatasWithSectionIndexSets(grid->selectedIndexs());
    const KPCollectionView::SelectionNotificationsHeld held(grid);
    if (!secondBar) {
        saveNode(node);
        removeNoDocumentView();
        showMainNode(node);
    } else if (!m_shownSubNodes.isEmpty()) {
        showTags(QList<KPNode::Ptr>(m_shownSubNodes));
    } else {
        saveNode(sub);
        showSubNode(sub);
    }
    selectDocuments(selected);
}

bool ContentSwitch::listsThroughTail(const KPNode* node) const
{
    if (!node)
        return !m_shownSubNodes.isEmpty();
    switch (node->nodeType()) {
    case T::DocumentsNode:
    case T::TrashNode:
    case T::TagNode:
    case T::TagGroupNode:
    case T::FolderNode:
    case T::CollectionNode:
    case T::ListNode:
    case T::IndexFolderNode:
    case T::SubIndexFolderNode:
    case T::ICloudNode:
    case T::ReceivedNode:
        return true;
    default:
        return false;
    }
}

bool ContentSwitch::isListed(const QList<KPItemDataPtr>& items) const
{
    // As sets: the listed set keeps a document of two shown tags once. Compared by the models'
    // identity, not by texts of it: two sets of URIs of a large listing were the peak memory of
    // a start.
    const KPItemDataSet& shown = listed().dataSource();
    const KPItemDataSet wanted(items.begin(), items.end());
    if (wanted.size() != shown.size())
        return false;
    return std::all_of(wanted.begin(), wanted.end(), [&](const KPItemDataPtr& item) { return shown.contains(item); });
}

void ContentSwitch::selectDocuments(const QList<KPItemDataPtr>& items)
{
    KPCollectionView* grid = m_ctx.collectionView;
    if (items.isEmpty() || !grid || !m_ctx.gridDataSource)
        return;
    // One walk over the new sections: selections of thousands are common after Select All.
    const KPItemDataSet wanted(items.begin(), items.end());
    QList<KPSectionIndexSet> found;
    const QList<KPSectionDataPtr>& sections = m_ctx.gridDataSource->dataSource();
    for (qsizetype s = 0; s < sections.size(); ++s) {
        const QList<KPSectionItem>& datas = sections[s]->datas();
        for (qsizetype i = 0; i < datas.size(); ++i) {
            if (const KPItemDataPtr item = datas[i].itemData(); item && wanted.contains(item))
                found.append(KPSectionIndexSet(s, i));
        }
    }
    if (found.isEmpty())
        return;
    grid->selectItemIndexWithSectionIndexSets(found);
    grid->doCollectionViewItemSelectedNotify();
}

void ContentSwitch::showSmartFolderHits(const KPNode::Ptr& node, const QList<KPItemDataPtr>& hits)
{
    if (!node || !isShown(node))
        return;
    listed().addSource(hits);
    regroup(m_ctx.gridDataSource ? m_ctx.gridDataSource->sortInfoWithNode(node.get()) : std::nullopt);
}

void ContentSwitch::appendSmartFolderHits(const KPNode::Ptr& node, const QList<KPItemDataPtr>& hits)
{
    if (!node || !isShown(node))
        return;
    listed().appendSource(hits);
    regroup(m_ctx.gridDataSource ? m_ctx.gridDataSource->sortInfoWithNode(node.get()) : std::nullopt);
}

bool ContentSwitch::isShown(const KPNode::Ptr& node) const
{
    if (m_ctx.state.shownSubNode == node)
        return true;
    const KPNode::Ptr& main = m_ctx.state.shownNode;
    return main == node && main->nodeType() != T::TagsNode && main->nodeType() != T::CollectionsNode;
}

// ---- the common steps ----

void ContentSwitch::listTileDocuments()
{
    // The flag and month tiles group documents without listing them, and the count under the
    // grid reads the listed set: without this it kept the previous view's number.
    QList<KPItemDataPtr> items;
    if (m_ctx.gridDataSource) {
        for (const KPSectionDataPtr& section : m_ctx.gridDataSource->dataSource()) {
            for (const KPSectionItem& item : section->datas()) {
                if (const FlagGroupRecord* flag = item.flagGroup())
                    items += flag->items;
                else if (const MonthGroupRecord* month = item.monthGroup())
                    items += month->items;
            }
        }
    }
    listed().addSource(items);
    if (m_ctx.collectionView)
        m_ctx.collectionView->doCollectionViewItemSelectedNotify();
}

void ContentSwitch::tail(const KPNode::Ptr& node, const QList<KPItemDataPtr>& items, std::optional<int> groupType)
{
    if (m_onlyOtherDocuments && isListed(items))
        return;
    listed().addSource(items);
    GridDataSource* grid = m_ctx.gridDataSource;
    if (!grid)
        return;
    std::optional<QVariantMap> setting = grid->sortInfoWithNode(node.get());
    if (setting && setting->contains(GridDataSource::kDisplayModeKey))
        viewSize().setDisplayMode(setting->value(GridDataSource::kDisplayModeKey).toInt() == KPDisplayModeList
                                      ? KPDisplayModeList
                                      : KPDisplayModeIcon);
    if (groupType) {
        // A node never set up takes the other sort values from the current settings: the
        // grouping stores what it is given, and zeros would overwrite the user's sort order.
        const auto& sort =
            m_ctx.sortManager ? *m_ctx.sortManager : KPDataSourceSortManager::shareDataSourceSortManager();
        QVariantMap forced{
            {GridDataSource::kGroupAscendingKey, sort.groupAscending()},
            {GridDataSource::kFileTypeKey, sort.fileSortType()},
            {GridDataSource::kFileAscendingKey, sort.fileAscending()},
        };
        if (setting)
            forced.insert(*setting);
        forced.insert(GridDataSource::kGroupTypeKey, *groupType);
        setting = forced;
    }
    regroup(setting);
    grid->scrollFrameWithNode(node.get());
}

void ContentSwitch::regroup(const std::optional<QVariantMap>& setting)
{
    if (GridDataSource* grid = m_ctx.gridDataSource) {
        grid->grouping().createDataAndFileDataByGroupSortSetting(listed().dataSource(), setting);
        grid->reloadData();
    }
}

void ContentSwitch::showEmptyListing()
{
    listed().removeAllObjects();
    regroup(std::nullopt);
}

void ContentSwitch::saveNode(const KPNode::Ptr& node)
{
    if (!node || !m_ctx.gridDataSource)
        return;
    m_ctx.gridDataSource->saveScrollFrameWithNode(node.get());
    m_ctx.gridDataSource->saveSortInfoWithNode(node.get());
}

void ContentSwitch::setTileMode(bool tiles)
{
    if (m_ctx.appMenu)
        m_ctx.appMenu->setBEnabledListView(!tiles);
    if (KPCollectionView* grid = m_ctx.collectionView) {
        grid->setAllowSelection(!tiles);
        grid->setAllowRegionSelection(!tiles);
        grid->setAllowShiftSelection(!tiles);
    }
    if (tiles) {
        m_buttons.viewModeButton = false;
        viewSize().setDisplayMode(KPDisplayModeIcon);
        m_forcedIconMode = true;
    } else if (m_forcedIconMode) {
        // Leaving the tiles: the listings get back the mode the user chose for them.
        m_forcedIconMode = false;
        viewSize().setDisplayMode(m_ctx.state.lastInnerDisplayMode == KPDisplayModeList ? KPDisplayModeList
                                                                                         : KPDisplayModeIcon);
    }
}

void ContentSwitch::showSecondSideBar(bool show)
{
    KPSplitView* split = m_ctx.subSplitView;
    if (!split)
        return;
    if (show) {
        if (!split->isExpand())
            split->expand();
        return;
    }
    if (!split->isExpand())
        return;
    // The width it was given, also where it gives way to the document area just now.
    const double width = split->keptExtent();
    // A bar never laid out has no width worth keeping.
    if (width > 0)
        platform::UserDefaults::standardUserDefaults().setDouble(width, kSubLeftSideBarWidthKey);
    split->collapse();
}

void ContentSwitch::showImportPanel(bool show)
{
    QPointer<QWidget>& panel = m_overlays->importPanel;
    if (!show) {
        if (panel)
            panel->hide();
        return;
    }
    if (!panel && makeImportPanel && m_overlays->center())
        panel = makeImportPanel();
    m_overlays->fill(panel);
}

void ContentSwitch::showNoDocumentView()
{
    QWidget* center = m_overlays->center();
    if (!center)
        return;
    QWidget* view = makeNoDocumentView ? makeNoDocumentView(center) : new QWidget(center);
    if (!view)
        return;
    if (m_ctx.collectionView)
        new DropPassThrough(view, m_ctx.collectionView);
    m_noDocumentView = view;
    m_overlays->noDocumentView = view;
    m_overlays->fill(view);
}

void ContentSwitch::removeNoDocumentView()
{
    if (!m_noDocumentView)
        return;
    m_noDocumentView->hide();
    m_noDocumentView->deleteLater();
    m_noDocumentView = nullptr;
    m_overlays->noDocumentView = nullptr;
}

void ContentSwitch::postTitle(const QVariant& title)
{
    auto& center = m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter();
    center.post(kUpdateLabCenterTitle, title);
}

void ContentSwitch::publishButtons()
{
    if (buttonsChanged)
        buttonsChanged(m_buttons);
}

DataBaseEngine& ContentSwitch::store() const
{
    return m_ctx.store ? *m_ctx.store : *DataBaseEngine::dataBaseEngine();
}

KPDataSourceManager& ContentSwitch::listed() const
{
    return m_ctx.dataSourceManager ? *m_ctx.dataSourceManager : KPDataSourceManager::shareDataSourceManager();
}

KPViewSizeManager& ContentSwitch::viewSize() const
{
    return m_ctx.viewSizeManager ? *m_ctx.viewSizeManager : KPViewSizeManager::instance();
}
