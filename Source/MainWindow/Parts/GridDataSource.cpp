#include "MainWindow/Parts/GridDataSource.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/CollectionView/KPSectionView.h"
#include "Browser/ItemViews/KPSectionAuthorItemView.h"
#include "Browser/ItemViews/KPSectionDateItemView.h"
#include "Browser/ItemViews/KPSectionFileTypeItemView.h"
#include "Browser/ItemViews/KPSectionFlagItemView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPNotTitleSectionView.h"
#include "Browser/KPThumbnailLoader.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/MainWindowContext.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

// The view the grid offered when it is of the class wanted, else one from the grid's pool. A
// grid kept across a change of view type may offer a view of the old type's class.
template <class T, class Base>
T* reuseOrDequeue(KPCollectionView* view, Base* shown)
{
    if (T* same = dynamic_cast<T*>(shown))
        return same;
    return view ? view->template dequeueReusableWithClass<T>() : nullptr;
}

// A tile view showing record; none when the item holds no record of the tile's kind.
template <class Tile, class Record>
KPCollectionItemView* fillTile(KPCollectionView* view, KPCollectionItemView* shown, const Record* record,
                               void (Tile::*set)(const Record&))
{
    if (!record)
        return nullptr;
    Tile* tile = reuseOrDequeue<Tile>(view, shown);
    if (tile)
        (tile->*set)(*record);
    return tile;
}

} // namespace

GridDataSource::GridDataSource(MainWindowContext& ctx)
    : m_ctx(ctx)
{
    KPGroupingEngine::Services services;
    services.engine = ctx.store;
    services.listed = ctx.dataSourceManager;
    services.sort = ctx.sortManager;
    services.reloadData = [this] { reloadData(); };
    m_grouping = std::make_unique<KPGroupingEngine>(m_dataSource, std::move(services));

    if (ctx.collectionView) {
        m_grid = ctx.collectionView;
        m_grid->setDataSource(this);
        m_grid->setDelegate(this);
    }
    platform::NotificationCenter& center =
        ctx.notifications ? *ctx.notifications : platform::NotificationCenter::defaultCenter();
    m_observers.push_back(center.addObserver(KPThumbnailLoader::kGraphicResourceDidLoadNotification,
                                             [this](const platform::Notification& note) {
                                                 onGraphicResourceDidLoadNotification(note);
                                             }));
}

GridDataSource::~GridDataSource()
{
    // The grid may outlive this object (it is a widget of the window); it must not ask a
    // destroyed data source.
    if (m_grid) {
        if (m_grid->delegate() == this)
            m_grid->setDelegate(nullptr);
        if (m_grid->dataSource() == this)
            m_grid->setDataSource(nullptr);
    }
}

KPViewSizeManager& GridDataSource::viewSizes() const
{
    return m_ctx.viewSizeManager ? *m_ctx.viewSizeManager : KPViewSizeManager::instance();
}

KPDataSourceSortManager& GridDataSource::sortSettings() const
{
    return m_ctx.sortManager ? *m_ctx.sortManager : KPDataSourceSortManager::shareDataSourceSortManager();
}

KPDataSourceManager& GridDataSource::listed() const
{
    return m_ctx.dataSourceManager ? *m_ctx.dataSourceManager : KPDataSourceManager::shareDataSourceManager();
}

int GridDataSource::itemViewType() const
{
    return int(viewSizes().itemViewType());
}

QSizeF GridDataSource::scrollViewSize() const
{
    return m_grid ? m_grid->scrollViewSize() : QSizeF();
}

void GridDataSource::reloadData()
{
    if (m_grid)
        m_grid->reloadData();
    if (actions.reloaded)
        actions.reloaded();
}

// ---------------------------------------------------------------------------------------------
// Sections and addresses

KPSectionDataPtr GridDataSource::sectionDataWithIndex(qint64 index) const
{
    if (index < 0 || index >= m_dataSource.size())
        return nullptr;
    return m_dataSource[index];
}

