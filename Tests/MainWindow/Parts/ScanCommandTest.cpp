// File > Scan… through the whole window over a scratch library: one scan window however often
// the command comes, and a saved scan listed in Documents once the window has closed.
#include "../MainWindowTestSupport.h"

#include "MainWindow/MainWindowParts.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Scanner/UI/KPScannerSaveWindowController.h"
#include "Scanner/UI/KPScannerWindowController.h"
#include "Controls/VQTitlebarWindow.h"

#include "Store/KPLibraryFileManager.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTest>
#include <QLabel>
#include <QScopeGuard>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <semaphore>

namespace {

using namespace mainwindowtest;

class ScanCommandTest : public MainWindowFixture {
protected:
    static QStringList titles(MainWindowContext& ctx)
    {
        QStringList names;
        for (const KPSectionDataPtr& section : ctx.gridDataSource->dataSource())
            for (const KPSectionItem& item : section->datas())
                if (KPItemDataPtr document = item.itemData())
                    names.append(document->data().title());
        return names;
    }
};

} // namespace

TEST_F(ScanCommandTest, OneScanWindowAndTheSavedScanAppearsInDocuments)
{
    addDocument(QStringLiteral("Older letter"));
    ASSERT_TRUE(save());
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    ScanCommand& scan = c.parts().scan;
    ASSERT_EQ(ctx.scanner, &scan);
    EXPECT_TRUE(ctx.scanner->isAvailable());
    sideBarView().selectNode(ctx.sideBarDataSource->documentsNode().get());
    ASSERT_TRUE(testsupport::spinUntil([&] { return ctx.state.shownNode != nullptr; }));
    // The start's count is in before the scan.
    ASSERT_TRUE(testsupport::spinUntil([&] { return ctx.sideBarDataSource->documentsNode()->rightNumber() == 1; }));

    ASSERT_TRUE(ctx.commands->perform(QStringLiteral("menuScanClick")));
    KPScannerWindowController* window = scan.scannerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->window()->isVisible());
    ASSERT_TRUE(ctx.commands->perform(QStringLiteral("menuScanClick")));
    EXPECT_EQ(scan.scannerWindow(), window);

    // Save stays off with only an empty page; a scanned image turns it on.
    EXPECT_FALSE(window->saveButton()->isEnabled());
    QImage page(300, 400, QImage::Format_Grayscale8);
    page.fill(200);
    window->addImages({page});
    EXPECT_TRUE(window->saveButton()->isEnabled());
    EXPECT_TRUE(window->pageCountLabel()->text().startsWith(QStringLiteral("1")));

    window->btnSaveClick();
    KPScannerSaveWindowController* sheet = window->saveSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(sheet->saveButton()->isEnabled());
    sheet->nameField()->setText(QStringLiteral("   "));
    EXPECT_FALSE(sheet->saveButton()->isEnabled());
    // A name that would hide the file is refused in the sheet, which stays for another name.
    sheet->nameField()->setText(QStringLiteral(".letter"));
    sheet->btnSaveClick();
    EXPECT_FALSE(sheet->errorLabel()->isHidden());
    EXPECT_TRUE(sheet->errorLabel()->text().contains(QStringLiteral("\".letter\""))) << sheet->errorLabel()->text().toStdString();
    EXPECT_TRUE(sheet->saveButton()->isEnabled());
    EXPECT_EQ(window->saveSheet(), sheet);
    sheet->nameField()->setText(QStringLiteral("Scanned letter"));
    ASSERT_TRUE(sheet->saveButton()->isEnabled());
    sheet->btnSaveClick();

    ASSERT_TRUE(testsupport::spinUntil([&] { return scan.scannerWindow() == nullptr; }));
    EXPECT_TRUE(testsupport::spinUntil([&] { return titles(ctx).contains(QStringLiteral("Scanned letter")); }))
        << titles(ctx).join(u',').toStdString();
    // The badge counts it too, without the node being chosen again.
    const KPNode::Ptr documents = ctx.sideBarDataSource->documentsNode();
    EXPECT_TRUE(testsupport::spinUntil([&] { return documents->rightNumber() == 2; }))
        << "the Documents badge still says " << documents->rightNumber();
}

