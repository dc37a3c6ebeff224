#include "Controls/VQTitlebarWindow.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Scanner/ScannerService.h"
#include "SaneTestBackend.h"
#include "Scanner/KPScannerPixelBudget.h"
#include "Scanner/UI/KPEditorImageView.h"
#include "Scanner/UI/KPScannerWindowController.h"
#include "Scanner/UI/ScanFromICWindowController.h"
#include "Support/TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

TEST(ScannerWindowTest, EditorRefusesCropWithoutAPageAndReportsEscapeAndTurns)
{
    KPEditorImageView view;
    view.resize(515, 400);
    int cancels = 0;
    QList<float> angles;
    KPEditorImageViewDelegate delegate;
    delegate.editorImageViewCropCancel = [&] { ++cancels; };
    delegate.editorImageAngleChange = [&](qint64, float angle) { angles.append(angle); };
    view.setDelegate(delegate);
    EXPECT_FALSE(view.beginCrop());
    EXPECT_TRUE(view.crop().isNull());

    QImage page(2000, 1000, QImage::Format_RGB32);
    page.fill(Qt::white);
    view.setSourceImage(page);
    EXPECT_FLOAT_EQ(view.scale(), 0.25f);
    for (int i = 0; i < 5; ++i)
        view.rotation();
    EXPECT_EQ(angles, (QList<float>{90, 180, 270, 360, 90}));
    ASSERT_TRUE(view.beginCrop());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &escape);
    EXPECT_FALSE(view.isCropMode());
    EXPECT_EQ(cancels, 1);
    QCoreApplication::sendEvent(&view, &escape); // outside crop mode: ignored
    EXPECT_EQ(cancels, 1);

    // The crop taken from the turned page is the turned picture's size, at full resolution.
    ASSERT_TRUE(view.beginCrop());
    const QImage cut = view.crop();
    // Shown at 0.1925, 15 points in from each side: (192.5 - 30) / 0.1925 by (385 - 30) / 0.1925.
    EXPECT_EQ(cut.size(), QSize(844, 1844));
}

TEST(ScannerWindowTest, ScannerSheetListsBothDevicesScansAndLocksDoneMeanwhile)
{
    if (!scannertest::useTestBackend())
        GTEST_SKIP() << "SANE's test backend (libsane1) is not installed";
    platform::ScannerService service;
    QWidget window;
    window.resize(800, 600);
    window.show();
    auto sheet = std::make_unique<ScanFromICWindowController>(&service);
    ASSERT_FALSE(sheet->downloadFolder().isEmpty());
    const QString folder = sheet->downloadFolder();
    EXPECT_TRUE(folder.contains(QStringLiteral("/com.norlith.folivo2/ScanCache]/")));
    EXPECT_EQ(QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    QStringList paths;
    sheet->didScanToURL = [&](int code, const QString& path) {
        EXPECT_EQ(code, 1);
        paths.append(path);
    };
    std::optional<int> ended;
    sheet->beginSheet(&window, [&](int code) { ended = code; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->devices().size() == 2 && sheet->scanButton()->isEnabled(); }));
    EXPECT_EQ(sheet->popupDeviceButton()->count(), 2);
    EXPECT_FALSE(sheet->isShowingNoDevice());

    QList<bool> doneEnabledWhileScanning;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        platform::ScannerService::ScannerIsProgressNotification,
        [&](const platform::Notification& n) {
            if (n.object.toBool())
                doneEnabledWhileScanning.append(sheet->doneButton()->isEnabled());
        });
    sheet->btnScanClick();
    EXPECT_FALSE(sheet->doneButton()->isEnabled());
    EXPECT_FALSE(sheet->popupDeviceButton()->isEnabled());
    ASSERT_TRUE(testsupport::spinUntil([&] { return paths.size() == 1 && sheet->doneButton()->isEnabled(); }));
    EXPECT_EQ(doneEnabledWhileScanning, (QList<bool>{false}));
    EXPECT_TRUE(paths.first().startsWith(folder));
    EXPECT_TRUE(QFileInfo::exists(paths.first()));
    EXPECT_FALSE(ended.has_value()); // the sheet stays for more

    sheet->btnDoneClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return ended.has_value(); }));
    sheet.reset();
    EXPECT_FALSE(QFileInfo::exists(folder)); // the cache goes with the sheet
    service.shutdown();
}

