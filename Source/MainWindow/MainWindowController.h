// The library window and what holds it together. The controller builds the frameless window and
// its panes (main side bar | second side bar | document area | inspector), both side-bar data
// sources and the grid, the services every part of the window shares (MainWindowContext) and
// one object per concern of the window, wiring the side bars' and the grid's callbacks to the
// object that owns each. Beyond that it only opens the window where it was, restores the last
// selection once both side bars have loaded, and writes the window's state at quit. What the
// window does with a selection, a click or a drop is the parts' business, never this file's.
//
// Threads: main thread only.
#pragma once

#include "Controls/VQTitlebarWindow.h"
#include "MainWindow/MainWindowContext.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "SideBar/SideBarServices.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class BadgeRecountDriver;
class ContentSwitch;
class GridDataSource;
class KPSideBarOutlineView;
class MainWindowParts;

// What the window works with. Everything left empty is the running program's own.
struct MainWindowOptions {
    std::optional<SideBarServices> sideBarServices;
    AppDelegate* appDelegate = nullptr;
    KeyState* keys = nullptr;
    platform::kit::DialogService* dialogs = nullptr;
    platform::kit::Scheduler* scheduler = nullptr;
    platform::kit::CommandDispatcher* commands = nullptr;
    platform::NotificationCenter* notifications = nullptr;
    // Whether the windowing system lets the program place its windows (Wayland does not).
    std::optional<bool> canPlaceWindows;
    // The user closed the window: the program's quit request.
    std::function<void()> onCloseRequest;
    // Opens the whole-library rebuild window application-modal over the main window.
    std::function<void(QWidget* mainWindow)> openRebuildWindow;
};

class MainWindowController : public QObject, private VQTitlebarWindowDelegate {
public:
    static inline const QString kLastSelectedInfoKey = QStringLiteral("Data_LastSelectedLibraryInfo");
    static inline const QString kLeftSideBarWidthKey = QStringLiteral("Int_LeftSideBarWidth");
    static inline const QString kSubLeftSideBarWidthKey = QStringLiteral("Int_SubLeftSideBarWidth");
    static inline const QString kLeftSideBarExpandKey = QStringLiteral("Bool_LeftSideBarExpand");
    static constexpr int kTitleBarHeight = 40;
    static constexpr int kBottomBarHeight = 23;
    static constexpr int kCenterToolBarHeight = 38;
    static constexpr int kSideBarMinWidth = 120;
    static constexpr int kSideBarMaxWidth = 400;
    static constexpr int kInspectorWidth = 280;
    // Sheets hang this far below the rectangle the window proposes, under the tall bar.
    static constexpr int kSheetDrop = 18;

    using Options = MainWindowOptions;

    explicit MainWindowController(Options options = {});
    ~MainWindowController() override;
    MainWindowController(const MainWindowController&) = delete;
    MainWindowController& operator=(const MainWindowController&) = delete;

    VQTitlebarWindow* window() const { return m_window.get(); }
    MainWindowContext& context() { return m_ctx; }
    ContentSwitch* contentSwitch() const;
    MainWindowParts& parts() const { return *m_parts; }
    BadgeRecountDriver* badgeRecountDriver() const;
    GridDataSource* gridDataSource() const;

    // Shows the window, raised and active.
    void showWindow();
    // Whether both side bars have loaded and the last selection was restored.
    bool isRestored() const { return m_ctx.state.restored; }

    // The window's state at quit, before the store's final save: the side bar's own end, the
    // sort and display settings, the last selection, and the side bars' widths and expansion.
    // The frame is not written here (the quit step writes it once).
    void onApplicationWillExit();

    // The window's answers (public for the tests that drive them directly).
    std::optional<QRectF> windowWillPositionSheet(VQTitlebarWindow*, const QRectF& proposed) override;
    std::optional<bool> windowShouldClose(VQTitlebarWindow*) override;

private:
    void buildWindow();
    void installThemedWindowButtons();
    void applyFrame();
    QWidget* buildSideBarPane();
    QWidget* buildSubSideBarPane();
    QWidget* buildCenterView();
    void configureSplitViews();
    void buildContext();
    void createParts();
    void startLoadLatch();
    void sideBarLoaded();
    void restoreLastSelection();
    void checkRebuildKeys();

    Options m_options;
    SideBarServices m_sideBarServices;
    std::unique_ptr<VQTitlebarWindow> m_window;
    // Widgets (owned by the window).
    QPointer<KPSideBarOutlineView> m_sideBarView;
    QPointer<KPSideBarOutlineView> m_subSideBarView;
    QPointer<QWidget> m_centerToolBar;
    QPointer<QWidget> m_centerBottomToolBar;
    QPointer<QWidget> m_leftBottomToolBar;

    // Services the window owns where none was handed in.
    std::unique_ptr<KeyState> m_ownKeys;
    std::unique_ptr<AppMenuController> m_appMenu;
    std::unique_ptr<PropertyPane> m_inspector;
    std::unique_ptr<SafeBoxPane> m_safeBox;
    std::unique_ptr<PeerDirectory> m_peers;
    std::unique_ptr<ScannerLauncher> m_scanner;

    MainWindowContext m_ctx;
    std::unique_ptr<SideBarDataSource> m_sideBarDataSource;
    std::unique_ptr<SubSideBarDataSource> m_subSideBarDataSource;
    // The parts, made after the context and gone before it.
    std::unique_ptr<MainWindowParts> m_parts;

    int m_loadedSideBars = 0;
    std::vector<platform::ObserverToken> m_observers;
};
