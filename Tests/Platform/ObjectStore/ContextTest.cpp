// Contexts over a real store: identity of records across saves and runs, what each level of a
// context chain sees, delete rules, exact values and the fetch order callers rely on.
#include "StoreTestSupport.h"

#include <QDateTime>
#include <QSet>

using namespace platform;
using namespace storetest;

namespace {

QString libraryPath()
{
    return testsupport::makeTempDir(QStringLiteral("lib")) + QStringLiteral("/library.db");
}

} // namespace

TEST(ObjectStoreContext, TemporaryIDBecomesPermanentForEveryHolder)
{
    auto coordinator = openStore(libraryPath());
    auto main = rootContext(coordinator);
    auto child = ManagedObjectContext::create(ConcurrencyType::Confinement, main);

    ManagedObjectPtr node = insert(child, QStringLiteral("DBNode"), {{QStringLiteral("title"), QStringLiteral("Inbox")}});
    const ObjectID held = node->objectID();
    const QString temporaryURI = held.URIRepresentation();
    QHash<ObjectID, int> table{{held, 7}};
    EXPECT_TRUE(held.isTemporaryID());
    EXPECT_TRUE(temporaryURI.startsWith(QStringLiteral("x-folivo-store:///DBNode/t")));

    ASSERT_TRUE(child->save());
    ManagedObjectPtr inParent = main->existingObjectWithID(held);
    ASSERT_TRUE(inParent);
    EXPECT_TRUE(inParent->objectID().isTemporaryID()) << "a push into the parent is not yet a store save";

    ASSERT_TRUE(main->save());
    for (const ObjectID& id : {held, node->objectID(), inParent->objectID()}) {
        EXPECT_FALSE(id.isTemporaryID());
        EXPECT_EQ(id, held);
        EXPECT_TRUE(id.URIRepresentation().startsWith(QStringLiteral("x-folivo-store://") + coordinator->storeUUID()
                                                      + QStringLiteral("/DBNode/p")));
    }
    EXPECT_EQ(table.value(node->objectID()), 7) << "hash and equality survive the change";
    EXPECT_NE(held.URIRepresentation(), temporaryURI);

    // A fresh context reaches the record through the permanent URI.
    auto other = rootContext(coordinator);
    const ObjectID fromURI = coordinator->managedObjectIDForURIRepresentation(held.URIRepresentation());
    ManagedObjectPtr again = other->existingObjectWithID(fromURI);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->valueForKey(QStringLiteral("title")).toString(), QStringLiteral("Inbox"));
    EXPECT_TRUE(coordinator->managedObjectIDForURIRepresentation(temporaryURI).isNull());

    // obtainPermanentIDs makes an unsaved record's URI final before any save.
    ManagedObjectPtr tag = insert(main, QStringLiteral("DBTag"));
    ASSERT_TRUE(main->obtainPermanentIDsForObjects({tag}));
    const QString early = tag->objectID().URIRepresentation();
    EXPECT_FALSE(tag->objectID().isTemporaryID());
    ASSERT_TRUE(main->save());
    EXPECT_EQ(tag->objectID().URIRepresentation(), early);
}

