#include "MainWindowTestSupport.h"

#include "Controls/KPButtonGroups.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "Controls/VQTitlebarWindow.h"
#include "MainWindow/KPNavButton.h"
#include "MainWindow/KPSplitView.h"
#include "MainWindow/MainWindowParts.h"
#include "MainWindow/Parts/WindowChrome.h"
#include "SearchField/KPSearchTextEditor.h"
#include "MainWindow/MainWindowFrame.h"
#include "Platform/Kit/Sheet.h"
#include "MainWindow/Parts/ContentSwitch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "Tools/RebuildContentWindowController.h"

#include <QApplication>
#include <QDialog>
#include <QMenuBar>

#include <QTest>

namespace {

using namespace mainwindowtest;
namespace F = mainwindowframe;
namespace L = LastSelectedLibraryInfo;
namespace T = SideBarNodeType;

const QRect kPrimary(0, 0, 1920, 1050);
const QRect kSecond(1920, 0, 1280, 1000);

TEST(MainWindowFrame, StoredTextIsReadDefensively)
{
    EXPECT_EQ(F::parse(QStringLiteral("{{10, 20}, {1200, 800}}")), QRect(10, 20, 1200, 800));
    EXPECT_EQ(F::parse(QStringLiteral(" {{-300,20.6},{1200.4, 800}} ")), QRect(-300, 21, 1200, 800));
    // What the quit step writes when the window never existed, and sizes that are no size.
    for (const char* text : {"{{0, 0}, {0, 0}}", "{{5, 5}, {0, 700}}", "{{5, 5}, {-1200, 700}}",
                             // damage and hostile text
                             "", "{{1, 2}, {3}}", "{{1, 2}, {3, 4}}}", "{{a, 2}, {1200, 800}}",
                             "{{1e400, 2}, {1200, 800}}", "{{1, 2}, {99999999999, 800}}",
                             "{{nan, 2}, {1200, 800}}", "{{1, 2}, {1200, 800}} trailing", "[10, 20, 1200, 800]"})
        EXPECT_FALSE(F::parse(QString::fromLatin1(text))) << text;
}

TEST(MainWindowFrame, RulesOfTheOpeningFrame)
{
    const QList<QRect> screens{kPrimary, kSecond};
    // Nothing stored: the minimum, centred on the primary screen.
    F::Placement p = F::initialFrame(std::nullopt, screens, true);
    EXPECT_EQ(p.frame.size(), F::kMinimumSize);
    EXPECT_EQ(p.frame.center(), kPrimary.center());
    // A small frame grows to the minimum at its own origin.
    p = F::initialFrame(QRect(100, 120, 800, 500), screens, true);
    EXPECT_EQ(p.frame, QRect(100, 120, 1000, 680));
    // A frame on the second screen stays there.
    p = F::initialFrame(QRect(2000, 50, 1100, 700), screens, true);
    EXPECT_EQ(p.frame, QRect(2000, 50, 1100, 700));
    // Off every screen (a screen that is gone), or with only a sliver of its bar showing: onto
    // the primary screen, size kept.
    for (const QRect& lost : {QRect(5000, 3000, 1100, 700), QRect(-1050, 100, 1100, 700), QRect(300, -30, 1100, 700)}) {
        p = F::initialFrame(lost, screens, true);
        EXPECT_TRUE(kPrimary.contains(p.frame)) << p.frame.x() << "," << p.frame.y();
        EXPECT_EQ(p.frame.size(), QSize(1100, 700));
    }
    // Larger than its screen: the screen's size, never below the minimum.
    p = F::initialFrame(QRect(0, 0, 50000, 40000), screens, true);
    EXPECT_EQ(p.frame, kPrimary);
    // A screen smaller than the minimum (a small laptop at a large scale) bounds it: the window
    // opens on the whole screen instead of hanging off it, stored frame or none.
    p = F::initialFrame(QRect(0, 0, 1200, 900), {QRect(0, 0, 800, 500)}, true);
    EXPECT_EQ(p.frame, QRect(0, 0, 800, 500));
    p = F::initialFrame(std::nullopt, {QRect(0, 20, 960, 520)}, true);
    EXPECT_EQ(p.frame, QRect(0, 20, 960, 520));
    p = F::initialFrame(QRect(10, 30, 500, 300), {QRect(0, 20, 960, 520)}, true);
    EXPECT_EQ(p.frame, QRect(0, 20, 960, 520));
    // Grown at its own origin near the edge, moved back onto the screen.
    p = F::initialFrame(QRect(kPrimary.right() - 900, kPrimary.bottom() - 600, 800, 500), screens, true);
    EXPECT_TRUE(kPrimary.contains(p.frame)) << p.frame.x() << "," << p.frame.y();
    EXPECT_EQ(p.frame.size(), F::kMinimumSize);
    // Where the windowing system places windows only the size is taken.
    p = F::initialFrame(QRect(5000, 3000, 1100, 700), screens, false);
    EXPECT_FALSE(p.placeOrigin);
    EXPECT_EQ(p.frame.size(), QSize(1100, 700));
}

class MainWindowControllerTest : public MainWindowFixture {};

TEST_F(MainWindowControllerTest, PanesAndTheirLimits)
{
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    VQTitlebarWindow& window = *c.window();
    EXPECT_EQ(window.titleBarHeight(), 40);
    // 1000 x 680, or the whole screen where that is smaller (the test screen is 800 wide).
    EXPECT_EQ(window.minimumSize(), QSize(1000, 680).boundedTo(window.screen()->availableGeometry().size()));

    KPSplitView& left = *ctx.splitView;
    EXPECT_EQ(left.minValue(), 120);
    EXPECT_EQ(left.maxValue(), 400);
    EXPECT_EQ(left.canCollapseIndex(), 0);
    EXPECT_TRUE(left.isExpand());
    EXPECT_EQ(left.widget(0)->width(), 200);
    KPSplitView& sub = *ctx.subSplitView;
    EXPECT_EQ(sub.minValue(), 120);
    EXPECT_EQ(sub.maxValue(), 400);
    // The inspector is fixed at 280 and closed at start; the grid fills what is left.
    KPSplitView& inspector = *ctx.inspectorSplitView;
    EXPECT_EQ(inspector.minValue(), 280);
    EXPECT_EQ(inspector.maxValue(), 280);
    EXPECT_EQ(inspector.masterDividerIndex(), 1);
    EXPECT_FALSE(inspector.isExpand());
    EXPECT_EQ(ctx.inspectorView->width(), 0);
    EXPECT_FALSE(ctx.state.inspectorExpanded);
    inspector.expand();
    EXPECT_EQ(ctx.inspectorView->width(), 280);

    // The document area: tool bar, grid, a 23-point bottom bar; the grid takes the rest.
    ASSERT_TRUE(ctx.centerView && ctx.collectionView);
    const QRect grid = reinterpret_cast<QWidget*>(ctx.collectionView)->geometry();
    EXPECT_EQ(grid.width(), ctx.centerView->width());
    EXPECT_EQ(ctx.centerView->height() - grid.bottom() - 1, MainWindowController::kBottomBarHeight);
    EXPECT_GT(grid.height(), 400);
}

TEST_F(MainWindowControllerTest, StoredSideBarWidths)
{
    // Collapsed at a width below the minimum: it expands to the minimum, and the minimum stays.
    defaults().setString(QStringLiteral("90"), MainWindowController::kLeftSideBarWidthKey);
    defaults().setBool(false, MainWindowController::kLeftSideBarExpandKey);
    {
        MainWindowController& c = open();
        KPSplitView& left = *c.context().splitView;
        EXPECT_FALSE(left.isExpand());
        EXPECT_EQ(left.widget(0)->width(), 0);
        EXPECT_FALSE(c.context().state.sideBarExpanded);
        EXPECT_EQ(left.minValue(), 120);
        left.expand();
        EXPECT_EQ(left.widget(0)->width(), 120);
    }
    // Widths beyond the limits or not numbers at all open at the nearest allowed width.
    for (const auto& [stored, expected] : {std::pair{"5000", 400}, std::pair{"abc", 200}, std::pair{"-7", 200},
                                           std::pair{"310", 310}}) {
        controller.reset();
        defaults().setString(QString::fromLatin1(stored), MainWindowController::kLeftSideBarWidthKey);
        defaults().setBool(true, MainWindowController::kLeftSideBarExpandKey);
        MainWindowController& c = open();
        // In a window with room for the document area's tool bar beside it (the test screen is
        // narrower: there the bar gives way, and takes its width back here).
        c.window()->resize(1400, 680);
        QCoreApplication::processEvents();
        EXPECT_EQ(c.context().splitView->widget(0)->width(), expected) << stored;
    }
}

// At the window's least width with both side bars and the inspector open, the tool bar's
// controls lie side by side inside the bar: the side bars give way to them, and take their
// widths back (and keep them for the next start) when the window is wide again.
TEST_F(MainWindowControllerTest, ToolBarControlsStayApartWithEveryPaneOpenAtTheLeastWidth)
{
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    WindowChrome& chrome = c.parts().chrome;
    VQTitlebarWindow& window = *c.window();
    sideBarView().selectNode(ctx.sideBarDataSource->collectionsNode().get());
    chrome.setBRightPropertyViewExpand(true);
    // The test screen is narrower than the least width a screen of its own would allow.
    window.resize(mainwindowframe::kMinimumSize);
    QApplication::processEvents();
    ASSERT_EQ(window.width(), mainwindowframe::kMinimumSize.width());
    ASSERT_TRUE(ctx.splitView->isExpand() && ctx.subSplitView->isExpand() && ctx.inspectorSplitView->isExpand());
    EXPECT_EQ(ctx.inspectorView->width(), 280);

    QWidget* bar = chrome.toolBar();
    ASSERT_TRUE(chrome.btnGroupButtons()->isVisibleTo(bar));
    ASSERT_TRUE(chrome.btnViewMode()->isVisibleTo(bar));
    std::vector<std::pair<QString, QRect>> controls;
    for (QWidget* child : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisibleTo(bar))
            continue;
        // A group's frame is wider than its buttons; the buttons are what a click meets.
        if (auto* group = dynamic_cast<KPButtonGroups*>(child)) {
            for (KPHorizontalStretchButton* button : group->buttons())
                controls.emplace_back(button->title(), button->geometry().translated(group->pos()));
        } else {
            controls.emplace_back(QString::fromLatin1(child->metaObject()->className()) + child->objectName(), child->geometry());
        }
    }
    EXPECT_GE(controls.size(), 8u);
    for (size_t i = 0; i < controls.size(); ++i) {
        EXPECT_TRUE(bar->rect().contains(controls[i].second)) << qPrintable(controls[i].first);
        for (size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i].second.intersects(controls[j].second))
                << qPrintable(controls[i].first) << " over " << qPrintable(controls[j].first);
    }

    // Wide again: the side bars have their own widths back.
    window.resize(1600, 680);
    QApplication::processEvents();
    EXPECT_EQ(ctx.splitView->widget(0)->width(), 200);
    EXPECT_EQ(ctx.subSplitView->widget(0)->width(), 200);
    window.resize(mainwindowframe::kMinimumSize);
    QApplication::processEvents();
    c.onApplicationWillExit();
    EXPECT_EQ(defaults().doubleForKey(MainWindowController::kLeftSideBarWidthKey), 200);
    EXPECT_EQ(defaults().doubleForKey(MainWindowController::kSubLeftSideBarWidthKey), 200);
}

