#include "MainWindow/Parts/MenuActions.h"

#include "App/AppDelegate.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainMenu.h"
#include "Dialogs/Welcome/MakerHosts.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/SortDisplayThemeHandlers.h"
#include "MainWindow/Parts/WindowChrome.h"
#include "MainWindow/Parts/ZoomAndTiles.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/WindowActivation.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QAction>
#include <QWidget>

using platform::kit::senderTag;

MenuActions::MenuActions(MainWindowContext& ctx, WindowChrome& chrome, SortDisplayThemeHandlers& sortDisplay,
                         ZoomAndTiles& zoom)
    : m_ctx(ctx)
    , m_chrome(chrome)
    , m_sortDisplay(sortDisplay)
    , m_zoom(zoom)
{
    hasLinkHost = MakerHosts::configured().hasLinkHost();
}

MenuActions::~MenuActions() = default;

void MenuActions::install()
{
    if (!m_ctx.commands)
        return;
    platform::kit::CommandDispatcher& commands = *m_ctx.commands;
    const auto plain = [&](const char* name, void (MenuActions::*handler)()) {
        m_commands.push_back(commands.add(QString::fromLatin1(name), [this, handler](const QVariant&) { (this->*handler)(); }));
    };
    const auto tagged = [&](const char* name, void (MenuActions::*handler)(const QVariant&)) {
        m_commands.push_back(commands.add(QString::fromLatin1(name), [this, handler](const QVariant& s) { (this->*handler)(s); }));
    };
    plain("terminate", &MenuActions::terminate);
    plain("performMiniaturize", &MenuActions::performMiniaturize);
    plain("performZoom", &MenuActions::performZoom);
    plain("showMainWindow", &MenuActions::showMainWindow);
    plain("menuEnterFullScreenCliek", &MenuActions::menuEnterFullScreenCliek);
    plain("menuShowHideSideBarClick", &MenuActions::menuShowHideSideBarClick);
    plain("menuShowInfo", &MenuActions::menuShowInfo);
    plain("menuSearchClick", &MenuActions::menuSearchClick);
    tagged("memuViewModeClick", &MenuActions::memuViewModeClick);
    tagged("menuSwitchViewModeClick", &MenuActions::menuSwitchViewModeClick);
    tagged("menuViewSettingClick", &MenuActions::menuViewSettingClick);
    tagged("menuSectionSortClick", &MenuActions::menuSectionSortClick);
    tagged("menuPopupMenuItemFileSortClick", &MenuActions::menuPopupMenuItemFileSortClick);
    plain("menuZoomInClick", &MenuActions::menuZoomInClick);
    plain("menuZoomOutClick", &MenuActions::menuZoomOutClick);
    m_commands.push_back(commands.add(QStringLiteral("sliderChange"), [this](const QVariant& s) {
        bool ok = false;
        const double value = platform::kit::senderData(s).toDouble(&ok);
        if (ok)
            sliderChange(value);
    }));
    // The grouping pop-ups' items choose nothing of their own.
    for (const char* name : {"menuPopupMenuItemTagGroupClick", "menuPopupMenuItemFileTypeGroupClick"})
        m_commands.push_back(commands.add(QString::fromLatin1(name), [](const QVariant&) {}));
    tagged("menuSwitchNodeClick", &MenuActions::menuSwitchNodeClick);
    plain("menuAddFolder", &MenuActions::menuAddFolder);
    plain("menuAddFolderToRoot", &MenuActions::menuAddFolderToRoot);
    plain("menuAddFolderFromSelection", &MenuActions::menuAddFolderFromSelection);
    plain("menuAddCollection", &MenuActions::menuAddCollection);
    plain("menuAddTag", &MenuActions::menuAddTag);
    plain("menuAddTagGroup", &MenuActions::menuAddTagGroup);
    plain("menuAddSmartFolder", &MenuActions::menuAddSmartFolder);
}


