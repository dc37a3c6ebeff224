#include "Support/TestSupport.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/KPLogger/KPLogRecord.h"
#include "Utilities/KPLogger/Logger.h"
#include "Utilities/SQLiteDataBase.h"

#include <QFileInfo>
#include <gtest/gtest.h>
#include <limits>
#include <sqlite3.h>

namespace {

// Loggers made in this program never capture its output.
[[maybe_unused]] const bool g_noCapture = qputenv(kNoCaptureVariable, "1");

// Collects what the wrapper logs: a shared logger with no file keeps its records in memory.
class SQLiteDataBaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_logger = KPLogCreate();
        KPLogSetOptionFlags(m_logger, kKPLogOptionBufferLogsUntilConnection);
        KPLogSetSharedLogger(m_logger);
        m_path = testsupport::makeTempDir() + QStringLiteral("/test.db");
    }
    void TearDown() override
    {
        m_logger->queue().drain();
        KPLogShutdown(m_logger);
    }
    QStringList logged() const
    {
        QStringList texts;
        for (const QByteArray& r : m_logger->queue().snapshot()) {
            for (const auto& p : KPLogRecord::parse(r).value_or(QList<KPLogRecord::Part>())) {
                if (p.key == KPLogRecord::KeyMessage)
                    texts.append(QString::fromUtf8(p.bytes));
            }
        }
        return texts;
    }

    Logger* m_logger = nullptr;
    QString m_path;
};

} // namespace

TEST_F(SQLiteDataBaseTest, ColumnsKeepTheirValuesAndBlobsOnlyLog)
{
    SQLiteDataBase db(m_path);
    ASSERT_TRUE(db.connect());
    db.execSQL(QStringLiteral("CREATE TABLE t (i INTEGER, r REAL, s TEXT, n, b BLOB);"
                              "INSERT INTO t VALUES (9223372036854775807, 1.5, 'caf\u00E9', NULL, x'0102');"
                              "INSERT INTO t VALUES (-9223372036854775808, -0.25, '', NULL, NULL);"
                              "INSERT INTO t VALUES (1099511627776, 0, 'x', NULL, NULL);"));
    ASSERT_TRUE(logged().isEmpty()) << qPrintable(logged().join(QLatin1Char('\n')));

    const auto rows = db.queryBySQL(QStringLiteral("SELECT i, r, s, n, b FROM t ORDER BY rowid"));
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), 3);
    EXPECT_EQ(rows->at(0).at(0).toLongLong(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(rows->at(1).at(0).toLongLong(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(rows->at(2).at(0).toLongLong(), Q_INT64_C(1099511627776));
    EXPECT_EQ(rows->at(0).at(1).toDouble(), 1.5);
    EXPECT_EQ(rows->at(0).at(2).toString(), QStringLiteral("caf\u00E9"));
    EXPECT_EQ(rows->at(1).at(2).toString(), QString());
    EXPECT_TRUE(rows->at(0).at(3).isNull());
    // The blob is logged and leaves a null in its place; the row keeps its width.
    ASSERT_EQ(rows->at(0).size(), 5);
    EXPECT_TRUE(rows->at(0).at(4).isNull());
    EXPECT_EQ(logged(), QStringList{QStringLiteral("Unknown column type")});
}

TEST_F(SQLiteDataBaseTest, EmptyResultsAndClosedDatabasesDiffer)
{
    SQLiteDataBase db(m_path);
    // Not connected: no rows at all, and nothing logged.
    EXPECT_FALSE(db.queryBySQL(QStringLiteral("SELECT 1")).has_value());
    db.execSQL(QStringLiteral("CREATE TABLE t (a)"));
    EXPECT_TRUE(logged().isEmpty());

    ASSERT_TRUE(db.connect());
    db.execSQL(QStringLiteral("CREATE TABLE t (a)"));
    const auto none = db.queryBySQL(QStringLiteral("SELECT a FROM t WHERE a = 1"));
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->isEmpty());

    db.disconnect();
    EXPECT_FALSE(db.queryBySQL(QStringLiteral("SELECT a FROM t")).has_value());
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(SQLiteDataBaseTest, FailuresAreLoggedWithTheirCode)
{
    SQLiteDataBase db(m_path);
    ASSERT_TRUE(db.connect());
    EXPECT_FALSE(db.queryBySQL(QStringLiteral("SELEC x")).has_value());
    db.execSQL(QStringLiteral("NOPE %1"));
    // A statement that fails after its first row gives no rows rather than a partial answer.
    db.execSQL(QStringLiteral("CREATE TABLE t (v INTEGER); INSERT INTO t VALUES (1), (-9223372036854775808);"));
    EXPECT_FALSE(db.queryBySQL(QStringLiteral("SELECT abs(v) FROM t ORDER BY rowid")).has_value());

    SQLiteDataBase missing(testsupport::makeTempDir() + QStringLiteral("/no/such/dir/x.db"));
    EXPECT_FALSE(missing.connect());
    EXPECT_FALSE(missing.connected());

    const QStringList lines = logged();
    ASSERT_EQ(lines.size(), 4) << qPrintable(lines.join(QLatin1Char('\n')));
    EXPECT_EQ(lines[0], QStringLiteral("SQLiteDataBase Query erorr!, code[1], SELEC x"));
    EXPECT_EQ(lines[1], QStringLiteral("SQLiteDataBase exec error!, code[1], error[near \"NOPE\": syntax error], NOPE %1"));
    EXPECT_EQ(lines[2], QStringLiteral("SQLiteDataBase Query erorr!, code[1], SELECT abs(v) FROM t ORDER BY rowid"));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("SQLiteDataBase Unable to open!, code[14], ")));
    EXPECT_TRUE(lines[3].endsWith(QStringLiteral("/no/such/dir/x.db")));
}