// The title bar's navigation button: 53 x 23, its left 63 points before the side bar's end and
// its bottom 7 points up the bar; a press there holds the window still, while the menu titles
// and the search field over it stay within reach.
TEST_F(MainWindowControllerTest, TheTitleBarsNavigationButtonHoldsItsPlaceAndTheWindowStill)
{
    defaults().setString(QStringLiteral("310"), MainWindowController::kLeftSideBarWidthKey);
    MainWindowController& c = open();
    VQTitlebarWindow& window = *c.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QWidget* bar = window.titleBarView();
    KPNavButton* nav = c.parts().chrome.navButton();
    ASSERT_TRUE(nav);
    EXPECT_EQ(nav->parentWidget(), bar);
    EXPECT_TRUE(nav->isVisible());
    EXPECT_EQ(WindowChrome::upFrame(nav), QRect(310 - 63, 7, 53, 23));
    // A wider window leaves it where it is.
    window.resize(window.width() + 200, window.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(WindowChrome::upFrame(nav), QRect(310 - 63, 7, 53, 23));

    // Whatever else the bar shows over it takes its presses first.
    for (QWidget* over : {static_cast<QWidget*>(bar->findChild<QMenuBar*>()),
                          static_cast<QWidget*>(c.parts().search.searchField())}) {
        ASSERT_TRUE(over);
        const QRect shared = over->geometry() & nav->geometry();
        if (!shared.isEmpty()) {
            EXPECT_NE(bar->childAt(shared.center()), nav);
        }
    }

    // A drag from it does not move the window; from a bare part of the bar it does.
    const QPoint start = window.pos();
    QTest::mousePress(nav, Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseMove(nav, QPoint(70, 40));
    QTest::mouseRelease(nav, Qt::LeftButton, {}, QPoint(70, 40));
    QCoreApplication::processEvents();
    EXPECT_EQ(window.pos(), start);
    QPoint bare(-1, -1);
    for (int x = bar->width() / 2; x < bar->width() && bare.x() < 0; ++x)
        if (!bar->childAt(x, 20))
            bare = QPoint(x, 20);
    ASSERT_GE(bare.x(), 0);
    QTest::mousePress(bar, Qt::LeftButton, {}, bare);
    QTest::mouseMove(bar, bare + QPoint(50, 30));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, bare + QPoint(50, 30));
    QTRY_COMPARE(window.pos(), start + QPoint(50, 30));

    // With the side bar closed it waits out of sight, left of the bar.
    controller.reset();
    defaults().setBool(false, MainWindowController::kLeftSideBarExpandKey);
    MainWindowController& closed = open();
    ASSERT_TRUE(closed.parts().chrome.navButton());
    EXPECT_EQ(WindowChrome::upFrame(closed.parts().chrome.navButton()), QRect(-63, 7, 53, 23));
}

TEST_F(MainWindowControllerTest, OpensAtTheStoredFrame)
{
    defaults().setString(QStringLiteral("{{40, 30}, {700, 500}}"), QStringLiteral("MainWindowFrame"));
    MainWindowController& c = open();
    const QRect screen = c.window()->screen()->availableGeometry();
    const QSize minimum = QSize(1000, 680).boundedTo(screen.size());
    // Raised to the minimum, and on a screen too narrow for it at its own origin, moved onto it.
    EXPECT_EQ(c.window()->size(), minimum);
    EXPECT_TRUE(screen.contains(c.window()->geometry()));
    EXPECT_EQ(c.window()->y(), 30);
    if (screen.width() >= 40 + minimum.width())
        EXPECT_EQ(c.window()->x(), 40);
    controller.reset();
    defaults().setString(QStringLiteral("{{40, 30}, {0, 0}}"), QStringLiteral("MainWindowFrame"));
    open();
    EXPECT_EQ(controller->window()->size(), minimum);
}

TEST_F(MainWindowControllerTest, ShowingAMinimisedWindowRestoresIt)
{
    MainWindowController& c = open();
    c.window()->showMinimized();
    ASSERT_TRUE(c.window()->isMinimized());
    c.showWindow();
    EXPECT_FALSE(c.window()->isMinimized());
    EXPECT_TRUE(c.window()->isVisible());
}

TEST_F(MainWindowControllerTest, RestoresTheLastSelection)
{
    int allPosts = 0;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        RefreshItemCountNotification, [&](const platform::Notification& note) {
            if (note.object.toString() == QStringLiteral("All"))
                ++allPosts;
        });
    auto restoreWith = [&](const QVariant& record) -> KPNode* {
        controller.reset();
        if (record.isValid())
            defaults().setObject(record, MainWindowController::kLastSelectedInfoKey);
        else
            defaults().removeObjectForKey(MainWindowController::kLastSelectedInfoKey);
        open();
        return selected();
    };
    auto library = [](QVariant row) { return QVariantMap{{L::Name, L::Library}, {L::DataIndexValue, row}}; };

    // Row 3 of a fresh library is a LIBRARY entry below Documents.
    KPNode* third = restoreWith(library(3));
    ASSERT_TRUE(third);
    EXPECT_EQ(sideBarView().rowForNode(third), 3);
    EXPECT_EQ(allPosts, 1);
    // Past the last row: the last row.
    KPNode* last = restoreWith(library(100000));
    ASSERT_TRUE(last);
    EXPECT_EQ(sideBarView().rowForNode(last), sideBarView().numberOfRows() - 1);
    // Whatever cannot be restored shows Documents, never an empty window: row 0 is a section
    // header (and -1 clamps to it), a smart folder is not in this side bar, and damage.
    for (const QVariant& record :
         {QVariant(library(-1)), QVariant(library(0)), QVariant(library(QStringLiteral("x"))),
          QVariant(QVariantMap{{L::Name, L::SmartFolder}, {L::DataIndexValue, 4}}), QVariant(),
          QVariant(QStringLiteral("not a record")), QVariant(QVariantMap{{L::Name, 7}})}) {
        KPNode* node = restoreWith(record);
        ASSERT_TRUE(node);
        EXPECT_EQ(node->nodeType(), T::DocumentsNode);
    }
    EXPECT_EQ(allPosts, 9);
}

