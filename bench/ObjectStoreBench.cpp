// The object store against raw SQLite on a library of 100,000 documents (each with metadata, a
// document-index record and three of 1,000 tags): open + full fetch, a token search, the
// per-tag badge recount (one count per tag, and one grouped count over all tags) and a
// 1,000-document save. Each "…/objectstore/100000" benchmark has a
// "…/raw_sqlite/100000" twin that reads or writes the same tables with plain SQL into structs.
//
// The library is built once into $TMPDIR/folivo-objectstore-bench/library.db by a child
// process, so the peak memory reported after the full fetch ("peak_rss_mb") is that of opening
// and fetching alone. Run: build/bin/objectstore_bench
#include "BenchMemory.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <optional>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace {

constexpr int documentCount = 100000;
constexpr int tagCount = 1000;
constexpr int tagsPerDocument = 3;
constexpr int savedBatch = 1000;

QString benchDir()
{
    return QDir::tempPath() + QStringLiteral("/folivo-objectstore-bench");
}

QString libraryPath()
{
    return benchDir() + QStringLiteral("/library.db");
}

ModelPtr model()
{
    static ModelPtr m = *ManagedObjectModel::loadBundle(QStringLiteral(OBJECTSTORE_RESOURCES "/DBModel.momd"));
    return m;
}

const char* words[] = {"report", "invoice", "letter", "draft", "minutes", "budget", "plan", "notes",
                       "résumé", "contract", "photo", "scan", "summary", "proposal", "review", "memo"};

void addDocument(const ContextPtr& context, int i, const QList<ManagedObjectPtr>& tags, const QDateTime& now)
{
    ManagedObjectPtr file = context->insertNewObject(QStringLiteral("DBFileInfo"));
    const QString title = QStringLiteral("%1 %2 %3").arg(QString::fromUtf8(words[i % 16]), QString::fromUtf8(words[(i / 16) % 16])).arg(i);
    file->setValueForKey(title, QStringLiteral("title"));
    file->setValueForKey(QStringLiteral("/Documents/Jan 01, 2014/%1.pdf").arg(title), QStringLiteral("path"));
    file->setValueForKey(QStringLiteral("pdf"), QStringLiteral("pathExtension"));
    file->setValueForKey(QStringLiteral("/Thumbnail/%1").arg(qHash(title), 32, 16, QLatin1Char('0')), QStringLiteral("thumbPath"));
    file->setValueForKey(i % 50 == 0, QStringLiteral("isTrash"));
    ManagedObjectPtr meta = context->insertNewObject(QStringLiteral("DBFileInfoMetadata"));
    meta->setValueForKey(i % 7 == 0 ? QStringLiteral("about the %1").arg(QString::fromUtf8(words[i % 13])) : QString(""), QStringLiteral("comment"));
    meta->setValueForKey(QStringLiteral("/home/user/Downloads/%1.pdf").arg(title), QStringLiteral("from"));
    meta->setValueForKey(now.addSecs(-i), QStringLiteral("dateCreated"));
    meta->setValueForKey(now.addSecs(-i / 2), QStringLiteral("dateModified"));
    meta->setValueForKey(now, QStringLiteral("dateImported"));
    meta->setValueForKey(qint64(1000 + i * 37), QStringLiteral("fileSize"));
    meta->setValueForKey(i % 6, QStringLiteral("rate"));
    file->setObject(QStringLiteral("metadata"), meta);
    file->setObject(QStringLiteral("documentIndex"), context->insertNewObject(QStringLiteral("DBDocumentIndex")));
    for (int t = 0; t < tagsPerDocument; ++t)
        file->addObject(QStringLiteral("tags"), tags[(i * 7 + t * 331) % tags.size()]);
}

