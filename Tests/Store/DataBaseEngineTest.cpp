// Opening libraries, the version checks, the purge at opening and the save timer.
#include "StoreEngineFixture.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/StringHash.h"
#include "Store/DBFavorite.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBIndexFolder.h"
#include "Store/DBSmartFolder.h"

#include <QFile>
#include <QFileInfo>


using namespace storeengine;
using platform::FileManager;
using platform::PropertyList;

namespace {

void writeVersion(const QString& library, const QVariant& version, const QString& name = DataBaseEngine::kLibraryName)
{
    QVariantMap plist{{QStringLiteral("name"), name}};
    if (version.isValid())
        plist.insert(QStringLiteral("version"), version);
    ASSERT_TRUE(PropertyList::writeFile(plist, library + QStringLiteral("/version.plist"), platform::PlistFormat::Xml));
}

} // namespace

TEST(DataBaseEngineVersion, ClassesFollowSinglePrecisionArithmetic)
{
    const QString library = testsupport::makeTempDir(QStringLiteral("version"));
    // Missing file: reads as version 0, an older library.
    EXPECT_EQ(DataBaseEngine::isValidDatabaseVersion(library), DataBaseEngine::OlderVersion);

    const struct {
        double version;
        int expected;
    } cases[] = {{1.0, 1}, {2.0, 0}, {2.05, 0}, {2.1, 2}, {2.3, 2}, {1.99, 1}, {3.0, 2}, {-4.0, 1}, {1e30, 2}};
    for (const auto& c : cases) {
        writeVersion(library, c.version);
        EXPECT_EQ(DataBaseEngine::isValidDatabaseVersion(library), c.expected) << c.version;
    }
    // Read afresh on every call, and a missing "version" key is 0.
    writeVersion(library, QVariant());
    EXPECT_EQ(DataBaseEngine::isValidDatabaseVersion(library), DataBaseEngine::OlderVersion);
}

TEST(DataBaseEngineVersion, ValidLibraryNeedsStoreAndName)
{
    const QString library = testsupport::makeTempDir(QStringLiteral("valid"));
    writeVersion(library, 2.0);
    EXPECT_FALSE(DataBaseEngine::isValidDatabase(library)); // no library.db yet
    testsupport::writeFile(library + QStringLiteral("/library.db"), QByteArray());
    EXPECT_TRUE(DataBaseEngine::isValidDatabase(library));
    writeVersion(library, 2.0, QStringLiteral("Other Program"));
    EXPECT_FALSE(DataBaseEngine::isValidDatabase(library));
}

TEST(DataBaseEngineVersion, DamagedVersionFileReadsAsOlderAndIsKept)
{
    const QString library = testsupport::makeTempDir(QStringLiteral("damaged"));
    const QByteArray garbage("this is not a property list");
    testsupport::writeFile(library + QStringLiteral("/version.plist"), garbage);
    EXPECT_EQ(DataBaseEngine::isValidDatabaseVersion(library), DataBaseEngine::OlderVersion);
    EXPECT_FALSE(DataBaseEngine::isValidDatabase(library));

    DataBaseEngine::Options options;
    options.libraryPath = library;
    options.saveTimerFactory = [] { return std::unique_ptr<DataBaseSaveTimer>(); };
    DataBaseEngine engine(options);
    ASSERT_TRUE(engine.initDataBase());
    // Opening never overwrites a version file it cannot read.
    EXPECT_EQ(testsupport::readFile(library + QStringLiteral("/version.plist")), garbage);
}

TEST_F(StoreEngineTest, NewLibraryGetsStoreAndVersionFileAndKeepsWhatWasSaved)
{
    open();
    EXPECT_TRUE(FileManager::fileExists(library + QStringLiteral("/library.db")));
    auto plist = PropertyList::readFile(library + QStringLiteral("/version.plist"));
    ASSERT_TRUE(plist);
    EXPECT_EQ(plist->toMap().value(QStringLiteral("name")).toString(), QStringLiteral("Folivo 2.0"));
    EXPECT_DOUBLE_EQ(plist->toMap().value(QStringLiteral("version")).toDouble(), 1.0);
    EXPECT_EQ(DataBaseEngine::isValidDatabaseVersion(library), DataBaseEngine::OlderVersion);
    EXPECT_TRUE(DataBaseEngine::isValidDatabase(library));
    EXPECT_EQ(KPContextHelper::defaultContext(), engine->context());
    EXPECT_EQ(KPContextHelper::defaultStoreCoordinator(), engine->coordinator());

    DBNode node = engine->createDBNode();
    node.setTitle(QStringLiteral("Projects"));
    node.setType(DBNode::Collection);
    const quint64 nodeID = node.nodeID();
    EXPECT_EQ(nodeID, platform::stringHash(node.URIString()));
    engine->createTagByContext(QStringLiteral("red"));

    reopen();
    const QList<DBNode> nodes = all<DBNode>();
    ASSERT_EQ(nodes.size(), 1);
    EXPECT_EQ(nodes[0].title(), QStringLiteral("Projects"));
    // The node keeps the ID it was given although its URI became permanent.
    EXPECT_EQ(nodes[0].nodeID(), nodeID);
    EXPECT_NE(platform::stringHash(nodes[0].URIString()), nodeID);
    EXPECT_EQ(namesOf(all<DBTag>()), QStringList{QStringLiteral("red")});
    // The second opening leaves the version file alone.
    EXPECT_DOUBLE_EQ(PropertyList::readFile(library + QStringLiteral("/version.plist"))->toMap()
                         .value(QStringLiteral("version")).toDouble(), 1.0);
}

