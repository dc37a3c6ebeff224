// Saves that meet other saves: the four merge policies on a real conflict, merging did-save
// notifications into the main context, and many workers saving while the main thread merges.
#include "StoreTestSupport.h"

#include "Platform/Foundation/Dispatch.h"

#include <atomic>

using namespace platform;
using namespace storetest;

namespace {

struct Conflict {
    CoordinatorPtr coordinator = memoryStore();
    ContextPtr first = rootContext(coordinator);
    ContextPtr second = rootContext(coordinator);
    ManagedObjectPtr tagInSecond;

    // Both contexts read the tag; the first renames it, re-sorts it and links a document, and
    // saves; the second then renames it, trashes it and links another document.
    explicit Conflict(MergePolicy policy)
    {
        auto setup = rootContext(coordinator);
        insert(setup, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("n")}});
        insert(setup, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("f1")}});
        insert(setup, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("f2")}});
        EXPECT_TRUE(setup->save());
        ManagedObjectPtr tagInFirst = fetch(first, QStringLiteral("DBTag")).value(0);
        tagInSecond = fetch(second, QStringLiteral("DBTag")).value(0);
        tagInFirst->setValueForKey(QStringLiteral("first"), QStringLiteral("name"));
        tagInFirst->setValueForKey(5, QStringLiteral("sortID"));
        tagInFirst->addObject(QStringLiteral("fileInfos"), fetch(first, QStringLiteral("DBFileInfo"), QStringLiteral("title == 'f1'")).value(0));
        EXPECT_TRUE(first->save());
        tagInSecond->setValueForKey(QStringLiteral("second"), QStringLiteral("name"));
        tagInSecond->setValueForKey(true, QStringLiteral("isTrash"));
        tagInSecond->addObject(QStringLiteral("fileInfos"), fetch(second, QStringLiteral("DBFileInfo"), QStringLiteral("title == 'f2'")).value(0));
        second->setMergePolicy(policy);
    }

    QVariantMap stored() const
    {
        auto reader = rootContext(coordinator);
        ManagedObjectPtr tag = fetch(reader, QStringLiteral("DBTag")).value(0);
        return {{QStringLiteral("name"), tag->valueForKey(QStringLiteral("name"))},
                {QStringLiteral("sortID"), tag->valueForKey(QStringLiteral("sortID")).toInt()},
                {QStringLiteral("isTrash"), tag->valueForKey(QStringLiteral("isTrash"))},
                {QStringLiteral("files"), titles(tag->objects(QStringLiteral("fileInfos"))).join(QLatin1Char(','))}};
    }
};

QVariantMap tagState(const QString& name, int sortID, bool trash, const QString& files)
{
    return {{QStringLiteral("name"), name}, {QStringLiteral("sortID"), sortID}, {QStringLiteral("isTrash"), trash},
            {QStringLiteral("files"), files}};
}

} // namespace

TEST(ObjectStoreMerge, ErrorPolicyRefusesAConflictingSaveAndKeepsTheChanges)
{
    Conflict c(MergePolicy::Error);
    auto saved = c.second->save();
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().code, PersistentStoreCoordinator::ConflictError);
    EXPECT_TRUE(c.second->hasChanges());
    EXPECT_EQ(c.tagInSecond->valueForKey(QStringLiteral("name")).toString(), QStringLiteral("second"));
    EXPECT_EQ(c.stored(), tagState(QStringLiteral("first"), 5, false, QStringLiteral("f1")));
}

TEST(ObjectStoreMerge, PropertyPoliciesSettleEachPropertyAndKeepEveryLink)
{
    {
        Conflict c(MergePolicy::ObjectTrumpByProperty);
        ASSERT_TRUE(c.second->save());
        EXPECT_EQ(c.stored(), tagState(QStringLiteral("second"), 5, true, QStringLiteral("f1,f2")));
    }
    {
        Conflict c(MergePolicy::StoreTrumpByProperty);
        ASSERT_TRUE(c.second->save());
        EXPECT_EQ(c.stored(), tagState(QStringLiteral("first"), 5, true, QStringLiteral("f1,f2")));
    }
    {
        // Overwrite writes the object as this context has it, stale sort position included.
        Conflict c(MergePolicy::Overwrite);
        ASSERT_TRUE(c.second->save());
        EXPECT_EQ(c.stored(), tagState(QStringLiteral("second"), 0, true, QStringLiteral("f1,f2")));
    }
}

