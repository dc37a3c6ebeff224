// The real program as a user meets it: started on an X display, driven by the pointer and the
// keys, files dragged in from another program, quit, started again, killed. What each step did
// is read back from the library on disk.
#include "UserLevel/UserSession.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <utility>

using userlevel::UserSession;
using userlevel::currentCase;
using userlevel::inkIn;

namespace {

// Where things sit in the main window at scale 1, from its top-left corner.
const QPoint kGridPoint(700, 180); // clear of the import overlay's two drop icons
const QPoint kDocumentsRow(75, 80);
// The side bar's Tags row, in the blue-grey of the selected row when lit.
const QRect kTagsRow(10, 97, 180, 14);
const QRgb kLitRow = qRgb(100, 113, 126);
const QRect kGridArea(220, 100, 750, 520);
// The import overlay's tag icon (84 square), lit in its blue while a drop would land on it;
// the tag popover's field above it, and the popover's Import button.
const QPoint kTagIcon(543, 367);
const QRgb kLitIconBlue = qRgb(17, 179, 254);
const QRect kTagPopoverField(500, 225, 190, 70);
// The close button of a window's own title bar.
const QPoint kCloseButton(14, 10);
const QPoint kTagPopoverImport(663, 331);
// The grid's first two cells in icon view at the first start's zoom.
const QPoint kFirstCell(341, 211);
const QPoint kSecondCell(341, 505); // grouped by title: under the next letter
// The menus in the title bar, counted from the application's menu.
constexpr int kFileMenu = 1;
constexpr int kDocumentMenu = 4;

std::string describe(const QMap<QString, qint64>& flags)
{
    QStringList parts;
    for (auto it = flags.begin(); it != flags.end(); ++it)
        parts << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
    return parts.join(QStringLiteral(", ")).toStdString();
}

// Text files with distinct contents, in a folder of their own outside the library.
QStringList makeFiles(const QString& folder, const QStringList& names, int size = 64)
{
    QDir().mkpath(folder);
    QStringList paths;
    for (const QString& name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        QByteArray bytes = name.toUtf8() + '\n';
        while (bytes.size() < size)
            bytes += "Folivo user-level test line for " + name.toUtf8() + '\n';
        testsupport::writeFile(path, bytes);
        paths << path;
    }
    return paths;
}

// Every file below the library's document folder, relative to the library.
QStringList libraryDocumentFiles(const QString& library)
{
    QStringList files;
    QDirIterator it(library + QStringLiteral("/Documents"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(library.size());
    files.sort();
    return files;
}

class UserLevel : public ::testing::Test {
protected:
    UserSession session{currentCase()};

    // Whatever a case did, each command it reached had a handler.
    void TearDown() override
    {
        const QByteArray log = session.log();
        const qsizetype unanswered = log.indexOf("No handler answered");
        EXPECT_LT(unanswered, 0) << "the log: " << log.mid(unanswered, 120).constData();
    }

    // The main window once it is up and has settled its frame.
    quint64 mainWindow()
    {
        const auto window = session.mainWindow();
        EXPECT_TRUE(window) << "the main window never appeared";
        return window.value_or(0);
    }
    QPoint at(quint64 window, QPoint offset) { return session.geometry(window).topLeft() + offset; }
    bool waitForTitles(const QStringList& titles)
    {
        QStringList sorted = titles;
        sorted.sort();
        const bool held = UserSession::waitUntil([&] { return session.documentTitles() == sorted; });
        EXPECT_TRUE(held) << "the library holds " << session.documentTitles().join(", ").toStdString() << ", not "
                          << sorted.join(", ").toStdString();
        return held;
    }
    // Waits until the grid draws a document at each of cells (the outline of its page, at
    // least): the empty grid is near-white there.
    bool waitForCells(quint64 window, const QList<QPoint>& cells)
    {
        QImage shot;
        const bool drawn = UserSession::waitUntil([&] {
            shot = session.screenshot(QStringLiteral("grid"));
            return std::all_of(cells.begin(), cells.end(), [&](QPoint cell) {
                return inkIn(shot, QRect(at(window, cell) - QPoint(80, 80), QSize(160, 160))) > 200;
            });
        });
        EXPECT_TRUE(drawn) << "the grid did not show the documents (see the screenshots)";
        return drawn;
    }
    // Document › Flag › the colour at index (0 is None), for what is selected.
    void flagFromMenu(quint64 window, int colour)
    {
        ASSERT_TRUE(session.openMenu(window, kDocumentMenu));
        // From Open: Open With, Quick Look, Show in Folder, Show Original File, Show Info, Rating, Flag.
        session.key(QStringLiteral("Down Down Down Down Down Down Down"));
        ASSERT_TRUE(session.openSubmenu());
        for (int i = 0; i < colour; ++i)
            session.key(QStringLiteral("Down"));
        session.choose();
    }
    // Files dropped on the import overlay's tag icon, with tag typed into the popover that then
    // opens, and Import pressed: the copy's path in the library, once it is stored.
    QString dropWithTag(quint64 window, const QString& file, const QString& tag)
    {
        const QRect icon(at(window, kTagIcon) - QPoint(42, 42), QSize(84, 84));
        const QString dropped = session.dragFiles({file}, at(window, kTagIcon), [&](const QImage& shot) {
            return userlevel::colorIn(shot, icon, kLitIconBlue) > 300;
        });
        EXPECT_TRUE(dropped.isEmpty()) << "dropped on the tag icon: " << dropped.toStdString();
        const QString title = QFileInfo(file).completeBaseName();
        // The popover opens a while after the drop, whatever the little stack of previews is
        // doing then (its first card is drawn once a worker has made it), and its field takes
        // the keys as it opens. Keys typed before would go to the window: the popover's body,
        // white where the overlay is dark, is waited for.
        const QRect field = kTagPopoverField.translated(session.geometry(window).topLeft());
        EXPECT_FALSE(session.waitForScreen(QStringLiteral("tag-popover"), [&](const QImage& shot) {
            return inkIn(shot, field) == 0;
        }).isNull()) << "no tag popover came (see the screenshots)";
        session.type(tag);
        session.key(QStringLiteral("Return"));
        session.click(at(window, kTagPopoverImport));
        QString path;
        EXPECT_TRUE(UserSession::waitUntil([&] {
            const auto rows = session.query(QStringLiteral(
                "SELECT f.a_path FROM t_DBFileInfo f JOIN j_DBFileInfo_tags j ON j.src = f.pk "
                "JOIN t_DBTag t ON t.pk = j.dst WHERE f.a_title = '%1' AND t.a_name = '%2'").arg(title, tag));
            path = rows.isEmpty() ? QString() : rows.first().value(0).toString();
            return !path.isEmpty();
        })) << title.toStdString() << " was not stored with the tag " << tag.toStdString();
        session.screenshot(QStringLiteral("imported-with-tag"));
        return path;
    }
    QImage settle(const QString& name) { return session.settledScreenshot(name); }
    QMap<QString, qint64> flags()
    {
        QMap<QString, qint64> byTitle;
        for (const QVariantList& row : session.query(QStringLiteral(
                 "SELECT f.a_title, coalesce(m.a_label, 0) FROM t_DBFileInfo f "
                 "LEFT JOIN t_DBFileInfoMetadata m ON m.pk = f.r_metadata")))
            byTitle.insert(row.value(0).toString(), row.value(1).toLongLong());
        return byTitle;
    }
};

} // namespace

// A fresh home: the welcome window, then OK, makes the library and shows the empty library's view
// (a blank grid would tell a new user nothing).
TEST_F(UserLevel, FirstStartWelcomesCreatesTheLibraryAndShowsTheEmptyView)
{
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    const auto welcome = session.waitForWindow(QStringLiteral("Welcome to Folivo 2"));
    ASSERT_TRUE(welcome) << "no welcome window on a first start";
    session.screenshot(QStringLiteral("welcome"));
    EXPECT_FALSE(session.mainWindow(0)) << "the main window opened before the welcome window's OK";

    // OK is the default button, once the window has the keyboard (it takes it a moment after it
    // shows).
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.focusedWindow() == *welcome; }))
        << "the welcome window never took the keyboard";
    session.key(QStringLiteral("Return"));
    const quint64 window = mainWindow();
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(UserSession::waitUntil([&] { return session.windows(QStringLiteral("Welcome to Folivo 2")).isEmpty(); }))
        << "the welcome window stayed open";
    for (const char* item : {"/library.db", "/Documents", "/Thumbnail"})
        EXPECT_TRUE(QFileInfo::exists(session.libraryFolder() + QLatin1String(item))) << "the library lacks " << item;
    EXPECT_TRUE(session.documentTitles().isEmpty());

    const QRect grid = kGridArea.translated(session.geometry(window).topLeft());
    QImage shot;
    EXPECT_TRUE(UserSession::waitUntil([&] {
        shot = session.screenshot(QStringLiteral("empty-library"));
        return inkIn(shot, grid) > 500;
    })) << "the grid of an empty library is blank (ink " << inkIn(shot, grid) << ")";
}

