// The export over a real library into scratch folders: the folder tree and the copies, names
// made from hostile titles, cancelling, failures reported before the folder is shown.
#include "../RecordingWorkspace.h"
#include "../../Search/LibraryFixture.h"
#include "Dialogs/Export/ExportNaming.h"
#include "Dialogs/Export/ExportWindowController.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/DBHelper.h"
#include "Store/DBNode.h"

#include <QRegularExpression>
#include <algorithm>

#include <QDir>
#include <QDirIterator>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <future>

using platform::kit::Alert;
using testsupport::readFile;

namespace {

// What the export over a library below does not reach: characters no title in a store fixture
// carries comfortably, and cuts that could split a character.
TEST(ExportNamingTest, ControlCharactersLongNamesAndFormatLikeTitles)
{
    EXPECT_EQ(ExportNaming::sanitizedComponent(QStringLiteral("x") + QChar(0) + QStringLiteral("y\nz")),
              QStringLiteral("x-y-z"));
    // A character outside the BMP at the cut is kept whole or dropped whole.
    const QString emoji = QString(99, QLatin1Char('a')) + QString::fromUtf8("\xF0\x9F\x93\x84").repeated(40);
    const QString cut = ExportNaming::sanitizedComponent(emoji);
    EXPECT_LE(cut.toUtf8().size(), ExportNaming::kMaxBaseBytes);
    EXPECT_FALSE(cut.back().isHighSurrogate());
    EXPECT_LE(ExportNaming::numberedFileName(cut, ExportNaming::sanitizedExtension(QString(300, QLatin1Char('x'))), 99999)
                  .toUtf8()
                  .size(),
              255);
    // Numbering never reads a title as a format string.
    EXPECT_EQ(ExportNaming::numberedFileName(QStringLiteral("50%1"), QStringLiteral("pdf"), 2),
              QStringLiteral("50%1_2.pdf"));
}

// Every file below root, relative, sorted; folders end in "/".
QStringList treeOf(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString relative = QDir(root).relativeFilePath(path);
        if (it.fileInfo().isDir())
            relative += QLatin1Char('/');
        entries << relative;
    }
    entries.sort();
    return entries;
}

class ExportTest : public libraryfixture::LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        chosen = testsupport::makeTempDir(QStringLiteral("chosen"));
        window.resize(800, 600);
        window.show();
    }

    void TearDown() override
    {
        Alert::setPresenterForTesting({});
        LibraryTest::TearDown();
    }

    DBNode node(const QString& title, int type, int sortID, const DBNode& parent = {}, bool trashed = false)
    {
        DBNode n = engine->createDBNode();
        n.setTitle(title);
        n.setType(type);
        n.setSortID(sortID);
        n.setIsTrash(trashed);
        if (parent)
            n.setParent(parent);
        return n;
    }

    DBFileInfo document(const QString& title, const QString& ext, const DBNode& in, const QByteArray& bytes,
                        bool trashed = false)
    {
        DBFileInfo file = addDocument(QStringLiteral("doc%1.bin").arg(++m_documents), bytes, trashed);
        file.setTitle(title);
        file.setPathExtension(ext);
        if (in)
            file.setNode(in);
        return file;
    }

    struct Outcome {
        bool done = false;
        int copied = 0;
        int failed = 0;
        bool cancelled = false;
        int maximum = -1;
    };

    ExportWindowController* start(Outcome& outcome, ExportOperation::CopyFunction copy = {})
    {
        ExportWindowController::Options options;
        options.workspace = &workspace;
        options.copy = std::move(copy);
        auto* controller = ExportWindowController::exportToFolder(&window, chosen, options);
        if (!controller)
            return nullptr;
        QObject::connect(controller, &ExportWindowController::finished, [&outcome, controller](int c, int f, bool x) {
            outcome = {true, c, f, x, controller->outlets().progressIndicator->maximum()};
        });
        return controller;
    }

    QString exportOnce(Outcome& outcome)
    {
        ExportWindowController* controller = start(outcome);
        EXPECT_NE(controller, nullptr);
        if (!controller)
            return {};
        const QString folder = controller->exportFolder();
        EXPECT_TRUE(testsupport::spinUntil([&] { return outcome.done; }));
        return folder;
    }

    bool revealed(const QString& folder) const { return recorder.opened(folder); }

    dialogtest::RecordingWorkspace recorder;
    testsupport::RecordingLauncher& launcher = recorder.launcher;
    platform::Workspace& workspace = recorder.workspace;
    QWidget window;
    QString chosen;

