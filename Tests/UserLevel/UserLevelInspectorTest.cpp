// The inspector's tag and author fields in the real program, typed into as a user types: a comma
// ends one name and the field keeps the keyboard for the next, so "alpha,beta" then Tab stores
// both names. What was stored is read back from the library on disk.
#include "UserLevel/UserSession.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstdlib>

using userlevel::UserSession;
using userlevel::currentCase;
using userlevel::inkIn;

namespace {

// Where things sit in the main window at scale 1. The grid's first cell in icon view at the
// first start's zoom, from the window's top-left corner.
const QPoint kFirstCell(341, 211);
// The inspector's fields, from the window's right end: they start 239 in; the column where the
// lines under its rows are looked for, right of any placeholder text.
constexpr int kFieldFromRight = -150;
constexpr int kLineColumnFromRight = -70;
// The 2-point line under each of the inspector's rows.
const QColor kRowLine(83, 94, 105);
// The inspector pane, from the window's top-right corner: 280 wide under the title bar.
const QRect kInspector(-280, 40, 280, 600);

// The names linked to the document titled title, sorted: its tags, or (authors) its authors,
// which the store links from the author's side.
QStringList linkedNames(const UserSession& session, const QString& title, bool authors)
{
    const QString sql = authors ? QStringLiteral("SELECT n.a_name FROM t_DBFileInfo f JOIN j_DBAuthor_fileInfos j ON j.dst = f.pk "
                                                 "JOIN t_DBAuthor n ON n.pk = j.src WHERE f.a_title = '%1'")
                                : QStringLiteral("SELECT n.a_name FROM t_DBFileInfo f JOIN j_DBFileInfo_tags j ON j.src = f.pk "
                                                 "JOIN t_DBTag n ON n.pk = j.dst WHERE f.a_title = '%1'");
    QStringList names;
    for (const QVariantList& row : session.query(sql.arg(title)))
        names << row.value(0).toString();
    names.sort();
    return names;
}

// Where the lines under the inspector's rows start, top to bottom, in column x of shot from top
// to bottom (screen coordinates). The author, tag and description rows are the last three, so
// the last four lines bound them; the details box above them (whose height follows the length
// of the document's folder path) has lines of its own.
QList<int> rowLines(const QImage& shot, int x, int top, int bottom)
{
    QList<int> lines;
    bool inLine = false;
    for (int y = std::max(top, 0); y < std::min(bottom, shot.height()); ++y) {
        const QColor c = shot.pixelColor(x, y);
        const bool line = std::abs(c.red() - kRowLine.red()) <= 12 && std::abs(c.green() - kRowLine.green()) <= 12 &&
                          std::abs(c.blue() - kRowLine.blue()) <= 12;
        if (line && !inLine)
            lines << y;
        inLine = line;
    }
    return lines;
}

// The tags in the extended attribute of the file at path, as raw bytes.
QByteArray tagAttribute(const QString& path)
{
    const QByteArray file = QFile::encodeName(path);
    QByteArray value(4096, '\0');
    const ssize_t length = ::getxattr(file.constData(), "user.com.apple.metadata:_kMDItemUserTags", value.data(), value.size());
    return length > 0 ? value.left(length) : QByteArray();
}

} // namespace

// One document selected, the inspector opened with Ctrl+I: "alpha,beta" then Tab in the tag
// field stores both tags (in the store and in the file's attribute), and "Smith,Jones" then Tab
// in the author field both authors.
TEST(UserLevelInspector, NamesTypedAfterACommaInTheTagAndAuthorFieldsAreAllStored)
{
    UserSession session{currentCase()};
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    const QString folder = session.home() + QStringLiteral("/in");
    QDir().mkpath(folder);
    const QString source = folder + QStringLiteral("/report.txt");
    testsupport::writeFile(source, "report\nFolivo user-level inspector line\n");
    // Opened with the program, as from a file manager: it is imported.
    ASSERT_TRUE(session.startProgram({source}));
    const auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";
    const QRect frame = session.geometry(*window);
    const auto at = [&](QPoint offset) { return frame.topLeft() + offset; };
    const auto fromRight = [&](QPoint offset) { return frame.topRight() + QPoint(1, 0) + offset; };
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.documentTitles() == QStringList{QStringLiteral("report")}; }))
        << "the library holds " << session.documentTitles().join(", ").toStdString();
    QImage shot;
    ASSERT_TRUE(UserSession::waitUntil([&] {
        shot = session.screenshot(QStringLiteral("listed"));
        return inkIn(shot, QRect(at(kFirstCell) - QPoint(80, 80), QSize(160, 160))) > 200;
    })) << "the grid did not show the document (see the screenshots)";

    // Selected, then Document › Show Info from the keyboard: the pane comes in at the right.
    session.click(at(kFirstCell));
    const QRect pane(fromRight(kInspector.topLeft()), kInspector.size());
    const QImage before = session.screenshot(QStringLiteral("selected"));
    session.key(QStringLiteral("ctrl+i"));
    const QImage opened = session.waitForChange(QStringLiteral("inspector"), before, pane);
    ASSERT_FALSE(opened.isNull()) << "Ctrl+I did not open the inspector (see the screenshots)";
    const QList<int> lines = rowLines(opened, fromRight(QPoint(kLineColumnFromRight, 0)).x(), pane.top(), pane.bottom());
    ASSERT_GE(lines.size(), 4) << "the inspector shows no rows of fields (see the screenshots)";
    const int fieldX = fromRight(QPoint(kFieldFromRight, 0)).x();
    const QPoint authorField(fieldX, (lines[lines.size() - 4] + lines[lines.size() - 3]) / 2 + 1);
    const QPoint tagField(fieldX, (lines[lines.size() - 3] + lines[lines.size() - 2]) / 2 + 1);

    // The tag field: the comma stores the first tag and the field goes on taking the keys.
    session.click(tagField);
    session.type(QStringLiteral("alpha,beta"));
    session.key(QStringLiteral("Tab"));
    const QStringList tags{QStringLiteral("alpha"), QStringLiteral("beta")};
    const QString title = QStringLiteral("report");
    EXPECT_TRUE(UserSession::waitUntil([&] { return linkedNames(session, title, false) == tags; }))
        << "stored tags: " << linkedNames(session, title, false).join(", ").toStdString();
    const auto paths = session.query(QStringLiteral("SELECT a_path FROM t_DBFileInfo WHERE a_title = 'report'"));
    ASSERT_EQ(paths.size(), 1);
    const QString stored = session.libraryFolder() + paths.first().value(0).toString();
    EXPECT_TRUE(UserSession::waitUntil([&] {
        const QByteArray attribute = tagAttribute(stored);
        return attribute.contains("alpha") && attribute.contains("beta");
    })) << "the file's tags attribute holds: " << tagAttribute(stored).toHex().constData();
    session.screenshot(QStringLiteral("tagged"));

    // The author field, the same way.
    session.click(authorField);
    session.type(QStringLiteral("Smith,Jones"));
    session.key(QStringLiteral("Tab"));
    const QStringList authors{QStringLiteral("Jones"), QStringLiteral("Smith")};
    EXPECT_TRUE(UserSession::waitUntil([&] { return linkedNames(session, title, true) == authors; }))
        << "stored authors: " << linkedNames(session, title, true).join(", ").toStdString();
    session.screenshot(QStringLiteral("authored"));
    // The tags stay as they were.
    EXPECT_EQ(linkedNames(session, title, false), tags);
}
