#include "WindowChromeTestSupport.h"

#include "App/AppDelegate.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Controls/KPButtonGroups.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/KPSplitView.h"
#include "MainWindow/MainMenu.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/WindowChrome.h"
#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Kit/Scheduler.h"
#include "SideBar/SideBarNodeType.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPropertyAnimation>
#include <QToolButton>

using namespace browsertest;

namespace {

class FakeSafeBox final : public SafeBoxPane {
public:
    QString path;
    int forgotten = 0;
    int loginShown = 0;
    QString safeBoxAttactPath() const override { return path; }
    void forgetAttachedVolume() override
    {
        ++forgotten;
        path.clear();
    }
    void showSetupView(bool setupMode) override
    {
        if (!setupMode)
            ++loginShown;
    }
};

} // namespace

class WindowChromeTest : public GridContextTest {
protected:
    void SetUp() override
    {
        GridContextTest::SetUp();
        previous = platform::kit::Scheduler::install(&scheduler);
        window.resize(1000, 680);
        grid = new KPCollectionView(&window);
        grid->setGeometry(0, 40, 600, 400);
        window.show();
        setUpContext(grid);
        ctx.window = &window;
        ctx.centerView = &window;
        ctx.scheduler = &scheduler;
        ctx.safeBox = &safeBox;
        chrome = std::make_unique<WindowChrome>(ctx);
        chrome->install();
    }

    void TearDown() override
    {
        chrome.reset();
        GridContextTest::TearDown();
        platform::kit::Scheduler::install(previous);
    }

    platform::kit::VirtualScheduler scheduler;
    platform::kit::Scheduler* previous = nullptr;
    QWidget window;
    KPCollectionView* grid = nullptr;
    FakeSafeBox safeBox;
    std::unique_ptr<WindowChrome> chrome;
};

TEST_F(WindowChromeTest, ControlsKeepTheirPlacesAcrossResizes)
{
    chrome->showButtons({.groupButtons = true, .viewModeButton = true});
    // In a shown window, as the root places them: resizes reach the bars at once.
    for (QWidget* bar : {chrome->toolBar(), chrome->bottomBar()}) {
        bar->setParent(&window);
        bar->show();
    }
    for (int width : {1000 - 200, 1001, 1600, 640}) {
        chrome->toolBar()->resize(width, WindowChrome::kToolBarHeight);
        chrome->bottomBar()->resize(width, WindowChrome::kBottomBarHeight);
        const QRect group = WindowChrome::upFrame(chrome->btnGroupButtons());
        EXPECT_EQ(group, QRect(qRound((width - 400) / 2.0), 6, 400, 22)) << width;
        EXPECT_EQ(WindowChrome::upFrame(chrome->btnRecentButtons()).x(), group.x());
        EXPECT_EQ(WindowChrome::upFrame(chrome->btnShowHidePropertyView()), QRect(width - 41, 3, 41, 32));
        EXPECT_EQ(WindowChrome::upFrame(chrome->btnViewMode()), QRect(width - 82, 3, 41, 32));
        EXPECT_EQ(WindowChrome::upFrame(chrome->btnShowHideSideBar()), QRect(0, 3, 41, 32));
        const QRect count = WindowChrome::upFrame(chrome->labItemCount());
        EXPECT_EQ(count, QRect((width - 200) / 2, 4, 200, 18)) << width;
        EXPECT_EQ(WindowChrome::upFrame(reinterpret_cast<QWidget*>(chrome->zoomSlider())).x(), width - 186);
    }

    // A narrow document area (a small screen with the inspector open): the titles and the count
    // move into the room between the end controls rather than lie over them.
    QVariantList titles;
    for (const char* title : {"Title", "Updated", "Size", "Kind", "From"})
        titles << QVariantMap{{QStringLiteral("Title"), QString::fromLatin1(title)}};
    chrome->btnGroupButtons()->setupDatas(titles);
    const auto& buttons = chrome->btnGroupButtons()->buttons();
    const int span = buttons.back()->geometry().right() + 1 - buttons.front()->x();
    const int narrow = span + 41 + 82 + 10;
    chrome->toolBar()->resize(narrow, WindowChrome::kToolBarHeight);
    chrome->bottomBar()->resize(narrow, WindowChrome::kBottomBarHeight);
    const QRect first = buttons.front()->geometry().translated(chrome->btnGroupButtons()->pos());
    const QRect last = buttons.back()->geometry().translated(chrome->btnGroupButtons()->pos());
    EXPECT_GE(first.left(), chrome->btnShowHideSideBar()->geometry().right());
    EXPECT_LE(last.right(), chrome->btnViewMode()->geometry().left());
    EXPECT_LE(chrome->labItemCount()->geometry().right(), reinterpret_cast<QWidget*>(chrome->zoomSlider())->geometry().left());

    // The title bar: the menu bar after the window buttons, clear of the search field.
    QWidget titleBar;
    titleBar.resize(1000, WindowChrome::kTitleBarHeight);
    chrome->installTitleBar(&titleBar, menu.menuBar());
    EXPECT_EQ(menu.menuBar()->parentWidget(), &titleBar);
    EXPECT_EQ(menu.menuBar()->x(), WindowChrome::kMenuBarX);
    EXPECT_LE(menu.menuBar()->geometry().right(), chrome->searchEditorRect().left());
    EXPECT_LE(menu.menuBar()->height(), WindowChrome::kTitleBarHeight);
    titleBar.resize(1400, WindowChrome::kTitleBarHeight);
    EXPECT_EQ(chrome->searchEditorRect().right(), 1400 - 41);
    menu.menuBar()->setParent(nullptr);
    chrome->toolBar()->setParent(nullptr);
    chrome->bottomBar()->setParent(nullptr);
}

