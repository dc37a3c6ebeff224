// The block operations: which context a block gets, when its changes reach the default context
// and the store, and how failed saves are reported.
#include "StoreEngineFixture.h"

#include "Store/KPCoreDataAction.h"

#include <QFile>
#include <sqlite3.h>
#include <thread>

using namespace storeengine;
using platform::ContextPtr;

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

// Counts the tags named name that a fresh context on the coordinator sees: what the store has.
qsizetype storedTags(const platform::CoordinatorPtr& coordinator, const QString& name)
{
    auto fresh = platform::ManagedObjectContext::create(platform::ConcurrencyType::Confinement, coordinator);
    return fresh->countForFetchRequest(platform::FetchRequest(QStringLiteral("DBTag"), predicate(QStringLiteral("name == %@"), {name})))
        .value_or(-1);
}

} // namespace

TEST_F(StoreEngineTest, MainThreadBlockWithoutChangesDoesNotSave)
{
    open();
    const ContextPtr main = engine->context();
    main->setMergePolicy(platform::MergePolicy::Error);
    int saves = 0;
    auto token = main->addDidSaveObserver([&saves](const platform::SaveNotification&) { ++saves; });
    int handled = 0;
    ContextPtr given;
    KPCoreDataAction::saveDataWithBlock([&](const ContextPtr& context) { given = context; },
                                        [&](const platform::Error&) { ++handled; });
    EXPECT_EQ(given, main);
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(main->mergePolicy(), platform::MergePolicy::ObjectTrumpByProperty);

    KPCoreDataAction::saveDataWithBlock([&](const ContextPtr& context) { engine->createTagByContext(QStringLiteral("x"), context); },
                                        [&](const platform::Error&) { ++handled; });
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(storedTags(engine->coordinator(), QStringLiteral("x")), 1);
}

TEST_F(StoreEngineTest, BackgroundChildReachesDefaultContextThenStore)
{
    open();
    const ContextPtr main = engine->context();
    bool onMainThread = true;
    KPCoreDataAction::saveDataWithBlockInBackgroundAndWait([&](const ContextPtr& child) {
        onMainThread = platform::Dispatch::isMainThread();
        EXPECT_EQ(child->parentContext(), main);
        engine->createTagByContext(QStringLiteral("bg"), child);
    });
    EXPECT_FALSE(onMainThread);
    // In the default context at once, in the store once the queued parent save ran.
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBTag"), predicate(QStringLiteral("name == 'bg'"))), 1);
    EXPECT_EQ(storedTags(engine->coordinator(), QStringLiteral("bg")), 0);
    ASSERT_TRUE(testsupport::spinUntil([&] { return storedTags(engine->coordinator(), QStringLiteral("bg")) == 1; }));

    // The asynchronous form, with the main thread spinning meanwhile.
    KPCoreDataAction::saveDataWithBlockInBackground(
        [&](const ContextPtr& child) { engine->createTagByContext(QStringLiteral("async"), child); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return storedTags(engine->coordinator(), QStringLiteral("async")) == 1; }));
    EXPECT_FALSE(main->hasChanges());
}

TEST_F(StoreEngineTest, MainThreadWaitingOnChildLookupSeesUnsavedParentChanges)
{
    open();
    engine->createTagByContext(QStringLiteral("unsaved"));
    qsizetype seen = -1;
    KPCoreDataAction::lookupWithBlockWithBackgroundAndWait([&](const ContextPtr& child) {
        seen = engine->countByObject(QStringLiteral("DBTag"), predicate(QStringLiteral("name == 'unsaved'")), child);
    });
    EXPECT_EQ(seen, 1);

    std::atomic<bool> looked{false};
    KPCoreDataAction::lookupWithBlockWithBackground([&](const ContextPtr& child) {
        looked = engine->queryRecordByName(QStringLiteral("DBTag"), {}, std::nullopt, child)->size() == 1;
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return looked.load(); }));
    EXPECT_TRUE(engine->context()->hasChanges()); // lookups save nothing
}