TEST_F(MainWindowControllerTest, AnEmptyLibraryOpensOnDocumentsWithItsEmptyView)
{
    MainWindowController& c = open();
    ASSERT_TRUE(selected());
    EXPECT_EQ(selected()->nodeType(), T::DocumentsNode);
    EXPECT_TRUE(KPDataSourceManager::shareDataSourceManager().dataSource().empty());
    ASSERT_TRUE(c.contentSwitch()->noDocumentView());
    EXPECT_EQ(c.contentSwitch()->noDocumentView()->parentWidget(), c.context().centerView.data());
    // Another node takes it away.
    sideBarView().selectNode(c.context().sideBarDataSource->trashNode().get());
    EXPECT_FALSE(c.contentSwitch()->noDocumentView());
}

TEST_F(MainWindowControllerTest, RebuildWindowNeedsBothKeysAtLoad)
{
    using platform::kit::Modifier;
    for (const auto& [mods, opens] : {std::pair{platform::kit::Modifiers(Modifier::Command), 0},
                                      std::pair{platform::kit::Modifiers(Modifier::Option), 0},
                                      std::pair{Modifier::Command | Modifier::Shift, 0},
                                      std::pair{Modifier::Command | Modifier::Option, 1}}) {
        controller.reset();
        rebuildOpens = 0;
        keys.set(mods);
        open();
        // Keys let go after the load change nothing.
        keys.set({});
        EXPECT_EQ(rebuildOpens, opens) << int(mods);
    }
}

