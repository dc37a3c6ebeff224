// Documents moved into the SafeBox as a user moves them in the real program (Document › Copy to
// SafeBox…, Move): nothing of them stays readable outside the box once it is locked and the
// program has quit, and the window's Documents list and badge count what is left at once.
#include "UserLevel/SafeBoxCase.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <csignal>
#include <utility>

using userlevel::OpenBox;
using userlevel::UserSession;
using userlevel::currentCase;
using userlevel::inkIn;

namespace {

// Where things sit in the main window at scale 1, from its top-left corner.
const QPoint kDocumentsRow(75, 80);
// The Documents row's badge, at the right of the side bar.
const QRect kDocumentsBadge(130, 70, 70, 21);
// The tool bar's Lock and Settings buttons of the open box.
const QRect kOpenBoxButtons(780, 42, 220, 28);
// The grid's first two cells in icon view at the first start's zoom (grouped by title).
const QPoint kFirstCell(341, 211);
const QPoint kSecondCell(341, 505);
constexpr int kDocumentMenu = 4;

const QString kPassword = QStringLiteral("moved secret");
// A word found nowhere but in the moved document.
const QByteArray kMarker = "Zorvexquillant";

class UserLevelSafeBoxMove : public userlevel::SafeBoxCase {
protected:
    using SafeBoxCase::at;
    QString safeBoxFile() const { return session.libraryFolder() + QStringLiteral("/safebox.db"); }
    QRect at(quint64 window, QRect rect) { return rect.translated(session.geometry(window).topLeft()); }
    // Files below the home (the library and the runtime folder included) that hold needle,
    // the SafeBox's own file excepted.
    QStringList filesHolding(const QByteArray& needle) const
    {
        QStringList found;
        QDirIterator it(session.home(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path == safeBoxFile() || QFileInfo(path).isSymLink())
                continue;
            if (testsupport::readFile(path).contains(needle))
                found << path;
        }
        return found;
    }
    // The words of the index files, where the indexer keeps them (in the log until written back).
    bool indexHolds(const QByteArray& word) const
    {
        const QString index = session.libraryFolder() + QStringLiteral("/Index/contentIndex.index");
        for (const QString& file : {index, index + QStringLiteral("-wal")})
            if (testsupport::readFile(file).toLower().contains(word.toLower()))
                return true;
        return false;
    }
    // The pointer off the side bar, so no row is drawn hovered.
    void parkPointer(quint64 window)
    {
        const QPoint spot = at(window, QPoint(900, 650));
        session.xdotool({QStringLiteral("mousemove"), QString::number(spot.x()), QString::number(spot.y())});
    }
    bool cellDrawn(quint64 window, QPoint cell, const QImage& shot)
    {
        return inkIn(shot, QRect(at(window, cell) - QPoint(80, 80), QSize(160, 160))) > 200;
    }
    // Side bar › SafeBox: the set-up pages, a password, Create, then the login: the open box.
    std::optional<OpenBox> makeAndOpenBox(quint64 window)
    {
        namespace safebox = userlevel::safebox;
        if (!safebox::makeBox(session, window, kPassword, QStringLiteral("the moved one")))
            return std::nullopt;
        if (!safebox::waitForLoginPage(session, window))
            return std::nullopt;
        const QImage login = session.screenshot(QStringLiteral("login"));
        session.type(kPassword);
        session.key(QStringLiteral("Return"));
        if (!UserSession::waitUntil([&] { return openBoxes().size() == 1 && openBoxes().first().sealerPid > 0; }))
            return std::nullopt;
        // The open box's view comes a moment after the box is recorded: its Lock and Settings.
        if (session.waitForChange(QStringLiteral("open"), login, at(window, kOpenBoxButtons)).isNull())
            return std::nullopt;
        return openBoxes().first();
    }
    // Documents, a click on the first cell, Document › Copy to SafeBox…, Move (Alt+M).
    void moveFirstDocument(quint64 window)
    {
        session.click(at(window, kDocumentsRow));
        ASSERT_TRUE(UserSession::waitUntil([&] { return cellDrawn(window, kFirstCell, session.screenshot(QStringLiteral("documents"))); }))
            << "the grid does not show the documents";
        session.click(at(window, kFirstCell));
        settle(QStringLiteral("selected"));
        ASSERT_TRUE(session.openMenu(window, kDocumentMenu));
        // From Open: Open With, Quick Look, Show in Folder, Show Original File, Show Info, Rating,
        // Flag, Move To, Share; Merge PDFs is off for a text document: Copy to SafeBox….
        session.key(QStringLiteral("Down Down Down Down Down Down Down Down Down Down"));
        settle(QStringLiteral("menu"));
        session.choose();
        // The sheet takes Alt+M once it is down over the window.
        ASSERT_FALSE(session.waitForScreen(QStringLiteral("copy-sheet"), [&](const QImage& shot) {
            return userlevel::safebox::dimmed(session, window, shot);
        }).isNull()) << "the copy sheet did not come (see the screenshots)";
        session.key(QStringLiteral("alt+m"));
    }
    QStringList makeSources(const QStringList& names, const QByteArray& extra = {})
    {
        const QString folder = testsupport::makeTempDir(QStringLiteral("sources"));
        QStringList paths;
        for (const QString& name : names) {
            const QString path = folder + QLatin1Char('/') + name;
            testsupport::writeFile(path, "Document " + name.toUtf8() + " of the user-level move. " + extra + '\n');
            paths << path;
        }
        return paths;
    }
};

} // namespace