// Files dragged from another program, as a file manager drags them, onto the grid and onto the
// side bar's Documents row: both are copied into the library, the originals stay.
TEST_F(UserLevel, FilesDraggedOntoTheGridAndTheSideBarAreImported)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    const quint64 window = mainWindow();
    ASSERT_NE(window, 0u);
    const QString outside = session.home() + QStringLiteral("/Downloads");

    const QStringList gridFiles = makeFiles(outside, {QStringLiteral("grid one.txt"), QStringLiteral("grid two.txt")});
    const QString onGrid = session.dragFiles(gridFiles, at(window, kGridPoint));
    EXPECT_TRUE(onGrid.isEmpty()) << "dropped on the grid: " << onGrid.toStdString();
    waitForTitles({QStringLiteral("grid one"), QStringLiteral("grid two")});
    session.screenshot(QStringLiteral("dropped-on-grid"));

    const QStringList barFiles = makeFiles(outside, {QStringLiteral("side bar.txt")});
    const QString onBar = session.dragFiles(barFiles, at(window, kDocumentsRow));
    EXPECT_TRUE(onBar.isEmpty()) << "dropped on the side bar: " << onBar.toStdString();
    waitForTitles({QStringLiteral("grid one"), QStringLiteral("grid two"), QStringLiteral("side bar")});
    session.screenshot(QStringLiteral("dropped-on-side-bar"));

    // Copies with the same bytes; the originals are where they were.
    const QStringList stored = libraryDocumentFiles(session.libraryFolder());
    EXPECT_EQ(stored.size(), 3) << stored.join(", ").toStdString();
    for (const QString& original : gridFiles + barFiles) {
        EXPECT_TRUE(QFileInfo::exists(original)) << "the original went: " << original.toStdString();
        const QString name = QFileInfo(original).fileName();
        const auto copy = std::find_if(stored.begin(), stored.end(), [&](const QString& s) { return s.endsWith(name); });
        ASSERT_NE(copy, stored.end()) << "no copy of " << name.toStdString();
        EXPECT_EQ(testsupport::readFile(session.libraryFolder() + *copy), testsupport::readFile(original)) << name.toStdString();
    }
}