int buildLibrary()
{
    QDir().mkpath(benchDir());
    const QString tmp = libraryPath() + QStringLiteral(".building");
    for (const char* s : {"", "-wal", "-shm"})
        QFile::remove(tmp + QString::fromLatin1(s));
    auto coordinator = PersistentStoreCoordinator::create(model());
    if (!coordinator->addSQLiteStore(tmp))
        return 1;
    auto context = ManagedObjectContext::create(ConcurrencyType::Confinement, coordinator);
    QList<ManagedObjectPtr> tags;
    for (int t = 0; t < tagCount; ++t) {
        ManagedObjectPtr tag = context->insertNewObject(QStringLiteral("DBTag"));
        tag->setValueForKey(QStringLiteral("tag%1").arg(t), QStringLiteral("name"));
        tags << tag;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < documentCount; ++i) {
        addDocument(context, i, tags, now);
        if ((i + 1) % 10000 == 0 && !context->save())
            return 1;
    }
    if (!context->save())
        return 1;
    context.reset();
    coordinator.reset();
    return QFile::rename(tmp, libraryPath()) ? 0 : 1;
}

// Built in a child process so that building never counts towards the measured peak memory.
void ensureLibrary()
{
    if (QFileInfo::exists(libraryPath())) {
        auto meta = SqliteStore::readMetadata(libraryPath());
        if (meta && meta->modelHash == model()->versionHash())
            return;
        for (const char* s : {"", "-wal", "-shm"})
            QFile::remove(libraryPath() + QString::fromLatin1(s)); // written by another model version
    }
    std::fprintf(stderr, "building %s (once)...\n", qPrintable(libraryPath()));
    const pid_t child = fork();
    if (child == 0)
        _exit(buildLibrary());
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !QFileInfo::exists(libraryPath())) {
        std::fprintf(stderr, "building the library failed\n");
        std::exit(1);
    }
}

Result<Predicate> predicate(const char* format, const QVariantList& args = {})
{
    return Predicate::format(QString::fromUtf8(format), args);
}

// ---- object store ----

void OpenAndFetchAll_objectstore(benchmark::State& state)
{
    ensureLibrary();
    // The model is read once per run of the program, before any library opens.
    const ModelPtr dbModel = model();
    qsizetype fetched = 0;
    double openMs = 0, rssOpen = 0, rssFetched = 0;
    const double rssBefore = rssMb("VmRSS:");
    // What a round opened lives until the next round (or the end) lets it go, untimed: the
    // program keeps its library open, so its tear-down is no part of opening it.
    struct Opened {
        CoordinatorPtr coordinator;
        ContextPtr context;
        QList<ManagedObjectPtr> objects;
    };
    std::optional<Opened> opened;
    for (auto _ : state) {
        state.PauseTiming();
        opened.reset();
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        Opened& now = opened.emplace();
        now.coordinator = PersistentStoreCoordinator::create(dbModel);
        if (!now.coordinator->addSQLiteStore(libraryPath()))
            state.SkipWithError("cannot open the library");
        // The first round's figures: later rounds reuse memory the allocator kept.
        if (openMs == 0) {
            openMs = double(timer.elapsed());
            rssOpen = rssMb("VmRSS:");
        }
        now.context = ManagedObjectContext::create(ConcurrencyType::Confinement, now.coordinator);
        auto objects = now.context->executeFetchRequest(FetchRequest(QStringLiteral("DBFileInfo"), *predicate("isTrash == NO")));
        fetched = objects ? objects->size() : 0;
        if (objects)
            now.objects = std::move(*objects);
        if (rssFetched == 0)
            rssFetched = rssMb("VmRSS:");
        benchmark::DoNotOptimize(now.objects);
    }
    state.counters["records"] = double(fetched);
    state.counters["open_ms"] = openMs;
    state.counters["rss_start_mb"] = rssBefore;
    state.counters["rss_open_mb"] = rssOpen;
    state.counters["rss_fetched_mb"] = rssFetched;
    state.counters["peak_rss_mb"] = rssMb();
}

