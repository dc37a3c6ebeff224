#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Support/TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace platform::kit;
using Kind = RecordingDialogService::Kind;

namespace {

QFileDialog* openFileDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

std::unique_ptr<QWidget> shownWindow()
{
    auto window = std::make_unique<QWidget>();
    window->resize(700, 500);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
}

Alert saveQuestion()
{
    return Alert::withMessage(QStringLiteral("Save changes?"), QStringLiteral("Save"), QStringLiteral("Cancel"),
                              QStringLiteral("Don't Save"), QStringLiteral("Your edits are lost otherwise."));
}

} // namespace

// ---- the recording service ----

TEST(RecordingDialogService, AnswersFromTheScriptOnTheNextPassAndRecordsInOrder)
{
    RecordingDialogService dialogs;
    EXPECT_EQ(&DialogService::shared(), &dialogs);
    QWidget window;
    dialogs.scriptAlert(QStringLiteral("Don't Save"));
    dialogs.scriptAlert(Alert::kDefaultReturn);
    dialogs.scriptOpenPanel({QStringLiteral("/docs/a.pdf"), QStringLiteral("/docs/b.pdf")});
    dialogs.scriptSavePanel(QStringLiteral("/out/x.pdf"));

    QStringList log;
    dialogs.alert(&window, saveQuestion(), [&](int code) { log << QStringLiteral("alert %1").arg(code); });
    OpenPanelOptions importOptions;
    importOptions.allowsMultipleSelection = true;
    SavePanelOptions exportOptions;
    exportOptions.nameFieldStringValue = QStringLiteral("x.pdf");
    dialogs.openPanel(&window, importOptions, [&](const QStringList& paths) { log << paths.join(QLatin1Char('+')); });
    dialogs.alert(nullptr, saveQuestion(), [&](int code) { log << QStringLiteral("alert %1").arg(code); });
    dialogs.savePanel(nullptr, exportOptions, [&](const QString& path) { log << path; });

    // Nothing is answered while the caller is still in the call that asked.
    EXPECT_TRUE(log.isEmpty());
    EXPECT_FALSE(dialogs.requests().first().answered);
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.size() == 4; }));
    EXPECT_EQ(log, (QStringList{QStringLiteral("alert -1"), QStringLiteral("/docs/a.pdf+/docs/b.pdf"),
                                QStringLiteral("alert 1"), QStringLiteral("/out/x.pdf")}));

    const QList<RecordingDialogService::Request>& r = dialogs.requests();
    ASSERT_EQ(r.size(), 4);
    EXPECT_EQ(r[0].kind, Kind::Alert);
    EXPECT_EQ(r[0].window, &window);
    EXPECT_EQ(r[0].messageText, QStringLiteral("Save changes?"));
    EXPECT_EQ(r[0].informativeText, QStringLiteral("Your edits are lost otherwise."));
    EXPECT_EQ(r[0].buttons, (QStringList{QStringLiteral("Save"), QStringLiteral("Cancel"), QStringLiteral("Don't Save")}));
    EXPECT_EQ(r[1].kind, Kind::OpenPanel);
    EXPECT_TRUE(r[1].openOptions.allowsMultipleSelection);
    EXPECT_EQ(r[2].window, nullptr);
    EXPECT_EQ(r[3].saveOptions.nameFieldStringValue, QStringLiteral("x.pdf"));
    for (const auto& request : r) {
        EXPECT_TRUE(request.scripted);
        EXPECT_TRUE(request.answered);
    }
}

TEST(RecordingDialogService, WithoutAScriptEveryRequestIsCancelledAndSaysSo)
{
    RecordingDialogService dialogs;
    QWidget window;
    QList<int> codes;
    QStringList paths{QStringLiteral("unset")};
    QString path = QStringLiteral("unset");

    // A title the alert does not have is no answer either: it must not press some other button.
    dialogs.scriptAlert(QStringLiteral("Delete Everything"));
    dialogs.alert(&window, saveQuestion(), [&](int code) { codes << code; });
    dialogs.alert(&window, Alert::withMessage(QStringLiteral("Done."), {}), [&](int code) { codes << code; });
    Sheet sheet(new QWidget);
    sheet.setCancelCode(42);
    dialogs.beginSheet(&window, sheet, [&](int code) { codes << code; });
    dialogs.openPanel(&window, {}, [&](const QStringList& p) { paths = p; });
    dialogs.savePanel(&window, {}, [&](const QString& p) { path = p; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return codes.size() == 3 && path.isEmpty() && paths.isEmpty(); }));

    // The alert with a Cancel button answers it; one without answers the platform's cancel.
    EXPECT_EQ(codes, (QList<int>{Alert::kAlternateReturn, Sheet::kCancelCode, 42}));
    EXPECT_FALSE(sheet.isBegun());
    for (const auto& request : dialogs.requests())
        EXPECT_FALSE(request.scripted);
}

