// Opening a library written by the previous model version: the records, their links and their
// URIs come through, the old file is kept aside, and a migration that cannot run leaves the
// store exactly as it was.
#include "StoreTestSupport.h"

#include "Platform/Foundation/PropertyList.h"
#include "Platform/ObjectStore/MigrationManager.h"

#include <QFileInfo>

using namespace platform;
using namespace storetest;

namespace {

ModelPtr modelVersion1()
{
    static ModelPtr model = *ManagedObjectModel::loadFile(fixture(QStringLiteral("DBModel 1.mom")));
    return model;
}

struct OldLibrary {
    QString path = testsupport::makeTempDir(QStringLiteral("v1")) + QStringLiteral("/library.db");
    QString tagURI;
    QString fileURI;

    OldLibrary()
    {
        auto coordinator = openStore(path, modelVersion1());
        auto context = rootContext(coordinator);
        ManagedObjectPtr tag = insert(context, QStringLiteral("DBTag"), {{QStringLiteral("tagName"), QStringLiteral("Work")}});
        ManagedObjectPtr node = insert(context, QStringLiteral("DBNode"), {{QStringLiteral("title"), QStringLiteral("Inbox")},
                                                                           {QStringLiteral("nodeID"), QVariant::fromValue(~quint64(0))}});
        for (int i = 0; i < 3; ++i) {
            ManagedObjectPtr file = insert(context, QStringLiteral("DBFileInfo"), {{QStringLiteral("title"), QStringLiteral("doc%1").arg(i)}});
            ManagedObjectPtr index = insert(context, QStringLiteral("DBDocumentIndex"), {{QStringLiteral("skDocumentID"), 40 + i}});
            file->setObject(QStringLiteral("documentIndex"), index);
            file->addObject(QStringLiteral("tags"), tag);
            node->addObject(QStringLiteral("files"), file);
        }
        insert(context, QStringLiteral("DBFavorite"), {{QStringLiteral("dataType"), 4}});
        EXPECT_TRUE(context->save());
        tagURI = tag->objectID().URIRepresentation();
        fileURI = fetch(context, QStringLiteral("DBFileInfo"), QStringLiteral("title == 'doc1'")).value(0)->objectID().URIRepresentation();
    }
};

StoreOptions migrationOptions(bool withMapping)
{
    StoreOptions options;
    options.modelSearchPaths << fixture(QStringLiteral("DBModel 1.mom"));
    if (withMapping)
        options.mappingModelPaths << fixture(QStringLiteral("DBModel 1 to DBModel 2.mapping"));
    return options;
}

} // namespace

TEST(ObjectStoreMigration, AnOldLibraryOpensWithItsDataLinksAndURIs)
{
    OldLibrary old;
    auto coordinator = openStore(old.path, dbModel(), migrationOptions(true));
    ASSERT_TRUE(coordinator->hasStore());
    auto context = rootContext(coordinator);

    ManagedObjectPtr tag = context->existingObjectWithID(coordinator->managedObjectIDForURIRepresentation(old.tagURI));
    ASSERT_TRUE(tag) << "URIs kept in favourites and the full-text index still resolve";
    EXPECT_EQ(tag->valueForKey(QStringLiteral("name")).toString(), QStringLiteral("Work")) << "renamed through the mapping model";
    EXPECT_EQ(titles(tag->objects(QStringLiteral("fileInfos"))), (QStringList{"doc0", "doc1", "doc2"}));
    ManagedObjectPtr doc1 = context->existingObjectWithID(coordinator->managedObjectIDForURIRepresentation(old.fileURI));
    ASSERT_TRUE(doc1);
    EXPECT_EQ(doc1->valueForKey(QStringLiteral("title")).toString(), QStringLiteral("doc1"));
    EXPECT_EQ(doc1->valueForKeyPath(QStringLiteral("documentIndex.skDocumentID")).toLongLong(), 41) << "widened to 64 bits";
    EXPECT_EQ(doc1->valueForKeyPath(QStringLiteral("node.nodeID")).toULongLong(), ~quint64(0));
    // Attributes new in this version start at their defaults, so the listing queries see all.
    EXPECT_EQ(count(context, QStringLiteral("DBFileInfo"), QStringLiteral("isTrash == NO && isNeedDelete == NO")), 3);
    EXPECT_EQ(count(context, QStringLiteral("DBFavorite"), QStringLiteral("isNeedDelete == NO")), 1);

    // The old file is kept aside, as it was, under a name that tells its version.
    const QString backup = MigrationManager::backupPath(old.path, modelVersion1()->versionHash());
    auto meta = SqliteStore::readMetadata(backup);
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->modelVersion, QStringLiteral("DBModel 1"));
    EXPECT_FALSE(QFileInfo::exists(old.path + QStringLiteral(".migrating")));

    // New records never take the keys of the migrated ones.
    ManagedObjectPtr fresh = insert(context, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("new")}});
    ASSERT_TRUE(context->save());
    EXPECT_NE(fresh->objectID().URIRepresentation(), old.tagURI);
    EXPECT_EQ(count(rootContext(openStore(old.path)), QStringLiteral("DBTag")), 2);
}