AppMenuController::Availability MenuActions::availability(const QString& command) const
{
    using A = AppMenuController::Availability;
    if (command == QLatin1String("menuAddSmartFolder"))
        return m_ctx.search && m_ctx.search->hasSmartFolderSheet() ? A::Available : A::Unavailable;
    if (command == QLatin1String("menuSearchClick"))
        return m_ctx.search && m_ctx.search->hasSearchField() ? A::Available : A::Unavailable;
    if (command == QLatin1String("menuScanClick"))
        return m_ctx.scanner && m_ctx.scanner->isAvailable() ? A::Available : A::Unavailable;
    if (command == QLatin1String("menuDeleteSafeBoxFile"))
        return m_ctx.safeBox && m_ctx.safeBox->canRemoveFiles() ? A::Available : A::Unavailable;
    if (command == QLatin1String("menuCopySafeBoxClick"))
        return copyToSafeBoxAvailable && copyToSafeBoxAvailable() ? A::Available : A::Unavailable;
    // The window hides the Rate item once it has opened; the command stays for the prompt.
    if (command == QLatin1String("menuRateThisApp"))
        return A::Hidden;
    if (command == QLatin1String("menuFAQClick") || command == QLatin1String("menuShowHelpClick"))
        return hasLinkHost ? A::Available : A::Hidden;
    return A::Available;
}

// ---- application and window ----

void MenuActions::terminate()
{
    // The delegate asks about a running import and saves the store; without one there is no
    // program to end (tests).
    if (m_ctx.appDelegate)
        m_ctx.appDelegate->requestTermination();
}

void MenuActions::performMiniaturize()
{
    if (m_ctx.window)
        m_ctx.window->showMinimized();
}

void MenuActions::performZoom()
{
    if (!m_ctx.window)
        return;
    if (m_ctx.window->isMaximized())
        m_ctx.window->showNormal();
    else
        m_ctx.window->showMaximized();
}

void MenuActions::showMainWindow()
{
    if (m_ctx.window)
        platform::kit::bringToFront(m_ctx.window);
}

void MenuActions::menuEnterFullScreenCliek()
{
    if (m_ctx.window)
        m_ctx.window->setWindowState(m_ctx.window->windowState() ^ Qt::WindowFullScreen);
}

void MenuActions::menuShowHideSideBarClick()
{
    m_chrome.setBLeftSideBarExpand(!m_chrome.bLeftSideBarExpand());
}

void MenuActions::menuShowInfo()
{
    m_chrome.setBRightPropertyViewExpand(!m_chrome.bRightPropertyViewExpand());
    if (KPCollectionView* grid = m_ctx.collectionView) {
        const QList<KPSectionIndexSet> selected = grid->selectedIndexs();
        if (!selected.isEmpty())
            grid->scrollItemWithSectionIndexSet(selected.first());
    }
}

void MenuActions::menuSearchClick()
{
    if (!m_ctx.search || !m_ctx.search->hasSearchField()) {
        KPLogLogMessage(QStringLiteral("Find: the search field is not available in this build"));
        return;
    }
    m_ctx.search->focusSearchField();
}

// ---- display, sort and zoom ----

void MenuActions::memuViewModeClick(const QVariant& sender)
{
    if (!m_ctx.viewSizeManager)
        return;
    const int tag = senderTag(sender);
    if (tag == KPDisplayModeIcon || tag == KPDisplayModeList)
        m_ctx.viewSizeManager->setDisplayMode(KPDisplayMode(tag));
    m_sortDisplay.onSortSettingViewModeChange();
}

void MenuActions::menuSwitchViewModeClick(const QVariant& sender)
{
    if (!m_ctx.viewSizeManager)
        return;
    const int tag = senderTag(sender);
    if (tag == mainmenu::kIconViewTag)
        m_ctx.viewSizeManager->setDisplayMode(KPDisplayModeIcon);
    else if (tag == mainmenu::kListViewTag)
        m_ctx.viewSizeManager->setDisplayMode(KPDisplayModeList);
    // Every item is reloaded in the new mode; then the menu, the mode button and the rubber band follow.
    m_sortDisplay.onSortSettingViewModeChange();
    m_sortDisplay.onDisplayModeChange();
}

