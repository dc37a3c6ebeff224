// Documents emptied from the trash, in the real program under Xvfb: some hundreds of documents
// are moved to the trash and the trash is emptied through the Document menu; while their purge
// runs the window answers the keyboard, and afterwards their records, files and thumbnails are
// gone. A start with such a purge still waiting (the program was killed during it) brings the
// window up, answering, before the purge ends.
//
// The cases run the program's test build, whose purge waits at its first step until the case
// lets it go (FOLIVO_TEST_PURGE_HOLD): what the window does is looked at while a purge is
// certain to be under way, however fast the machine, and the records are read at that moment.
#include "UserLevel/ProgramHold.h"
#include "UserLevel/UserSession.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using userlevel::UserSession;

namespace {

constexpr int kDocuments = 300;
// Importing and emptying hundreds of documents takes several steps' time on a loaded machine.
constexpr int kBulkMs = 6 * userlevel::kStepMs;
// The Document menu, counted from the application's menu; Empty Trash… is its last item.
constexpr int kDocumentMenu = 4;
// Where things sit in the main window at scale 1, from its top-left corner: the grid's first
// cell in icon view, and the side bar's Tags row, in the blue-grey of the selected row when lit.
const QPoint kFirstCell(341, 211);
const QRect kTagsRow(10, 97, 180, 14);
const QRgb kLitRow = qRgb(100, 113, 126);
// A spot of the grid that is blank while the grid lists nothing.
const QPoint kBlankSpot(900, 560);

// Text files with distinct contents, in a folder of their own outside the library.
QStringList makeFiles(const QString& folder, int count)
{
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString path = folder + QStringLiteral("/purged %1.txt").arg(i, 3, 10, QLatin1Char('0'));
        testsupport::writeFile(path, QStringLiteral("Document %1 of the emptied trash\nwith words of its own: w%1x\n")
                                         .arg(i).toUtf8());
        paths << path;
    }
    return paths;
}

// Every file below folder, hidden ones too.
QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

class UserLevelPurge : public ::testing::Test {
protected:
    // Declared after the session, so that a held purge is let go before the program is asked to
    // quit (which waits for the purge in flight).
    UserSession session{userlevel::currentCase()};
    userlevel::ProgramHold hold{session.home() + QStringLiteral("/purge-hold")};

    void SetUp() override
    {
        session.skipWelcome();
        session.useTestBuild();
        session.setProgramVariable(QStringLiteral("FOLIVO_TEST_PURGE_HOLD"), hold.path());
    }

    QPoint at(quint64 window, QPoint offset) const { return session.geometry(window).topLeft() + offset; }
    qint64 count(const QString& sql) const
    {
        const QList<QVariantList> rows = session.query(sql);
        return rows.isEmpty() ? -1 : rows.first().value(0).toLongLong();
    }
    qint64 documents() const { return count(QStringLiteral("SELECT count(*) FROM t_DBFileInfo")); }
    qint64 markedForDeletion() const
    {
        return count(QStringLiteral("SELECT count(*) FROM t_DBFileInfo WHERE a_isTrash = 1 AND a_isNeedDelete = 1"));
    }
    QStringList storedFiles() const { return filesBelow(session.libraryFolder() + QStringLiteral("/Documents")); }
    QStringList thumbnails() const { return filesBelow(session.libraryFolder() + QStringLiteral("/Thumbnail")); }

    // The program started with kDocuments files to import; the main window once every document
    // is stored with its file and its thumbnail and the import has ended.
    quint64 startWithDocuments()
    {
        const QStringList files = makeFiles(session.home() + QStringLiteral("/in"), kDocuments);
        EXPECT_TRUE(session.startProgram(files));
        const auto window = session.mainWindow();
        EXPECT_TRUE(window) << "the main window never appeared";
        const QDir library(session.libraryFolder());
        const bool stored = UserSession::waitUntil([&] {
            return documents() == kDocuments
                && count(QStringLiteral("SELECT count(*) FROM t_DBFileInfo WHERE a_thumbPath IS NOT NULL")) == kDocuments
                && storedFiles().size() == kDocuments && thumbnails().size() == kDocuments
                && library.entryList({QStringLiteral(".folivo-import-*.journal")}, QDir::Files | QDir::Hidden).isEmpty();
        }, kBulkMs);
        EXPECT_TRUE(stored) << documents() << " documents, " << storedFiles().size() << " files and "
                            << thumbnails().size() << " thumbnails stored of " << kDocuments;
        return stored ? window.value_or(0) : 0;
    }

