#include "TextIndexFixture.h"

#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <sys/resource.h>
#include <sqlite3.h>

using platform::TextIndex;

namespace {

void runSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
    EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

// Overwrites everything after the first page, where the tables' contents live.
void damagePages(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const qint64 size = f.size();
    ASSERT_GT(size, 4096 * 4);
    f.seek(4096);
    QByteArray junk(int(size - 4096), '\0');
    for (int i = 0; i < junk.size(); ++i)
        junk[i] = char((i * 131 + 7) & 0xff);
    f.write(junk);
}

// Forty documents of some 16 KB: enough pages that damage hits table contents.
qint64 addBulk(TextIndexFixture& f)
{
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("word%1 ").arg(i);
    qint64 last = 0;
    for (int i = 0; i < 40; ++i)
        last = f.add(QStringLiteral("d%1").arg(i), text);
    return last;
}

} // namespace

TEST_F(TextIndexFixture, ReAddingAUrlReplacesTextAndUriButKeepsTheId)
{
    const qint64 a = add(QStringLiteral("a"), QStringLiteral("alpha first version"));
    const qint64 b = add(QStringLiteral("b"), QStringLiteral("beta"));
    EXPECT_GE(a, 1);
    EXPECT_GT(b, a);
    flush();

    auto again = index->addDocument(QStringLiteral("file:///docs/a"), QStringLiteral("gamma second version"),
                                    QStringLiteral("x-store://a2"));
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, a);
    flush();

    EXPECT_EQ(find(QStringLiteral("alpha")), QStringList());
    EXPECT_EQ(find(QStringLiteral("gamma")), QStringList{QStringLiteral("a2")});
    EXPECT_EQ(find(QStringLiteral("version")), QStringList{QStringLiteral("a2")});
    auto props = index->documentProperties(a);
    ASSERT_TRUE(props);
    EXPECT_EQ(*props, (QVariantMap{{QStringLiteral("URI"), QStringLiteral("x-store://a2")}}));
    EXPECT_EQ(index->documentCount().value_or(-1), 2);
}

TEST_F(TextIndexFixture, RemoveDropsTextAndProperties)
{
    const qint64 a = add(QStringLiteral("a"), QStringLiteral("shared alpha"));
    const qint64 b = add(QStringLiteral("b"), QStringLiteral("shared beta"));
    const qint64 empty = add(QStringLiteral("empty"), QString());
    EXPECT_GT(empty, b);
    flush();

    ASSERT_TRUE(index->removeDocument(b));
    // Unknown and never-valid IDs are not errors: callers remove stale IDs found by searches.
    EXPECT_TRUE(index->removeDocument(b));
    EXPECT_TRUE(index->removeDocument(9999));
    EXPECT_TRUE(index->removeDocument(-2));
    flush();

    EXPECT_EQ(find(QStringLiteral("shared")), QStringList{QStringLiteral("a")});
    EXPECT_EQ(index->documentProperties(b).value(), QVariantMap());
    EXPECT_EQ(index->documentProperties(a).value().value(QStringLiteral("URI")), QStringLiteral("x-store://a"));
    EXPECT_EQ(index->documentProperties(empty).value().value(QStringLiteral("URI")), QStringLiteral("x-store://empty"));

    auto noUrl = index->addDocument(QString(), QStringLiteral("text"), QStringLiteral("x-store://n"));
    ASSERT_FALSE(noUrl);
    EXPECT_EQ(noUrl.error().code, platform::TextIndexInvalidArgument);
}