TEST_F(StoreEngineTest, StoresThatCannotBeOpenedAreReportedAndLeftAlone)
{
    // A library folder that is not there.
    library += QStringLiteral("/missing");
    open(false);
    auto missing = engine->initDataBase();
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().message.contains(QStringLiteral("does not exist")));
    EXPECT_FALSE(engine->isOpen());
    EXPECT_FALSE(engine->queryRecordByName(QStringLiteral("DBTag")).has_value());
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBTag")), DataBaseEngine::kCountNotFound);
    EXPECT_TRUE(engine->createTagByContext(QStringLiteral("x")).isNull());
    EXPECT_FALSE(engine->writeToDiskAndWait());

    // A corrupt store: an error naming the file, the file untouched, no timer, no defaults.
    library = testsupport::makeTempDir(QStringLiteral("corrupt"));
    const QByteArray garbage = QByteArray("SQLite format 3").append(4096, '\x5a');
    testsupport::writeFile(library + QStringLiteral("/library.db"), garbage);
    open(false);
    auto corrupt = engine->initDataBase();
    ASSERT_FALSE(corrupt);
    EXPECT_TRUE(corrupt.error().message.contains(QStringLiteral("library.db"))) << qPrintable(corrupt.error().message);
    EXPECT_EQ(testsupport::readFile(library + QStringLiteral("/library.db")), garbage);
    EXPECT_EQ(timer->starts, 0);
    EXPECT_EQ(engine->context(), nullptr);
}

TEST_F(StoreEngineTest, PurgeAtOpeningDeletesMarkedRecordsAndNothingElse)
{
    open();
    auto& e = *engine;
    const auto context = e.context();
    auto records = e.insertRecords({{{QStringLiteral("Path"), QStringLiteral("/Documents/a.pdf")},
                                     {QStringLiteral("Tags"), QStringList{QStringLiteral("keep")}},
                                     {QStringLiteral("Authors"), QStringList{QStringLiteral("Ann")}}},
                                    {{QStringLiteral("Path"), QStringLiteral("/Documents/b.pdf")}},
                                    {{QStringLiteral("Path"), QStringLiteral("/Documents/c.pdf")}}});
    ASSERT_EQ(records.size(), 3);
    DBRecent recent = DBRecord::insertNewObject<DBRecent>(context);
    records[0].setRecent(recent);
    // a.pdf: emptied from the trash; b.pdf: only in the trash; c.pdf: in a folder that was deleted.
    records[0].setIsTrash(true);
    records[0].setIsNeedDelete(true);
    records[1].setIsTrash(true);
    DBNode folder = e.createDBNode();
    folder.setIsTrash(true);
    folder.addFilesObject(records[2]);
    DBNode child = e.createDBNode();
    folder.addChildrenObject(child);
    DBSmartFolder smart = DBRecord::insertNewObject<DBSmartFolder>(context);
    smart.setIsTrash(true);
    e.createTagByContext(QStringLiteral("gone")).setIsTrash(true);
    e.createTagGroup(QStringLiteral("group")).setIsTrash(true);
    auto source = DBRecord::insertNewObject<DBIndexFolder>(context);
    source.setIsTrash(true);
    auto live = DBRecord::insertNewObject<DBIndexFolder>(context);
    live.setTitle(QStringLiteral("live"));
    auto removed = DBRecord::insertNewObject<DBFavorite>(context);
    removed.setIsNeedDelete(true);
    auto favourite = DBRecord::insertNewObject<DBFavorite>(context);
    favourite.setDataURI(QStringLiteral("uri"));

    reopen();
    drainMainQueue();
    EXPECT_FALSE(engine->context()->hasChanges()); // the purge saved what it deleted

    QStringList paths;
    for (const DBFileInfo& file : all<DBFileInfo>())
        paths << file.path();
    paths.sort();
    // The document of the deleted folder stays, so it can still be put back.
    EXPECT_EQ(paths, (QStringList{QStringLiteral("/Documents/b.pdf"), QStringLiteral("/Documents/c.pdf")}));
    EXPECT_TRUE(all<DBFileInfo>(QStringLiteral("path == %@"), {QStringLiteral("/Documents/c.pdf")})[0].node().isNull());
    EXPECT_TRUE(all<DBNode>().isEmpty()); // the trashed tree, smart folder included
    EXPECT_EQ(namesOf(all<DBTag>()), QStringList{QStringLiteral("keep")});
    EXPECT_TRUE(all<DBTagGroup>().isEmpty());
    ASSERT_EQ(all<DBIndexFolder>().size(), 1);
    EXPECT_EQ(all<DBIndexFolder>()[0].title(), QStringLiteral("live"));
    ASSERT_EQ(all<DBFavorite>().size(), 1);
    EXPECT_EQ(all<DBFavorite>()[0].dataURI(), QStringLiteral("uri"));
    // The deleted document left every set it was in, and took its dependants along.
    EXPECT_TRUE(all<DBTag>()[0].fileInfos().isEmpty());
    EXPECT_TRUE(all<DBAuthor>()[0].fileInfos().isEmpty());
    EXPECT_TRUE(all<DBRecent>()[0].fileInfos().isEmpty());
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBFileInfoMetadata")), 2);
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBDocumentIndex")), 2);
}

