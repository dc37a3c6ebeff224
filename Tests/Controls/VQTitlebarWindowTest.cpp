// An offscreen title-bar window: geometry of bar, buttons and content, dragging through the
// fallback, the double-click setting, the main-window rule and refused closes.
#include "Controls/VQTitlebarView.h"
#include "Controls/VQTitlebarWindow.h"
#include "Controls/VQWindowButton.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/Kit/WindowAttachments.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using platform::kit::Popover;
using platform::kit::PopoverEdge;
using platform::kit::Sheet;

namespace {

struct RecordingDelegate : VQTitlebarWindowDelegate {
    int closeAsks = 0;
    std::optional<bool> answerClose;
    std::optional<QRectF> sheetAnswer;
    std::optional<QRectF> windowWillPositionSheet(VQTitlebarWindow*, const QRectF&) override { return sheetAnswer; }
    std::optional<bool> windowShouldClose(VQTitlebarWindow*) override
    {
        ++closeAsks;
        return answerClose;
    }
};

VQWindowButton* themedLike(const char* group)
{
    return new VQWindowButton(QSize(14, 16), QLatin1String(group));
}

void setUpLikeTheMainWindow(VQTitlebarWindow& w)
{
    w.setTitleBarHeight(40);
    w.setFullScreenButtonRightMargin(10);
    w.setCenterFullScreenButton(true);
    w.setCloseButton(themedLike("CloseButton"));
    w.setMinimizeButton(themedLike("MinButton"));
    w.setZoomButton(themedLike("ZoomButton"));
    w.setGeometry(100, 100, 1000, 680);
}

} // namespace

TEST(VQTitlebarWindow, ResizesKeepTheBarMarginsAndAReplacedButtonGivesWayToTheStandardOne)
{
    VQTitlebarWindow w;
    setUpLikeTheMainWindow(w);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    EXPECT_EQ(w.contentWidget()->geometry(), QRect(0, 40, 1000, 640));
    EXPECT_TRUE(w.standardButton(VQTitlebarWindow::ButtonKind::Close)->isHidden());
    EXPECT_FALSE(w.closeButton()->isHidden());

    // The margin set by the caller survives a resize.
    w.resize(1300, 700);
    QTRY_COMPARE(w.width(), 1300);
    EXPECT_EQ(w.buttonToLayout(VQTitlebarWindow::ButtonKind::FullScreen)->frame().right() + 1, 1300 - 10);
    EXPECT_EQ(w.contentWidget()->geometry(), QRect(0, 40, 1300, 660));

    // A replacement set back to null leaves the bar; the standard button returns in its place.
    QPointer<VQWindowButton> replaced = w.closeButton();
    w.setCloseButton(nullptr);
    EXPECT_EQ(w.closeButton(), nullptr);
    EXPECT_EQ(replaced->parentWidget(), nullptr);
    EXPECT_FALSE(w.standardButton(VQTitlebarWindow::ButtonKind::Close)->isHidden());
    EXPECT_EQ(w.standardButton(VQTitlebarWindow::ButtonKind::Close)->frame(), QRect(8, 12, 14, 16));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(replaced.isNull());

    // A window whose caller never set the margin keeps the standard one.
    VQTitlebarWindow plain;
    plain.resize(600, 400);
    plain.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plain));
    const QRect fs = plain.buttonToLayout(VQTitlebarWindow::ButtonKind::FullScreen)->frame();
    plain.resize(900, 400);
    QTRY_COMPARE(plain.width(), 900);
    EXPECT_EQ(900 - (plain.buttonToLayout(VQTitlebarWindow::ButtonKind::FullScreen)->frame().right() + 1),
              600 - (fs.right() + 1));
    EXPECT_EQ(plain.titleBarContainer()->height(), 22);
}

