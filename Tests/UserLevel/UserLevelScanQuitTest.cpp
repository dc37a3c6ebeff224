// Quitting with scanned pages, in the real program with SANE's test backend: a termination
// signal after a scan (the backend resets the signal's handler when it starts) still ends the
// run cleanly (an open SafeBox locked, no partial PDF, no single-instance socket left), and Ctrl+Q
// in the scan window asks before pages are lost, a question that goes when a save under way
// stores the pages meanwhile. That case runs the program's test build, whose scan saves wait
// once their PDF is in the library until the case lets them go (FOLIVO_TEST_SCAN_SAVE_HOLD).
#include "UserLevel/ProgramHold.h"
#include "UserLevel/SafeBoxCase.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using userlevel::UserSession;

namespace {

constexpr int kFileMenu = 1;
// The scan window's Scan… button, the first of its bottom row, from the window's bottom-left,
// and its Save… button, the last, from the bottom-right.
const QPoint kScanButtonFromBottomLeft(45, -22);
const QPoint kSaveButtonFromBottomRight(-49, -22);
// The scanner sheet's Scan and Done buttons from the scan window's top-left.
const QPoint kSheetScanButton(594, 421);
const QPoint kSheetDoneButton(681, 421);
// The main window's SafeBox row, and the set-up pages' right-hand button (Continue, Create) and
// the login page's Open, from its top-left corner.
const QPoint kSafeBoxRow(75, 152);
const QPoint kSetupButton(746, 454);
const QString kPassword = QStringLiteral("kept secret");

class UserLevelScanQuit : public userlevel::SafeBoxCase {
protected:
    // SANE reads its configuration from here: the test backend alone, no network probes.
    void useTestScanner()
    {
        const QString sane = session.home() + QStringLiteral("/sane");
        QDir().mkpath(sane);
        testsupport::writeFile(sane + QStringLiteral("/dll.conf"), "test\n");
        testsupport::writeFile(sane + QStringLiteral("/test.conf"), "number_of_devices 1\n");
        session.setProgramVariable(QStringLiteral("SANE_CONFIG_DIR"), sane);
    }
    // File › Scan…, the item above the recent libraries' submenu (Up from the first item wraps
    // to the last).
    // A window just up may not take its menu yet: then the menu is closed and opened again.
    std::optional<quint64> openScanWindow(quint64 main)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (session.tryOpenMenu(main, kFileMenu)) {
                session.key(QStringLiteral("Up Up"));
                // Return, as choose() would, though the scan window is a window more than before
                // the menu.
                session.key(QStringLiteral("Return"));
                if (const auto scan = session.waitForWindow(QStringLiteral("Scan"), 5000))
                    return scan;
            }
            session.key(QStringLiteral("Escape Escape"));
            UserSession::waitUntil([&] { return session.openMenus() == 0; }, 5000);
        }
        session.screenshot(QStringLiteral("no-scan-window"));
        return std::nullopt;
    }
    // The scanner sheet on the scan window with the test device open; false when it never opened.
    bool openScanner(quint64 scan)
    {
        session.click(session.geometry(scan).bottomLeft() + kScanButtonFromBottomLeft);
        return UserSession::waitUntil([&] { return session.log().contains("test:0 is open"); });
    }
    // A SafeBox made and opened through the side bar, as the SafeBox cases do; its registry
    // entry once its sealer runs.
    std::optional<userlevel::OpenBox> openSafeBox(quint64 main)
    {
        const auto at = [&](QPoint offset) { return session.geometry(main).topLeft() + offset; };
        session.click(at(kSafeBoxRow));
        session.settledScreenshot(QStringLiteral("setup"));
        session.click(at(kSetupButton));
        session.settledScreenshot(QStringLiteral("setup"));
        session.click(at(kSetupButton));
        session.settledScreenshot(QStringLiteral("password"));
        session.type(kPassword);
        session.key(QStringLiteral("Tab"));
        session.type(kPassword);
        session.key(QStringLiteral("Tab"));
        session.type(QStringLiteral("the kept one"));
        session.click(at(kSetupButton));
        if (!UserSession::waitUntil([&] { return QFileInfo::exists(session.libraryFolder() + QStringLiteral("/safebox.db")); }))
            return std::nullopt;
        // The login page's Open button has been drawn.
        const QRect openButton(at(kSetupButton) - QPoint(40, 12), QSize(80, 24));
        if (!UserSession::waitUntil([&] { return userlevel::inkIn(session.screenshot(QStringLiteral("login")), openButton) > 50; }))
            return std::nullopt;
        session.settledScreenshot(QStringLiteral("login"));
        session.type(kPassword);
        session.key(QStringLiteral("Return"));
        if (!UserSession::waitUntil([&] { return openBoxes().size() == 1 && openBoxes().first().sealerPid > 0; }))
            return std::nullopt;
        return openBoxes().first();
    }
    // One page scanned into the scan window, the sheet left open; false when none came.
    bool scanOnePage(quint64 scan)
    {
        if (!openScanner(scan))
            return false;
        // The sheet may still slide down when the scanner opens, and a click then misses its
        // button: clicked again until a scan has ended (a click while one runs does nothing).
        for (int attempt = 0; attempt < 10; ++attempt) {
            session.click(session.geometry(scan).topLeft() + kSheetScanButton);
            if (UserSession::waitUntil([&] { return session.log().contains("The scan ended with 1 pages"); }, 3000))
                return true;
        }
        session.screenshot(QStringLiteral("no-scan"));
        return false;
    }
    // Save… in the scan window, until its sheet asks for a name.
    bool saveSheet(quint64 scan)
    {
        for (int attempt = 0; attempt < 10; ++attempt) {
            session.click(session.geometry(scan).bottomRight() + kSaveButtonFromBottomRight);
            if (UserSession::waitUntil([&] { return session.log().contains("The save sheet asks for a name"); }, 3000))
                return true;
        }
        session.screenshot(QStringLiteral("no-save-sheet"));
        return false;
    }
    // Files below folder (hidden ones too) matching pattern.
    static QStringList filesBelow(const QString& folder, const QString& pattern)
    {
        QStringList found;
        QDirIterator it(folder, {pattern}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }
    // The program's process, as its window names it.
    pid_t programPid(quint64 window) const
    {
        QString out;
        session.xdotool({QStringLiteral("getwindowpid"), QString::number(window)}, &out);
        return pid_t(out.trimmed().toInt());
    }
    QString runtimeFolder() const { return session.home() + QStringLiteral("/runtime"); }
};

} // namespace

