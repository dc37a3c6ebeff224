#include "IndexTestSupport.h"
#include "Support/TestSupport.h"
#include "Search/KPIndexManager.h"
#include "Search/KPIndexSearchObject.h"

#include <gtest/gtest.h>

namespace {

QString query(bool all, const QStringList& strings)
{
    return KPIndexSearchObject::queryStringFromValues({{"Operation", all}, {"Value", strings}});
}

TEST(KPIndexSearchObjectQuery, ValuesBecomeAllOrAnyQueries)
{
    EXPECT_EQ(query(true, {"report", "annual plan"}), "report \"annual plan\"");
    EXPECT_EQ(query(true, {"a,b", "c"}), "a b c");
    EXPECT_EQ(query(true, {"tab\there"}), "\"tab\there\"");
    EXPECT_EQ(query(false, {"a,b", "c"}), "(a b) OR (c) ");
    EXPECT_EQ(query(false, {"new york,tax"}), "(\"new york\" tax) ");
    EXPECT_EQ(query(true, {}), "");
    EXPECT_EQ(query(false, {}), "");
    // A quote inside a value would close the phrase early and leave a dangling one.
    EXPECT_EQ(query(true, {"say \"hi\" now", "x\"y"}), "\"say hi now\" xy");
}

struct Calls {
    QList<QVariantMap> hits;
    int batches = 0;
    int finals = 0;
    int batchesAfterCancel = 0;
    bool cancelled = false;
};

class KPIndexSearchObjectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        indextest::drainMainQueue();
        m_dir = testsupport::makeTempDir(QStringLiteral("search"));
        m_manager = std::make_unique<KPIndexManager>(m_dir + "/Index/contentIndex.index", m_store);
    }

    void addDocuments(int count, const QString& text, const QString& prefix = QStringLiteral("u"))
    {
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(m_manager->indexRef()->addDocument(QStringLiteral("file:///%1/%2").arg(prefix).arg(i), text,
                                                           QStringLiteral("%1-%2").arg(prefix).arg(i)));
        ASSERT_TRUE(m_manager->indexRef()->flush());
    }

    // Starts the search; the block records every call and may cancel after the first batch.
    std::shared_ptr<Calls> start(const std::shared_ptr<KPIndexSearchObject>& search, bool cancelAfterFirstBatch = false)
    {
        auto calls = std::make_shared<Calls>();
        search->setIndexManager(m_manager.get());
        search->searchByProgressBlock([calls, cancelAfterFirstBatch](const auto& s, const QVariantList& hits, bool finished) {
            EXPECT_EQ(finished, hits.isEmpty());
            if (finished) {
                ++calls->finals;
                return;
            }
            calls->batchesAfterCancel += calls->cancelled ? 1 : 0;
            ++calls->batches;
            EXPECT_LE(hits.size(), KPIndexSearchObject::kBatchSize);
            for (const QVariant& hit : hits)
                calls->hits.append(hit.toMap());
            if (cancelAfterFirstBatch && !calls->cancelled) {
                calls->cancelled = true;
                s->cancel();
            }
        });
        return calls;
    }
    Calls run(const std::shared_ptr<KPIndexSearchObject>& search, bool cancelAfterFirstBatch = false)
    {
        auto calls = start(search, cancelAfterFirstBatch);
        EXPECT_TRUE(testsupport::spinUntil([&] { return calls->finals > 0; }));
        indextest::drainMainQueue(); // nothing may follow the final call
        return *calls;
    }
    Calls run(const QString& text) { return run(KPIndexSearchObject::initWithQueryString(text)); }

    QString m_dir;
    std::shared_ptr<indextest::MemoryRecordStore> m_store = std::make_shared<indextest::MemoryRecordStore>();
    std::unique_ptr<KPIndexManager> m_manager;
};

TEST_F(KPIndexSearchObjectTest, HitsArriveInBatchesThenOneFinalCall)
{
    addDocuments(250, "shared word");
    const Calls calls = run("shared");
    EXPECT_EQ(calls.finals, 1);
    EXPECT_GE(calls.batches, 3);
    ASSERT_EQ(calls.hits.size(), 250);
    EXPECT_TRUE(calls.hits.first().value("URI").toString().startsWith("u-"));
    EXPECT_GE(calls.hits.first().value("SKID").toULongLong(), 1u);

    const Calls none = run("absent");
    EXPECT_EQ(none.finals, 1);
    EXPECT_EQ(none.batches, 0);
}

