// Documents leaving a library of 100,000 (the trash emptied, a move into the SafeBox): how long
// the main thread is held, how long until the records are gone, and how much is written.
//
// "Purge/emptied/2000" purges 2,000 documents marked for deletion from an open library, with a
// full-text index of 100,000 documents of ~2 KiB each whose words of those documents go too.
// "Purge/atStart/2000" opens the library with the same 2,000 documents still waiting and lists
// its documents as the window does ("open_ms"); "block_ms" is then the longest stretch the main
// thread did not answer after that, until the purge has ended.
//
// Each run starts from copies of a library and an index built once under
// $TMPDIR/folivo-purge-bench. A timer ticking every 2 ms on the main thread measures the longest
// stretch the thread did not answer ("block_ms"); "total_ms" runs to the purge's end, and
// "written_mb" is what the process wrote to storage meanwhile (/proc/self/io write_bytes).
//
// "Idle/seconds/3" and ".../60" are the floor of block_ms under the machine's load at the time:
// the watch alone, over as long as a purge and as a sweep run.
//
// "Opening/receiveStaging/40000" opens the library with a staging folder of 40,000 files that a
// killed receive left, and lists its documents as the window does: "open_ms" (the figure) until
// then, "block_ms" the longest the main thread did not answer after it, "swept_ms" until the
// staging is gone.
//
//   build/bin/purge_bench --benchmark_repetitions=5
#include "BenchHome.h"
#include "BenchLibrary.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/TextIndex/TextIndex.h"
#include "Store/DBHelper.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <optional>
#include <random>
#include <unistd.h>

namespace {

constexpr int kPurged = 2000;
constexpr int kTextBytes = 2048;
constexpr int kVocabulary = 30000;
// Every kStride-th document of the library is purged.
constexpr int kStride = benchlibrary::kDocuments / kPurged;

QString benchDir()
{
    return QDir::tempPath() + QStringLiteral("/folivo-purge-bench");
}
QString pristineLibrary() { return benchDir() + QStringLiteral("/library-100000"); }
QString pristineIndex() { return benchDir() + QStringLiteral("/index-100000.sqlite"); }
QString workLibrary() { return benchDir() + QStringLiteral("/work-library"); }
QString workIndex() { return benchDir() + QStringLiteral("/work-index.sqlite"); }

[[noreturn]] void die(const QString& what)
{
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::exit(1);
}

qint64 writtenBytes()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("write_bytes:"))
            return line.mid(12).trimmed().toLongLong();
    }
    return 0;
}

void buildIndex()
{
    if (QFile::exists(pristineIndex()))
        return;
    std::fprintf(stderr, "building the text index (once)...\n");
    const QString building = pristineIndex() + QStringLiteral(".building");
    QFile::remove(building);
    auto index = platform::TextIndex::open(building);
    if (!index)
        die(index.error().toString());
    std::mt19937_64 rng(42);
    std::vector<QString> words;
    for (int i = 0; i < kVocabulary; ++i) {
        QString word;
        const int letters = 3 + int(rng() % 8);
        for (int l = 0; l < letters; ++l)
            word += QChar(u'a' + int(rng() % 26));
        words.push_back(word);
    }
    for (int d = 0; d < benchlibrary::kDocuments; ++d) {
        QString text;
        while (text.size() < kTextBytes)
            text += words[size_t(std::min<quint64>(rng() % kVocabulary, rng() % kVocabulary))] + QLatin1Char(' ');
        const QString url = QStringLiteral("file:///library/Documents/%1.txt").arg(d);
        if (auto added = (*index)->addDocument(url, text, url); !added)
            die(added.error().toString());
        if ((d + 1) % 500 == 0) {
            if (auto flushed = (*index)->flush(); !flushed)
                die(flushed.error().toString());
        }
    }
    if (auto closed = (*index)->close(); !closed)
        die(closed.error().toString());
    index->reset();
    QFile::rename(building, pristineIndex());
}

void copyOver(const QString& from, const QString& to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        die(QStringLiteral("cannot copy %1 to %2").arg(from, to));
}

