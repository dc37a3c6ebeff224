#include "MainWindow/MainWindowController.h"

#include "App/AppDelegate.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPViewSizeManager.h"
#include "Controls/VQWindowButton.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/KPSplitView.h"
#include "MainWindow/KeyState.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/MainWindowFrame.h"
#include "MainWindow/MainWindowParts.h"
#include "SearchField/KPSearchTextEditor.h"
#include "Dialogs/Preferences/PreferencesWindowController.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/WindowActivation.h"
#include "MainWindow/SafeBoxWiring.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DataBaseEngine.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPThemeManager.h"
#include "Tools/RebuildContentWindowController.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "TWService/Service/TWPeerExchange.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

namespace T = SideBarNodeType;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

// The peers the application delegate has found; none without one.
class AppPeerDirectory final : public PeerDirectory {
public:
    explicit AppPeerDirectory(AppDelegate* app) : m_app(app) {}
    std::vector<std::shared_ptr<ServerInfo>> serverList() const override
    {
        return m_app ? m_app->serverList() : std::vector<std::shared_ptr<ServerInfo>>{};
    }
    void uploadFile(const QString& address, quint16 port, const QVariantMap& info, const QString& filePath,
                    qint64 archiveEntries, std::function<void(const QString& error)> completed) override
    {
        TWPeerExchange::uploadFile(address, port, info, filePath, std::move(completed), archiveEntries);
    }

private:
    QPointer<AppDelegate> m_app;
};

// A pane whose children stand one above the other, edge to edge.
QVBoxLayout* stackedPane(QWidget* pane, const char* name)
{
    pane->setObjectName(QLatin1String(name));
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

QWidget* bar(int height, const char* name)
{
    auto* w = new QWidget;
    w->setObjectName(QLatin1String(name));
    w->setFixedHeight(height);
    return w;
}

std::optional<QColor> themeColor(const QString& group, const QString& name)
{
    auto* g = KPThemeObject::customThemeObjectWithName(group);
    auto* color = g ? g->themeObjectWithName<KPColor>(name) : nullptr;
    return color ? color->color() : std::nullopt;
}

// A stored width, read as the text or number it may be; damaged values give none.
std::optional<double> storedWidth(const QString& key)
{
    bool ok = false;
    const double w = defaults().objectForKey(key).toDouble(&ok);
    if (!ok || !std::isfinite(w) || w < 0)
        return std::nullopt;
    return w;
}

} // namespace

MainWindowController::MainWindowController(Options options)
    : m_options(std::move(options))
{
    m_sideBarServices = m_options.sideBarServices ? *m_options.sideBarServices : SideBarServices::shared();
    if (!m_sideBarServices.safeBoxDisk && m_options.appDelegate) {
        QPointer<AppDelegate> app(m_options.appDelegate);
        m_sideBarServices.safeBoxDisk = [app] { return app ? app->safeBoxDisk() : QString(); };
    }
    if (!m_options.openRebuildWindow)
        m_options.openRebuildWindow = [](QWidget* window) { RebuildContentWindowController::openLibraryWindow(window); };
    buildWindow();
    buildContext();
    createParts();
    configureSplitViews();
    // The title bar's navigation button follows the side bar's width as the window opens.
    m_parts->chrome.placeNavButton();
    startLoadLatch();
    checkRebuildKeys();
}

MainWindowController::~MainWindowController()
{
    m_observers.clear();
    // The menu bar outlives the parts it asks which items are offered.
    if (m_appMenu)
        m_appMenu->setServices({});
    // The parts hold on to the data sources and widgets through the context.
    m_parts.reset();
    m_subSideBarDataSource.reset();
    m_sideBarDataSource.reset();
    // Before the services it owns: the sheets and alerts still up answer their cancel codes
    // while the menus, inspector and the rest they may call are whole.
    m_window.reset();
}

ContentSwitch* MainWindowController::contentSwitch() const
{
    return &m_parts->content;
}

BadgeRecountDriver* MainWindowController::badgeRecountDriver() const
{
    return &m_parts->badges;
}

GridDataSource* MainWindowController::gridDataSource() const
{
    return &m_parts->grid;
}

// ---- window and panes ----

