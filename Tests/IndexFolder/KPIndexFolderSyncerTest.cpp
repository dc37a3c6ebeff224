#include "IndexFolderSyncTestKit.h"

#include "Store/KPCoreDataAction.h"
#include "TagMeta/TagMeta.h"
#include "TagMeta/TagMetaBackup.h"
#include "IndexFolder/IndexFolderID.h"
#include "Store/DBHelper.h"

#include <unistd.h>

using namespace indexfoldertest;

namespace {

class IndexFolderSync : public SyncFixture {};

// Sorted paths as one text, so a failure prints readably.
std::string sorted(QStringList paths)
{
    paths.sort();
    return paths.join('\n').toStdString();
}

std::string paths(const QMap<QString, DBFileInfo>& documents)
{
    return sorted(documents.keys());
}

QDateTime later(int seconds)
{
    return QDateTime::currentDateTimeUtc().addSecs(seconds);
}

} // namespace

TEST_F(IndexFolderSync, FilesFollowAddRenameModifyAndDelete)
{
    const QString root = disk + "/Docs";
    auto folder = addFolder(root);
    const QString a = put("Docs/a.pdf");
    const QString b = put("Docs/Sub/b.pdf");
    put("Docs/notes.unsupported-kind");
    syncAll(folder);

    auto documents = liveDocuments();
    ASSERT_EQ(paths(documents), sorted({a, b}));
    EXPECT_EQ(liveRows().size(), 2);
    EXPECT_EQ(countOf(DBRecent::entityName()), 1);
    EXPECT_EQ(documents[a].recent(), documents[b].recent());
    EXPECT_GE(indexerStarts.load(), 1);
    EXPECT_TRUE(QFile::exists(library + documents[a].thumbPath()));
    const platform::ObjectID aID = documents[a].objectID();
    const platform::ObjectID bID = documents[b].objectID();

    // Nothing changed: no new import batch, nothing else either.
    syncAll(folder);
    EXPECT_EQ(countOf(DBRecent::entityName()), 1);
    EXPECT_EQ(liveDocuments().size(), 2);

    // Renamed into another folder: the same document follows.
    const QString moved = root + "/Sub/Deeper/renamed a.pdf";
    QDir().mkpath(root + "/Sub/Deeper");
    ASSERT_TRUE(QFile::rename(a, moved));
    changed(folder, root);
    documents = liveDocuments();
    ASSERT_TRUE(documents.contains(moved));
    EXPECT_EQ(documents[moved].objectID(), aID);
    EXPECT_EQ(documents[moved].title(), "renamed a");
    EXPECT_EQ(documents[moved].indexFolderMetadata().folderID(), DBHelper::folderIDForFolderPath(root + "/Sub/Deeper"));

    // Modified: same document, newer date, back to waiting for the full-text index.
    documents[b].documentIndex().setSkDocumentID(42);
    ASSERT_TRUE(libraryEngine->writeToDiskAndWait());
    const QDateTime edited = later(120);
    put("Docs/Sub/b.pdf", "%PDF-1.4 edited", edited);
    changed(folder, root + "/Sub");
    documents = liveDocuments();
    ASSERT_TRUE(documents.contains(b));
    EXPECT_EQ(documents[b].objectID(), bID);
    EXPECT_EQ(documents[b].documentIndex().skDocumentID(), DBDocumentIndex::kWaitingForIndex);
    EXPECT_EQ(documents[b].metadata().dateModified().toSecsSinceEpoch(), edited.toSecsSinceEpoch());

    // Deleted: trashed for the purge, its row waits for the next start's purge.
    ASSERT_TRUE(QFile::remove(b));
    changed(folder, root + "/Sub");
    EXPECT_EQ(paths(liveDocuments()), sorted({moved}));
    auto trashed = libraryEngine->queryRecordByName(DBFileInfo::entityName(), where("path == %@", {b}));
    ASSERT_TRUE(trashed && trashed->size() == 1);
    EXPECT_TRUE(DBFileInfo(trashed->first()).isTrash());
    EXPECT_TRUE(DBFileInfo(trashed->first()).isNeedDelete());
    EXPECT_EQ(liveRows().size(), 1);
    EXPECT_EQ(countOf(DBRecent::entityName()), 1);
}

