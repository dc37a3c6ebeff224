// The title bar's search field in the real program, typed into as a user types: a comma is part
// of what is typed, Return searches for the run as the kind its prefix names, and the suggestion
// list shows each kind's icon beside its name, with tabs that show the whole of their kind.
#include "UserLevel/UserSession.h"

#include <QColor>
#include <QDir>
#include <gtest/gtest.h>
#include <optional>
#include <utility>

using userlevel::UserSession;
using userlevel::currentCase;
using userlevel::inkIn;

namespace {

// Where things sit in the main window at scale 1, from its top-left corner.
// The grid's first two cells in icon view at the first start's zoom, grouped by title.
const QPoint kFirstCell(341, 211);
const QPoint kSecondCell(341, 505);
// The idle search field: 240 wide, its right end 40 from the window's, in the 40-high title bar.
constexpr int kFieldCentreFromRight = 40 + 120;
constexpr int kFieldCentreY = 20;

QStringList makeFiles(const QString& folder, const QStringList& names)
{
    QDir().mkpath(folder);
    QStringList paths;
    for (const QString& name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        testsupport::writeFile(path, name.toUtf8() + "\nFolivo user-level search line\n");
        paths << path;
    }
    return paths;
}

// The list's own blue: the selected row and the lit tab.
const QColor kBlue(52, 145, 250);
// Where things stand in the list at scale 1, from its top-left corner: rows 30 high every 32
// points from 36 down (under the tabs' strip and its line) and 1 in from the left, the icon 22
// square 8 into the row; the middle of the three 34-point tabs, 56 apart.
constexpr QPoint kFirstRow(1, 36);
constexpr int kRowPitch = 32;
constexpr QPoint kIconInRow(8, 4);
constexpr int kIconSize = 22;
constexpr QPoint kFileTypeTab(77 + 56, 6);


// The bounds of the blue in area of shot; none without any.
std::optional<QRect> blueIn(const QImage& shot, const QRect& area)
{
    QRect found;
    const QRect a = area & shot.rect();
    for (int y = a.top(); y <= a.bottom(); ++y)
        for (int x = a.left(); x <= a.right(); ++x)
            if (QColor(shot.pixel(x, y)) == kBlue)
                found |= QRect(x, y, 1, 1);
    return found.isNull() ? std::nullopt : std::optional<QRect>(found);
}

int count(const QImage& shot, const QRect& area, bool light)
{
    int n = 0;
    const QRect a = area & shot.rect();
    for (int y = a.top(); y <= a.bottom(); ++y)
        for (int x = a.left(); x <= a.right(); ++x)
            n += light ? qGray(shot.pixel(x, y)) > 200 : qGray(shot.pixel(x, y)) < 200;
    return n;
}

// A row's icon: ink in the icon's square, and a clear gap after it before the name (a name drawn
// where the icon should be runs on through the gap).
void expectIcon(const QImage& shot, QPoint rowTopLeft, bool selected, const char* what)
{
    const QRect icon(rowTopLeft + kIconInRow, QSize(kIconSize, kIconSize));
    EXPECT_GT(count(shot, icon, selected), 12) << what << ": no icon";
    if (!selected)
        EXPECT_EQ(count(shot, QRect(icon.topRight() + QPoint(2, 0), QSize(3, kIconSize)), false), 0)
            << what << ": the name runs where the icon should be";
}

} // namespace