TEST(ObjectStoreContext, ChildrenSeeParentsUnsavedChangesAndNotTheOtherWayRound)
{
    auto coordinator = memoryStore();
    auto main = rootContext(coordinator);
    ManagedObjectPtr saved = insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("alpha")}});
    ASSERT_TRUE(main->save());

    // Unsaved in the parent: an insert, an update and a delete.
    insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("beta")}});
    ManagedObjectPtr gamma = insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("gamma")}});
    ASSERT_TRUE(main->save());
    saved->setValueForKey(QStringLiteral("ALPHA"), QStringLiteral("name"));
    insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("delta")}});
    main->deleteObject(gamma);

    auto child = ManagedObjectContext::create(ConcurrencyType::PrivateQueue, main);
    QStringList seen;
    child->performAndWait([&] { seen = titles(fetch(child, QStringLiteral("DBTag")), QStringLiteral("name")); });
    EXPECT_EQ(seen, (QStringList{QStringLiteral("ALPHA"), QStringLiteral("beta"), QStringLiteral("delta")}));
    qsizetype upper = 0;
    child->performAndWait([&] { upper = count(child, QStringLiteral("DBTag"), QStringLiteral("name == %@"), {QStringLiteral("ALPHA")}); });
    EXPECT_EQ(upper, 1);

    // The child's own insert stays invisible to the parent and to the store until saved.
    child->performAndWait([&] {
        insert(child, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("epsilon")}});
        EXPECT_EQ(count(child, QStringLiteral("DBTag")), 4);
    });
    EXPECT_EQ(count(main, QStringLiteral("DBTag")), 3);
    auto store = rootContext(coordinator);
    EXPECT_EQ(titles(fetch(store, QStringLiteral("DBTag")), QStringLiteral("name")),
              (QStringList{QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("gamma")}));

    child->performAndWait([&] { EXPECT_TRUE(child->save()); });
    EXPECT_EQ(count(main, QStringLiteral("DBTag"), QStringLiteral("name == 'epsilon'")), 1);
    EXPECT_TRUE(main->hasChanges());
    EXPECT_EQ(count(store, QStringLiteral("DBTag"), QStringLiteral("name == 'epsilon'")), 0);
    ASSERT_TRUE(main->save());
    EXPECT_EQ(titles(fetch(store, QStringLiteral("DBTag")), QStringLiteral("name")),
              (QStringList{QStringLiteral("ALPHA"), QStringLiteral("beta"), QStringLiteral("delta"), QStringLiteral("epsilon")}));
}

TEST(ObjectStoreContext, URIsStayValidAcrossRunsAndAreNeverReused)
{
    const QString path = libraryPath();
    QString keptURI, deletedURI;
    {
        auto coordinator = openStore(path);
        auto context = rootContext(coordinator);
        ManagedObjectPtr kept = insert(context, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("kept")}});
        ManagedObjectPtr doomed = insert(context, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("doomed")}});
        ASSERT_TRUE(context->save());
        keptURI = kept->objectID().URIRepresentation();
        deletedURI = doomed->objectID().URIRepresentation();
        context->deleteObject(doomed); // the newest record: its key would be the next one handed out
        ASSERT_TRUE(context->save());
        // Keys handed out to records that were never saved are not reused either.
        insert(context, QStringLiteral("DBTag"));
        context->reset();
    }
    auto coordinator = openStore(path);
    auto context = rootContext(coordinator);
    ManagedObjectPtr kept = context->existingObjectWithID(coordinator->managedObjectIDForURIRepresentation(keptURI));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->valueForKey(QStringLiteral("name")).toString(), QStringLiteral("kept"));
    EXPECT_FALSE(context->existingObjectWithID(coordinator->managedObjectIDForURIRepresentation(deletedURI)));

    ManagedObjectPtr fresh = insert(context, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("fresh")}});
    ASSERT_TRUE(context->save());
    EXPECT_NE(fresh->objectID().URIRepresentation(), deletedURI);
    EXPECT_FALSE(context->existingObjectWithID(coordinator->managedObjectIDForURIRepresentation(deletedURI)));

    // Malformed, foreign and mistyped URIs name nothing.
    QString foreign = keptURI;
    foreign.replace(coordinator->storeUUID(), QStringLiteral("00000000-0000-0000-0000-000000000000"));
    for (const QString& bad : {foreign, QString(), QStringLiteral("x-folivo-store://nonsense"),
                               QString(keptURI).replace(QStringLiteral("/DBTag/"), QStringLiteral("/DBNope/")),
                               keptURI + QStringLiteral("0000000000000000000000")})
        EXPECT_TRUE(coordinator->managedObjectIDForURIRepresentation(bad).isNull()) << qPrintable(bad);
    // A URI of a record of another entity in the same store finds nothing of the wrong kind.
    const ObjectID asNode = coordinator->managedObjectIDForURIRepresentation(
        QString(keptURI).replace(QStringLiteral("/DBTag/"), QStringLiteral("/DBNode/")));
    EXPECT_FALSE(context->existingObjectWithID(asNode));
}