// A fresh work library and index; the library's documents to purge marked (and their
// thumbnails made) and saved. The engine stays open.
std::unique_ptr<DataBaseEngine> prepare()
{
    QDir(workLibrary()).removeRecursively();
    QDir().mkpath(workLibrary() + QStringLiteral("/Thumbnail"));
    for (const QString& name : QDir(pristineLibrary()).entryList(QDir::Files))
        copyOver(pristineLibrary() + QLatin1Char('/') + name, workLibrary() + QLatin1Char('/') + name);
    QFile::remove(workIndex() + QStringLiteral("-wal"));
    QFile::remove(workIndex() + QStringLiteral("-shm"));
    copyOver(pristineIndex(), workIndex());
    platform::UserDefaults::standardUserDefaults().setString(workLibrary(), QStringLiteral("String_Library_Path"));
    KPLibraryFileManager::resetDefaultManager();
    auto engine = benchlibrary::openEngine(workLibrary());
    // The opening's own purge (of nothing) runs before anything is marked.
    bool drained = false;
    platform::Dispatch::main([&drained] { drained = true; });
    while (!drained || DataBaseEngine::isPurging())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    auto files = engine->context()->executeFetchRequest(platform::FetchRequest(DBFileInfo::entityName()));
    if (!files || files->size() != benchlibrary::kDocuments)
        die(QStringLiteral("the library does not hold %1 documents").arg(benchlibrary::kDocuments));
    for (qsizetype i = 0; i < files->size(); i += kStride) {
        DBFileInfo file(files->at(i));
        file.setIsTrash(true);
        file.setIsNeedDelete(true);
        QFile thumb(DBHelper::CombinThumbAbsoluteByString(file.thumbPath()));
        if (!thumb.open(QIODevice::WriteOnly))
            die(QStringLiteral("cannot write %1").arg(thumb.fileName()));
    }
    if (!engine->writeToDiskAndWait())
        die(QStringLiteral("saving the marks failed"));
    return engine;
}

// The remover the program sets, over the work index: the purged documents' words go.
std::shared_ptr<platform::TextIndex> useIndexRemover()
{
    auto opened = platform::TextIndex::open(workIndex());
    if (!opened)
        die(opened.error().toString());
    std::shared_ptr<platform::TextIndex> index(std::move(*opened));
    DataBaseEngine::setLeftoverRemover([index](const QList<DataBaseEngine::DocumentLeftovers>& leftovers) {
        QList<qint64> ids;
        for (qsizetype i = 0; i < leftovers.size(); ++i)
            ids.append(1 + i * kStride);
        auto purged = index->purgeDocuments(ids);
        if (!purged)
            std::fprintf(stderr, "the index purge failed: %s\n", qPrintable(purged.error().toString()));
        return purged.has_value();
    });
    return index;
}

struct Watch {
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longest = 0;
    QTimer heartbeat;

    void start()
    {
        clock.start();
        heartbeat.setInterval(2);
        heartbeat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - lastTick);
            lastTick = now;
        });
        heartbeat.start();
    }
    // Runs the event loop until done answers true.
    void runUntil(const std::function<bool()>& done)
    {
        while (!done()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            if (clock.elapsed() > 600000)
                die(QStringLiteral("the purge did not end within 10 minutes"));
        }
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - lastTick);
        heartbeat.stop();
    }
};

void report(benchmark::State& state, const Watch& watch, qint64 total, qint64 written)
{
    state.SetIterationTime(double(total) / 1e9);
    state.counters["block_ms"] = double(watch.longest) / 1e6;
    state.counters["total_ms"] = double(total) / 1e6;
    state.counters["written_mb"] = double(written) / (1024.0 * 1024.0);
}

qsizetype marked(DataBaseEngine& engine)
{
    return engine.countByObject(DBFileInfo::entityName(),
                                *platform::Predicate::parse(QStringLiteral("isTrash == YES && isNeedDelete == YES")));
}

void BM_PurgeEmptied(benchmark::State& state)
{
    for (auto _ : state) {
        auto engine = prepare();
        auto index = useIndexRemover();
        QList<platform::ObjectID> ids;
        auto found = engine->queryRecordByName(DBFileInfo::entityName(),
                                               *platform::Predicate::parse(QStringLiteral("isTrash == YES && isNeedDelete == YES")),
                                               platform::FetchRequest::ResultType::ManagedObjectID);
        for (const QVariant& id : *found)
            ids.append(id.value<platform::ObjectID>());
        if (ids.size() != kPurged)
            die(QStringLiteral("%1 documents marked").arg(ids.size()));
        std::optional<int> deleted;
        Watch watch;
        const qint64 writtenBefore = writtenBytes();
        watch.start();
        QTimer::singleShot(0, [&] { engine->purgeDocuments(ids, [&deleted](int count) { deleted = count; }); });
        watch.runUntil([&] { return deleted.has_value(); });
        const qint64 total = watch.clock.nsecsElapsed();
        report(state, watch, total, writtenBytes() - writtenBefore);
        if (*deleted != kPurged || marked(*engine) != 0)
            die(QStringLiteral("%1 documents went").arg(*deleted));
        (void)engine->close();
        DataBaseEngine::setLeftoverRemover({});
    }
}

