// The full-text index against its floor: the same 5,000 generated documents (~20 KB each) and
// the same 100 word, phrase and prefix queries, once through TextIndex / TextIndexSearch and
// once on a bare FTS5 table with the same tokenizer and transaction size.
//
//   build/bin/textindex_bench [--benchmark_filter=…]
#include "Platform/TextIndex/TextIndex.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <random>
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

void finishIndexCounters(benchmark::State& state, const QString& path)
{
    const Corpus& c = corpus();
    state.SetBytesProcessed(state.iterations() * c.bytes);
    state.counters["docs_per_s"] = benchmark::Counter(double(state.iterations()) * documentCount, benchmark::Counter::kIsRate);
    state.counters["file_MB"] = double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / 1e6;
}

void indexThroughLayer(benchmark::State& state)
{
    const Corpus& c = corpus();
    for (auto _ : state) {
        removeDatabase(layerPath());
        auto index = platform::TextIndex::open(layerPath());
        check(bool(index), state, QStringLiteral("open"));
        if (!index)
            return;
        for (int d = 0; d < documentCount; ++d) {
            auto id = (*index)->addDocument(QStringLiteral("file:///library/doc%1.txt").arg(d), c.documents[size_t(d)],
                                            QStringLiteral("x-coredata://store/DBFileInfo/p%1").arg(d));
            if (!id)
                return check(false, state, id.error().toString());
            if ((d + 1) % documentsPerFlush == 0)
                (void)(*index)->flush();
        }
        check(bool((*index)->flush()), state, QStringLiteral("flush"));
    }
    finishIndexCounters(state, layerPath());
}

void indexBare(benchmark::State& state)
{
    const Corpus& c = corpus();
    for (auto _ : state) {
        removeDatabase(barePath());
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
    }
    finishIndexCounters(state, barePath());
}

void queryThroughLayer(benchmark::State& state)
{
    const Corpus& c = corpus();
    if (!QFileInfo::exists(layerPath()))
        return check(false, state, QStringLiteral("run the index benchmark first"));
    qint64 hits = 0;
    qint64 firstBatchNs = 0; // from starting a search to holding its first batch
    for (auto _ : state) {
        hits = 0;
        firstBatchNs = 0;
        for (const Query& q : c.queries) {
            QElapsedTimer clock;
            clock.start();
            auto search = platform::TextIndexSearch::start(layerPath(), q.user);
            if (!search)
                return check(false, state, search.error().toString());
            for (bool first = true;; first = false) {
                auto batch = (*search)->findMatches(batchSize, batchTime);
                if (!batch)
                    return check(false, state, batch.error().toString());
                if (first)
                    firstBatchNs += clock.nsecsElapsed();
                hits += qint64(batch->hits.size());
                if (!batch->more)
                    break;
            }
        }
    }
    state.counters["hits"] = double(hits);
    state.counters["first_batch_ms"] = double(firstBatchNs) / 1e6 / queryCount;
    state.counters["s_per_query"] = benchmark::Counter(double(queryCount) * state.iterations(),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void queryBare(benchmark::State& state)
{
    const Corpus& c = corpus();
    if (!QFileInfo::exists(barePath()))
        return check(false, state, QStringLiteral("run the index benchmark first"));
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(barePath()).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    qint64 hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const Query& q : c.queries) {
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(db, "SELECT rowid FROM fts WHERE fts MATCH ?1", -1, &st, nullptr);
            sqlite3_bind_text(st, 1, q.fts5.constData(), int(q.fts5.size()), SQLITE_STATIC);
            int rc;
            while ((rc = sqlite3_step(st)) == SQLITE_ROW)
                ++hits;
            if (rc != SQLITE_DONE)
                check(false, state, QString::fromUtf8(sqlite3_errmsg(db)));
            sqlite3_finalize(st);
        }
    }
    sqlite3_close(db);
    state.counters["hits"] = double(hits);
    state.counters["s_per_query"] = benchmark::Counter(double(queryCount) * state.iterations(),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

int main(int argc, char** argv)
{
    // Indexing first: the query benchmarks search the files it leaves behind.
    benchmark::RegisterBenchmark("index_5000_docs/textindex", indexThroughLayer)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("index_5000_docs/bare_fts5", indexBare)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("query_100/textindex", queryThroughLayer)->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("query_100/bare_fts5", queryBare)->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