TEST_F(UserLevelScanQuit, ASignalAfterAScanEndsTheRunCleanlyEvenDuringASave)
{
    useTestScanner();
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    const auto main = session.mainWindow();
    ASSERT_TRUE(main) << "the main window never appeared";
    // The single-instance socket, in the private runtime folder.
    ASSERT_TRUE(UserSession::waitUntil([&] { return !filesBelow(runtimeFolder(), QStringLiteral("*.sock")).isEmpty(); }));
    const auto box = openSafeBox(*main);
    ASSERT_TRUE(box) << "the SafeBox did not open (see the screenshots)";
    ASSERT_TRUE(QFileInfo::exists(box->mount));

    const auto scan = openScanWindow(*main);
    ASSERT_TRUE(scan) << "no scan window";
    ASSERT_TRUE(scanOnePage(*scan)) << "the test scanner gave no page";
    // Done takes the scanner sheet away; Save… opens the save sheet with the name field ready
    // (clicked again while the scanner sheet still covers the window on its way out).
    session.click(session.geometry(*scan).topLeft() + kSheetDoneButton);
    ASSERT_TRUE(saveSheet(*scan)) << "no save sheet came";
    session.type(QStringLiteral("Signal letter"));
    session.key(QStringLiteral("Return"));
    // The signal comes once the save has begun: its PDF is being written, or already stored.
    ASSERT_TRUE(UserSession::waitUntil([&] {
        return !filesBelow(runtimeFolder(), QStringLiteral("Signal letter*.pdf")).isEmpty()
            || session.documentTitles().contains(QStringLiteral("Signal letter"));
    })) << "the save never began";

    ASSERT_GT(programPid(*main), 0);
    ::kill(programPid(*main), SIGTERM);
    EXPECT_EQ(session.waitForProgramExit(), 0) << "the program did not end by its own exit";
    // The quit locked the box: no registry entry, no open folder, no sealer.
    EXPECT_TRUE(openBoxes().isEmpty()) << "the SafeBox was left open";
    EXPECT_FALSE(QFileInfo::exists(box->mount)) << "the SafeBox's folder is still there";
    EXPECT_TRUE(UserSession::waitUntil([&] { return !isSealer(box->sealerPid); })) << "the sealer still runs";
    const QStringList pdfs = filesBelow(runtimeFolder(), QStringLiteral("*.pdf"));
    EXPECT_TRUE(pdfs.isEmpty()) << "a partial scan PDF was left: " << pdfs.join(u',').toStdString();
    const QStringList sockets = filesBelow(runtimeFolder(), QStringLiteral("*.sock"));
    EXPECT_TRUE(sockets.isEmpty()) << "the single-instance socket stayed: " << sockets.join(u',').toStdString();
}

