#include "MainWindow/Parts/GridContextMenu.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/KeyState.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/InspectorEdits.h"
#include "MainWindow/Parts/SelectionSharing.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Workspace/Workspace.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBNode.h"
#include "Store/DataBaseEngine.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeObject.h"
#include "Tools/RebuildContentWindowController.h"
#include "Utilities/FlagNames.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QSet>
#include <algorithm>

using platform::DesktopEntry;
using platform::kit::MenuItemModel;
using platform::localizedString;
using platform::kit::MenuModel;
namespace T = SideBarNodeType;

namespace {

MenuItemModel taggedSeparator(int tag)
{
    MenuItemModel separator = MenuItemModel::separator();
    separator.tag = tag;
    return separator;
}

MenuItemModel submenu(const QString& title, int tag, std::vector<MenuItemModel> items)
{
    MenuItemModel model = MenuItemModel::submenu(title, std::move(items));
    model.tag = tag;
    return model;
}

// The one value all items share, or none when they differ (or there are none).
template <class Value>
std::optional<qint64> commonValue(const QList<KPItemDataPtr>& items, Value value)
{
    std::optional<qint64> common;
    for (const KPItemDataPtr& item : items) {
        const qint64 own = value(*item);
        if (common && *common != own)
            return std::nullopt;
        common = own;
    }
    return common;
}

void markChecked(std::vector<MenuItemModel>& items, std::optional<qint64> tag)
{
    for (MenuItemModel& item : items) {
        item.checkable = true;
        item.checked = tag && item.tag == *tag;
    }
}

QString extensionOf(const KPItemData& item)
{
    return QFileInfo(item.filePath()).suffix().toLower();
}

} // namespace

GridContextMenu::GridContextMenu(MainWindowContext& ctx, SelectionSharing& sharing) : m_ctx(ctx), m_sharing(sharing)
{
    openRebuildSheet = [this](const QList<platform::ObjectID>& records, std::function<void()> done) {
        auto* controller = new RebuildContentWindowController(records, std::move(done), m_ctx.window);
        controller->beginSheet();
    };
}

GridContextMenu::~GridContextMenu() = default;

void GridContextMenu::install()
{
    if (m_ctx.gridDataSource)
        m_ctx.gridDataSource->actions.menu = [this](const KPSectionIndexSet&) { return menu(m_ctx.collectionView); };
    if (!m_ctx.commands)
        return;
    auto& commands = *m_ctx.commands;
    m_commands.push_back(commands.add(kOpenWithCommand, [this](const QVariant& s) { onOpenWithItemClick(s); }));
    m_commands.push_back(commands.add(kFlagCommand, [this](const QVariant& s) { onFlagItemClick(s); }));
    m_commands.push_back(commands.add(kMoveToCollectionCommand, [this](const QVariant& s) { onMoveToCollectionClick(s); }));
    m_commands.push_back(commands.add(kPutBackCommand, [this](const QVariant& s) { onPutBackClick(s); }));
    m_commands.push_back(commands.add(kRebuildPreviewCommand, [this](const QVariant& s) { onRebuildPreview(s); }));
}

DataBaseEngine& GridContextMenu::store() const
{
    return m_ctx.store ? *m_ctx.store : *DataBaseEngine::dataBaseEngine();
}

platform::Workspace& GridContextMenu::desktop() const
{
    return workspace ? *workspace : platform::Workspace::shared();
}

QList<KPSectionIndexSet> GridContextMenu::selectedIndexs() const
{
    return m_ctx.collectionView ? m_ctx.collectionView->selectedIndexs() : QList<KPSectionIndexSet>();
}

QList<KPItemDataPtr> GridContextMenu::selectedItems() const
{
    return m_ctx.gridDataSource ? m_ctx.gridDataSource->itemDatasWithSectionIndexSets(selectedIndexs())
                                : QList<KPItemDataPtr>();
}

int GridContextMenu::itemViewType() const
{
    return int(m_ctx.viewSizeManager ? m_ctx.viewSizeManager->itemViewType()
                                     : KPViewSizeManager::instance().itemViewType());
}

int GridContextMenu::shownNodeType() const
{
    return m_ctx.state.shownNode ? m_ctx.state.shownNode->nodeType() : -1;
}

void GridContextMenu::redrawSelection() const
{
    if (!m_ctx.collectionView)
        return;
    for (const KPSectionIndexSet& indexSet : selectedIndexs())
        m_ctx.collectionView->updateDisplayWithIndexSet(indexSet);
}

void GridContextMenu::post(const QString& name, const QVariant& object) const
{
    (m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter()).post(name, object);
}