void MainWindowController::buildWindow()
{
    m_window = std::make_unique<VQTitlebarWindow>();
    VQTitlebarWindow& w = *m_window;
    w.setWindowTitle(QStringLiteral("Folivo 2"));
    w.setTitleBarHeight(kTitleBarHeight);
    w.setFullScreenButtonRightMargin(10);
    w.setCenterFullScreenButton(true);
    w.setVerticallyCenterTitle(true);
    w.setDelegate(this);
    installThemedWindowButtons();
    QScreen* screen = QGuiApplication::primaryScreen();
    w.setMinimumSize(mainwindowframe::minimumSizeOn(screen ? screen->availableGeometry() : QRect()));

    // Main side bar | (second side bar | document area) | inspector.
    auto* splitView = new KPSplitView(true);
    auto* inspectorSplitView = new KPSplitView(true);
    auto* subSplitView = new KPSplitView(true);
    auto* inspector = new QWidget;
    inspector->setObjectName(QStringLiteral("rightView"));
    subSplitView->addWidget(buildSubSideBarPane());
    subSplitView->addWidget(buildCenterView());
    inspectorSplitView->addWidget(subSplitView);
    inspectorSplitView->addWidget(inspector);
    splitView->addWidget(buildSideBarPane());
    splitView->addWidget(inspectorSplitView);
    w.setContentWidget(splitView);
    // The split views size the panes that collapse; a pane's own minimum would keep a strip of
    // it showing.
    for (QWidget* pane : {splitView->widget(0), subSplitView->widget(0), inspector})
        pane->setSizePolicy(QSizePolicy::Ignored, pane->sizePolicy().verticalPolicy());

    m_ctx.window = &w;
    m_ctx.splitView = splitView;
    m_ctx.subSplitView = subSplitView;
    m_ctx.inspectorSplitView = inspectorSplitView;
    m_ctx.inspectorView = inspector;
    m_ctx.sideBarView = m_sideBarView.data();
    m_ctx.subSideBarView = m_subSideBarView.data();

    applyFrame();
    m_observers.push_back(platform::NotificationCenter::defaultCenter().addObserver(
        KPThemeManager::kThemeChangeNotification, [this](const platform::Notification&) { installThemedWindowButtons(); }));
}

// The bar's close, minimise and zoom buttons from the theme; a state set the theme lacks
// leaves the standard button.
void MainWindowController::installThemedWindowButtons()
{
    auto* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("MainWindow"));
    auto button = [group](const char* sprite, const char* groupId) -> VQWindowButton* {
        auto* states = group ? group->themeObjectWithName<KPMultiSprite>(QLatin1String(sprite)) : nullptr;
        if (!states)
            return nullptr;
        auto* b = new VQWindowButton(QSize(14, 16), QLatin1String(groupId));
        b->setImages(*states);
        return b;
    };
    m_window->setCloseButton(button("MainWindowCloseButton", "CloseButton"));
    m_window->setMinimizeButton(button("MainWindowMinButton", "MinButton"));
    m_window->setZoomButton(button("MainWindowZoomButton", "ZoomButton"));
}

void MainWindowController::applyFrame()
{
    const QString text = defaults().stringForKey(mainwindowframe::kFrameKey);
    const std::optional<QRect> stored = mainwindowframe::parse(text);
    if (!stored && !text.isEmpty())
        KPLogLogMessage(QStringLiteral("Main window: the stored frame \"%1\" is not usable; the window opens centred").arg(text.left(80)));
    QList<QRect> screens;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        screens.append(primary->availableGeometry());
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen())
            screens.append(screen->availableGeometry());
    }
    const bool canPlace = m_options.canPlaceWindows.value_or(
        !QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    const mainwindowframe::Placement placement = mainwindowframe::initialFrame(stored, screens, canPlace);
    if (placement.placeOrigin)
        m_window->setGeometry(placement.frame);
    else
        m_window->resize(placement.frame.size());
    m_window->layoutTitlebar();
}

QWidget* MainWindowController::buildSideBarPane()
{
    auto* pane = new QWidget;
    QVBoxLayout* layout = stackedPane(pane, "leftView");
    m_sideBarView = new KPSideBarOutlineView;
    m_sideBarView->setObjectName(QStringLiteral("sideBarView"));
    layout->addWidget(m_sideBarView, 1);
    m_leftBottomToolBar = bar(kBottomBarHeight, "leftBottomToolBar");
    layout->addWidget(m_leftBottomToolBar);
    return pane;
}