TEST_F(IndexFolderSync, TagsAreLinkedByWholeNameAndRowsKeepTheTagsString)
{
    auto folder = addFolder(disk + "/Docs");
    // A tag whose name would match "Work" as a LIKE pattern must not take its place.
    auto wildcard = libraryEngine->createTagByContext("W?rk");
    ASSERT_TRUE(libraryEngine->writeToDiskAndWait());
    const QString a = put("Docs/a.pdf");
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{"Work", "Urgent"}, a));
    int announced = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        IndexFolderImportDataPushObj::kNewTagNotification, [&](const platform::Notification& n) { announced += int(n.object.toList().size()); });
    syncAll(folder);

    auto documents = liveDocuments();
    ASSERT_TRUE(documents.contains(a));
    QStringList names;
    for (const DBTag& tag : documents[a].tags())
        names.append(tag.name());
    names.sort();
    EXPECT_EQ(names, QStringList({"Urgent", "Work"}));
    EXPECT_TRUE(wildcard.fileInfos().isEmpty());
    ASSERT_EQ(liveRows().size(), 1);
    EXPECT_EQ(liveRows().first().tags, std::optional<QString>("Work,Urgent"));
    EXPECT_TRUE(testsupport::spinUntil([&] { return announced == 2; }));

    // Tags edited by another program: the document's tags become exactly the file's.
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{"urgent"}, a));
    changed(folder, disk + "/Docs");
    names.clear();
    for (const DBTag& tag : liveDocuments()[a].tags())
        names.append(tag.name());
    EXPECT_EQ(names, QStringList({"Urgent"})) << "the existing tag is found ignoring case";
}

TEST_F(IndexFolderSync, SafeSaveChurnKeepsTheDocument)
{
    const QString root = disk + "/Docs";
    auto folder = addFolder(root);
    const QString a = put("Docs/report.pdf");
    syncAll(folder);
    const platform::ObjectID id = liveDocuments()[a].objectID();

    // An editor's save: the original is renamed away and a new file written in its place. The
    // first report arrives while the file is missing; the pass waits for the churn to settle.
    ASSERT_TRUE(QFile::rename(a, root + "/report.pdf.sb-backup"));
    manager->syncIndexFolder(folder, {{IndexFolderAction::ActionType, IndexFolderAction::FolderWasChange},
                                      {IndexFolderAction::Folder, root}});
    put("Docs/report.pdf", "%PDF-1.4 saved again", later(60));
    ASSERT_TRUE(QFile::remove(root + "/report.pdf.sb-backup"));
    changed(folder, root);

    auto documents = liveDocuments();
    ASSERT_EQ(paths(documents), sorted({a}));
    EXPECT_EQ(documents[a].objectID(), id);
    EXPECT_EQ(countOf(DBFileInfo::entityName(), "isTrash == YES"), 0);
    EXPECT_EQ(liveRows().size(), 1);
}

