#include "IndexFolderSyncTestKit.h"

#include "IndexFolder/IndexFolderImportDataPushObj.h"
#include "IndexFolder/KPFolderSnapshot.h"

using namespace indexfoldertest;

namespace {

class IndexFolderImport : public SyncFixture {
protected:
    // A chunk of every supported file below folder, as new.
    IndexFolderDiffChunk newFilesOf(const QString& folder)
    {
        IndexFolderDiffChunk chunk;
        KPFolderSnapshot snapshot(folder, library);
        QList<KPFileNode::Ptr> stack{snapshot.snapShotAndChildren()};
        while (!stack.isEmpty()) {
            auto node = stack.takeLast();
            chunk.newRecords += node->fileNodes();
            stack += node->folderNodes();
        }
        chunk.folders = QStringList{folder};
        return chunk;
    }
    void run(IndexFolderDiffChunk chunk, bool cancelFirst = false)
    {
        auto batch = std::make_shared<IndexFolderImportBatch>();
        batch->folder = disk;
        auto import = std::make_shared<IndexFolderImportDataPushObj>(std::move(chunk), batch, services());
        if (cancelFirst)
            import->cancel();
        import->start();
    }
};

} // namespace

TEST_F(IndexFolderImport, ACancelledImportChangesNothing)
{
    put("a.pdf");
    run(newFilesOf(disk), true);
    EXPECT_EQ(liveDocuments().size(), 0);
    EXPECT_EQ(indexStore->countByObject(IFFileItem::kEntityName), 0);
    EXPECT_EQ(indexStore->countByObject(IFFolderItem::kEntityName), 0);
}

TEST_F(IndexFolderImport, APieceWithOnlyFoldersAddsTheUnknownFolderRows)
{
    IndexFolderDiffChunk chunk;
    chunk.folders = QStringList{disk, disk + "/Sub"};
    run(chunk);
    chunk.folders = QStringList{disk, disk + "/Sub", disk + "/Other"};
    run(chunk);
    QStringList paths;
    for (const auto& row : indexStore->queryRecordByName(IFFolderItem::kEntityName))
        paths.append(row->valueForKey(IFFolderItem::kPath).toString());
    paths.sort();
    EXPECT_EQ(paths, QStringList({disk, disk + "/Other", disk + "/Sub"}));
    EXPECT_EQ(liveDocuments().size(), 0);
    EXPECT_EQ(countOf(DBRecent::entityName()), 0);
}

TEST_F(IndexFolderImport, WithoutTheLibraryStoreNoRowIsRecorded)
{
    put("a.pdf");
    const IndexFolderDiffChunk chunk = newFilesOf(disk);
    ASSERT_EQ(chunk.newRecords.size(), 1);
    // The library is closed: its documents cannot be written, so the row must not claim one.
    libraryEngine.reset();
    run(chunk);
    EXPECT_EQ(indexStore->countByObject(IFFileItem::kEntityName), 0);
}

TEST_F(IndexFolderImport, AFileGoneSinceTheWalkIsSkipped)
{
    const QString a = put("a.pdf");
    const QString b = put("b.pdf");
    const IndexFolderDiffChunk chunk = newFilesOf(disk);
    ASSERT_TRUE(QFile::remove(a));
    run(chunk);
    EXPECT_EQ(liveDocuments().keys(), QStringList({b}));
    ASSERT_EQ(liveRows().size(), 1);
    EXPECT_EQ(liveRows().first().fullPath(), b);
    EXPECT_EQ(liveRows().first().uuid, liveDocuments()[b].indexFolderMetadata().uuid());
}
