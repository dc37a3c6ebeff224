// Window buttons with synthetic enter and leave: roll-over groups, the grown tracking area,
// full screen, and the end of a resize in virtual time.
#include "Controls/VQWindowButton.h"
#include "ControlsTestSupport.h"
#include "Platform/Kit/Scheduler.h"

#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

using Look = VQWindowButton::Look;

namespace {

QImage solid(const QColor& c)
{
    QImage img(14, 16, QImage::Format_ARGB32_Premultiplied);
    img.fill(c);
    return img;
}

// A bar with two buttons of one group and one of another, each with four images.
struct Bar {
    explicit Bar(const QString& group)
    {
        window.resize(300, 60);
        a = make(group, QRect(10, 10, 14, 16));
        b = make(group, QRect(40, 10, 14, 16));
        other = make(group + QStringLiteral(".other"), QRect(70, 10, 14, 16));
    }
    VQWindowButton* make(const QString& group, const QRect& frame)
    {
        auto* button = new VQWindowButton(frame.size(), group, &window);
        button->setFrame(frame);
        button->setActiveImage(solid(controlstest::kNormal));
        button->setActiveNotKeyWindowImage(solid(controlstest::kDisabled));
        button->setRolloverImage(solid(controlstest::kOver));
        button->setPressedImage(solid(controlstest::kDown));
        return button;
    }
    // The button's own centre, inside its widget.
    static QPoint centre(VQWindowButton* b) { return QPoint(b->width() / 2, b->height() / 2); }

    QWidget window;
    VQWindowButton* a;
    VQWindowButton* b;
    VQWindowButton* other;
};

} // namespace

TEST(VQWindowButton, AGroupRollsOverTogetherAndItsCountNeverGoesBelowZero)
{
    Bar bar(QStringLiteral("test.rollover"));
    auto* group = bar.a->group();
    EXPECT_EQ(group, bar.b->group());
    int updates = 0;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        VQWindowButtonGroup::kDidUpdateRolloverStateNotification,
        [&](const platform::Notification& n) {
            EXPECT_EQ(n.object.value<QObject*>(), group);
            ++updates;
        },
        QVariant::fromValue<QObject*>(group));

    EXPECT_EQ(bar.a->currentLook(), Look::ActiveNotKey);
    controlstest::enter(*bar.a, Bar::centre(bar.a));
    EXPECT_EQ(bar.a->currentLook(), Look::Rollover);
    EXPECT_EQ(bar.b->currentLook(), Look::Rollover);
    EXPECT_EQ(bar.other->currentLook(), Look::ActiveNotKey);
    EXPECT_EQ(controlstest::pixel(*bar.b, Bar::centre(bar.b)), controlstest::kOver);
    controlstest::leave(*bar.a);
    EXPECT_EQ(bar.a->currentLook(), Look::ActiveNotKey);
    EXPECT_EQ(bar.b->currentLook(), Look::ActiveNotKey);
    EXPECT_EQ(updates, 2);

    // An exit without its entry is refused silently, as is any negative count.
    controlstest::leave(*bar.b);
    group->setNumberOfCaptures(-1);
    EXPECT_EQ(group->numberOfCaptures(), 0);
    EXPECT_EQ(updates, 2);

    // A disabled button shows its inactive image whatever the group does.
    bar.b->setEnabled(false);
    controlstest::enter(*bar.a, Bar::centre(bar.a));
    EXPECT_EQ(bar.b->currentLook(), Look::Inactive);
    controlstest::leave(*bar.a);

    // No identifier: the default group.
    VQWindowButton plain(QSize(14, 16), QString());
    EXPECT_EQ(plain.group()->identifier(), VQWindowButtonGroup::kDefaultIdentifier);
    EXPECT_EQ(plain.group(), VQWindowButtonGroup::groupWithIdentifier(QString()));
}

TEST(VQWindowButton, TheRolloverStartsFourPointsOutsideButClicksOnlyInside)
{
    Bar bar(QStringLiteral("test.margin"));
    EXPECT_EQ(bar.a->frame(), QRect(10, 10, 14, 16));
    EXPECT_EQ(bar.a->geometry(), QRect(6, 6, 22, 24));

    // Three points left of and above the frame is within the margin.
    controlstest::enter(*bar.a, QPoint(1, 1));
    EXPECT_EQ(bar.a->currentLook(), Look::Rollover);
    controlstest::move(*bar.a, QPoint(-1, 1), false);
    EXPECT_EQ(bar.a->currentLook(), Look::ActiveNotKey);

    int clicks = 0;
    QObject::connect(bar.a, &QAbstractButton::clicked, [&] { ++clicks; });
    QTest::mouseClick(bar.a, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_EQ(clicks, 0);
    QTest::mousePress(bar.a, Qt::LeftButton, {}, Bar::centre(bar.a));
    EXPECT_EQ(bar.a->currentLook(), Look::Pressed);
    QTest::mouseRelease(bar.a, Qt::LeftButton, {}, Bar::centre(bar.a));
    EXPECT_EQ(clicks, 1);
    controlstest::leave(*bar.a);
}

TEST(VQWindowButton, FullScreenHidesTheButtonsAndClearsTheRollover)
{
    Bar bar(QStringLiteral("test.fullscreen"));
    bar.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar.window));
    // Wherever earlier tests left the pointer, it starts outside.
    controlstest::leave(*bar.a);
    controlstest::enter(*bar.a, Bar::centre(bar.a));
    ASSERT_TRUE(bar.a->group()->shouldDisplayRollOver());

    bar.window.showFullScreen();
    QTRY_VERIFY(bar.window.isFullScreen());
    EXPECT_TRUE(bar.a->isHidden());
    EXPECT_TRUE(bar.other->isHidden());
    EXPECT_EQ(bar.a->group()->numberOfCaptures(), 0);

    bar.window.showNormal();
    QTRY_VERIFY(!bar.window.isFullScreen());
    EXPECT_FALSE(bar.a->isHidden());
    EXPECT_FALSE(bar.other->isHidden());
}

TEST(VQWindowButton, AResizeBurstEndsTheRolloverOnceItSettles)
{
    platform::kit::VirtualScheduler clock;
    Bar bar(QStringLiteral("test.resize"));
    bar.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar.window));
    clock.advance(1000);
    controlstest::leave(*bar.a);
    controlstest::enter(*bar.a, Bar::centre(bar.a));
    ASSERT_EQ(bar.b->currentLook(), Look::Rollover);

    for (int i = 1; i <= 5; ++i) {
        bar.window.resize(300 + 10 * i, 60);
        QTRY_COMPARE(bar.window.width(), 300 + 10 * i);
        clock.advance(VQWindowButton::kResizeSettleMs - 50);
        EXPECT_EQ(bar.b->currentLook(), Look::Rollover) << i;
    }
    clock.advance(49);
    EXPECT_EQ(bar.b->currentLook(), Look::Rollover);
    clock.advance(1);
    EXPECT_NE(bar.b->currentLook(), Look::Rollover);
    EXPECT_EQ(bar.a->group()->numberOfCaptures(), 0);
    controlstest::leave(*bar.a);
    EXPECT_EQ(bar.a->group()->numberOfCaptures(), 0);
}