// A file dropped on the overlay's tag icon is imported with the tag typed into the popover, and
// the tag is kept in the copy's extended attributes too, where other programs and a rebuilt
// library find it.
TEST_F(UserLevel, AFileDroppedOnTheTagIconIsImportedWithItsTagInItsAttributes)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram());
    const quint64 window = mainWindow();
    ASSERT_NE(window, 0u);
    const QStringList files = makeFiles(session.home() + QStringLiteral("/in"), {QStringLiteral("receipt.txt")});
    const QString stored = dropWithTag(window, files.first(), QStringLiteral("Invoices"));
    ASSERT_FALSE(stored.isEmpty());
    const QByteArray file = QFile::encodeName(session.libraryFolder() + stored);
    QByteArray value(4096, '\0');
    const ssize_t length = ::getxattr(file.constData(), "user.com.apple.metadata:_kMDItemUserTags", value.data(), value.size());
    ASSERT_GT(length, 0) << "the copy has no tags attribute";
    EXPECT_TRUE(value.left(length).contains("Invoices"));
}

// Ctrl+A, a click, a Ctrl+click: a command from the menus acts on exactly what is selected. A new
// tag from the File menu lands in the store.
TEST_F(UserLevel, MenuCommandsActOnWhatIsSelected)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    const QStringList files = makeFiles(session.home() + QStringLiteral("/in"),
                                        {QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("c.txt")});
    ASSERT_TRUE(session.startProgram(files));
    const quint64 window = mainWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitForTitles({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    // The store has the documents a moment before the grid lists them; a user clicks what is drawn.
    ASSERT_TRUE(waitForCells(window, {kFirstCell, kSecondCell}));

    session.click(at(window, kFirstCell));
    session.key(QStringLiteral("ctrl+a"));
    flagFromMenu(window, 1);
    EXPECT_TRUE(UserSession::waitUntil([&] {
        const auto f = flags();
        return f.size() == 3 && std::all_of(f.begin(), f.end(), [&](qint64 v) { return v != 0 && v == f.first(); });
    })) << "after Ctrl+A and a flag: " << describe(flags());
    session.screenshot(QStringLiteral("all-flagged"));

    // A click selects one: None takes its flag only.
    session.click(at(window, kFirstCell));
    flagFromMenu(window, 0);
    EXPECT_TRUE(UserSession::waitUntil([&] { return flags().values().count(0) == 1; }))
        << "after a click and Flag › None: " << describe(flags());
    // A Ctrl+click adds one: both lose their flags, the third keeps its own.
    session.click(at(window, kSecondCell), true);
    flagFromMenu(window, 0);
    EXPECT_TRUE(UserSession::waitUntil([&] { return flags().values().count(0) == 2; }))
        << "after a Ctrl+click and Flag › None: " << describe(flags());
    session.screenshot(QStringLiteral("two-unflagged"));

    // File › New Tag (from New Folder; with a selection, New Folder with Selection is there to pass
    // over too): the
    // tag is stored at once, and its name is typed into the row it gets.
    ASSERT_TRUE(session.openMenu(window, kFileMenu));
    session.key(QStringLiteral("Down Down Down Down Down"));
    session.choose();
    ASSERT_TRUE(UserSession::waitUntil([&] { return !session.query(QStringLiteral("SELECT 1 FROM t_DBTag")).isEmpty(); }))
        << "File › New Tag made no tag";
    session.type(QStringLiteral("Invoices"));
    session.key(QStringLiteral("Return"));
    EXPECT_TRUE(UserSession::waitUntil([&] {
        return !session.query(QStringLiteral("SELECT 1 FROM t_DBTag WHERE a_name = 'Invoices'")).isEmpty();
    })) << "the new tag did not take its name";
    session.screenshot(QStringLiteral("new-tag"));
}

// Quit from the keyboard and start again: the same node, the same frame, the same documents.
TEST_F(UserLevel, QuitAndStartAgainKeepsTheNodeTheFrameAndTheDocuments)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    const QStringList files = makeFiles(session.home() + QStringLiteral("/in"), {QStringLiteral("kept.txt"), QStringLiteral("also kept.txt")});
    ASSERT_TRUE(session.startProgram(files));
    quint64 window = mainWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitForTitles({QStringLiteral("kept"), QStringLiteral("also kept")}));

    const QRect frame(150, 70, 1100, 720);
    session.xdotool({QStringLiteral("windowsize"), QString::number(window), QString::number(frame.width()),
                     QString::number(frame.height())});
    session.xdotool({QStringLiteral("windowmove"), QString::number(window), QString::number(frame.x()),
                     QString::number(frame.y())});
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.geometry(window) == frame; }));
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.focusedWindow() == window; }))
        << "the main window never took the keyboard";
    // View › Tags: the side bar's Tags row is lit once it has switched.
    session.key(QStringLiteral("ctrl+alt+2"));
    const QRect tagsRow = kTagsRow.translated(frame.topLeft());
    ASSERT_TRUE(UserSession::waitUntil([&] {
        return userlevel::colorIn(session.screenshot(QStringLiteral("tags")), tagsRow, kLitRow) > 2000;
    })) << "View › Tags did not light the Tags row (see the screenshots)";
    const QRect sideBars = QRect(0, 40, 400, 600).translated(frame.topLeft());
    QImage before;
    ASSERT_TRUE(UserSession::waitUntil([&] {
        // Settled once two looks agree.
        const QImage shot = session.screenshot(QStringLiteral("before-quit")).copy(sideBars);
        const bool same = shot == before;
        before = shot;
        return same;
    }));

    session.key(QStringLiteral("ctrl+q"));
    EXPECT_EQ(session.waitForProgramExit(), 0) << "Ctrl+Q did not end the program cleanly";
    EXPECT_TRUE(session.documentTitles().size() == 2) << "after the quit: " << session.documentTitles().join(", ").toStdString();

    ASSERT_TRUE(session.startProgram());
    window = mainWindow();
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(UserSession::waitUntil([&] { return session.geometry(window) == frame; }))
        << "the window came back at " << session.geometry(window).x() << "," << session.geometry(window).y() << " "
        << session.geometry(window).width() << "x" << session.geometry(window).height();
    QImage after;
    EXPECT_TRUE(UserSession::waitUntil([&] {
        after = session.screenshot(QStringLiteral("after-start")).copy(sideBars);
        return after == before;
    })) << "the side bars differ from before the quit (see the screenshots)";
    waitForTitles({QStringLiteral("kept"), QStringLiteral("also kept")});
}

