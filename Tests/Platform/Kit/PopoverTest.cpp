#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Kit/PopoverMarker.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/WindowAttachments.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace platform::kit;
using namespace platform::kit::popover_metrics;

namespace {

const QSize kBody(200, 100);
const QRect kScreen(0, 0, 1000, 800);

// An editor that keeps Esc for itself, as a token field does while it has something to undo.
class EscEatingEdit : public QLineEdit {
protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if (e->key() == Qt::Key_Escape) {
            e->accept();
            return;
        }
        QLineEdit::keyPressEvent(e);
    }
};

struct Window {
    QWidget widget;
    QPushButton* anchor;
    QPushButton* elsewhere;

    Window()
    {
        widget.resize(600, 400);
        anchor = new QPushButton(QStringLiteral("Anchor"), &widget);
        anchor->setGeometry(250, 60, 100, 24);
        elsewhere = new QPushButton(QStringLiteral("Elsewhere"), &widget);
        elsewhere->setGeometry(20, 340, 100, 24);
        widget.show();
        widget.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget));
    }
};

} // namespace

TEST(PopoverPlacement, FlipsWhenThePreferredSideHasNoRoomAndStaysInsideTheBounds)
{
    // Too near the bottom for "below", too near the top for "above", likewise sideways.
    EXPECT_EQ(placePopover(QRect(400, 750, 100, 20), kBody, PopoverEdge::MinY, kScreen).edge, PopoverEdge::MaxY);
    EXPECT_EQ(placePopover(QRect(400, 10, 100, 20), kBody, PopoverEdge::MaxY, kScreen).edge, PopoverEdge::MinY);
    EXPECT_EQ(placePopover(QRect(20, 300, 100, 20), kBody, PopoverEdge::MinX, kScreen).edge, PopoverEdge::MaxX);
    EXPECT_EQ(placePopover(QRect(880, 300, 100, 20), kBody, PopoverEdge::MaxX, kScreen).edge, PopoverEdge::MinX);
    // Exactly enough room is enough.
    EXPECT_EQ(placePopover(QRect(400, 800 - 20 - 109, 100, 20), kBody, PopoverEdge::MinY, kScreen).edge, PopoverEdge::MinY);

    // Neither above nor below fits in a flat strip: the side with the most room wins.
    const QRect strip(0, 0, 1000, 150);
    const PopoverPlacement side = placePopover(QRect(600, 60, 100, 20), kBody, PopoverEdge::MinY, strip);
    EXPECT_EQ(side.edge, PopoverEdge::MinX);
    EXPECT_TRUE(strip.contains(side.frame));

    // At the screen's left and right ends the body slides inside while the arrow keeps
    // pointing at the anchor, as far as the rounded corners allow.
    const int margin = kCornerRadius + kArrowBase / 2;
    const PopoverPlacement atLeft = placePopover(QRect(0, 300, 40, 20), kBody, PopoverEdge::MinY, kScreen);
    EXPECT_EQ(atLeft.frame.x(), 0);
    EXPECT_EQ(atLeft.arrowCenter, 20);
    const PopoverPlacement atCorner = placePopover(QRect(0, 300, 4, 20), kBody, PopoverEdge::MinY, kScreen);
    EXPECT_EQ(atCorner.arrowCenter, margin);
    const PopoverPlacement atRight = placePopover(QRect(990, 300, 10, 20), kBody, PopoverEdge::MaxY, kScreen);
    EXPECT_EQ(atRight.frame.right(), kScreen.right());
    EXPECT_EQ(atRight.arrowCenter, 200 - margin);

    // Bounds with an offset origin (a second screen) and a body larger than the bounds.
    const QRect second(1000, 0, 800, 600);
    const PopoverPlacement offset = placePopover(QRect(1010, 100, 20, 20), kBody, PopoverEdge::MinY, second);
    EXPECT_EQ(offset.frame.x(), 1000);
    const PopoverPlacement huge = placePopover(QRect(100, 100, 20, 20), QSize(2000, 100), PopoverEdge::MinY, kScreen);
    EXPECT_EQ(huge.frame.x(), 0);
}

