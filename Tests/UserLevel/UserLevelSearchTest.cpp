// The title bar's search field in the real program, typed into as a user types: a comma is part
// of what is typed, and Return searches for the run as the kind its prefix names.
#include "UserLevel/UserSession.h"

#include <QDir>
#include <gtest/gtest.h>

using userlevel::UserSession;
using userlevel::inkIn;

namespace {

// Where things sit in the main window at scale 1, from its top-left corner.
// The grid's first two cells in icon view at the first start's zoom, grouped by title.
const QPoint kFirstCell(341, 211);
const QPoint kSecondCell(341, 505);
// The idle search field: 240 wide, its right end 40 from the window's, in the 40-high title bar.
constexpr int kFieldCentreFromRight = 40 + 120;
constexpr int kFieldCentreY = 20;

QString currentCase()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return QStringLiteral("%1.%2").arg(QString::fromLatin1(info->test_suite_name()), QString::fromLatin1(info->name()));
}

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