TEST_F(MainWindowControllerTest, RebuildWindowOpensWithoutANestedLoopAndGoesWhenClosed)
{
    platform::kit::RecordingDialogService dialogs;
    dialogs.scriptModalWindow(true);
    keys.set(platform::kit::Modifier::Command | platform::kit::Modifier::Option);
    QPointer<RebuildContentWindowController> rebuild;
    MainWindowController::Options o = options();
    o.openRebuildWindow = [&](QWidget* window) { rebuild = RebuildContentWindowController::openLibraryWindow(window); };
    open(o);
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.count(platform::kit::RecordingDialogService::Kind::ModalWindow) == 1; }));
    const auto request = dialogs.last(platform::kit::RecordingDialogService::Kind::ModalWindow);
    EXPECT_EQ(request.window, controller->window());
    ASSERT_TRUE(request.shown);
    ASSERT_TRUE(rebuild);
    EXPECT_EQ(request.shown.data(), static_cast<QWidget*>(rebuild->window()));
    // The window is the main window's child, centred over it, and it and its controller go
    // when it closes.
    const QPointer<QWidget> shown = request.shown;
    shown->close();
    EXPECT_TRUE(testsupport::spinUntil([&] { return !shown && !rebuild; }));
}

TEST_F(MainWindowControllerTest, SavesTheWindowStateAtQuit)
{
    defaults().setString(QStringLiteral("{{1, 2}, {1100, 700}}"), QStringLiteral("MainWindowFrame"));
    MainWindowController& c = open();
    // Room for both side bars and the document area's tool bar (the test screen is narrower).
    c.window()->resize(1400, 700);
    QCoreApplication::processEvents();
    SideBarDataSource& bar = *c.context().sideBarDataSource;
    sideBarView().selectNode(bar.tagsNode().get());
    c.context().splitView->dragDividerTo(260);
    c.context().subSplitView->dragDividerTo(150);
    c.onApplicationWillExit();

    EXPECT_EQ(defaults().dictionaryForKey(MainWindowController::kLastSelectedInfoKey), bar.lastSelectedInfo());
    EXPECT_EQ(defaults().dictionaryForKey(MainWindowController::kLastSelectedInfoKey).value(L::DataIndexValue).toInt(),
              sideBarView().rowForNode(bar.tagsNode().get()));
    EXPECT_EQ(defaults().doubleForKey(MainWindowController::kLeftSideBarWidthKey), 260);
    EXPECT_EQ(defaults().doubleForKey(MainWindowController::kSubLeftSideBarWidthKey), 150);
    EXPECT_TRUE(defaults().boolForKey(MainWindowController::kLeftSideBarExpandKey));
    // The frame is the quit step's to write, once.
    EXPECT_EQ(defaults().stringForKey(QStringLiteral("MainWindowFrame")), QStringLiteral("{{1, 2}, {1100, 700}}"));

    // Documents shown: the second bar's width is not its own to keep; a collapsed side bar
    // keeps the width it will open at, not nothing.
    sideBarView().selectNode(bar.documentsNode().get());
    c.context().subSplitView->dragDividerTo(330);
    c.context().splitView->collapse();
    c.onApplicationWillExit();
    EXPECT_EQ(defaults().doubleForKey(MainWindowController::kSubLeftSideBarWidthKey), 150);
    EXPECT_EQ(defaults().doubleForKey(MainWindowController::kLeftSideBarWidthKey), 260);
    EXPECT_FALSE(defaults().boolForKey(MainWindowController::kLeftSideBarExpandKey));
}