TEST_F(IndexFolderSync, AnUnmountedVolumeRemovesNothingAndIsMarkedLostUntilItIsBack)
{
    const QString root = disk + "/Mount";
    setDevice(root, 2); // a volume mounted on the folder
    auto folder = addFolder(root);
    put("Mount/a.pdf");
    put("Mount/Sub/b.pdf");
    syncAll(folder);
    ASSERT_EQ(liveDocuments().size(), 2);
    ASSERT_FALSE(folder.isLost());

    // Unmounted: the bare folder beneath is left, empty but for a stray file.
    setDevice(root, std::nullopt);
    QDir(root + "/Sub").removeRecursively();
    QFile::remove(root + "/a.pdf");
    put("Mount/stray.pdf");
    syncAll(folder);
    EXPECT_EQ(paths(liveDocuments()), sorted({root + "/a.pdf", root + "/Sub/b.pdf"}));
    EXPECT_EQ(liveRows().size(), 2);
    EXPECT_TRUE(folder.isLost());
    EXPECT_EQ(manager->syncerForPath(root) ? 1 : 0, manager->syncerCount());

    // A change reported inside the missing folder is judged from the root: still nothing goes.
    changed(folder, root + "/Sub");
    EXPECT_EQ(liveDocuments().size(), 2);

    // The root itself gone: the same.
    QDir(root).removeRecursively();
    syncAll(folder);
    EXPECT_EQ(liveDocuments().size(), 2);

    // Mounted again with one file gone meanwhile: the folder is found, one document leaves.
    setDevice(root, 2);
    put("Mount/a.pdf");
    syncAll(folder);
    EXPECT_FALSE(folder.isLost());
    EXPECT_EQ(paths(liveDocuments()), sorted({root + "/a.pdf"}));
}

TEST_F(IndexFolderSync, AnEmptiedRootLosesItsDocumentsWhetherOrNotAHiddenFileStays)
{
    auto empty = addFolder(disk + "/Empty");
    auto hidden = addFolder(disk + "/Hidden");
    const QStringList files{put("Empty/a.pdf"), put("Empty/Sub/b.pdf"), put("Hidden/c.pdf")};
    syncAll(empty);
    syncAll(hidden);
    ASSERT_EQ(liveDocuments().size(), 3);

    for (const QString& file : files)
        ASSERT_TRUE(QFile::remove(file));
    put("Hidden/.DS_Store", "not a document");
    put("Hidden/.hidden", "x.pdf\n");
    put("Hidden/x.pdf");
    syncAll(empty);
    syncAll(hidden);
    EXPECT_TRUE(liveDocuments().isEmpty());
    EXPECT_TRUE(liveRows().isEmpty());
    EXPECT_FALSE(empty.isLost());
    EXPECT_FALSE(hidden.isLost());
    EXPECT_EQ(countOf(DBFileInfo::entityName(), "isTrash == YES && isNeedDelete == YES"), 3);
}

TEST_F(IndexFolderSync, AnEmptyRootOnAnotherDeviceRemovesNothing)
{
    const QString root = disk + "/Docs";
    auto folder = addFolder(root);
    const QString a = put("Docs/a.pdf");
    syncAll(folder);

    // The disk under the folder is another one now (its parent moved with it: no mount point).
    ASSERT_TRUE(QFile::remove(a));
    setDevice(root, 5);
    setDevice(disk, 5);
    syncAll(folder);
    EXPECT_EQ(paths(liveDocuments()), sorted({a}));
    EXPECT_TRUE(folder.isLost());

    // With a document the folder is there, and the pass records the new device...
    const QString b = put("Docs/b.pdf");
    syncAll(folder);
    EXPECT_EQ(paths(liveDocuments()), sorted({b}));
    EXPECT_FALSE(folder.isLost());
    // ...so that emptying it there is a real emptying.
    ASSERT_TRUE(QFile::remove(b));
    syncAll(folder);
    EXPECT_TRUE(liveDocuments().isEmpty());
    EXPECT_FALSE(folder.isLost());
}

TEST_F(IndexFolderSync, AnEmptiedSubFolderRemovesItsDocuments)
{
    const QString root = disk + "/Docs";
    auto folder = addFolder(root);
    put("Docs/keep.pdf");
    const QString gone = put("Docs/Sub/gone.pdf");
    syncAll(folder);
    ASSERT_TRUE(QFile::remove(gone));
    changed(folder, root + "/Sub");
    EXPECT_EQ(paths(liveDocuments()), sorted({root + "/keep.pdf"}));
    EXPECT_FALSE(folder.isLost());

    // A whole sub-folder deleted: the report names it, its ancestor is walked.
    const QString deep = put("Docs/Deep/Er/x.pdf");
    changed(folder, root + "/Deep/Er");
    ASSERT_TRUE(liveDocuments().contains(deep));
    QDir(root + "/Deep").removeRecursively();
    changed(folder, root + "/Deep/Er");
    EXPECT_EQ(paths(liveDocuments()), sorted({root + "/keep.pdf"}));
}