namespace {

// A window of its own that counts the Escape presses it gets.
struct EscapeCounter : QWidget {
    int escapes = 0;
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape)
            ++escapes;
        QWidget::keyPressEvent(event);
    }
};

} // namespace

TEST(ScannerWindowTest, EscapeEndsTheScannerSheetOnlyWhileNoScannerIsOpen)
{
    platform::kit::VirtualScheduler clock;
    QWidget window;
    window.resize(800, 600);
    window.show();
    EscapeCounter other;
    other.show();

    // Looking for scanners, then none found (the service can list none): Escape ends the sheet
    // with code 0; Escape in another window is left to that window.
    for (const bool waitForNoDevice : {false, true}) {
        platform::ScannerService service;
        service.shutdown();
        auto sheet = std::make_unique<ScanFromICWindowController>(&service);
        std::optional<int> ended;
        sheet->beginSheet(&window, [&](int code) { ended = code; });
        if (waitForNoDevice) {
            ASSERT_TRUE(testsupport::spinUntil([&] { return !sheet->statusLabel()->text().isEmpty(); }));
            clock.advance(ScanFromICWindowController::kNoDeviceDelayMs);
            ASSERT_TRUE(sheet->isShowingNoDevice());
        }
        QTest::keyClick(&other, Qt::Key_Escape);
        EXPECT_EQ(other.escapes, waitForNoDevice ? 2 : 1);
        EXPECT_FALSE(ended.has_value());
        QTest::keyClick(sheet->doneButton(), Qt::Key_Escape);
        ASSERT_TRUE(ended.has_value()) << "no device yet: " << waitForNoDevice;
        EXPECT_EQ(*ended, 0);
    }

    // A scanner's panel is shown: Escape does nothing.
    if (!scannertest::useTestBackend())
        GTEST_SKIP() << "SANE's test backend (libsane1) is not installed";
    platform::ScannerService service;
    auto sheet = std::make_unique<ScanFromICWindowController>(&service);
    std::optional<int> ended;
    sheet->beginSheet(&window, [&](int code) { ended = code; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->scanButton()->isEnabled(); }));
    EXPECT_TRUE(sheet->isShowingDeviceView());
    QTest::keyClick(sheet->scanButton(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ended.has_value());
    sheet->btnDoneClick();
    EXPECT_TRUE(ended.has_value());
    sheet.reset();
    service.shutdown();
}

TEST(ScannerWindowTest, CancelScanStopsARunningScanAndAddsNoPage)
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
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->scanButton()->isEnabled(); }));
    EXPECT_TRUE(sheet->cancelScanButton()->isHidden());

    // A byte every 0.2 s: this page would take days unless the scan is stopped.
    sheet->setExtraOptions({{QStringLiteral("read-return-value"), QStringLiteral("Default")},
                            {QStringLiteral("read-delay"), true},
                            {QStringLiteral("read-delay-duration"), 200000},
                            {QStringLiteral("read-limit"), true},
                            {QStringLiteral("read-limit-size"), 1}});
    sheet->btnScanClick();
    EXPECT_FALSE(sheet->doneButton()->isEnabled());
    ASSERT_FALSE(sheet->cancelScanButton()->isHidden());
    ASSERT_TRUE(sheet->cancelScanButton()->isEnabled());
    sheet->cancelScanButton()->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return sheet->doneButton()->isEnabled(); }));
    EXPECT_FALSE(service.isScanning());
    EXPECT_TRUE(paths.isEmpty());
    EXPECT_TRUE(QDir(sheet->downloadFolder()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(sheet->statusLabel()->text(), QStringLiteral("The scan was cancelled."));
    EXPECT_TRUE(sheet->cancelScanButton()->isHidden());

    // The next scan runs whole and hands its page over (the device keeps options once set).
    sheet->setExtraOptions({{QStringLiteral("read-delay"), false}, {QStringLiteral("read-limit"), false}});
    ASSERT_GE(sheet->resolutionButton()->findData(75.0), 0);
    sheet->resolutionButton()->setCurrentIndex(sheet->resolutionButton()->findData(75.0));
    sheet->btnScanClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return paths.size() == 1 && sheet->doneButton()->isEnabled(); }));
    EXPECT_TRUE(QFileInfo::exists(paths.first()));
    sheet.reset();
    service.shutdown();
}

