// Filters answered by SQLite while their table is not in memory: a generated library asked the
// same questions both ways must give the same answers (nil, sub-entities, limits, odd values
// another writer left in a column), without reading a table whose filter nothing passes.
#include "StoreTestSupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <sqlite3.h>

using namespace platform;
using namespace storetest;

namespace {

const QString nodeEntity = QStringLiteral("DBNode");
const QString smartEntity = QStringLiteral("DBSmartFolder");

// Predicates over DBNode's whole-number and boolean attributes, nil and edge values included.
const QStringList kFilters = {
    QString(),
    QStringLiteral("isTrash == YES"),
    QStringLiteral("isTrash == NO"),
    QStringLiteral("isTrash == nil"),
    QStringLiteral("isTrash != nil"),
    QStringLiteral("isTrash != YES"),
    QStringLiteral("expand != NO AND isTrash == NO"),
    QStringLiteral("type < 2"),
    QStringLiteral("type <= -2"),
    QStringLiteral("type >= 0 AND isTrash == YES"),
    QStringLiteral("type != 3"),
    QStringLiteral("type == nil AND expand == YES"),
    QStringLiteral("type < nil"),
    QStringLiteral("type == 99"),
    QStringLiteral("sortID > -5 AND sortID <= 500 AND expand != NO"),
    QStringLiteral("sortID == 2147483647"),
    QStringLiteral("sortID == -2147483648"),
    QStringLiteral("sortID >= 0 AND sortID != 7 AND type > -1 AND isTrash != NO"),
    // Tests beside terms only the evaluator answers: SQLite rules out, the evaluator decides.
    QStringLiteral("type == 99 AND title BEGINSWITH 'n'"),
    QStringLiteral("type == 1 AND title BEGINSWITH 'n1'"),
    QStringLiteral("isTrash == YES AND (type == 1 OR type == nil)"),
};

// Whether SQLite answers the whole filter, not only rules records out.
bool plainFilter(const QString& filter)
{
    return !filter.contains(QLatin1String("title")) && !filter.contains(QLatin1String(" OR "));
}

QVariant maybe(QRandomGenerator& random, const QVariant& value)
{
    return random.bounded(5) == 0 ? QVariant() : value;
}

// A library of nodes and smart folders with random values, a fifth of them nil.
QString buildLibrary(int count)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("stored")) + QStringLiteral("/library.db");
    auto coordinator = openStore(path);
    auto context = rootContext(coordinator);
    QRandomGenerator random(29);
    const QList<int> edges{0, 1, -1, 7, 500, 2147483647, -2147483647 - 1};
    for (int i = 0; i < count; ++i) {
        ManagedObjectPtr node = context->insertNewObject(i % 4 == 0 ? smartEntity : nodeEntity);
        node->setValueForKey(QStringLiteral("n%1").arg(i), QStringLiteral("title"));
        node->setValueForKey(maybe(random, random.bounded(6) - 2), QStringLiteral("type"));
        const int sortID = random.bounded(3) == 0 ? edges[random.bounded(int(edges.size()))] : random.bounded(2001) - 1000;
        node->setValueForKey(maybe(random, sortID), QStringLiteral("sortID"));
        node->setValueForKey(maybe(random, random.bounded(2) == 1), QStringLiteral("isTrash"));
        node->setValueForKey(maybe(random, random.bounded(2) == 1), QStringLiteral("expand"));
    }
    EXPECT_TRUE(context->save());
    return path;
}

void runSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

FetchRequest request(const QString& entity, const QString& filter, bool subentities = true, int limit = 0)
{
    FetchRequest r(entity, filter.isEmpty() ? Predicate() : *Predicate::parse(filter));
    r.includesSubentities = subentities;
    r.fetchLimit = limit;
    return r;
}

bool nodesLoaded(const CoordinatorPtr& coordinator)
{
    return coordinator->isTableLoaded(coordinator->model()->entity(nodeEntity));
}

class StoredFilterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_path = new QString(buildLibrary(400)); }
    static void TearDownTestSuite() { delete s_path; }

    // Every filter, counted and fetched on a fresh store (SQLite) and on one whose table is
    // in memory (the evaluator).
    static void expectSameAnswers(const QString& path)
    {
        auto loaded = openStore(path);
        auto inMemory = rootContext(loaded);
        ASSERT_FALSE(fetch(inMemory, nodeEntity).isEmpty());
        ASSERT_TRUE(nodesLoaded(loaded));
        for (const QString& filter : kFilters) {
            for (const auto& [entity, subentities, limit] :
                 {std::tuple{nodeEntity, true, 0}, std::tuple{nodeEntity, false, 0}, std::tuple{smartEntity, true, 0},
                  std::tuple{nodeEntity, true, 3}}) {
                SCOPED_TRACE(qPrintable(QStringLiteral("%1 of %2%3, limit %4")
                                            .arg(filter, entity, subentities ? QString() : QStringLiteral(" only"))
                                            .arg(limit)));
                const FetchRequest r = request(entity, filter, subentities, limit);
                const auto expected = inMemory->countForFetchRequest(r);
                ASSERT_TRUE(expected.has_value());

                auto fresh = openStore(path);
                const auto counted = rootContext(fresh)->countForFetchRequest(r);
                ASSERT_TRUE(counted.has_value()) << qPrintable(counted.error().toString());
                EXPECT_EQ(*counted, *expected);
                if (plainFilter(filter))
                    EXPECT_FALSE(nodesLoaded(fresh)) << "a count needs no rows";

                auto other = openStore(path);
                const auto found = rootContext(other)->executeFetchRequest(r);
                ASSERT_TRUE(found.has_value());
                EXPECT_EQ(found->size(), *expected);
                if (plainFilter(filter) || filter.startsWith(QLatin1String("type == 99")))
                    EXPECT_EQ(nodesLoaded(other), *expected > 0) << "a filter nothing passes reads no table";
            }
        }
    }

    static QString* s_path;
};

QString* StoredFilterTest::s_path = nullptr;

TEST_F(StoredFilterTest, SqliteAnswersWhatTheEvaluatorAnswers)
{
    expectSameAnswers(*s_path);
}

TEST_F(StoredFilterTest, ValuesAnotherWriterLeftReadAsTheLoaderReadsThem)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("odd")) + QStringLiteral("/library.db");
    ASSERT_TRUE(QFile::copy(*s_path, path));
    runSql(path, "UPDATE t_DBNode SET a_type = '3' WHERE pk % 7 = 0;"
                 "UPDATE t_DBNode SET a_sortID = 2.75 WHERE pk % 11 = 0;"
                 "UPDATE t_DBNode SET a_isTrash = 2 WHERE pk % 13 = 0;"
                 "UPDATE t_DBNode SET a_expand = '0' WHERE pk % 17 = 0;");
    expectSameAnswers(path);
}

TEST_F(StoredFilterTest, ChangesNotSavedYetAndSavesIntoAnUnreadTableCount)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("pending")) + QStringLiteral("/library.db");
    ASSERT_TRUE(QFile::copy(*s_path, path));
    const QString filter = QStringLiteral("type == 99");
    {
        auto coordinator = openStore(path);
        auto context = rootContext(coordinator);
        insert(context, nodeEntity, {{QStringLiteral("type"), 99}});
        EXPECT_EQ(count(context, nodeEntity, filter), 1) << "an insert waiting in the context";
        auto child = ManagedObjectContext::create(ConcurrencyType::Confinement, context);
        EXPECT_EQ(count(child, nodeEntity, filter), 1) << "an insert waiting in the parent";
        ASSERT_TRUE(context->save());
        EXPECT_EQ(count(rootContext(coordinator), nodeEntity, filter), 1) << "saved while the table was unread";
    }
    auto coordinator = openStore(path);
    auto context = rootContext(coordinator);
    EXPECT_EQ(count(context, nodeEntity, filter), 1);
    const QList<ManagedObjectPtr> found = fetch(context, nodeEntity, filter);
    ASSERT_EQ(found.size(), 1);
    context->deleteObject(found.front());
    EXPECT_EQ(count(context, nodeEntity, filter), 0) << "a deletion waiting in the context";
}

TEST_F(StoredFilterTest, DamagedTableIsRefusedAsTheLoaderRefusesIt)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("damaged")) + QStringLiteral("/library.db");
    ASSERT_TRUE(QFile::copy(*s_path, path));
    runSql(path, "UPDATE t_DBNode SET pk = 1099511627776 WHERE pk = 5");
    auto coordinator = openStore(path);
    const auto counted = rootContext(coordinator)->countForFetchRequest(request(nodeEntity, QStringLiteral("type == 99")));
    EXPECT_FALSE(counted.has_value()) << "a damaged table is not an empty answer";
}

} // namespace