TEST(ObjectStoreMigration, InferredMappingKeepsWhatMatchesByName)
{
    OldLibrary old;
    auto coordinator = openStore(old.path, dbModel(), migrationOptions(false));
    auto context = rootContext(coordinator);
    ManagedObjectPtr tag = fetch(context, QStringLiteral("DBTag")).value(0);
    ASSERT_TRUE(tag);
    EXPECT_FALSE(tag->valueForKey(QStringLiteral("name")).isValid()) << "a rename cannot be inferred";
    EXPECT_EQ(tag->objects(QStringLiteral("fileInfos")).size(), 3);
    EXPECT_EQ(count(context, QStringLiteral("DBNode"), QStringLiteral("files.@count == 3")), 1);
}

TEST(ObjectStoreMigration, AMigrationThatCannotRunLeavesTheStoreAsItWas)
{
    OldLibrary old;
    const QByteArray before = testsupport::readFile(old.path);
    auto attempt = [&](const StoreOptions& options) {
        auto coordinator = PersistentStoreCoordinator::create(dbModel());
        auto added = coordinator->addSQLiteStore(old.path, options);
        EXPECT_FALSE(added);
        EXPECT_EQ(testsupport::readFile(old.path), before);
        EXPECT_FALSE(QFileInfo::exists(old.path + QStringLiteral(".migrating")));
        EXPECT_FALSE(QFileInfo::exists(MigrationManager::backupPath(old.path, modelVersion1()->versionHash())));
        return added ? Error{} : added.error();
    };
    StoreOptions off = migrationOptions(true);
    off.migrateAutomatically = false;
    EXPECT_EQ(attempt(off).code, SqliteStore::IncompatibleError);
    EXPECT_EQ(attempt(StoreOptions{}).code, MigrationManager::NoSourceModelError);
    StoreOptions noInference = migrationOptions(false);
    noInference.inferMappingModel = false;
    EXPECT_EQ(attempt(noInference).code, MigrationManager::NoMappingError);

    // A mapping model that names an attribute the old model never had.
    const QString badMapping = testsupport::makeTempDir(QStringLiteral("map")) + QStringLiteral("/bad.mapping");
    ASSERT_TRUE(PropertyList::writeFile(
        QVariantMap{{QStringLiteral("sourceModelVersion"), QStringLiteral("DBModel 1")},
                    {QStringLiteral("destinationModelVersion"), QStringLiteral("DBModel 2")},
                    {QStringLiteral("entityMappings"),
                     QVariantList{QVariantMap{{QStringLiteral("source"), QStringLiteral("DBTag")},
                                              {QStringLiteral("destination"), QStringLiteral("DBTag")},
                                              {QStringLiteral("attributeMappings"), QVariantMap{{QStringLiteral("name"), QStringLiteral("label")}}}}}}},
        badMapping, PlistFormat::Xml));
    StoreOptions bad = migrationOptions(false);
    bad.mappingModelPaths << badMapping;
    EXPECT_TRUE(attempt(bad).message.contains(QStringLiteral("label")));
}
