#include "IndexFolderTestSupport.h"

#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/XAttr.h"
#include "TagMeta/TagMeta.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/FinderInfo.h"
#include "IndexFolder/KPFolderSnapshot.h"
#include "IndexFolder/KPFolderSnapshotAnalytics.h"

#include <QDir>
#include <QFile>

using namespace indexfoldertest;
using testsupport::writeFile;

namespace {

QStringList filePaths(const KPFileNode::Ptr& root, const QString& base)
{
    QStringList paths;
    QList<KPFileNode::Ptr> stack{root};
    while (!stack.isEmpty()) {
        auto node = stack.takeLast();
        for (const auto& file : node->fileNodes())
            paths.append(file->path().mid(base.size() + 1));
        stack += node->folderNodes();
    }
    paths.sort();
    return paths;
}

QStringList folderPaths(const KPFileNode::Ptr& root, const QString& base)
{
    QStringList paths;
    QList<KPFileNode::Ptr> stack{root};
    while (!stack.isEmpty()) {
        auto node = stack.takeLast();
        paths.append(node->path().mid(base.size()));
        stack += node->folderNodes();
    }
    paths.sort();
    return paths;
}

void setFinderFlags(const QString& path, quint16 flags)
{
    FinderInfo info;
    info.setFlags(flags);
    ASSERT_TRUE(info.write(path));
}

void setFinderTags(const QString& path, const QVariantList& tags)
{
    auto bytes = platform::PropertyList::write(tags, platform::PlistFormat::Binary);
    ASSERT_TRUE(bytes);
    ASSERT_TRUE(platform::XAttr::set(path, kFinderTagsAttribute, *bytes));
}

class SnapshotFixture : public LibraryFixture {
protected:
    void SetUp() override
    {
        LibraryFixture::SetUp();
        previous = platform::XAttr::setBackend(xattr);
        root = testsupport::makeTempDir("watched");
    }
    void TearDown() override { platform::XAttr::setBackend(previous); }

    // Records a snapshot's files the way an import would.
    void remember(const KPFileNode::Ptr& tree)
    {
        QList<KPFileNode::Ptr> stack{tree};
        while (!stack.isEmpty()) {
            auto node = stack.takeLast();
            for (const auto& file : node->fileNodes())
                addRow(*engine, file->path(), file->nodeID(), file->date(), *file->tags(), false, 0,
                       file->changeTime());
            stack += node->folderNodes();
        }
    }
    // A walk as a sync makes it: the rows read first, their records handed to the walk.
    std::vector<IndexFolderDiffChunk> diffNow(const KPFolderSnapshot::Clock& clock = {},
                                              KPFileNode::Ptr* walked = nullptr)
    {
        std::vector<IndexFolderDiffChunk> chunks;
        KPFolderSnapshotAnalytics analytics(nullptr, engine.get());
        analytics.readRows(root);
        KPFolderSnapshot snapshot(root, library);
        snapshot.setClock(clock);
        snapshot.setRememberedFiles(analytics.rememberedFiles());
        const KPFileNode::Ptr tree = snapshot.snapShotAndChildren();
        if (walked)
            *walked = tree;
        analytics.setFileNode(tree);
        EXPECT_TRUE(analytics.analyticsWithChunkCompletedBlock(
            [&](const IndexFolderDiffChunk& chunk) { chunks.push_back(chunk); }));
        return chunks;
    }
    KPFileNode::Ptr walkSettled()
    {
        KPFolderSnapshot snapshot(root, library);
        snapshot.setClock(&anHourAhead);
        return snapshot.snapShotAndChildren();
    }

    std::shared_ptr<CountingXAttr> xattr = std::make_shared<CountingXAttr>();
    std::shared_ptr<platform::XAttrBackend> previous;
    QString root;
};

} // namespace