TEST_F(TextIndexFixture, IdsAreNeverHandedOutTwice)
{
    add(QStringLiteral("a"), QStringLiteral("one"));
    add(QStringLiteral("b"), QStringLiteral("two"));
    const qint64 c = add(QStringLiteral("c"), QStringLiteral("three"));
    ASSERT_TRUE(index->removeDocument(c));
    flush();
    const qint64 d = add(QStringLiteral("d"), QStringLiteral("four"));
    EXPECT_GT(d, c);
    flush();

    // Across closing and opening.
    index.reset();
    index = std::move(TextIndex::open(path).value());
    const qint64 e = add(QStringLiteral("e"), QStringLiteral("five"));
    EXPECT_GT(e, d);

    // Across a rebuild (and the reopen after it), also for IDs of changes that were pending
    // and thrown away with it.
    const qint64 pending = add(QStringLiteral("pending"), QStringLiteral("six"));
    ASSERT_TRUE(index->rebuild());
    EXPECT_EQ(index->documentCount().value_or(-1), 0);
    EXPECT_EQ(find(QStringLiteral("one OR five OR six")), QStringList());
    index.reset();
    index = std::move(TextIndex::open(path).value());
    const qint64 aAgain = add(QStringLiteral("a"), QStringLiteral("one again"));
    EXPECT_GT(aAgain, pending);
    flush();
    EXPECT_EQ(find(QStringLiteral("one")), QStringList{QStringLiteral("a")});
}

TEST_F(TextIndexFixture, ChangesShowOnFlushAndClosingLeavesTheIndexInItsFileAlone)
{
    add(QStringLiteral("a"), QStringLiteral("visible"));
    EXPECT_EQ(find(QStringLiteral("visible")), QStringList());
    flush();
    EXPECT_EQ(find(QStringLiteral("visible")), QStringList{QStringLiteral("a")});

    add(QStringLiteral("b"), QStringLiteral("visible"));
    ASSERT_GT(QFileInfo(path + QStringLiteral("-wal")).size(), 0);
    // At quit, while the owner still holds the index.
    TextIndex::closeAll();
    EXPECT_EQ(QFileInfo(path + QStringLiteral("-wal")).size(), 0) << "no log, or an empty one";
    EXPECT_EQ(find(QStringLiteral("visible")), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_FALSE(index->addDocument(QStringLiteral("file:///docs/c"), QStringLiteral("late"), QStringLiteral("x-store://c")));
    EXPECT_FALSE(index->rebuild()) << "a closed index never replaces its file";
    EXPECT_TRUE(index->close()) << "closing twice is harmless";

    const QString copy = testsupport::makeTempDir(QStringLiteral("backup")) + QStringLiteral("/contentIndex.index");
    ASSERT_TRUE(QFile::copy(path, copy));
    auto reopened = TextIndex::open(copy);
    ASSERT_TRUE(reopened);
    EXPECT_EQ((*reopened)->documentCount().value_or(-1), 2);
}

TEST(TextIndexOpen, FilesThatCannotBeUsedGiveErrors)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("open"));

    auto missingFolder = TextIndex::open(dir + QStringLiteral("/Index/contentIndex.index"));
    ASSERT_FALSE(missingFolder);
    EXPECT_EQ(missingFolder.error().code, platform::TextIndexOpenError);

    auto noIndex = platform::TextIndexSearch::start(dir + QStringLiteral("/none.index"), QStringLiteral("a"));
    ASSERT_FALSE(noIndex);
    EXPECT_EQ(noIndex.error().code, platform::TextIndexOpenError);

    const QString garbage = dir + QStringLiteral("/garbage.index");
    testsupport::writeFile(garbage, QByteArray(8192, 'G'));
    auto g = TextIndex::open(garbage);
    ASSERT_FALSE(g);
    EXPECT_EQ(g.error().code, platform::TextIndexCorruptError);
    auto gs = platform::TextIndexSearch::start(garbage, QStringLiteral("a"));
    ASSERT_FALSE(gs);
    EXPECT_EQ(gs.error().code, platform::TextIndexCorruptError);

    const QString stranger = dir + QStringLiteral("/stranger.index");
    runSql(stranger, "CREATE TABLE notes (body TEXT)");
    auto s = TextIndex::open(stranger);
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().code, platform::TextIndexNotAnIndexError);

    const QString newer = dir + QStringLiteral("/newer.index");
    TextIndex::open(newer).value().reset();
    runSql(newer, "UPDATE meta SET value = 99 WHERE key = 'schemaVersion'");
    auto n = TextIndex::open(newer);
    ASSERT_FALSE(n);
    EXPECT_EQ(n.error().code, platform::TextIndexIncompatibleError);
}