// The search field widens when the search starts and narrows when it ends, moving over a
// quarter second rather than jumping, and comes to rest exactly where it belongs, also when the
// window is resized on the way.
TEST_F(WindowChromeTest, TheSearchFieldMovesToItsWidthOverAQuarterSecond)
{
    platform::kit::AnimationPolicy animated;
    ctx.animation = &animated;
    QWidget titleBar;
    titleBar.resize(1000, WindowChrome::kTitleBarHeight);
    chrome->installTitleBar(&titleBar, nullptr);
    auto* field = new QWidget(&titleBar);
    chrome->setSearchField(field);
    titleBar.show();
    const QRect idle = chrome->searchEditorRect();
    EXPECT_EQ(field->geometry(), idle);

    const auto moveTo = [&](bool editing) {
        ctx.state.searchTextEditoring = editing;
        chrome->layoutSearchField();
        return chrome->searchEditorRect();
    };
    // Whether a move is still under way (its easing puts the field within a pixel of its end
    // well before the quarter second is over, so the width alone cannot tell).
    const auto moving = [&] {
        for (const auto* animation : field->findChildren<QPropertyAnimation*>())
            if (animation->state() == QAbstractAnimation::Running)
                return true;
        return false;
    };
    const QRect wide = moveTo(true);
    ASSERT_GT(wide.width(), idle.width());
    scheduler.advance(125);
    EXPECT_GT(field->width(), idle.width()) << "the field has not begun to move";
    EXPECT_LT(field->width(), wide.width()) << "the field jumped";
    EXPECT_EQ(field->geometry().right(), idle.right());
    scheduler.advance(245 - 125);
    EXPECT_TRUE(moving()) << "the move ended before the quarter second";
    scheduler.advance(255 - 245);
    EXPECT_FALSE(moving()) << "the move outlasted the quarter second";
    EXPECT_EQ(field->geometry(), wide);

    // A resize while the field is at rest places it at once.
    titleBar.resize(1200, WindowChrome::kTitleBarHeight);
    EXPECT_EQ(field->geometry(), chrome->searchEditorRect());
    const QRect wider = field->geometry();

    // Narrowing, with a resize half way: the field ends where the new width puts it.
    const QRect narrow = moveTo(false);
    scheduler.advance(125);
    EXPECT_LT(field->width(), wider.width());
    EXPECT_GT(field->width(), narrow.width());
    titleBar.resize(1100, WindowChrome::kTitleBarHeight);
    scheduler.advance(130);
    EXPECT_FALSE(moving());
    EXPECT_EQ(field->geometry(), chrome->searchEditorRect());
    EXPECT_EQ(field->width(), idle.width());
    EXPECT_EQ(field->geometry().right(), 1100 - 41);
    ctx.animation = nullptr;
}

