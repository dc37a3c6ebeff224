// The imports against the real library store: documents, folders, tags and the recent entry
// reach "library.db" and survive a reopen.
#include "Import/KPFileFolderImport.h"
#include "Import/KPFileImport.h"
#include "Import/KPImportEngineStore.h"
#include "ImportTestKit.h"
#include "Store/DataBaseEngine.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBTag.h"
#include "TagMeta/TagMeta.h"

#include <QScopeGuard>
#include <sqlite3.h>

using namespace importtest;
namespace K = KPImportKeys;

namespace {

class ImportIntoLibraryTest : public ImportFixture {
protected:
    void SetUp() override
    {
        ImportFixture::SetUp();
        open();
    }
    void TearDown() override
    {
        engine.reset();
        ImportFixture::TearDown();
    }
    void open()
    {
        engine.reset();
        DataBaseEngine::Options options;
        options.libraryPath = libraryPath;
        options.makeDefault = false;
        engine = std::make_unique<DataBaseEngine>(options);
        ASSERT_TRUE(engine->initDataBase().has_value());
        libraryStore = std::make_shared<KPImportEngineStore>(engine.get());
    }
    template <class Op>
    std::shared_ptr<Op> op(const QVariantMap& options)
    {
        auto made = std::make_shared<Op>(options);
        made->setEnvironment({library.get(), libraryStore, &formats});
        return made;
    }
    template <class T>
    QList<T> all(const QString& format = {}, const QVariantList& args = {})
    {
        platform::Predicate predicate;
        if (!format.isEmpty())
            predicate = *platform::Predicate::format(format, args);
        auto found = engine->queryRecordByName(T::entityName(), predicate);
        return found ? DBRecord::recordsOf<T>(*found) : QList<T>();
    }
    DBNode makeNode(const QString& title)
    {
        DBNode node = engine->createDBNode();
        node.setTitle(title);
        node.setType(DBNode::Folder);
        EXPECT_TRUE(engine->writeToDiskAndWait());
        return node;
    }

    std::unique_ptr<DataBaseEngine> engine;
    std::shared_ptr<KPImportEngineStore> libraryStore;
    KPFileImportQueue queue;
};

} // namespace

TEST_F(ImportIntoLibraryTest, FlatImportStoresDocumentsInANewFolderWithTagsAndMovesDurably)
{
    const QString a = write(QStringLiteral("a.pdf"), "aaaa");
    const QString b = write(QStringLiteral("b.txt"), "bb");
    const DBNode target = makeNode(QStringLiteral("T"));
    ASSERT_TRUE(run(queue, op<KPFileImport>({{K::Paths, QStringList{a, b}}, {K::DBNode, target.ref()}, {K::NewFolderName, QStringLiteral("Scans")},
                                 {K::NewTags, QStringList{"Work"}}, {K::CMD, true}})));

    EXPECT_EQ(log.last().value(K::SuccessCount).toInt(), 2);
    ASSERT_EQ(log.newTags.size(), 1);
    EXPECT_EQ(log.newTags[0].toList().size(), 1) << "one new tag for both documents";
    EXPECT_FALSE(QFileInfo::exists(a)) << "stored on disk, so the move removed the source";
    const DBNode newNode(platform::ManagedObject::fromRef(log.last().value(K::NewNode)));
    EXPECT_EQ(newNode.title(), QStringLiteral("Scans"));
    EXPECT_EQ(newNode.managedObjectContext(), engine->context()) << "observers get the main context's objects";
    const DBTag tag(platform::ManagedObject::fromRef(log.newTags[0].toList().value(0)));
    EXPECT_EQ(tag.name(), QStringLiteral("Work"));
    EXPECT_EQ(tag.managedObjectContext(), engine->context());

    open(); // everything below comes from the file
    const QList<DBNode> scans = all<DBNode>(QStringLiteral("title == %@"), {QStringLiteral("Scans")});
    ASSERT_EQ(scans.size(), 1);
    EXPECT_EQ(scans[0].parent().title(), QStringLiteral("T"));
    const QList<DBFileInfo> files = scans[0].files();
    ASSERT_EQ(files.size(), 2);
    for (const DBFileInfo& file : files) {
        EXPECT_TRUE(QFileInfo::exists(libraryPath + file.path())) << qPrintable(file.path());
        EXPECT_EQ(file.tags().size(), 1);
        EXPECT_EQ(file.recent().type(), 0);
        // The file says what the library says: the tag given at the import is on the copy too.
        EXPECT_EQ(TagMeta::getUserTags(libraryPath + file.path()).value_or(QStringList()), QStringList{"Work"});
    }
    EXPECT_EQ(QSet<QString>({files[0].metadata().from(), files[1].metadata().from()}), (QSet<QString>{a, b}));
}