void BM_PurgeAtStart(benchmark::State& state)
{
    for (auto _ : state) {
        {
            auto engine = prepare();
            (void)engine->close();
        }
        auto index = useIndexRemover();
        std::unique_ptr<DataBaseEngine> engine;
        qint64 opened = 0;
        Watch watch;
        const qint64 writtenBefore = writtenBytes();
        watch.start();
        QTimer::singleShot(0, [&] {
            DataBaseEngine::Options options;
            options.libraryPath = workLibrary();
            options.saveTimerFactory = [] { return std::make_unique<benchlibrary::IdleSaveTimer>(); };
            engine = std::make_unique<DataBaseEngine>(options);
            if (auto ok = engine->initDataBase(); !ok)
                die(ok.error().toString());
            // The window lists the library's documents as it comes up, which reads their table.
            auto listed = engine->queryRecordByName(DBFileInfo::entityName(),
                                                    *platform::Predicate::parse(QStringLiteral("isTrash == NO")));
            if (!listed || listed->size() != benchlibrary::kDocuments - kPurged)
                die(QStringLiteral("the library's documents could not be listed"));
            opened = watch.clock.nsecsElapsed();
            // What follows the window's coming up is what the purge costs it.
            watch.longest = 0;
            watch.lastTick = opened;
        });
        watch.runUntil([&] { return engine && !DataBaseEngine::isPurging() && marked(*engine) == 0; });
        const qint64 total = watch.clock.nsecsElapsed();
        report(state, watch, total, writtenBytes() - writtenBefore);
        state.counters["open_ms"] = double(opened) / 1e6;
        (void)engine->close();
        DataBaseEngine::setLeftoverRemover({});
    }
}

// A receive of a large folder killed half-way: the next opening with its 40,000 files waiting.
void BM_OpeningWithReceiveStaging(benchmark::State& state)
{
    const int files = int(state.range(0));
    for (auto _ : state) {
        QDir(workLibrary()).removeRecursively();
        QDir().mkpath(workLibrary());
        for (const QString& name : QDir(pristineLibrary()).entryList(QDir::Files))
            copyOver(pristineLibrary() + QLatin1Char('/') + name, workLibrary() + QLatin1Char('/') + name);
        const QString staging = workLibrary() + QStringLiteral("/.folivo-receive-0F6C2E3A-55B1-4C8E-9D0A-1B2C3D4E5F60");
        for (int i = 0; i < files; ++i) {
            const QString folder = staging + QStringLiteral("/8A1B_F/Album %1").arg(i / 1000);
            if (i % 1000 == 0)
                QDir().mkpath(folder);
            QFile file(folder + QStringLiteral("/page %1.txt").arg(i));
            if (!file.open(QIODevice::WriteOnly) || file.write("unpacked page") < 0)
                die(QStringLiteral("cannot write %1").arg(file.fileName()));
        }
        ::sync();
        std::unique_ptr<DataBaseEngine> engine;
        qint64 opened = 0;
        Watch watch;
        watch.start();
        QTimer::singleShot(0, [&] {
            DataBaseEngine::Options options;
            options.libraryPath = workLibrary();
            options.saveTimerFactory = [] { return std::make_unique<benchlibrary::IdleSaveTimer>(); };
            engine = std::make_unique<DataBaseEngine>(options);
            if (auto ok = engine->initDataBase(); !ok)
                die(ok.error().toString());
            auto listed = engine->queryRecordByName(DBFileInfo::entityName(),
                                                    *platform::Predicate::parse(QStringLiteral("isTrash == NO")));
            if (!listed || listed->size() != benchlibrary::kDocuments)
                die(QStringLiteral("the library's documents could not be listed"));
            opened = watch.clock.nsecsElapsed();
            watch.longest = 0;
            watch.lastTick = opened;
        });
        watch.runUntil([&] { return engine && !QFileInfo::exists(staging); });
        const qint64 total = watch.clock.nsecsElapsed();
        state.SetIterationTime(double(opened) / 1e9);
        state.counters["open_ms"] = double(opened) / 1e6;
        state.counters["block_ms"] = double(watch.longest) / 1e6;
        state.counters["swept_ms"] = double(total) / 1e6;
        (void)engine->close();
        engine->releaseLock();
    }
}

// The floor of block_ms on this machine now: the same watch over seconds of nothing to do. On
// a loaded machine the main thread waits for a CPU now and then, purge or not, and the longer
// it is watched the longer the longest wait.
void BM_Idle(benchmark::State& state)
{
    const qint64 ms = state.range(0) * 1000;
    for (auto _ : state) {
        Watch watch;
        watch.start();
        watch.runUntil([&] { return watch.clock.elapsed() >= ms; });
        state.SetIterationTime(double(watch.clock.nsecsElapsed()) / 1e9);
        state.counters["block_ms"] = double(watch.longest) / 1e6;
    }
}

BENCHMARK(BM_Idle)->Name("Idle/seconds")->Arg(3)->Arg(60)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PurgeEmptied)->Name("Purge/emptied/2000")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PurgeAtStart)->Name("Purge/atStart/2000")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_OpeningWithReceiveStaging)->Name("Opening/receiveStaging")->Arg(40000)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    useBenchHome(benchDir() + QStringLiteral("/home"));
    QCoreApplication app(argc, argv);
    {
        auto engine = benchlibrary::openBenchLibrary(pristineLibrary());
        (void)engine->close();
    }
    buildIndex();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