TEST(RecordingDialogService, SheetsAndModalWindowsCanBeLeftOpenForTheTestToDrive)
{
    auto window = shownWindow();
    QList<int> codes;
    int closed = 0;
    std::unique_ptr<QWidget> preferences = std::make_unique<QWidget>();
    QPointer<QWidget> duplicates = new QWidget;
    duplicates->setAttribute(Qt::WA_DeleteOnClose);
    {
        RecordingDialogService dialogs;
        dialogs.scriptSheetShown();
        Sheet sheet(new QWidget);
        dialogs.beginSheet(window.get(), sheet, [&](int code) { codes << code; });
        EXPECT_TRUE(sheet.isShown());
        sheet.end(5);
        EXPECT_EQ(codes, QList<int>{5});
        EXPECT_EQ(dialogs.last(Kind::Sheet).returnCode, 5);
        EXPECT_TRUE(dialogs.last(Kind::Sheet).answered);

        // Kept open until the test closes it; closed once, however often it is closed.
        dialogs.scriptModalWindow(true);
        dialogs.runModalWindow(preferences.get(), window.get(), [&] { ++closed; });
        QCoreApplication::processEvents();
        EXPECT_TRUE(preferences->isVisible());
        EXPECT_EQ(dialogs.last(Kind::ModalWindow).shown, preferences.get());
        EXPECT_EQ(dialogs.last(Kind::ModalWindow).window, window.get());
        preferences->close();
        preferences->show();
        preferences->close();
        EXPECT_EQ(closed, 1);
        EXPECT_TRUE(dialogs.last(Kind::ModalWindow).answered);

        // Unscripted: closed on the next pass, through the window's own close.
        dialogs.runModalWindow(duplicates, nullptr, [&] { ++closed; });
        EXPECT_EQ(closed, 1);
        EXPECT_TRUE(testsupport::spinUntil([&] { return closed == 2; }));
        EXPECT_FALSE(dialogs.last(Kind::ModalWindow).scripted);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(duplicates.isNull());
    // Gone, it no longer answers and has put the real service back.
    EXPECT_NE(dynamic_cast<QtDialogService*>(&DialogService::shared()), nullptr);
}

TEST(RecordingDialogService, PendingAnswersKeepToTheirOwnRequestsAndGoWithTheService)
{
    int answers = 0;
    {
        RecordingDialogService dialogs;
        QWidget preferences;
        dialogs.openPanel(nullptr, {}, [&](const QStringList&) { ++answers; });
        dialogs.clearRecord();
        dialogs.scriptModalWindow(true);
        dialogs.runModalWindow(&preferences, nullptr);
        QCoreApplication::processEvents();
        EXPECT_EQ(answers, 1);
        // The panel's answer must not mark the window that took its place in the record.
        ASSERT_EQ(dialogs.requests().size(), 1);
        EXPECT_FALSE(dialogs.requests().first().answered);

        dialogs.openPanel(nullptr, {}, [&](const QStringList&) { ++answers; });
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(answers, 1);
}

// ---- the real service, offscreen ----

TEST(QtDialogService, OpenPanelIsWindowModalAndAnswersTheAcceptedFile)
{
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + QStringLiteral("/Report.PDF"), "%PDF");
    auto window = shownWindow();
    std::optional<QStringList> answer;
    OpenPanelOptions options;
    options.directory = dir;
    options.allowedSuffixes = {QStringLiteral("pdf")};
    DialogService::shared().openPanel(window.get(), options, [&](const QStringList& paths) { answer = paths; });

    QPointer<QFileDialog> panel = openFileDialog();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(panel->parentWidget(), window.get());
    EXPECT_FALSE(answer.has_value());   // open(), not exec(): the call came back at once
    // An upper-case suffix is still a PDF document.
    const QRegularExpression filter(QRegularExpression::wildcardToRegularExpression(
        panel->nameFilters().first().section(QLatin1Char('('), 1).chopped(1)));
    EXPECT_TRUE(filter.match(QStringLiteral("Report.PDF")).hasMatch());

    panel->selectFile(dir + QStringLiteral("/Report.PDF"));
    static_cast<QDialog*>(panel.data())->accept();   // through QDialog, where it is public
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, QStringList{dir + QStringLiteral("/Report.PDF")});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(panel.isNull());
}