TEST_F(SnapshotFixture, TheWalkKeepsOnlyWhatIsADocumentOfTheFolder)
{
    writeFile(root + "/a.pdf", "x");
    writeFile(root + "/.dotted.pdf", "x");
    writeFile(root + "/notes.unknownkind", "x");
    writeFile(root + "/listed-hidden.pdf", "x");
    writeFile(root + "/.hidden", "listed-hidden.pdf\n");
    ASSERT_TRUE(QFile::link(root + "/a.pdf", root + "/link.pdf"));
    writeFile(root + "/invisible.pdf", "x");
    setFinderFlags(root + "/invisible.pdf", FinderInfo::kIsInvisible);
    writeFile(root + "/alias.pdf", "x");
    setFinderFlags(root + "/alias.pdf", FinderInfo::kIsAlias);
    writeFile(root + "/Project.app/Contents/inner.pdf", "x");
    writeFile(root + "/Report.pages/Data/x.png", "x");
    writeFile(root + "/Old.stuff/in.pdf", "x");
    writeFile(root + "/Sub/Deeper/deep.pdf", "x");
    writeFile(root + "/.git/objects/x.pdf", "x");
    const QString libraryInside = root + "/Library";
    writeFile(libraryInside + "/lib.pdf", "x");

    KPFolderSnapshot snapshot(root + "/", libraryInside);
    const auto tree = snapshot.snapShotAndChildren();
    EXPECT_EQ(tree->path(), root);
    EXPECT_EQ(tree->nodeID(), 0u);
    EXPECT_EQ(filePaths(tree, root),
              QStringList({"Old.stuff/in.pdf", "Report.pages", "Sub/Deeper/deep.pdf", "a.pdf"}));
    EXPECT_EQ(folderPaths(tree, root), QStringList({"", "/Old.stuff", "/Sub", "/Sub/Deeper"}));

    KPFolderSnapshot folders(root, libraryInside);
    folders.setBSnapshotFile(false);
    const auto folderTree = folders.snapShotAndChildren();
    EXPECT_EQ(folderPaths(folderTree, root), QStringList({"", "/Sub", "/Sub/Deeper"}));
    EXPECT_TRUE(filePaths(folderTree, root).isEmpty());

    // Without descending, only the folder's own documents.
    KPFolderSnapshot flat(root, libraryInside);
    EXPECT_EQ(filePaths(flat.snapShotByPath(root, 7), root), QStringList({"Report.pages", "a.pdf"}));
}

TEST_F(SnapshotFixture, TagsJoinTagMetaAndFinderNamesOnce)
{
    const QString file = root + "/tagged.pdf";
    writeFile(file, "x");
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{"Urgent"}, file));
    setFinderTags(file, {"Urgent\n6", "Blue\n4", "urgent"});
    EXPECT_EQ(KPFolderSnapshot::tagWithFilePathAndAttributesInfo(file, {}), "Urgent,Blue,urgent");

    const QVariantMap attributes{{"NSFileExtendedAttributes",
                                  QVariantMap{{kFinderTagsAttribute, QByteArray("not a property list")}}}};
    EXPECT_EQ(KPFolderSnapshot::tagWithFilePathAndAttributesInfo(file, attributes), "Urgent");

    writeFile(root + "/plain.pdf", "x");
    EXPECT_EQ(KPFolderSnapshot::tagWithFilePathAndAttributesInfo(root + "/plain.pdf", {}), "");
}

TEST_F(SnapshotFixture, AMissingRootIsMarkedMissingNotEmpty)
{
    KPFolderSnapshot gone(root + "/nowhere", library);
    EXPECT_EQ(gone.snapShotAndChildren()->listing(), KPFileNode::Listing::Missing);
    writeFile(root + "/file-not-folder", "x");
    KPFolderSnapshot notFolder(root + "/file-not-folder", library);
    EXPECT_EQ(notFolder.snapShotAndChildren()->listing(), KPFileNode::Listing::Missing);
}

