// What the parts of the main window share: the widgets the window is made of, the side bars and
// the grid, the program's services and the extension points of the parts built beside the
// window. MainWindowController builds all of it and hands every part the same context; the
// context owns nothing, and everything it names outlives the parts.
//
// Threads: main thread only.
#pragma once

#include "MainWindow/MainWindowState.h"

#include <QPointer>

class AppDelegate;
class AppMenuController;
class DataBaseEngine;
class GridDataSource;
class KeyState;
class KPCollectionView;
class KPDataSourceManager;
class KPDataSourceSortManager;
class KPSplitView;
class KPViewSizeManager;
class PeerDirectory;
class PropertyPane;
class SafeBoxPane;
class ScannerLauncher;
class SearchHooks;
class SideBarDataSource;
class SubSideBarDataSource;
class QWidget;

namespace platform {
class NotificationCenter;
namespace kit {
class AnimationPolicy;
class CommandDispatcher;
class DialogService;
class Scheduler;
} // namespace kit
} // namespace platform

struct MainWindowContext {
    // ---- widgets (null in tests that do without them) ----
    QPointer<QWidget> window;
    // The document area: the grid's tool bar, the grid and the bottom bar; the empty-library,
    // import and SafeBox views are laid over it.
    QPointer<QWidget> centerView;
    // Main side bar | the rest; second side bar | grid; grid | inspector.
    QPointer<KPSplitView> splitView;
    QPointer<KPSplitView> subSplitView;
    QPointer<KPSplitView> inspectorSplitView;
    QPointer<QWidget> sideBarView;
    QPointer<QWidget> subSideBarView;
    QPointer<QWidget> inspectorView;

    // ---- side bars and grid ----
    SideBarDataSource* sideBarDataSource = nullptr;
    SubSideBarDataSource* subSideBarDataSource = nullptr;
    KPCollectionView* collectionView = nullptr;
    GridDataSource* gridDataSource = nullptr;

    // ---- the program's services ----
    DataBaseEngine* store = nullptr;
    KPDataSourceManager* dataSourceManager = nullptr;
    KPDataSourceSortManager* sortManager = nullptr;
    KPViewSizeManager* viewSizeManager = nullptr;
    platform::NotificationCenter* notifications = nullptr;
    platform::kit::CommandDispatcher* commands = nullptr;
    platform::kit::DialogService* dialogs = nullptr;
    platform::kit::Scheduler* scheduler = nullptr;
    platform::kit::AnimationPolicy* animation = nullptr;
    KeyState* keys = nullptr;
    AppMenuController* appMenu = nullptr;
    AppDelegate* appDelegate = nullptr; // null in tests

    // ---- the parts built beside the window (null objects until they exist) ----
    SearchHooks* search = nullptr;
    PropertyPane* inspector = nullptr;
    SafeBoxPane* safeBox = nullptr;
    PeerDirectory* peers = nullptr;
    ScannerLauncher* scanner = nullptr;

    MainWindowState state;
};
