// The SafeBox Settings popover as the user sees it in the real program, at scale 1 and 2: what
// lies beside its arrow shows the window beneath, not black.
#include "UserLevel/SafeBoxCase.h"

#include <QFileInfo>

using userlevel::UserSession;

namespace {

// Where things sit in the main window at scale 1, from its top-left corner.
const QPoint kSafeBoxRow(75, 152);
const QPoint kSetupButton(746, 454);
const QPoint kSettingsButton(960, 55);
// The popover's arrow: its length from the body, and half its base with a pixel to spare.
constexpr int kArrowLength = 9;
constexpr int kArrowHalfBase = 10;

class UserLevelSafeBoxPopover : public userlevel::SafeBoxCase {
protected:
    // Side bar › SafeBox, the two pages of explanation, a password, its check and a hint.
    bool makeBox(quint64 window)
    {
        session.click(at(window, kSafeBoxRow));
        settle(QStringLiteral("setup"));
        session.click(at(window, kSetupButton));
        settle(QStringLiteral("setup"));
        session.click(at(window, kSetupButton));
        settle(QStringLiteral("password"));
        session.type(QStringLiteral("secret"));
        session.key(QStringLiteral("Tab"));
        session.type(QStringLiteral("secret"));
        session.key(QStringLiteral("Tab"));
        session.type(QStringLiteral("hint"));
        session.click(at(window, kSetupButton));
        return UserSession::waitUntil([&] { return QFileInfo::exists(session.libraryFolder() + QStringLiteral("/safebox.db")); });
    }

    // Types the password once the login page's Open button is drawn; field: where to click
    // first, when the page does not have the keys already.
    bool logIn(const QRect& openButton, std::optional<QPoint> field = std::nullopt)
    {
        if (!UserSession::waitUntil([&] { return userlevel::inkIn(session.screenshot(QStringLiteral("login")), openButton) > 50; }))
            return false;
        settle(QStringLiteral("login"));
        if (field)
            session.click(*field);
        session.type(QStringLiteral("secret"));
        session.key(QStringLiteral("Return"));
        return UserSession::waitUntil([&] { return !openBoxes().isEmpty(); });
    }

    // Opens the Settings popover at click (screen) and answers how many pixels of the rows beside
    // its arrow, over the main window, are near-black; -1 when no popover appeared.
    int blackBesideArrow(quint64 window, QPoint click, int scale, const QString& name)
    {
        session.click(click);
        std::optional<QRect> frame;
        UserSession::waitUntil([&] {
            for (quint64 id : session.visibleWindows()) {
                const QRect r = session.geometry(id);
                if (id != window && r.left() < click.x() && r.right() > click.x() && r.top() > click.y()
                    && r.top() < click.y() + 40 * scale)
                    frame = r;
            }
            return frame.has_value();
        });
        if (!frame)
            return -1;
        const QImage shot = settle(name);
        const QRect over = session.geometry(window);
        int black = 0;
        for (int y = frame->top(); y < frame->top() + kArrowLength * scale; ++y) {
            for (int x = frame->left(); x <= frame->right(); ++x) {
                if (!over.contains(x, y) || std::abs(x - click.x()) <= kArrowHalfBase * scale + 2 * scale)
                    continue;
                const QColor c = shot.pixelColor(x, y);
                if (c.red() < 48 && c.green() < 48 && c.blue() < 48)
                    ++black;
            }
        }
        session.key(QStringLiteral("Escape"));
        return black;
    }
};

} // namespace

TEST_F(UserLevelSafeBoxPopover, NothingBlackShowsBesideTheSettingsArrowAtScaleOneAndTwo)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";
    ASSERT_TRUE(makeBox(*window)) << "no SafeBox was made (see the screenshots)";
    ASSERT_TRUE(logIn(QRect(at(*window, kSetupButton) - QPoint(40, 12), QSize(80, 24)))) << "the SafeBox did not open";
    settle(QStringLiteral("open"));
    // The tool bar's buttons stand at the window's right edge.
    const int fromRight = session.geometry(*window).width() - kSettingsButton.x();
    EXPECT_EQ(blackBesideArrow(*window, at(*window, kSettingsButton), 1, QStringLiteral("popover")), 0)
        << "black pixels beside the popover's arrow at scale 1 (see the screenshots)";

    // The same box at scale 2, after a quit that locked it.
    session.key(QStringLiteral("ctrl+q"));
    ASSERT_EQ(session.waitForProgramExit(), 0);
    session.setProgramVariable(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    ASSERT_TRUE(session.startProgram());
    window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared at scale 2";
    settle(QStringLiteral("scale 2"));
    session.click(at(*window, kSafeBoxRow * 2));
    // At scale 2 the window fills the 1440 × 900 screen; the login page's Open button and field
    // stand here in it.
    ASSERT_TRUE(logIn(QRect(at(*window, QPoint(1140, 662)), QSize(150, 36)), at(*window, QPoint(920, 340))))
        << "the SafeBox did not open at scale 2";
    settle(QStringLiteral("open"));
    const QPoint settings(session.geometry(*window).width() - 2 * fromRight, 2 * kSettingsButton.y());
    EXPECT_EQ(blackBesideArrow(*window, at(*window, settings), 2, QStringLiteral("popover at scale 2")), 0)
        << "black pixels beside the popover's arrow at scale 2 (see the screenshots)";
}
