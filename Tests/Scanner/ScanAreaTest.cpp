// The scan area dragged on the overview, from the drag's arithmetic to the size of the page the
// test backend scans; and the sheet when SANE finds no scanner at all.
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Scanner/ScannerService.h"
#include "SaneTestBackend.h"
#include "Scanner/KPScanArea.h"
#include "Scanner/UI/KPScanAreaView.h"
#include "Scanner/UI/ScanFromICWindowController.h"
#include "Support/TestSupport.h"

#include <QComboBox>
#include <QImageReader>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

bool near(const QRectF& a, const QRectF& b)
{
    return std::abs(a.left() - b.left()) < 1e-6 && std::abs(a.top() - b.top()) < 1e-6
           && std::abs(a.width() - b.width()) < 1e-6 && std::abs(a.height() - b.height()) < 1e-6;
}

} // namespace

TEST(ScanAreaTest, DragsBecomeFractionsOfTheOverviewAndAreasInsideTheBed)
{
    // A tall overview in a square view: centred, full height.
    const QRectF shown = KPScanArea::fittedRect(QSizeF(100, 200), QRectF(0, 0, 300, 300));
    EXPECT_TRUE(near(shown, QRectF(75, 0, 150, 300)));
    EXPECT_TRUE(KPScanArea::fittedRect(QSizeF(0, 10), QRectF(0, 0, 10, 10)).isEmpty());

    // Dragged up and to the left, past the overview's edge: ordered and cut to the overview.
    const QRectF sel = KPScanArea::selectionFromDrag(QPointF(150, 150), QPointF(10, -20), shown);
    EXPECT_TRUE(near(sel, QRectF(0, 0, 0.5, 0.5)));
    EXPECT_TRUE(near(KPScanArea::shownSelection(sel, shown), QRectF(75, 0, 75, 150)));
    // A click, and a drag wholly beside the overview, select nothing.
    EXPECT_TRUE(KPScanArea::selectionFromDrag(QPointF(100, 100), QPointF(102, 150), shown).isEmpty());
    EXPECT_TRUE(KPScanArea::selectionFromDrag(QPointF(0, 0), QPointF(60, 300), shown).isEmpty());

    // In the scanner's units, within a bed that need not start at 0.
    const QRectF bed(QPointF(0, 0), QPointF(215.9, 296.9));
    EXPECT_TRUE(near(KPScanArea::deviceArea(QRectF(0.5, 0.5, 0.5, 0.5), bed),
                     QRectF(QPointF(107.95, 148.45), QPointF(215.9, 296.9))));
    EXPECT_TRUE(near(KPScanArea::deviceArea(QRectF(0.5, 0, 0.5, 1), QRectF(10, 20, 100, 50)), QRectF(60, 20, 50, 50)));
    EXPECT_EQ(KPScanArea::deviceArea({}, bed), bed);
    EXPECT_TRUE(KPScanArea::deviceArea(QRectF(0.9, 0.9, 0.2, 0.2), bed).bottomRight() == bed.bottomRight());
}

TEST(ScanAreaTest, TheFinalScanTakesOnlyTheDraggedAreaAndTheNextOverviewTheWholeBed)
{
    if (!scannertest::useTestBackend())
        GTEST_SKIP() << "SANE's test backend (libsane1) is not installed";
    platform::ScannerService service;
    QWidget window;
    window.resize(800, 600);
    window.show();
    auto sheet = std::make_unique<ScanFromICWindowController>(&service);
    QStringList paths;
    sheet->didScanToURL = [&](int, const QString& path) { paths.append(path); };
    sheet->beginSheet(&window, [](int) {});
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->overviewButton()->isEnabled(); }));
    const int lowest = sheet->resolutionButton()->findData(75.0);
    ASSERT_GE(lowest, 0);
    sheet->resolutionButton()->setCurrentIndex(lowest);

    KPScanAreaView* overview = sheet->overview();
    auto takeOverview = [&] {
        sheet->btnOverviewClick();
        EXPECT_TRUE(testsupport::spinUntil([&] { return !overview->overview().isNull() && sheet->doneButton()->isEnabled(); }));
        return overview->overview().size();
    };
    auto scanned = [&] {
        const int before = int(paths.size());
        sheet->btnScanClick();
        EXPECT_TRUE(testsupport::spinUntil([&] { return paths.size() == before + 1 && sheet->doneButton()->isEnabled(); }));
        return paths.size() > before ? QImageReader(paths.last()).size() : QSize();
    };

    const QSize whole = takeOverview();
    ASSERT_GT(whole.width(), 100);
    // The left half, top to bottom, dragged with the mouse from past the corner.
    const QRectF shown = overview->shownRect();
    QTest::mousePress(overview, Qt::LeftButton, {}, QPointF(shown.left() - 3, shown.top() - 3).toPoint());
    QTest::mouseMove(overview, shown.center().toPoint());
    QTest::mouseRelease(overview, Qt::LeftButton, {},
                        QPointF(shown.center().x(), shown.bottom() + 3).toPoint());
    ASSERT_FALSE(overview->selection().isEmpty());

    const QSize half = scanned();
    EXPECT_NEAR(half.width(), whole.width() / 2.0, whole.width() * 0.03);
    EXPECT_NEAR(half.height(), whole.height(), whole.height() * 0.03);

    // The scanner keeps the last area it was given: the overview must ask for the whole bed.
    EXPECT_EQ(takeOverview(), whole);
    EXPECT_TRUE(overview->selection().isEmpty());
    EXPECT_EQ(scanned(), whole);

    sheet->btnDoneClick();
    sheet.reset();
    service.shutdown();
}