void MenuActions::menuViewSettingClick(const QVariant& sender)
{
    const int tag = senderTag(sender);
    platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults();
    QString key;
    if (tag == 1)
        key = KPViewSizeManager::kShowTitleKey;
    else if (tag == 2)
        key = KPViewSizeManager::kShowRatingKey;
    else if (tag == 3)
        key = KPViewSizeManager::kShowTagsKey;
    if (!key.isEmpty()) {
        const bool shown = !defaults.boolForKey(key);
        defaults.setBool(shown, key);
        if (m_ctx.appMenu)
            if (QAction* item = m_ctx.appMenu->actionForCommand(QStringLiteral("menuViewSettingClick"), tag))
                item->setChecked(shown);
    }
    defaults.synchronize();
    if (m_ctx.viewSizeManager)
        m_ctx.viewSizeManager->reloadViewSetting();
    if (m_ctx.gridDataSource)
        m_ctx.gridDataSource->reloadData();
}

void MenuActions::menuSectionSortClick(const QVariant& sender)
{
    if (!m_ctx.sortManager)
        return;
    const bool ascending = senderTag(sender) == mainmenu::kAscendingTag;
    // The handler turns the direction round and reverses the sections; the order is already
    // the wanted one when the direction is.
    if (ascending != m_ctx.sortManager->groupAscending())
        m_sortDisplay.onSectionSortChange();
    m_sortDisplay.onDataSourceSortingChange();
}

void MenuActions::menuPopupMenuItemFileSortClick(const QVariant& sender)
{
    if (!m_ctx.sortManager)
        return;
    const int tag = senderTag(sender);
    int type = m_ctx.sortManager->fileSortType();
    bool ascending = m_ctx.sortManager->fileAscending();
    if (tag == mainmenu::kAscendingTag)
        ascending = true;
    else if (tag == mainmenu::kDescendingTag)
        ascending = false;
    else
        type = tag;
    m_ctx.sortManager->setFileSortType(type);
    m_ctx.sortManager->setFileAscending(ascending);
    m_sortDisplay.onFileSortSettingChange();
    m_sortDisplay.onDataSourceSortingChange();
}

void MenuActions::menuZoomInClick()
{
    if (m_ctx.viewSizeManager)
        zoomTo(m_ctx.viewSizeManager->itemScale() + kZoomStep, true);
}

void MenuActions::menuZoomOutClick()
{
    if (m_ctx.viewSizeManager)
        zoomTo(m_ctx.viewSizeManager->itemScale() - kZoomStep, true);
}

void MenuActions::sliderChange(double value)
{
    if (m_ctx.viewSizeManager)
        zoomTo(value, false);
}

void MenuActions::zoomTo(double scale, bool moveSlider)
{
    KPViewSizeManager* sizes = m_ctx.viewSizeManager;
    if (scale == sizes->itemScale())
        return;
    // Past either end the scale stays where it is, yet the grid reloads and the thumbnails are
    // asked for again as after any zoom.
    sizes->setItemScale(scale);
    if (moveSlider && m_zoom.setZoomSliderValue)
        m_zoom.setZoomSliderValue(sizes->itemScale());
    reloadGridKeepingSelection();
    m_zoom.restartThumbTimer();
}

void MenuActions::reloadGridKeepingSelection()
{
    KPCollectionView* grid = m_ctx.collectionView;
    if (!grid)
        return;
    const QList<KPSectionIndexSet> selected = grid->selectedIndexs();
    if (m_ctx.gridDataSource)
        m_ctx.gridDataSource->reloadData();
    else
        grid->reloadData();
    grid->selectItemIndexWithSectionIndexSets(selected);
}

