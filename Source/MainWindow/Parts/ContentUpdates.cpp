// Saves that only change values the grid draws (a rating, a flag, a date) are shown where the
// documents already stand. Listing again costs a fetch, a grouping and a new layout of every
// listed document; at a large library that made one star take as long as opening the view.
// Only the metadata record of a document is trusted this way: no listing that goes through
// tail chooses its documents by metadata, and the grouping and sort keys that read it are
// known. Saves that changed only documents of the trash none of which is listed (emptying the
// trash marks its documents first) change nothing but the Trash's listing, which alone shows
// documents of the trash. Anything else, or a recount request in the same burst, lists again
// as before.
#include "MainWindow/Parts/ContentSwitch.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPSortFunctions.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/MainWindowContext.h"
#include "SideBar/SideBarNodeType.h"
#include "Store/DBFileInfo.h"
#include "Store/DBFileInfoMetadata.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Store/DataBaseEngine.h"

namespace {

// Group types whose sections come from the document record, its tags or its folder.
bool groupsWithoutMetadata(int groupType)
{
    switch (groupType) {
    case KPGroupSortTypeSize:
    case KPGroupSortTypeDateCreated:
    case KPGroupSortTypeDateImported:
    case KPGroupSortTypeDateModified:
    case KPGroupSortTypeDateLastOpened:
    case KPGroupSortTypeSource:
        return false;
    default:
        return true;
    }
}

bool sortsWithoutMetadata(int fileSortType)
{
    return !sortfunctions::isFileSortType(fileSortType) || fileSortType == KPFileSortTypeTitle ||
           fileSortType == KPFileSortTypeExtension;
}

} // namespace

void ContentSwitch::noteSave(const platform::SaveNotification& note)
{
    if (!note.inserted.isEmpty() || !note.deleted.isEmpty()) {
        m_burst.onlyMetadata = false;
        m_burst.onlyDocuments = false;
    }
    const QString metadata = DBFileInfoMetadata::entityName();
    const QString documents = DBFileInfo::entityName();
    for (const platform::ObjectID& id : note.updated) {
        const QString entity = id.entity() ? id.entity()->name() : QString();
        if (entity == metadata) {
            m_burst.metadata.append(id);
            m_burst.onlyDocuments = false;
        } else if (entity == documents) {
            m_burst.documents.append(id);
            m_burst.onlyMetadata = false;
        } else {
            m_burst.onlyMetadata = false;
            m_burst.onlyDocuments = false;
        }
    }
}

bool ContentSwitch::leavesListingAlone(const KPNode* listing, const BurstChanges& changes)
{
    if (!changes.onlyDocuments || changes.documents.isEmpty() || !listsThroughTail(listing))
        return false;
    // Every other listing through tail takes only documents out of the trash.
    if (listing && (listing->nodeType() == SideBarNodeType::TrashNode || listing->nodeType() == SideBarNodeType::ListNode))
        return false;
    const platform::ContextPtr& context = store().context();
    if (!context)
        return false;
    const KPItemDataSet& shown = listed().dataSource();
    for (const platform::ObjectID& id : changes.documents) {
        const DBFileInfo file(context->existingObjectWithID(id));
        // A document just put in the trash is still listed, and one taken out of it is not yet.
        if (!file || !file.isTrash() || shown.contains(KPItemData::create(file)))
            return false;
    }
    return true;
}

bool ContentSwitch::updateInPlace(const KPNode* listing, const BurstChanges& changes)
{
    KPCollectionView* grid = m_ctx.collectionView;
    if (!changes.onlyMetadata || changes.metadata.isEmpty() || !grid || !listsThroughTail(listing))
        return false;
    const KPItemViewType type = viewSize().itemViewType();
    if (type != KPItemViewTypeDocuments && type != KPItemViewTypeGroupedDocuments)
        return false;
    const KPDataSourceSortManager& sort =
        m_ctx.sortManager ? *m_ctx.sortManager : KPDataSourceSortManager::shareDataSourceSortManager();
    if ((type == KPItemViewTypeGroupedDocuments && !groupsWithoutMetadata(sort.groupSortType())) ||
        !sortsWithoutMetadata(sort.fileSortType()))
        return false;
    const platform::ContextPtr& context = store().context();
    if (!context)
        return false;

    const KPItemDataSet& shown = listed().dataSource();
    KPItemDataSet changed;
    for (const platform::ObjectID& id : changes.metadata) {
        const DBFileInfo file = DBFileInfoMetadata(context->existingObjectWithID(id)).fileInfo();
        if (!file)
            continue;
        // Found by the record's identity: the probe equals the listed model of the same record.
        const auto found = shown.find(KPItemData::create(file));
        if (found != shown.end())
            changed.insert(*found);
    }
    for (const KPItemDataPtr& item : changed)
        item->reloadDataContent();
    for (KPCollectionItemView* view : grid->visibleItemViews()) {
        auto* itemView = dynamic_cast<KPSectionItemView*>(view);
        if (itemView && itemView->itemData() && changed.contains(itemView->itemData()))
            itemView->update();
    }
    // What shows the selection (the inspector) reads its values again, as after a listing.
    if (m_ctx.gridDataSource && !changed.empty()) {
        for (const KPItemDataPtr& item : m_ctx.gridDataSource->itemDatasWithSectionIndexSets(grid->selectedIndexs())) {
            if (changed.contains(item)) {
                grid->doCollectionViewItemSelectedNotify();
                break;
            }
        }
    }
    return true;
}