TEST_F(StoreEngineTest, PurgeOfACleanLibraryDoesNotSaveNorReadItsTables)
{
    open();
    engine->createTagByContext(QStringLiteral("t"));
    engine->insertRecords({{{QStringLiteral("Path"), QStringLiteral("/Documents/a.pdf")}}});
    engine->createDBNode();
    reopen();
    int saves = 0;
    auto token = engine->context()->addDidSaveObserver([&saves](const platform::SaveNotification&) { ++saves; });
    drainMainQueue();
    EXPECT_EQ(saves, 0);
    const auto& coordinator = engine->coordinator();
    for (const QString& entity : {DBFileInfo::entityName(), DBNode::entityName(), DBTag::entityName(),
                                  DBTagGroup::entityName(), DBIndexFolder::entityName(), DBFavorite::entityName()})
        EXPECT_FALSE(coordinator->isTableLoaded(coordinator->model()->entity(entity))) << qPrintable(entity);
    EXPECT_EQ(all<DBTag>().size(), 1);
}

TEST_F(StoreEngineTest, SaveTimerTicksAtOnceAndEveryIntervalWritingTheMainContext)
{
    open();
    ASSERT_EQ(timer->starts, 1);
    EXPECT_EQ(timer->interval, std::chrono::milliseconds(180000));
    const auto context = engine->context();

    engine->createTagByContext(QStringLiteral("first"));
    timer->tick(); // the tick only queues the save on the main queue
    EXPECT_TRUE(context->hasChanges());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !context->hasChanges(); }));

    // A tick from a timer thread works the same.
    engine->createTagByContext(QStringLiteral("second"));
    platform::DispatchQueue::global().async([tick = timer->tick] { tick(); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return !context->hasChanges(); }));

    // What the ticks wrote is in the file.
    engine.reset();
    open();
    EXPECT_EQ(namesOf(all<DBTag>()), (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
}

TEST_F(StoreEngineTest, CloseLeavesTheWholeLibraryInLibraryDbAlone)
{
    open();
    const QString store = library + QStringLiteral("/library.db");
    QList<ImportRecord> records;
    for (int i = 0; i < 200; ++i)
        records.append({{QStringLiteral("Path"), QStringLiteral("/Documents/d%1.pdf").arg(i)}});
    engine->insertRecords(records);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    engine->createTagByContext(QStringLiteral("pending")); // close saves it on the way
    ASSERT_GT(QFileInfo(store + QStringLiteral("-wal")).size(), 0) << "saves sit in the log until closed";

    ASSERT_TRUE(engine->close().has_value());
    EXPECT_EQ(QFileInfo(store + QStringLiteral("-wal")).size(), 0) << "no log, or an empty one";
    EXPECT_FALSE(engine->isOpen());
    engine->createTagByContext(QStringLiteral("late"));
    EXPECT_FALSE(engine->writeToDiskAndWait()) << "nothing reaches a closed store";
    EXPECT_FALSE(KPContextHelper::save(engine->context()));
    EXPECT_TRUE(engine->close().has_value()) << "closing twice is harmless";

    // The one file users copy and back up.
    library = testsupport::makeTempDir(QStringLiteral("backup"));
    ASSERT_TRUE(QFile::copy(store, library + QStringLiteral("/library.db")));
    open();
    EXPECT_EQ(all<DBFileInfo>().size(), 200);
    EXPECT_EQ(namesOf(all<DBTag>()), QStringList{QStringLiteral("pending")});
}

TEST(DataBaseEngineTimer, DispatchTimerFiresFirstAtOnce)
{
    DataBaseEngine::Options options;
    options.libraryPath = testsupport::makeTempDir(QStringLiteral("dispatch"));
    options.saveInterval = std::chrono::hours(1);
    DataBaseEngine engine(options);
    ASSERT_TRUE(engine.initDataBase());
    // Made before the main loop runs: only a first tick that comes at once can save it.
    engine.createTagByContext(QStringLiteral("early"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return !engine.context()->hasChanges(); }));
}
