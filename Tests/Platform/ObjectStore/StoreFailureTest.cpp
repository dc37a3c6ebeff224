// Files and writes that go wrong: a save the disk refuses, corrupt and foreign files, stores
// of an unknown model. Each is an error that leaves the file and the context as they were.
#include "StoreTestSupport.h"

#include "Platform/Foundation/PropertyList.h"

#include <QFile>
#include <sqlite3.h>

using namespace platform;
using namespace storetest;

namespace {

void runSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

} // namespace

TEST(ObjectStoreFailure, AFailedSaveRollsBackAndLeavesTheContextAsItWas)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("fail")) + QStringLiteral("/library.db");
    auto coordinator = openStore(path);
    auto context = rootContext(coordinator);
    ManagedObjectPtr file = insert(context, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("old")}});
    ManagedObjectPtr doomed = insert(context, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("doomed")}});
    ASSERT_TRUE(context->save());

    // The next write of a tag fails inside the transaction, after the other rows were written,
    // as a full disk would.
    runSql(path, "CREATE TRIGGER refuse BEFORE INSERT ON t_DBTag BEGIN SELECT RAISE(ABORT, 'disk is full'); END;");
    file->setValueForKey(QStringLiteral("new"), QStringLiteral("title"));
    context->deleteObject(doomed);
    ManagedObjectPtr tag = insert(context, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("t")}});
    ASSERT_TRUE(file->addObject(QStringLiteral("tags"), tag));
    auto saved = context->save();
    ASSERT_FALSE(saved);
    EXPECT_TRUE(saved.error().message.contains(QStringLiteral("disk is full"))) << qPrintable(saved.error().message);

    // The context keeps every change, IDs stay temporary.
    EXPECT_TRUE(context->hasChanges());
    EXPECT_TRUE(tag->isInserted());
    EXPECT_TRUE(tag->objectID().isTemporaryID());
    EXPECT_TRUE(doomed->isDeleted());
    EXPECT_EQ(file->valueForKey(QStringLiteral("title")).toString(), QStringLiteral("new"));
    EXPECT_EQ(titles(file->objects(QStringLiteral("tags")), QStringLiteral("name")), QStringList{QStringLiteral("t")});
    // Neither the cache nor the file took any of it.
    EXPECT_EQ(titles(fetch(rootContext(coordinator), QStringLiteral("DBFileInfo"))), (QStringList{"old", "doomed"}));
    EXPECT_EQ(titles(fetch(rootContext(openStore(path)), QStringLiteral("DBFileInfo"))), (QStringList{"old", "doomed"}));

    // Once the disk takes writes again the same save goes through.
    runSql(path, "DROP TRIGGER refuse;");
    ASSERT_TRUE(context->save());
    EXPECT_FALSE(tag->objectID().isTemporaryID());
    auto reader = rootContext(openStore(path));
    EXPECT_EQ(titles(fetch(reader, QStringLiteral("DBFileInfo"))), QStringList{"new"});
    EXPECT_EQ(count(reader, QStringLiteral("DBFileInfo"), QStringLiteral("ANY tags.name == 't'")), 1);
}