// ---------------------------------------------------------------------------------------------
// The menu

std::optional<MenuModel> GridContextMenu::collectionViewMenu() const
{
    const int type = itemViewType();
    if (type >= KPItemViewTypeMonth && type <= KPItemViewTypeAuthor)
        return std::nullopt;
    if (type == KPItemViewTypeSafeBox)
        return safeBoxMenu ? safeBoxMenu() : std::nullopt;
    if (shownNodeType() == T::TrashNode)
        return MenuModel{{}, {MenuItemModel::item(localizedString(QStringLiteral("Put Back")), 0, kPutBackCommand)}};

    const QList<KPItemDataPtr> items = selectedItems();
    const qsizetype count = items.size();
    std::vector<MenuItemModel> menu;
    if (count >= 2) {
        menu.push_back(MenuItemModel::item(localizedString(QStringLiteral("New Folder with Selection (%ld)"))
                                              .replace(QStringLiteral("%ld"), QString::number(count)),
                                          NewFolderFromSelectionTag, kAddFolderFromSelectionCommand));
        menu.push_back(taggedSeparator(NewFolderSeparatorTag));
    }
    menu.push_back(MenuItemModel::item(localizedString(QStringLiteral("Open")), OpenTag, kCollectionMenuCommand));
    menu.push_back(submenu(localizedString(QStringLiteral("Open With")), OpenWithTag, openWithItems(items)));
    menu.push_back(MenuItemModel::separator());
    menu.push_back(MenuItemModel::item(localizedString(QStringLiteral("Show Info")), ShowInfoTag, kCollectionMenuCommand));
    menu.push_back(MenuItemModel::item(localizedString(QStringLiteral("Show in Folder")), RevealTag, kCollectionMenuCommand));
    menu.push_back(MenuItemModel::item(localizedString(QStringLiteral("Show Original File")), ShowOriginalTag,
                                      kCollectionMenuCommand));
    menu.push_back(MenuItemModel::separator());
    menu.push_back(submenu(localizedString(QStringLiteral("Rating")), RatingTag, ratingItems(items)));
    menu.push_back(submenu(localizedString(QStringLiteral("Flag")), FlagTag, flagItems(items)));
    menu.push_back(submenu(localizedString(QStringLiteral("Move to Collection")), MoveToCollectionTag, moveItems()));
    menu.push_back(MenuItemModel::separator());
    menu.push_back(submenu(localizedString(QStringLiteral("Share")), ShareTag, m_sharing.shareItems()));
    if (std::vector<MenuItemModel> peers = m_sharing.sendToItems(); !peers.empty())
        menu.push_back(submenu(localizedString(QStringLiteral("Send to")), SendToTag, std::move(peers)));
    if (m_ctx.safeBox && !m_ctx.safeBox->safeBoxAttactPath().isEmpty())
        menu.push_back(MenuItemModel::item(localizedString(QStringLiteral("Copy to SafeBox")), CopyToSafeBoxTag,
                                          kCopySafeBoxCommand));
    if (count >= 2) {
        const bool allPDF = std::all_of(items.begin(), items.end(), [](const KPItemDataPtr& item) {
            return item->data().pathExtension().toLower() == QLatin1String("pdf");
        });
        menu.push_back(taggedSeparator(MultipleSeparatorTag));
        MenuItemModel merge = MenuItemModel::item(localizedString(QStringLiteral("Merge PDF Documents")), MergePDFTag,
                                                allPDF ? kMergePDFCommand : QString());
        merge.enabled = allPDF;
        menu.push_back(std::move(merge));
    }
    if (m_ctx.keys && m_ctx.keys->isCommandKeyDown()) {
        menu.push_back(taggedSeparator(RebuildSeparatorTag));
        menu.push_back(MenuItemModel::item(localizedString(QStringLiteral("Rebuild Preview")), RebuildPreviewTag,
                                          kRebuildPreviewCommand));
    }
    menu.push_back(MenuItemModel::separator());
    menu.push_back(MenuItemModel::item(localizedString(QStringLiteral("Move to Trash")), MoveToTrashTag,
                                      kCollectionMenuCommand));
    return MenuModel{{}, std::move(menu)};
}

std::unique_ptr<QMenu> GridContextMenu::menu(QWidget* parent) const
{
    const std::optional<MenuModel> model = collectionViewMenu();
    if (!model)
        return nullptr;
    platform::kit::CommandDispatcher* commands = m_ctx.commands;
    std::unique_ptr<QMenu> shown(platform::kit::toQMenu(*model, parent, [commands](QAction* action) {
        (commands ? *commands : platform::kit::CommandDispatcher::shared()).performFromAction(action);
    }));
    QFont font = shown->font();
    font.setPointSize(11);
    shown->setFont(font);
    decorate(shown.get(), model->items, 0);
    return shown;
}