TEST(ObjectStoreMerge, DidSaveNotificationsMergeIntoTheMainContext)
{
    auto coordinator = memoryStore();
    auto main = rootContext(coordinator, ConcurrencyType::MainQueue);
    insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("keep")}});
    insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("gone")}});
    ASSERT_TRUE(main->save());
    ManagedObjectPtr keep = fetch(main, QStringLiteral("DBTag"), QStringLiteral("name == 'keep'")).value(0);
    ManagedObjectPtr gone = fetch(main, QStringLiteral("DBTag"), QStringLiteral("name == 'gone'")).value(0);
    keep->setValueForKey(7, QStringLiteral("sortID")); // a local, unsaved change

    auto worker = rootContext(coordinator);
    QList<SaveNotification> notes;
    ObserverToken token = worker->addDidSaveObserver([&](const SaveNotification& n) { notes << n; });
    ManagedObjectPtr w = fetch(worker, QStringLiteral("DBTag"), QStringLiteral("name == 'keep'")).value(0);
    w->setValueForKey(QStringLiteral("kept"), QStringLiteral("name"));
    w->setValueForKey(9, QStringLiteral("sortID"));
    worker->deleteObject(fetch(worker, QStringLiteral("DBTag"), QStringLiteral("name == 'gone'")).value(0));
    insert(worker, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("new")}});
    ASSERT_TRUE(worker->save());
    ASSERT_EQ(notes.size(), 1);
    EXPECT_EQ(notes[0].inserted.size(), 1);
    EXPECT_EQ(notes[0].deleted.size(), 1);

    main->setMergePolicy(MergePolicy::StoreTrumpByProperty);
    main->mergeChangesFromContextDidSaveNotification(notes[0]);
    EXPECT_EQ(keep->valueForKey(QStringLiteral("name")).toString(), QStringLiteral("kept"));
    EXPECT_EQ(keep->valueForKey(QStringLiteral("sortID")).toInt(), 9) << "the store wins a property changed on both sides";
    EXPECT_TRUE(gone->isDeleted());
    EXPECT_FALSE(gone->managedObjectContext());
    EXPECT_EQ(titles(fetch(main, QStringLiteral("DBTag")), QStringLiteral("name")), (QStringList{"kept", "new"}));

    // Under object-trump the main context's own change survives the merge and its next save.
    w->setValueForKey(11, QStringLiteral("sortID"));
    ASSERT_TRUE(worker->save());
    keep->setValueForKey(3, QStringLiteral("sortID"));
    main->setMergePolicy(MergePolicy::ObjectTrumpByProperty);
    main->mergeChangesFromContextDidSaveNotification(notes.last());
    EXPECT_EQ(keep->valueForKey(QStringLiteral("sortID")).toInt(), 3);
    ASSERT_TRUE(main->save());
    EXPECT_EQ(fetch(rootContext(coordinator), QStringLiteral("DBTag"), QStringLiteral("name == 'kept'")).value(0)
                  ->valueForKey(QStringLiteral("sortID")).toInt(), 3);
}