void MenuActions::menuSwitchNodeClick(const QVariant& sender)
{
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    if (!sideBar || !sideBar->sideBarView())
        return;
    KPNode::Ptr node;
    switch (senderTag(sender)) {
    case kSwitchDocumentsTag: node = sideBar->documentsNode(); break;
    case kSwitchTagsTag: node = sideBar->tagsNode(); break;
    case kSwitchCollectionsTag: node = sideBar->collectionsNode(); break;
    default: return;
    }
    if (node && sideBar->sideBarView()->selectedNode() != node.get())
        sideBar->sideBarView()->selectNode(node.get());
}

// ---- adding to the second side bar ----

QList<KPItemDataPtr> MenuActions::selectedItems() const
{
    if (!m_ctx.collectionView || !m_ctx.gridDataSource)
        return {};
    return m_ctx.gridDataSource->itemDatasWithSectionIndexSets(m_ctx.collectionView->selectedIndexs());
}

void MenuActions::bringSecondSideBar(int nodeType)
{
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    if (!sideBar || !sideBar->sideBarView())
        return;
    const KPNode* selected = sideBar->sideBarView()->selectedNode();
    if (selected && selected->nodeType() == nodeType)
        return;
    const KPNode::Ptr& wanted = nodeType == SideBarNodeType::TagsNode ? sideBar->tagsNode() : sideBar->collectionsNode();
    if (wanted)
        sideBar->sideBarView()->selectNode(wanted.get());
}

void MenuActions::menuAddFolder()
{
    bringSecondSideBar(SideBarNodeType::CollectionsNode);
    if (m_ctx.subSideBarDataSource)
        m_ctx.subSideBarDataSource->addFolder();
}

void MenuActions::menuAddFolderToRoot()
{
    bringSecondSideBar(SideBarNodeType::CollectionsNode);
    if (m_ctx.subSideBarDataSource)
        m_ctx.subSideBarDataSource->addFolderToRoot();
}

void MenuActions::menuAddFolderFromSelection()
{
    // Read before the switch: bringing up Collections replaces the grid's contents.
    const QList<KPItemDataPtr> items = selectedItems();
    if (items.isEmpty())
        return;
    QList<DBFileInfo> files;
    files.reserve(items.size());
    for (const KPItemDataPtr& item : items)
        files.append(item->data());
    bringSecondSideBar(SideBarNodeType::CollectionsNode);
    if (m_ctx.subSideBarDataSource)
        m_ctx.subSideBarDataSource->addFolderFromSelection(files);
    if (showActionWindow)
        showActionWindow(false);
}

void MenuActions::menuAddCollection()
{
    bringSecondSideBar(SideBarNodeType::CollectionsNode);
    if (m_ctx.subSideBarDataSource)
        m_ctx.subSideBarDataSource->addCollection();
}

void MenuActions::menuAddTag()
{
    bringSecondSideBar(SideBarNodeType::TagsNode);
    if (m_ctx.subSideBarDataSource)
        m_ctx.subSideBarDataSource->addTag();
}

void MenuActions::menuAddTagGroup()
{
    bringSecondSideBar(SideBarNodeType::TagsNode);
    if (m_ctx.subSideBarDataSource)
        m_ctx.subSideBarDataSource->addTagGroup();
}

void MenuActions::menuAddSmartFolder()
{
    SearchHooks* search = m_ctx.search;
    if (!search || !search->hasSmartFolderSheet()) {
        KPLogLogMessage(QStringLiteral("New Smart Folder: the smart-folder rules are not available in this build"));
        return;
    }
    const std::weak_ptr<bool> alive = m_alive;
    search->beginSmartFolderSheet(m_ctx.window, [this, alive](int result, const QByteArray& rules, const QString& title) {
        if (alive.expired() || result != 1)
            return;
        bringSecondSideBar(SideBarNodeType::CollectionsNode);
        if (m_ctx.subSideBarDataSource)
            m_ctx.subSideBarDataSource->newSmartFolder(title, rules);
    });
}