TEST_F(IndexFolderSync, AnUnreadableSubFolderRemovesNothing)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop the superuser";
    const QString root = disk + "/Docs";
    auto folder = addFolder(root);
    put("Docs/Private/a.pdf");
    put("Docs/b.pdf");
    syncAll(folder);
    ASSERT_TRUE(QFile::setPermissions(root + "/Private", QFileDevice::Permissions()));
    syncAll(folder);
    QFile::setPermissions(root + "/Private", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(liveDocuments().size(), 2);
}

TEST_F(IndexFolderSync, ChangesInSeveralFoldersAreAllSyncedInOnePass)
{
    const QString root = disk + "/A";
    auto folder = addFolder(root);
    put("A/Docs/Sub/Deep/old.pdf");
    syncAll(folder);
    const QString deep = put("A/Docs/Sub/Deep/new.pdf");
    const QString other = put("A/Docs/Other/new.pdf");
    const int starts = count(IndexFolderSyncStartNotification, root);
    manager->syncIndexFolder(folder, {{IndexFolderAction::ActionType, IndexFolderAction::FolderWasChange},
                                      {IndexFolderAction::Folder, root + "/Docs/Sub/Deep"}});
    changed(folder, root + "/Docs/Other");
    EXPECT_TRUE(liveDocuments().contains(deep));
    EXPECT_TRUE(liveDocuments().contains(other));
    EXPECT_EQ(count(IndexFolderSyncStartNotification, root), starts + 1);
}

TEST_F(IndexFolderSync, SiblingAndNestedRootsKeepTheirOwnDocuments)
{
    auto docs = addFolder(disk + "/Docs");
    auto docs2 = addFolder(disk + "/Docs2");
    auto inner = addFolder(disk + "/Docs/Inner");
    const QString a = put("Docs/a.pdf");
    const QString b = put("Docs2/b.pdf");
    const QString c = put("Docs/Inner/c.pdf");
    syncAll(docs2);
    syncAll(docs);
    syncAll(inner);
    EXPECT_EQ(paths(liveDocuments()), sorted({a, c, b}));

    // Emptying /Docs removes its documents, not /Docs2's, nor those of /Docs/Inner.
    ASSERT_TRUE(QFile::remove(a));
    syncAll(docs);
    EXPECT_EQ(paths(liveDocuments()), sorted({c, b}));
}

TEST_F(IndexFolderSync, ChangesMadeWhileClosedAreFoundAtTheNextStart)
{
    const QString root = disk + "/Docs";
    auto folder = addFolder(root);
    const QString a = put("Docs/a.pdf");
    const QString b = put("Docs/b.pdf");
    const QString c = put("Docs/c.pdf");
    syncAll(folder);
    const QString aURI = liveDocuments()[a].URIString();

    closeStores();
    ASSERT_TRUE(QFile::rename(a, root + "/a moved.pdf"));
    ASSERT_TRUE(QFile::remove(b));
    put("Docs/c.pdf", "%PDF-1.4 changed", later(300));
    const QString d = put("Docs/d.pdf");
    openStores();
    folder = findFolder(root);
    folders = {folder};
    syncAll(folder);

    auto documents = liveDocuments();
    EXPECT_EQ(paths(documents), sorted({root + "/a moved.pdf", c, d}));
    EXPECT_EQ(documents[root + "/a moved.pdf"].URIString(), aURI);
    EXPECT_EQ(documents[c].documentIndex().skDocumentID(), DBDocumentIndex::kWaitingForIndex);
    EXPECT_EQ(countOf(DBRecent::entityName()), 2);
}