private:
    int m_documents = 0;
};

TEST_F(ExportTest, CopiesTheLiveTreeNumberingClashesAndSkippingWhatIsGone)
{
    const DBNode first = node(QStringLiteral("T"), DBNode::Collection, 1);
    const DBNode second = node(QStringLiteral("T"), DBNode::Folder, 2);
    const DBNode sub = node(QStringLiteral("Sub"), DBNode::Folder, 1, first);
    const DBNode smart = node(QStringLiteral("Smart"), DBNode::SmartFolder, 2, first);
    const DBNode trashedChild = node(QStringLiteral("Old"), DBNode::Folder, 3, first, true);
    const DBNode trashedTop = node(QStringLiteral("Gone"), DBNode::Collection, 3, {}, true);
    document(QStringLiteral("a"), QStringLiteral("pdf"), first, "first a");
    document(QStringLiteral("b"), QStringLiteral("pdf"), second, "second b");
    document(QStringLiteral("t"), QStringLiteral("pdf"), sub, "t one");
    document(QStringLiteral("t"), QStringLiteral("pdf"), sub, "t two");
    document(QStringLiteral("deleted"), QStringLiteral("pdf"), sub, "in the trash", true);
    document(QStringLiteral("s"), QStringLiteral("pdf"), smart, "smart");
    document(QStringLiteral("o"), QStringLiteral("pdf"), trashedChild, "old");
    document(QStringLiteral("g"), QStringLiteral("pdf"), trashedTop, "gone");
    document(QStringLiteral("loose"), QStringLiteral("pdf"), {}, "in no folder");
    // Nothing above is saved: the export must save first to see it.
    ASSERT_TRUE(engine->context()->hasChanges());

    Outcome outcome;
    const QString folder = exportOnce(outcome);
    EXPECT_EQ(folder, chosen + QStringLiteral("/Document Export"));
    EXPECT_FALSE(engine->context()->hasChanges());
    EXPECT_EQ(treeOf(folder), QStringList({QStringLiteral("T/"), QStringLiteral("T/Sub/"), QStringLiteral("T/Sub/t.pdf"),
                                           QStringLiteral("T/Sub/t_2.pdf"), QStringLiteral("T/a.pdf"),
                                           QStringLiteral("T_2/"), QStringLiteral("T_2/b.pdf")}));
    EXPECT_EQ(readFile(folder + QStringLiteral("/T/a.pdf")), QByteArray("first a"));
    EXPECT_EQ(readFile(folder + QStringLiteral("/T_2/b.pdf")), QByteArray("second b"));
    QByteArrayList sameTitle{readFile(folder + QStringLiteral("/T/Sub/t.pdf")), readFile(folder + QStringLiteral("/T/Sub/t_2.pdf"))};
    std::sort(sameTitle.begin(), sameTitle.end());
    EXPECT_EQ(sameTitle, QByteArrayList({"t one", "t two"}));
    // The trashed document left the count: the bar ends full.
    EXPECT_EQ(outcome.copied, 4);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(outcome.maximum, 4);
    EXPECT_TRUE(revealed(folder));

    Outcome again;
    EXPECT_EQ(exportOnce(again), chosen + QStringLiteral("/Document Export_2"));
    EXPECT_EQ(again.copied, 4);
    EXPECT_EQ(treeOf(chosen).filter(QRegularExpression(QStringLiteral("^[^/]+/$"))),
              QStringList({QStringLiteral("Document Export/"), QStringLiteral("Document Export_2/")}));
}

