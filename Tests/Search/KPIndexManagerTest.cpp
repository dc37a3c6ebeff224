#include "IndexTestSupport.h"
#include "Support/TestSupport.h"
#include "Search/KPIndexManager.h"

#include "../Platform/Content/ContentFixtures.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

namespace {

using Records = QList<qint64>;

class KPIndexManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        indextest::drainMainQueue();
        m_dir = testsupport::makeTempDir(QStringLiteral("index"));
    }

    std::unique_ptr<KPIndexManager> makeManager(const QString& path = {})
    {
        return std::make_unique<KPIndexManager>(path.isEmpty() ? m_dir + "/Index/contentIndex.index" : path, m_store);
    }
    // A document file with the given bytes, waiting in the store.
    int add(const QString& name, const QByteArray& bytes)
    {
        testsupport::writeFile(m_dir + "/docs/" + name, bytes);
        return m_store->add(m_dir + "/docs/" + name);
    }
    qint64 state(int id) const { return m_store->state(id); }
    // The index documents whose text matches the query.
    static Records find(const KPIndexManager& manager, const QString& query)
    {
        Records ids;
        auto search = manager.indexRef()->search(query);
        for (bool more = true; search && more;) {
            auto batch = (*search)->findMatches(100, std::chrono::seconds(10));
            more = batch && batch->more;
            for (const auto& hit : batch ? batch->hits : std::vector<platform::TextIndexHit>())
                ids.append(hit.documentID);
        }
        return ids;
    }
    static qint64 count(const KPIndexManager& manager) { return manager.indexRef()->documentCount().value_or(-1); }

    QString m_dir;
    std::shared_ptr<indextest::MemoryRecordStore> m_store = std::make_shared<indextest::MemoryRecordStore>();
};

TEST_F(KPIndexManagerTest, IndexesEachKindAndMarksImagesAndBrokenFiles)
{
    const int english = add("report.txt", "The quarterly report shows growth");
    const int french = add("lettre.txt", QStringLiteral("Le café était fermé à Noël").toUtf8());
    const int german = add("brief.html", QStringLiteral("<p>Grüße aus München</p><script>hidden()</script>").toUtf8());
    const int rtf = add("memo.rtf", "{\\rtf1\\ansi {\\fonttbl\\f0 Helvetica;} \\f0 budget meeting}");
    const int pdf = add("scan.pdf", contentfixtures::pdfBytes({QStringLiteral("invoice zebra")}));
    const int mail = add("note.eml", "From: a@example.org\r\nSubject: lunch\r\n\r\nBring the sandwiches\r\n");
    const int jpg = add("photo.JPG", contentfixtures::jpegBytes(QImage(8, 8, QImage::Format_RGB32)));
    const int png = add("shot.png", contentfixtures::pngBytes(QImage(8, 8, QImage::Format_ARGB32)));
    const int broken = add("broken.pdf", "%PDF-1.4\n1 0 obj garbage");
    const int missing = m_store->add(m_dir + "/docs/gone.txt");

    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_store->noneWaiting(); }));
    EXPECT_EQ(state(jpg), -3);
    EXPECT_EQ(state(png), -3);
    EXPECT_EQ(state(broken), -2);
    EXPECT_EQ(state(missing), -2);
    EXPECT_EQ(count(*manager), 6);

    // Each index document carries its record's URI and is found by its own words, accents
    // and case folded; script text and images are not in the index.
    EXPECT_EQ(manager->indexRef()->documentProperties(state(pdf))->value("URI").toString(), m_store->uri(pdf));
    EXPECT_EQ(find(*manager, "zebra"), Records{state(pdf)});
    EXPECT_EQ(find(*manager, "CAFE noel"), Records{state(french)});
    EXPECT_EQ(find(*manager, "munchen"), Records{state(german)});
    EXPECT_EQ(find(*manager, "budget"), Records{state(rtf)});
    EXPECT_EQ(find(*manager, "sandwiches"), Records{state(mail)});
    EXPECT_EQ(find(*manager, "quarter*"), Records{state(english)});
    EXPECT_TRUE(find(*manager, "hidden").isEmpty());
}

TEST_F(KPIndexManagerTest, LargeBacklogGoesInPassesOfThreeHundred)
{
    for (int i = 0; i < 650; ++i)
        add(QStringLiteral("n%1.txt").arg(i), "note " + QByteArray::number(i));
    indextest::PostCounter indexing(QStringLiteral("KPIndexManagerIndexing"));
    indextest::PostCounter finished(QStringLiteral("KPIndexManagerIndexFinished"));
    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_store->noneWaiting() && finished.count >= 3; }, 120000));
    EXPECT_EQ(m_store->passSizes, (std::vector<int>{300, 300, 50}));
    EXPECT_EQ(indexing.count, 3);
    EXPECT_EQ(m_store->writeCalls.load(), 3); // passes of 300 never reach the intermediate write
    EXPECT_EQ(count(*manager), 650);
}