TEST(ScannerWindowTest, PageListLabelNewPageAndDroppedFiles)
{
    KPScannerWindowController window;
    EXPECT_FALSE(window.saveButton()->isEnabled());
    window.btnNewPageClick(); // no page yet: nothing
    EXPECT_EQ(window.pageList().count(), 0);
    EXPECT_TRUE(window.windowShouldClose()); // nothing to lose, no question

    const QString folder = testsupport::makeTempDir(QStringLiteral("drops"));
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(folder + QStringLiteral("/a.png")));
    ASSERT_TRUE(image.save(folder + QStringLiteral("/b.png")));
    window.addFiles({folder + QStringLiteral("/a.png")});
    ASSERT_TRUE(testsupport::spinUntil([&] { return window.pageList().count() == 1; }));
    window.btnNewPageClick();
    EXPECT_EQ(window.pageList().count(), 2);
    EXPECT_TRUE(window.pageCountLabel()->text().startsWith(QStringLiteral("2")));
    // The next image fills the empty page instead of adding one.
    window.addFiles({folder + QStringLiteral("/b.png")});
    ASSERT_TRUE(testsupport::spinUntil([&] { return window.pageList().pages().last()->hasImage(); }));
    EXPECT_EQ(window.pageList().count(), 2);
    EXPECT_TRUE(window.saveButton()->isEnabled());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !window.pageList().pages().last()->thumbImage().isNull(); }));
}