// A second start with a file, while the first copy's window is minimised: the file is imported by
// the first copy, whose window comes back to the front; the second copy ends. The user minimised
// the window the moment it showed, while a busy machine had not yet let the program see it
// shown: the window stays minimised all the same.
TEST_F(UserLevel, ASecondStartHandsItsFileToTheFirstAndBringsItForward)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay(true));
    ASSERT_TRUE(session.startProgram());
    const quint64 window = mainWindow();
    ASSERT_NE(window, 0u);
    session.pauseProgram();
    session.xdotool({QStringLiteral("windowminimize"), QString::number(window)});
    const bool minimised = UserSession::waitUntil([&] { return !session.isViewable(window); });
    session.resumeProgram();
    ASSERT_TRUE(minimised) << "the window did not minimise: " << session.describeWindow(window).toStdString();
    // The program now reads, late, that its window was shown and then minimised.
    session.screenshot(QStringLiteral("minimised"));
    ASSERT_FALSE(session.isViewable(window)) << "the window came back by itself: "
                                             << session.describeWindow(window).toStdString();

    const QStringList files = makeFiles(session.home() + QStringLiteral("/in"), {QStringLiteral("handed over.txt")});
    EXPECT_EQ(session.runSecondCopy(files), 0) << "the second copy did not hand over and end";
    if (!UserSession::waitUntil([&] { return session.isViewable(window) && session.activeWindow() == window; })) {
        session.screenshot(QStringLiteral("not-brought-forward"));
        ADD_FAILURE() << "the first copy's window stayed " << (session.isViewable(window) ? "behind" : "minimised")
                      << ": " << session.describeWindow(window).toStdString();
    }
    waitForTitles({QStringLiteral("handed over")});
    session.screenshot(QStringLiteral("brought-forward"));
    EXPECT_TRUE(session.programRunning());
}

