#include "MainWindow/Parts/InspectorEdits.h"

#include "Browser/CollectionView/KPCollectionItemView.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPItemViewType.h"
#include "Browser/KPSafeBoxItemData.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/SideBarRequests.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBFileInfo.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"

#include <QFileInfo>

InspectorEdits::InspectorEdits(MainWindowContext& ctx, ContentSwitch& content)
    : m_ctx(ctx), m_content(content)
{
}

void InspectorEdits::onFolderChange(const DBNode& newFolder)
{
    SideBarRequests::moveSelectionToFolder(m_ctx, m_content, newFolder, QStringLiteral("Collection,IndexFolder"));
}

void InspectorEdits::onRateChange(int rate)
{
    editMetadata([rate](KPItemData& item, DBFileInfoMetadata& metadata) {
        item.setRate(rate);
        metadata.setRate(rate);
    });
}

void InspectorEdits::onFlagChange(int flag)
{
    setFlag(m_ctx, SideBarRequests::selectedItems(m_ctx), flag);
    redrawSelection();
}

void InspectorEdits::setFlag(MainWindowContext& ctx, const QList<KPItemDataPtr>& items, int flag)
{
    editMetadata(ctx, items, [flag](KPItemData& item, DBFileInfoMetadata& metadata) {
        item.setLabel(flag);
        metadata.setLabel(flag);
    });
}

void InspectorEdits::editMetadata(const std::function<void(KPItemData&, DBFileInfoMetadata&)>& edit)
{
    editMetadata(m_ctx, SideBarRequests::selectedItems(m_ctx), edit);
    redrawSelection();
}

void InspectorEdits::editMetadata(MainWindowContext& ctx, const QList<KPItemDataPtr>& items,
                                  const std::function<void(KPItemData&, DBFileInfoMetadata&)>& edit)
{
    for (const KPItemDataPtr& item : items) {
        DBFileInfo record = item->data();
        DBFileInfoMetadata metadata = record.metadata();
        // A record without its metadata row would drop the edit silently: give it one.
        if (!metadata && record.managedObjectContext()) {
            metadata = DBRecord::insertNewObject<DBFileInfoMetadata>(record.managedObjectContext());
            record.setMetadata(metadata);
        }
        edit(*item, metadata);
    }
    if (ctx.store && !items.isEmpty())
        ctx.store->save();
}

void InspectorEdits::onTitleChange(const QString& text)
{
    const QList<KPItemDataPtr> items = SideBarRequests::selectedItems(m_ctx);
    if (items.size() != 1)
        return;
    onTitleChange(items.first(), text);
}

void InspectorEdits::onTitleChange(const KPItemDataPtr& item, const QString& text)
{
    if (!item)
        return;
    const QString title = text.trimmed();
    if (title.isEmpty() || title == item->title())
        return;
    // Told by the document itself: the view may have moved to another node since the edit began.
    const bool safeBox = dynamic_cast<const KPSafeBoxItemData*>(item.get()) != nullptr;
    DBFileInfo record = item->data();
    if (safeBox) {
        if (!renameFile(item, title, true))
            return;
    } else if (record.isIndex()) {
        if (!renameFile(item, title, false))
            return;
        record.setTitle(title);
        record.setPath(item->filePath());
        if (m_ctx.store)
            m_ctx.store->save();
    } else {
        // A library document keeps its file name; titles may repeat.
        item->setTitle(title);
        record.setTitle(title);
        if (m_ctx.store)
            m_ctx.store->save();
    }
    redrawSelection();
}

bool InspectorEdits::renameFile(const KPItemDataPtr& item, const QString& title, bool isSafeBox)
{
    const QString path = item->filePath();
    const QString extension = isSafeBox ? QFileInfo(path).suffix() : item->data().pathExtension();
    // A file without an extension gets no trailing dot.
    const QString name = extension.isEmpty() ? title : title + QLatin1Char('.') + extension;
    if (!platform::FileManager::isUsableFileName(name)) {
        refuseTitle(item, kUnusableNameText, title, KPLibraryFileManager::unusableNameReason(name));
        return false;
    }
    const QString target = QFileInfo(path).path() + QLatin1Char('/') + name;
    if (target != path) {
        const QFileInfo existing(target);
        if (existing.exists() || existing.isSymLink()) {
            refuseTitle(item, kNameTakenText, title, {});
            return false;
        }
        const KPLibraryFileManager& library = files ? *files : KPLibraryFileManager::defaultManager();
        // A failed move (a read-only folder, a file gone) changes nothing and says nothing.
        if (!library.renameNameByFile(path, name))
            return false;
    }
    item->setTitle(title);
    item->setFilePath(target);
    return true;
}

void InspectorEdits::onFolderNameMenu(QMenu* menu, const std::function<void(const DBNode&)>& action)
{
    if (menu && m_ctx.subSideBarDataSource)
        m_ctx.subSideBarDataSource->duplicateMenuWithDataSource(menu, action);
}

void InspectorEdits::refuseTitle(const KPItemDataPtr& item, const QString& key, const QString& title,
                                 const QString& reason)
{
    const platform::kit::Alert alert =
        platform::kit::Alert::withMessage(platform::localizedString(key).replace(QStringLiteral("%@"), title),
                                          platform::localizedString(QStringLiteral("OK")), {}, {}, reason);
    auto& dialogs = m_ctx.dialogs ? *m_ctx.dialogs : platform::kit::DialogService::shared();
    // What was typed goes back into the title for correcting once the alert is read.
    dialogs.alert(m_ctx.window, alert, [this, alive = std::weak_ptr<bool>(m_alive), item, title](int) {
        if (!alive.expired() && m_ctx.inspector)
            m_ctx.inspector->editTitleAgain(item, title);
    });
}

void InspectorEdits::redrawSelection()
{
    if (!m_ctx.collectionView)
        return;
    for (const KPSectionIndexSet& indexSet : m_ctx.collectionView->selectedIndexs()) {
        if (KPCollectionItemView* view = m_ctx.collectionView->itemViewWithIndexSet(indexSet))
            view->update();
    }
}