TEST(PopoverPopup, ClosesOnceOnOutsideClickEscDeactivationAndAnchorLoss)
{
    Window w;
    Popover popover(Popover::Form::Popup);
    popover.setAnimates(false);
    auto* content = new QLabel(QStringLiteral("Flags"));
    popover.setContentWidget(content);
    popover.setContentSize(QSize(120, 80));
    int closedSignals = 0, closedCallbacks = 0;
    QObject::connect(&popover, &Popover::closed, [&] { ++closedSignals; });
    popover.setOnClosed([&] { ++closedCallbacks; });

    popover.show(w.anchor, QRect(), PopoverEdge::MinY);
    ASSERT_TRUE(popover.isShown());
    QWidget* frame = popover.frameWidget();
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->windowFlags().testFlag(Qt::Popup));
    EXPECT_TRUE(isPopoverWindow(frame));
    EXPECT_TRUE(isInsidePopover(content));
    EXPECT_TRUE(WindowAttachments::shared().hasAttachment(&w.widget));
    const QPoint anchorBottom = w.anchor->mapToGlobal(QPoint(0, w.anchor->height()));
    EXPECT_EQ(frame->geometry().top(), anchorBottom.y());

    // A press outside: Qt closes the popup, the popover reports it once.
    QTest::mouseClick(w.widget.windowHandle(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(popover.isShown());
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(closedSignals, 1);
    EXPECT_EQ(closedCallbacks, 1);
    EXPECT_FALSE(WindowAttachments::shared().hasAttachment(&w.widget));
    popover.close();
    EXPECT_EQ(closedSignals, 1);

    // Esc that the content leaves unhandled.
    popover.show(w.anchor, QRect(), PopoverEdge::MinY);
    QTest::keyClick(content, Qt::Key_Escape);
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closedSignals, 2);

    // The application is deactivated.
    popover.show(w.anchor, QRect(), PopoverEdge::MinY);
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closedSignals, 3);

    // The anchor goes away while it is shown.
    popover.show(w.anchor, QRect(), PopoverEdge::MinY);
    delete w.anchor;
    w.anchor = nullptr;
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closedSignals, 4);
    EXPECT_EQ(closedCallbacks, 4);
}

TEST(PopoverPopup, IsShapedToItsBodyAndArrowSoNothingBesideTheArrowIsDrawn)
{
    // A popup is a window of its own; without a compositing manager whatever of it is left
    // see-through shows black, so the window must not cover it.
    Window w;
    Popover popover(Popover::Form::Popup);
    popover.setAnimates(false);
    popover.setContentWidget(new QLabel(QStringLiteral("Usage")));
    popover.setContentSize(QSize(120, 80));
    for (const PopoverEdge edge : {PopoverEdge::MinY, PopoverEdge::MaxY}) {
        popover.show(w.anchor, QRect(), edge);
        const QWidget* frame = popover.frameWidget();
        const QRegion shape = frame->mask();
        ASSERT_FALSE(shape.isEmpty());
        const int width = frame->width();
        const int height = frame->height();
        const bool below = popover.edge() == PopoverEdge::MinY;
        const int arrowRow = below ? kArrowLength / 2 : height - 1 - kArrowLength / 2;
        const int bodyRow = below ? kArrowLength + kCornerRadius + 2 : height - 1 - kArrowLength - kCornerRadius - 2;
        // The rows beside the arrow are outside, the arrow's middle and the body inside.
        EXPECT_FALSE(shape.contains(QPoint(2, arrowRow)));
        EXPECT_FALSE(shape.contains(QPoint(width - 3, arrowRow)));
        EXPECT_TRUE(shape.contains(QPoint(width / 2, arrowRow)));
        EXPECT_TRUE(shape.contains(QPoint(2, bodyRow)));
        EXPECT_TRUE(shape.contains(QPoint(width - 3, bodyRow)));
        // The rounded corners are left out too.
        EXPECT_FALSE(shape.contains(QPoint(0, below ? kArrowLength : height - 1 - kArrowLength)));
        popover.close();
    }
}