TEST(ObjectStoreContext, DeleteRulesKeepDocumentsAndCleanEveryInverse)
{
    const QString path = libraryPath();
    {
        auto coordinator = openStore(path);
        auto context = rootContext(coordinator);
        ManagedObjectPtr folder = insert(context, QStringLiteral("DBNode"), {{QStringLiteral("title"), QStringLiteral("folder")}});
        ManagedObjectPtr sub = insert(context, QStringLiteral("DBNode"), {{QStringLiteral("title"), QStringLiteral("sub")}});
        ASSERT_TRUE(folder->addObject(QStringLiteral("children"), sub));
        ManagedObjectPtr tag = insert(context, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("t")}});
        for (int i = 0; i < 3; ++i) {
            ManagedObjectPtr file = insert(context, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("f%1").arg(i)}});
            file->setObject(QStringLiteral("metadata"), insert(context, QStringLiteral("DBFileInfoMetadata")));
            file->setObject(QStringLiteral("documentIndex"), insert(context, QStringLiteral("DBDocumentIndex")));
            ASSERT_TRUE(file->addObject(QStringLiteral("tags"), tag));
            ASSERT_TRUE((i == 2 ? sub : folder)->addObject(QStringLiteral("files"), file));
        }
        ASSERT_TRUE(context->save());
        EXPECT_EQ(sub->object(QStringLiteral("parent")), folder) << "inverse of children kept in step";
        EXPECT_EQ(tag->objects(QStringLiteral("fileInfos")).size(), 3);

        context->deleteObject(folder);
        EXPECT_EQ(count(context, QStringLiteral("DBNode")), 0) << "children cascade";
        EXPECT_EQ(count(context, QStringLiteral("DBFileInfo"), QStringLiteral("node == nil")), 3) << "files nullify";

        ManagedObjectPtr f0 = fetch(context, QStringLiteral("DBFileInfo"), QStringLiteral("title == 'f0'")).value(0);
        ASSERT_TRUE(f0);
        context->deleteObject(f0);
        EXPECT_EQ(tag->objects(QStringLiteral("fileInfos")).size(), 2) << "the tag forgets the deleted document at once";
        ASSERT_TRUE(context->save());
    }
    auto coordinator = openStore(path);
    auto context = rootContext(coordinator);
    EXPECT_EQ(count(context, QStringLiteral("DBNode")), 0);
    EXPECT_EQ(titles(fetch(context, QStringLiteral("DBFileInfo"))), (QStringList{QStringLiteral("f1"), QStringLiteral("f2")}));
    EXPECT_EQ(count(context, QStringLiteral("DBFileInfoMetadata")), 2) << "metadata cascades with its document";
    EXPECT_EQ(count(context, QStringLiteral("DBDocumentIndex")), 2);
    ManagedObjectPtr tag = fetch(context, QStringLiteral("DBTag")).value(0);
    ASSERT_TRUE(tag);
    EXPECT_EQ(titles(tag->objects(QStringLiteral("fileInfos"))), (QStringList{QStringLiteral("f1"), QStringLiteral("f2")}));
    EXPECT_EQ(count(context, QStringLiteral("DBFileInfo"), QStringLiteral("ANY tags == %@"), QVariantList{asRef(tag)}), 2);
    EXPECT_EQ(count(context, QStringLiteral("DBFileInfo"), QStringLiteral("isTrash == NO && tags.@count == 0")), 0);

    // Removing a tag from a document also removes the document from the tag.
    ManagedObjectPtr f1 = fetch(context, QStringLiteral("DBFileInfo"), QStringLiteral("title == 'f1'")).value(0);
    ASSERT_TRUE(f1->removeObject(QStringLiteral("tags"), tag));
    EXPECT_EQ(titles(tag->objects(QStringLiteral("fileInfos"))), QStringList{QStringLiteral("f2")});
}

