#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Scanner/ScannerService.h"
#include "SaneTestBackend.h"
#include "Scanner/UI/KPScanner.h"
#include "Scanner/UI/ScanViewController.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QGraphicsOpacityEffect>
#include <QProgressBar>
#include <gtest/gtest.h>

using platform::ScannerDevice;

namespace {

QStringList names(const QList<ScannerDevice>& devices)
{
    QStringList out;
    for (const auto& d : devices)
        out.append(d.name);
    return out;
}

} // namespace

TEST(KPScannerTest, KeepsTheScannersListedAndFollowsTheirComingAndGoing)
{
    platform::kit::VirtualScheduler clock;
    platform::ScannerService service;
    service.shutdown(); // lists nothing: the list is fed by hand first
    KPScanner scanner(&service);
    QStringList added, removed;
    scanner.deviceAdded = [&](const ScannerDevice& d) { added.append(d.name); };
    scanner.deviceRemoved = [&](const ScannerDevice& d) { removed.append(d.name); };

    const ScannerDevice flatbed{QStringLiteral("genesys:1"), QStringLiteral("Canon"), QStringLiteral("LiDE"),
                                QStringLiteral("flatbed scanner")};
    const ScannerDevice camera{QStringLiteral("gphoto2:usb"), QString(), QString(), QStringLiteral("still camera")};
    const ScannerDevice feeder{QStringLiteral("fujitsu:2"), QString(), QString(), QStringLiteral("sheetfed scanner")};
    scanner.deviceBrowserDidList({flatbed, camera, feeder});
    EXPECT_EQ(names(scanner.devices()), (QStringList{QStringLiteral("genesys:1"), QStringLiteral("fujitsu:2")}));
    EXPECT_EQ(added, names(scanner.devices()));
    // Listed again: nothing new. Unplugged: taken out, and told once.
    scanner.deviceBrowserDidList({flatbed, camera, feeder});
    EXPECT_EQ(added.size(), 2);
    scanner.deviceBrowserDidList({camera, feeder});
    EXPECT_EQ(names(scanner.devices()), QStringList{QStringLiteral("fujitsu:2")});
    EXPECT_EQ(removed, QStringList{QStringLiteral("genesys:1")});
    scanner.deviceBrowserDidList({});
    scanner.deviceBrowserDidList({});
    EXPECT_TRUE(scanner.devices().isEmpty());
    EXPECT_EQ(removed.size(), 2);

    // A listing that fails (the service is shut down) leaves the list as it was.
    scanner.deviceBrowserDidList({feeder});
    scanner.searchDevice();
    EXPECT_TRUE(scanner.isSearching());
    clock.advance(KPScanner::kPollMs * 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(names(scanner.devices()), QStringList{QStringLiteral("fujitsu:2")});
}

TEST(KPScannerTest, FindsTheScannersSaneListsAndAsksAgainWhileSearching)
{
    if (!scannertest::useTestBackend())
        GTEST_SKIP() << "SANE's test backend (libsane1) is not installed";
    platform::kit::VirtualScheduler clock;
    platform::ScannerService service;
    KPScanner scanner(&service);
    int added = 0;
    scanner.deviceAdded = [&](const ScannerDevice&) { ++added; };
    scanner.searchDevice();
    ASSERT_TRUE(testsupport::spinUntil([&] { return scanner.devices().size() == 2; }));
    EXPECT_EQ(names(scanner.devices()), (QStringList{QStringLiteral("test:0"), QStringLiteral("test:1")}));

    // One that went away comes back with the next listing; searching again starts nothing new.
    scanner.deviceBrowserDidList({scanner.devices().first()});
    ASSERT_EQ(scanner.devices().size(), 1);
    scanner.searchDevice();
    clock.advance(KPScanner::kPollMs);
    ASSERT_TRUE(testsupport::spinUntil([&] { return scanner.devices().size() == 2; }));
    EXPECT_EQ(added, 3);
    service.shutdown();
}

TEST(ScanViewControllerTest, ADimmedPanelWithAnInsetDeviceListAndASpinnerThatFindsTheScanners)
{
    platform::ScannerService service;
    if (!scannertest::useTestBackend())
        service.shutdown();
    ScanViewController controller(&service);
    KPCoustomDrawBGView* view = controller.view();
    ASSERT_TRUE(view);
    view->resize(400, 300);
    view->show();
    ASSERT_TRUE(testsupport::spinUntil([&] { return view->isVisible(); }));

    // The panel shows what lies below it through its black.
    auto* alpha = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    ASSERT_TRUE(alpha);
    EXPECT_DOUBLE_EQ(alpha->opacity(), 0.7);
    alpha->setEnabled(false); // the black itself, not what it is blended over
    const QImage drawn = view->grab().toImage();
    alpha->setEnabled(true);
    for (const QPoint at : {QPoint(5, 5), QPoint(390, 290), QPoint(40, 150)})
        EXPECT_EQ(QColor(drawn.pixel(at)), QColor(Qt::black)) << at.x() << "," << at.y();

    // The list keeps its 20-point inset as the view grows.
    EXPECT_EQ(controller.deviceListView()->parentWidget(), view);
    EXPECT_EQ(controller.deviceListView()->geometry(), QRect(20, 20, 360, 260));
    view->resize(600, 500);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(controller.deviceListView()->geometry(), QRect(20, 20, 560, 460));

    QProgressBar* spinner = controller.progressIndicator();
    ASSERT_TRUE(spinner);
    EXPECT_EQ(spinner->parentWidget(), controller.deviceListView());
    EXPECT_TRUE(spinner->isVisible());
    EXPECT_EQ(spinner->minimum(), 0);
    EXPECT_EQ(spinner->maximum(), 0); // busy: it turns
    EXPECT_EQ(spinner->geometry().center().x(), controller.deviceListView()->rect().center().x());

    if (scannertest::useTestBackend()) {
        EXPECT_TRUE(testsupport::spinUntil([&] { return controller.devices().size() == 2; }));
    }
    service.shutdown();
}