TEST(ObjectStoreMerge, ConcurrentWorkerSavesWithMainThreadMergesLoseNothing)
{
    constexpr int workers = 4;
    constexpr int rounds = 25;
    constexpr int perRound = 8;
    auto coordinator = openStore(testsupport::makeTempDir(QStringLiteral("load")) + QStringLiteral("/library.db"));
    auto main = rootContext(coordinator, ConcurrencyType::MainQueue);
    main->setMergePolicy(MergePolicy::ObjectTrumpByProperty);
    ManagedObjectPtr shared = insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("shared")}});
    ASSERT_TRUE(main->save());
    const ObjectID sharedID = shared->objectID();

    std::atomic<int> finished{0};
    std::atomic<int> failures{0};
    std::atomic<int> merges{0};
    for (int w = 0; w < workers; ++w) {
        DispatchQueue::global().async([&, w] {
            for (int r = 0; r < rounds; ++r) {
                // A worker context of its own whose saves the main thread merges while the
                // worker waits, as background saves of the program do.
                auto context = ManagedObjectContext::create(ConcurrencyType::Confinement, coordinator);
                context->setMergePolicy(MergePolicy::Overwrite);
                ObserverToken token = context->addDidSaveObserver([&](const SaveNotification& note) {
                    DispatchQueue::main().sync([&] {
                        main->mergeChangesFromContextDidSaveNotification(note);
                        ++merges;
                    });
                });
                ManagedObjectPtr tag = context->existingObjectWithID(sharedID);
                for (int i = 0; i < perRound; ++i) {
                    ManagedObjectPtr file = context->insertNewObject(QStringLiteral("DBFileInfo"));
                    file->setValueForKey(QStringLiteral("w%1-%2-%3").arg(w).arg(r).arg(i), QStringLiteral("title"));
                    if (!tag || !file->addObject(QStringLiteral("tags"), tag))
                        ++failures;
                }
                if (!context->save())
                    ++failures;
            }
            ++finished;
        });
    }
    // Meanwhile the main thread keeps working: private-queue children save into it and it
    // saves itself, all while merging the workers' saves.
    int childSaves = 0;
    ASSERT_TRUE(testsupport::spinUntil([&] {
        auto child = ManagedObjectContext::create(ConcurrencyType::PrivateQueue, main);
        child->performAndWait([&] {
            ManagedObjectPtr tag = child->existingObjectWithID(sharedID);
            ManagedObjectPtr file = child->insertNewObject(QStringLiteral("DBFileInfo"));
            file->setValueForKey(QStringLiteral("main-%1").arg(childSaves), QStringLiteral("title"));
            file->addObject(QStringLiteral("tags"), tag);
            if (!child->save())
                ++failures;
        });
        ++childSaves;
        if (!main->save())
            ++failures;
        return finished.load() == workers;
    }, 120000));
    ASSERT_TRUE(main->save());
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(merges.load(), workers * rounds);

    const qsizetype expected = qsizetype(workers) * rounds * perRound + childSaves;
    EXPECT_EQ(count(main, QStringLiteral("DBFileInfo")), expected);
    EXPECT_EQ(shared->objects(QStringLiteral("fileInfos")).size(), expected) << "every link reached the main context";
    auto reopened = openStore(coordinator->storePath());
    // (a second coordinator on the same file reads what the first wrote)
    auto fresh = rootContext(reopened);
    EXPECT_EQ(count(fresh, QStringLiteral("DBFileInfo"), QStringLiteral("ANY tags.name == 'shared'")), expected);
}

TEST(ObjectStoreMerge, ChangesToRecordsDeletedElsewhere)
{
    auto coordinator = memoryStore();
    auto setup = rootContext(coordinator);
    insert(setup, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("t")}});
    insert(setup, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("f")}});
    ASSERT_TRUE(setup->save());

    auto editor = rootContext(coordinator);
    ManagedObjectPtr tag = fetch(editor, QStringLiteral("DBTag")).value(0);
    ManagedObjectPtr file = fetch(editor, QStringLiteral("DBFileInfo")).value(0);
    tag->setValueForKey(QStringLiteral("renamed"), QStringLiteral("name"));
    file->addObject(QStringLiteral("tags"), tag);
    setup->deleteObject(fetch(setup, QStringLiteral("DBTag")).value(0));
    ASSERT_TRUE(setup->save());

    // Under the error policy that is a conflict; the editor keeps everything.
    auto refused = editor->save();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, PersistentStoreCoordinator::ConflictError);
    EXPECT_TRUE(editor->hasChanges());

    // Under a merging policy the deletion stands, and the document saves without a dangling link.
    editor->setMergePolicy(MergePolicy::ObjectTrumpByProperty);
    ASSERT_TRUE(editor->save());
    EXPECT_FALSE(tag->managedObjectContext());
    auto reader = rootContext(coordinator);
    EXPECT_EQ(count(reader, QStringLiteral("DBTag")), 0);
    EXPECT_EQ(count(reader, QStringLiteral("DBFileInfo"), QStringLiteral("tags.@count == 0")), 1);
}

