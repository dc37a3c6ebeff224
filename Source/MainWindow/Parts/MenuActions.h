// The menu bar's commands that act on the main window itself: quitting, the window's own state,
// the display, sort and zoom settings, switching the main side bar's node and adding nodes to the
// second side bar. Each command is registered by its selector name in the window's
// CommandDispatcher, so the menu bar, the tool bars and the side bars' buttons all reach the same
// handler with their sender (tag and data).
//
// Threads: main thread only.
#pragma once

#include "Platform/Kit/CommandDispatcher.h"
#include "Browser/KPItemData.h"
#include "SideBar/KPNode.h"

#include <QVariant>
#include <functional>
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

    // ---- application and window ----
    void terminate();
    void performMiniaturize();
    void performZoom();
    void showMainWindow();
    void menuEnterFullScreenCliek();
    void menuShowHideSideBarClick();
    void menuShowInfo();

    // ---- display, sort and zoom ----
    void menuSwitchViewModeClick(const QVariant& sender);
    void menuViewSettingClick(const QVariant& sender);
    void menuSectionSortClick(const QVariant& sender);
    void menuPopupMenuItemFileSortClick(const QVariant& sender);
    void menuZoomInClick();
    void menuZoomOutClick();
    void menuSwitchNodeClick(const QVariant& sender);

    // ---- adding to the second side bar ----
    void menuAddFolder();
    void menuAddFolderToRoot();
    void menuAddFolderFromSelection();
    void menuAddCollection();
    void menuAddTag();
    void menuAddTagGroup();

private:
    void zoomTo(double scale);
    // Selects the main side bar's Collections or Tags node unless a node of that type is selected.
    void bringSecondSideBar(int nodeType);
    void reloadGridKeepingSelection();
    QList<KPItemDataPtr> selectedItems() const;

    MainWindowContext& m_ctx;
    WindowChrome& m_chrome;
    SortDisplayThemeHandlers& m_sortDisplay;
    ZoomAndTiles& m_zoom;
    std::vector<platform::kit::CommandDispatcher::Token> m_commands;
};