TEST(QtDialogService, PanelAllowingFoldersChoosesTheSelectedFolder)
{
    const QString dir = testsupport::makeTempDir();
    QDir(dir).mkdir(QStringLiteral("Scans"));
    std::optional<QStringList> answer;
    OpenPanelOptions options;
    options.directory = dir;
    options.canChooseDirectories = true;
    DialogService::shared().openPanel(nullptr, options, [&](const QStringList& paths) { answer = paths; });
    QFileDialog* panel = openFileDialog();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->windowModality(), Qt::ApplicationModal);
    panel->selectFile(dir + QStringLiteral("/Scans"));
    static_cast<QDialog*>(panel)->accept();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, QStringList{dir + QStringLiteral("/Scans")});
}

TEST(QtDialogService, CancelledOrOrphanedSavePanelAnswersEmptyOnce)
{
    auto window = shownWindow();
    QStringList answers;
    SavePanelOptions options;
    options.nameFieldStringValue = QStringLiteral("Export.pdf");
    DialogService::shared().savePanel(window.get(), options, [&](const QString& path) { answers << path; });
    QFileDialog* panel = openFileDialog();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->acceptMode(), QFileDialog::AcceptSave);
    panel->reject();
    panel->reject();
    EXPECT_EQ(answers, QStringList{QString()});

    // The window goes while its panel is open: the caller still hears, once, that nothing was chosen.
    DialogService::shared().savePanel(window.get(), options, [&](const QString& path) { answers << path; });
    ASSERT_TRUE(openFileDialog());
    window.reset();
    EXPECT_EQ(answers, (QStringList{QString(), QString()}));
}

TEST(QtDialogService, AlertOnAWindowIsASheetAnsweredByItsButton)
{
    auto window = shownWindow();
    std::optional<int> answer;
    DialogService::shared().alert(window.get(), saveQuestion(), [&](int code) { answer = code; });
    Sheet* sheet = Sheet::shownSheet(window.get());
    ASSERT_NE(sheet, nullptr);
    QPushButton* dontSave = nullptr;
    for (QPushButton* b : sheet->panel()->findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("Don't Save"))
            dontSave = b;
    }
    ASSERT_NE(dontSave, nullptr);
    QTest::mouseClick(dontSave, Qt::LeftButton);
    ASSERT_TRUE(testsupport::spinUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, Alert::kOtherReturn);
    EXPECT_EQ(Sheet::shownSheet(window.get()), nullptr);

    // Without a window it still blocks the window the user is in, not nothing.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    answer.reset();
    DialogService::shared().alert(nullptr, saveQuestion(), [&](int code) { answer = code; });
    auto* dialog = window->findChild<QDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_FALSE(answer.has_value());
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("Cancel"))
            QTest::mouseClick(b, Qt::LeftButton);
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, Alert::kAlternateReturn);
}

TEST(QtDialogService, ModalWindowIsApplicationModalAndTellsItsCloseOnce)
{
    auto parent = shownWindow();
    int closed = 0;
    auto dialog = std::make_unique<QDialog>();
    dialog->resize(200, 100);
    dialog->show();   // already shown: it must still become modal
    DialogService::shared().runModalWindow(dialog.get(), parent.get(), [&] { ++closed; });
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(QApplication::activeModalWidget(), dialog.get());
    EXPECT_EQ(closed, 0);

    dialog->reject();   // done() closes the dialog
    EXPECT_EQ(closed, 1);
    dialog.reset();
    EXPECT_EQ(closed, 1);

    // A window destroyed without being closed tells too.
    auto other = std::make_unique<QWidget>();
    DialogService::shared().runModalWindow(other.get(), nullptr, [&] { ++closed; });
    other.reset();
    EXPECT_EQ(closed, 2);
}
