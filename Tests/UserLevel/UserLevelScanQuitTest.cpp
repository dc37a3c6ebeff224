// Quitting with scanned pages, in the real program with SANE's test backend: a termination
// signal after a scan (the backend resets the signal's handler when it starts) still ends the
// run cleanly, and Ctrl+Q in the scan window asks before pages are lost.
#include "UserLevel/SafeBoxCase.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>

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
    std::optional<quint64> openScanWindow(quint64 main)
    {
        if (!session.openMenu(main, kFileMenu))
            return std::nullopt;
        session.key(QStringLiteral("Up Up"));
        // Return, as choose() would, though the scan window is a window more than before the menu.
        session.key(QStringLiteral("Return"));
        return session.waitForWindow(QStringLiteral("Scan"));
    }
    // The scanner sheet on the scan window with the test device open; false when it never opened.
    bool openScanner(quint64 scan)
    {
        session.click(session.geometry(scan).bottomLeft() + kScanButtonFromBottomLeft);
        return UserSession::waitUntil([&] { return session.log().contains("test:0 is open"); });
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
    // The scan window's part below its title bar and above its buttons, where sheets hang.
    QImage sheetArea(quint64 scan, const QString& name)
    {
        return session.screenshot(name).copy(session.geometry(scan).adjusted(0, 50, 0, -80));
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

    const auto scan = openScanWindow(*main);
    ASSERT_TRUE(scan) << "no scan window";
    ASSERT_TRUE(scanOnePage(*scan)) << "the test scanner gave no page";
    // The scanner sheet goes; Save… opens the save sheet with the name field ready.
    const QImage withSheet = sheetArea(*scan, QStringLiteral("scanned"));
    session.click(session.geometry(*scan).topLeft() + kSheetDoneButton);
    ASSERT_TRUE(UserSession::waitUntil([&] { return sheetArea(*scan, QStringLiteral("sheet-gone")) != withSheet; }));
    const QImage page = sheetArea(*scan, QStringLiteral("page"));
    session.click(session.geometry(*scan).bottomRight() + kSaveButtonFromBottomRight);
    ASSERT_TRUE(UserSession::waitUntil([&] { return sheetArea(*scan, QStringLiteral("save-sheet")) != page; }))
        << "no save sheet came";
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
    EXPECT_EQ(filesBelow(runtimeFolder(), QStringLiteral("*.pdf")), QStringList()) << "a partial scan PDF was left";
    EXPECT_EQ(filesBelow(runtimeFolder(), QStringLiteral("*.sock")), QStringList()) << "the single-instance socket stayed";
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
    const QImage withSheet = sheetArea(*scan, QStringLiteral("scanned"));
    session.click(session.geometry(*scan).topLeft() + kSheetDoneButton);
    ASSERT_TRUE(UserSession::waitUntil([&] { return sheetArea(*scan, QStringLiteral("sheet-gone")) != withSheet; }));
    const QImage page = session.settledScreenshot(QStringLiteral("page")).copy(session.geometry(*scan).adjusted(0, 50, 0, -80));

    // Ctrl+Q with the scan window in front: the question comes down on it; Escape is its Cancel,
    // and the program goes on with its page.
    session.key(QStringLiteral("ctrl+q"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return sheetArea(*scan, QStringLiteral("question")) != page; }))
        << "Ctrl+Q asked nothing";
    session.key(QStringLiteral("Escape"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return sheetArea(*scan, QStringLiteral("question-gone")) == page; }))
        << "the question stayed after Escape";
    EXPECT_TRUE(session.programRunning()) << "Cancel quit the program";

    // Again, and Save: the save sheet, a name, and the quit goes on once the document is stored.
    session.key(QStringLiteral("ctrl+q"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return sheetArea(*scan, QStringLiteral("question-again")) != page; }));
    session.key(QStringLiteral("Return"));
    // The question goes, and the save sheet comes down after its pause, its name field ready.
    ASSERT_TRUE(UserSession::waitUntil([&] { return sheetArea(*scan, QStringLiteral("question-answered")) == page; }));
    ASSERT_TRUE(UserSession::waitUntil([&] { return sheetArea(*scan, QStringLiteral("save-sheet")) != page; }))
        << "no save sheet after Save";
    session.type(QStringLiteral("Quit letter"));
    session.key(QStringLiteral("Return"));
    EXPECT_EQ(session.waitForProgramExit(), 0) << "the program did not quit after the save";
    EXPECT_TRUE(session.documentTitles().contains(QStringLiteral("Quit letter"))) << session.documentTitles().join(u',').toStdString();
}
