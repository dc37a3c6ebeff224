// The scanner sheet in the real program: File › Scan… opens the scan window, its Scan… button
// brings the sheet down, and Escape takes it away again while no scanner is open (SANE is given
// no backend here, so none ever is); the scan window stays.
#include "UserLevel/UserSession.h"

#include <gtest/gtest.h>
#include <utility>

using userlevel::UserSession;
using userlevel::currentCase;

namespace {

constexpr int kFileMenu = 1;
// The scan window's Scan… button, the first of its bottom row, from the window's bottom-left.
const QPoint kScanButtonFromBottomLeft(45, -22);

} // namespace

TEST(UserLevelScanner, EscapeTakesTheScannerSheetAwayWhileNoScannerIsOpen)
{
    // SANE reads its configuration from here: no backend, so the sheet never finds a scanner
    // (and probes no network), as on a machine without one.
    const QString sane = testsupport::makeTempDir(QStringLiteral("sane"));
    testsupport::writeFile(sane + QStringLiteral("/dll.conf"), "");
    const QByteArray previous = qgetenv("SANE_CONFIG_DIR");
    qputenv("SANE_CONFIG_DIR", sane.toLocal8Bit());
    UserSession session{currentCase()};
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    if (previous.isEmpty())
        qunsetenv("SANE_CONFIG_DIR");
    else
        qputenv("SANE_CONFIG_DIR", previous);
    const auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";

    // The window is ready for its menus once it has drawn its library (two looks in a row agree).
    QImage main;
    UserSession::waitUntil([&] { return std::exchange(main, session.screenshot(QStringLiteral("main-window"))) == main; });

    // File › Scan…, the item above the recent libraries' submenu, the last one (Up from the first
    // item wraps to it).
    ASSERT_TRUE(session.openMenu(*window, kFileMenu));
    session.key(QStringLiteral("Up Up"));
    QImage menu;
    UserSession::waitUntil([&] { return std::exchange(menu, session.screenshot(QStringLiteral("file-menu"))) == menu; });
    // Chosen with Return, as choose() would, though the scan window it opens is a window more
    // than before the menu, which choose() would take for a menu still open.
    session.key(QStringLiteral("Return"));
    const auto scan = session.waitForWindow(QStringLiteral("Scan"));
    ASSERT_TRUE(scan) << "no scan window";
    const QRect frame = session.geometry(*scan);
    // A window is drawn a moment after it is mapped: the scan window is looked at once its
    // Scan… button is there.
    const QRect scanButton(frame.bottomLeft() + kScanButtonFromBottomLeft - QPoint(36, 10), QSize(72, 20));
    ASSERT_FALSE(session.waitForScreen(QStringLiteral("scan-window"), [&](const QImage& screen) {
        return userlevel::inkIn(screen, scanButton) > 50;
    }).isNull()) << "the scan window did not draw its buttons";
    // Where the sheet hangs: below the title bar and above the buttons, whose hover and focus
    // the click changes.
    const QRect sheetArea = frame.adjusted(0, 50, 0, -80);
    auto shot = [&](const QString& name) { return session.screenshot(name).copy(sheetArea); };
    // Settled once two looks in a row agree.
    auto settled = [&](const QString& name) {
        QImage last;
        UserSession::waitUntil([&] { return std::exchange(last, shot(name)) == last && !last.isNull(); });
        return last;
    };
    const QImage without = settled(QStringLiteral("scan-window"));

    session.click(frame.bottomLeft() + kScanButtonFromBottomLeft);
    ASSERT_TRUE(UserSession::waitUntil([&] { return shot(QStringLiteral("scanner-sheet")) != without; }))
        << "no scanner sheet came";
    settled(QStringLiteral("scanner-sheet"));

    session.key(QStringLiteral("Escape"));
    EXPECT_TRUE(UserSession::waitUntil([&] { return shot(QStringLiteral("after-escape")) == without; }))
        << "the scanner sheet stayed after Escape";
    EXPECT_TRUE(session.isViewable(*scan)) << "the scan window went too";
    EXPECT_LT(session.log().indexOf("No handler answered"), 0);
}
