// The SafeBox as a user meets it in the real program: made from the side bar, opened, and its
// password changed through the settings popover's sheet.
#include "UserLevel/UserSession.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <utility>

using userlevel::UserSession;
using userlevel::currentCase;

namespace {

// Where things sit in the main window at scale 1, from its top-left corner.
const QPoint kSafeBoxRow(75, 152);
// The set-up pages' right-hand button (Continue, Create) and the login page's Open.
const QPoint kSetupButton(746, 454);
// The tool bar's Settings button of the open box, and the popover's Change Password… button.
const QPoint kSettingsButton(960, 55);
const QPoint kChangePasswordButton(959, 266);

class UserLevelSafeBox : public ::testing::Test {
protected:
    UserSession session{currentCase()};

    QPoint at(quint64 window, QPoint offset) { return session.geometry(window).topLeft() + offset; }
    QImage settle(const QString& name) { return session.settledScreenshot(name); }
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

    // Side bar › SafeBox, the two pages of explanation, then the password, its check and a hint.
    session.click(at(*window, kSafeBoxRow));
    settle(QStringLiteral("setup"));
    session.click(at(*window, kSetupButton));
    settle(QStringLiteral("setup"));
    session.click(at(*window, kSetupButton));
    settle(QStringLiteral("password"));
    session.type(QStringLiteral("first secret"));
    session.key(QStringLiteral("Tab"));
    session.type(QStringLiteral("first secret"));
    session.key(QStringLiteral("Tab"));
    session.type(QStringLiteral("the first"));
    session.click(at(*window, kSetupButton));
    ASSERT_TRUE(UserSession::waitUntil([&] { return QFileInfo::exists(session.libraryFolder() + QStringLiteral("/safebox.db")); }))
        << "no SafeBox was made (see the screenshots)";

    // The login page follows; its field has the keys.
    const QRect openButton(at(*window, kSetupButton) - QPoint(40, 12), QSize(80, 24));
    ASSERT_TRUE(UserSession::waitUntil([&] { return userlevel::inkIn(session.screenshot(QStringLiteral("login")), openButton) > 50; }))
        << "no login page after the SafeBox was made";
    settle(QStringLiteral("login"));
    session.type(QStringLiteral("first secret"));
    session.key(QStringLiteral("Return"));
    ASSERT_TRUE(UserSession::waitUntil([&] { return !openBoxes().isEmpty(); })) << "the SafeBox did not open";
    settle(QStringLiteral("open"));

    // Settings › Change Password…: the old password, the new one twice, a hint, Return.
    session.click(at(*window, kSettingsButton));
    settle(QStringLiteral("popover"));
    session.click(at(*window, kChangePasswordButton));
    settle(QStringLiteral("sheet"));
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
    settle(QStringLiteral("alert"));
    session.key(QStringLiteral("Return"));
    settle(QStringLiteral("answered"));
    session.key(QStringLiteral("ctrl+q"));
    EXPECT_EQ(session.waitForProgramExit(), 0) << "Ctrl+Q did not end the program: the window is still blocked";
}