TEST_F(KPIndexManagerTest, WorkHandedOverWhileTheWorkerIdlesOrEndsIsNeverLost)
{
    const int first = add("a.txt", "alpha");
    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(first) >= 1; }));
    // An import during the worker's idle time: it must look at the store again.
    const int second = add("b.txt", "beta");
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(second) >= 1; }));

    // Records sent from many threads while workers start and end are all taken.
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
        senders.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                manager->addRecord({{"Type", "Delete"}, {"DocumentID", 999999}});
        });
    for (auto& sender : senders)
        sender.join();
    manager->addRecord({{"Type", "Delete"}, {"DocumentID", state(first)}});
    ASSERT_TRUE(testsupport::spinUntil([&] { return manager->queuedRecordCount() == 0 && count(*manager) == 1; }));
}

TEST_F(KPIndexManagerTest, FailingResultWritesDoNotLoopForever)
{
    for (int i = 0; i < 5; ++i)
        add(QStringLiteral("f%1.txt").arg(i), "disk full");
    m_store->failWrites = true;
    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !manager->isRunning(); }, 60000));
    EXPECT_EQ(m_store->writeCalls.load(), 1); // then set aside for this worker's life
    EXPECT_FALSE(m_store->noneWaiting());

    // The next build tries again; the documents keep their index documents.
    m_store->failWrites = false;
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_store->noneWaiting(); }));
    EXPECT_EQ(count(*manager), 5);
}

TEST_F(KPIndexManagerTest, AnIndexThatCannotBeOpenedLeavesDocumentsWaiting)
{
    testsupport::writeFile(m_dir + "/lib", "a file where the library folder should be");
    const int doc = add("w.txt", "waiting");
    auto manager = makeManager(m_dir + "/lib/Index/contentIndex.index");
    EXPECT_EQ(manager->indexRef(), nullptr);
    qint64 id = -2;
    EXPECT_FALSE(manager->buildIndexofFilePath(m_dir + "/docs/w.txt", "u", id));
    EXPECT_EQ(id, -2);
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(state(doc), -1);

    // Once the library folder is usable, the next build opens the index.
    ASSERT_TRUE(QFile::remove(m_dir + "/lib") && QDir().mkdir(m_dir + "/lib"));
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(doc) >= 1; }));
}

TEST_F(KPIndexManagerTest, ReindexingReplacesTextAndAMovedDocumentLeavesNoStaleHit)
{
    const int doc = add("r.txt", "first draft");
    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(doc) >= 1; }));
    const qint64 firstID = state(doc);

    // A modified document goes back to waiting and keeps its ID.
    testsupport::writeFile(m_dir + "/docs/r.txt", "second version");
    m_store->setState(doc, -1);
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(doc) >= 1; }));
    EXPECT_EQ(state(doc), firstID);
    EXPECT_TRUE(find(*manager, "draft").isEmpty());
    EXPECT_EQ(find(*manager, "second"), Records{firstID});

    // Indexed again under a new path: the old index document would be a second hit.
    testsupport::writeFile(m_dir + "/docs/moved.txt", "second version");
    manager->addRecord({{"Type", "New"}, {"ID", doc}, {"Path", m_dir + "/docs/moved.txt"}, {"URI", m_store->uri(doc)},
                        {"SKID", firstID}});
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(doc) > firstID; }));
    EXPECT_EQ(count(*manager), 1);
}

TEST_F(KPIndexManagerTest, ADocumentThatLeavesTheLibraryWhileItIsReadLeavesNoTextInTheIndex)
{
    const int kept = add("kept.txt", "kept shared words");
    const int leaving = add("leaving.txt", "leaving shared words Qwopzarkle");
    m_store->removeOnceFetched(leaving);
    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_store->noneWaiting() && state(kept) > 0; }));
    ASSERT_TRUE(testsupport::spinUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(find(*manager, "qwopzarkle"), Records());
    EXPECT_EQ(find(*manager, "shared"), Records{state(kept)});
    EXPECT_EQ(count(*manager), 1);
    manager->shutdown();
    const QString index = m_dir + "/Index/contentIndex.index";
    EXPECT_FALSE(testsupport::readFile(index).toLower().contains("qwopzarkle")) << "its words stay in the file";
}