struct OpenLibrary {
    CoordinatorPtr coordinator;
    ContextPtr context;
    QList<ManagedObjectPtr> tags;
    static OpenLibrary& shared()
    {
        static OpenLibrary lib = [] {
            ensureLibrary();
            OpenLibrary l;
            l.coordinator = PersistentStoreCoordinator::create(model());
            (void)l.coordinator->addSQLiteStore(libraryPath());
            l.context = ManagedObjectContext::create(ConcurrencyType::Confinement, l.coordinator);
            l.tags = *l.context->executeFetchRequest(FetchRequest(QStringLiteral("DBTag")));
            return l;
        }();
        return lib;
    }
};

void TokenSearch_objectstore(benchmark::State& state)
{
    OpenLibrary& lib = OpenLibrary::shared();
    auto pred = predicate("(title CONTAINS[cd] %@ || metadata.comment CONTAINS[cd] %@) && (ANY tags.name like[cd] %@) && isTrash == NO",
                          {QStringLiteral("report"), QStringLiteral("report"), QStringLiteral("TAG1*")});
    qsizetype found = 0;
    for (auto _ : state) {
        auto ids = lib.context->fetchObjectIDs(FetchRequest(QStringLiteral("DBFileInfo"), *pred));
        found = ids ? ids->size() : -1;
    }
    state.counters["records"] = double(found);
}

void TagRecount_objectstore(benchmark::State& state)
{
    OpenLibrary& lib = OpenLibrary::shared();
    qsizetype total = 0;
    for (auto _ : state) {
        total = 0;
        for (const ManagedObjectPtr& tag : lib.tags) {
            auto n = lib.context->countForFetchRequest(FetchRequest(QStringLiteral("DBFileInfo"),
                *predicate("isTrash == NO && (ANY tags == %@)", {QVariant::fromValue(tag->ref())})));
            total += n ? *n : 0;
        }
    }
    state.counters["links"] = double(total);
}

// The same recount as one grouped count: documents not in the trash per related tag.
void TagGroupedCount_objectstore(benchmark::State& state)
{
    OpenLibrary& lib = OpenLibrary::shared();
    FetchRequest request(QStringLiteral("DBFileInfo"), *predicate("isTrash == NO"));
    request.groupByKeyPath = QStringLiteral("tags");
    qsizetype total = 0;
    qsizetype groups = 0;
    for (auto _ : state) {
        auto counts = lib.context->groupedCountForFetchRequest(request);
        total = 0;
        groups = counts ? counts->size() : -1;
        for (qsizetype i = 0; counts && i < counts->size(); ++i)
            total += counts->at(i).value.isValid() ? counts->at(i).count : 0;
    }
    state.counters["links"] = double(total);
    state.counters["groups"] = double(groups);
}

void Save1000_objectstore(benchmark::State& state)
{
    OpenLibrary& lib = OpenLibrary::shared();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (auto _ : state) {
        state.PauseTiming();
        QList<ManagedObjectPtr> tags = lib.tags;
        state.ResumeTiming();
        for (int i = 0; i < savedBatch; ++i)
            addDocument(lib.context, documentCount + i, tags, now);
        if (!lib.context->save())
            state.SkipWithError("save failed");
        state.PauseTiming();
        // Keep the library at its size for the next round.
        auto added = lib.context->executeFetchRequest(FetchRequest(QStringLiteral("DBFileInfo"), {}, {}, 0));
        for (qsizetype i = documentCount; added && i < added->size(); ++i)
            lib.context->deleteObject(added->at(i));
        (void)lib.context->save();
        state.ResumeTiming();
    }
}

// ---- raw SQLite twins ----

struct RawFile {
    qint64 pk;
    QString title, path, pathExtension, thumbPath;
    bool isTrash;
};

sqlite3* openRaw()
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(libraryPath()).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    return db;
}

QString text(sqlite3_stmt* st, int i)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)), sqlite3_column_bytes(st, i));
}

