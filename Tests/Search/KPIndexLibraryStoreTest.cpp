#include "LibraryFixture.h"
#include "Search/KPIndexLibraryStore.h"
#include "Search/KPIndexManager.h"

#include "../Platform/Content/ContentFixtures.h"

#include <QImage>
#include <thread>

namespace {

class KPIndexLibraryStoreTest : public libraryfixture::LibraryTest {
protected:
    std::unique_ptr<KPIndexManager> makeManager()
    {
        return std::make_unique<KPIndexManager>(files->contentIndexFile(), std::make_shared<KPIndexLibraryStore>());
    }
};

TEST_F(KPIndexLibraryStoreTest, ImportedDocumentsGetTheirStatesAndPermanentUris)
{
    // Nothing is saved: the worker sees the documents with their temporary IDs.
    const DBFileInfo pdf = addDocument(QStringLiteral("paper.pdf"), contentfixtures::pdfBytes({QStringLiteral("ocelot")}));
    const DBFileInfo jpg = addDocument(QStringLiteral("photo.JPG"), contentfixtures::jpegBytes(QImage(8, 8, QImage::Format_RGB32)));
    const DBFileInfo png = addDocument(QStringLiteral("shot.png"), contentfixtures::pngBytes(QImage(8, 8, QImage::Format_ARGB32)));
    const DBFileInfo mail = addDocument(QStringLiteral("m.eml"), "Subject: hi\r\n\r\nplatypus\r\n");
    const DBFileInfo trashed = addDocument(QStringLiteral("t.txt"), "binned", true);
    ASSERT_TRUE(pdf.objectID().isTemporaryID());

    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(pdf) >= 1 && state(mail) >= 1 && state(png) == -3; }));
    EXPECT_EQ(state(jpg), -3);
    EXPECT_EQ(state(trashed), -1);
    EXPECT_EQ(manager->indexRef()->documentCount().value_or(-1), 2);

    // The URI in the index names the record for good, and the store resolves it.
    const QString uri = manager->indexRef()->documentProperties(state(pdf))->value(QStringLiteral("URI")).toString();
    EXPECT_FALSE(pdf.objectID().isTemporaryID());
    EXPECT_EQ(uri, pdf.URIString());
    EXPECT_EQ(engine->coordinator()->managedObjectIDForURIRepresentation(uri), pdf.objectID());
}

TEST_F(KPIndexLibraryStoreTest, RebuildSetsEveryDocumentButImagesWaitingAndIndexesAgain)
{
    DBFileInfo text = addDocument(QStringLiteral("a.txt"), "aardvark");
    const DBFileInfo image = addDocument(QStringLiteral("b.bmp"), "BM");
    DBFileInfo binned = addDocument(QStringLiteral("c.txt"), "binned");
    ASSERT_TRUE(KPContextHelper::save(engine->context()));
    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(text) >= 1 && state(binned) >= 1 && state(image) == -3; }));
    const qint64 oldID = state(text);
    const qint64 binnedID = state(binned);
    binned.setIsTrash(true);

    std::atomic<bool> done{false};
    std::thread worker([&] {
        manager->rebuildAndWait();
        done = true;
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return done.load(); }));
    worker.join();

    ASSERT_TRUE(testsupport::spinUntil([&] { return state(text) > oldID; }));
    EXPECT_EQ(state(image), -3);
    // The trashed document is gone from the new index: it waits until it leaves the trash.
    EXPECT_EQ(state(binned), -1);
    binned.setIsTrash(false);
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(binned) > binnedID; }));
}

TEST_F(KPIndexLibraryStoreTest, HighestIdComesFromTheStore)
{
    const DBFileInfo a = addDocument(QStringLiteral("a.txt"), "a");
    const DBFileInfo b = addDocument(QStringLiteral("b.txt"), "b");
    DBDocumentIndex(a.documentIndex()).setSkDocumentID(17);
    DBDocumentIndex(b.documentIndex()).setSkDocumentID(-3);
    KPIndexLibraryStore store;
    qint64 highest = 0;
    std::thread worker([&] { highest = store.highestDocumentID(); });
    worker.join();
    EXPECT_EQ(highest, 17);
}

// At start-up the indexer asks for waiting documents; with none waiting, that costs no table.
TEST_F(KPIndexLibraryStoreTest, LookUpOfWaitingDocumentsReadsNoTableWhenNoneWait)
{
    const DBFileInfo a = addDocument(QStringLiteral("a.txt"), "a");
    const DBFileInfo b = addDocument(QStringLiteral("b.txt"), "b");
    DBDocumentIndex(a.documentIndex()).setSkDocumentID(17);
    DBDocumentIndex(b.documentIndex()).setSkDocumentID(-3);
    const auto reopen = [&] {
        ASSERT_TRUE(KPContextHelper::save(engine->context()));
        TearDown();
        engine = libraryfixture::openLibrary(library);
    };
    const auto waiting = [] {
        platform::Result<QVariantList> found;
        std::thread worker([&] { found = KPIndexLibraryStore().fetchWaitingRecords(10); });
        worker.join();
        return found.value_or(QVariantList{QStringLiteral("failed")}).size();
    };
    const auto loaded = [&](const QString& entity) {
        return engine->coordinator()->isTableLoaded(engine->coordinator()->model()->entity(entity));
    };
    reopen();
    EXPECT_EQ(waiting(), 0);
    EXPECT_FALSE(loaded(DBDocumentIndex::entityName()));
    EXPECT_FALSE(loaded(DBFileInfo::entityName()));

    const auto all = engine->context()->executeFetchRequest(platform::FetchRequest(DBDocumentIndex::entityName()));
    ASSERT_TRUE(all && all->size() == 2);
    for (const auto& record : *all)
        DBDocumentIndex(record).setSkDocumentID(-1);
    reopen();
    EXPECT_EQ(waiting(), 2);
}

} // namespace