TEST_F(TextIndexFixture, DamagedIndexReportsErrorsAndCanBeReplaced)
{
    const qint64 last = addBulk(*this);
    flush();
    index.reset();
    damagePages(path);

    // Wherever the damage is noticed first, it is a reported error, never a crash or a silent
    // empty result.
    auto reopened = TextIndex::open(path);
    if (reopened) {
        auto added = (*reopened)->addDocument(QStringLiteral("file:///x"), QStringLiteral("word7"), QStringLiteral("x-store://x"));
        auto flushed = added ? (*reopened)->flush() : platform::Result<void>();
        EXPECT_TRUE(!added || !flushed);
        reopened->reset();
    } else {
        EXPECT_EQ(reopened.error().code, platform::TextIndexCorruptError);
    }
    auto search = platform::TextIndexSearch::start(path, QStringLiteral("word7"));
    if (search) {
        auto batch = (*search)->findMatches(100, std::chrono::milliseconds(300));
        EXPECT_FALSE(batch);
    }

    auto fresh = TextIndex::recreate(path, last + 1);
    ASSERT_TRUE(fresh) << fresh.error().toString().toStdString();
    index = std::move(*fresh);
    EXPECT_EQ(index->documentCount().value_or(-1), 0);
    EXPECT_GT(add(QStringLiteral("new"), QStringLiteral("word7")), last);
    flush();
    EXPECT_EQ(find(QStringLiteral("word7")), QStringList{QStringLiteral("new")});
}

TEST_F(TextIndexFixture, RecreateKeepsTheSequenceOfAReadableFile)
{
    add(QStringLiteral("a"), QStringLiteral("one"));
    const qint64 b = add(QStringLiteral("b"), QStringLiteral("two"));
    flush();
    index.reset();
    index = std::move(TextIndex::recreate(path).value());
    EXPECT_EQ(find(QStringLiteral("one")), QStringList());
    EXPECT_GT(add(QStringLiteral("c"), QStringLiteral("three")), b);
}

TEST_F(TextIndexFixture, RebuildReplacesAnIndexDamagedWhileOpen)
{
    const qint64 last = addBulk(*this);
    flush();
    // A reader kept from this search must not go on reading the file the rebuild replaces.
    EXPECT_FALSE(find(QStringLiteral("word7")).isEmpty());
    ASSERT_EQ(index->keptReaderCount(), 1u);
    // Committed pages sit in the write-ahead log until a checkpoint moves them into the file.
    runSql(path, "PRAGMA wal_checkpoint(TRUNCATE)");
    damagePages(path);

    ASSERT_TRUE(index->rebuild());
    EXPECT_GT(add(QStringLiteral("after"), QStringLiteral("fresh text")), last);
    flush();
    EXPECT_EQ(find(QStringLiteral("fresh")), QStringList{QStringLiteral("after")});
    EXPECT_EQ(find(QStringLiteral("word7")), QStringList());
}

