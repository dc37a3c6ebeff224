#include "MainWindow/Parts/SortDisplayThemeHandlers.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/SortViewSettingController.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPSortFunctions.h"
#include "Browser/KPViewSizeManager.h"
#include "Controls/KPButtonGroups.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainMenu.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Kit/MenuModel.h"
#include "Theme/KPThemeManager.h"

#include <QAction>
#include <QMenu>
#include <QWidget>
#include <set>

namespace {

QMenu* submenuWithTag(const QMenu* menu, int tag)
{
    if (!menu)
        return nullptr;
    for (QAction* action : menu->actions())
        if (action->menu() && platform::kit::menuItemTag(action) == tag)
            return action->menu();
    return nullptr;
}

void setState(const QMenu* menu, int tag, bool on)
{
    if (!menu)
        return;
    for (QAction* action : menu->actions())
        if (!action->isSeparator() && platform::kit::menuItemTag(action) == tag) {
            action->setCheckable(true);
            action->setChecked(on);
        }
}

void clearStates(const QMenu* menu)
{
    if (!menu)
        return;
    for (QAction* action : menu->actions())
        if (action->isCheckable())
            action->setChecked(false);
}

void setDirection(const QMenu* menu, bool ascending)
{
    setState(menu, mainmenu::kAscendingTag, ascending);
    setState(menu, mainmenu::kDescendingTag, !ascending);
}

// The file sort submenu: the type's item on, the direction's item on.
void setFileSortStates(const QMenu* menu, int type, bool ascending)
{
    clearStates(menu);
    setState(menu, type, true);
    setDirection(menu, ascending);
}

} // namespace

SortDisplayThemeHandlers::SortDisplayThemeHandlers(MainWindowContext& ctx) : m_ctx(ctx)
{
    platform::NotificationCenter& center =
        ctx.notifications ? *ctx.notifications : platform::NotificationCenter::defaultCenter();
    const auto observe = [&](const QString& name, void (SortDisplayThemeHandlers::*handler)()) {
        m_observers.push_back(center.addObserver(name, [this, handler](const platform::Notification&) { (this->*handler)(); }));
    };
    observe(KPDataSourceSortManager::kSortingChangeNotification, &SortDisplayThemeHandlers::onDataSourceSortingChange);
    observe(KPViewSizeManager::kDisplayModeChangeNotification, &SortDisplayThemeHandlers::onDisplayModeChange);
    observe(SortViewSettingController::kViewModeChange, &SortDisplayThemeHandlers::onSortSettingViewModeChange);
    observe(SortViewSettingController::kSectionSortChange, &SortDisplayThemeHandlers::onSectionSortChange);
    observe(SortViewSettingController::kFileSortSettingChange, &SortDisplayThemeHandlers::onFileSortSettingChange);
    observe(KPThemeManager::kThemeChangeNotification, &SortDisplayThemeHandlers::onKPThemeChangeNotification);
}

SortDisplayThemeHandlers::~SortDisplayThemeHandlers() = default;

void SortDisplayThemeHandlers::setControls(Controls controls)
{
    m_controls = std::move(controls);
}

void SortDisplayThemeHandlers::setViewModeImage(const QString& name)
{
    m_viewModeImage = name;
    if (m_controls.setViewModeButtonImage)
        m_controls.setViewModeButtonImage(name);
}

void SortDisplayThemeHandlers::onDataSourceSortingChange()
{
    if (!m_ctx.sortManager)
        return;
    const KPDataSourceSortManager& sort = *m_ctx.sortManager;
    if (m_controls.groupButtons)
        m_controls.groupButtons->selectByTag(sort.groupSortType());
    setFileSortStates(submenuWithTag(m_controls.viewModeMenu, 4), sort.fileSortType(), sort.fileAscending());
    setDirection(submenuWithTag(m_controls.viewModeMenu, 3), sort.groupAscending());
    if (AppMenuController* menu = m_ctx.appMenu) {
        if (menu->itemSortBy())
            setFileSortStates(menu->itemSortBy()->menu(), sort.fileSortType(), sort.fileAscending());
        if (menu->itemOrderBy()) {
            clearStates(menu->itemOrderBy()->menu());
            setDirection(menu->itemOrderBy()->menu(), sort.groupAscending());
        }
    }
}

