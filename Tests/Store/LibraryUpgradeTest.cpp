// The manual migration chain and the library upgrade: a store that fits stays as it is, a
// chain walks every step it needs, a bundle that cannot lead anywhere says why, an older
// library arrives with its data and keeps its old store as a backup, and every failure leaves
// the library exactly as it was.
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Platform/ObjectStore/MappingModel.h"
#include "Platform/ObjectStore/PersistentStoreCoordinator.h"
#include "Store/DataBaseUpgrad.h"
#include "Store/LibraryUpgrade.h"
#include "Store/MigrationManagerRelationships.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>

using namespace platform;

namespace {

QString fixture(const QString& name)
{
    // Not from __FILE__: a compiler cache with a base folder makes that path relative.
    return QStringLiteral(STORE_FIXTURES "/") + name;
}

ModelPtr loadModel(const QString& path)
{
    auto model = ManagedObjectModel::loadFile(path);
    EXPECT_TRUE(model) << (model ? "" : qPrintable(model.error().toString()));
    return model ? *model : nullptr;
}

QString chainModelPath(int version)
{
    return fixture(QStringLiteral("ChainBundle/DBModel.momd/DBModel %1.mom").arg(version));
}

QString currentModelPath()
{
    return Bundle::mainBundle().pathForResource(QStringLiteral("DBModel 2"), QStringLiteral("mom"),
                                                QStringLiteral("DBModel.momd"));
}

QString workFolder()
{
    return DataBaseUpgrad::dataBaseUpdateTempFolder().value_or(QString());
}

// Each test starts with an empty work folder, as an upgrade does.
void emptyWorkFolder()
{
    ASSERT_TRUE(FileManager::removeItem(workFolder()));
}

ContextPtr openContext(const QString& path, const ModelPtr& model, CoordinatorPtr* keep)
{
    *keep = PersistentStoreCoordinator::create(model);
    StoreOptions options;
    options.migrateAutomatically = false;
    auto added = (*keep)->addSQLiteStore(path, options);
    EXPECT_TRUE(added) << (added ? "" : qPrintable(added.error().toString()));
    return ManagedObjectContext::create(ConcurrencyType::Confinement, *keep);
}

QList<ManagedObjectPtr> fetchAll(const ContextPtr& context, const QString& entity)
{
    return context->executeFetchRequest(FetchRequest(entity)).value_or(QList<ManagedObjectPtr>{});
}

void makeNoteStore(const QString& path, const ModelPtr& model, const QString& key, const QString& text)
{
    CoordinatorPtr coordinator;
    ContextPtr context = openContext(path, model, &coordinator);
    ManagedObjectPtr note = context->insertNewObject(QStringLiteral("Note"));
    ASSERT_TRUE(note);
    EXPECT_TRUE(note->setValueForKey(text, key));
    EXPECT_TRUE(context->save());
}

// A bundle folder made of the given files: target name in the bundle → source path.
QString makeBundle(const QList<std::pair<QString, QString>>& files)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("bundle"));
    for (const auto& [name, from] : files)
        testsupport::writeFile(folder + QLatin1Char('/') + name, testsupport::readFile(from));
    return folder;
}

QString upgradeBundle(bool withMapping)
{
    QList<std::pair<QString, QString>> files{
        {QStringLiteral("DBModel.momd/DBModel 1.mom"), fixture(QStringLiteral("DBModel 1.mom"))},
        {QStringLiteral("DBModel.momd/DBModel 2.mom"), currentModelPath()}};
    if (withMapping)
        files.append({QStringLiteral("DBModel 1 to DBModel 2.mapping"), fixture(QStringLiteral("DBModel 1 to DBModel 2.mapping"))});
    return makeBundle(files);
}

// A library written with the previous model: a tag (then called "tagName") on three files in
// one folder, and a version.plist with a key of its own.
struct OldLibrary {
    QString folder = testsupport::makeTempDir(QStringLiteral("oldlib"));
    QString store = folder + QStringLiteral("/library.db");
    QString versionFile = folder + QStringLiteral("/version.plist");

