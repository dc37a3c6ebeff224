// The main window's parts, one per concern, and how they are wired to each other. The window
// makes them once its context is complete; each part holds its own observers, and the callbacks
// between parts are set here and nowhere else.
//
// Threads: main thread only.
#pragma once

#include "Browser/ItemViews/KPImportDraggingView.h"
#include "MainWindow/Parts/BadgeRecountDriver.h"
#include "MainWindow/Parts/ContentSwitch.h"
#include "MainWindow/Parts/DocumentMenuActions.h"
#include "MainWindow/Parts/GridContextMenu.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/GridDropHandler.h"
#include "MainWindow/Parts/GridInteraction.h"
#include "MainWindow/Parts/ImportFlow.h"
#include "MainWindow/Parts/InspectorEdits.h"
#include "MainWindow/Parts/InspectorPane.h"
#include "MainWindow/Parts/MenuActions.h"
#include "MainWindow/Parts/PanelMenuActions.h"
#include "MainWindow/Parts/ScanCommand.h"
#include "MainWindow/Parts/QuickLookController.h"
#include "MainWindow/Parts/SearchCoordinator.h"
#include "MainWindow/Parts/SelectionSharing.h"
#include "MainWindow/Parts/SideBarRequests.h"
#include "MainWindow/Parts/SortDisplayThemeHandlers.h"
#include "MainWindow/Parts/WindowChrome.h"
#include "MainWindow/Parts/ZoomAndTiles.h"

class AppMenuController;
struct MainWindowContext;

class MainWindowParts {
public:
    explicit MainWindowParts(MainWindowContext& ctx);
    ~MainWindowParts();
    MainWindowParts(const MainWindowParts&) = delete;
    MainWindowParts& operator=(const MainWindowParts&) = delete;

    // The menu bar's Document submenus (Open With, Flag, Move to, Share) are filled for the
    // grid's selection each time they open, as the grid's context menu is.
    void fillDocumentSubmenus(AppMenuController& menu);
    // The menu of the "+" under the main side bar: what the File menu adds.
    static platform::kit::MenuModel addButtonMenuModel();

    // The side bars' callbacks, for their data sources.
    SideBarDataSourceDelegate sideBarDelegate();
    SubSideBarDataSourceDelegate subSideBarDelegate();

private:
    // Every part after the grid's finds it in the context.
    static MainWindowContext& withGrid(MainWindowContext& ctx, GridDataSource& grid);
    void wire();

    MainWindowContext& m_ctx;
    ScannerLauncher* m_previousScanner = nullptr;

public:
    GridDataSource grid;
    ContentSwitch content;
    BadgeRecountDriver badges;
    WindowChrome chrome;
    SortDisplayThemeHandlers sortDisplay;
    QuickLookController quickLook;
    GridInteraction interaction;
    ZoomAndTiles zoom;
    SelectionSharing sharing;
    GridContextMenu contextMenu;
    ImportFlow importFlow;
    SideBarRequests sideBarRequests;
    GridDropHandler drops;
    InspectorEdits inspectorEdits;
    InspectorPane inspectorPane;
    MenuActions menuActions;
    // The window's SearchHooks (the context points at it while it lives).
    SearchCoordinator search;
    DocumentMenuActions documentMenuActions;
    PanelMenuActions panelMenuActions;
    ScanCommand scan;
};