TEST(ObjectStoreFailure, CorruptForeignAndUnknownStoresAreRefusedUntouched)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("bad"));
    auto refuse = [](const QString& path, int code) {
        const QByteArray before = testsupport::readFile(path);
        auto coordinator = PersistentStoreCoordinator::create(dbModel());
        auto added = coordinator->addSQLiteStore(path);
        ASSERT_FALSE(added) << qPrintable(path);
        EXPECT_EQ(added.error().code, code) << qPrintable(added.error().toString());
        EXPECT_FALSE(coordinator->hasStore());
        EXPECT_EQ(testsupport::readFile(path), before) << "the file is left as it was";
        auto context = rootContext(coordinator);
        EXPECT_FALSE(context->executeFetchRequest(FetchRequest(QStringLiteral("DBTag"))));
    };

    const QString garbage = dir + QStringLiteral("/garbage.db");
    testsupport::writeFile(garbage, QByteArray(4096, '\x5a'));
    refuse(garbage, SqliteStore::NotAStoreError);

    const QString truncated = dir + QStringLiteral("/truncated.db");
    {
        auto coordinator = openStore(truncated);
        auto context = rootContext(coordinator);
        insert(context, QStringLiteral("DBTag"));
        ASSERT_TRUE(context->save());
    }
    QByteArray bytes = testsupport::readFile(truncated);
    bytes.truncate(100);
    testsupport::writeFile(truncated, bytes);
    refuse(truncated, SqliteStore::NotAStoreError);

    const QString foreign = dir + QStringLiteral("/foreign.db");
    runSql(foreign, "CREATE TABLE notes (id INTEGER PRIMARY KEY, text TEXT); INSERT INTO notes VALUES (1, 'mine');");
    refuse(foreign, SqliteStore::NotAStoreError);

    // A store written by a model this program does not know (a newer version).
    QVariantMap newer = PropertyList::readFile(QStringLiteral(OBJECTSTORE_RESOURCES "/DBModel.momd/DBModel 2.mom"))->toMap();
    newer[QStringLiteral("versionName")] = QStringLiteral("DBModel 3");
    QVariantList entities = newer.value(QStringLiteral("entities")).toList();
    entities << QVariantMap{{QStringLiteral("name"), QStringLiteral("DBFuture")}};
    newer[QStringLiteral("entities")] = entities;
    auto model3 = ManagedObjectModel::fromPropertyList(newer);
    ASSERT_TRUE(model3);
    const QString future = dir + QStringLiteral("/future.db");
    {
        auto coordinator = openStore(future, *model3);
        auto context = rootContext(coordinator);
        insert(context, QStringLiteral("DBFuture"));
        ASSERT_TRUE(context->save());
    }
    StoreOptions options;
    options.modelSearchPaths << fixture(QStringLiteral("DBModel 1.mom"));
    const QByteArray before = testsupport::readFile(future);
    auto coordinator = PersistentStoreCoordinator::create(dbModel());
    auto added = coordinator->addSQLiteStore(future, options);
    ASSERT_FALSE(added);
    EXPECT_TRUE(added.error().message.contains(QStringLiteral("DBModel 3"))) << qPrintable(added.error().message);
    EXPECT_EQ(testsupport::readFile(future), before);
}

TEST(ObjectStoreFailure, BrokenModelFilesAreErrors)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("models"));
    EXPECT_FALSE(ManagedObjectModel::loadBundle(dir + QStringLiteral("/Missing.momd")));
    testsupport::writeFile(dir + QStringLiteral("/Bad.momd/VersionInfo.plist"), "not a plist");
    EXPECT_FALSE(ManagedObjectModel::loadBundle(dir + QStringLiteral("/Bad.momd")));
    auto entity = [](QVariantMap e) { return QVariantMap{{QStringLiteral("name"), QStringLiteral("M")}, {QStringLiteral("entities"), QVariantList{e}}}; };
    const QVariantMap cases[] = {
        entity({{QStringLiteral("name"), QStringLiteral("A")}, {QStringLiteral("parent"), QStringLiteral("A")}}),
        entity({{QStringLiteral("name"), QStringLiteral("A")},
                {QStringLiteral("attributes"), QVariantList{QVariantMap{{QStringLiteral("name"), QStringLiteral("x")}, {QStringLiteral("type"), QStringLiteral("colour")}}}}}),
        entity({{QStringLiteral("name"), QStringLiteral("A")},
                {QStringLiteral("attributes"), QVariantList{QVariantMap{{QStringLiteral("name"), QStringLiteral("x")}, {QStringLiteral("type"), QStringLiteral("int16")},
                                                                        {QStringLiteral("default"), 100000}}}}}),
        entity({{QStringLiteral("name"), QStringLiteral("A")},
                {QStringLiteral("relationships"), QVariantList{QVariantMap{{QStringLiteral("name"), QStringLiteral("r")}, {QStringLiteral("destination"), QStringLiteral("B")}}}}}),
    };
    for (const QVariantMap& c : cases)
        EXPECT_FALSE(ManagedObjectModel::fromPropertyList(c));
}