TEST_F(SnapshotFixture, TheRootRecordsItsVolumeUnlessItChangedDuringTheWalk)
{
    writeFile(root + "/a.pdf", "x");
    const auto tree = KPFolderSnapshot(root, library).snapShotAndChildren();
    const auto facts = KPFolderSnapshot::factsOfItem(root, true);
    ASSERT_TRUE(facts && tree->volume());
    EXPECT_EQ(tree->volume()->device, facts->device);
    EXPECT_FALSE(tree->volume()->isMountPoint);
    const auto top = KPFolderSnapshot::volumeOfFolder("/", &KPFolderSnapshot::deviceOfPath);
    ASSERT_TRUE(top);
    EXPECT_TRUE(top->isMountPoint);

    // A volume mounted on the folder while it was walked: the listing may be of either.
    int reads = 0;
    KPFolderSnapshot mounting(root, library);
    mounting.setDeviceReader([&](const QString& path) -> std::optional<quint64> {
        return path == root && ++reads > 1 ? 9 : 1;
    });
    EXPECT_FALSE(mounting.snapShotAndChildren()->volume());

    // A mount point, and a parent that cannot be read.
    KPFolderSnapshot mounted(root, library);
    mounted.setDeviceReader([&](const QString& path) -> std::optional<quint64> { return path == root ? 9 : 1; });
    EXPECT_EQ(mounted.snapShotAndChildren()->volume(), std::optional<KPFileNode::Volume>({9, true}));
    KPFolderSnapshot orphan(root, library);
    orphan.setDeviceReader([&](const QString& path) -> std::optional<quint64> {
        return path == root ? std::optional<quint64>(9) : std::nullopt;
    });
    EXPECT_FALSE(orphan.snapShotAndChildren()->volume());
}

TEST_F(SnapshotFixture, ARealRenameIsFollowed)
{
    writeFile(root + "/a.pdf", "first");
    writeFile(root + "/keep.pdf", "keep");
    remember(KPFolderSnapshot(root, library).snapShotAndChildren());
    {
        auto unchanged = diffNow();
        ASSERT_TRUE(unchanged.empty()) << unchanged[0].newRecords.size() << " new, "
                                       << unchanged[0].removeRecords.size() << " removed";
    }
    ASSERT_TRUE(QFile::rename(root + "/a.pdf", root + "/Sub-renamed.pdf"));
    auto chunks = diffNow();
    ASSERT_EQ(chunks.size(), 1u);
    ASSERT_EQ(chunks[0].renameRecords.size(), 1);
    EXPECT_EQ(chunks[0].renameRecords[0].fromPath, root + "/a.pdf");
    EXPECT_EQ(chunks[0].renameRecords[0].toPath, root + "/Sub-renamed.pdf");
    EXPECT_TRUE(chunks[0].newRecords.isEmpty());
    EXPECT_TRUE(chunks[0].removeRecords.isEmpty());
}

TEST_F(SnapshotFixture, ANewFileOnAFreedInodeIsNotTakenForARename)
{
    writeFile(root + "/old.pdf", "old");
    const auto old = KPFolderSnapshot::factsOfItem(root + "/old.pdf");
    ASSERT_TRUE(old);
    // Remembered only after the new file exists, so no store file takes the freed inode.
    const auto before = KPFolderSnapshot(root, library).snapShotAndChildren();
    ASSERT_TRUE(QFile::remove(root + "/old.pdf"));

    // ext4 usually hands the freed inode to the next file at once; try a few names until it
    // does, so the case is really exercised.
    QString reused;
    for (int i = 0; i < 50 && reused.isEmpty(); ++i) {
        const QString candidate = root + QString("/new%1.pdf").arg(i);
        writeFile(candidate, "new");
        const auto facts = KPFolderSnapshot::factsOfItem(candidate);
        ASSERT_TRUE(facts);
        if (facts->inode == old->inode)
            reused = candidate;
        else
            ASSERT_TRUE(QFile::remove(candidate));
    }
    if (reused.isEmpty())
        GTEST_SKIP() << "the file system did not reuse the inode";
    remember(before);

    auto chunks = diffNow();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_TRUE(chunks[0].renameRecords.isEmpty());
    ASSERT_EQ(chunks[0].newRecords.size(), 1);
    EXPECT_EQ(chunks[0].newRecords[0]->path(), reused);
    ASSERT_EQ(chunks[0].removeRecords.size(), 1);
    EXPECT_EQ(IFFileItem::read(*chunks[0].removeRecords[0]).fileName, "old.pdf");
}