TEST_F(WindowChromeTest, SideBarAndInspectorTogglesAndTheDivider)
{
    KPSplitView split;
    ctx.splitView = &split;
    ASSERT_TRUE(chrome->bLeftSideBarExpand());

    // The button (or menu): state, menu title and button image all change.
    chrome->btnShowHideSideBar()->click();
    EXPECT_FALSE(ctx.state.sideBarExpanded);
    EXPECT_EQ(menu.itemShowHideSideBar()->text(), mainmenu::kShowSideBar);
    EXPECT_EQ(chrome->sideBarButtonImage(), QStringLiteral("ShowSideBarButtonIcon"));
    EXPECT_TRUE(chrome->btnLibraryNav()->isVisibleTo(chrome->toolBar())) << "collapsed: the library button shows";
    chrome->setBLeftSideBarExpand(true);
    EXPECT_EQ(menu.itemShowHideSideBar()->text(), mainmenu::kHideSideBar);
    EXPECT_FALSE(chrome->btnLibraryNav()->isVisibleTo(chrome->toolBar()));

    // The divider: the state follows, the title stays.
    split.setIsExpand(false);
    platform::NotificationCenter::defaultCenter().post(KPSplitView::kToggledNotification, QVariant::fromValue<QObject*>(&split));
    EXPECT_FALSE(ctx.state.sideBarExpanded);
    EXPECT_EQ(menu.itemShowHideSideBar()->text(), mainmenu::kHideSideBar);

    // The inspector button toggles the pane; its split tells the selection handler.
    int selectionChecks = 0;
    chrome->hooks.collectionViewItemDidSelected = [&] { ++selectionChecks; };
    chrome->btnShowHidePropertyView()->click();
    EXPECT_TRUE(ctx.state.inspectorExpanded);
    KPSplitView inspector;
    ctx.inspectorSplitView = &inspector;
    platform::NotificationCenter::defaultCenter().post(KPSplitView::kToggledNotification,
                                                       QVariant::fromValue<QObject*>(&inspector));
    EXPECT_EQ(selectionChecks, 1);

    // Full screen renames the menu item both ways.
    chrome->windowDidEnterFullScreen();
    EXPECT_EQ(menu.itemFullScreen()->text(), mainmenu::kExitFullScreen);
    chrome->windowDidExitFullScreen();
    EXPECT_EQ(menu.itemFullScreen()->text(), mainmenu::kEnterFullScreen);
}

TEST_F(WindowChromeTest, BackFromADrillDownSlidesForThreeTenthsAndLeavesTilesUnselectable)
{
    DocumentFields flagged{.title = QStringLiteral("red one")};
    flagged.label = 2;
    listed.addSource({KPItemData::create(addDocument(flagged)), KPItemData::create(addDocument(QStringLiteral("plain")))});
    ctx.state.shownNode = KPNode::initWithTitle(QStringLiteral("Flagged"), SideBarNodeType::FlaggedNode);
    chrome->showButtons({.backButton = true, .groupButtons = true, .viewModeButton = true});

    chrome->onBackButtonClick();
    EXPECT_FALSE(grid->allowSelection());
    EXPECT_FALSE(grid->allowRegionSelection());
    EXPECT_EQ(int(settings().itemViewType()), 3);
    const auto snapshots = [&] { return window.findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly).size(); };
    EXPECT_EQ(snapshots(), 1);
    chrome->onBackButtonClick(); // a second press while sliding starts nothing new

    scheduler.advance(WindowChrome::kBackSlideMs - 20);
    EXPECT_EQ(snapshots(), 1) << "still sliding";
    EXPECT_TRUE(chrome->btnBack()->isVisibleTo(chrome->toolBar()));
    scheduler.advance(40);
    QApplication::processEvents();
    EXPECT_EQ(snapshots(), 0);
    EXPECT_FALSE(chrome->btnBack()->isVisibleTo(chrome->toolBar()));
    EXPECT_FALSE(chrome->btnGroupButtons()->isVisibleTo(chrome->toolBar()));
    EXPECT_FALSE(chrome->btnViewMode()->isVisibleTo(chrome->toolBar()));
    EXPECT_FALSE(source->dataSource().isEmpty()) << "the flag tiles are back";
    EXPECT_FALSE(grid->allowSelection());

    // Another node picked while sliding keeps the buttons it asks for once the slide is over.
    chrome->showButtons({.backButton = true, .groupButtons = true, .viewModeButton = true});
    chrome->onBackButtonClick();
    scheduler.advance(WindowChrome::kBackSlideMs / 2);
    chrome->showButtons({.groupButtons = true, .viewModeButton = true});
    scheduler.advance(WindowChrome::kBackSlideMs);
    QApplication::processEvents();
    EXPECT_EQ(snapshots(), 0);
    EXPECT_FALSE(chrome->btnBack()->isVisibleTo(chrome->toolBar()));
    EXPECT_TRUE(chrome->btnGroupButtons()->isVisibleTo(chrome->toolBar()));
    EXPECT_TRUE(chrome->btnViewMode()->isVisibleTo(chrome->toolBar()));
    EXPECT_FALSE(chrome->btnViewMode()->graphicsEffect()) << "drawn whole, not left half faded";
}