TEST_F(UserLevelScanQuit, CtrlQInTheScanWindowAsksAndSaveStoresThePagesBeforeTheQuit)
{
    useTestScanner();
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    const auto main = session.mainWindow();
    ASSERT_TRUE(main) << "the main window never appeared";
    const auto scan = openScanWindow(*main);
    ASSERT_TRUE(scan) << "no scan window";
    ASSERT_TRUE(scanOnePage(*scan)) << "the test scanner gave no page";
    session.click(session.geometry(*scan).topLeft() + kSheetDoneButton);

    // Ctrl+Q with the scan window in front: the question comes down on it; Escape is its Cancel,
    // and the program goes on with its page.
    session.key(QStringLiteral("ctrl+q"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.log().contains("The quit asks about 1 pages"); }))
        << "Ctrl+Q asked nothing";
    ASSERT_TRUE(session.programRunning()) << "Ctrl+Q quit at once, the page thrown away";
    session.screenshot(QStringLiteral("question"));
    session.key(QStringLiteral("Escape"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.log().contains("The quit's question was answered: Cancel"); }))
        << "Escape did not answer the question";
    EXPECT_TRUE(session.programRunning()) << "Cancel quit the program";

    // Again, and Save: the save sheet, a name, and the quit goes on once the document is stored.
    session.key(QStringLiteral("ctrl+q"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.log().count("The quit asks about 1 pages") == 2; }));
    session.key(QStringLiteral("Return"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.log().contains("The save sheet asks for a name"); }))
        << "no save sheet after Save";
    session.screenshot(QStringLiteral("save-sheet"));
    session.type(QStringLiteral("Quit letter"));
    session.key(QStringLiteral("Return"));
    EXPECT_EQ(session.waitForProgramExit(), 0) << "the program did not quit after the save";
    EXPECT_TRUE(session.documentTitles().contains(QStringLiteral("Quit letter")))
        << session.documentTitles().join(u',').toStdString();
}

TEST_F(UserLevelScanQuit, CtrlQDuringASaveAsksAndTheQuestionGoesOnceTheSaveHasStoredThePages)
{
    userlevel::ProgramHold hold(session.home() + QStringLiteral("/save-hold"));
    useTestScanner();
    session.skipWelcome();
    session.useTestBuild();
    session.setProgramVariable(QStringLiteral("FOLIVO_TEST_SCAN_SAVE_HOLD"), hold.path());
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    const auto main = session.mainWindow();
    ASSERT_TRUE(main) << "the main window never appeared";
    const auto scan = openScanWindow(*main);
    ASSERT_TRUE(scan) << "no scan window";
    ASSERT_TRUE(scanOnePage(*scan)) << "the test scanner gave no page";
    session.click(session.geometry(*scan).topLeft() + kSheetDoneButton);
    ASSERT_TRUE(saveSheet(*scan)) << "no save sheet came";
    session.type(QStringLiteral("Held letter"));
    session.key(QStringLiteral("Return"));
    // The save is under way: its PDF is in the library, and it waits at the hold.
    ASSERT_TRUE(UserSession::waitUntil([&] { return hold.held(); })) << "the save never reached the hold";
    const QString documents = session.libraryFolder();
    ASSERT_FALSE(filesBelow(documents, QStringLiteral("Held letter*.pdf")).isEmpty()) << "no PDF in the library";

    // Ctrl+Q meanwhile, in the main window (the save sheet keeps the scan window's shortcuts to
    // itself), asks about the page being saved.
    ASSERT_TRUE(UserSession::waitUntil([&] {
        session.xdotool({QStringLiteral("windowfocus"), QString::number(*main)});
        return session.focusedWindow() == *main;
    })) << "the main window never took the keyboard";
    const QList<quint64> before = session.visibleWindows();
    session.key(QStringLiteral("ctrl+q"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.log().contains("The quit asks about 1 pages in the save sheet"); }))
        << "Ctrl+Q asked nothing during the save";
    // The question is a window of its own over the scan window.
    const auto question = session.waitForNewWindow(before);
    session.screenshot(QStringLiteral("question"));
    ASSERT_TRUE(question) << "the question never showed";
    ASSERT_TRUE(session.programRunning()) << "Ctrl+Q quit at once, during the save";

    // The save goes on and stores the page: the question goes unanswered and the quit goes on.
    hold.release();
    EXPECT_EQ(session.waitForProgramExit(), 0) << "the question outlived the save, and the program still runs";
    EXPECT_TRUE(session.log().contains("The pages were saved while the quit asked")) << "no sign of the stored pages";
    EXPECT_FALSE(session.log().contains("The quit's question was answered")) << "the question was answered after all";
    EXPECT_TRUE(session.documentTitles().contains(QStringLiteral("Held letter")))
        << session.documentTitles().join(u',').toStdString();
    EXPECT_EQ(filesBelow(documents, QStringLiteral("Held letter*.pdf")).size(), 1);
}