TEST_F(KPIndexManagerTest, RebuildEmptiesTheIndexAndNeverReusesIds)
{
    const int text = add("a.txt", "apple");
    const int image = add("b.png", contentfixtures::pngBytes(QImage(4, 4, QImage::Format_ARGB32)));
    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_store->noneWaiting(); }));
    const qint64 oldID = state(text);

    manager->rebuildAndWait(); // on the main thread: nothing happens
    EXPECT_EQ(state(text), oldID);
    EXPECT_EQ(count(*manager), 1);

    std::atomic<bool> done{false};
    std::thread worker([&] { manager->rebuildAndWait(), done = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(state(image), -3);
    EXPECT_FALSE(manager->isCancel());
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(text) > oldID; }));

    // A stale "Delete" for the old ID (from a search that ran during the rebuild) hits nothing.
    manager->addRecord({{"Type", "Delete"}, {"DocumentID", oldID}});
    ASSERT_TRUE(testsupport::spinUntil([&] { return manager->queuedRecordCount() == 0; }));
    EXPECT_EQ(count(*manager), 1);
}

TEST_F(KPIndexManagerTest, ADamagedIndexIsReplacedAndEverythingIsIndexedAgain)
{
    testsupport::writeFile(m_dir + "/Index/contentIndex.index", QByteArray(4096, 'x'));
    const int doc = add("d.txt", "damaged");
    m_store->setState(doc, 41); // an ID of the lost file
    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return state(doc) > 41; }));
    EXPECT_EQ(find(*manager, "damaged"), Records{state(doc)});
}

} // namespace

TEST_F(KPIndexManagerTest, AfterShutdownNoWorkerTouchesTheIndexAgain)
{
    for (int i = 0; i < 400; ++i)
        add(QStringLiteral("s%1.txt").arg(i), "word " + QByteArray::number(i));
    auto manager = makeManager();
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_store->writeCalls.load() > 0 || count(*manager) > 0; }));
    manager->shutdown();
    // Returned only once the worker ended: the index can be closed now and stays as it is.
    EXPECT_FALSE(manager->isRunning());
    const qint64 indexed = count(*manager);
    manager->buildNeedIndexItem();
    manager->addRecord({{"Type", "Delete"}, {"DocumentID", 1}});
    manager->rebuildAndWait(); // on the main thread a no-op anyway; from a worker it must be refused too
    std::thread([&] { manager->rebuildAndWait(); }).join();
    EXPECT_FALSE(manager->isRunning());
    EXPECT_EQ(count(*manager), indexed);
}

namespace {

// The first answer of sql on its own connection to the file, or -1.
qint64 queryFile(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    qint64 value = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            value = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return value;
}

} // namespace

TEST_F(KPIndexManagerTest, TheWorkerSplitsAnIndexWrittenAsOneTable)
{
    // An index of the first schema, its text in one FTS5 table, as an earlier version left it.
    ASSERT_TRUE(QDir(m_dir).mkpath("Index"));
    const QString path = m_dir + "/Index/contentIndex.index";
    QByteArray script = "PRAGMA auto_vacuum = INCREMENTAL; PRAGMA journal_mode = WAL; BEGIN;"
                        "CREATE TABLE meta (key TEXT PRIMARY KEY, value);"
                        "INSERT INTO meta (key, value) VALUES ('schemaVersion', 1);"
                        "CREATE TABLE docs (id INTEGER PRIMARY KEY AUTOINCREMENT, url TEXT UNIQUE NOT NULL, uri TEXT NOT NULL);"
                        "CREATE VIRTUAL TABLE fts USING fts5(body, tokenize = 'unicode61 remove_diacritics 2');"
                        "PRAGMA application_id = 1179407448;";
    for (int i = 1; i <= 900; ++i) {
        const QByteArray n = QByteArray::number(i);
        script += "INSERT INTO docs (id, url, uri) VALUES (" + n + ", 'file:///old" + n + "', 'x-store://old" + n + "');"
                  "INSERT INTO fts (rowid, body) VALUES (" + n + ", 'earlier text item" + n + "');";
    }
    script += "COMMIT;";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, script.constData(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);

    const int waiting = add("fresh.txt", "fresh words");
    auto manager = makeManager(path);
    manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_store->noneWaiting(); }));
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return queryFile(path, "SELECT count(*) FROM sqlite_master WHERE name = 'fts'") == 0;
    })) << "the old table is still there";
    EXPECT_EQ(find(*manager, "earlier").size(), 900);
    EXPECT_EQ(find(*manager, "item450"), Records{450});
    EXPECT_EQ(find(*manager, "fresh"), Records{state(waiting)});
    EXPECT_EQ(count(*manager), 901);
}