QWidget* MainWindowController::buildSubSideBarPane()
{
    m_subSideBarView = new KPSideBarOutlineView;
    m_subSideBarView->setObjectName(QStringLiteral("subSideBarView"));
    return m_subSideBarView;
}

QWidget* MainWindowController::buildCenterView()
{
    auto* center = new QWidget;
    QVBoxLayout* layout = stackedPane(center, "centerView");
    m_centerToolBar = bar(kCenterToolBarHeight, "centerViewToolBar");
    layout->addWidget(m_centerToolBar);
    auto* grid = new KPCollectionView;
    grid->setObjectName(QStringLiteral("collectionView"));
    layout->addWidget(grid, 1);
    m_centerBottomToolBar = bar(kBottomBarHeight, "centerViewBottomToolBar");
    layout->addWidget(m_centerBottomToolBar);
    m_ctx.centerView = center;
    m_ctx.collectionView = grid;
    return center;
}

void MainWindowController::configureSplitViews()
{
    // The panes get their extents from the window's size before any divider is placed.
    if (QLayout* layout = m_window->contentWidget()->layout())
        layout->activate();
    KPSplitView& left = *m_ctx.splitView;
    left.setMinValue(kSideBarMinWidth);
    left.setMaxValue(kSideBarMaxWidth);
    left.setCanCollapseIndex(0);
    if (auto color = themeColor(QStringLiteral("Sidebar"), QStringLiteral("LeftSideBarRightLineColor")))
        left.setLineColor(*color);
    // A damaged or out-of-range width opens at the nearest allowed one; a collapsed bar expands
    // to the width it had (120 at least).
    const double leftWidth = std::clamp(storedWidth(kLeftSideBarWidthKey).value_or(200.0), double(kSideBarMinWidth),
                                        double(kSideBarMaxWidth));
    const bool expanded = defaults().boolForKey(kLeftSideBarExpandKey);
    left.setIsExpand(true);
    left.expandWithValue(leftWidth);
    if (!expanded)
        left.collapse();
    m_ctx.state.sideBarExpanded = expanded;

    KPSplitView& inspector = *m_ctx.inspectorSplitView;
    inspector.setMinValue(kInspectorWidth);
    inspector.setMaxValue(kInspectorWidth);
    inspector.setMasterDividerIndex(1);
    inspector.setCanCollapseIndex(1);
    inspector.setIsExpand(true);
    inspector.expandWithValue(kInspectorWidth);
    inspector.collapse();
    m_ctx.state.inspectorExpanded = false;

    KPSplitView& sub = *m_ctx.subSplitView;
    sub.setMinValue(kSideBarMinWidth);
    sub.setMaxValue(kSideBarMaxWidth);
    sub.setCanCollapseIndex(0);
    if (auto color = themeColor(QStringLiteral("SubSidebar"), QStringLiteral("SubSideBarRightLineColor")))
        sub.setLineColor(*color);
    sub.setIsExpand(true);
    sub.expandWithValue(std::clamp(storedWidth(kSubLeftSideBarWidthKey).value_or(200.0), double(kSideBarMinWidth),
                                   double(kSideBarMaxWidth)));
}

// ---- services and parts ----