TEST(VQTitlebarWindow, SheetsHangFromTheBarUnlessTheDelegateSaysOtherwise)
{
    VQTitlebarWindow w;
    setUpLikeTheMainWindow(w);
    RecordingDelegate delegate;
    w.setDelegate(&delegate);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    Sheet sheet(new QWidget);
    sheet.content()->resize(300, 120);
    sheet.setAnimates(false);
    int code = 99;
    sheet.begin(&w, [&](int c) { code = c; });
    ASSERT_TRUE(sheet.isShown());
    EXPECT_EQ(sheet.panel()->mapTo(&w, QPoint()).y(), 40);

    // The close button and the window manager's close are both refused; the delegate is not
    // even asked.
    w.closeButton()->click();
    w.close();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(delegate.closeAsks, 0);
    sheet.end(1);
    EXPECT_EQ(code, 1);

    // A delegate answering the position is taken as it answers (y-up: 100 below the top).
    delegate.sheetAnswer = QRectF(0, 680 - 100, 1000, 0);
    Sheet second(new QWidget);
    second.setAnimates(false);
    second.begin(&w, [](int) {});
    EXPECT_EQ(second.panel()->mapTo(&w, QPoint()).y(), 100);
    second.end(0);

    // Without a sheet the delegate decides; an unanswered question lets the window close.
    delegate.answerClose = false;
    w.closeButton()->click();
    EXPECT_EQ(delegate.closeAsks, 1);
    EXPECT_TRUE(w.isVisible());
    delegate.answerClose.reset();
    w.closeButton()->click();
    EXPECT_EQ(delegate.closeAsks, 2);
    EXPECT_FALSE(w.isVisible());
}

TEST(VQTitlebarWindow, DragOnTheBarMovesTheWindowItselfWhenTheSystemWillNot)
{
    VQTitlebarWindow w;
    setUpLikeTheMainWindow(w);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QPoint start = w.pos();

    // The press lands on the bar's view, which leaves it to the container.
    QTest::mousePress(w.titleBarView(), Qt::LeftButton, {}, QPoint(300, 20));
    QTest::mouseMove(w.titleBarView(), QPoint(350, 50));
    QTest::mouseRelease(w.titleBarView(), Qt::LeftButton, {}, QPoint(350, 50));
    EXPECT_TRUE(w.titleBarContainer()->movedManually());
    QTRY_COMPARE(w.pos(), start + QPoint(50, 30));

    // A press on the content is no drag.
    const QPoint before = w.pos();
    QTest::mousePress(w.contentWidget(), Qt::LeftButton, {}, QPoint(300, 200));
    QTest::mouseMove(w.contentWidget(), QPoint(400, 300));
    QTest::mouseRelease(w.contentWidget(), Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_EQ(w.pos(), before);
}

TEST(VQTitlebarWindow, DoubleClickMinimisesOnlyWithTheSetting)
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.removeObjectForKey(VQTitlebarView::kMiniaturizeOnDoubleClickKey);
    VQTitlebarWindow w;
    setUpLikeTheMainWindow(w);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    QTest::mouseDClick(w.titleBarView(), Qt::LeftButton, {}, QPoint(300, 20));
    EXPECT_FALSE(w.isMinimized());
    defaults.setBool(false, VQTitlebarView::kMiniaturizeOnDoubleClickKey);
    QTest::mouseDClick(w.titleBarView(), Qt::LeftButton, {}, QPoint(300, 20));
    EXPECT_FALSE(w.isMinimized());
    defaults.setBool(true, VQTitlebarView::kMiniaturizeOnDoubleClickKey);
    QTest::mouseDClick(w.titleBarView(), Qt::LeftButton, {}, QPoint(300, 20));
    EXPECT_TRUE(w.isMinimized());
    defaults.removeObjectForKey(VQTitlebarView::kMiniaturizeOnDoubleClickKey);
}

