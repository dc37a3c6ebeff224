// A sync killed with SIGKILL between two pieces of its import, in a child process, and the next
// start: every document the library names has its thumbnail, the index-folder store names
// exactly those documents, and the next pass brings in the rest without doubles. The child
// stops itself at a known point (the flush before the second piece is stored), so the kill
// always comes at the same moment.
#include "IndexFolderSyncTestKit.h"

#include <QImage>
#include <unistd.h>

using namespace indexfoldertest;

namespace {

const char* const kLibraryVariable = "FOLIVO_INDEXFOLDER_KILL_LIBRARY";
const char* const kDiskVariable = "FOLIVO_INDEXFOLDER_KILL_DISK";
constexpr int kFiles = 201; // a full piece, and one more

class IndexFolderKill : public SyncFixture {};

class IndexFolderKillChild : public SyncFixture {
protected:
    IndexFolderKillChild()
    {
        // The child makes the library and the folder the parent looks at after the kill.
        library = qEnvironmentVariable(kLibraryVariable);
        disk = qEnvironmentVariable(kDiskVariable);
    }
};

} // namespace

TEST_F(IndexFolderKill, AKilledSyncLeavesNoDocumentWithoutItsThumbnail)
{
    // The library and the folder are made by the child: this process must not hold the
    // library's store open while another process writes it.
    const QString killed = testsupport::makeTempDir(QStringLiteral("killed-library"));
    const QString watched = testsupport::makeTempDir(QStringLiteral("watched"));
    const auto child = testsupport::runChildUntilReadyAndKill(
        QStringLiteral("IndexFolderKillChild.DISABLED_SyncsUntilKilled"),
        {{QString::fromLatin1(kLibraryVariable), killed}, {QString::fromLatin1(kDiskVariable), watched}}, kPassCap);
    ASSERT_TRUE(child.ready) << qPrintable(child.output);

    closeStores();
    library = killed;
    disk = watched;
    openStores();
    const QString root = disk + "/Docs";
    auto folder = findFolder(root);
    ASSERT_TRUE(folder);
    folders = {folder};
    auto documents = liveDocuments();
    ASSERT_EQ(documents.size(), 200) << "the first piece was stored before the kill";
    QSet<quint64> uuids;
    for (const DBFileInfo& file : documents) {
        EXPECT_FALSE(QImage(library + file.thumbPath()).isNull()) << qPrintable(file.path());
        uuids.insert(file.indexFolderMetadata().uuid());
    }
    QSet<quint64> recorded;
    for (const IFFileItem& row : liveRows())
        recorded.insert(row.uuid);
    EXPECT_EQ(recorded, uuids);

    syncAll(folder);
    documents = liveDocuments();
    EXPECT_EQ(documents.size(), kFiles);
    for (const DBFileInfo& file : documents)
        EXPECT_FALSE(QImage(library + file.thumbPath()).isNull()) << qPrintable(file.path());
    EXPECT_EQ(liveRows().size(), kFiles);
}

// The child of the test above; runs only when started by it.
TEST_F(IndexFolderKillChild, DISABLED_SyncsUntilKilled)
{
    if (qEnvironmentVariableIsEmpty(kLibraryVariable))
        GTEST_SKIP();
    std::atomic<int> calls{0};
    flushThumbnails = [&](const QStringList& thumbnails) -> platform::Result<void> {
        if (++calls < 2)
            return files->flushItems(thumbnails);
        testsupport::signalReady();
        for (;;)
            ::pause();
    };
    restartManager();
    const QString root = disk + "/Docs";
    const DBIndexFolder folder = addFolder(root);
    for (int i = 0; i < kFiles; ++i)
        put(QString("Docs/f%1.pdf").arg(i, 3, 10, QLatin1Char('0')));
    manager->syncIndexFolder(folder, {{IndexFolderAction::ActionType, IndexFolderAction::TopLevel}});
    testsupport::spinUntil([] { return false; }, kPassCap);
    ADD_FAILURE() << "not killed";
}