TEST_F(MainWindowControllerTest, QuitBeforeTheSideBarsLoadedKeepsTheStoredSelection)
{
    const QVariantMap record{{L::Name, L::Library}, {L::DataIndexValue, 3}};
    defaults().setObject(record, MainWindowController::kLastSelectedInfoKey);
    controller = std::make_unique<MainWindowController>(options());
    ASSERT_FALSE(controller->isRestored());
    controller->onApplicationWillExit();
    EXPECT_EQ(defaults().dictionaryForKey(MainWindowController::kLastSelectedInfoKey), record);
}

TEST_F(MainWindowControllerTest, CloseAsksToQuitAndSheetsHangBelowTheBar)
{
    MainWindowController& c = open();
    c.window()->close();
    EXPECT_EQ(closeRequests, 1);
    // The quit check decides; until it does, the window stays.
    EXPECT_TRUE(c.window()->isVisible());
    EXPECT_EQ(c.windowWillPositionSheet(c.window(), QRectF(0, 640, 1000, 0)), QRectF(0, 622, 1000, 0));

    // A real sheet comes out under the tall bar, over none of its menus.
    platform::kit::Sheet sheet(new QWidget);
    sheet.content()->resize(300, 120);
    sheet.setAnimates(false);
    sheet.begin(c.window(), [](int) {});
    ASSERT_TRUE(sheet.isShown());
    EXPECT_EQ(sheet.panel()->mapTo(c.window(), QPoint()).y(), int(c.window()->titleBarHeight()));
    sheet.end(0);
}

} // namespace