void MainWindowController::buildContext()
{
    MainWindowContext& c = m_ctx;
    c.store = m_sideBarServices.library;
    c.dataSourceManager = &KPDataSourceManager::shareDataSourceManager();
    c.sortManager = &KPDataSourceSortManager::shareDataSourceSortManager();
    c.viewSizeManager = &KPViewSizeManager::instance();
    c.notifications = m_options.notifications ? m_options.notifications : &platform::NotificationCenter::defaultCenter();
    c.commands = m_options.commands ? m_options.commands : &platform::kit::CommandDispatcher::shared();
    c.dialogs = m_options.dialogs ? m_options.dialogs : &platform::kit::DialogService::shared();
    c.scheduler = m_options.scheduler ? m_options.scheduler : &platform::kit::Scheduler::current();
    if (!m_options.keys)
        m_ownKeys = std::make_unique<KeyState>();
    c.keys = m_options.keys ? m_options.keys : m_ownKeys.get();
    m_appMenu = std::make_unique<AppMenuController>();
    c.appMenu = m_appMenu.get();
    c.appDelegate = m_options.appDelegate;
    m_inspector = std::make_unique<PropertyPane>();
    m_safeBox = makeSafeBoxPane(c);
    m_peers = std::make_unique<AppPeerDirectory>(m_options.appDelegate);
    m_scanner = std::make_unique<ScannerLauncher>();
    c.inspector = m_inspector.get();
    c.safeBox = m_safeBox.get();
    c.peers = m_peers.get();
    c.scanner = m_scanner.get();

    m_sideBarDataSource = std::make_unique<SideBarDataSource>(m_sideBarView, m_sideBarServices);
    m_subSideBarDataSource = std::make_unique<SubSideBarDataSource>(m_subSideBarView, m_sideBarServices.library);
    c.sideBarDataSource = m_sideBarDataSource.get();
    c.subSideBarDataSource = m_subSideBarDataSource.get();
}

void MainWindowController::createParts()
{
    m_parts = std::make_unique<MainWindowParts>(m_ctx);
    m_sideBarDataSource->setDelegate(m_parts->sideBarDelegate());
    m_subSideBarDataSource->setDelegate(m_parts->subSideBarDelegate());

    // The chrome's bars take the places kept for them around the grid and under the side bar.
    WindowChrome& chrome = m_parts->chrome;
    const auto replace = [](QPointer<QWidget>& place, QWidget* bar) {
        if (!place || !bar || !place->parentWidget() || !place->parentWidget()->layout())
            return;
        delete place->parentWidget()->layout()->replaceWidget(place, bar);
        delete place.data();
        place = bar;
    };
    replace(m_centerToolBar, chrome.toolBar());
    replace(m_centerBottomToolBar, chrome.bottomBar());
    replace(m_leftBottomToolBar, chrome.leftBottomBar());

    AppMenuController& menu = *m_appMenu;
    AppMenuController::Services services;
    QPointer<AppDelegate> app(m_options.appDelegate);
    services.relaunch = [app] {
        if (!app)
            return;
        app->setBNeedRelaunch(true);
        app->requestTermination();
    };
    QPointer<QWidget> window(m_window.get());
    services.window = [window] { return window.data(); };
    platform::kit::DialogService* dialogs = m_ctx.dialogs;
    services.createNewLibrary = [window, dialogs, relaunch = services.relaunch] {
        PreferencesWindowController::Services prefs;
        prefs.dialogs = dialogs;
        prefs.relaunch = relaunch;
        PreferencesWindowController::showPreferences(window, PreferencesPane::Advanced, std::move(prefs));
    };
    services.availability = [parts = m_parts.get()](const QString& command) { return parts->menuActions.availability(command); };
    menu.setServices(std::move(services));
    menu.setDispatcher(m_ctx.commands);
    menu.setDialogService(m_ctx.dialogs);
    QMenuBar* menuBar = menu.buildMenuBar(m_window.get());
    menu.attachShortcuts(m_window.get());
    m_parts->fillDocumentSubmenus(menu);
    chrome.installTitleBar(m_window->titleBarView(), menuBar);
    auto* searchField = new KPSearchTextEditor(chrome.searchEditorRect(), m_window->titleBarView());
    m_parts->search.setSearchField(searchField);
    chrome.setSearchField(searchField);
    // The menus and buttons follow the stored sort and display settings from the start.
    m_parts->sortDisplay.onDataSourceSortingChange();
    m_parts->sortDisplay.onDisplayModeChange();
}

// ---- start-up ----

// Each side bar reports once that it has loaded (also when it could not read the store); the
// restore runs on the main thread when both have.
void MainWindowController::startLoadLatch()
{
    m_sideBarDataSource->setLoadedCallback([this] { sideBarLoaded(); });
    m_subSideBarDataSource->setLoadedCallback([this] { sideBarLoaded(); });
    m_loadedSideBars = int(m_sideBarDataSource->bDataLoaded()) + int(m_subSideBarDataSource->bDataLoaded());
    m_subSideBarDataSource->initData();
    if (m_loadedSideBars == 2)
        restoreLastSelection();
}