    OldLibrary()
    {
        {
            CoordinatorPtr coordinator;
            ContextPtr context = openContext(store, loadModel(fixture(QStringLiteral("DBModel 1.mom"))), &coordinator);
            ManagedObjectPtr tag = context->insertNewObject(QStringLiteral("DBTag"));
            EXPECT_TRUE(tag->setValueForKey(QStringLiteral("Work"), QStringLiteral("tagName")));
            ManagedObjectPtr node = context->insertNewObject(QStringLiteral("DBNode"));
            EXPECT_TRUE(node->setValueForKey(QStringLiteral("Inbox"), QStringLiteral("title")));
            for (int i = 0; i < 3; ++i) {
                ManagedObjectPtr file = context->insertNewObject(QStringLiteral("DBFileInfo"));
                EXPECT_TRUE(file->setValueForKey(QStringLiteral("doc%1").arg(i), QStringLiteral("title")));
                EXPECT_TRUE(file->addObject(QStringLiteral("tags"), tag));
                EXPECT_TRUE(node->addObject(QStringLiteral("files"), file));
            }
            EXPECT_TRUE(context->save());
        }
        EXPECT_TRUE(PropertyList::writeFile(QVariantMap{{QStringLiteral("version"), 1.0},
                                                        {QStringLiteral("name"), QStringLiteral("Folivo 2.0")},
                                                        {QStringLiteral("note"), QStringLiteral("kept")}},
                                            versionFile, PlistFormat::Xml));
    }

    // The folder's items, less the files SQLite keeps beside a store while anything reads it.
    QStringList entries() const
    {
        QStringList out;
        for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            if (!name.endsWith(QStringLiteral("-shm")) && !name.endsWith(QStringLiteral("-wal")))
                out << name;
        }
        return out;
    }
};

} // namespace

TEST(DataBaseUpgrad, TheChainWalksEveryStepItNeedsAndNoMore)
{
    emptyWorkFolder();
    const QString folder = testsupport::makeTempDir(QStringLiteral("chain"));
    const ModelPtr model3 = loadModel(chainModelPath(3));
    const Bundle bundle(fixture(QStringLiteral("ChainBundle")));
    makeNoteStore(folder + QStringLiteral("/fits.db"), model3, QStringLiteral("body"), QStringLiteral("x"));
    EXPECT_EQ(DataBaseUpgrad::updateDataBase(folder + QStringLiteral("/fits.db"), model3, bundle).value_or(QString()),
              folder + QStringLiteral("/fits.db"));
    EXPECT_TRUE(QDir(workFolder()).isEmpty()) << "a store that fits is not copied";

    const QString store = folder + QStringLiteral("/library.db");
    makeNoteStore(store, loadModel(chainModelPath(1)), QStringLiteral("text"), QStringLiteral("hello"));
    const QByteArray before = testsupport::readFile(store);
    auto answer = DataBaseUpgrad::updateDataBase(store, model3, bundle);
    ASSERT_TRUE(answer) << qPrintable(answer.error().toString());
    EXPECT_EQ(*answer, workFolder() + QStringLiteral("/DBModel 3.db"));
    EXPECT_TRUE(QFileInfo::exists(workFolder() + QStringLiteral("/DBModel 2.db")));
    EXPECT_EQ(testsupport::readFile(store), before) << "the chain never writes the store it starts from";
    CoordinatorPtr coordinator;
    const auto notes = fetchAll(openContext(*answer, model3, &coordinator), QStringLiteral("Note"));
    ASSERT_EQ(notes.size(), 1);
    EXPECT_EQ(notes[0]->valueForKey(QStringLiteral("body")).toString(), QStringLiteral("hello"));
    EXPECT_TRUE(notes[0]->valueForKey(QStringLiteral("pinned")).toBool());
}

TEST(DataBaseUpgrad, ABundleThatLeadsNowhereSaysWhy)
{
    emptyWorkFolder();
    const QString store = testsupport::makeTempDir(QStringLiteral("nowhere")) + QStringLiteral("/library.db");
    makeNoteStore(store, loadModel(chainModelPath(1)), QStringLiteral("text"), QStringLiteral("hello"));
    const ModelPtr model3 = loadModel(chainModelPath(3));

    const Bundle empty(testsupport::makeTempDir(QStringLiteral("empty")));
    auto noModels = DataBaseUpgrad::updateDataBase(store, model3, empty);
    ASSERT_FALSE(noModels);
    EXPECT_EQ(noModels.error().domain, QStringLiteral("DataBaseEngine(Upgrad)"));
    EXPECT_EQ(noModels.error().code, 8001);
    EXPECT_EQ(noModels.error().message, QStringLiteral("No models found in bundle"));

    const Bundle modelsOnly(makeBundle({{QStringLiteral("DBModel.momd/DBModel 1.mom"), chainModelPath(1)},
                                        {QStringLiteral("DBModel.momd/DBModel 3.mom"), chainModelPath(3)}}));
    auto noMapping = DataBaseUpgrad::updateDataBase(store, model3, modelsOnly);
    ASSERT_FALSE(noMapping);
    EXPECT_EQ(noMapping.error().code, 8001);
    EXPECT_EQ(noMapping.error().message, QStringLiteral("No MappingModel found in bundle"));

    auto unreadable = DataBaseUpgrad::updateDataBase(store + QStringLiteral(".missing"), model3,
                                                     Bundle(fixture(QStringLiteral("ChainBundle"))));
    ASSERT_FALSE(unreadable);
    EXPECT_NE(unreadable.error().code, 8001) << "the store's own error is passed on";
}

