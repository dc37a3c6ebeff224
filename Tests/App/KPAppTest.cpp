#include "App/KPApp.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Support/TestSupport.h"

#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

// Every test of this program runs under the program's own application object, so input reaches
// the event rules through KPApp::notify exactly as in the program.
std::unique_ptr<QApplication> testsupport::makeApplication(int& argc, char** argv)
{
    return std::make_unique<KPApp>(argc, argv);
}

namespace {

// Input is sent the way the window system sends it: to the native window first, which hands it
// on to the widget under the pointer or with the focus.
class KPAppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(KPApp::sharedApplication(), nullptr);
        token = platform::NotificationCenter::defaultCenter().addObserver(
            {}, [this](const platform::Notification& n) {
                names << n.name;
                objects << n.object;
            });
    }

    void TearDown() override
    {
        KPApp::sharedApplication()->setAutoCompletedWindow(nullptr);
        KPApp::sharedApplication()->setMainWindow(nullptr);
    }

    // A shown top-level window with a child filling its lower half; windows of one test do not
    // overlap on the screen.
    struct Window {
        QWidget top;
        QWidget* child = new QWidget(&top);

        explicit Window(int column = 0)
        {
            top.setGeometry(50 + 300 * column, 50, 200, 100);
            child->setGeometry(0, 50, 200, 50);
            top.show();
        }
        QWindow* handle() { return top.windowHandle(); }
    };

    bool shown(Window& w) { return QTest::qWaitForWindowExposed(&w.top); }

    void clear()
    {
        names.clear();
        objects.clear();
    }

    static QObject* objectAt(const QVariant& v) { return v.value<QObject*>(); }

    QStringList names;
    QVariantList objects;
    platform::ObserverToken token;
};

} // namespace

TEST_F(KPAppTest, LeftOrRightMouseDownResignsMonitorsOncePerPressWithItsWindow)
{
    Window w;
    ASSERT_TRUE(shown(w));
    // Down in the child: the native window and then the child see it, one post names the window.
    QTest::mouseClick(w.handle(), Qt::LeftButton, {}, QPoint(10, 75));
    ASSERT_EQ(names, QStringList{QStringLiteral("MonitorResignWindowResign")});
    EXPECT_EQ(objectAt(objects[0]), &w.top);

    clear();
    QTest::mouseClick(w.handle(), Qt::RightButton, {}, QPoint(10, 10));
    QTest::mouseClick(w.handle(), Qt::MiddleButton, {}, QPoint(10, 10));
    EXPECT_EQ(names, QStringList{QStringLiteral("MonitorResignWindowResign")});
}

TEST_F(KPAppTest, MouseDownInAPopoverPostsNothing)
{
    Window popover;
    KPEventRules::markAsPopoverWindow(&popover.top);
    ASSERT_TRUE(shown(popover));
    QTest::mouseClick(popover.handle(), Qt::LeftButton, {}, QPoint(10, 75));
    EXPECT_TRUE(names.isEmpty());
}

TEST_F(KPAppTest, ClickInAnotherWindowResignsTheAutoCompletionList)
{
    Window main;
    Window completion(1);
    ASSERT_TRUE(shown(main) && shown(completion));
    KPApp::sharedApplication()->setAutoCompletedWindow(&completion.top);

    QTest::mouseClick(completion.handle(), Qt::LeftButton, {}, QPoint(10, 75));
    EXPECT_EQ(names, QStringList{QStringLiteral("MonitorResignWindowResign")});

    clear();
    QTest::mouseClick(main.handle(), Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_EQ(names, (QStringList{QStringLiteral("MonitorResignWindowResign"),
                                  QStringLiteral("AutoCompletedWindowResign")}));
    EXPECT_EQ(objectAt(objects[1]), &completion.top);

    // A list that has gone away is forgotten, not posted about.
    {
        auto gone = std::make_unique<QWidget>();
        KPApp::sharedApplication()->setAutoCompletedWindow(gone.get());
    }
    clear();
    QTest::mouseClick(main.handle(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(names, QStringList{QStringLiteral("MonitorResignWindowResign")});
}

TEST_F(KPAppTest, PinchZoomsOnlyInTheMainWindow)
{
    Window main;
    Window other(1);
    ASSERT_TRUE(shown(main) && shown(other));
    KPApp::sharedApplication()->setMainWindow(&main.top);
    // A pinch as the window system reports it: begin, zoom, end.
    auto pinch = [](Window& w) {
        const QPointF at(10, 75);
        for (const auto type : {Qt::BeginNativeGesture, Qt::ZoomNativeGesture, Qt::EndNativeGesture}) {
            const double value = type == Qt::ZoomNativeGesture ? 0.25 : 0;
            QNativeGestureEvent gesture(type, QPointingDevice::primaryPointingDevice(), 2, at, at,
                                        w.top.mapToGlobal(at), value, QPointF(), 0);
            QSpontaneKeyEvent::setSpontaneous(&gesture);
            qApp->notify(w.handle(), &gesture);
        }
    };
    pinch(other);
    EXPECT_TRUE(names.isEmpty());
    pinch(main);
    ASSERT_EQ(names, QStringList{QStringLiteral("MouseMagnify")});
    EXPECT_DOUBLE_EQ(objects[0].toDouble(), 0.25);
}

TEST_F(KPAppTest, ModifierKeysGoingDownOrUpAnnounceTheChange)
{
    Window w;
    ASSERT_TRUE(shown(w));
    QTest::keyPress(w.handle(), Qt::Key_Shift);
    QTest::keyClick(w.handle(), Qt::Key_A);
    QTest::keyRelease(w.handle(), Qt::Key_Shift);
    EXPECT_EQ(names, (QStringList{QStringLiteral("NSFlagsChanged"), QStringLiteral("NSFlagsChanged")}));
}

TEST_F(KPAppTest, AnInWindowCompletionListEndsOnlyOnAPressOutsideIt)
{
    Window main;
    ASSERT_TRUE(shown(main));
    // The list is a widget in the window it completes for, as the inspector's is.
    auto* list = new QWidget(&main.top);
    list->setGeometry(100, 0, 100, 40);
    auto* row = new QWidget(list);
    row->setGeometry(0, 0, 100, 20);
    list->show();
    KPApp::sharedApplication()->setAutoCompletedWindow(list);

    QTest::mouseClick(main.handle(), Qt::LeftButton, {}, QPoint(150, 10));
    EXPECT_FALSE(names.contains(QStringLiteral("AutoCompletedWindowResign")));

    clear();
    QTest::mouseClick(main.handle(), Qt::LeftButton, {}, QPoint(10, 75));
    ASSERT_EQ(names.count(QStringLiteral("AutoCompletedWindowResign")), 1);
    EXPECT_EQ(objectAt(objects[names.indexOf(QStringLiteral("AutoCompletedWindowResign"))]), list);
}