TEST_F(TextIndexFixture, AKeptReaderSeesEveryFlushedChange)
{
    add(QStringLiteral("a"), QStringLiteral("alpha"));
    flush();
    EXPECT_EQ(find(QStringLiteral("alpha")), QStringList{QStringLiteral("a")});
    ASSERT_EQ(index->keptReaderCount(), 1u) << "the searches below all run on this one reader";

    const qint64 b = add(QStringLiteral("b"), QStringLiteral("alpha beta"));
    flush();
    EXPECT_EQ(find(QStringLiteral("alpha")), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    // a's text and URI replaced, b removed.
    const qint64 a = index->addDocument(QStringLiteral("file:///docs/a"), QStringLiteral("gamma"),
                                        QStringLiteral("x-store://a-moved")).value_or(0);
    ASSERT_TRUE(index->removeDocument(b));
    flush();
    EXPECT_EQ(find(QStringLiteral("alpha OR beta")), QStringList());
    EXPECT_EQ(find(QStringLiteral("gamma")), QStringList{QStringLiteral("a-moved")});

    // Emptied in place: the table the kept statement was compiled against is a new one.
    ASSERT_TRUE(index->rebuild());
    EXPECT_EQ(find(QStringLiteral("gamma")), QStringList());
    EXPECT_GT(add(QStringLiteral("c"), QStringLiteral("gamma again")), a);
    flush();
    EXPECT_EQ(find(QStringLiteral("gamma")), QStringList{QStringLiteral("c")});
    EXPECT_EQ(index->keptReaderCount(), 1u);

    // Closing lets the kept readers go, so the index is left in its file alone.
    ASSERT_TRUE(index->close());
    EXPECT_EQ(index->keptReaderCount(), 0u);
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-wal")));
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-shm")));
}

TEST_F(TextIndexFixture, AFailedFlushLosesTheWholeBatchButNotItsIds)
{
    add(QStringLiteral("kept"), QStringLiteral("baseline"));
    flush();

    // A file-size limit stands in for a full disk: the commit cannot write the log.
    const QFileInfo wal(path + QStringLiteral("-wal"));
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    signal(SIGXFSZ, SIG_IGN);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(std::max<qint64>(wal.size(), QFileInfo(path).size()) + 4096);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);

    QString big;
    for (int i = 0; i < 50000; ++i)
        big += QStringLiteral("lost%1 ").arg(i);
    const qint64 first = add(QStringLiteral("lost1"), big);
    const qint64 second = add(QStringLiteral("lost2"), QStringLiteral("lost words"));
    auto flushed = index->flush();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    ASSERT_FALSE(flushed);
    EXPECT_EQ(flushed.error().code, platform::TextIndexWriteError);

    EXPECT_EQ(index->documentProperties(first).value(), QVariantMap());
    EXPECT_EQ(index->documentProperties(second).value(), QVariantMap());
    const qint64 next = add(QStringLiteral("next"), QStringLiteral("baseline"));
    EXPECT_GT(next, second);
    flush();
    EXPECT_EQ(find(QStringLiteral("baseline")), (QStringList{QStringLiteral("kept"), QStringLiteral("next")}));
    EXPECT_EQ(find(QStringLiteral("lost1 OR words")), QStringList());
}

TEST_F(TextIndexFixture, AnIndexThatCannotBeWrittenFailsToOpenButStaysSearchable)
{
    add(QStringLiteral("a"), QStringLiteral("readable"));
    index.reset();
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner));
    if (QFileInfo(path).isWritable())
        GTEST_SKIP() << "the file system ignores permissions for this user";
    auto opened = TextIndex::open(path);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().code, platform::TextIndexOpenError);
    EXPECT_EQ(find(QStringLiteral("readable")), QStringList{QStringLiteral("a")});
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

TEST_F(TextIndexFixture, APurgedDocumentLeavesNoneOfItsWordsInTheFiles)
{
    // Enough other documents that the index has several segments and many pages.
    QString filler;
    for (int i = 0; i < 400; ++i)
        filler += QStringLiteral("common%1 ").arg(i);
    for (int i = 0; i < 30; ++i)
        add(QStringLiteral("other%1").arg(i), filler);
    flush();
    const qint64 secret = add(QStringLiteral("secret-url-zqvplonk"), QStringLiteral("Invoice Zqvmarker 0042 amount due"));
    flush();
    for (int i = 30; i < 40; ++i)
        add(QStringLiteral("other%1").arg(i), filler);
    flush();
    ASSERT_EQ(find(QStringLiteral("zqvmarker")), QStringList{QStringLiteral("secret-url-zqvplonk")});

    const auto leaked = [this] {
        QStringList where;
        for (const QString& file : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")}) {
            const QByteArray bytes = testsupport::readFile(file).toLower();
            if (bytes.contains("zqvmarker") || bytes.contains("zqvplonk"))
                where << file;
        }
        return where;
    };
    ASSERT_FALSE(leaked().isEmpty()) << "the text is in the index before the purge";
    const auto where = [&] { return leaked().join(QStringLiteral(", ")).toStdString(); };

    ASSERT_TRUE(index->purgeDocuments({secret, -1}));
    EXPECT_TRUE(leaked().isEmpty()) << "the open index keeps the purged document in " << where();
    EXPECT_EQ(find(QStringLiteral("zqvmarker")), QStringList());
    EXPECT_EQ(find(QStringLiteral("common7")).size(), 40) << "the other documents stay findable";
    EXPECT_EQ(index->documentCount().value_or(-1), 40);

    ASSERT_TRUE(index->close());
    EXPECT_TRUE(leaked().isEmpty()) << "the closed index keeps the purged document in " << where();
}