TEST(ObjectStoreContext, UnsignedAndWideValuesReadBackExactly)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("idx"));
    const quint64 bigNode = (quint64(1) << 63) + 5;
    const quint64 maxUuid = ~quint64(0);
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    {
        auto index = openStore(dir + QStringLiteral("/indexFolder.db"), indexFolderModel());
        auto context = rootContext(index);
        insert(context, QStringLiteral("IFFileItem"),
               {{QStringLiteral("fileID"), quint32(4000000000u)}, {QStringLiteral("uuid"), QVariant::fromValue(maxUuid)},
                {QStringLiteral("folder"), QStringLiteral("/Users/ä")}, {QStringLiteral("date"), when}});
        ASSERT_TRUE(context->save());
        auto library = openStore(dir + QStringLiteral("/library.db"));
        auto lib = rootContext(library);
        ManagedObjectPtr node = insert(lib, QStringLiteral("DBNode"), {{QStringLiteral("nodeID"), QVariant::fromValue(bigNode)}});
        insert(lib, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("in")}})->setObject(QStringLiteral("node"), node);
        insert(lib, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("loose")}});
        ASSERT_TRUE(lib->save());
    }
    auto index = openStore(dir + QStringLiteral("/indexFolder.db"), indexFolderModel());
    auto context = rootContext(index);
    ManagedObjectPtr item = fetch(context, QStringLiteral("IFFileItem")).value(0);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->valueForKey(QStringLiteral("fileID")).toULongLong(), 4000000000ull);
    EXPECT_EQ(item->valueForKey(QStringLiteral("uuid")).toULongLong(), maxUuid);
    EXPECT_EQ(item->valueForKey(QStringLiteral("date")).toDateTime(), when);
    EXPECT_EQ(item->valueForKey(QStringLiteral("isRemove")), QVariant(false)) << "model default";
    EXPECT_EQ(count(context, QStringLiteral("IFFileItem"), QStringLiteral("uuid == %@"), {QVariant::fromValue(maxUuid)}), 1);
    EXPECT_EQ(count(context, QStringLiteral("IFFileItem"), QStringLiteral("fileID == %lu"), {QVariant::fromValue(quint64(4000000000u))}), 1);

    auto library = openStore(dir + QStringLiteral("/library.db"));
    auto lib = rootContext(library);
    EXPECT_EQ(count(lib, QStringLiteral("DBNode"), QStringLiteral("nodeID == %@ && isTrash == NO"), {QVariant::fromValue(bigNode)}), 1);
    // Every document, also the ones in a node whose nodeID is at or above 2^63.
    EXPECT_EQ(count(lib, QStringLiteral("DBFileInfo"), QStringLiteral("(node.nodeID >= 0 || node == nil)")), 2);

    // Values outside an attribute's type are refused and change nothing.
    ManagedObjectPtr node = fetch(lib, QStringLiteral("DBNode")).value(0);
    EXPECT_FALSE(node->setValueForKey(70000, QStringLiteral("type")));
    EXPECT_FALSE(node->setValueForKey(QStringLiteral("3"), QStringLiteral("sortID")));
    EXPECT_FALSE(node->setValueForKey(-1, QStringLiteral("nodeID")));
    EXPECT_FALSE(node->setValueForKey(1, QStringLiteral("noSuchKey")));
    EXPECT_FALSE(lib->hasChanges());
}

TEST(ObjectStoreContext, FetchOrderIsStoredByKeyThenPendingInInsertionOrder)
{
    auto coordinator = memoryStore();
    auto main = rootContext(coordinator);
    for (const char* name : {"b1", "a2", "c3"})
        insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QString::fromLatin1(name)}});
    ASSERT_TRUE(main->save());
    insert(main, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("a4")}});
    auto child = ManagedObjectContext::create(ConcurrencyType::Confinement, main);
    insert(child, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("a5")}});
    // The parent's pending insert is older, so it comes before the child's.
    EXPECT_EQ(titles(fetch(child, QStringLiteral("DBTag")), QStringLiteral("name")),
              (QStringList{"b1", "a2", "c3", "a4", "a5"}));
    // The last "a*" match is the newest one; a sorted fetch is stable and honours the limit.
    EXPECT_EQ(titles(fetch(child, QStringLiteral("DBTag"), QStringLiteral("name like[cd] %@"), {QStringLiteral("A*")}), QStringLiteral("name")).last(),
              QStringLiteral("a5"));
    EXPECT_EQ(titles(fetch(child, QStringLiteral("DBTag"), {}, {}, {SortDescriptor(QStringLiteral("name"), false)}, 2), QStringLiteral("name")),
              (QStringList{"c3", "b1"}));
    auto ids = child->fetchObjectIDs(FetchRequest(QStringLiteral("DBTag")));
    ASSERT_TRUE(ids);
    EXPECT_EQ(ids->size(), 5);
    EXPECT_TRUE(ids->last().isTemporaryID());
    EXPECT_EQ(child->existingObjectWithID(ids->last())->valueForKey(QStringLiteral("name")).toString(), QStringLiteral("a5"));

    // Sub-entities are part of their parent's fetches; a smart folder is a node.
    insert(main, QStringLiteral("DBNode"), {{QStringLiteral("title"), QStringLiteral("plain")}});
    insert(main, QStringLiteral("DBSmartFolder"), {{QStringLiteral("title"), QStringLiteral("smart")}, {QStringLiteral("data"), QByteArray("rules")}});
    EXPECT_EQ(titles(fetch(main, QStringLiteral("DBNode"))), (QStringList{"plain", "smart"}));
    EXPECT_EQ(titles(fetch(main, QStringLiteral("DBSmartFolder"))), QStringList{"smart"});
    EXPECT_EQ(count(main, QStringLiteral("DBNode"), QStringLiteral("data != nil")), 1);
}