TEST_F(StoreEngineTest, WorkerSaveMergesIntoDefaultContextWhileMainThreadWorks)
{
    open();
    const ContextPtr main = engine->context();
    DBTag tag = engine->createTagByContext(QStringLiteral("old"));
    DBTag other = engine->createTagByContext(QStringLiteral("kept"));
    ASSERT_TRUE(engine->writeToDiskAndWait());
    const auto tagID = tag.objectID();
    // The main context has an unsaved edit of its own on another record.
    other.setSortID(5);

    std::atomic<bool> done{false};
    std::atomic<bool> mergedBeforeReturn{false};
    ContextPtr workerContext;
    std::thread worker([&] {
        KPCoreDataAction::saveDataWithBlock(
            [&](const ContextPtr& context) {
                workerContext = context;
                DBTag(context->existingObjectWithID(tagID)).setName(QStringLiteral("renamed"));
                engine->createTagByContext(QStringLiteral("fromWorker"), context);
            },
            [](const platform::Error& error) { ADD_FAILURE() << qPrintable(error.toString()); });
        // The merge ran on the main thread before the save returned.
        mergedBeforeReturn = tag.name() == QStringLiteral("renamed");
        done = true;
    });
    // The main thread keeps working (spinning its event loop) while the worker saves.
    ASSERT_TRUE(testsupport::spinUntil([&] { return done.load(); }));
    worker.join();

    EXPECT_TRUE(mergedBeforeReturn);
    EXPECT_NE(workerContext, main);
    EXPECT_FALSE(KPContextHelper::notifiesMainContextOnSave(workerContext));
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBTag"), predicate(QStringLiteral("name == 'fromWorker'"))), 1);
    EXPECT_EQ(other.sortID(), 5);
    EXPECT_TRUE(main->hasChanges());
    EXPECT_EQ(main->mergePolicy(), platform::MergePolicy::ObjectTrumpByProperty);
}

TEST_F(StoreEngineTest, FailedSavesAreReportedOnceAndKeepTheChanges)
{
    open();
    runSql(library + QStringLiteral("/library.db"),
           "CREATE TRIGGER refuse BEFORE INSERT ON t_DBTag BEGIN SELECT RAISE(ABORT, 'disk is full'); END;");

    QList<platform::Error> errors;
    KPCoreDataAction::saveDataWithBlock([&](const ContextPtr& context) { engine->createTagByContext(QStringLiteral("t"), context); },
                                        [&](const platform::Error& error) { errors.append(error); });
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].message.contains(QStringLiteral("disk is full"))) << qPrintable(errors[0].message);
    EXPECT_TRUE(engine->context()->hasChanges());

    // The guarded save answers false and never throws; the engine's waited save reports it too.
    EXPECT_FALSE(KPContextHelper::save(engine->context()));
    EXPECT_FALSE(engine->writeToDiskAndWait());
    EXPECT_FALSE(KPContextHelper::saveWithErrorHandler(engine->context(), {}));
    EXPECT_FALSE(KPContextHelper::save(nullptr));

    runSql(library + QStringLiteral("/library.db"), "DROP TRIGGER refuse;");
    EXPECT_TRUE(engine->writeToDiskAndWait());
    EXPECT_EQ(storedTags(engine->coordinator(), QStringLiteral("t")), 1);
}

TEST(KPCoreDataAction, WithoutAnOpenStoreBlocksAreNotRun)
{
    ASSERT_EQ(KPContextHelper::defaultContext(), nullptr);
    bool ran = false;
    const KPCoreDataAction::Block block = [&](const ContextPtr&) { ran = true; };
    KPCoreDataAction::lookupWithBlock(block);
    KPCoreDataAction::saveDataWithBlock(block);
    KPCoreDataAction::saveDataWithBlockInBackgroundAndWait(block);
    KPCoreDataAction::saveDataWithBlockAndWait(block);
    EXPECT_FALSE(ran);
}