void GridContextMenu::fillSubmenu(QMenu* menu, int tag) const
{
    if (!menu)
        return;
    const QList<KPItemDataPtr> items = selectedItems();
    std::vector<MenuItemModel> models;
    switch (tag) {
    case OpenWithTag:
        models = openWithItems(items);
        break;
    case RatingTag:
        models = ratingItems(items);
        break;
    case FlagTag:
        models = flagItems(items);
        break;
    case MoveToCollectionTag:
        models = moveItems();
        break;
    case ShareTag:
        models = m_sharing.shareItems();
        break;
    default:
        return;
    }
    menu->clear();
    platform::kit::CommandDispatcher* commands = m_ctx.commands;
    std::unique_ptr<QMenu> built(platform::kit::toQMenu(MenuModel{{}, models}, nullptr, [commands](QAction* action) {
        (commands ? *commands : platform::kit::CommandDispatcher::shared()).performFromAction(action);
    }));
    decorate(built.get(), models, tag);
    // These lists hold no submenus, so their actions move over as they are.
    for (QAction* action : built->actions()) {
        action->setParent(menu);
        menu->addAction(action);
    }
}

void GridContextMenu::decorate(QMenu* menu, const std::vector<MenuItemModel>& items, int parentTag) const
{
    const QList<QAction*> actions = menu->actions();
    for (size_t i = 0; i < items.size() && qsizetype(i) < actions.size(); ++i) {
        if (QMenu* sub = actions[qsizetype(i)]->menu()) {
            decorate(sub, items[i].items, items[i].tag);
            continue;
        }
        const QIcon icon = iconFor(items[i], parentTag);
        if (!icon.isNull())
            actions[qsizetype(i)]->setIcon(icon);
    }
}

QIcon GridContextMenu::iconFor(const MenuItemModel& item, int parentTag) const
{
    if (item.kind != MenuItemModel::Kind::Item)
        return {};
    switch (parentTag) {
    case OpenWithTag:
        if (auto entry = desktop().applications().applicationForPath(item.data.toString()))
            return platform::Workspace::iconForApplication(*entry);
        return {};
    case FlagTag: {
        // The right half of the 32-point flag sprite.
        auto* flags = KPThemeObject::customThemeObjectWithName(QStringLiteral("Flag"));
        auto* sprite = flags ? flags->themeObjectWithName<KPSprite>(QString::number(item.tag)) : nullptr;
        if (!sprite || sprite->image().isNull())
            return {};
        QImage half(16, 20, QImage::Format_ARGB32_Premultiplied);
        half.fill(Qt::transparent);
        QPainter painter(&half);
        painter.drawImage(QRectF(-16, 0, 32, 20), sprite->image());
        painter.end();
        return QIcon(QPixmap::fromImage(half));
    }
    default:
        return {};
    }
}

// ---------------------------------------------------------------------------------------------
// Submenus

QString GridContextMenu::distinction(const DesktopEntry& entry)
{
    if (entry.path.contains(QLatin1String("/flatpak/exports/")))
        return QStringLiteral("Flatpak");
    if (entry.path.contains(QLatin1String("/snapd/desktop/")) || entry.path.startsWith(QLatin1String("/snap/")))
        return QStringLiteral("Snap");
    return entry.id;
}

