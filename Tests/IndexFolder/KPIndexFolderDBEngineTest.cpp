#include "IndexFolderTestSupport.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <thread>

using namespace indexfoldertest;
using platform::ContextPtr;
using platform::Predicate;

using IndexFolderStore = LibraryFixture;

TEST_F(IndexFolderStore, UnsignedNumbersReadBackExactlyAfterARestart)
{
    const quint64 bigUUID = (quint64(1) << 63) + 12345;
    const quint64 maxFolderID = ~quint64(0);
    auto saved = engine->saveDataWithBlock([&](const ContextPtr& context) {
        auto row = engine->createNewRecordByName(IFFileItem::kEntityName, context);
        IFFileItem item;
        item.folder = "/r/Docs";
        item.folderID = maxFolderID;
        item.fileName = "a.pdf";
        item.fileID = 4000000000u;
        item.uuid = bigUUID;
        item.date = at(5);
        item.tags = "Work,Urgent";
        ASSERT_TRUE(item.writeTo(*row));
    });
    ASSERT_TRUE(saved);
    restart();

    const auto rows = engine->queryRecordByName(IFFileItem::kEntityName);
    ASSERT_EQ(rows.size(), 1);
    const IFFileItem item = IFFileItem::read(*rows.front());
    EXPECT_EQ(item.fileID, std::optional<quint32>(4000000000u));
    EXPECT_EQ(item.uuid, bigUUID);
    EXPECT_EQ(item.folderID, maxFolderID);
    EXPECT_EQ(item.date, at(5));
    EXPECT_EQ(item.tags, std::optional<QString>("Work,Urgent"));
    EXPECT_EQ(item.fullPath(), "/r/Docs/a.pdf");

    // Look-ups by those numbers find the row too.
    auto byUUID = Predicate::format("uuid == %@", {QVariant::fromValue(bigUUID)});
    ASSERT_TRUE(byUUID);
    EXPECT_EQ(engine->countByObject(IFFileItem::kEntityName, *byUUID), 1);
}

TEST_F(IndexFolderStore, RemovedRowsStayForTheRunAndArePurgedAtTheNextStart)
{
    addRow(*engine, "/r/Docs/kept.pdf", 1, at(0));
    addRow(*engine, "/r/Docs/gone.pdf", 2, at(0), "", true);
    EXPECT_EQ(engine->countByObject(IFFileItem::kEntityName), 2);

    restart();
    const auto rows = engine->queryRecordByName(IFFileItem::kEntityName);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(IFFileItem::read(*rows.front()).fileName, "kept.pdf");
}

TEST_F(IndexFolderStore, SavesFromAnotherThreadReachTheStore)
{
    platform::Result<void> saved;
    std::thread worker([&] {
        saved = engine->saveDataWithBlock([&](const ContextPtr& context) {
            auto row = engine->createNewRecordByName(IFFolderItem::kEntityName, context);
            row->setValueForKey("/r/Docs", IFFolderItem::kPath);
            row->setValueForKey(QVariant::fromValue(indexFolderIDForPath("/r/Docs")), IFFolderItem::kFolderID);
        });
    });
    worker.join();
    ASSERT_TRUE(saved);
    EXPECT_EQ(engine->countByObject(IFFolderItem::kEntityName), 1);
    bool sawMain = false;
    engine->lookupWithBlock([&](const ContextPtr& context) { sawMain = context == engine->mainContext(); });
    EXPECT_TRUE(sawMain);
}