// Killed while an import copies files in, then started again: every document the store names has
// its file, every file in the library is named by a document, and the originals are untouched.
TEST_F(UserLevel, KilledDuringAnImportLosesNothingAndLeavesNoOrphans)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    QStringList names;
    for (int i = 0; i < 400; ++i)
        names << QStringLiteral("bulk %1.txt").arg(i, 3, 10, QLatin1Char('0'));
    const QStringList files = makeFiles(session.home() + QStringLiteral("/in"), names, 128 * 1024);
    const qint64 size = QFileInfo(files.first()).size();
    ASSERT_TRUE(session.startProgram(files));
    // An import under way keeps a journal of the copies it is making beside the store.
    const QDir library(session.libraryFolder());
    qsizetype storedAtKill = 0;
    ASSERT_TRUE(UserSession::waitUntil([&] {
        if (library.entryList({QStringLiteral(".folivo-import-*.journal")}, QDir::Files | QDir::Hidden).isEmpty())
            return false;
        if (libraryDocumentFiles(session.libraryFolder()).size() < 2)
            return false;
        storedAtKill = session.documentTitles().size();
        return true;
    }, userlevel::kStepMs)) << "no import was seen under way";
    session.killProgram();

    ASSERT_TRUE(session.startProgram());
    ASSERT_NE(mainWindow(), 0u);
    session.screenshot(QStringLiteral("after-kill"));
    // The program is running again: what was in flight has been cleared at the library's opening.
    QStringList named;
    for (const QVariantList& row : session.query(QStringLiteral("SELECT a_path FROM t_DBFileInfo")))
        named << row.value(0).toString();
    named.sort();
    EXPECT_GE(named.size(), storedAtKill) << "documents stored before the kill are gone";
    for (const QString& path : named)
        EXPECT_TRUE(QFileInfo::exists(session.libraryFolder() + path)) << "the store names a missing file: " << path.toStdString();
    const QStringList present = libraryDocumentFiles(session.libraryFolder());
    for (const QString& path : present)
        EXPECT_TRUE(named.contains(path)) << "an orphan in the library: " << path.toStdString();
    for (const QString& original : files)
        ASSERT_EQ(QFileInfo(original).size(), size) << "an original changed: " << original.toStdString();
}

