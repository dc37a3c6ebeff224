// The version hash that decides whether a store needs migrating, and where contexts run their work.
#include "StoreTestSupport.h"

#include "Platform/ObjectStore/MigrationManager.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>

using namespace platform;
using namespace storetest;

TEST(ObjectStoreModel, TheVersionHashFollowsTheLayoutAndIsReadableWithoutOpening)
{
    ModelPtr model = dbModel();
    // The hash is a pure function of the layout: reloading gives the same, a change another.
    auto again = ManagedObjectModel::loadBundle(QStringLiteral(OBJECTSTORE_RESOURCES "/DBModel.momd"));
    ASSERT_TRUE(again);
    EXPECT_EQ((*again)->versionHash(), model->versionHash());
    auto older = ManagedObjectModel::loadFile(fixture(QStringLiteral("DBModel 1.mom")));
    ASSERT_TRUE(older);
    EXPECT_NE((*older)->versionHash(), model->versionHash());
    EXPECT_NE(indexFolderModel()->versionHash(), model->versionHash());

    // A store's model can be read without opening it.
    const QString path = testsupport::makeTempDir(QStringLiteral("meta")) + QStringLiteral("/library.db");
    auto coordinator = openStore(path);
    auto meta = PersistentStoreCoordinator::metadataForPersistentStore(path);
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->modelHash, model->versionHash());
    EXPECT_EQ(meta->storeUUID, coordinator->storeUUID());
    EXPECT_FALSE(coordinator->journalMode().isEmpty());
}

TEST(ObjectStoreModel, PerformRunsOnTheContextsQueueAndInlineWhenAlreadyThere)
{
    auto coordinator = memoryStore();
    auto main = rootContext(coordinator, ConcurrencyType::MainQueue);
    auto child = ManagedObjectContext::create(ConcurrencyType::PrivateQueue, main);

    std::atomic<bool> offMain{false};
    std::atomic<bool> nestedRan{false};
    std::atomic<bool> done{false};
    child->perform([&] {
        offMain = QThread::currentThread() != qApp->thread();
        // Waiting on the queue one is already running on must not deadlock.
        child->performAndWait([&] { nestedRan = true; });
        insert(child, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("bg")}});
        EXPECT_TRUE(child->save());
        done = true;
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return done.load(); }));
    EXPECT_TRUE(offMain);
    EXPECT_TRUE(nestedRan);
    EXPECT_EQ(count(main, QStringLiteral("DBTag")), 1);

    // The main-queue context: perform posts onto the event loop, performAndWait on the main
    // thread runs at once, and a worker's performAndWait hops onto the main thread.
    bool posted = false;
    main->perform([&] { posted = true; });
    EXPECT_FALSE(posted);
    ASSERT_TRUE(testsupport::spinUntil([&] { return posted; }));
    bool inline_ = false;
    main->performAndWait([&] { inline_ = true; });
    EXPECT_TRUE(inline_);
    std::atomic<bool> onMain{false};
    std::atomic<bool> workerDone{false};
    DispatchQueue::global().async([&] {
        main->performAndWait([&] { onMain = QThread::currentThread() == qApp->thread(); });
        workerDone = true;
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return workerDone.load(); }));
    EXPECT_TRUE(onMain);
}