std::optional<KPSectionItem> GridDataSource::itemDataWithSectionIndexSet(
    const std::optional<KPSectionIndexSet>& indexSet) const
{
    if (!indexSet)
        return std::nullopt;
    const KPSectionDataPtr section = sectionDataWithIndex(indexSet->sectionIndex());
    if (!section)
        return std::nullopt;
    const KPSectionItem* item = section->itemDataWithIndex(indexSet->itemIndex());
    if (!item)
        return std::nullopt;
    return *item;
}

QList<KPItemDataPtr> GridDataSource::itemDatasWithSectionIndexSets(const QList<KPSectionIndexSet>& indexSets) const
{
    // Straight from the sections: a Select All hands out every listed document.
    QList<KPItemDataPtr> items;
    items.reserve(indexSets.size());
    for (const KPSectionIndexSet& indexSet : indexSets) {
        const qint64 s = indexSet.sectionIndex();
        if (s < 0 || s >= m_dataSource.size())
            continue;
        if (KPItemDataPtr document = m_dataSource[qsizetype(s)]->itemAt(indexSet.itemIndex()))
            items.append(std::move(document));
    }
    return items;
}

std::optional<KPSectionIndexSet> GridDataSource::indexSetWithItemData(const KPSectionItem& item) const
{
    const bool nullDocument = !item.itemData() && !item.monthGroup() && !item.flagGroup() && !item.fileTypeGroup()
                              && !item.author();
    if (nullDocument)
        return std::nullopt;
    for (qsizetype s = 0; s < m_dataSource.size(); ++s) {
        const qint64 index = m_dataSource[s]->itemIndexWithData(item);
        if (index != KPSectionData::kNotFound)
            return KPSectionIndexSet(s, index);
    }
    return std::nullopt;
}

void GridDataSource::removeItemDataWithIndexSets(const QList<KPSectionIndexSet>& indexSets)
{
    // Addresses grouped by section, each item once, so that removing one item never shifts the
    // index of another still to be removed and a repeated address removes nothing twice.
    std::map<qint64, std::set<qint64>> bySection;
    for (const KPSectionIndexSet& indexSet : indexSets) {
        if (sectionDataWithIndex(indexSet.sectionIndex()))
            bySection[indexSet.sectionIndex()].insert(indexSet.itemIndex());
    }

    QList<KPItemDataPtr> removed;
    QList<KPSectionDataPtr> emptied;
    for (const auto& [sectionIndex, itemIndexes] : bySection) {
        const KPSectionDataPtr& section = m_dataSource[sectionIndex];
        QList<KPSectionItem>& datas = section->datas();
        for (auto it = itemIndexes.rbegin(); it != itemIndexes.rend(); ++it) {
            if (*it < 0 || *it >= datas.size())
                continue;
            if (KPItemDataPtr document = datas[*it].itemData())
                removed.append(std::move(document));
            datas.removeAt(*it);
        }
        if (datas.isEmpty())
            emptied.append(section);
    }
    m_dataSource.removeIf([&emptied](const KPSectionDataPtr& section) { return emptied.contains(section); });
    if (!removed.isEmpty())
        listed().removeSource(removed);
}

// ---------------------------------------------------------------------------------------------
// Geometry

KPSectionContentLayoutManager* GridDataSource::layoutManagerForType(int type)
{
    switch (type) {
    case KPItemViewTypeDocuments:
    case KPItemViewTypeFlag:
    case KPItemViewTypeAuthor:
    case KPItemViewTypeSafeBox:
        return &m_notTitleLayoutManager;
    case KPItemViewTypeGroupedDocuments:
    case KPItemViewTypeMonth:
    case KPItemViewTypeFileType:
        return &m_defaultSectionLayoutManager;
    default:
        return nullptr;
    }
}

KPSectionContentLayoutManager* GridDataSource::layoutManager()
{
    KPSectionContentLayoutManager* layout = layoutManagerForType(itemViewType());
    if (layout)
        layout->setLayoutWidth(scrollViewSize().width());
    return layout;
}