void OpenAndFetchAll_raw(benchmark::State& state)
{
    ensureLibrary();
    size_t fetched = 0;
    // Like the store's twin: the rows stay until the next round lets them go, untimed.
    std::vector<RawFile> rows;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<RawFile>().swap(rows);
        state.ResumeTiming();
        sqlite3* db = openRaw();
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT pk, a_title, a_path, a_pathExtension, a_thumbPath, a_isTrash FROM t_DBFileInfo WHERE a_isTrash = 0", -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW)
            rows.push_back({sqlite3_column_int64(st, 0), text(st, 1), text(st, 2), text(st, 3), text(st, 4), sqlite3_column_int(st, 5) != 0});
        sqlite3_finalize(st);
        sqlite3_close(db);
        fetched = rows.size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["records"] = double(fetched);
    state.counters["peak_rss_mb"] = rssMb();
}

void TokenSearch_raw(benchmark::State& state)
{
    ensureLibrary();
    sqlite3* db = openRaw();
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
        "SELECT f.pk FROM t_DBFileInfo f LEFT JOIN t_DBFileInfoMetadata m ON m.pk = f.r_metadata "
        "WHERE (f.a_title LIKE ?1 OR m.a_comment LIKE ?1) AND f.a_isTrash = 0 AND EXISTS "
        "(SELECT 1 FROM j_DBFileInfo_tags j JOIN t_DBTag t ON t.pk = j.dst WHERE j.src = f.pk AND t.a_name LIKE ?2)",
        -1, &st, nullptr);
    size_t found = 0;
    for (auto _ : state) {
        sqlite3_reset(st);
        sqlite3_bind_text(st, 1, "%report%", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 2, "tag1%", -1, SQLITE_STATIC);
        std::vector<qint64> ids;
        while (sqlite3_step(st) == SQLITE_ROW)
            ids.push_back(sqlite3_column_int64(st, 0));
        found = ids.size();
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    state.counters["records"] = double(found);
}