TEST(ScannerWindowTest, PagesLeftOutForTheWindowsPixelBudgetAreNamedToTheUser)
{
    KPScannerWindowController window;
    const auto budget = window.pageList().budget();
    // The window holds 400 million pixels of pages (as the README tells users): pages held
    // elsewhere in the window leave room for one page of 1,200 pixels, not for two.
    ASSERT_TRUE(budget->take(400'000'000 - 2'000));
    QImage page(40, 30, QImage::Format_RGB32);
    page.fill(Qt::blue);
    window.addImages({page, page});
    EXPECT_EQ(window.pageList().count(), 1);
    EXPECT_FALSE(window.messageLabel()->isHidden());
    EXPECT_TRUE(window.messageLabel()->text().contains(QStringLiteral("1 of the pages were left out")))
        << window.messageLabel()->text().toStdString();

    // A dropped file that no longer fits is named, and what its read took is given back.
    const QString folder = testsupport::makeTempDir(QStringLiteral("drops"));
    ASSERT_TRUE(page.save(folder + QStringLiteral("/c.png")));
    const qint64 before = budget->used();
    window.addFiles({folder + QStringLiteral("/c.png")});
    ASSERT_TRUE(testsupport::spinUntil([&] { return window.messageLabel()->text().contains(QStringLiteral("c.png")); }));
    EXPECT_EQ(window.pageList().count(), 1);
    EXPECT_EQ(budget->used(), before);
}

TEST(ScannerWindowTest, TheCloseQuestionSavesAfterItsPauseDiscardsOrKeepsThePages)
{
    using Kind = platform::kit::RecordingDialogService::Kind;
    platform::kit::VirtualScheduler clock;
    platform::kit::RecordingDialogService dialogs;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    KPScannerWindowController window;
    int closed = 0;
    window.completion = [&] { ++closed; };
    window.addImages({image});
    window.showWindow();
    auto ask = [&](const char* answer) {
        const qsizetype before = dialogs.count(Kind::Alert);
        dialogs.scriptAlert(QString::fromUtf8(answer));
        window.window()->close(); // the title bar's close button
        EXPECT_EQ(dialogs.count(Kind::Alert), before + 1);
        return testsupport::spinUntil([&] { return dialogs.last(Kind::Alert).answered; });
    };

    // Cancel: the window stays with its pages, and no save comes later.
    ASSERT_TRUE(ask("Cancel"));
    EXPECT_EQ(dialogs.last(Kind::Alert).buttons, (QStringList{QStringLiteral("Save"), QStringLiteral("Don't Save"),
                                                              QStringLiteral("Cancel")}));
    clock.advance(5000);
    EXPECT_TRUE(window.window()->isVisible());
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(dialogs.count(Kind::Sheet), 0);

    // Save: the save sheet comes once the alert has had its 0.7 s to go, not before; a save that
    // stores the document closes the window without asking again.
    dialogs.scriptSheet(1);
    ASSERT_TRUE(ask("Save"));
    clock.advance(KPScannerWindowController::kDelayedSaveMs - 1);
    EXPECT_EQ(dialogs.count(Kind::Sheet), 0);
    EXPECT_EQ(window.saveSheet(), nullptr);
    clock.advance(1);
    EXPECT_EQ(dialogs.count(Kind::Sheet), 1);
    ASSERT_TRUE(testsupport::spinUntil([&] { return closed == 1; }));
    EXPECT_TRUE(window.didSave());
    EXPECT_FALSE(window.window()->isVisible());
    EXPECT_EQ(dialogs.count(Kind::Alert), 2);

    // Don't Save: a window with pages closes at once, and nothing is saved.
    KPScannerWindowController other;
    other.completion = [&] { ++closed; };
    other.addImages({image});
    other.showWindow();
    dialogs.scriptAlert(QStringLiteral("Don't Save"));
    other.window()->close();
    ASSERT_TRUE(testsupport::spinUntil([&] { return closed == 2; }));
    EXPECT_FALSE(other.window()->isVisible());
    clock.advance(5000);
    EXPECT_EQ(dialogs.count(Kind::Sheet), 1);
    EXPECT_FALSE(other.didSave());
}

TEST(ScannerWindowTest, TheQuitAsksAsClosingDoesAndGoesOnOnlyOnceThePagesAreSavedOrDropped)
{
    using Kind = platform::kit::RecordingDialogService::Kind;
    platform::kit::VirtualScheduler clock;
    platform::kit::RecordingDialogService dialogs;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    KPScannerWindowController window;
    EXPECT_FALSE(window.needsQuitQuestion()); // nothing to lose
    window.addImages({image});
    ASSERT_TRUE(window.needsQuitQuestion());
    int quits = 0;
    auto ask = [&](const char* answer) {
        dialogs.scriptAlert(QString::fromUtf8(answer));
        window.askBeforeQuit([&](bool quit) { quits += quit ? 1 : 100; });
        return testsupport::spinUntil([&] { return dialogs.last(Kind::Alert).answered; });
    };

    // Cancel: no answer, the pages stay, and no save comes later.
    ASSERT_TRUE(ask("Cancel"));
    EXPECT_EQ(dialogs.last(Kind::Alert).window, window.window());
    EXPECT_EQ(dialogs.last(Kind::Alert).buttons, (QStringList{QStringLiteral("Save"), QStringLiteral("Don't Save"),
                                                              QStringLiteral("Cancel")}));
    clock.advance(5000);
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(dialogs.count(Kind::Sheet), 0);

    // Save, then the save sheet cancelled: the quit does not go on.
    dialogs.scriptSheet(0);
    ASSERT_TRUE(ask("Save"));
    clock.advance(KPScannerWindowController::kDelayedSaveMs);
    ASSERT_EQ(dialogs.count(Kind::Sheet), 1);
    ASSERT_TRUE(testsupport::spinUntil([&] { return window.saveSheet() == nullptr; }));
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(window.needsQuitQuestion());

    // With the save sheet up the question is not held back behind it, and "Don't Save" quits.
    dialogs.scriptSheetShown();
    window.btnSaveClick();
    ASSERT_NE(window.saveSheet(), nullptr);
    ASSERT_TRUE(ask("Don't Save"));
    EXPECT_EQ(dialogs.last(Kind::Alert).window, nullptr);
    EXPECT_EQ(quits, 1);
}

TEST(ScannerWindowTest, SaveInTheQuitsQuestionQuitsOnceTheDocumentIsStored)
{
    using Kind = platform::kit::RecordingDialogService::Kind;
    platform::kit::VirtualScheduler clock;
    platform::kit::RecordingDialogService dialogs;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    KPScannerWindowController window;
    int closed = 0;
    window.completion = [&] { ++closed; };
    window.addImages({image});
    int quits = 0;
    dialogs.scriptAlert(QStringLiteral("Save"));
    dialogs.scriptSheet(1);
    window.askBeforeQuit([&](bool quit) { quits += quit ? 1 : 100; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(Kind::Alert).answered; }));
    EXPECT_EQ(quits, 0);
    clock.advance(KPScannerWindowController::kDelayedSaveMs);
    ASSERT_TRUE(testsupport::spinUntil([&] { return quits != 0; }));
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(window.needsQuitQuestion());
}