namespace {

// Everything a layout manager computes a section's height from.
std::vector<double> layoutKeyOf(const KPSectionContentLayoutManager* layout, int type, int displayMode,
                                const QSizeF& visible)
{
    if (!layout)
        return {double(type), visible.width(), visible.height()};
    const QSizeF item = layout->itemViewSize();
    return {double(type), visible.width(), visible.height(), double(displayMode),
            item.width(), item.height(), layout->itemViewMarginMinX(), layout->itemViewMarginMaxX(),
            layout->itemViewMarginMinY(), layout->itemViewMarginMaxY(), layout->itemViewWSpacing(),
            layout->itemViewHSpacing(), layout->sectionHeaderViewHeight(), layout->sectionBottomViewHeight(),
            double(layout->autoWSpacing())};
}

} // namespace

const GridDataSource::Geometry& GridDataSource::geometry()
{
    const int type = itemViewType();
    const QSizeF visible = scrollViewSize();
    KPSectionContentLayoutManager* layout = layoutManager();
    std::vector<double> key = layoutKeyOf(layout, type, int(viewSizes().displayMode()), visible);

    bool same = key == m_geometry.layoutKey && qsizetype(m_geometry.shape.size()) == m_dataSource.size();
    for (qsizetype s = 0; same && s < m_dataSource.size(); ++s) {
        const KPSectionData& section = *m_dataSource[s];
        same = m_geometry.shape[size_t(s)] == std::tuple(&section, section.itemCount(), section.isExpand());
    }
    if (same)
        return m_geometry;

    Geometry g;
    g.layoutKey = std::move(key);
    g.width = visible.width();
    g.shape.reserve(size_t(m_dataSource.size()));
    g.below.reserve(size_t(m_dataSource.size()));
    double stacked = 0;
    for (const KPSectionDataPtr& section : std::as_const(m_dataSource)) {
        g.shape.emplace_back(section.get(), section->itemCount(), section->isExpand());
        if (layout) {
            stacked += section->isExpand() ? layout->contentHeightWithItemCount(section->itemCount())
                                           : layout->sectionHeaderViewHeight();
        }
        g.below.push_back(stacked);
    }
    double height = 0;
    if (layout) {
        if (itemViewTypeHasSectionTitles(KPItemViewType(type))) {
            height = stacked;
        } else {
            // One untitled section is all these types show; further sections take no room.
            height = layout->contentHeightWithItemCount(m_dataSource.isEmpty() ? 0 : m_dataSource[0]->itemCount());
        }
    }
    g.contentHeight = std::max(height, visible.height());
    m_geometry = std::move(g);
    return m_geometry;
}

QSizeF GridDataSource::contentSize()
{
    const Geometry& g = geometry();
    return QSizeF(g.width, g.contentHeight);
}

QRectF GridDataSource::collectionViewSectionRect(KPCollectionView*, qint64 sectionIndex)
{
    const Geometry& g = geometry();
    const double top = g.contentHeight;
    if (sectionIndex < 0 || g.below.empty())
        return QRectF(0, top, g.width, 0);
    // Sections stack downward from the top of the content; past the last one, a line under it.
    if (sectionIndex >= qint64(g.below.size()))
        return QRectF(0, top - g.below.back(), g.width, 0);
    const double below = g.below[size_t(sectionIndex)];
    const double own = below - (sectionIndex > 0 ? g.below[size_t(sectionIndex - 1)] : 0);
    return QRectF(0, top - below, g.width, own);
}

double GridDataSource::collectionViewContentHeight(KPCollectionView*)
{
    return contentSize().height();
}

bool GridDataSource::collectionViewSectionIsExpand(KPCollectionView*, qint64 sectionIndex)
{
    const KPSectionDataPtr section = sectionDataWithIndex(sectionIndex);
    return !section || section->isExpand();
}

KPSectionContentLayoutManager* GridDataSource::collectionViewSectionLayoutManager(KPCollectionView*, qint64)
{
    return layoutManager();
}

// ---------------------------------------------------------------------------------------------
// Views