// ".txt," lists what it listed before (nothing is committed yet); with the comma taken back,
// Return lists the text files only.
TEST(UserLevelSearch, ACommaIsTypedAndReturnSearchesTheRunAsItsPrefixSays)
{
    UserSession session{currentCase()};
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    // Opened with the program, as from a file manager: they are imported.
    const QStringList files =
        makeFiles(session.home() + QStringLiteral("/in"), {QStringLiteral("alpha.txt"), QStringLiteral("beta.rtf")});
    ASSERT_TRUE(session.startProgram(files));
    const auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";
    const QRect frame = session.geometry(*window);
    const auto at = [&](QPoint offset) { return frame.topLeft() + offset; };
    ASSERT_TRUE(UserSession::waitUntil([&] {
        return session.documentTitles() == QStringList({QStringLiteral("alpha"), QStringLiteral("beta")});
    })) << "the library holds " << session.documentTitles().join(", ").toStdString();

    // A cell shows a document when its page outline has ink; a cell left empty has none.
    const auto drawn = [&](const QImage& shot, QPoint cell) {
        return inkIn(shot, QRect(at(cell) - QPoint(80, 80), QSize(160, 160))) > 200;
    };
    QImage shot;
    ASSERT_TRUE(UserSession::waitUntil([&] {
        shot = session.screenshot(QStringLiteral("both-listed"));
        return drawn(shot, kFirstCell) && drawn(shot, kSecondCell);
    })) << "the grid did not show both documents (see the screenshots)";

    session.click(at(QPoint(frame.width() - kFieldCentreFromRight, kFieldCentreY)));
    session.type(QStringLiteral(".txt,"));
    session.screenshot(QStringLiteral("comma-typed"));
    // Taken back, then Return: the file type "txt" lists alpha alone. Had the comma committed
    // ".txt" as a word of the titles, the list would have emptied, and the Backspace would have
    // taken that word away again, listing both.
    session.key(QStringLiteral("BackSpace"));
    session.key(QStringLiteral("Return"));
    EXPECT_TRUE(UserSession::waitUntil([&] {
        shot = session.screenshot(QStringLiteral("txt-listed"));
        return drawn(shot, kFirstCell) && inkIn(shot, QRect(at(kSecondCell) - QPoint(80, 80), QSize(160, 160))) < 20;
    })) << "the search for the text files did not list alpha alone (see the screenshots)";
}

TEST(UserLevelSearch, SuggestionsShowTheirKindsIconsAndATabShowsItsWholeKind)
{
    UserSession session{currentCase()};
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    const auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";
    const QRect frame = session.geometry(*window);

    // The field at the title bar's right end; "p" offers free text, then the file types
    // beginning with it, the first of them selected. On a busy machine the window may still be
    // settling when it first shows, and a click then is lost: the field is clicked again until
    // its list comes. The list follows the field while it widens: it is read once it stands
    // still (the same selected row in two shots running).
    const QRect below(frame.left(), frame.top() + 40, frame.width(), 500);
    QImage shot;
    std::optional<QRect> selected;
    std::optional<QRect> before;
    const auto listed = [&] {
        shot = session.screenshot(QStringLiteral("suggestions"));
        before = std::exchange(selected, blueIn(shot, below));
        return selected && selected->height() >= 28 && before == selected;
    };
    bool came = false;
    for (int attempt = 0; attempt < 4 && !came; ++attempt) {
        session.click(frame.topLeft() + QPoint(frame.width() - 160, 20));
        session.key(QStringLiteral("ctrl+a BackSpace"));
        session.type(QStringLiteral("p"));
        came = UserSession::waitUntil(listed, 8000);
    }
    ASSERT_TRUE(came) << "no suggestion list with a selected row came";
    // The selected row's white glyph on the blue, and the next rows' icons.
    const QPoint row1 = selected->topLeft();
    expectIcon(shot, row1, true, "the selected row");
    expectIcon(shot, row1 + QPoint(0, kRowPitch), false, "the second suggestion");
    const QPoint list = row1 - kFirstRow - QPoint(0, kRowPitch);

    // The File Type tab: every file type, no free-text row on top, nothing selected.
    session.click(list + kFileTypeTab + QPoint(17, 11));
    ASSERT_TRUE(UserSession::waitUntil([&] {
        shot = session.screenshot(QStringLiteral("file-type-tab"));
        const auto lit = blueIn(shot, below);
        return lit && lit->height() < 28;
    })) << "the tab did not light alone";
    const auto tab = blueIn(shot, below);
    EXPECT_EQ(tab->topLeft(), list + kFileTypeTab);
    expectIcon(shot, list + kFirstRow, false, "the first row after the tab");
    EXPECT_LT(session.log().indexOf("No handler answered"), 0);
}