TEST(MigrationManagerRelationships, EveryConditionItCannotAnswerIsAnErrorValue)
{
    const ModelPtr source = loadModel(fixture(QStringLiteral("DBModel 1.mom")));
    const ModelPtr destination = loadModel(currentModelPath());
    auto mapping = MappingModel::loadFile(fixture(QStringLiteral("DBModel 1 to DBModel 2.mapping")));
    ASSERT_TRUE(mapping && mapping->resolve(*source, *destination));
    ASSERT_TRUE(mapping->mappingForSource(QStringLiteral("DBFileInfo")));
    auto tag = Row::makeDefault(source->entity(QStringLiteral("DBTag")), 1);
    auto untouchedTag = Row::makeDefault(source->entity(QStringLiteral("DBTag")), 2);
    auto made = Row::makeDefault(destination->entity(QStringLiteral("DBTag")), 1);
    size_t madeCount = 1; // destination records made of the source tag 1
    // The answer for the file mapping with relationship mappings changed as given.
    auto answer = [&](const QString& name, const QHash<QString, QString>& changes = {}) {
        EntityMapping files = *mapping->mappingForSource(QStringLiteral("DBFileInfo"));
        for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
            if (it.value().isEmpty())
                files.relationshipMappings.remove(it.key());
            else
                files.relationshipMappings.insert(it.key(), it.value());
        }
        const MigrationManagerRelationships::Step step{
            &*mapping, &files, source.get(), destination.get(), [&](const EntityMapping&, const Row& instance) {
                return instance.pk == 1 ? std::vector<const Row*>(madeCount, made.get()) : std::vector<const Row*>{};
            }};
        return MigrationManagerRelationships::destinationInstancesForSourceRelationshipNamed(
            step, name, {tag.get(), untouchedTag.get()});
    };
    auto message = [&](auto result) { return result ? QStringLiteral("(answered)") : result.error().message; };

    EXPECT_EQ(answer(QStringLiteral("tags")).value_or(std::vector<const Row*>{}), std::vector<const Row*>{made.get()});
    auto unmapped = answer(QStringLiteral("tags"), {{QStringLiteral("tags"), QString()}});
    EXPECT_TRUE(unmapped && unmapped->empty());
    EXPECT_EQ(message(answer(QString())),
              QStringLiteral("Property mapping in DBFileInfoToDBFileInfo missing required source relationship name "
                             "argument to destinationInstancesForSourceRelationshipNamed:sourceInstances:"));
    EXPECT_EQ(message(answer(QStringLiteral("labels"))),
              QStringLiteral("Can't find relationship for name (labels) for entity (DBFileInfo) in source model."));
    EXPECT_EQ(message(answer(QStringLiteral("tags"), {{QStringLiteral("authors"), QStringLiteral("tags")}})),
              QStringLiteral("More than one property mapping (authors, tags) in DBFileInfoToDBFileInfo calls "
                             "destinationInstancesForSourceRelationshipNamed:sourceInstances: with the same source "
                             "relationship name tags, can't determine the correct destination relationship"));
    EXPECT_EQ(message(answer(QStringLiteral("tags"), {{QStringLiteral("tags"), QString()},
                                                      {QStringLiteral("labels"), QStringLiteral("tags")}})),
              QStringLiteral("Can't find relationship for name (labels) for entity (DBFileInfo) in destination model."));
    madeCount = 2;
    EXPECT_EQ(message(answer(QStringLiteral("tags"))),
              QStringLiteral("More than one destination instance found for source instance of type (DBTag) for "
                             "relationship mapping (tags)."));
}