std::optional<KPCollectionSectionView*> GridDataSource::collectionViewWillDisplaySectionView(
    KPCollectionView* view, KPCollectionSectionView* shown, qint64 sectionIndex)
{
    const KPSectionDataPtr section = sectionDataWithIndex(sectionIndex);
    if (!section)
        return nullptr;
    switch (itemViewType()) {
    case KPItemViewTypeDocuments:
    case KPItemViewTypeFlag:
    case KPItemViewTypeAuthor:
    case KPItemViewTypeSafeBox:
        return reuseOrDequeue<KPNotTitleSectionView>(view, shown);
    case KPItemViewTypeGroupedDocuments:
    case KPItemViewTypeMonth:
    case KPItemViewTypeFileType: {
        KPSectionView* sectionView = reuseOrDequeue<KPSectionView>(view, shown);
        if (sectionView) {
            sectionView->setSectionData(section);
            sectionView->loadContent();
        }
        return sectionView;
    }
    default:
        return shown;
    }
}

std::optional<KPCollectionItemView*> GridDataSource::collectionViewWillDisplayItemView(
    KPCollectionView* view, KPCollectionItemView* shown, const KPSectionIndexSet& indexSet)
{
    const int type = itemViewType();
    if (type < KPItemViewTypeDocuments || type > KPItemViewTypeSafeBox)
        return shown;
    const std::optional<KPSectionItem> item = itemDataWithSectionIndexSet(indexSet);
    if (!item)
        return nullptr;

    // An item of another kind than the view type shows (a listing being rebuilt) leaves its
    // place empty rather than filling a view with the wrong record.
    switch (type) {
    case KPItemViewTypeDocuments:
    case KPItemViewTypeGroupedDocuments:
    case KPItemViewTypeSafeBox: {
        const KPItemDataPtr document = item->itemData();
        if (!document)
            return nullptr;
        KPSectionItemView* itemView = reuseOrDequeue<KPSectionItemView>(view, shown);
        if (!itemView)
            return nullptr;
        itemView->setItemData(document);
        if (type != KPItemViewTypeSafeBox)
            itemView->setItemIndex(indexSet.itemIndex());
        itemView->loadContent();
        return itemView;
    }
    case KPItemViewTypeMonth:
        return fillTile(view, shown, item->monthGroup(), &KPSectionDateItemView::setItemData);
    case KPItemViewTypeFlag:
        return fillTile(view, shown, item->flagGroup(), &KPSectionFlagItemView::setItemData);
    case KPItemViewTypeFileType:
        return fillTile(view, shown, item->fileTypeGroup(), &KPSectionFileTypeItemView::setItemData);
    case KPItemViewTypeAuthor:
        return fillTile(view, shown, item->author(), &KPSectionAuthorItemView::setAuthor);
    default:
        return shown;
    }
}

// ---------------------------------------------------------------------------------------------
// Data source

qint64 GridDataSource::collectionViewSectionCount(KPCollectionView*)
{
    return m_dataSource.size();
}

qint64 GridDataSource::collectionViewItemCount(KPCollectionView*, qint64 sectionIndex)
{
    const KPSectionDataPtr section = sectionDataWithIndex(sectionIndex);
    return section ? section->itemCount() : 0;
}

std::optional<KPSectionItem> GridDataSource::collectionViewSectionItemObject(KPCollectionView*,
                                                                             const KPSectionIndexSet& indexSet)
{
    return itemDataWithSectionIndexSet(indexSet);
}

// ---------------------------------------------------------------------------------------------
// Per-node memory

void GridDataSource::saveSortInfoWithNode(const KPNode* node)
{
    if (!node)
        return;
    const KPDataSourceSortManager& sort = sortSettings();
    m_cacheNodeSortInfos.insert(node->description(), QVariantMap{
                                                          {kDisplayModeKey, int(viewSizes().displayMode())},
                                                          {kGroupTypeKey, sort.groupSortType()},
                                                          {kGroupAscendingKey, sort.groupAscending()},
                                                          {kFileTypeKey, sort.fileSortType()},
                                                          {kFileAscendingKey, sort.fileAscending()},
                                                      });
}