void MainWindowController::sideBarLoaded()
{
    if (++m_loadedSideBars == 2)
        restoreLastSelection();
}

void MainWindowController::restoreLastSelection()
{
    namespace L = LastSelectedLibraryInfo;
    SideBarDataSource& sideBar = *m_sideBarDataSource;
    KPSideBarOutlineView* view = m_sideBarView;
    const QVariantMap record = defaults().dictionaryForKey(kLastSelectedInfoKey);
    KPNode* target = nullptr;
    if (view && record.value(L::Name).toString() == L::Library) {
        bool ok = false;
        const qint64 stored = record.value(L::DataIndexValue).toLongLong(&ok);
        const int rows = view->numberOfRows();
        if (ok && rows > 0) {
            const int row = int(std::clamp<qint64>(stored, 0, rows - 1));
            KPNode* node = view->nodeAtRow(row);
            if (node && node->nodeType() != T::SectionNode && node->nodeType() != T::RootNode)
                target = node;
        }
    }
    // Never an empty window: whatever cannot be restored shows Documents.
    if (!target)
        target = sideBar.documentsNode().get();
    if (view)
        view->selectNode(target);
    m_ctx.state.restored = true;
    // The menus and buttons that follow the stored display and sort settings are brought in
    // line here once their handlers exist.
    m_ctx.notifications->post(RefreshItemCountNotification, QStringLiteral("All"));
}

void MainWindowController::checkRebuildKeys()
{
    if (!m_ctx.keys->isCommandKeyDown() || !m_ctx.keys->isOptionKeyDown())
        return;
    // After the window has shown, so the rebuild window stands over it.
    QPointer<QWidget> window(m_window.get());
    auto open = m_options.openRebuildWindow;
    platform::Dispatch::main([window, open] {
        if (window && open)
            open(window);
    });
}

void MainWindowController::showWindow()
{
    // Showing alone leaves a minimised window in the dock; the user asked to see it.
    platform::kit::showAndActivateWhenShown(m_window.get());
}

// ---- the window's answers ----

std::optional<QRectF> MainWindowController::windowWillPositionSheet(VQTitlebarWindow*, const QRectF& proposed)
{
    // y-up: lower on screen is a smaller y.
    return proposed.translated(0, -kSheetDrop);
}

std::optional<bool> MainWindowController::windowShouldClose(VQTitlebarWindow*)
{
    // Closing the window quits; the quit check decides, and the window stays meanwhile.
    if (m_options.onCloseRequest)
        m_options.onCloseRequest();
    return false;
}

// ---- quit ----

void MainWindowController::onApplicationWillExit()
{
    m_sideBarDataSource->appWillExit();
    m_ctx.sortManager->saveSettingToDisk();
    m_ctx.viewSizeManager->saveSettingToDisk();
    // Before the restore the side bar shows nothing it could record: the stored record stays.
    if (m_ctx.state.restored) {
        const QVariantMap info = m_sideBarDataSource->lastSelectedInfo();
        if (!info.isEmpty())
            defaults().setObject(info, kLastSelectedInfoKey);
    }
    KPSplitView& left = *m_ctx.splitView;
    // A collapsed bar has no width of its own: the one it will expand to is kept; an open one
    // that gives way to the document area in a narrow window keeps the width it was given.
    const double leftWidth = left.isExpand() ? left.keptExtent() : left.lastValue();
    if (leftWidth > 0)
        defaults().setDouble(leftWidth, kLeftSideBarWidthKey);
    defaults().setBool(left.isExpand(), kLeftSideBarExpandKey);
    const KPNode* shown = m_sideBarView ? m_sideBarView->selectedNode() : nullptr;
    const int shownType = shown ? shown->nodeType() : -1;
    if ((shownType == T::TagsNode || shownType == T::CollectionsNode) && m_ctx.subSplitView->isExpand()) {
        const double subWidth = m_ctx.subSplitView->keptExtent();
        if (subWidth > 0)
            defaults().setDouble(subWidth, kSubLeftSideBarWidthKey);
    }
    defaults().synchronize();
}