TEST(ScanAreaTest, WithoutAnyScannerTheSheetSaysSoAndOffersNothingThatWouldFail)
{
    const QString config = testsupport::makeTempDir(QStringLiteral("sane-none"));
    testsupport::writeFile(config + QStringLiteral("/dll.conf"), "");
    testsupport::ChildProcess child({QStringLiteral("--gtest_also_run_disabled_tests"),
                                     QStringLiteral("--gtest_filter=ScanAreaChild.DISABLED_NoScanner")},
                                    {{QStringLiteral("SANE_CONFIG_DIR"), config}});
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitForFinished(120000));
    EXPECT_TRUE(child.exitedNormally());
    EXPECT_EQ(child.exitCode(), 0) << child.standardOutput().constData() << child.standardError().constData();
    EXPECT_TRUE(child.standardOutput().contains("[  PASSED  ] 1 test")) << child.standardOutput().constData();
}

// Runs in a process of its own, started by the test above: SANE reads its configuration once.
TEST(ScanAreaChild, DISABLED_NoScanner)
{
    platform::kit::VirtualScheduler scheduler;
    platform::ScannerService service;
    QWidget window;
    window.resize(800, 600);
    window.show();
    QList<bool> progress;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        platform::ScannerService::ScannerIsProgressNotification,
        [&](const platform::Notification& n) { progress.append(n.object.toBool()); });
    ScanFromICWindowController sheet(&service);
    std::optional<int> ended;
    sheet.beginSheet(&window, [&](int code) { ended = code; });
    // The sheet's listing is answered before this one: the worker takes requests in order.
    bool listed = false;
    auto alive = std::make_shared<int>(0);
    service.listDevices(alive, [&](platform::Result<QList<platform::ScannerDevice>> list) {
        EXPECT_TRUE(list.has_value());
        EXPECT_TRUE(list && list->isEmpty());
        listed = true;
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return listed; }));
    EXPECT_FALSE(sheet.isShowingNoDevice()); // not before the delay

    scheduler.advance(ScanFromICWindowController::kNoDeviceDelayMs);
    EXPECT_TRUE(sheet.isShowingNoDevice());
    EXPECT_TRUE(sheet.devices().isEmpty());
    EXPECT_EQ(sheet.popupDeviceButton()->count(), 0);
    EXPECT_FALSE(sheet.popupDeviceButton()->isEnabled());
    EXPECT_FALSE(sheet.scanButton()->isEnabled());
    EXPECT_FALSE(sheet.overviewButton()->isEnabled());
    EXPECT_TRUE(sheet.doneButton()->isEnabled());
    // Scan and overview asked for anyway start nothing.
    sheet.btnScanClick();
    sheet.btnOverviewClick();
    EXPECT_FALSE(service.isScanning());
    EXPECT_TRUE(progress.isEmpty());
    // Polling goes on and still finds nothing; the panel stays.
    scheduler.advance(ScanFromICWindowController::kPollMs);
    listed = false;
    service.listDevices(alive, [&](auto) { listed = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return listed; }));
    EXPECT_TRUE(sheet.isShowingNoDevice());

    sheet.btnDoneClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return ended.has_value(); }));
    service.shutdown();
}
