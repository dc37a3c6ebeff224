// The event rules against real widgets: presses inside an in-window popover, or inside the
// completion list it opened, must not close it through "MonitorResignWindowResign".
#include "App/KPEventRules.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Popover.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using platform::kit::Popover;
using platform::kit::PopoverEdge;

TEST(KPEventRulesPopover, PressesInsideAnOverlayAndItsCompletionListKeepItOpen)
{
    QWidget window;
    window.resize(500, 400);
    auto* anchor = new QWidget(&window);
    anchor->setGeometry(20, 20, 60, 20);
    auto* elsewhere = new QLineEdit(&window);
    elsewhere->setGeometry(20, 300, 100, 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    Popover popover(Popover::Form::Overlay);
    popover.setAnimates(false);
    auto* content = new QWidget;
    auto* edit = new QLineEdit;
    (new QVBoxLayout(content))->addWidget(edit);
    auto* completer = new QCompleter(QStringList{QStringLiteral("apple"), QStringLiteral("apricot")}, edit);
    edit->setCompleter(completer);
    popover.setContentWidget(content);
    popover.show(anchor, QRect(), PopoverEdge::MinY);
    popover.addCompletionPopup(completer->popup());
    int closed = 0;
    QObject::connect(&popover, &Popover::closed, [&] { ++closed; });
    QTest::keyClicks(edit, QStringLiteral("ap"));
    QWidget* list = completer->popup();
    ASSERT_TRUE(list->isVisible());

    int resigns = 0;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("MonitorResignWindowResign"), [&](const platform::Notification&) { ++resigns; });
    KPEventRules rules;
    auto press = [&](QWidget* receiver) {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(2, 2), receiver->mapToGlobal(QPointF(2, 2)), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        rules.apply(&event, receiver);
    };

    // The field sits deep inside the overlay, which is a child of the window itself; the list
    // is a popup window of its own, marked by the popover.
    ASSERT_EQ(popover.frameWidget()->window(), &window);
    press(edit);
    press(content);
    press(list);
    if (auto* viewport = list->findChild<QWidget*>())
        press(viewport);
    EXPECT_EQ(resigns, 0);
    EXPECT_TRUE(popover.isShown());

    press(elsewhere);
    EXPECT_EQ(resigns, 1);
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closed, 1);
}