TEST_F(ScanCommandTest, QuitCancelsARunningSaveAndWaitsForItsWorker)
{
    MainWindowController& c = open();
    ScanCommand& scan = c.parts().scan;
    scan.showScanner(c.window());
    KPScannerWindowController* window = scan.scannerWindow();
    ASSERT_NE(window, nullptr);
    QImage page(300, 400, QImage::Format_Grayscale8);
    page.fill(200);
    window->addImages({page});
    window->btnSaveClick();
    KPScannerSaveWindowController* sheet = window->saveSheet();
    ASSERT_NE(sheet, nullptr);

    // The worker is held in its preview step, with its PDF already moved into the library, until
    // the event loop turns: only a quit that waits for the worker turns it.
    struct Gate {
        std::counting_semaphore<2> entered{0}, released{0};
    };
    const auto gate = std::make_shared<Gate>();
    const auto release = [gate] { gate->released.release(); };
    KPScannerSaveWorker::Environment env = sheet->environment();
    env.preview = [gate, preview = env.preview](const QString& path) {
        gate->entered.release();
        gate->released.acquire();
        return preview(path);
    };
    sheet->setEnvironment(env);
    sheet->nameField()->setText(QStringLiteral("Quit letter"));
    sheet->btnSaveClick();
    const auto releaseAtEnd = qScopeGuard(release);
    ASSERT_TRUE(gate->entered.try_acquire_for(std::chrono::seconds(60)));
    const QString dayFolder = KPLibraryFileManager::defaultManager().dayFolder();
    auto saved = [&] { return QDir(dayFolder).entryList({QStringLiteral("Quit letter*")}, QDir::Files); };
    ASSERT_EQ(saved().size(), 1);

    QTimer::singleShot(0, release);
    scan.cancelWork();
    // The worker has seen the cancel and taken its file back before the stores may close.
    EXPECT_TRUE(saved().isEmpty()) << saved().join(u',').toStdString();

}

TEST_F(ScanCommandTest, CtrlQInTheScanWindowIsTheProgramsQuitAndPagesNeedItsQuestion)
{
    MainWindowController& c = open();
    ScanCommand& scan = c.parts().scan;
    scan.showScanner(c.window());
    KPScannerWindowController* window = scan.scannerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(scan.needsQuitQuestion());
    QImage page(300, 400, QImage::Format_Grayscale8);
    page.fill(200);
    window->addImages({page});
    EXPECT_TRUE(scan.needsQuitQuestion());

    // The quit item's shortcut works with the scan window in front, as in the main window.
    bool quitChosen = false;
    const auto token = c.context().commands->add(QStringLiteral("terminate"), [&](const QVariant&) { quitChosen = true; });
    // The offscreen platform has no window manager to activate it.
    QApplication::setActiveWindow(window->window());
    ASSERT_EQ(QApplication::activeWindow(), window->window());
    QTest::keyClick(window->window(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(testsupport::spinUntil([&] { return quitChosen; }, 5000));
}

// Ctrl+Q while a save runs asks about the pages; when that save stores them while the question
// is up, the question goes and the quit goes on: nothing is left to lose, and an answer would
// only save the pages again.
TEST_F(ScanCommandTest, TheQuitsQuestionGoesWhenTheSaveUnderItStoresThePages)
{
    MainWindowController& c = open();
    ScanCommand& scan = c.parts().scan;
    scan.showScanner(c.window());
    KPScannerWindowController* window = scan.scannerWindow();
    ASSERT_NE(window, nullptr);
    QImage page(300, 400, QImage::Format_Grayscale8);
    page.fill(200);
    window->addImages({page});
    window->btnSaveClick();
    KPScannerSaveWindowController* sheet = window->saveSheet();
    ASSERT_NE(sheet, nullptr);

    // The worker is held in its preview step until the question is up.
    const auto gate = std::make_shared<std::counting_semaphore<4>>(0);
    KPScannerSaveWorker::Environment env = sheet->environment();
    env.preview = [gate, preview = env.preview](const QString& path) {
        gate->acquire();
        return preview(path);
    };
    sheet->setEnvironment(env);
    sheet->nameField()->setText(QStringLiteral("Letter under the question"));
    sheet->btnSaveClick();
    const auto releaseAtEnd = qScopeGuard([gate] { gate->release(); });

    std::optional<bool> quit;
    scan.askBeforeQuit([&](bool q) { quit = q; });
    const auto question = [] {
        for (QWidget* shown : QApplication::topLevelWidgets()) {
            if (qobject_cast<QDialog*>(shown) && shown->isVisible())
                return shown;
        }
        return static_cast<QWidget*>(nullptr);
    };
    ASSERT_NE(question(), nullptr) << "the quit asked nothing";
    QCoreApplication::processEvents();
    EXPECT_FALSE(quit.has_value());

    gate->release();
    ASSERT_TRUE(testsupport::spinUntil([&] { return quit.has_value(); })) << "the quit still waits for an answer";
    EXPECT_TRUE(*quit);
    EXPECT_TRUE(testsupport::spinUntil([&] { return question() == nullptr; })) << "the question is still up";
    EXPECT_TRUE(testsupport::spinUntil([&] { return scan.scannerWindow() == nullptr; }));
    const QString dayFolder = KPLibraryFileManager::defaultManager().dayFolder();
    EXPECT_EQ(QDir(dayFolder).entryList({QStringLiteral("Letter under the question*")}, QDir::Files).size(), 1);
    EXPECT_FALSE(scan.needsQuitQuestion());
}