// A document whose text holds a marker word is indexed and has a thumbnail; moved into the box,
// the box locked by quitting: neither the word nor the thumbnail's bytes are anywhere below the
// user's home (the library included) but in the SafeBox's own file.
TEST_F(UserLevelSafeBoxMove, AMovedDocumentLeavesNothingReadableOutsideTheLockedBox)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    const QStringList sources = makeSources({QStringLiteral("invoice.txt")}, "INVOICE 0042 " + kMarker + " Amount due 1200 EUR");
    ASSERT_TRUE(session.startProgram(sources));
    const auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.documentTitles() == QStringList{QStringLiteral("invoice")}; }))
        << "the document was not imported";
    // The source outside the home is the user's own copy; the library's copy is what moves.
    QFile::remove(sources.first());
    ASSERT_TRUE(UserSession::waitUntil([&] { return indexHolds(kMarker); })) << "the document's text was never indexed";
    QString thumbnail;
    ASSERT_TRUE(UserSession::waitUntil([&] {
        const auto rows = session.query(QStringLiteral("SELECT a_thumbPath FROM t_DBFileInfo"));
        thumbnail = rows.isEmpty() ? QString() : session.libraryFolder() + rows.first().value(0).toString();
        return !rows.isEmpty() && QFileInfo(thumbnail).isFile() && QFileInfo(thumbnail).size() > 64;
    })) << "the document has no thumbnail";
    const QByteArray thumbnailBytes = testsupport::readFile(thumbnail);
    ASSERT_FALSE(filesHolding(kMarker).isEmpty()) << "the marker is readable before the move";

    const auto box = makeAndOpenBox(*window);
    ASSERT_TRUE(box) << "the SafeBox did not open (see the screenshots)";
    moveFirstDocument(*window);
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.documentTitles().isEmpty(); }))
        << "the document is still in the library after the move (see the screenshots)";
    EXPECT_TRUE(QFileInfo::exists(box->mount + QStringLiteral("/invoice.txt"))) << "the box does not hold it";
    settle(QStringLiteral("moved"));

    // Quit locks the box: sealed, its folder gone.
    session.key(QStringLiteral("ctrl+q"));
    ASSERT_EQ(session.waitForProgramExit(), 0);
    ASSERT_TRUE(UserSession::waitUntil([&] { return openBoxes().isEmpty() && !QFileInfo::exists(box->mount); }))
        << "quit left the box open";

    EXPECT_EQ(filesHolding(kMarker), QStringList()) << "the marker word stays readable";
    QByteArray lower = kMarker;
    EXPECT_EQ(filesHolding(lower.toLower()), QStringList()) << "the marker word stays in the index's words";
    EXPECT_FALSE(QFileInfo::exists(thumbnail)) << "the thumbnail stays in the library";
    EXPECT_EQ(filesHolding(thumbnailBytes), QStringList()) << "the thumbnail's bytes stay readable";
    EXPECT_TRUE(QFileInfo(safeBoxFile()).size() > 0);
}

// Right after a move of one of three documents, the Documents list shows the two left and the
// badge counts two, as they are after a fresh start.
TEST_F(UserLevelSafeBoxMove, TheDocumentsListAndBadgeCountWhatIsLeftRightAfterAMove)
{
    session.skipWelcome();
    ASSERT_TRUE(session.startDisplay());
    ASSERT_TRUE(session.startProgram(makeSources({QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("c.txt")})));
    auto window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared";
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.documentTitles().size() == 3; })) << "the documents were not imported";

    const auto box = makeAndOpenBox(*window);
    ASSERT_TRUE(box) << "the SafeBox did not open (see the screenshots)";
    moveFirstDocument(*window);
    ASSERT_TRUE(UserSession::waitUntil([&] { return session.documentTitles().size() == 2; }))
        << "the library holds " << session.documentTitles().join(", ").toStdString();
    // The list shows both documents left, and the badge settles.
    EXPECT_TRUE(UserSession::waitUntil([&] {
        const QImage shot = session.screenshot(QStringLiteral("after-move"));
        return cellDrawn(*window, kFirstCell, shot) && cellDrawn(*window, kSecondCell, shot);
    })) << "the Documents list lost a document it still holds (see the screenshots)";
    parkPointer(*window);
    const QImage afterMove = settle(QStringLiteral("after-move")).copy(at(*window, kDocumentsBadge));

    // A fresh start counts the library anew: the badge must look the same.
    session.key(QStringLiteral("ctrl+q"));
    ASSERT_EQ(session.waitForProgramExit(), 0);
    ASSERT_TRUE(session.startProgram());
    window = session.mainWindow();
    ASSERT_TRUE(window) << "the main window never appeared after the restart";
    session.click(at(*window, kDocumentsRow));
    parkPointer(*window);
    QImage fresh;
    EXPECT_TRUE(UserSession::waitUntil([&] {
        fresh = settle(QStringLiteral("restarted")).copy(at(*window, kDocumentsBadge));
        return fresh == afterMove;
    })) << "the Documents badge right after the move differs from the one a fresh start counts (see the screenshots)";
    fresh.save(session.outputFolder() + QStringLiteral("/badge-fresh.png"));
    afterMove.save(session.outputFolder() + QStringLiteral("/badge-after-move.png"));
    session.key(QStringLiteral("ctrl+q"));
    EXPECT_EQ(session.waitForProgramExit(), 0);
}
