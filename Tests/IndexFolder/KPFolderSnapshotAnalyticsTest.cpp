#include "IndexFolderTestSupport.h"

#include "IndexFolder/KPFolderSnapshotAnalytics.h"

using namespace indexfoldertest;

namespace {

class FolderDiff : public LibraryFixture {
protected:
    // Runs the comparison of tree against the store and keeps every chunk.
    platform::Result<void> diff(const KPFileNode::Ptr& tree)
    {
        chunks.clear();
        KPFolderSnapshotAnalytics analytics(tree, engine.get());
        return analytics.analyticsWithChunkCompletedBlock(
            [this](const IndexFolderDiffChunk& chunk) { chunks.push_back(chunk); });
    }
    QString rowPath(const platform::ManagedObjectPtr& row) const { return IFFileItem::read(*row).fullPath(); }

    std::vector<IndexFolderDiffChunk> chunks;
};

} // namespace

TEST_F(FolderDiff, AnUnchangedFolderYieldsNoChunk)
{
    auto root = folderNode("/r/Docs");
    fileNode(root, "a.pdf", 11, at(1), "Work")->setChangeTime(500);
    fileNode(root, "fresh.pdf", 12, at(1)); // changed a moment ago: no change time handed on
    addRow(*engine, "/r/Docs/a.pdf", 11, at(1).addMSecs(400), "Work", false, 0, 500); // same second
    addRow(*engine, "/r/Docs/fresh.pdf", 12, at(1), "", false, 0, 300);
    ASSERT_TRUE(diff(root));
    EXPECT_TRUE(chunks.empty());
}

TEST_F(FolderDiff, UnchangedFilesWhoseTagsWereReadAgainPassOnlyTheirChangeTime)
{
    auto root = folderNode("/r/Docs");
    fileNode(root, "older-store.pdf", 11, at(1), "Work")->setChangeTime(600);
    fileNode(root, "touched.pdf", 12, at(1))->setChangeTime(800);
    fileNode(root, "edited.pdf", 13, at(9))->setChangeTime(900);
    addRow(*engine, "/r/Docs/older-store.pdf", 11, at(1), "Work");        // no change time yet
    addRow(*engine, "/r/Docs/touched.pdf", 12, at(1), "", false, 0, 700); // chmod, say
    addRow(*engine, "/r/Docs/edited.pdf", 13, at(1), "", false, 0, 700);
    ASSERT_TRUE(diff(root));
    ASSERT_EQ(chunks.size(), 1u);
    const IndexFolderDiffChunk& c = chunks.front();
    EXPECT_TRUE(c.newRecords.isEmpty() && c.removeRecords.isEmpty() && c.renameRecords.isEmpty());
    QMap<QString, qint64> seen;
    for (const auto& entry : c.seenRecords)
        seen.insert(rowPath(entry.data), entry.changeTime);
    EXPECT_EQ(seen, (QMap<QString, qint64>{{"/r/Docs/older-store.pdf", 600}, {"/r/Docs/touched.pdf", 800}}));
    ASSERT_EQ(c.modifiedRecords.size(), 1);
    EXPECT_EQ(c.modifiedRecords[0].changeTime, std::optional<qint64>(900));
}