TEST_F(ExportTest, DeepTreesWithSiblingsExportWhereTheyStand)
{
    // Enough folders that the plan grows several times while a parent's folder is still in use;
    // a folder titled like a system folder must stay inside the export.
    const DBNode top = node(QStringLiteral("Top"), DBNode::Collection, 1);
    QStringList expected{QStringLiteral("Top/")};
    for (int i = 1; i <= 4; ++i) {
        const QString name = i == 1 ? QStringLiteral("tmp") : QStringLiteral("F%1").arg(i);
        const DBNode mid = node(name, DBNode::Folder, i, top);
        expected << QStringLiteral("Top/%1/").arg(name);
        for (int j = 1; j <= 3; ++j) {
            const QString leaf = QStringLiteral("L%1").arg(j);
            const DBNode low = node(leaf, DBNode::Folder, j, mid);
            document(QStringLiteral("d"), QStringLiteral("txt"), low, QByteArray::number(i * 10 + j));
            expected << QStringLiteral("Top/%1/%2/").arg(name, leaf) << QStringLiteral("Top/%1/%2/d.txt").arg(name, leaf);
        }
    }
    expected.sort();

    Outcome outcome;
    const QString folder = exportOnce(outcome);
    EXPECT_EQ(outcome.copied, 12);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(treeOf(folder), expected);
    EXPECT_EQ(readFile(folder + QStringLiteral("/Top/tmp/L2/d.txt")), QByteArray("12"));
    EXPECT_EQ(readFile(folder + QStringLiteral("/Top/F4/L3/d.txt")), QByteArray("43"));
}

TEST_F(ExportTest, HostileTitlesNeverLeaveTheExportFolder)
{
    const DBNode slash = node(QStringLiteral("a/b"), DBNode::Collection, 1);
    const DBNode dots = node(QStringLiteral(".."), DBNode::Collection, 2);
    const DBNode empty = node(QString(), DBNode::Collection, 3);
    const DBNode hidden = node(QStringLiteral(".hidden"), DBNode::Collection, 4);
    document(QStringLiteral("../../escaped"), QStringLiteral("pdf"), slash, "1");
    document(QStringLiteral("README"), QString(), dots, "2");
    document(QStringLiteral("."), QStringLiteral("../x"), empty, "3");
    document(QString(300, QLatin1Char('L')), QStringLiteral("txt"), empty, "4");
    document(QStringLiteral(".hello/x"), QStringLiteral("eml"), hidden, "5");

    Outcome outcome;
    const QString folder = exportOnce(outcome);
    EXPECT_EQ(outcome.copied, 5);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(treeOf(chosen).first(), QStringLiteral("Document Export/"));
    for (const QString& entry : treeOf(chosen))
        EXPECT_TRUE(entry.startsWith(QStringLiteral("Document Export/")) || entry == QStringLiteral("Document Export/"))
            << qPrintable(entry);
    const QStringList tree = treeOf(folder);
    // Nothing exported is hidden: a file manager would not show it.
    for (const QString& entry : tree)
        EXPECT_FALSE(entry.startsWith(QLatin1Char('.')) || entry.contains(QStringLiteral("/.")))
            << qPrintable(entry);
    EXPECT_TRUE(tree.contains(QStringLiteral("a-b/-..-escaped.pdf")));
    EXPECT_TRUE(tree.contains(QStringLiteral("hidden/hello-x.eml")));
    EXPECT_EQ(tree.size(), 9) << qPrintable(tree.join(QLatin1String(" | ")));
    EXPECT_TRUE(tree.contains(QStringLiteral("_/README")));
    EXPECT_TRUE(tree.contains(QStringLiteral("__2/_...-x")));
    EXPECT_TRUE(tree.contains(QStringLiteral("__2/") + QString(ExportNaming::kMaxBaseBytes, QLatin1Char('L')) + QStringLiteral(".txt")));
}

