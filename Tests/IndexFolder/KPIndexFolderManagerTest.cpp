#include "IndexFolderSyncTestKit.h"

#include "Platform/Foundation/OperationQueue.h"

using namespace indexfoldertest;

namespace {

class IndexFolderManager : public SyncFixture {};

QVariantMap topLevel()
{
    return {{IndexFolderAction::ActionType, IndexFolderAction::TopLevel}};
}

} // namespace

TEST_F(IndexFolderManager, AFourthFolderWaitsForOneOfThreeSyncersToEnd)
{
    QList<DBIndexFolder> four;
    for (int i = 0; i < 4; ++i) {
        four.append(addFolder(QString("%1/F%2").arg(disk).arg(i)));
        put(QString("F%1/a.pdf").arg(i));
    }
    for (const auto& folder : four)
        manager->syncIndexFolder(folder, topLevel());
    // A second request for the waiting folder joins its syncer instead of making another.
    manager->syncIndexFolder(four[3], topLevel());
    EXPECT_EQ(manager->syncerCount(), 4);
    EXPECT_EQ(manager->syncerForPath(four[3].path())->pendingActionCount(), 2);

    const QString fourth = four[3].path();
    ASSERT_TRUE(testsupport::spinUntil([&] { return count(IndexFolderSyncFinishedNotification, fourth) == 2; }));
    const qsizetype started = posted.indexOf(IndexFolderSyncStartNotification + ' ' + fourth);
    qsizetype firstEnd = posted.size();
    for (int i = 0; i < 3; ++i)
        firstEnd = std::min(firstEnd, posted.indexOf(IndexFolderSyncFinishedNotification + ' ' + four[i].path()));
    EXPECT_GT(started, firstEnd) << "the fourth folder started before any of the first three had finished";
    EXPECT_EQ(liveDocuments().size(), 4);

    // Idle syncers end and leave the map; the next request makes a new one.
    ASSERT_TRUE(testsupport::spinUntil([&] { return manager->syncerCount() == 0; }));
    syncAll(four[0]);
    EXPECT_EQ(liveDocuments().size(), 4);
}

TEST_F(IndexFolderManager, FoldersThatDifferOnlyInCaseHaveTheirOwnSyncers)
{
    auto lower = addFolder(disk + "/docs");
    auto upper = addFolder(disk + "/Docs");
    put("docs/a.pdf");
    put("Docs/b.pdf");
    manager->syncIndexFolder(lower, topLevel());
    manager->syncIndexFolder(upper, topLevel());
    EXPECT_EQ(manager->syncerCount(), 2);
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return count(IndexFolderSyncFinishedNotification, lower.path()) == 1
            && count(IndexFolderSyncFinishedNotification, upper.path()) == 1;
    }));
    EXPECT_EQ(liveDocuments().size(), 2);
}

TEST_F(IndexFolderManager, TheSidebarHearsStartTreeAndEndInOrder)
{
    auto folder = addFolder(disk + "/Docs");
    put("Docs/Sub/a.pdf");
    KPFileNode::Ptr tree;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        IndexFolderSyncNodeGeneratorFinishedNotification, [&](const platform::Notification& note) {
            tree = note.object.toMap().value(IndexFolderTreeInfo::FileNode).value<KPFileNode::Ptr>();
        });
    syncAll(folder);
    const QString path = folder.path();
    EXPECT_EQ(posted, QStringList({IndexFolderSyncStartNotification + ' ' + path,
                                   IndexFolderSyncNodeGeneratorFinishedNotification + ' ' + path,
                                   IndexFolderSyncFinishedNotification + ' ' + path}));
    ASSERT_TRUE(tree);
    ASSERT_EQ(tree->folderNodes().size(), 1);
    EXPECT_EQ(tree->folderNodes().first()->path(), path + "/Sub");
    EXPECT_EQ(tree->folderNodes().first()->fileNodes().size(), 1);
    EXPECT_GE(indexerStarts.load(), 1);
}

