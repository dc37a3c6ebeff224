// An import killed with SIGKILL in the middle of its copies, in a child process, and the next
// opening of the library: the copies without a record and the half-made one go, everything else
// stays. The child stops itself at a known point (a staged copy about to take its name), so the
// kill always comes at the same moment.
#include "Import/KPFileImport.h"
#include "ImportTestKit.h"
#include "Store/DataBaseEngine.h"

#include <csignal>
#include <unistd.h>

using namespace importtest;
namespace K = KPImportKeys;

namespace {

const char* const kLibraryVariable = "FOLIVO_IMPORT_KILL_LIBRARY";
const char* const kSourcesVariable = "FOLIVO_IMPORT_KILL_SOURCES";
const char* const kReadyVariable = "FOLIVO_IMPORT_KILL_READY";

// Parent and child must agree on the day folder whatever the clock says.
QDateTime importDay()
{
    return QDateTime(QDate(2014, 1, 1), QTime(12, 0));
}

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

class ImportKillTest : public ImportFixture {
protected:
    DataBaseEngine::Options engineOptions() const
    {
        DataBaseEngine::Options options;
        options.libraryPath = libraryPath;
        options.makeDefault = false;
        return options;
    }
};

} // namespace

TEST_F(ImportKillTest, CopiesOfAKilledImportAreTakenBackOutAtTheNextOpening)
{
    const KPLibraryFileManager files(libraryPath, importDay());
    // A document stored before, and a file of the user's own in the same folder.
    const QString earlier = write(QStringLiteral("earlier/kept.pdf"), "kept");
    {
        DataBaseEngine engine(engineOptions());
        ASSERT_TRUE(engine.initDataBase());
        const auto kept = files.addFile(earlier);
        ASSERT_TRUE(kept);
        engine.insertRecords({{{K::Path, *kept}}});
        ASSERT_TRUE(engine.close());
    }
    testsupport::writeFile(files.dayFolder() + QStringLiteral("notes.txt"), "mine");
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"})
        write(QStringLiteral("drop/") + QLatin1String(name), name);

    const QString ready = testsupport::makeTempDir(QStringLiteral("ready")) + QStringLiteral("/child");
    testsupport::ChildProcess child({QStringLiteral("--gtest_also_run_disabled_tests"),
                                     QStringLiteral("--gtest_filter=ImportKillChild.DISABLED_CopiesUntilKilled")},
                                    {{QString::fromLatin1(kLibraryVariable), libraryPath},
                                     {QString::fromLatin1(kSourcesVariable), src(QStringLiteral("drop"))},
                                     {QString::fromLatin1(kReadyVariable), ready}});
    ASSERT_TRUE(child.started());
    const bool arrived = testsupport::spinUntil([&] { return !testsupport::readFile(ready).isEmpty(); }, 120000);
    QStringList whileRunning;
    if (arrived) {
        // A second copy of the program opening the library meanwhile is refused and touches
        // nothing: the running import's copies are not leftovers.
        whileRunning = namesIn(files.dayFolder());
        DataBaseEngine second(engineOptions());
        const auto refused = second.initDataBase();
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, DataBaseEngine::kLibraryInUse);
        EXPECT_TRUE(refused.error().message.contains(QStringLiteral("is open in another copy of Folivo 2")));
        EXPECT_EQ(namesIn(files.dayFolder()), whileRunning);
        EXPECT_EQ(namesIn(libraryPath).filter(QStringLiteral(".journal")).size(), 1);
    }
    ::kill(child.pid(), SIGKILL);
    child.waitForFinished();
    // The child's home stays behind when it is killed; it named it in its signal.
    const QString childHome = QString::fromUtf8(testsupport::readFile(ready));
    if (childHome.contains(QStringLiteral("/folivo-test-")))
        QDir(childHome).removeRecursively();
    ASSERT_TRUE(arrived) << qPrintable(QString::fromLocal8Bit(child.standardOutput() + child.standardError()));

    // What the kill left: two copies without records, one staged copy, the journal.
    const QStringList left = namesIn(files.dayFolder());
    ASSERT_EQ(left.size(), 5) << qPrintable(left.join(QLatin1Char(',')));
    EXPECT_EQ(left, whileRunning);
    ASSERT_EQ(left.filter(QStringLiteral(".part")).size(), 1);
    ASSERT_EQ(namesIn(libraryPath).filter(QStringLiteral(".journal")).size(), 1);

    // The killed holder's lock went with it: this opening takes the library over and clears up.
    DataBaseEngine engine(engineOptions());
    ASSERT_TRUE(engine.initDataBase());
    EXPECT_EQ(namesIn(files.dayFolder()), (QStringList{QStringLiteral("kept.pdf"), QStringLiteral("notes.txt")}));
    EXPECT_TRUE(namesIn(files.thumbFolder()).isEmpty()) << "the thumbnails of the copies went with them";
    EXPECT_TRUE(namesIn(libraryPath).filter(QStringLiteral(".journal")).isEmpty());
    EXPECT_EQ(engine.countByObject(QStringLiteral("DBFileInfo")), 1);
}

// The child of the test above; runs only when started by it.
TEST(ImportKillChild, DISABLED_CopiesUntilKilled)
{
    const QString libraryPath = qEnvironmentVariable(kLibraryVariable);
    const QString ready = qEnvironmentVariable(kReadyVariable);
    if (libraryPath.isEmpty() || ready.isEmpty())
        GTEST_SKIP();
    KPImportOperation::setPhasePauseForTesting(std::chrono::milliseconds(0));
    DataBaseEngine::Options options;
    options.libraryPath = libraryPath;
    options.makeDefault = false;
    DataBaseEngine engine(options);
    ASSERT_TRUE(engine.initDataBase());
    const KPLibraryFileManager library(libraryPath, importDay());
    KPFileFormatManager formats{{kindRow(1, QStringLiteral("pdf"))}};
    std::atomic<int> copies{0};
    KPImportFileWorker::setCopyFunctionForTesting([&](const KPLibraryFileManager& lib, const QString& source,
                                                      const KPLibraryFileManager::BeforeClaim& beforeClaim) {
        if (++copies < 3)
            return lib.addFile(source, beforeClaim);
        // The third copy is staged and noted, and about to take its name, when the kill comes.
        return lib.addFile(source, KPLibraryFileManager::BeforeClaim([&](const KPLibraryFileManager::StagedItem& item) {
            auto noted = beforeClaim(item);
            testsupport::writeFile(ready + QStringLiteral(".tmp"), QFile::encodeName(testsupport::homeDir()));
            QFile::rename(ready + QStringLiteral(".tmp"), ready);
            for (;;)
                ::pause();
            return noted;
        }));
    });

    auto op = std::make_shared<KPFileImport>(QVariantMap{{K::Paths, QStringList{qEnvironmentVariable(kSourcesVariable)}}});
    op->setEnvironment({&library, std::make_shared<RecordingStore>(), &formats});
    KPFileImportQueue queue;
    queue.addOperation(op);
    testsupport::spinUntil([] { return false; }, 120000);
    ADD_FAILURE() << "not killed";
}