TEST(VQTitlebarWindow, BarControlsFollowTheMainWindowRule)
{
    VQTitlebarWindow w;
    setUpLikeTheMainWindow(w);
    auto* search = new QPushButton(QStringLiteral("Search"), w.titleBarView());
    auto* anchor = new QLineEdit(w.contentWidget());
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_TRUE(search->isEnabled());

    QWidget other;
    other.resize(200, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_FALSE(w.isActiveWindow());
    EXPECT_FALSE(search->isEnabled());

    // A sheet or a popover of the window keeps it main even while another window is active.
    Sheet sheet(new QWidget);
    sheet.setAnimates(false);
    sheet.begin(&w, [](int) {});
    EXPECT_TRUE(search->isEnabled());
    sheet.end(0);
    EXPECT_FALSE(search->isEnabled());

    Popover popover(Popover::Form::Overlay);
    popover.setAnimates(false);
    popover.setContentWidget(new QLineEdit);
    popover.show(anchor, QRect(), PopoverEdge::MinY);
    EXPECT_TRUE(search->isEnabled());
    popover.close();
    EXPECT_FALSE(search->isEnabled());

    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_TRUE(search->isEnabled());
}

TEST(VQTitlebarWindow, FullScreenHidesTheButtonsAndComesBack)
{
    VQTitlebarWindow w;
    setUpLikeTheMainWindow(w);
    w.hideTitleBarInFullScreen = true;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    w.toggleFullScreen();
    QTRY_VERIFY(w.isFullScreen());
    EXPECT_TRUE(w.closeButton()->isHidden());
    EXPECT_TRUE(w.buttonToLayout(VQTitlebarWindow::ButtonKind::FullScreen)->isHidden());
    EXPECT_EQ(w.titleBarHeight(), 0);
    EXPECT_TRUE(w.titleBarView()->isHidden());
    EXPECT_EQ(w.contentWidget()->geometry().top(), 0);

    w.toggleFullScreen();
    QTRY_VERIFY(!w.isFullScreen());
    EXPECT_FALSE(w.closeButton()->isHidden());
    EXPECT_TRUE(w.standardButton(VQTitlebarWindow::ButtonKind::Close)->isHidden());
    EXPECT_EQ(w.titleBarHeight(), 40);
    EXPECT_EQ(w.contentWidget()->geometry().top(), 40);
}

TEST(VQTitlebarWindow, DestroyedWithSheetsAnAlertAndAPopoverUpEndsThemAll)
{
    // Logout or a quit under a sheet destroys the window while these are up: the attachments
    // they report away must not reach the half-destroyed window.
    auto w = std::make_unique<VQTitlebarWindow>();
    setUpLikeTheMainWindow(*w);
    auto* anchor = new QPushButton(QStringLiteral("Anchor"), w->contentWidget());
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));

    QStringList log;
    Sheet shown(new QWidget);
    shown.setAnimates(false);
    Sheet queued(new QWidget);
    queued.setCancelCode(-1);
    shown.begin(w.get(), [&](int code) { log << QStringLiteral("shown%1").arg(code); });
    queued.begin(w.get(), [&](int code) { log << QStringLiteral("queued%1").arg(code); });
    platform::kit::Alert::withMessage(QStringLiteral("Switch?"), QStringLiteral("OK"), QStringLiteral("Cancel"), QString())
        .beginSheet(w.get(), [&](int code) { log << QStringLiteral("alert%1").arg(code); });
    Popover popover(Popover::Form::Popup);
    popover.setAnimates(false);
    popover.setContentWidget(new QPushButton(QStringLiteral("In the popover")));
    int closed = 0;
    QObject::connect(&popover, &Popover::closed, [&] { ++closed; });
    popover.show(anchor, QRect(), PopoverEdge::MinY);
    ASSERT_TRUE(popover.isShown());

    QWidget* const gone = w.get();
    w.reset();
    EXPECT_EQ(log, QStringList({"shown0", "queued-1", "alert0"}));
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(platform::kit::WindowAttachments::shared().hasAttachment(gone));
}