TEST(ObjectStoreContext, NewRecordsStartAtTheModelDefaults)
{
    auto main = rootContext(memoryStore());
    ManagedObjectPtr file = insert(main, QStringLiteral("DBFileInfo"));
    file->setObject(QStringLiteral("documentIndex"), insert(main, QStringLiteral("DBDocumentIndex")));
    insert(main, QStringLiteral("DBFavorite"));
    EXPECT_EQ(count(main, QStringLiteral("DBFileInfo"), QStringLiteral("isTrash == NO && isNeedDelete == NO")), 1);
    EXPECT_EQ(count(main, QStringLiteral("DBDocumentIndex"), QStringLiteral("skDocumentID == -1 AND fileInfo.isTrash == NO")), 1);
    EXPECT_EQ(count(main, QStringLiteral("DBFavorite"), QStringLiteral("isNeedDelete == NO")), 1);
    EXPECT_FALSE(file->valueForKey(QStringLiteral("isShare")).isValid()) << "no default means nil";
}

TEST(ObjectStoreContext, BadRequestsAreErrorsNotCrashes)
{
    auto main = rootContext(memoryStore());
    insert(main, QStringLiteral("DBTag"));
    auto unknownKey = main->executeFetchRequest(
        FetchRequest(QStringLiteral("DBTag"), *Predicate::format(QStringLiteral("colour == 'red'"))));
    ASSERT_FALSE(unknownKey);
    EXPECT_TRUE(unknownKey.error().message.contains(QStringLiteral("colour")));
    EXPECT_FALSE(main->executeFetchRequest(FetchRequest(QStringLiteral("DBNothing"))));
    EXPECT_FALSE(main->executeFetchRequest(
        FetchRequest(QStringLiteral("DBTag"), {}, {SortDescriptor(QStringLiteral("group.nothing"))})));
    EXPECT_FALSE(main->insertNewObject(QStringLiteral("DBNothing")));

    // Without a store fetches and saves fail, and the changes stay.
    auto storeless = rootContext(PersistentStoreCoordinator::create(dbModel()));
    insert(storeless, QStringLiteral("DBTag"));
    EXPECT_FALSE(storeless->executeFetchRequest(FetchRequest(QStringLiteral("DBTag"))));
    EXPECT_FALSE(storeless->save());
    EXPECT_TRUE(storeless->hasChanges());

    // Objects of another context cannot be linked.
    auto other = rootContext(memoryStore());
    ManagedObjectPtr foreignTag = insert(other, QStringLiteral("DBTag"));
    ManagedObjectPtr file = insert(main, QStringLiteral("DBFileInfo"));
    EXPECT_FALSE(file->addObject(QStringLiteral("tags"), foreignTag));
    EXPECT_FALSE(file->addObject(QStringLiteral("authors"), insert(main, QStringLiteral("DBTag")))) << "wrong entity";
}