    // Every document selected in the grid (a click on the first, then Ctrl+A) and moved to the
    // trash with Ctrl+Backspace. The grid may list the documents a moment after the store has
    // them: what it had not listed yet is selected and moved again.
    bool trashEverything(quint64 window)
    {
        const QRect firstCell(at(window, kFirstCell) - QPoint(80, 80), QSize(160, 160));
        const bool trashed = UserSession::waitUntil([&] {
            if (userlevel::inkIn(session.screenshot(QStringLiteral("grid")), firstCell) < 200)
                return false; // nothing drawn there to click yet
            session.click(at(window, kFirstCell));
            session.key(QStringLiteral("ctrl+a"));
            session.key(QStringLiteral("ctrl+BackSpace"));
            return UserSession::waitUntil([&] {
                return count(QStringLiteral("SELECT count(*) FROM t_DBFileInfo WHERE a_isTrash = 1")) == kDocuments;
            }, 5000);
        }, kBulkMs);
        EXPECT_TRUE(trashed) << count(QStringLiteral("SELECT count(*) FROM t_DBFileInfo WHERE a_isTrash = 1"))
                             << " of " << kDocuments << " documents reached the trash";
        return trashed;
    }

    // Document › Empty Trash… through the title bar's menu, and OK in the sheet that asks: true
    // once every document is marked for deletion (the emptying's last step before the purge).
    // The menu item is enabled once the program has counted the trash; until then the last item
    // cannot be lit, and the menu is closed and opened again.
    bool emptyTrashThroughTheMenu(quint64 window)
    {
        // Where the sheet will dim the window, the emptied grid is blank.
        EXPECT_FALSE(userlevel::dimmedAt(session.settledScreenshot(QStringLiteral("trashed")), at(window, kBlankSpot)));
        bool chosen = false;
        for (int attempt = 0; attempt < 10 && !chosen; ++attempt) {
            const QList<quint64> before = session.visibleWindows();
            if (!session.tryOpenMenu(window, kDocumentMenu))
                continue;
            // The arrows have moved on to the Document menu once the screen stands still with
            // one menu open.
            const QImage unlit = session.settledScreenshot(QStringLiteral("document-menu"));
            QRect menu;
            for (quint64 opened : session.visibleWindows())
                if (!before.contains(opened))
                    menu = session.geometry(opened);
            // Up from the first item lights the last one that can be chosen: Empty Trash… when it
            // is enabled, which then lights the menu's bottom row.
            const QRect lastRow(menu.left(), menu.bottom() - 24, menu.width(), 24);
            if (session.openMenus() == 1 && !menu.isEmpty()) {
                session.key(QStringLiteral("Up"));
                if (!session.waitForChange(QStringLiteral("empty-trash-lit"), unlit, lastRow, 3000).isNull()) {
                    chosen = session.choose();
                    break;
                }
            }
            session.key(QStringLiteral("Escape Escape"));
            UserSession::waitUntil([&] { return session.openMenus() == 0; }, 5000);
        }
        EXPECT_TRUE(chosen) << "Document › Empty Trash… could not be chosen (see the screenshots)";
        if (!chosen)
            return false;
        // The sheet comes down over the window, dimming it; Return is its OK once it has settled.
        const bool asked = !session.waitForScreen(QStringLiteral("empty-trash-sheet"), [&](const QImage& shot) {
            return userlevel::dimmedAt(shot, at(window, kBlankSpot));
        }).isNull();
        EXPECT_TRUE(asked) << "no sheet asked whether to empty the trash (see the screenshots)";
        if (!asked)
            return false;
        session.key(QStringLiteral("Return"));
        const bool marked = UserSession::waitUntil([&] { return markedForDeletion() == kDocuments; }, kBulkMs);
        EXPECT_TRUE(marked) << markedForDeletion() << " of " << kDocuments << " documents marked for deletion";
        return marked;
    }