// The preview opened with Space closes by its own button (there is no window manager to give it a
// frame), and the keyboard is back in the main window: Space opens it again.
TEST_F(UserLevel, ThePreviewClosesByItsOwnButtonAndGivesTheKeyboardBack)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram(makeFiles(session.home() + QStringLiteral("/in"), {QStringLiteral("shown.txt")})));
    const quint64 window = mainWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitForTitles({QStringLiteral("shown")}));
    // The store has the document a moment before the grid lists it: a click on a cell not yet
    // drawn selects nothing, so the click and Space are tried again until the preview comes.
    std::optional<quint64> preview;
    UserSession::waitUntil([&] {
        session.click(at(window, kFirstCell));
        session.key(QStringLiteral("space"));
        preview = session.waitForWindow(QStringLiteral("shown"), 5000);
        return preview.has_value();
    });
    ASSERT_TRUE(preview) << "Space opened no preview";
    // It zooms out of the thumbnail; it is looked at once it rests.
    QRect resting;
    EXPECT_TRUE(UserSession::waitUntil([&] { return std::exchange(resting, session.geometry(*preview)) == resting; }));
    session.screenshot(QStringLiteral("preview"));

    // The close button is the first thing in the window's bar.
    session.click(session.geometry(*preview).topLeft() + QPoint(22, 16));
    EXPECT_TRUE(UserSession::waitUntil([&] { return session.windows(QStringLiteral("shown")).isEmpty(); }))
        << "the preview's own button did not close it";
    EXPECT_TRUE(UserSession::waitUntil([&] { return session.focusedWindow() == window; }))
        << "the keyboard did not go back to the main window";
    session.key(QStringLiteral("space"));
    EXPECT_TRUE(session.waitForWindow(QStringLiteral("shown"))) << "Space in the main window no longer previews";
    session.screenshot(QStringLiteral("preview-again"));
}