TEST(ObjectStoreContext, IndexedLookupsSeeUnsavedChangesAtEveryLevel)
{
    auto coordinator = memoryStore();
    auto main = rootContext(coordinator);
    auto meta = [&](const ContextPtr& c, quint64 uuid) {
        return insert(c, QStringLiteral("DBIndexFolderMetadata"), {{QStringLiteral("uuid"), QVariant::fromValue(uuid)}});
    };
    auto uuids = [](const ContextPtr& c, quint64 uuid) {
        QStringList out;
        for (const auto& o : fetch(c, QStringLiteral("DBIndexFolderMetadata"), QStringLiteral("uuid == %@"), {QVariant::fromValue(uuid)}))
            out << QString::number(o->objectID().primaryKey());
        return out.join(QLatin1Char(','));
    };
    ManagedObjectPtr m1 = meta(main, 1);
    ManagedObjectPtr m2 = meta(main, 2);
    ManagedObjectPtr doc = insert(main, QStringLiteral("DBDocumentIndex"));
    ASSERT_TRUE(main->save());
    const QString k2 = QString::number(m2->objectID().primaryKey());

    m1->setValueForKey(QVariant::fromValue(quint64(3)), QStringLiteral("uuid"));
    ManagedObjectPtr m3 = meta(main, 2);
    const QString k1 = QString::number(m1->objectID().primaryKey());
    const QString k3 = QString::number(m3->objectID().primaryKey());
    EXPECT_EQ(uuids(main, 1), QString());
    EXPECT_EQ(uuids(main, 3), k1);
    EXPECT_EQ(uuids(main, 2), k2 + QLatin1Char(',') + k3);

    auto child = ManagedObjectContext::create(ConcurrencyType::Confinement, main);
    child->existingObjectWithID(m2->objectID())->setValueForKey(QVariant::fromValue(quint64(5)), QStringLiteral("uuid"));
    EXPECT_EQ(uuids(child, 2), k3);
    EXPECT_EQ(uuids(child, 5), k2);
    EXPECT_EQ(uuids(main, 5), QString());

    ASSERT_TRUE(child->save());
    ASSERT_TRUE(main->save());
    auto fresh = rootContext(coordinator);
    EXPECT_EQ(uuids(fresh, 1), QString());
    EXPECT_EQ(uuids(fresh, 3), k1);
    EXPECT_EQ(uuids(fresh, 5), k2);
    EXPECT_EQ(uuids(fresh, 2), k3);
    // Negative values and values that do not fit the type.
    EXPECT_EQ(count(fresh, QStringLiteral("DBDocumentIndex"), QStringLiteral("skDocumentID == -1")), 1);
    EXPECT_EQ(count(fresh, QStringLiteral("DBIndexFolderMetadata"), QStringLiteral("uuid == -1")), 0);
    fresh->deleteObject(fresh->existingObjectWithID(doc->objectID()));
    EXPECT_EQ(count(fresh, QStringLiteral("DBDocumentIndex"), QStringLiteral("skDocumentID == -1")), 0);
}

TEST(ObjectStoreContext, RepeatedEditsKeepEveryTextIntact)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("text")) + QStringLiteral("/library.db");
    auto context = rootContext(openStore(path));
    ManagedObjectPtr file = insert(context, QStringLiteral("DBFileInfo"),
                                   {{QStringLiteral("path"), QStringLiteral("/Documents/ü/a.pdf")},
                                    {QStringLiteral("extendField"), QString("")}});
    QString title;
    for (int i = 0; i < 300; ++i) {
        title = QString(i % 37, QChar(u'é')) + QString::number(i);
        ASSERT_TRUE(file->setValueForKey(title, QStringLiteral("title")));
        if (i == 150) {
            ASSERT_TRUE(context->save());
        }
    }
    file->setValueForKey(QVariant(), QStringLiteral("thumbPath"));
    ASSERT_TRUE(context->save());
    auto reader = rootContext(openStore(path));
    ManagedObjectPtr again = fetch(reader, QStringLiteral("DBFileInfo")).value(0);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->valueForKey(QStringLiteral("title")).toString(), title);
    EXPECT_EQ(again->valueForKey(QStringLiteral("path")).toString(), QStringLiteral("/Documents/ü/a.pdf"));
    EXPECT_EQ(again->valueForKey(QStringLiteral("extendField")), QVariant(QString(""))) << "empty is not nil";
    EXPECT_FALSE(again->valueForKey(QStringLiteral("thumbPath")).isValid());
    EXPECT_EQ(count(reader, QStringLiteral("DBFileInfo"), QStringLiteral("extendField == ''")), 1);
}