TEST(IndexFolderStoreUpgrade, AStoreOfTheFirstModelOpensWithItsRowsAndNoVolumeRecorded)
{
    // The first model, as the version before this one shipped it.
    const QString shipped = platform::Bundle::mainBundle().pathForResource("IndexFolderModel", "momd");
    ASSERT_FALSE(shipped.isEmpty());
    const QString first = testsupport::makeTempDir("model") + "/IndexFolderModel.momd";
    ASSERT_TRUE(QDir().mkpath(first));
    ASSERT_TRUE(QFile::copy(shipped + "/IndexFolderModel 1.mom", first + "/IndexFolderModel 1.mom"));
    testsupport::writeFile(first + "/VersionInfo.plist",
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                           "<key>CurrentVersion</key><string>IndexFolderModel 1</string></dict></plist>\n");

    const QString library = testsupport::makeTempDir("old-library");
    {
        KPIndexFolderDBEngine old(library, first);
        ASSERT_TRUE(old.hasStore());
        addRow(old, "/r/Docs/a.pdf", 4000000000u, at(1), "Work");
        ASSERT_TRUE(old.saveDataWithBlock([&](const ContextPtr& context) {
            auto row = old.createNewRecordByName(IFFolderItem::kEntityName, context);
            row->setValueForKey("/r/Docs", IFFolderItem::kPath);
        }));
    }

    {
        KPIndexFolderDBEngine engine(library);
        ASSERT_TRUE(engine.hasStore());
        const auto rows = engine.queryRecordByName(IFFileItem::kEntityName);
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(IFFileItem::read(*rows.front()).fileID, std::optional<quint32>(4000000000u));
        EXPECT_EQ(IFFileItem::read(*rows.front()).tags, std::optional<QString>("Work"));
        EXPECT_FALSE(IFFileItem::read(*rows.front()).changeTime) << "its tags were read at no known time";
        auto volume = IFFolderItem::rememberedVolume(engine, "/r/Docs", engine.mainContext());
        ASSERT_TRUE(volume);
        EXPECT_FALSE(*volume);

        // Recorded once, it stays, on the folder's one row.
        ASSERT_TRUE(IFFolderItem::rememberVolume(engine, "/r/Docs", {(quint64(1) << 63) + 3, true}));
        ASSERT_TRUE(IFFolderItem::rememberVolume(engine, "/r/Other", {8, false}));
    }
    KPIndexFolderDBEngine again(library);
    auto volume = IFFolderItem::rememberedVolume(again, "/r/Docs", again.mainContext());
    ASSERT_TRUE(volume && *volume);
    EXPECT_EQ(**volume, (KPFileNode::Volume{(quint64(1) << 63) + 3, true}));
    EXPECT_EQ(again.countByObject(IFFolderItem::kEntityName), 2);
}

TEST_F(IndexFolderStore, ClosingLeavesEveryRowInTheStoreFileAlone)
{
    for (quint32 id = 1; id <= 50; ++id)
        addRow(*engine, QStringLiteral("/r/Docs/f%1.pdf").arg(id), id, at(0));
    // A change still pending in the main context is saved on the way.
    auto folder = engine->createNewRecordByName(IFFolderItem::kEntityName);
    folder->setValueForKey("/r/Docs", IFFolderItem::kPath);
    folder->setValueForKey(QVariant::fromValue(indexFolderIDForPath("/r/Docs")), IFFolderItem::kFolderID);
    const QString store = engine->storePath();
    ASSERT_GT(QFileInfo(store + "-wal").size(), 0) << "the saves sit in the log until the store is closed";

    ASSERT_TRUE(engine->close());
    EXPECT_EQ(QFileInfo(store + "-wal").size(), 0) << "no log, or an empty one";
    EXPECT_FALSE(engine->hasStore());
    EXPECT_FALSE(engine->fetchRecordsByName(IFFileItem::kEntityName)) << "a closed store is not read as empty";
    EXPECT_FALSE(engine->saveDataWithBlock([&](const ContextPtr& context) {
        engine->createNewRecordByName(IFFileItem::kEntityName, context);
    }, [](const platform::Error&) {}));

    // The store file copied alone, as a backup would.
    const QString copy = testsupport::makeTempDir("copy");
    ASSERT_TRUE(QDir().mkpath(copy + "/Index"));
    ASSERT_TRUE(QFile::copy(store, KPIndexFolderDBEngine::storePathForLibrary(copy)));
    KPIndexFolderDBEngine copied(copy);
    EXPECT_EQ(copied.countByObject(IFFileItem::kEntityName), 50);
    EXPECT_EQ(copied.countByObject(IFFolderItem::kEntityName), 1);
}

TEST(IndexFolderStoreFailure, AStoreThatCannotBeOpenedRefusesReadsAndSaves)
{
    const QString library = testsupport::makeTempDir("broken");
    testsupport::writeFile(library + "/Index", "a file where the folder should be");
    KPIndexFolderDBEngine engine(library);
    EXPECT_FALSE(engine.hasStore());

    EXPECT_FALSE(engine.fetchRecordsByName(IFFileItem::kEntityName));
    EXPECT_TRUE(engine.queryRecordByName(IFFileItem::kEntityName).isEmpty());

    int handled = 0;
    auto saved = engine.saveDataWithBlock(
        [&](const ContextPtr& context) { engine.createNewRecordByName(IFFileItem::kEntityName, context); },
        [&](const platform::Error&) { ++handled; });
    EXPECT_FALSE(saved);
    EXPECT_EQ(handled, 1);
}