std::optional<QVariantMap> GridDataSource::sortInfoWithNode(const KPNode* node) const
{
    if (!node)
        return std::nullopt;
    const auto it = m_cacheNodeSortInfos.constFind(node->description());
    if (it == m_cacheNodeSortInfos.constEnd())
        return std::nullopt;
    return *it;
}

void GridDataSource::saveScrollFrameWithNode(const KPNode* node)
{
    if (!node || !m_grid)
        return;
    m_cacheNodeFrames.insert(node->description(), SavedFrame{m_grid->visibleRect(), m_grid->frameUp().height()});
}

void GridDataSource::scrollFrameWithNode(const KPNode* node)
{
    if (!node || !m_grid)
        return;
    const auto it = m_cacheNodeFrames.constFind(node->description());
    if (it == m_cacheNodeFrames.constEnd() || it->visible.isEmpty())
        return;
    // y grows upward from the bottom of the content, so a y taken in a listing of another
    // length would land elsewhere; the distance from the top is what the user saw.
    const double fromTop = it->contentHeight - (it->visible.y() + it->visible.height());
    const double y = m_grid->frameUp().height() - fromTop - it->visible.height();
    m_grid->scrollToPoint(QPointF(0, y));
}

// ---------------------------------------------------------------------------------------------
// Redraws

void GridDataSource::onGraphicResourceDidLoadNotification(const platform::Notification& note)
{
    const KPItemDataPtr item = note.object.value<KPItemDataPtr>();
    if (!item || !m_grid)
        return;
    // Only a shown view can be redrawn, so the shown views are searched, not the whole listing
    // (thousands of documents, one notification per thumbnail).
    for (KPCollectionItemView* view : m_grid->visibleItemViews()) {
        const std::optional<KPSectionIndexSet> address = view->gridAddress();
        const std::optional<KPSectionItem> shown = address ? itemDataWithSectionIndexSet(address) : std::nullopt;
        if (shown && *shown == KPSectionItem(item))
            m_grid->updateDisplayWithIndexSet(*address);
    }
}

void GridDataSource::resetCollectionViewTheme()
{
    KPSectionItemView::resetTheme();
    KPSectionView::resetTheme();
    if (!m_grid)
        return;
    m_grid->viewport()->update();
    m_grid->updateDisplayWithRect(m_grid->visibleRect());
}

// ---------------------------------------------------------------------------------------------
// User actions, answered by the parts the window wires in

void GridDataSource::collectionViewKeyDown(KPCollectionView*, QKeyEvent* event)
{
    if (actions.keyDown)
        actions.keyDown(event);
}

void GridDataSource::collectionViewItemDidSelected(KPCollectionView*)
{
    if (actions.itemDidSelected)
        actions.itemDidSelected();
}

std::unique_ptr<QMenu> GridDataSource::collectionViewMenu(KPCollectionView*, const KPSectionIndexSet& indexSet)
{
    return actions.menu ? actions.menu(indexSet) : nullptr;
}

void GridDataSource::collectionViewSwipeChange(KPCollectionView*, int type)
{
    if (actions.swipeChange)
        actions.swipeChange(type);
}

std::optional<Qt::DropAction> GridDataSource::onCollectionViewDraggingEnter(KPCollectionView*, QDropEvent* info)
{
    return actions.draggingEnter ? actions.draggingEnter(info) : std::nullopt;
}

std::optional<Qt::DropAction> GridDataSource::onCollectionViewDraggingUpdated(KPCollectionView*, QDropEvent* info)
{
    return actions.draggingUpdated ? actions.draggingUpdated(info) : std::nullopt;
}

void GridDataSource::onCollectionViewDraggingExited(KPCollectionView*)
{
    if (actions.draggingExited)
        actions.draggingExited();
}

bool GridDataSource::onCollectionViewPerformDragOperation(KPCollectionView*, QDropEvent* info)
{
    return actions.performDragOperation ? actions.performDragOperation(info) : false;
}

void GridDataSource::onCollectionViewConcludeDragOperation(KPCollectionView*, QDropEvent* info)
{
    if (actions.concludeDragOperation)
        actions.concludeDragOperation(info);
}
