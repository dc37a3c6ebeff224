// The smart-folder sheet in the real program: opened from the File menu, drawn at scale 1, and
// confirmed with Return, it leaves a smart folder in the library.
#include "UserLevel/UserSession.h"

#include <gtest/gtest.h>
#include <utility>

using userlevel::UserSession;
using userlevel::currentCase;

namespace {

constexpr int kFileMenu = 1;
// A spot of the main window's plain background at scale 1, from its top-left corner.
const QPoint kPlainSpot(900, 600);

} // namespace

TEST(UserLevelSmartFolder, TheSheetFromTheFileMenuSavesANewSmartFolder)
{
    UserSession session{currentCase()};
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    const auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";

    // File › New Smart Folder, below New Folder, New Folder at Root and New Collection (New
    // Folder with Selection is passed over while nothing is selected).
    session.screenshot(QStringLiteral("before-sheet"));
    ASSERT_TRUE(session.openMenu(*window, kFileMenu));
    session.key(QStringLiteral("Down Down Down"));
    session.choose();
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.openMenus() == 0; }));
    // The sheet has come down over the window (which it dims) once it stands still.
    const QPoint plain = session.geometry(*window).topLeft() + kPlainSpot;
    ASSERT_FALSE(session.waitForScreen(QStringLiteral("smart-folder-sheet"), [&](const QImage& shot) {
        return userlevel::dimmedAt(shot, plain);
    }).isNull()) << "no sheet came";
    // The name field has the keys; its suggested name gives way to the typed one.
    session.key(QStringLiteral("ctrl+a"));
    session.type(QStringLiteral("Reading"));
    session.key(QStringLiteral("Return"));
    QByteArray rules;
    EXPECT_TRUE(UserSession::waitUntil([&] {
        const auto rows = session.query(QStringLiteral("SELECT a_data FROM t_DBNode WHERE a_title = 'Reading' AND a_type = 3"));
        rules = rows.isEmpty() ? QByteArray() : rows.first().value(0).toByteArray();
        return !rows.isEmpty();
    })) << "no smart folder named Reading was stored";
    // The new folder's one rule: the collection row the sheet starts with (its key path).
    EXPECT_TRUE(rules.contains("source")) << rules.toHex().constData();
    session.screenshot(QStringLiteral("smart-folder-saved"));
    EXPECT_LT(session.log().indexOf("No handler answered"), 0);
}