namespace {

// Which of the index file and its side files hold any of words (lower case), or "".
std::string filesHolding(const QString& path, const QList<QByteArray>& words)
{
    QStringList where;
    for (const QString& file : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")}) {
        const QByteArray bytes = testsupport::readFile(file).toLower();
        if (std::any_of(words.begin(), words.end(), [&](const QByteArray& w) { return bytes.contains(w); }))
            where << file;
    }
    return where.join(QStringLiteral(", ")).toStdString();
}

// Pages of 4 KB that differ between two images of a file (a page only one of them has counts).
int changedPages(const QByteArray& before, const QByteArray& after)
{
    constexpr int page = 4096;
    int changed = 0;
    for (qsizetype at = 0; at < std::max(before.size(), after.size()); at += page) {
        if (before.mid(at, page) != after.mid(at, page))
            ++changed;
    }
    return changed;
}

} // namespace

TEST_F(TextIndexFixture, PurgingOneDocumentRewritesOnlyTheShardThatHeldIt)
{
    index.reset();
    path = QFileInfo(path).absolutePath() + QStringLiteral("/sharded.index");
    index = std::move(TextIndex::open(path, 16).value());
    // Twenty shards of sixteen documents, each shard written in several flushes (several segments).
    QString filler;
    for (int i = 0; i < 300; ++i)
        filler += QStringLiteral("common%1 ").arg(i);
    qint64 secret = 0, alone = 0;
    for (int i = 0; i < 320; ++i) {
        if (i == 165)
            secret = add(QStringLiteral("secret-url-zqvplonk"), QStringLiteral("Invoice Zqvmarker 0042 amount due"));
        else
            add(QStringLiteral("other%1").arg(i), filler + QStringLiteral(" unique%1").arg(i));
        if (i % 5 == 4)
            flush();
    }
    // A document alone in its shard: the shard goes with it.
    alone = add(QStringLiteral("alone-url-qxjwelt"), QStringLiteral("Qxjmarker lonely words"));
    flush();
    ASSERT_EQ(find(QStringLiteral("zqvmarker")), QStringList{QStringLiteral("secret-url-zqvplonk")});
    ASSERT_EQ(find(QStringLiteral("qxjmarker")), QStringList{QStringLiteral("alone-url-qxjwelt")});
    runSql(path, "PRAGMA wal_checkpoint(TRUNCATE)");
    const QByteArray before = testsupport::readFile(path);
    ASSERT_FALSE(filesHolding(path, {"zqvmarker", "zqvplonk"}).empty()) << "the text is in the index before the purge";

    ASSERT_TRUE(index->purgeDocuments({secret}));
    const QByteArray after = testsupport::readFile(path);
    const int pages = int(std::max(before.size(), after.size()) / 4096);
    EXPECT_LT(changedPages(before, after), pages / 8)
        << "of " << pages << " pages: removing one document rewrote much more than its shard";
    EXPECT_EQ(filesHolding(path, {"zqvmarker", "zqvplonk"}), "");
    EXPECT_EQ(find(QStringLiteral("zqvmarker")), QStringList());
    EXPECT_EQ(find(QStringLiteral("common7")).size(), 319) << "the other documents stay findable";
    EXPECT_EQ(find(QStringLiteral("unique164 OR unique166")), (QStringList{QStringLiteral("other164"), QStringLiteral("other166")}));

    ASSERT_TRUE(index->purgeDocuments({alone}));
    EXPECT_EQ(filesHolding(path, {"qxjmarker", "qxjwelt"}), "");
    EXPECT_EQ(find(QStringLiteral("qxjmarker")), QStringList());
    EXPECT_EQ(index->documentCount().value_or(-1), 319);
    ASSERT_TRUE(index->close());
    EXPECT_EQ(filesHolding(path, {"zqvmarker", "zqvplonk", "qxjmarker", "qxjwelt"}), "");
}