TEST_F(KPIndexSearchObjectTest, WithoutAnIndexTheCallerStillGetsItsFinalCall)
{
    testsupport::writeFile(m_dir + "/blocked", "file");
    m_manager = std::make_unique<KPIndexManager>(m_dir + "/blocked/Index/contentIndex.index", m_store);
    ASSERT_EQ(m_manager->indexRef(), nullptr);
    const Calls calls = run("anything");
    EXPECT_EQ(calls.finals, 1);
    EXPECT_EQ(calls.batches, 0);
}

TEST_F(KPIndexSearchObjectTest, CancelStopsBatchesButKeepsTheFinalCall)
{
    addDocuments(1000, "many");
    const Calls calls = run(KPIndexSearchObject::initWithQueryString("many"), true);
    EXPECT_EQ(calls.finals, 1);
    EXPECT_EQ(calls.batches, 1);
    EXPECT_EQ(calls.batchesAfterCancel, 0);

    auto early = KPIndexSearchObject::initWithQueryString("many");
    early->cancel();
    const Calls none = run(early);
    EXPECT_EQ(none.finals, 1);
    EXPECT_EQ(none.batches, 0);
}

TEST_F(KPIndexSearchObjectTest, OneRecordIsOneHitWhateverNumberOfIndexDocumentsNamesIt)
{
    auto index = m_manager->indexRef();
    ASSERT_TRUE(index->addDocument("file:///old/a.pdf", "twin", "record-1"));
    ASSERT_TRUE(index->addDocument("file:///new/a.pdf", "twin", "record-1"));
    ASSERT_TRUE(index->addDocument("file:///b.pdf", "twin", "record-2"));
    ASSERT_TRUE(index->flush());
    QStringList uris;
    for (const QVariantMap& hit : run("twin").hits)
        uris.append(hit.value("URI").toString());
    uris.sort();
    EXPECT_EQ(uris, (QStringList{"record-1", "record-2"}));
}

TEST_F(KPIndexSearchObjectTest, QueriesFromValuesAndHostileTextNeverFail)
{
    auto index = m_manager->indexRef();
    ASSERT_TRUE(index->addDocument("file:///1", "the annual plan and a report", "one"));
    ASSERT_TRUE(index->addDocument("file:///2", "a plan for the year", "two"));
    ASSERT_TRUE(index->flush());

    const Calls all = run(KPIndexSearchObject::initWithQueryValues({{"Operation", true}, {"Value", QStringList{"report", "annual plan"}}}));
    ASSERT_EQ(all.hits.size(), 1);
    EXPECT_EQ(all.hits.first().value("URI").toString(), "one");
    EXPECT_EQ(run(KPIndexSearchObject::initWithQueryValues({{"Operation", false}, {"Value", QStringList{"year", "report"}}})).hits.size(), 2);

    for (const char* hostile : {"C++", "foo:bar", "a-b", "\"unbalanced", "((plan", "NOT", "pl*", ""})
        EXPECT_EQ(run(hostile).finals, 1) << hostile;
}

TEST_F(KPIndexSearchObjectTest, SearchesWhileTheWorkerIndexes)
{
    addDocuments(5, "settled text", "old");
    for (int i = 0; i < 400; ++i) {
        testsupport::writeFile(m_dir + QStringLiteral("/docs/%1.txt").arg(i), "incoming text");
        m_store->add(m_dir + QStringLiteral("/docs/%1.txt").arg(i));
    }
    std::shared_ptr<Calls> calls;
    auto token = platform::NotificationCenter::defaultCenter().addObserver("KPIndexManagerIndexing", [&](const auto&) {
        if (!calls)
            calls = start(KPIndexSearchObject::initWithQueryString("settled"));
    });
    m_manager->buildNeedIndexItem();
    ASSERT_TRUE(testsupport::spinUntil([&] { return calls && calls->finals == 1; }));
    EXPECT_EQ(calls->hits.size(), 5);
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_store->noneWaiting(); }));
}

} // namespace