void TagRecount_raw(benchmark::State& state)
{
    ensureLibrary();
    sqlite3* db = openRaw();
    sqlite3_stmt* tags = nullptr;
    sqlite3_prepare_v2(db, "SELECT pk FROM t_DBTag", -1, &tags, nullptr);
    std::vector<qint64> tagKeys;
    while (sqlite3_step(tags) == SQLITE_ROW)
        tagKeys.push_back(sqlite3_column_int64(tags, 0));
    sqlite3_finalize(tags);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM j_DBFileInfo_tags j JOIN t_DBFileInfo f ON f.pk = j.src WHERE j.dst = ? AND f.a_isTrash = 0", -1, &st, nullptr);
    qint64 total = 0;
    for (auto _ : state) {
        total = 0;
        for (qint64 k : tagKeys) {
            sqlite3_reset(st);
            sqlite3_bind_int64(st, 1, k);
            if (sqlite3_step(st) == SQLITE_ROW)
                total += sqlite3_column_int64(st, 0);
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    state.counters["links"] = double(total);
}

void TagGroupedCount_raw(benchmark::State& state)
{
    ensureLibrary();
    sqlite3* db = openRaw();
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT j.dst, count(*) FROM j_DBFileInfo_tags j JOIN t_DBFileInfo f ON f.pk = j.src "
                           "WHERE f.a_isTrash = 0 GROUP BY j.dst", -1, &st, nullptr);
    qint64 total = 0;
    size_t groups = 0;
    for (auto _ : state) {
        sqlite3_reset(st);
        std::vector<std::pair<qint64, qint64>> counts;
        while (sqlite3_step(st) == SQLITE_ROW)
            counts.emplace_back(sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1));
        total = 0;
        for (const auto& c : counts)
            total += c.second;
        groups = counts.size();
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    state.counters["links"] = double(total);
    state.counters["groups"] = double(groups);
}

void Save1000_raw(benchmark::State& state)
{
    ensureLibrary();
    const QString copy = benchDir() + QStringLiteral("/raw-save.db");
    QFile::remove(copy);
    QFile::copy(libraryPath(), copy);
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(copy).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
    sqlite3_stmt *file = nullptr, *meta = nullptr, *index = nullptr, *link = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t_DBFileInfo (pk, ent, a_title, a_path, a_pathExtension, a_thumbPath, a_isTrash, a_isIndex, a_isNeedDelete, r_metadata, r_documentIndex) VALUES (?,0,?,?,'pdf',?,0,0,0,?,?)", -1, &file, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO t_DBFileInfoMetadata (pk, ent, a_comment, a_from, a_dateCreated, a_dateModified, a_dateImported, a_fileSize, a_rate, a_label, r_fileInfo) VALUES (?,0,'',?,?,?,?,?,0,0,?)", -1, &meta, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO t_DBDocumentIndex (pk, ent, a_skDocumentID, r_fileInfo) VALUES (?,0,-1,?)", -1, &index, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO j_DBFileInfo_tags (src, dst) VALUES (?,?)", -1, &link, nullptr);
    qint64 next = 10000000;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (auto _ : state) {
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        for (int i = 0; i < savedBatch; ++i) {
            const qint64 pk = ++next;
            const QByteArray title = QStringLiteral("raw %1").arg(pk).toUtf8();
            const QByteArray path = "/Documents/Jan 01, 2014/" + title + ".pdf";
            sqlite3_reset(file);
            sqlite3_bind_int64(file, 1, pk);
            sqlite3_bind_text(file, 2, title.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(file, 3, path.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(file, 4, path.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(file, 5, pk);
            sqlite3_bind_int64(file, 6, pk);
            sqlite3_step(file);
            sqlite3_reset(meta);
            sqlite3_bind_int64(meta, 1, pk);
            sqlite3_bind_text(meta, 2, path.constData(), -1, SQLITE_TRANSIENT);
            for (int c = 3; c <= 5; ++c)
                sqlite3_bind_int64(meta, c, now);
            sqlite3_bind_int64(meta, 6, 1000 + i);
            sqlite3_bind_int64(meta, 7, pk);
            sqlite3_step(meta);
            sqlite3_reset(index);
            sqlite3_bind_int64(index, 1, pk);
            sqlite3_bind_int64(index, 2, pk);
            sqlite3_step(index);
            for (int t = 0; t < tagsPerDocument; ++t) {
                sqlite3_reset(link);
                sqlite3_bind_int64(link, 1, pk);
                sqlite3_bind_int64(link, 2, 1 + (i * 7 + t * 331) % tagCount);
                sqlite3_step(link);
            }
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    for (sqlite3_stmt* st : {file, meta, index, link})
        sqlite3_finalize(st);
    sqlite3_close(db);
    for (const char* s : {"", "-wal", "-shm"})
        QFile::remove(copy + QString::fromLatin1(s));
}

} // namespace

// One round: the program opens its store once, and the peak memory of that one open is the
// figure that matters (repeated opens on fresh threads spread rows over more allocator arenas).
BENCHMARK(OpenAndFetchAll_objectstore)->Name("OpenAndFetchAll/objectstore/100000")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(OpenAndFetchAll_raw)->Name("OpenAndFetchAll/raw_sqlite/100000")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(TokenSearch_objectstore)->Name("TokenSearch/objectstore/100000")->Unit(benchmark::kMillisecond);
BENCHMARK(TokenSearch_raw)->Name("TokenSearch/raw_sqlite/100000")->Unit(benchmark::kMillisecond);
BENCHMARK(TagRecount_objectstore)->Name("TagRecount/objectstore/100000")->Unit(benchmark::kMillisecond);
BENCHMARK(TagRecount_raw)->Name("TagRecount/raw_sqlite/100000")->Unit(benchmark::kMillisecond);
BENCHMARK(TagGroupedCount_objectstore)->Name("TagGroupedCount/objectstore/100000")->Unit(benchmark::kMillisecond);
BENCHMARK(TagGroupedCount_raw)->Name("TagGroupedCount/raw_sqlite/100000")->Unit(benchmark::kMillisecond);
BENCHMARK(Save1000_objectstore)->Name("Save1000/objectstore/100000")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(Save1000_raw)->Name("Save1000/raw_sqlite/100000")->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