TEST_F(ImportIntoLibraryTest, HierarchicalImportBuildsFolderNodesUnderTheTarget)
{
    write(QStringLiteral("A/a1.pdf"));
    write(QStringLiteral("A/a2.pdf"));
    write(QStringLiteral("A/B/b1.pdf"));
    const DBNode target = makeNode(QStringLiteral("T"));
    ASSERT_TRUE(run(queue, op<KPFileFolderImport>({{K::Paths, QStringList{src(QStringLiteral("A"))}}, {K::DBNode, target.ref()}})));
    EXPECT_EQ(log.last().value(K::SuccessCount).toInt(), 3);
    const auto item = log.last().value(K::FileSystemItem).value<std::shared_ptr<KPFileSysytemItem>>();
    ASSERT_TRUE(item && item->children().size() == 1);
    const DBNode nodeA(platform::ManagedObject::fromRef(item->children()[0]->dataObj()));
    EXPECT_EQ(nodeA.title(), QStringLiteral("A"));
    EXPECT_EQ(nodeA.managedObjectContext(), engine->context());

    open();
    const QList<DBNode> A = all<DBNode>(QStringLiteral("title == %@"), {QStringLiteral("A")});
    ASSERT_EQ(A.size(), 1);
    EXPECT_EQ(A[0].parent().title(), QStringLiteral("T"));
    EXPECT_EQ(A[0].type(), int(DBNode::Folder));
    EXPECT_EQ(A[0].files().size(), 2);
    ASSERT_EQ(A[0].children().size(), 1);
    EXPECT_EQ(A[0].children()[0].title(), QStringLiteral("B"));
    EXPECT_EQ(A[0].children()[0].files().size(), 1);
    EXPECT_TRUE(all<DBRecent>().isEmpty()) << "the folder-keeping import writes no recent entry";
}

TEST_F(ImportIntoLibraryTest, AStoreThatCannotGrowReportsTheFailureAndTakesTheCopiesBackOut)
{
    const QString a = write(QStringLiteral("a.pdf"), "aaaa");
    const QString b = write(QStringLiteral("b.txt"), "bb");
    const DBNode target = makeNode(QStringLiteral("T"));
    // The copies fit, the store's file cannot take one more document, as on a full disk.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(libraryPath + QStringLiteral("/library.db")).constData(), &db), SQLITE_OK);
    const auto closeDb = qScopeGuard([&] { sqlite3_close(db); });
    ASSERT_EQ(sqlite3_exec(db, "CREATE TRIGGER full BEFORE INSERT ON t_DBFileInfo "
                               "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_TRUE(run(queue, op<KPFileImport>({{K::Paths, QStringList{a, b}}, {K::DBNode, target.ref()}, {K::CMD, true}})));

    const QVariantMap finished = log.last();
    EXPECT_EQ(finished.value(K::SuccessCount).toInt(), 0);
    EXPECT_EQ(setOf(finished.value(K::LostFiles).toStringList()), (QSet<QString>{a, b}));
    EXPECT_TRUE(finished.value(K::SaveError).toString().contains(QStringLiteral("disk is full")))
        << qPrintable(finished.value(K::SaveError).toString());
    EXPECT_TRUE(QFileInfo::exists(a) && QFileInfo::exists(b)) << "no source of a failed move is deleted";
    EXPECT_TRUE(dayFolderNames().isEmpty());
    EXPECT_EQ(thumbnailCount(), 0);
    EXPECT_TRUE(QDir(libraryPath).entryList({QStringLiteral(".folivo-import-*")}, QDir::Files | QDir::Hidden).isEmpty());

    // Nothing of the failed import waits anywhere for a later save to write it.
    EXPECT_EQ(engine->countByObject(DBFileInfo::entityName()), 0);
    ASSERT_EQ(sqlite3_exec(db, "DROP TRIGGER full;", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    open();
    EXPECT_TRUE(all<DBFileInfo>().isEmpty());
    EXPECT_EQ(all<DBNode>().size(), 1);
}

TEST_F(ImportIntoLibraryTest, DocumentsLandInAFolderTheMainContextHasNotSavedYet)
{
    const QString a = write(QStringLiteral("a.pdf"));
    DBNode fresh = engine->createDBNode();
    fresh.setTitle(QStringLiteral("Fresh"));
    fresh.setType(DBNode::Folder);
    ASSERT_TRUE(run(queue, op<KPFileImport>({{K::Paths, QStringList{a}}, {K::DBNode, fresh.ref()}})));
    EXPECT_EQ(log.last().value(K::SuccessCount).toInt(), 1);
    // The main context took the import's save in.
    ASSERT_TRUE(testsupport::spinUntil([&] { return fresh.files().size() == 1; }));

    open();
    const QList<DBFileInfo> files = all<DBFileInfo>();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].node().title(), QStringLiteral("Fresh"));
}