TEST_F(IndexFolderSync, DocumentsWhoseRowsWereLostAreLinkedAgainNotDuplicated)
{
    const QString root = disk + "/Docs";
    auto folder = addFolder(root);
    for (int i = 0; i < 5; ++i)
        put(QString("Docs/f%1.pdf").arg(i));
    syncAll(folder);
    QMap<QString, platform::ObjectID> before;
    for (auto [path, file] : liveDocuments().asKeyValueRange())
        before.insert(path, file.objectID());

    // The index-folder store lost its rows (a crash after the library's save).
    ASSERT_TRUE(indexStore->saveDataWithBlock([&](const platform::ContextPtr& context) {
        for (const auto& row : indexStore->queryRecordByName(IFFileItem::kEntityName, {}, {}, context))
            context->deleteObject(row);
    }));
    syncAll(folder);
    auto documents = liveDocuments();
    ASSERT_EQ(documents.size(), 5);
    for (auto [path, file] : documents.asKeyValueRange())
        EXPECT_EQ(file.objectID(), before.value(path));
    EXPECT_EQ(liveRows().size(), 5);
    EXPECT_EQ(countOf(DBRecent::entityName()), 1);

    // The rows now carry the documents' uuids: a rename still follows the document.
    ASSERT_TRUE(QFile::rename(root + "/f0.pdf", root + "/g0.pdf"));
    changed(folder, root);
    EXPECT_EQ(liveDocuments()[root + "/g0.pdf"].objectID(), before.value(root + "/f0.pdf"));
}

TEST_F(IndexFolderSync, ManyFilesAreImportedInPiecesEachFlushedOnceBeforeTheLibraryNamesIt)
{
    const QString root = disk + "/Docs";
    auto folder = addFolder(root);
    for (int i = 0; i < 450; ++i)
        put(QString("Docs/S%1/f%2.pdf").arg(i % 7).arg(i), "x");

    // At each flush: the documents stored so far and the thumbnails on disk. The piece being
    // flushed has all its thumbnails written and none of its documents stored yet.
    struct Flush {
        qsizetype documents = 0;
        qsizetype thumbnails = 0;
    };
    std::mutex mutex;
    std::vector<Flush> flushes;
    int failAt = 2; // the second flush fails in the first pass
    flushThumbnails = [&](const QStringList& thumbnails) -> platform::Result<void> {
        Flush flush;
        KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const platform::ContextPtr& context) {
            flush.documents = libraryEngine->countByObject(DBFileInfo::entityName(), where("isTrash == NO"), context);
        });
        flush.thumbnails = QDir(files->thumbFolder()).entryList(QDir::Files).size();
        std::lock_guard lock(mutex);
        flushes.push_back(flush);
        if (int(flushes.size()) == failAt)
            return std::unexpected(platform::Error::posix(EIO, "flush"));
        return files->flushItems(thumbnails);
    };
    restartManager();
    const auto flushed = [&] {
        std::lock_guard lock(mutex);
        std::vector<std::pair<qsizetype, qsizetype>> seen;
        for (const Flush& flush : flushes)
            seen.emplace_back(flush.documents, flush.thumbnails);
        flushes.clear();
        return seen;
    };

    // A failed flush: the piece's documents are not stored nor its files recorded, and the
    // pass says so; the other pieces go in.
    syncAll(folder);
    using Seen = std::vector<std::pair<qsizetype, qsizetype>>;
    EXPECT_EQ(flushed(), (Seen{{0, 200}, {200, 400}, {200, 450}}));
    EXPECT_EQ(liveDocuments().size(), 250);
    EXPECT_EQ(liveRows().size(), 250);
    ASSERT_TRUE(manager->syncerForPath(root));
    EXPECT_EQ(manager->syncerForPath(root)->lastOutcome(), KPIndexFolderSyncer::PassOutcome::StoreFailed);

    // The next pass takes the rest, in one piece and one flush.
    failAt = 0;
    syncAll(folder);
    EXPECT_EQ(flushed(), (Seen{{250, 450}}));
    const auto documents = liveDocuments();
    EXPECT_EQ(documents.size(), 450);
    for (const DBFileInfo& file : documents)
        EXPECT_TRUE(QFile::exists(library + file.thumbPath())) << qPrintable(file.path());
    EXPECT_EQ(liveRows().size(), 450);
    EXPECT_EQ(indexStore->countByObject(IFFolderItem::kEntityName), 8);
    for (const IFFileItem& row : liveRows())
        EXPECT_EQ(row.folderID, DBHelper::folderIDForFolderPath(row.folder));

    // Nothing left to do: nothing written, nothing flushed.
    syncAll(folder);
    EXPECT_TRUE(flushed().empty());
}