TEST_F(IndexFolderManager, QuittingOrStoppingMidSyncNeverLosesDocumentsOfOtherFolders)
{
    auto docs = addFolder(disk + "/Docs");
    auto docs2 = addFolder(disk + "/Docs2");
    for (int i = 0; i < 30; ++i) {
        put(QString("Docs/a%1.pdf").arg(i));
        put(QString("Docs2/b%1.pdf").arg(i));
    }
    syncAll(docs);
    syncAll(docs2);
    for (int i = 0; i < 30; ++i)
        put(QString("Docs/c%1.pdf").arg(i));

    // Quitting cancels whatever runs: nothing is trashed, whenever the cancel lands.
    manager->syncIndexFolder(docs, topLevel());
    manager.reset();
    EXPECT_EQ(countOf(DBFileInfo::entityName(), "isTrash == YES"), 0);

    // Stopping /Docs while its record is still live (its removal was not saved) trashes nothing,
    // and /Docs2, whose name only begins the same, is never touched.
    manager = std::make_unique<KPIndexFolderManager>(services());
    manager->syncIndexFolder(docs, topLevel());
    manager->stopIndexFolder(docs);
    EXPECT_EQ(manager->syncerCount(), 0);
    ASSERT_TRUE(testsupport::spinUntil([&] { return manager->operationQueue().operationCount() == 0; }));
    EXPECT_EQ(countOf(DBFileInfo::entityName(), "isTrash == YES"), 0);
    EXPECT_EQ(countOf(DBFileInfo::entityName(), QString("isTrash == NO && path BEGINSWITH '%1/Docs2/'").arg(disk)), 30);
}

TEST_F(IndexFolderManager, ARemovedFolderStoppedMidImportMarksWhatItImportedOutsideLiveFoldersOnly)
{
    auto docs = addFolder(disk + "/Docs");
    addFolder(disk + "/Docs/Inner");
    auto docs2 = addFolder(disk + "/Docs2");
    put("Docs/old.pdf");
    put("Docs/Inner/i.pdf");
    put("Docs2/b.pdf");
    syncAll(docs);
    syncAll(docs2);
    for (int i = 0; i < 3; ++i)
        put(QString("Docs/new%1.pdf").arg(i));
    put("Docs/Inner/new.pdf");

    // The removal comes first and takes the folder's record out of the library.
    docs.setIsTrash(true);
    ASSERT_TRUE(libraryEngine->writeToDiskAndWait());
    auto gate = std::make_shared<ImportGate>();
    platform::XAttr::setBackend(gate);
    manager->syncIndexFolder(docs, topLevel());
    ASSERT_TRUE(testsupport::spinUntil([&] { return gate->arrived(); }));
    manager->stopIndexFolder(docs);
    gate->release();
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return count(IndexFolderSyncFinishedNotification, docs.path()) == 2
            && manager->operationQueue().operationCount() == 0;
    }));

    // Whatever is left below /Docs is purge-marked with its row, but not what lies in the live
    // /Docs/Inner; /Docs2 is untouched.
    const QStringList live = liveDocuments().keys();
    EXPECT_TRUE(live.contains(disk + "/Docs/Inner/i.pdf"));
    EXPECT_TRUE(live.contains(disk + "/Docs2/b.pdf"));
    for (const QString& path : live)
        EXPECT_TRUE(path.startsWith(disk + "/Docs/Inner/") || path.startsWith(disk + "/Docs2/")) << qPrintable(path);
    EXPECT_EQ(countOf(DBFileInfo::entityName(), "isTrash == YES && isNeedDelete == NO"), 0);
    QStringList rows;
    for (const IFFileItem& row : liveRows()) {
        rows.append(row.fullPath());
        EXPECT_TRUE(row.folder.startsWith(disk + "/Docs/Inner") || row.folder == disk + "/Docs2") << qPrintable(row.fullPath());
    }
    EXPECT_TRUE(rows.contains(disk + "/Docs/Inner/i.pdf"));
    EXPECT_TRUE(rows.contains(disk + "/Docs2/b.pdf"));
}