TEST_F(FolderDiff, RenamesModificationsAndReplacementsAreToldApart)
{
    auto root = folderNode("/r/Docs");
    auto sub = folderNode("/r/Docs/Sub");
    root->addFolder(sub);
    fileNode(sub, "renamed.pdf", 21, at(1));                 // was /r/Docs/old.pdf
    fileNode(root, "edited.pdf", 22, at(50));                // newer date, same tags
    fileNode(root, "retagged.pdf", 23, at(2), "Work,Home");  // tags changed
    fileNode(root, "untagged.pdf", 24, at(3), "");           // every tag removed
    fileNode(root, "replaced.pdf", 99, at(4), "");           // same path, date, tags; new number
    fileNode(root, "brand-new.pdf", 26, at(5));
    addRow(*engine, "/r/Docs/old.pdf", 21, at(1));
    addRow(*engine, "/r/Docs/edited.pdf", 22, at(2));
    addRow(*engine, "/r/Docs/retagged.pdf", 23, at(2), "Work");
    addRow(*engine, "/r/Docs/untagged.pdf", 24, at(3), "Old");
    addRow(*engine, "/r/Docs/replaced.pdf", 25, at(4), "");
    addRow(*engine, "/r/Docs/deleted.pdf", 27, at(6));

    ASSERT_TRUE(diff(root));
    ASSERT_EQ(chunks.size(), 1u);
    const IndexFolderDiffChunk& c = chunks.front();

    ASSERT_EQ(c.renameRecords.size(), 1);
    EXPECT_EQ(c.renameRecords[0].fromPath, "/r/Docs/old.pdf");
    EXPECT_EQ(c.renameRecords[0].toPath, "/r/Docs/Sub/renamed.pdf");

    ASSERT_EQ(c.modifiedRecords.size(), 3);
    QMap<QString, IndexFolderModifiedEntry> modified;
    for (const auto& entry : c.modifiedRecords)
        modified.insert(rowPath(entry.data), entry);
    EXPECT_EQ(modified["/r/Docs/edited.pdf"].date, at(50));
    EXPECT_EQ(modified["/r/Docs/edited.pdf"].fileID, 22u);
    EXPECT_FALSE(modified["/r/Docs/edited.pdf"].newTags);
    EXPECT_EQ(modified["/r/Docs/retagged.pdf"].newTags, std::optional<QString>("Work,Home"));
    EXPECT_EQ(modified["/r/Docs/untagged.pdf"].newTags, std::optional<QString>(""));

    QStringList removed;
    for (const auto& row : c.removeRecords)
        removed.append(rowPath(row));
    removed.sort();
    EXPECT_EQ(removed, QStringList({"/r/Docs/deleted.pdf", "/r/Docs/replaced.pdf"}));
    QStringList added;
    for (const auto& node : c.newRecords)
        added.append(node->path());
    added.sort();
    EXPECT_EQ(added, QStringList({"/r/Docs/brand-new.pdf", "/r/Docs/replaced.pdf"}));

    EXPECT_EQ(c.folders, std::optional<QStringList>(QStringList{"/r/Docs", "/r/Docs/Sub"}));
    EXPECT_EQ(c.context, chunks.front().context);
    EXPECT_TRUE(c.context);
}

TEST_F(FolderDiff, ManyChangesComeInChunksOf200WithTheFoldersLast)
{
    auto root = folderNode("/r/Docs");
    for (int i = 0; i < 450; ++i)
        fileNode(root, QString("n%1.pdf").arg(i), quint32(1000 + i), at(i));
    for (int i = 0; i < 201; ++i)
        addRow(*engine, QString("/r/Docs/gone%1.pdf").arg(i), quint32(5000 + i), at(i));

    ASSERT_TRUE(diff(root));
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].newRecords.size(), 200);
    EXPECT_EQ(chunks[1].newRecords.size(), 200);
    EXPECT_EQ(chunks[2].removeRecords.size(), 200);
    EXPECT_TRUE(chunks[2].newRecords.isEmpty());
    EXPECT_EQ(chunks[3].newRecords.size(), 50);
    EXPECT_EQ(chunks[3].removeRecords.size(), 1);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_FALSE(chunks[i].folders);
    EXPECT_EQ(chunks[3].folders, std::optional<QStringList>(QStringList{"/r/Docs"}));
    EXPECT_EQ(chunks[0].newRecords.front()->path(), "/r/Docs/n0.pdf");
}

TEST_F(FolderDiff, OnlyRowsOfTheFolderItselfTakePart)
{
    auto root = folderNode("/A/Docs");
    fileNode(root, "a.pdf", 1, at(1));
    addRow(*engine, "/A/Docs/a.pdf", 1, at(1));
    addRow(*engine, "/A/Docs2/sibling.pdf", 2, at(1));   // a sibling sharing the prefix
    addRow(*engine, "/A/docs/other-case.pdf", 3, at(1)); // another folder on Linux
    addRow(*engine, "/A/Docs/flagged.pdf", 4, at(1), "", true);
    ASSERT_TRUE(diff(root));
    EXPECT_TRUE(chunks.empty());
}

TEST_F(FolderDiff, AFolderThatCannotBeListedRemovesNothingButAVanishedOneDoes)
{
    auto root = folderNode("/r/Docs");
    fileNode(root, "a.pdf", 1, at(1));
    root->addFolder(folderNode("/r/Docs/Locked", KPFileNode::Listing::Unreadable));
    root->addFolder(folderNode("/r/Docs/Gone", KPFileNode::Listing::Missing));
    root->addUnreadableItem("/r/Docs/unstattable.pdf");
    addRow(*engine, "/r/Docs/a.pdf", 1, at(1));
    addRow(*engine, "/r/Docs/Locked/l.pdf", 2, at(1));
    addRow(*engine, "/r/Docs/Locked/Deeper/d.pdf", 3, at(1));
    addRow(*engine, "/r/Docs/unstattable.pdf", 4, at(1));
    addRow(*engine, "/r/Docs/Gone/g.pdf", 5, at(1));

    ASSERT_TRUE(diff(root));
    ASSERT_EQ(chunks.size(), 1u);
    ASSERT_EQ(chunks[0].removeRecords.size(), 1);
    EXPECT_EQ(rowPath(chunks[0].removeRecords[0]), "/r/Docs/Gone/g.pdf");
}