TEST_F(IndexFolderSync, AReSyncReadsTheAttributesOfChangedFilesOnly)
{
    clock = &anHourAhead;
    restartManager();
    const QString root = disk + "/Docs";
    auto folder = addFolder(root);
    const QString a = put("Docs/a.pdf"), b = put("Docs/b.pdf"), c = put("Docs/Sub/c.pdf");
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{"Work"}, a));
    syncAll(folder);
    ASSERT_EQ(liveRows().size(), 3);
    for (const IFFileItem& row : liveRows())
        EXPECT_TRUE(row.changeTime) << qPrintable(row.fullPath());
    const auto tagsOf = [&](const QString& path) {
        QStringList names;
        for (const DBTag& tag : liveDocuments()[path].tags())
            names.append(tag.name());
        names.sort();
        return names;
    };
    ASSERT_EQ(tagsOf(a), QStringList({"Work"}));
    // Writing tags queues a backup of them, which reads the attributes again a moment later on
    // its own thread: only the reads of the passes are counted.
    const auto countFromHere = [&] {
        ASSERT_TRUE(testsupport::spinUntil([] { return !TagMetaBackup::backupThreadIsBusy(); }));
        xattr->resetReads();
    };

    countFromHere();
    syncAll(folder);
    for (const QString& file : {a, b, c})
        EXPECT_EQ(xattr->reads(file), 0) << qPrintable(file);

    // Tags set by another program: only the change time moves, and that is enough.
    waitPastChangeTimes({a, b, c});
    ASSERT_TRUE(TagMeta::setUserTags(QStringList{"Work", "Late"}, a));
    countFromHere();
    syncAll(folder);
    EXPECT_EQ(tagsOf(a), QStringList({"Late", "Work"}));
    EXPECT_EQ(xattr->reads(b), 0);
    countFromHere();
    syncAll(folder);
    EXPECT_EQ(xattr->reads(a), 0) << "the row took the change time the tags were read at";

    // Rows of a store from before change times were kept take them without any other change.
    ASSERT_TRUE(indexStore->saveDataWithBlock([&](const platform::ContextPtr& context) {
        for (const auto& row : indexStore->queryRecordByName(IFFileItem::kEntityName, {}, {}, context))
            row->setValueForKey(QVariant(), IFFileItem::kChangeTime);
    }));
    const platform::ObjectID before = liveDocuments()[b].objectID();
    countFromHere();
    syncAll(folder);
    EXPECT_GT(xattr->reads(b), 0);
    for (const IFFileItem& row : liveRows())
        EXPECT_TRUE(row.changeTime) << qPrintable(row.fullPath());
    EXPECT_EQ(liveDocuments().size(), 3);
    EXPECT_EQ(liveDocuments()[b].objectID(), before);
    EXPECT_EQ(countOf(DBRecent::entityName()), 1);
    countFromHere();
    syncAll(folder);
    EXPECT_EQ(xattr->reads(b), 0);
}

TEST(IndexFolderIDFormula, AgreesWithTheLibrarysFolderID)
{
    for (const QString& folder : {QString("/A/Docs"), QString("/a/docs"), QString("/Ä/Dócs"), QString("/")})
        EXPECT_EQ(indexFolderIDForPath(folder), DBHelper::folderIDForFolderPath(folder));
    EXPECT_EQ(indexFolderIDForPath("/A/Docs"), DBHelper::folderIDForFilePath("/A/Docs/x.pdf"));
}