TEST_F(SnapshotFixture, AnEditInPlaceIsAModification)
{
    writeFile(root + "/doc.pdf", "v1");
    ASSERT_TRUE(platform::FileManager::setModificationDate(root + "/doc.pdf", at(0)));
    remember(KPFolderSnapshot(root, library).snapShotAndChildren());

    QFile file(root + "/doc.pdf");
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("more");
    file.close();
    ASSERT_TRUE(platform::FileManager::setModificationDate(root + "/doc.pdf", at(60)));
    auto chunks = diffNow();
    ASSERT_EQ(chunks.size(), 1u);
    ASSERT_EQ(chunks[0].modifiedRecords.size(), 1);
    EXPECT_EQ(chunks[0].modifiedRecords[0].date, at(60));
    EXPECT_FALSE(chunks[0].modifiedRecords[0].newTags);
}

TEST_F(SnapshotFixture, AttributesAreReadAgainOnlyWhereTheChangeTimeMoved)
{
    const QString a = root + "/a.pdf", b = root + "/b.pdf", c = root + "/Sub/c.pdf";
    for (const QString& file : {a, b, c})
        writeFile(file, "x");
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{"Work"}, a));

    // Files changed a moment ago hand on no change time: a change in the same tick of the
    // clock would leave it where it is.
    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000000;
    KPFileNode::Ptr fresh;
    diffNow([now] { return now; }, &fresh);
    const QStringList files = filePaths(fresh, root);
    ASSERT_EQ(files, QStringList({"Sub/c.pdf", "a.pdf", "b.pdf"}));
    for (const auto& node : {fresh->fileNodes()[0], fresh->folderNodes()[0]->fileNodes()[0]})
        EXPECT_FALSE(node->changeTime()) << qPrintable(node->path());

    const KPFileNode::Ptr settled = walkSettled();
    ASSERT_TRUE(settled->fileNodes()[0]->changeTime());
    EXPECT_EQ(*settled->fileNodes()[0]->changeTime(), KPFolderSnapshot::factsOfItem(a)->changeNanoseconds);
    remember(settled);

    // Nothing changed: no attribute is read and the recorded tags stand.
    xattr->resetReads();
    KPFileNode::Ptr again;
    EXPECT_TRUE(diffNow(&anHourAhead, &again).empty());
    for (const QString& file : {a, b, c})
        EXPECT_EQ(xattr->reads(file), 0) << qPrintable(file);
    EXPECT_EQ(again->fileNodes()[0]->tags(), std::optional<QString>("Work"));

    // A tag added (which leaves the modification date alone) and b hidden by its Finder flags:
    // both move the change time, so both are read; c is not.
    waitPastChangeTimes({a, b, c});
    const QDateTime modified = KPFolderSnapshot::factsOfItem(a)->modificationDate;
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{"Work", "Late"}, a));
    setFinderFlags(b, FinderInfo::kIsInvisible);
    ASSERT_EQ(KPFolderSnapshot::factsOfItem(a)->modificationDate, modified);
    xattr->resetReads();
    auto chunks = diffNow(&anHourAhead);
    EXPECT_GT(xattr->reads(a), 0);
    EXPECT_GT(xattr->reads(b), 0);
    EXPECT_EQ(xattr->reads(c), 0);
    ASSERT_EQ(chunks.size(), 1u);
    ASSERT_EQ(chunks[0].modifiedRecords.size(), 1);
    EXPECT_EQ(chunks[0].modifiedRecords[0].newTags, std::optional<QString>("Work,Late"));
    EXPECT_EQ(chunks[0].modifiedRecords[0].changeTime, KPFolderSnapshot::factsOfItem(a)->changeNanoseconds);
    ASSERT_EQ(chunks[0].removeRecords.size(), 1);
    EXPECT_EQ(IFFileItem::read(*chunks[0].removeRecords[0]).fullPath(), b);
}