TEST_F(TextIndexFixture, AShardTheIDsHaveMovedPastIsMergedIntoOneSegment)
{
    index.reset();
    path = QFileInfo(path).absolutePath() + QStringLiteral("/segments.index");
    index = std::move(TextIndex::open(path, 16).value());
    QString filler;
    for (int i = 0; i < 300; ++i)
        filler += QStringLiteral("common%1 ").arg(i);
    for (int i = 0; i < 40; ++i) {
        add(QStringLiteral("d%1").arg(i), filler);
        if (i % 4 == 3)
            flush();
    }
    flush();
    // Every segment has entries in its table's "_idx" table.
    const auto segments = [&](const char* table) {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        const QByteArray sql = QByteArray("SELECT count(DISTINCT segid) FROM ") + table;
        int count = -1;
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            count = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
        sqlite3_close(db);
        return count;
    };
    EXPECT_GT(segments("fts_2_idx"), 1) << "the shard still being filled has a segment per flush";
    EXPECT_EQ(segments("fts_0_idx"), 1);
    EXPECT_EQ(segments("fts_1_idx"), 1);
    EXPECT_EQ(find(QStringLiteral("common3")).size(), 40);
}

TEST_F(TextIndexFixture, AnIndexWrittenBeforeShardsIsSplitAndStaysSearchable)
{
    // An index as the first schema had it: all text in one FTS5 table.
    index.reset();
    path = QFileInfo(path).absolutePath() + QStringLiteral("/old.index");
    QByteArray script = "PRAGMA auto_vacuum = INCREMENTAL; PRAGMA journal_mode = WAL; BEGIN;"
                        "CREATE TABLE meta (key TEXT PRIMARY KEY, value);"
                        "INSERT INTO meta (key, value) VALUES ('schemaVersion', 1);"
                        "CREATE TABLE docs (id INTEGER PRIMARY KEY AUTOINCREMENT, url TEXT UNIQUE NOT NULL, uri TEXT NOT NULL);"
                        "CREATE VIRTUAL TABLE fts USING fts5(body, tokenize = 'unicode61 remove_diacritics 2');"
                        "PRAGMA application_id = 1179407448;";
    for (int i = 1; i <= 30; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray body = i == 12 ? "Ledger Zqvmarker secret" : "older words number" + n;
        script += "INSERT INTO docs (id, url, uri) VALUES (" + n + ", 'file:///docs/old" + n + "', 'x-store://old" + n + "');"
                  "INSERT INTO fts (rowid, body) VALUES (" + n + ", '" + body + "');";
    }
    script += "COMMIT;";
    runSql(path, script.constData());

    index = std::move(TextIndex::open(path).value());
    EXPECT_EQ(find(QStringLiteral("older")).size(), 29);
    EXPECT_EQ(find(QStringLiteral("number7")), QStringList{QStringLiteral("old7")});
    EXPECT_GT(add(QStringLiteral("new"), QStringLiteral("newer words")), 30);
    flush();
    EXPECT_EQ(find(QStringLiteral("words")).size(), 30);

    // Purged while its text is still in the old table.
    ASSERT_TRUE(index->purgeDocuments({12}));
    EXPECT_EQ(filesHolding(path, {"zqvmarker"}), "");

    int steps = 0;
    for (;;) {
        auto more = index->splitOldText(4);
        ASSERT_TRUE(more) << more.error().toString().toStdString();
        ++steps;
        if (!*more)
            break;
        ASSERT_LT(steps, 20);
        // Every document is found at every step, once.
        ASSERT_EQ(find(QStringLiteral("words")).size(), 30);
    }
    EXPECT_GE(steps, 7);
    EXPECT_FALSE(*index->splitOldText(4));
    EXPECT_EQ(find(QStringLiteral("older")).size(), 29);
    EXPECT_EQ(find(QStringLiteral("number7")), QStringList{QStringLiteral("old7")});
    EXPECT_EQ(index->documentCount().value_or(-1), 30);
    ASSERT_TRUE(index->close());

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE name = 'fts'", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 0) << "the old table goes once empty";
    sqlite3_finalize(st);
    sqlite3_close(db);
}
