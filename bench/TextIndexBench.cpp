// The full-text index against its floor: the same 5,000 generated documents (~20 KB each) and
// the same 100 word, phrase and prefix queries, through TextIndex (searches as the program runs
// them, on the index's kept readers) and on a bare FTS5 table with the same tokenizer and
// transaction size, in alternating rounds. Rates and times are of wall time: the indexing
// waits for its disk flushes, which CPU time does not show.
//
// purge_one_of_100000 removes single documents (as a move into the SafeBox does) from an index
// of 100,000 documents of ~3 KB each: wall time and bytes handed to write() per removal, and
// the load of the machine meanwhile; and the 100 queries on that index, per query.
//
//   build/bin/textindex_bench [--benchmark_filter=…]
#include "Platform/TextIndex/TextIndex.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <random>
#include <vector>
#include <sqlite3.h>

namespace {

constexpr int documentCount = 5000;
constexpr int documentBytes = 20 * 1024;
constexpr int vocabularySize = 30000;
constexpr int queryCount = 100;
// Documents per commit, as the indexing worker flushes.
constexpr int documentsPerFlush = 301;
// Batches of a search as the search object asks for them.
constexpr int batchSize = 100;
constexpr std::chrono::milliseconds batchTime(300);
// Alternating rounds of each way (indexing takes seconds a round, the queries a fraction).
constexpr int indexRounds = 3;
constexpr int queryRounds = 21;

struct Query {
    QString user;      // as typed into the search field
    QByteArray fts5;   // the same search written by hand for FTS5
};

struct Corpus {
    std::vector<QString> vocabulary;
    std::vector<QString> documents;
    std::vector<Query> queries;
    qint64 bytes = 0;
};

QString makeWord(std::mt19937_64& rng)
{
    static const char* const syllables[] = {"ka", "lo", "ri", "ten", "mar", "sul", "ve", "no", "dri", "pha",
                                            "qu", "zet", "bel", "or", "an", "ist", "um", "gre", "sé", "lü"};
    QString w;
    const int n = 2 + int(rng() % 3);
    for (int i = 0; i < n; ++i)
        w += QString::fromUtf8(syllables[rng() % std::size(syllables)]);
    return w;
}

// Word frequencies fall off steeply, as in natural text: a few very common words, a long tail.
size_t pickWord(std::mt19937_64& rng)
{
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    return std::min<size_t>(size_t(vocabularySize * u * u * u), vocabularySize - 1);
}

const Corpus& corpus()
{
    static const Corpus c = [] {
        Corpus c;
        std::mt19937_64 rng(20261206);
        while (int(c.vocabulary.size()) < vocabularySize)
            c.vocabulary.push_back(makeWord(rng) + QString::number(c.vocabulary.size() % 97));
        for (int d = 0; d < documentCount; ++d) {
            QString text;
            text.reserve(documentBytes + 64);
            while (text.size() < documentBytes) {
                text += c.vocabulary[pickWord(rng)];
                text += rng() % 12 == 0 ? QStringLiteral(". ") : QStringLiteral(" ");
            }
            c.bytes += text.toUtf8().size();
            c.documents.push_back(std::move(text));
        }
        // 50 single words from common to rare, 30 phrases of two words that occur side by side
        // in some document, 20 prefixes.
        for (int i = 0; i < 50; ++i) {
            const QString& w = c.vocabulary[size_t(i) * i * 12];
            c.queries.push_back({w, '"' + w.toUtf8() + '"'});
        }
        for (int i = 0; i < 30; ++i) {
            const QStringList words = c.documents[size_t(i) * 97].split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const QString phrase = words.mid(10 + i, 2).join(QLatin1Char(' ')).remove(QLatin1Char('.'));
            c.queries.push_back({QLatin1Char('"') + phrase + QLatin1Char('"'), '"' + phrase.toUtf8() + '"'});
        }
        for (int i = 0; i < 20; ++i) {
            const QString stem = c.vocabulary[size_t(i) * 211].left(4);
            c.queries.push_back({stem + QLatin1Char('*'), '"' + stem.toUtf8() + "\"*"});
        }
        return c;
    }();
    return c;
}

QTemporaryDir& workDir()
{
    static QTemporaryDir dir;
    return dir;
}

QString layerPath()
{
    return workDir().path() + QStringLiteral("/contentIndex.index");
}

QString barePath()
{
    return workDir().path() + QStringLiteral("/bare.index");
}

void removeDatabase(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

void check(bool ok, benchmark::State& state, const QString& what)
{
    if (!ok)
        state.SkipWithError(what.toStdString().c_str());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double fileMegabytes(const QString& path)
{
    return double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / 1e6;
}

// Indexes the corpus through TextIndex; the wall time in seconds, or a negative number.
double indexThroughLayer(benchmark::State& state)
{
    const Corpus& c = corpus();
    removeDatabase(layerPath());
    QElapsedTimer clock;
    clock.start();
    auto index = platform::TextIndex::open(layerPath());
    if (!index) {
        check(false, state, index.error().toString());
        return -1;
    }
    for (int d = 0; d < documentCount; ++d) {
        auto id = (*index)->addDocument(QStringLiteral("file:///library/doc%1.txt").arg(d), c.documents[size_t(d)],
                                        QStringLiteral("x-coredata://store/DBFileInfo/p%1").arg(d));
        if (!id) {
            check(false, state, id.error().toString());
            return -1;
        }
        if ((d + 1) % documentsPerFlush == 0)
            (void)(*index)->flush();
    }
    if (auto flushed = (*index)->flush(); !flushed) {
        check(false, state, flushed.error().toString());
        return -1;
    }
    return double(clock.nsecsElapsed()) / 1e9;
}

// The same corpus into a bare FTS5 table with the same tokenizer, pragmas and transactions.
double indexBare(benchmark::State& state)
{
    const Corpus& c = corpus();
    removeDatabase(barePath());
    QElapsedTimer clock;
    clock.start();
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(barePath()).constData(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL; PRAGMA cache_size = -16384;"
                 "CREATE VIRTUAL TABLE fts USING fts5(body, tokenize = 'unicode61 remove_diacritics 2');",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO fts (rowid, body) VALUES (?1, ?2)", -1, &ins, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int d = 0; d < documentCount; ++d) {
        const QByteArray body = c.documents[size_t(d)].toUtf8();
        sqlite3_bind_int64(ins, 1, d + 1);
        sqlite3_bind_text(ins, 2, body.constData(), int(body.size()), SQLITE_STATIC);
        if (sqlite3_step(ins) != SQLITE_DONE)
            check(false, state, QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_reset(ins);
        if ((d + 1) % documentsPerFlush == 0)
            sqlite3_exec(db, "COMMIT; BEGIN", nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(ins);
    sqlite3_close(db);
    return double(clock.nsecsElapsed()) / 1e9;
}

// Both ways in alternating rounds, so that both see the same load; documents per second of
// wall time (medians) and their ratio.
void indexBoth(benchmark::State& state)
{
    std::vector<double> layer, bare;
    for (auto _ : state) {
        for (int round = 0; round < indexRounds; ++round) {
            const double l = indexThroughLayer(state);
            const double b = indexBare(state);
            if (l <= 0 || b <= 0)
                return;
            layer.push_back(documentCount / l);
            bare.push_back(documentCount / b);
        }
    }
    state.SetBytesProcessed(state.iterations() * indexRounds * 2 * corpus().bytes);
    state.counters["docs_per_s"] = median(layer);
    state.counters["bare_docs_per_s"] = median(bare);
    state.counters["x_bare_speed"] = median(layer) / median(bare);
    state.counters["file_MB"] = fileMegabytes(layerPath());
    state.counters["bare_file_MB"] = fileMegabytes(barePath());
}

// The 100 queries as the program runs them: through the index's search (or, with index null,
// each on a connection opened for it alone), in batches; the wall time in seconds and the hits,
// or a negative time.
double queryThroughLayer(benchmark::State& state, const platform::TextIndex* index, qint64* hits, qint64* firstBatchNs)
{
    QElapsedTimer all;
    all.start();
    for (const Query& q : corpus().queries) {
        QElapsedTimer clock;
        clock.start();
        auto search = index ? index->search(q.user) : platform::TextIndexSearch::start(layerPath(), q.user);
        if (!search) {
            check(false, state, search.error().toString());
            return -1;
        }
        for (bool first = true;; first = false) {
            auto batch = (*search)->findMatches(batchSize, batchTime);
            if (!batch) {
                check(false, state, batch.error().toString());
                return -1;
            }
            if (first)
                *firstBatchNs += clock.nsecsElapsed();
            *hits += qint64(batch->hits.size());
            if (!batch->more)
                break;
        }
    }
    return double(all.nsecsElapsed()) / 1e9;
}

double queryBare(benchmark::State& state, sqlite3* db, qint64* hits)
{
    QElapsedTimer all;
    all.start();
    for (const Query& q : corpus().queries) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT rowid FROM fts WHERE fts MATCH ?1", -1, &st, nullptr);
        sqlite3_bind_text(st, 1, q.fts5.constData(), int(q.fts5.size()), SQLITE_STATIC);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            ++*hits;
        if (rc != SQLITE_DONE)
            check(false, state, QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(st);
    }
    return double(all.nsecsElapsed()) / 1e9;
}

// Alternating rounds of the 100 queries both ways, on the files the indexing left; medians of
// the wall time per query and their ratio.
void queryBoth(benchmark::State& state)
{
    if (!QFileInfo::exists(layerPath()) || !QFileInfo::exists(barePath()))
        return check(false, state, QStringLiteral("run the index benchmark first"));
    auto index = platform::TextIndex::open(layerPath());
    if (!index)
        return check(false, state, index.error().toString());
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(barePath()).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::vector<double> layer, bare, unkept;
    qint64 layerHits = 0, bareHits = 0, firstBatchNs = 0;
    for (auto _ : state) {
        for (int round = 0; round < queryRounds; ++round) {
            layerHits = bareHits = firstBatchNs = 0;
            const double l = queryThroughLayer(state, index->get(), &layerHits, &firstBatchNs);
            const double b = queryBare(state, db, &bareHits);
            qint64 unkeptHits = 0, unkeptFirstNs = 0;
            const double u = queryThroughLayer(state, nullptr, &unkeptHits, &unkeptFirstNs);
            if (l < 0 || u < 0)
                break;
            layer.push_back(l * 1e3 / queryCount);
            bare.push_back(b * 1e3 / queryCount);
            unkept.push_back(u * 1e3 / queryCount);
        }
    }
    sqlite3_close(db);
    if (layerHits != bareHits)
        check(false, state, QStringLiteral("%1 hits through the index, %2 bare").arg(layerHits).arg(bareHits));
    state.counters["hits"] = double(layerHits);
    state.counters["ms_per_query"] = median(layer);
    state.counters["bare_ms_per_query"] = median(bare);
    state.counters["x_bare"] = median(layer) / median(bare);
    // Each search on a connection opened for it, as before the index kept its readers.
    state.counters["unkept_ms_per_query"] = median(unkept);
    state.counters["first_batch_ms"] = double(firstBatchNs) / 1e6 / queryCount;
}

// Bytes this process has handed to write() so far ("wchar" of /proc/self/io): what SQLite
// writes to the index, its log and their checkpoints, whatever the file system makes of it.
qint64 bytesWritten()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return 0;
}

double loadAverage()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    return load.open(QIODevice::ReadOnly) ? load.readAll().split(' ').value(0).toDouble() : 0;
}

constexpr int purgeIndexDocuments = 100000;
constexpr int purgeDocumentBytes = 3 * 1024;
constexpr int purgeRounds = 9;

void purgeOne(benchmark::State& state)
{
    const QString path = workDir().path() + QStringLiteral("/purge.index");
    removeDatabase(path);
    auto index = platform::TextIndex::open(path);
    if (!index)
        return check(false, state, index.error().toString());
    const Corpus& c = corpus();
    std::mt19937_64 rng(20261208);
    for (int d = 0; d < purgeIndexDocuments; ++d) {
        QString text;
        text.reserve(purgeDocumentBytes + 64);
        while (text.size() < purgeDocumentBytes) {
            text += c.vocabulary[pickWord(rng)];
            text += QLatin1Char(' ');
        }
        auto id = (*index)->addDocument(QStringLiteral("file:///library/doc%1.txt").arg(d), text,
                                        QStringLiteral("x-coredata://store/DBFileInfo/p%1").arg(d));
        if (!id)
            return check(false, state, id.error().toString());
        if ((d + 1) % documentsPerFlush == 0)
            (void)(*index)->flush();
    }
    if (auto flushed = (*index)->flush(); !flushed)
        return check(false, state, flushed.error().toString());
    const double fileMB = fileMegabytes(path);
    // The 100 queries on this index, for what its layout costs the searches.
    std::vector<double> queryMs;
    qint64 hits = 0;
    for (int round = 0; round < 5; ++round) {
        qint64 firstBatchNs = 0;
        hits = 0;
        const double seconds = queryThroughLayer(state, index->get(), &hits, &firstBatchNs);
        if (seconds < 0)
            return;
        queryMs.push_back(seconds * 1e3 / queryCount);
    }
    std::vector<double> ms, mb, load;
    for (auto _ : state) {
        for (int round = 0; round < purgeRounds; ++round) {
            // Spread over the index: old documents and recent ones.
            const qint64 id = 1 + qint64(round) * (purgeIndexDocuments / purgeRounds);
            load.push_back(loadAverage());
            const qint64 before = bytesWritten();
            QElapsedTimer clock;
            clock.start();
            if (auto purged = (*index)->purgeDocuments({id}); !purged)
                return check(false, state, purged.error().toString());
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
            mb.push_back(double(bytesWritten() - before) / 1e6);
        }
    }
    std::sort(ms.begin(), ms.end());
    std::sort(mb.begin(), mb.end());
    std::sort(load.begin(), load.end());
    state.counters["ms_min"] = ms.front();
    state.counters["ms_median"] = median(ms);
    state.counters["ms_max"] = ms.back();
    state.counters["written_MB_min"] = mb.front();
    state.counters["written_MB_median"] = median(mb);
    state.counters["written_MB_max"] = mb.back();
    state.counters["file_MB"] = fileMB;
    state.counters["query_ms_median"] = median(queryMs);
    state.counters["query_hits"] = double(hits);
    state.counters["load1_min"] = load.front();
    state.counters["load1_max"] = load.back();
}

} // namespace

int main(int argc, char** argv)
{
    // Indexing first: the query benchmark searches the files it leaves behind.
    benchmark::RegisterBenchmark("index_5000_docs", indexBoth)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("query_100", queryBoth)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("purge_one_of_100000", purgeOne)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