std::vector<MenuItemModel> GridContextMenu::openWithItems(const QList<KPItemDataPtr>& items) const
{
    std::optional<DesktopEntry> defaultApp;
    QList<DesktopEntry> others;
    if (!items.isEmpty()) {
        const QString first = extensionOf(*items.first());
        const bool oneExtension = std::all_of(items.begin(), items.end(),
                                              [&](const KPItemDataPtr& item) { return extensionOf(*item) == first; });
        if (oneExtension) {
            platform::Workspace::ApplicationsForFile found = desktop().applicationsForFile(items.last()->filePath());
            defaultApp = found.defaultApplication;
            others = found.otherApplications;
        } else {
            // Per extension (its first document): the defaults while they agree, and the
            // programs every extension offers.
            QSet<QString> seen;
            QList<DesktopEntry> defaults;
            bool firstList = true;
            for (const KPItemDataPtr& item : items) {
                const QString extension = extensionOf(*item);
                if (seen.contains(extension))
                    continue;
                seen.insert(extension);
                platform::Workspace::ApplicationsForFile found = desktop().applicationsForFile(item->filePath());
                if (found.defaultApplication && (defaults.isEmpty() || defaults.first().id == found.defaultApplication->id))
                    defaults.append(*found.defaultApplication);
                if (firstList) {
                    others = found.otherApplications;
                    firstList = false;
                } else {
                    others.removeIf([&](const DesktopEntry& entry) {
                        return std::none_of(found.otherApplications.begin(), found.otherApplications.end(),
                                            [&](const DesktopEntry& e) { return e.id == entry.id; });
                    });
                }
            }
            // Kept as it always was: one default per extension is compared with the number of
            // documents, so a repeated extension offers no default.
            if (!defaults.isEmpty() && defaults.size() == items.size())
                defaultApp = defaults.first();
        }
    }

    std::stable_sort(others.begin(), others.end(), [](const DesktopEntry& a, const DesktopEntry& b) {
        return a.name != b.name ? a.name < b.name : a.id < b.id;
    });
    QStringList names;
    if (defaultApp)
        names.append(defaultApp->name);
    for (const DesktopEntry& entry : std::as_const(others))
        names.append(entry.name);

    std::vector<MenuItemModel> menu;
    if (defaultApp) {
        QString title = localizedString(QStringLiteral("%@ (default)")).replace(QStringLiteral("%@"), defaultApp->name);
        if (names.count(defaultApp->name) > 1)
            title += QStringLiteral(" (%1)").arg(distinction(*defaultApp));
        menu.push_back(MenuItemModel::item(title, 0, kOpenWithCommand, defaultApp->path));
        if (!others.isEmpty())
            menu.push_back(MenuItemModel::separator());
    }
    for (const DesktopEntry& entry : std::as_const(others)) {
        QString title = entry.name;
        if (names.count(entry.name) > 1)
            title += QStringLiteral(" (%1)").arg(distinction(entry));
        menu.push_back(MenuItemModel::item(title, 0, kOpenWithCommand, entry.path));
    }
    if (menu.empty()) {
        MenuItemModel none = MenuItemModel::item(localizedString(QStringLiteral("None")));
        none.enabled = false;
        menu.push_back(std::move(none));
    }
    return menu;
}

std::vector<MenuItemModel> GridContextMenu::ratingItems(const QList<KPItemDataPtr>& items)
{
    std::vector<MenuItemModel> menu{MenuItemModel::item(localizedString(QStringLiteral("None")), 0, kRatingCommand)};
    for (int rate = 1; rate <= 5; ++rate)
        menu.push_back(MenuItemModel::item(QString(rate, QChar(0x2605)), rate, kRatingCommand));
    markChecked(menu, commonValue(items, [](const KPItemData& item) { return item.rate(); }));
    return menu;
}

std::vector<MenuItemModel> GridContextMenu::flagItems(const QList<KPItemDataPtr>& items)
{
    std::vector<MenuItemModel> menu{MenuItemModel::item(localizedString(QStringLiteral("None")), 0, kFlagCommand)};
    for (int flag : {6, 7, 5, 2, 4, 3, 1})
        menu.push_back(MenuItemModel::item(flagNameForIndex(flag), flag, kFlagCommand));
    markChecked(menu, commonValue(items, [](const KPItemData& item) { return item.label(); }));
    return menu;
}

std::vector<MenuItemModel> GridContextMenu::moveItems() const
{
    std::vector<MenuItemModel> menu;
    if (!m_ctx.subSideBarDataSource)
        return menu;
    // The collection tree as the second side bar draws it, read back into items that carry
    // their folder (none for "Uncategorized").
    QMenu tree;
    m_ctx.subSideBarDataSource->duplicateMenuWithDataSource(&tree, {});
    for (QAction* action : tree.actions()) {
        if (action->isSeparator()) {
            menu.push_back(MenuItemModel::separator());
            continue;
        }
        MenuItemModel item = MenuItemModel::item(action->text(), 0, action->isEnabled() ? kMoveToCollectionCommand : QString(),
                                               action->data());
        item.enabled = action->isEnabled();
        menu.push_back(std::move(item));
    }
    return menu;
}

// ---------------------------------------------------------------------------------------------
// Actions

