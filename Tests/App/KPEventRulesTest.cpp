#include "App/KPEventRules.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <gtest/gtest.h>

namespace {

class KPEventRulesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        token = platform::NotificationCenter::defaultCenter().addObserver(
            {}, [this](const platform::Notification& n) {
                names << n.name;
                objects << n.object;
            });
    }

    static QMouseEvent press(Qt::MouseButton button)
    {
        return QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), button, button,
                           Qt::NoModifier);
    }

    static QObject* objectAt(const QVariant& v) { return v.value<QObject*>(); }

    KPEventRules rules;
    QStringList names;
    QVariantList objects;
    platform::ObserverToken token;
};

} // namespace

TEST_F(KPEventRulesTest, MouseDownOutsidePopoversResignsMonitors)
{
    QWidget window;
    auto left = press(Qt::LeftButton);
    rules.apply(&left, &window);
    ASSERT_EQ(names, QStringList{QStringLiteral("MonitorResignWindowResign")});
    EXPECT_EQ(objectAt(objects[0]), &window);

    names.clear();
    objects.clear();
    auto right = press(Qt::RightButton);
    rules.apply(&right, nullptr); // no window: posted with no object
    ASSERT_EQ(names, QStringList{QStringLiteral("MonitorResignWindowResign")});
    EXPECT_FALSE(objects[0].isValid());

    names.clear();
    auto middle = press(Qt::MiddleButton);
    rules.apply(&middle, &window);
    EXPECT_TRUE(names.isEmpty());
}

TEST_F(KPEventRulesTest, MouseDownInPopoverPostsNothing)
{
    QWidget popover;
    KPEventRules::markAsPopoverWindow(&popover);
    auto left = press(Qt::LeftButton);
    rules.apply(&left, &popover);
    EXPECT_TRUE(names.isEmpty());
}

TEST_F(KPEventRulesTest, ClickElsewhereResignsTheAutoCompletionList)
{
    QWidget window, completion;
    rules.setAutoCompletedWindow(&completion);

    auto inside = press(Qt::LeftButton);
    rules.apply(&inside, &completion);
    EXPECT_EQ(names, QStringList{QStringLiteral("MonitorResignWindowResign")});

    names.clear();
    objects.clear();
    auto outside = press(Qt::LeftButton);
    rules.apply(&outside, &window);
    ASSERT_EQ(names, (QStringList{QStringLiteral("MonitorResignWindowResign"),
                                  QStringLiteral("AutoCompletedWindowResign")}));
    EXPECT_EQ(objectAt(objects[1]), &completion);

    // A list that has gone away is forgotten, not posted about.
    {
        auto* gone = new QWidget;
        rules.setAutoCompletedWindow(gone);
        delete gone;
    }
    names.clear();
    auto again = press(Qt::LeftButton);
    rules.apply(&again, &window);
    EXPECT_EQ(names, QStringList{QStringLiteral("MonitorResignWindowResign")});
}

TEST_F(KPEventRulesTest, MagnifyOnlyInTheMainWindowAndModifierChanges)
{
    QWidget mainWindow, other;
    rules.setMainWindow(&mainWindow);
    QNativeGestureEvent zoom(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2,
                             QPointF(1, 1), QPointF(1, 1), QPointF(1, 1), 0.25, QPointF(), 0);
    rules.apply(&zoom, &other);
    EXPECT_TRUE(names.isEmpty());
    rules.apply(&zoom, &mainWindow);
    ASSERT_EQ(names, QStringList{QStringLiteral("MouseMagnify")});
    EXPECT_DOUBLE_EQ(objects[0].toDouble(), 0.25);

    names.clear();
    QKeyEvent shiftDown(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QKeyEvent altUp(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
    rules.apply(&shiftDown, &mainWindow);
    rules.apply(&letter, &mainWindow);
    rules.apply(&altUp, nullptr);
    EXPECT_EQ(names, (QStringList{QStringLiteral("NSFlagsChanged"), QStringLiteral("NSFlagsChanged")}));
}