TEST(PopoverOverlay, KeepsFocusInItsFieldWhileACompletionListOpensAndCloses)
{
    Window w;
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.widget));
    VirtualScheduler clock;
    Popover popover(Popover::Form::Overlay);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* edit = new QLineEdit;
    layout->addWidget(edit);
    auto* completer = new QCompleter(QStringList{QStringLiteral("apple"), QStringLiteral("apricot")}, edit);
    edit->setCompleter(completer);
    popover.setContentWidget(content);
    popover.setContentSize(QSize(220, 60));
    int closed = 0;
    QObject::connect(&popover, &Popover::closed, [&] { ++closed; });

    w.elsewhere->setFocus();
    popover.show(w.anchor, QRect(), PopoverEdge::MinY);
    popover.addCompletionPopup(completer->popup());
    QWidget* frame = popover.frameWidget();
    EXPECT_EQ(frame->parentWidget(), &w.widget);
    EXPECT_EQ(frame->geometry().top(), w.anchor->geometry().bottom() + 1);
    EXPECT_EQ(QApplication::focusWidget(), edit);

    // The fade runs on the scheduler's clock.
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(frame->graphicsEffect());
    ASSERT_NE(fade, nullptr);
    clock.advance(Popover::kFadeInMs / 2);
    EXPECT_GT(fade->opacity(), 0.2);
    EXPECT_LT(fade->opacity(), 0.8);
    clock.advance(Popover::kFadeInMs);
    EXPECT_EQ(frame->graphicsEffect(), nullptr);

    QTest::keyClicks(edit, QStringLiteral("ap"));
    QWidget* list = completer->popup();
    ASSERT_TRUE(list->isVisible());
    EXPECT_TRUE(list->windowFlags().testFlag(Qt::Popup));
    EXPECT_TRUE(isInsidePopover(list));
    EXPECT_TRUE(popover.isShown());
    EXPECT_EQ(QApplication::focusWidget(), edit);

    // The first Esc closes only the completion list, the second the popover.
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_FALSE(list->isVisible());
    EXPECT_TRUE(popover.isShown());
    EXPECT_EQ(QApplication::focusWidget(), edit);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closed, 1);
    // Focus goes back where it was before the popover took it.
    EXPECT_EQ(QApplication::focusWidget(), w.elsewhere);
}

TEST(PopoverOverlay, ClosesOnPressesElsewhereAndWithItsWindowButNotOnEscItsContentTakes)
{
    int closed = 0;
    auto window = std::make_unique<Window>();
    Popover popover(Popover::Form::Overlay);
    popover.setAnimates(false);
    auto* edit = new EscEatingEdit;
    popover.setContentWidget(edit);
    QObject::connect(&popover, &Popover::closed, [&] { ++closed; });

    popover.show(window->anchor, QRect(0, 0, 10, 10), PopoverEdge::MaxX);
    EXPECT_EQ(popover.edge(), PopoverEdge::MaxX);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_TRUE(popover.isShown());

    platform::NotificationCenter::defaultCenter().post(QStringLiteral("MonitorResignWindowResign"),
                                                       QVariant::fromValue<QObject*>(&window->widget));
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closed, 1);
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("MonitorResignWindowResign"));
    EXPECT_EQ(closed, 1);

    popover.show(window->anchor, QRect(), PopoverEdge::MinY);
    window->widget.hide();
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closed, 2);

    window->widget.show();
    popover.show(window->anchor, QRect(), PopoverEdge::MinY);
    ASSERT_TRUE(popover.isShown());
    window.reset();   // the window is destroyed with the popover open, and its content with it
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closed, 3);
    EXPECT_EQ(popover.contentWidget(), nullptr);
    EXPECT_EQ(popover.frameWidget(), nullptr);
}

// Where asked, an anchor that moves while the popover is open (the search field widening as the
// user starts typing) takes the popover along, so that it stays under what it belongs to.
TEST(PopoverOverlay, FollowsItsAnchorWhileOpenWhereAsked)
{
    Window window;
    Popover popover(Popover::Form::Overlay);
    popover.setAnimates(false);
    popover.setContentWidget(new QLabel(QStringLiteral("list")));
    popover.setContentSize(kBody);
    // Not asked: it stays where it opened.
    popover.show(window.anchor, QRect(0, 0, 36, 24), PopoverEdge::MinY);
    ASSERT_TRUE(popover.isShown());
    const QRect before = popover.frameWidget()->geometry();
    window.anchor->setGeometry(130, 60, 220, 24);
    EXPECT_EQ(popover.frameWidget()->geometry(), before);
    popover.close();
    window.anchor->setGeometry(250, 60, 100, 24);

    popover.setFollowsAnchor(true);
    popover.show(window.anchor, QRect(0, 0, 36, 24), PopoverEdge::MinY);
    ASSERT_TRUE(popover.isShown());
    EXPECT_EQ(popover.frameWidget()->geometry(), before);
    window.anchor->setGeometry(130, 60, 220, 24);
    EXPECT_EQ(popover.frameWidget()->geometry(), before.translated(-120, 0));
    popover.close();
    window.anchor->setGeometry(250, 60, 100, 24);
    EXPECT_FALSE(popover.isShown());
}
