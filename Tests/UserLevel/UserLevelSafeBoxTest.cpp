// The SafeBox as a user meets it in the real program: made from the side bar, opened, and its
// password changed through the settings popover's sheet.
#include "UserLevel/SafeBoxCase.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <utility>

using userlevel::UserSession;
using userlevel::currentCase;
using userlevel::inkIn;

namespace {

// Where things sit in the main window at scale 1, from its top-left corner.
// The tool bar's Lock and Settings buttons of the open box, and the popover's Change Password…
// button.
const QRect kOpenBoxButtons(780, 42, 220, 28);
const QPoint kSettingsButton(960, 55);
const QPoint kChangePasswordButton(959, 266);
// The password sheet's first field, and the alert's icon, yellow, where the sheet was.
const QRect kSheetField(309, 59, 382, 19);
const QRect kAlertIcon(309, 56, 32, 32);
const QRgb kAlertYellow = qRgb(255, 255, 0);

class UserLevelSafeBox : public ::testing::Test {
protected:
    UserSession session{currentCase()};

    QPoint at(quint64 window, QPoint offset) { return session.geometry(window).topLeft() + offset; }
    QStringList openBoxes() const
    {
        return QDir(session.home() + QStringLiteral("/runtime/Folivo 2/SafeBox/attached"))
            .entryList({QStringLiteral("*.json")}, QDir::Files);
    }
};

} // namespace

// A changed password ends its sheet, the box is shown closed with the alert over the window, and
// once the alert is answered the window answers the keys again: Ctrl+Q quits.
TEST_F(UserLevelSafeBox, AChangedPasswordFreesTheWindowAgain)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    const auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";

    namespace safebox = userlevel::safebox;
    ASSERT_TRUE(safebox::makeBox(session, *window, QStringLiteral("first secret"), QStringLiteral("the first")));

    // The login page follows; its field has the keys.
    ASSERT_TRUE(safebox::waitForLoginPage(session, *window)) << "no login page after the SafeBox was made";
    const QImage login = session.screenshot(QStringLiteral("login"));
    session.type(QStringLiteral("first secret"));
    session.key(QStringLiteral("Return"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return !openBoxes().isEmpty(); })) << "the SafeBox did not open";
    // The open box's view comes a moment after the box is recorded: its Lock and Settings.
    ASSERT_FALSE(session.waitForChange(QStringLiteral("open"), login, safebox::at(session, *window, kOpenBoxButtons)).isNull())
        << "the open box's view did not come (see the screenshots)";

    // Settings › Change Password…: the old password, the new one twice, a hint, Return.
    const QImage open = session.screenshot(QStringLiteral("open"));
    session.click(at(*window, kSettingsButton));
    ASSERT_FALSE(session.waitForChange(QStringLiteral("popover"), open, safebox::button(session, *window, kChangePasswordButton)).isNull())
        << "the settings popover did not come (see the screenshots)";
    session.click(at(*window, kChangePasswordButton));
    // The sheet's first field has the keys once it is down.
    ASSERT_FALSE(session.waitForScreen(QStringLiteral("sheet"), [&](const QImage& shot) {
        return safebox::dimmed(session, *window, shot) && inkIn(shot, safebox::at(session, *window, kSheetField)) > 0;
    }).isNull()) << "the password sheet did not come (see the screenshots)";
    session.type(QStringLiteral("first secret"));
    session.key(QStringLiteral("Tab"));
    session.type(QStringLiteral("second secret"));
    session.key(QStringLiteral("Tab"));
    session.type(QStringLiteral("second secret"));
    session.key(QStringLiteral("Tab"));
    session.type(QStringLiteral("the second"));
    session.key(QStringLiteral("Return"));

    // The sheet ends, so the window closes the box; the alert says the password changed.
    EXPECT_TRUE(UserSession::waitUntil([&] { return openBoxes().isEmpty(); }))
        << "the box stayed open: the password sheet never ended (see the screenshots)";
    const auto alertShown = [&](const QImage& shot) {
        return userlevel::colorIn(shot, safebox::at(session, *window, kAlertIcon), kAlertYellow) > 100;
    };
    ASSERT_FALSE(session.waitForScreen(QStringLiteral("alert"), alertShown).isNull()) << "no alert came (see the screenshots)";
    session.key(QStringLiteral("Return"));
    ASSERT_FALSE(session.waitForScreen(QStringLiteral("answered"), [&](const QImage& shot) {
        return !alertShown(shot) && !safebox::dimmed(session, *window, shot);
    }).isNull()) << "the alert stayed (see the screenshots)";
    session.key(QStringLiteral("ctrl+q"));
    EXPECT_EQ(session.waitForProgramExit(), 0) << "Ctrl+Q did not end the program: the window is still blocked";
}
