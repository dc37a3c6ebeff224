#include "Controls/KP28ColorsPicker.h"
#include "ControlsTestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Scheduler.h"

#include <QTest>
#include <gtest/gtest.h>

using platform::kit::VirtualScheduler;

namespace {

const QStringList kThemeColours{QStringLiteral("dark,60,60,60"),   QStringLiteral("light,230,230,230"),
                                QStringLiteral("gray,111,125,140"), QStringLiteral("blue,52,120,200"),
                                QStringLiteral("red,200,60,60"),    QStringLiteral("green,70,160,90"),
                                QStringLiteral("yellow,220,190,60")};

// 7 swatches of 40 points: R is (10, 8, 280, 24).
struct PickerTest : ::testing::Test {
    void SetUp() override
    {
        picker = std::make_unique<KP28ColorsPicker>(kThemeColours, QRect(0, 0, 300, 40));
        picker->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(picker.get()));
    }
    QPoint centreOf(int i) const { return QPoint(10 + 40 * i + 20, 20); }

    VirtualScheduler clock;
    QStringList posted;
    platform::ObserverToken observer = platform::NotificationCenter::defaultCenter().addObserver(
        KP28ColorsPicker::kChangeNotification, [this](const platform::Notification& n) { posted << n.object.toString(); });
    std::unique_ptr<KP28ColorsPicker> picker;
};

} // namespace

TEST_F(PickerTest, AClickSlidesHalfASecondThenPostsOnce)
{
    picker->selectWithName(QStringLiteral("light"));
    picker->selectWithName(QStringLiteral("no such theme"));
    EXPECT_EQ(picker->selectedIndex(), 1);
    controlstest::render(*picker);   // the marker takes its place at the first draw
    EXPECT_EQ(picker->markerRect(), picker->swatchRect(1));

    QTest::mouseClick(picker.get(), Qt::LeftButton, {}, centreOf(4));
    EXPECT_EQ(picker->selectedIndex(), 4);
    clock.advance(250);
    EXPECT_GT(picker->markerRect().x(), picker->swatchRect(1).x());
    EXPECT_LT(picker->markerRect().x(), picker->swatchRect(4).x());
    EXPECT_TRUE(posted.isEmpty());
    clock.advance(300);
    EXPECT_EQ(picker->markerRect(), picker->swatchRect(4));
    EXPECT_EQ(posted, QStringList{QStringLiteral("red")});
    clock.advance(2000);
    EXPECT_EQ(posted.size(), 1);

    QTest::mouseClick(picker.get(), Qt::LeftButton, {}, centreOf(4));   // the selected one again
    clock.advance(600);
    EXPECT_EQ(posted, (QStringList{QStringLiteral("red"), QStringLiteral("red")}));

    QTest::mouseClick(picker.get(), Qt::LeftButton, {}, QPoint(4, 20));   // the margin
    clock.advance(600);
    EXPECT_EQ(posted.size(), 2);
}

TEST_F(PickerTest, ADragSnapsAndPostsOnceAfterTheLastSwatch)
{
    QTest::mousePress(picker.get(), Qt::LeftButton, {}, centreOf(0));   // starts a slide...
    for (int i = 1; i <= 3; ++i) {
        controlstest::move(*picker, centreOf(i), true);                   // ...that the drag stops
        EXPECT_EQ(picker->markerRect(), picker->swatchRect(i));
        clock.advance(200);
    }
    controlstest::move(*picker, QPoint(295, 5), true);   // beyond every swatch: nothing changes
    EXPECT_EQ(picker->selectedIndex(), 3);
    clock.advance(99);
    EXPECT_TRUE(posted.isEmpty());
    clock.advance(1);
    EXPECT_EQ(posted, QStringList{QStringLiteral("blue")});
    QTest::mouseRelease(picker.get(), Qt::LeftButton, {}, centreOf(5));
    clock.advance(2000);
    EXPECT_EQ(posted.size(), 1);
    EXPECT_EQ(picker->selectedIndex(), 5);   // a release selects without a post
}

TEST_F(PickerTest, TooltipsFollowResizeAndTheMarkerSnapsBack)
{
    EXPECT_EQ(picker->toolTipAt(centreOf(2)), QStringLiteral("gray"));
    EXPECT_EQ(picker->toolTipAt(QPoint(5, 20)), QString());
    picker->resize(600, 40);
    QApplication::processEvents();
    ASSERT_EQ(picker->toolTipRects().size(), 7u);
    EXPECT_EQ(picker->toolTipRects()[1], QRectF(10 + 580.0 / 7, 8, 580.0 / 7, 24));
    EXPECT_EQ(picker->toolTipAt(QPoint(590, 20)), QStringLiteral("yellow"));
    picker->selectWithName(QStringLiteral("green"));
    controlstest::render(*picker);
    EXPECT_EQ(picker->markerRect(), picker->swatchRect(5));
}

TEST_F(PickerTest, EmptyListsAndShortEntries)
{
    KP28ColorsPicker empty({}, QRect(0, 0, 300, 40));
    const QImage blank = controlstest::render(empty);
    EXPECT_EQ(blank.pixel(150, 20), 0u);
    QTest::mouseClick(&empty, Qt::LeftButton, {}, QPoint(150, 20));
    controlstest::move(empty, QPoint(160, 20), true);
    clock.advance(1000);
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_TRUE(empty.toolTipRects().empty());

    KP28ColorsPicker shortOnes({QStringLiteral("broken,1,2"), QStringLiteral("ok,1,2,3,extra"), QStringLiteral("")},
                               QRect(0, 0, 300, 40));
    EXPECT_EQ(shortOnes.colorNames(), QStringList{QStringLiteral("ok")});
    EXPECT_EQ(shortOnes.colorValues().front(), QColor::fromRgbF(1 / 255.0f, 2 / 255.0f, 3 / 255.0f));
}