TEST_F(ExportTest, CancelStopsAtTheNextDocumentAndStillShowsTheFolder)
{
    const DBNode collection = node(QStringLiteral("C"), DBNode::Collection, 1);
    for (int i = 0; i < 5; ++i)
        document(QStringLiteral("d%1").arg(i), QStringLiteral("pdf"), collection, "x");

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};
    Outcome outcome;
    ExportWindowController* controller = start(outcome, [&](const QString& source, const QString& target) {
        if (calls.fetch_add(1) == 0)
            released.wait(); // the first copy holds the worker until the user has cancelled
        return platform::FileManager::copyItem(source, target);
    });
    ASSERT_NE(controller, nullptr);
    const QString folder = controller->exportFolder();
    ASSERT_TRUE(testsupport::spinUntil([&] { return calls.load() == 1; }));
    controller->outlets().btnCancel->click();
    release.set_value();
    ASSERT_TRUE(testsupport::spinUntil([&] { return outcome.done; }));

    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.copied, 1);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(treeOf(folder).size(), 2); // "C/" and the one document
    EXPECT_TRUE(revealed(folder));
}

TEST_F(ExportTest, FailedCopiesAreCountedAndToldBeforeTheFolderIsShown)
{
    const DBNode collection = node(QStringLiteral("C"), DBNode::Collection, 1);
    document(QStringLiteral("good"), QStringLiteral("pdf"), collection, "ok");
    document(QStringLiteral("full"), QStringLiteral("pdf"), collection, "no room");
    DBFileInfo lost = document(QStringLiteral("lost"), QStringLiteral("pdf"), collection, "gone");
    ASSERT_TRUE(QFile::remove(DBHelper::CombinFileAbsolutePath(lost)));

    QStringList alerts;
    int launchesAtAlert = -1;
    Alert::setPresenterForTesting([&](const Alert& alert) {
        alerts << alert.messageText();
        launchesAtAlert = int(launcher.launches.size());
        return Alert::kDefaultReturn;
    });
    Outcome outcome;
    start(outcome, [](const QString& source, const QString& target) -> platform::Result<void> {
        if (source.endsWith(QStringLiteral("doc2.bin")))
            return std::unexpected(platform::Error::posix(ENOSPC, QStringLiteral("copy")));
        return platform::FileManager::copyItem(source, target);
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return outcome.done; }));

    EXPECT_EQ(outcome.copied, 1);
    EXPECT_EQ(outcome.failed, 2);
    EXPECT_EQ(alerts, QStringList({QStringLiteral("2 documents could not be exported.")}));
    EXPECT_EQ(launchesAtAlert, 0);
    EXPECT_TRUE(revealed(chosen + QStringLiteral("/Document Export")));
    // A failed copy leaves nothing half-written behind.
    EXPECT_EQ(treeOf(chosen + QStringLiteral("/Document Export")),
              QStringList({QStringLiteral("C/"), QStringLiteral("C/good.pdf")}));
}

TEST_F(ExportTest, AnUnusableTargetStartsNothingAndSaysSo)
{
    testsupport::writeFile(chosen + QStringLiteral("/plain-file"), "x");
    QStringList alerts;
    Alert::setPresenterForTesting([&](const Alert& alert) {
        alerts << alert.messageText();
        return Alert::kDefaultReturn;
    });
    Outcome outcome;
    ExportWindowController::Options options;
    options.workspace = &workspace;
    EXPECT_EQ(ExportWindowController::exportToFolder(&window, chosen + QStringLiteral("/plain-file/inside"), options),
              nullptr);
    EXPECT_EQ(alerts, QStringList({QStringLiteral("The documents could not be exported.")}));
    EXPECT_TRUE(launcher.launches.isEmpty());
    EXPECT_EQ(treeOf(chosen), QStringList({QStringLiteral("plain-file")}));
}

} // namespace