// Every menu item that can be chosen is chosen once, with a document selected, and whatever it
// opens is closed with Esc (or its default button): nobody is left without an answer, and the
// program is still there. Quit and full screen are left to their own cases (the last items of
// the application and View menus).
TEST_F(UserLevel, EveryMenuItemThatCanBeChosenIsAnswered)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram(makeFiles(session.home() + QStringLiteral("/in"), {QStringLiteral("one.txt"), QStringLiteral("two.txt")})));
    const quint64 window = mainWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitForTitles({QStringLiteral("one"), QStringLiteral("two")}));
    const QList<quint64> before = session.visibleWindows();
    constexpr int kMenus = 7;
    int chosen = 0;
    QString last = QStringLiteral("the start");
    // With a document selected, the menu open.
    const auto reach = [&](int menu) {
        session.click(at(window, kFirstCell));
        if (session.tryOpenMenu(window, menu))
            return true;
        // A question in the window that Esc does not answer: its default button.
        session.key(QStringLiteral("Return"));
        settle(QStringLiteral("answered"));
        session.click(at(window, kFirstCell));
        return session.tryOpenMenu(window, menu);
    };
    for (int menu = 0; menu < kMenus; ++menu) {
        // The lit item comes round to the first again after as many steps as there are items
        // that can be chosen.
        ASSERT_TRUE(reach(menu)) << "the menus are out of reach after " << last.toStdString();
        // Only the menu is looked at: the window under it may still be drawing (thumbnails come
        // late on a busy machine), which would count as another item.
        QRect menuArea;
        for (quint64 opened : session.visibleWindows())
            if (!before.contains(opened))
                menuArea = session.geometry(opened);
        const auto look = [&](const QString& name) {
            const QImage shot = session.screenshot(name);
            return menuArea.isEmpty() ? shot : shot.copy(menuArea);
        };
        const QImage first = look(QStringLiteral("menu-%1").arg(menu));
        int items = 1;
        for (; items < 40; ++items) {
            session.key(QStringLiteral("Down"));
            if (look(QStringLiteral("menu-%1-%2").arg(menu).arg(items)) == first)
                break;
        }
        session.key(QStringLiteral("Escape Escape"));
        ASSERT_TRUE(UserSession::waitUntil([&] { return session.visibleWindows() == before; }));
        const bool lastIsOwnCase = menu == 0 || menu == 3;
        for (int item = 0; item < items - (lastIsOwnCase ? 1 : 0); ++item) {
            ASSERT_TRUE(reach(menu)) << "the menus are out of reach after " << last.toStdString();
            last = QStringLiteral("menu %1, item %2").arg(menu).arg(item);
            for (int i = 0; i < item; ++i)
                session.key(QStringLiteral("Down"));
            QList<quint64> menuWindows;
            for (quint64 opened : session.visibleWindows())
                if (!before.contains(opened))
                    menuWindows << opened;
            session.key(QStringLiteral("Return"));
            ++chosen;
            // The item is acted on as its menu closes (an item with a submenu opens it instead):
            // from then on, whatever the item opens has begun.
            const bool acted = UserSession::waitUntil([&] {
                const QList<quint64> now = session.visibleWindows();
                return std::none_of(menuWindows.begin(), menuWindows.end(), [&](quint64 w) { return now.contains(w); })
                    || std::any_of(now.begin(), now.end(), [&](quint64 w) { return !before.contains(w) && !menuWindows.contains(w); });
            }, 10000);
            EXPECT_TRUE(acted) << "menu " << menu << ", item " << item << ": Return neither closed the menu nor opened a submenu";
            // Whatever it opened (a window, a sheet in the window, an inline editor) goes with
            // Esc, once it is up: the screen is left to come to rest first.
            const QString name = QStringLiteral("item-%1-%2").arg(menu).arg(item);
            for (int round = 0; round < 2; ++round) {
                settle(name);
                session.key(QStringLiteral("Escape"));
            }
            settle(name);
            // A window of its own closes by the close button of its title bar.
            for (quint64 opened : session.visibleWindows()) {
                if (before.contains(opened))
                    continue;
                session.click(session.geometry(opened).topLeft() + kCloseButton);
                EXPECT_TRUE(UserSession::waitUntil([&] { return !session.visibleWindows().contains(opened); }, 10000))
                    << "menu " << menu << ", item " << item << " opened a window that neither Esc nor its close button closes";
            }
            ASSERT_TRUE(session.programRunning()) << "menu " << menu << ", item " << item << " ended the program";
        }
    }
    EXPECT_GT(chosen, 30);
}