TEST_F(WindowChromeTest, ActivationAfterTheSafeBoxVolumeVanishedClearsItsView)
{
    AppDelegate delegate(AppDelegate::Services{});
    ctx.appDelegate = &delegate;
    source->dataSource().append(KPSectionData::create(QStringLiteral("box")));

    // Still mounted: nothing changes.
    safeBox.path = testsupport::makeTempDir(QStringLiteral("volume"));
    delegate.setSafeBoxDisk(QStringLiteral("/dev/disk-safebox"));
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&window, &activate);
    EXPECT_EQ(safeBox.forgotten, 0);

    safeBox.path = safeBox.path + QStringLiteral("-gone");
    ctx.state.shownNode = KPNode::initWithTitle(QStringLiteral("SafeBox"), SideBarNodeType::SafeBoxNode);
    QApplication::sendEvent(&window, &activate);
    EXPECT_EQ(safeBox.forgotten, 1);
    EXPECT_EQ(safeBox.loginShown, 1);
    EXPECT_TRUE(source->dataSource().isEmpty());
    EXPECT_TRUE(delegate.safeBoxDisk().isEmpty());
    EXPECT_TRUE(delegate.tmpSBDicInfo().isEmpty());

    // Once forgotten, a later activation has nothing to do.
    QApplication::sendEvent(&window, &activate);
    EXPECT_EQ(safeBox.forgotten, 1);
}

TEST_F(WindowChromeTest, PressElsewhereClosesEveryRegisteredPopoverOnce)
{
    chrome->toolBar()->setParent(&window);
    chrome->toolBar()->setGeometry(0, 0, 1000, WindowChrome::kToolBarHeight);
    chrome->toolBar()->show();
    chrome->showButtons({.viewModeButton = true});
    chrome->btnViewMode()->click();
    platform::kit::Popover* options = chrome->viewSettingPopver();
    ASSERT_TRUE(options && options->isShown());
    const QRect button(chrome->btnViewMode()->mapToGlobal(QPoint(0, 0)), chrome->btnViewMode()->size());
    EXPECT_GE(options->frameWidget()->geometry().top(), button.bottom()) << "opens below the button";

    QStringList saved;
    ctx.state.openPopovers[QStringLiteral("TagEditor")] = [&] {
        saved << QStringLiteral("tags written");
        // A closer that opens something of its own keeps it open.
        ctx.state.openPopovers[QStringLiteral("Later")] = [] {};
    };
    center.post(WindowChrome::kMonitorResignWindowResign);
    EXPECT_FALSE(options->isShown());
    EXPECT_EQ(saved, QStringList{QStringLiteral("tags written")});
    EXPECT_EQ(ctx.state.openPopovers.size(), 1u);
    EXPECT_TRUE(ctx.state.openPopovers.contains(QStringLiteral("Later")));
    center.post(WindowChrome::kMonitorResignWindowResign);
    EXPECT_EQ(saved.size(), 1);
    chrome->toolBar()->setParent(nullptr);
}