TEST(ObjectStoreMerge, MergingADeletionCleansLocalChangesAndResetForgetsThem)
{
    auto coordinator = memoryStore();
    auto main = rootContext(coordinator);
    insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("t")}});
    ASSERT_TRUE(main->save());
    ManagedObjectPtr tag = fetch(main, QStringLiteral("DBTag")).value(0);
    ManagedObjectPtr file = insert(main, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("new")}});
    file->addObject(QStringLiteral("tags"), tag);

    auto worker = rootContext(coordinator);
    SaveNotification note;
    ObserverToken token = worker->addDidSaveObserver([&](const SaveNotification& n) { note = n; });
    worker->deleteObject(fetch(worker, QStringLiteral("DBTag")).value(0));
    ASSERT_TRUE(worker->save());
    main->mergeChangesFromContextDidSaveNotification(note);
    EXPECT_TRUE(tag->isDeleted());
    EXPECT_TRUE(file->objects(QStringLiteral("tags")).isEmpty());
    ASSERT_TRUE(main->save());
    EXPECT_EQ(count(rootContext(coordinator), QStringLiteral("DBFileInfo"), QStringLiteral("tags.@count == 0")), 1);

    // reset drops unsaved work; objects handed out before are detached.
    ManagedObjectPtr scratch = insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("scratch")}});
    file->setValueForKey(QStringLiteral("changed"), QStringLiteral("title"));
    main->reset();
    EXPECT_FALSE(main->hasChanges());
    EXPECT_FALSE(scratch->managedObjectContext());
    EXPECT_FALSE(scratch->setValueForKey(QStringLiteral("x"), QStringLiteral("name")));
    EXPECT_EQ(titles(fetch(main, QStringLiteral("DBFileInfo"))), QStringList{"new"});
    EXPECT_EQ(count(main, QStringLiteral("DBTag")), 0);
}

TEST(ObjectStoreMerge, AChildsDeletionsReachTheParentWithTheirDeleteRules)
{
    auto coordinator = memoryStore();
    auto main = rootContext(coordinator);
    ManagedObjectPtr file = insert(main, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("f")}});
    file->setObject(QStringLiteral("metadata"), insert(main, QStringLiteral("DBFileInfoMetadata")));
    ManagedObjectPtr node = insert(main, QStringLiteral("DBNode"));
    node->addObject(QStringLiteral("files"), file);
    ASSERT_TRUE(main->save());

    auto child = ManagedObjectContext::create(ConcurrencyType::Confinement, main);
    child->deleteObject(child->existingObjectWithID(file->objectID()));
    EXPECT_EQ(count(child, QStringLiteral("DBFileInfoMetadata")), 0);
    EXPECT_EQ(count(main, QStringLiteral("DBFileInfoMetadata")), 1);
    ASSERT_TRUE(child->save());
    EXPECT_TRUE(file->isDeleted());
    EXPECT_TRUE(node->objects(QStringLiteral("files")).isEmpty());
    EXPECT_EQ(count(main, QStringLiteral("DBFileInfoMetadata")), 0);
    EXPECT_EQ(count(rootContext(coordinator), QStringLiteral("DBFileInfoMetadata")), 1) << "not saved yet";
    ASSERT_TRUE(main->save());
    auto reader = rootContext(coordinator);
    EXPECT_EQ(count(reader, QStringLiteral("DBFileInfo")) + count(reader, QStringLiteral("DBFileInfoMetadata")), 0);
    EXPECT_EQ(count(reader, QStringLiteral("DBNode"), QStringLiteral("files.@count == 0")), 1);
}