TEST_F(FolderDiff, AMissingOrUnreadableRootRemovesNothing)
{
    addRow(*engine, "/r/Docs/a.pdf", 1, at(1));
    ASSERT_TRUE(IFFolderItem::rememberVolume(*engine, "/r/Docs", {5, false}));
    for (auto listing : {KPFileNode::Listing::Missing, KPFileNode::Listing::Unreadable}) {
        auto result = diff(folderNode("/r/Docs", listing, KPFileNode::Volume{5, false}));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().code, KPIndexFolderDBEngine::UnreachableError);
        EXPECT_TRUE(chunks.empty());
    }
}

TEST_F(FolderDiff, ARootWithoutDocumentsIsEmptiedOnlyOnTheDeviceItWasOn)
{
    addRow(*engine, "/r/Docs/a.pdf", 1, at(1));
    addRow(*engine, "/r/Docs/Sub/b.pdf", 2, at(1));
    auto unreachable = [this](std::optional<KPFileNode::Volume> volume) {
        auto root = folderNode("/r/Docs", KPFileNode::Listing::Listed, volume);
        root->addFolder(folderNode("/r/Docs/Sub"));
        auto result = diff(root);
        if (result)
            return false;
        EXPECT_TRUE(chunks.empty());
        return result.error().code == KPIndexFolderDBEngine::UnreachableError;
    };
    // A store that never recorded the volume (from an older version): nothing is concluded.
    EXPECT_TRUE(unreachable(KPFileNode::Volume{5, false}));

    ASSERT_TRUE(IFFolderItem::rememberVolume(*engine, "/r/Docs", {5, false}));
    EXPECT_TRUE(unreachable(KPFileNode::Volume{6, false}));
    EXPECT_TRUE(unreachable(std::nullopt)); // the volume could not be read, or changed during the walk

    // Emptied where it always was: every document goes.
    EXPECT_FALSE(unreachable(KPFileNode::Volume{5, false}));
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].removeRecords.size(), 2);
}

TEST_F(FolderDiff, AMountPointTurnedPlainFolderRemovesNothingWhateverItHolds)
{
    addRow(*engine, "/media/Disk/a.pdf", 1, at(1));
    addRow(*engine, "/media/Disk/b.pdf", 2, at(1));
    ASSERT_TRUE(IFFolderItem::rememberVolume(*engine, "/media/Disk", {7, true}));
    auto withB = [](KPFileNode::Volume volume) {
        auto root = folderNode("/media/Disk", KPFileNode::Listing::Listed, volume);
        fileNode(root, "b.pdf", 2, at(1));
        return root;
    };

    // Unmounted, with a stray copy in the bare folder beneath.
    auto bare = diff(withB({3, false}));
    ASSERT_FALSE(bare);
    EXPECT_EQ(bare.error().code, KPIndexFolderDBEngine::UnreachableError);
    auto empty = diff(folderNode("/media/Disk", KPFileNode::Listing::Listed, KPFileNode::Volume{3, false}));
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.error().code, KPIndexFolderDBEngine::UnreachableError);
    // Mounted again under another device number: a volume with documents is there.
    ASSERT_TRUE(diff(withB({9, true})));
    ASSERT_EQ(chunks.size(), 1u);
    ASSERT_EQ(chunks[0].removeRecords.size(), 1);
    EXPECT_EQ(rowPath(chunks[0].removeRecords[0]), "/media/Disk/a.pdf");
    // Without a document, another device number than the one recorded proves nothing.
    EXPECT_FALSE(diff(folderNode("/media/Disk", KPFileNode::Listing::Listed, KPFileNode::Volume{9, true})));
}

TEST(FolderDiffWithoutStore, RefusesToCompareSoNothingIsImportedTwice)
{
    const QString library = testsupport::makeTempDir("nostore");
    testsupport::writeFile(library + "/Index", "not a folder");
    KPIndexFolderDBEngine engine(library);
    auto root = folderNode("/r/Docs");
    fileNode(root, "a.pdf", 1, at(1));
    int handedOver = 0;
    KPFolderSnapshotAnalytics analytics(root, &engine);
    auto result = analytics.analyticsWithChunkCompletedBlock([&](const IndexFolderDiffChunk&) { ++handedOver; });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, KPIndexFolderDBEngine::StoreUnavailableError);
    EXPECT_EQ(handedOver, 0);
}
