// The menu bar's commands that act on the main window itself: quitting, the window's own state,
// the display, sort and zoom settings, switching the main side bar's node, adding nodes to the
// second side bar and the search field. Each command is registered under its command name in the
// window's CommandDispatcher, so the menu bar, the tool bars and the side bars' buttons all reach
// the same handler with their sender (tag and data). The commands on the selected documents and
// those that open windows of their own live beside it (DocumentMenuActions, PanelMenuActions);
// availability() tells the menu bar, for all three, which items are offered.
//
// Threads: main thread only.
#pragma once

#include "MainWindow/AppMenuController.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Browser/KPItemData.h"
#include "SideBar/KPNode.h"

#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

struct MainWindowContext;
class SortDisplayThemeHandlers;
class WindowChrome;
class ZoomAndTiles;

class MenuActions {
public:
    // menuSwitchNodeClick's tags.
    static constexpr int kSwitchDocumentsTag = 11;
    static constexpr int kSwitchTagsTag = 22;
    static constexpr int kSwitchCollectionsTag = 33;
    static constexpr double kZoomStep = 10;

    MenuActions(MainWindowContext& ctx, WindowChrome& chrome, SortDisplayThemeHandlers& sortDisplay, ZoomAndTiles& zoom);
    ~MenuActions();
    MenuActions(const MenuActions&) = delete;
    MenuActions& operator=(const MenuActions&) = delete;

    // Removes the action bar after a folder was made from the selection (the grid's part owns it).
    std::function<void(bool show)> showActionWindow;

    // Registers every command in ctx.commands; the registrations end with this object.
    void install();

    // How the menu bar offers a command: the items of subsystems not in this build are shown
    // disabled, the maker's pages hidden without a link host.
    AppMenuController::Availability availability(const QString& command) const;
    // Whether the maker's pages can be opened (the build's link host unless a test says).
    bool hasLinkHost = false;
    // Whether the selection can be copied into a SafeBox in this build.
    std::function<bool()> copyToSafeBoxAvailable;

    // ---- application and window ----
    void terminate();
    void performMiniaturize();
    void performZoom();
    void showMainWindow();
    void menuEnterFullScreenCliek();
    void menuShowHideSideBarClick();
    void menuShowInfo();
    void menuSearchClick();

    // ---- display, sort and zoom ----
    void memuViewModeClick(const QVariant& sender);
    void menuSwitchViewModeClick(const QVariant& sender);
    void menuViewSettingClick(const QVariant& sender);
    void menuSectionSortClick(const QVariant& sender);
    void menuPopupMenuItemFileSortClick(const QVariant& sender);
    void menuZoomInClick();
    void menuZoomOutClick();
    // The zoom slider's value.
    void sliderChange(double value);
    void menuSwitchNodeClick(const QVariant& sender);

    // ---- adding to the second side bar ----
    void menuAddFolder();
    void menuAddFolderToRoot();
    void menuAddFolderFromSelection();
    void menuAddCollection();
    void menuAddTag();
    void menuAddTagGroup();
    void menuAddSmartFolder();

private:
    void zoomTo(double scale, bool moveSlider);
    // Selects the main side bar's Collections or Tags node unless a node of that type is selected.
    void bringSecondSideBar(int nodeType);
    void reloadGridKeepingSelection();
    QList<KPItemDataPtr> selectedItems() const;

    MainWindowContext& m_ctx;
    WindowChrome& m_chrome;
    SortDisplayThemeHandlers& m_sortDisplay;
    ZoomAndTiles& m_zoom;
    std::vector<platform::kit::CommandDispatcher::Token> m_commands;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