void GridContextMenu::onOpenWithItemClick(const QVariant& sender)
{
    const QString application = platform::kit::senderData(sender).toString();
    QStringList paths;
    for (const KPItemDataPtr& item : selectedItems())
        if (QFileInfo::exists(item->filePath()))
            paths.append(item->filePath());
    if (paths.isEmpty())
        return;
    std::optional<DesktopEntry> entry = desktop().applications().applicationForPath(application);
    platform::Result<void> opened = entry ? desktop().launchApplication(*entry, paths)
                                          : platform::fail(QStringLiteral("Workspace"), 3,
                                                           QStringLiteral("The program %1 is no longer installed").arg(application));
    if (opened)
        return;
    KPLogLogMessage(opened.error().message);
    if (m_ctx.dialogs)
        m_ctx.dialogs->alert(m_ctx.window, platform::kit::Alert::withMessage(
                                               localizedString(QStringLiteral("The documents could not be opened.")),
                                               QString(), {}, {}, opened.error().message),
                             {});
}

void GridContextMenu::onFlagItemClick(const QVariant& sender)
{
    InspectorEdits::setFlag(m_ctx, selectedItems(), platform::kit::senderTag(sender));
    redrawSelection();
}

void GridContextMenu::removeFromGrid(const QList<KPSectionIndexSet>& indexSets, std::function<void()> after)
{
    auto drop = [this, indexSets, after = std::move(after)] {
        if (m_ctx.gridDataSource)
            m_ctx.gridDataSource->removeItemDataWithIndexSets(indexSets);
        if (after)
            after();
    };
    if (m_ctx.collectionView)
        m_ctx.collectionView->removeItemWithIndexSets(indexSets, std::move(drop));
    else
        drop();
}

void GridContextMenu::onMoveToCollectionClick(const QVariant& sender)
{
    const DBNode target(platform::ManagedObject::fromRef(platform::kit::senderData(sender)));
    const QList<KPSectionIndexSet> indexSets = m_ctx.gridDataSource ? selectedIndexs() : QList<KPSectionIndexSet>();
    QList<KPSectionIndexSet> moved;
    QList<DBFileInfo> records;
    for (const KPSectionIndexSet& indexSet : indexSets) {
        const std::optional<KPSectionItem> item = m_ctx.gridDataSource->itemDataWithSectionIndexSet(indexSet);
        const KPItemDataPtr document = item ? item->itemData() : nullptr;
        if (!document || !document->data())
            continue;
        if (!(document->data().node() == target))
            moved.append(indexSet);
        records.append(document->data());
    }
    for (DBFileInfo& record : records)
        record.setNode(target);

    const KPNode::Ptr shown = m_ctx.state.shownNode;
    const bool received = shownNodeType() == T::ReceivedNode;
    if (received) {
        for (DBFileInfo& record : records)
            record.setExtendField(QString());
        shown->setRightNumber(std::max<qint64>(0, shown->rightNumber() - moved.size()));
    }
    store().save();
    if (received) {
        if (onSideBarNodeChange)
            onSideBarNodeChange(shown);
        post(RefreshItemCountNotification, QVariant());
        return;
    }
    if (moved.isEmpty())
        return;
    // Only a listing by folder loses the moved documents; elsewhere (Documents, a tag) they
    // are still listed and stay in the grid.
    if (shownNodeType() != T::CollectionsNode) {
        post(RefreshItemCountNotification, QVariant());
        return;
    }
    removeFromGrid(moved, [this] {
        if (onSubSideBarNodeChange && m_ctx.state.shownSubNode)
            onSubSideBarNodeChange(m_ctx.state.shownSubNode);
        post(RefreshItemCountNotification, QVariant());
    });
}

void GridContextMenu::onPutBackClick(const QVariant&)
{
    const QList<KPSectionIndexSet> indexSets = selectedIndexs();
    const QList<KPItemDataPtr> items = selectedItems();
    if (items.isEmpty())
        return;
    for (const KPItemDataPtr& item : items)
        if (DBFileInfo record = item->data())
            record.setIsTrash(false);
    store().save();
    removeFromGrid(indexSets, [this] {
        if (shownNodeType() == T::TrashNode && onSideBarNodeChange)
            onSideBarNodeChange(m_ctx.state.shownNode);
        post(RefreshItemCountNotification, QVariant());
    });
}

void GridContextMenu::onRebuildPreview(const QVariant&)
{
    const QList<KPItemDataPtr> items = selectedItems();
    QList<platform::ObjectID> records;
    for (const KPItemDataPtr& item : items)
        if (!item->objectID().isNull())
            records.append(item->objectID());
    if (records.isEmpty() || !openRebuildSheet)
        return;
    KPCollectionView* grid = m_ctx.collectionView;
    QPointer<KPCollectionView> guard(grid);
    openRebuildSheet(records, [items, guard] {
        for (const KPItemDataPtr& item : items)
            item->setBNeedReloadResource(true);
        if (guard)
            guard->updateDisplayWithRect(guard->visibleRect());
    });
}