TEST(LibraryUpgrade, AnOlderLibraryArrivesWithItsDataAndKeepsItsOldStore)
{
    OldLibrary old;
    const QByteArray oldStore = testsupport::readFile(old.store);
    const QString oldHash = loadModel(fixture(QStringLiteral("DBModel 1.mom")))->versionHash();
    const Bundle bundle(upgradeBundle(true));

    auto upgraded = LibraryUpgrade::upgradeLibrary(old.folder, bundle);
    ASSERT_TRUE(upgraded) << qPrintable(upgraded.error().toString());

    const ModelPtr current = loadModel(currentModelPath());
    auto metadata = PersistentStoreCoordinator::metadataForPersistentStore(old.store);
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->modelHash, current->versionHash()) << "library.db itself is the upgraded store";
    const QString backup = old.folder + QLatin1Char('/') + LibraryUpgrade::backupBaseName(QStringLiteral("library.db"), oldHash);
    EXPECT_EQ(testsupport::readFile(backup), oldStore) << "the old store is kept as it was";

    auto version = PropertyList::readFile(old.versionFile);
    ASSERT_TRUE(version);
    const QVariantMap map = version->toMap();
    EXPECT_EQ(map.value(QStringLiteral("version")).toDouble(), 2.0);
    EXPECT_EQ(map.value(QStringLiteral("name")).toString(), QStringLiteral("Folivo 2.0"));
    EXPECT_EQ(map.value(QStringLiteral("note")).toString(), QStringLiteral("kept"));

    {
        CoordinatorPtr coordinator;
        ContextPtr context = openContext(old.store, current, &coordinator);
        const auto tags = fetchAll(context, QStringLiteral("DBTag"));
        ASSERT_EQ(tags.size(), 1);
        EXPECT_EQ(tags[0]->valueForKey(QStringLiteral("name")).toString(), QStringLiteral("Work"));
        EXPECT_EQ(tags[0]->objects(QStringLiteral("fileInfos")).size(), 3);
        const auto nodes = fetchAll(context, QStringLiteral("DBNode"));
        ASSERT_EQ(nodes.size(), 1);
        EXPECT_EQ(nodes[0]->objects(QStringLiteral("files")).size(), 3);
    }

    // Upgrading again finds a current store: only the version is written, no second backup.
    const QStringList entries = old.entries();
    const QByteArray newStore = testsupport::readFile(old.store);
    ASSERT_TRUE(LibraryUpgrade::upgradeLibrary(old.folder, bundle));
    EXPECT_EQ(testsupport::readFile(old.store), newStore);
    EXPECT_EQ(old.entries(), entries);
}

namespace {

// The file system takes everything but the final rename of the upgraded store.
int refuseStoreSwap(const char* from, const char* to)
{
    if (std::strstr(from, ".upgrading-") && std::strstr(to, "/library.db")) {
        errno = EIO;
        return -1;
    }
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

} // namespace

TEST(LibraryUpgrade, AFailedUpgradeLeavesTheLibraryAsItWas)
{
    OldLibrary old;
    const QByteArray store = testsupport::readFile(old.store);
    const QByteArray version = testsupport::readFile(old.versionFile);
    const QStringList entries = old.entries();
    auto unchanged = [&](const char* what) {
        EXPECT_EQ(testsupport::readFile(old.store), store) << what;
        EXPECT_EQ(testsupport::readFile(old.versionFile), version) << what;
        EXPECT_EQ(old.entries(), entries) << what;
    };

    auto noMapping = LibraryUpgrade::upgradeLibrary(old.folder, Bundle(upgradeBundle(false)));
    ASSERT_FALSE(noMapping);
    EXPECT_EQ(noMapping.error().message, QStringLiteral("No MappingModel found in bundle"));
    unchanged("no mapping");

    const Bundle bundle(upgradeBundle(true));
    FileManager::setRenameFunctionForTesting(refuseStoreSwap);
    auto refused = LibraryUpgrade::upgradeLibrary(old.folder, bundle);
    FileManager::setRenameFunctionForTesting(nullptr);
    ASSERT_FALSE(refused);
    unchanged("the new store could not take the old one's place");

    testsupport::writeFile(old.versionFile, "not a property list");
    auto damaged = LibraryUpgrade::upgradeLibrary(old.folder, bundle);
    ASSERT_FALSE(damaged);
    EXPECT_EQ(testsupport::readFile(old.store), store);
    EXPECT_EQ(testsupport::readFile(old.versionFile), QByteArray("not a property list"));

    const QString noStore = testsupport::makeTempDir(QStringLiteral("nostore"));
    EXPECT_FALSE(LibraryUpgrade::upgradeLibrary(noStore, bundle));
    EXPECT_FALSE(QFileInfo::exists(noStore + QStringLiteral("/version.plist"))) << "no version for a library without a store";
    EXPECT_FALSE(LibraryUpgrade::upgradeLibrary(noStore + QStringLiteral("/missing"), bundle));
}