void SortDisplayThemeHandlers::onDisplayModeChange()
{
    if (!m_ctx.viewSizeManager)
        return;
    const int mode = m_ctx.viewSizeManager->displayMode();
    const bool icons = mode == KPDisplayModeIcon;
    setState(m_controls.viewModeMenu, 1, icons);
    setState(m_controls.viewModeMenu, 2, !icons);
    if (AppMenuController* menu = m_ctx.appMenu) {
        if (menu->itemIconView())
            menu->itemIconView()->setChecked(icons);
        if (menu->itemListView())
            menu->itemListView()->setChecked(!icons);
    }
    setViewModeImage(icons ? kIconViewIcon : kListViewIcon);
    // An unknown mode looks like the list but leaves the grid's rubber band as it was.
    if (m_ctx.collectionView && (mode == KPDisplayModeIcon || mode == KPDisplayModeList))
        m_ctx.collectionView->setAllowRegionSelection(icons);
}

void SortDisplayThemeHandlers::onSortSettingViewModeChange()
{
    if (!m_ctx.viewSizeManager || !m_ctx.gridDataSource)
        return;
    const QList<KPSectionIndexSet> selected =
        m_ctx.collectionView ? m_ctx.collectionView->selectedIndexs() : QList<KPSectionIndexSet>{};
    m_ctx.state.lastInnerDisplayMode = m_ctx.viewSizeManager->displayMode();
    for (const KPSectionDataPtr& section : m_ctx.gridDataSource->dataSource())
        for (const KPSectionItem& item : section->datas())
            if (KPItemDataPtr document = item.itemData())
                document->setBNeedReloadResource(true);
    if (m_ctx.collectionView) {
        m_ctx.collectionView->reloadData();
        m_ctx.collectionView->selectItemIndexWithSectionIndexSets(selected);
    }
}

void SortDisplayThemeHandlers::onSectionSortChange()
{
    if (!m_ctx.sortManager || !m_ctx.gridDataSource)
        return;
    m_ctx.sortManager->setGroupAscending(!m_ctx.sortManager->groupAscending());
    QList<KPSectionDataPtr>& sections = m_ctx.gridDataSource->dataSource();
    std::reverse(sections.begin(), sections.end());
    if (m_ctx.collectionView)
        m_ctx.collectionView->reloadData();
}

void SortDisplayThemeHandlers::sortSection(QList<KPSectionItem>& items, int fileSortType, bool ascending)
{
    if (!sortfunctions::isFileSortType(fileSortType))
        return;
    QList<KPItemDataPtr> documents;
    documents.reserve(items.size());
    for (const KPSectionItem& item : items) {
        KPItemDataPtr document = item.itemData();
        if (!document)
            return; // tiles and records keep the order they were grouped in
        documents.append(std::move(document));
    }
    sortfunctions::sortItems(documents, fileSortType, ascending);
    for (qsizetype i = 0; i < documents.size(); ++i)
        items[i] = documents[i];
}

void SortDisplayThemeHandlers::onFileSortSettingChange()
{
    if (!m_ctx.sortManager || !m_ctx.gridDataSource)
        return;
    if (m_ctx.viewSizeManager && int(m_ctx.viewSizeManager->itemViewType()) == kSafeBoxItemViewType)
        return;
    const int type = m_ctx.sortManager->fileSortType();
    const bool ascending = m_ctx.sortManager->fileAscending();
    GridDataSource* source = m_ctx.gridDataSource;

    std::set<qint64> visible;
    QList<KPSectionIndexSet> visibleSets;
    if (m_ctx.collectionView) {
        visibleSets = m_ctx.collectionView->visibleItemIndexSets();
        for (const KPSectionIndexSet& set : visibleSets)
            visible.insert(set.sectionIndex());
        m_ctx.collectionView->refreshSectionItemPositionWithIndexSets(
            visibleSets,
            [source, type, ascending](qint64 sectionIndex) {
                if (KPSectionDataPtr section = source->sectionDataWithIndex(sectionIndex))
                    sortSection(section->datas(), type, ascending);
            },
            [] {});
    }
    const QList<KPSectionDataPtr>& sections = source->dataSource();
    for (qsizetype i = 0; i < sections.size(); ++i)
        if (!visible.contains(i))
            sortSection(sections[i]->datas(), type, ascending);
}

void SortDisplayThemeHandlers::onKPThemeChangeNotification()
{
    if (m_controls.reloadChromeTheme)
        m_controls.reloadChromeTheme();
    // The selector rebuilt its buttons for the new theme and lost which one stands for the grid.
    if (m_controls.groupButtons && m_ctx.sortManager)
        m_controls.groupButtons->selectByTag(m_ctx.sortManager->groupSortType());
    // Whatever the display mode: the list image comes back only with the next mode change.
    setViewModeImage(kIconViewIcon);
    if (m_ctx.gridDataSource)
        m_ctx.gridDataSource->resetCollectionViewTheme();
    if (m_ctx.window)
        m_ctx.window->update();
}