    // The window answers a key with what it shows: View › Tags lights the side bar's Tags row and
    // View › Documents puts it out, whichever changes what is shown now. A key pressed while the
    // emptying's sheet is still on its way out is pressed again.
    bool answersTheKeyboard(quint64 window, const QString& name)
    {
        const QRect tagsRow = kTagsRow.translated(session.geometry(window).topLeft());
        const auto tagsLit = [&](const QImage& shot) { return userlevel::colorIn(shot, tagsRow, kLitRow) > 2000; };
        const bool wasLit = tagsLit(session.settledScreenshot(name + QStringLiteral("-before")));
        const bool answered = UserSession::waitUntil([&] {
            session.key(wasLit ? QStringLiteral("ctrl+alt+1") : QStringLiteral("ctrl+alt+2"));
            return !session.waitForScreen(name, [&](const QImage& shot) { return tagsLit(shot) != wasLit; }, 5000)
                        .isNull();
        });
        EXPECT_TRUE(answered) << "the window did not answer " << (wasLit ? "View › Documents" : "View › Tags")
                              << " while the purge ran (see the screenshots)";
        return answered;
    }

    // With the purge held: nothing of it has reached the records yet.
    void expectRecordsStillThere()
    {
        EXPECT_EQ(documents(), kDocuments) << "records went before the purge was let go";
        EXPECT_EQ(markedForDeletion(), kDocuments);
    }

    // Once the purge is let go: the records go, and no file or thumbnail of theirs stays.
    void expectEverythingGone(const QStringList& thumbnailsBefore)
    {
        EXPECT_TRUE(UserSession::waitUntil([&] { return documents() == 0; }, kBulkMs))
            << documents() << " records stayed after the purge";
        EXPECT_TRUE(storedFiles().isEmpty()) << "files of purged documents stayed in the library: "
                                             << storedFiles().join(u',').toStdString();
        EXPECT_TRUE(thumbnails().isEmpty()) << "thumbnails of purged documents stayed: "
                                            << thumbnails().join(u',').toStdString();
        for (const QString& thumbnail : thumbnailsBefore)
            EXPECT_FALSE(QFileInfo::exists(thumbnail)) << thumbnail.toStdString();
        EXPECT_TRUE(session.programRunning());
    }
};

} // namespace

TEST_F(UserLevelPurge, TheWindowAnswersWhileTheEmptiedTrashIsPurged)
{
    ASSERT_TRUE(session.startDisplay());
    const quint64 window = startWithDocuments();
    ASSERT_NE(window, 0u);
    const QStringList thumbnailsBefore = thumbnails();
    ASSERT_TRUE(trashEverything(window));
    ASSERT_TRUE(emptyTrashThroughTheMenu(window));

    ASSERT_TRUE(UserSession::waitUntil([&] { return hold.held(); }, kBulkMs)) << "no purge began after the emptying";
    EXPECT_TRUE(answersTheKeyboard(window, QStringLiteral("purging")));
    expectRecordsStillThere();

    hold.release();
    expectEverythingGone(thumbnailsBefore);
}

TEST_F(UserLevelPurge, AStartWithAPurgeWaitingShowsTheWindowAnsweringBeforeThePurgeEnds)
{
    ASSERT_TRUE(session.startDisplay());
    const quint64 first = startWithDocuments();
    ASSERT_NE(first, 0u);
    const QStringList thumbnailsBefore = thumbnails();
    ASSERT_TRUE(trashEverything(first));
    ASSERT_TRUE(emptyTrashThroughTheMenu(first));
    // Killed during the purge: the documents stay marked, for the next start to purge.
    ASSERT_TRUE(UserSession::waitUntil([&] { return hold.held(); }, kBulkMs)) << "no purge began after the emptying";
    session.killProgram();
    hold.release();
    ASSERT_EQ(markedForDeletion(), kDocuments);

    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(UserSession::waitUntil([&] { return hold.held(); }, kBulkMs)) << "the start purged nothing";
    const auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window did not appear while the start's purge ran";
    EXPECT_TRUE(answersTheKeyboard(*window, QStringLiteral("purging-at-start")));
    expectRecordsStillThere();

    hold.release();
    expectEverythingGone(thumbnailsBefore);
}
