// Syncing an index folder of 20,000 small documents (200 folders of 100 text files): the first
// import, a re-sync with nothing changed, and a re-sync after 100 changes (40 renames, 30 edits,
// 30 deletions), each beside its floor measured in the same run:
// - the first import beside the same import into a second library with the thumbnail flushes
//   turned off (the flushes it makes are counted: at most one per chunk of 200 files);
// - the re-sync with nothing changed beside a bare recursive listing of the same tree, the
//   floor any sync stands on, in alternating runs (medians and their ratio as counters).
// A walk of the tree reading every file's attributes (what a first import does) is reported too.
// Every phase is one full ("TopLevel") pass, from the request to the end notice, with both
// stores written; the change debounce of folder reports is not part of it. The main thread
// sleeps in its event loop while a pass runs.
//
// A walk trusts a file's change time only once it is KPFolderSnapshot::kChangeTimeSettle old,
// as the files of a watched folder nearly always are; the run waits that long after making the
// tree, so that the re-sync measures that case rather than files made a moment ago.
//
// The tree and the libraries live in $TMPDIR/folivo-indexfolder-bench; HOME and the XDG folders
// point there. Run: build/bin/indexfolder_bench
#include "BenchHome.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Store/DBIndexFolder.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "IndexFolder/KPFolderSnapshot.h"
#include "IndexFolder/KPFolderSnapshotAnalytics.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"
#include "IndexFolder/KPIndexFolderManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 100;
constexpr int kRenames = 40;
constexpr int kEdits = 30;
constexpr int kDeletions = 30;
constexpr int kResyncRuns = 7;

QString benchDir()
{
    return QDir::tempPath() + QStringLiteral("/folivo-indexfolder-bench");
}

QString treeDir()
{
    return benchDir() + QStringLiteral("/tree");
}

QString filePath(int folder, int file)
{
    return QStringLiteral("%1/F%2/doc %3.txt").arg(treeDir()).arg(folder, 3, 10, QLatin1Char('0')).arg(file);
}

void makeTree()
{
    QDir(treeDir()).removeRecursively();
    for (int f = 0; f < kFolders; ++f) {
        QDir().mkpath(QFileInfo(filePath(f, 0)).path());
        for (int i = 0; i < kFilesPerFolder; ++i) {
            QFile file(filePath(f, i));
            if (file.open(QIODevice::WriteOnly))
                file.write(QStringLiteral("Document %1 of folder %2\n").arg(i).arg(f).toUtf8());
        }
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A library with both stores and a manager. Only one lives at a time: the import writes into
// the program's default library store.
struct Library {
    std::unique_ptr<DataBaseEngine> engine;
    std::unique_ptr<KPIndexFolderDBEngine> indexStore;
    std::unique_ptr<KPLibraryFileManager> files;
    std::unique_ptr<KPIndexFolderManager> manager;
    DBIndexFolder folder;
    std::atomic<int> flushes{0};
    int finished = 0;
    QEventLoop* waiting = nullptr;
    platform::ObserverToken token;

    Library(const QString& name, bool flush)
    {
        const QString path = benchDir() + QLatin1Char('/') + name;
        QDir(path).removeRecursively();
        QDir().mkpath(path);
        DataBaseEngine::Options options;
        options.libraryPath = path;
        engine = std::make_unique<DataBaseEngine>(options);
        if (!engine->initDataBase())
            qFatal("the library store did not open");
        indexStore = std::make_unique<KPIndexFolderDBEngine>(path);
        files = std::make_unique<KPLibraryFileManager>(path);
        IndexFolderServices services;
        services.library = engine.get();
        services.indexStore = indexStore.get();
        services.files = files.get();
        services.libraryPath = path;
        services.flushThumbnails = [this, flush](const QStringList& thumbnails) -> platform::Result<void> {
            ++flushes;
            return flush ? files->flushItems(thumbnails) : platform::Result<void>();
        };
        manager = std::make_unique<KPIndexFolderManager>(services);
        folder = DBRecord::insertNewObject<DBIndexFolder>(engine->context());
        folder.setPath(treeDir());
        folder.setType(QStringLiteral("Folder"));
        engine->writeToDiskAndWait();
        token = platform::NotificationCenter::defaultCenter().addObserver(
            IndexFolderSyncFinishedNotification, [this](const platform::Notification&) {
                ++finished;
                if (waiting)
                    waiting->quit();
            });
    }

    ~Library()
    {
        manager.reset();
        engine->writeToDiskAndWait();
        folder = {};
        indexStore.reset();
        engine.reset();
    }

    // The first import, unless it ran already.
    void importOnce()
    {
        if (finished == 0)
            syncWhole();
    }

    void syncWhole()
    {
        const int before = finished;
        QEventLoop loop;
        waiting = &loop;
        manager->syncIndexFolder(folder, {{IndexFolderAction::ActionType, IndexFolderAction::TopLevel}});
        while (finished == before)
            loop.exec();
        waiting = nullptr;
    }

    qsizetype liveDocuments()
    {
        auto predicate = platform::Predicate::format(QStringLiteral("isIndex == YES && isTrash == NO"));
        return engine->countByObject(DBFileInfo::entityName(), predicate ? *predicate : platform::Predicate());
    }

    void report(benchmark::State& state)
    {
        state.counters["documents"] = double(liveDocuments());
    }
};

std::unique_ptr<Library>& current()
{
    static auto* shared = new std::unique_ptr<Library>;
    return *shared;
}

Library& library()
{
    if (!current())
        current() = std::make_unique<Library>(QStringLiteral("library"), true);
    return *current();
}

double g_importWithoutFlushesMs = 0;

qsizetype bareListing()
{
    qsizetype entries = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(treeDir().toStdString())) {
        (void)entry;
        ++entries;
    }
    return entries;
}

void BM_BareListing(benchmark::State& state)
{
    for (auto _ : state) {
        const qsizetype entries = bareListing();
        benchmark::DoNotOptimize(entries);
        state.counters["entries"] = double(entries);
    }
}

void BM_WalkReadingEveryAttribute(benchmark::State& state)
{
    for (auto _ : state) {
        KPFolderSnapshot snapshot(treeDir(), benchDir() + QStringLiteral("/library"));
        benchmark::DoNotOptimize(snapshot.snapShotAndChildren());
    }
}

void BM_0_FirstImportWithoutFlushes(benchmark::State& state)
{
    current().reset();
    Library unflushed(QStringLiteral("library-unflushed"), false);
    QElapsedTimer clock;
    for (auto _ : state) {
        clock.start();
        unflushed.syncWhole();
        g_importWithoutFlushesMs = double(clock.nsecsElapsed()) / 1e6;
    }
    unflushed.report(state);
}

void BM_1_FirstImport(benchmark::State& state)
{
    library(); // made outside the timing, as in the run without flushes
    QElapsedTimer clock;
    double ms = 0;
    for (auto _ : state) {
        clock.start();
        library().syncWhole();
        ms = double(clock.nsecsElapsed()) / 1e6;
    }
    library().report(state);
    state.counters["flushes"] = double(library().flushes.load());
    state.counters["chunks"] = double((kFolders * kFilesPerFolder + KPFolderSnapshotAnalytics::kChunkSize - 1)
                                      / KPFolderSnapshotAnalytics::kChunkSize);
    if (g_importWithoutFlushesMs > 0)
        state.counters["x_unflushed"] = ms / g_importWithoutFlushesMs;
}

void BM_2_NoChangeResync(benchmark::State& state)
{
    library().importOnce();
    std::vector<double> resyncs, listings;
    QElapsedTimer clock;
    for (auto _ : state) {
        // Alternating with the floor, so that both see the same load.
        state.PauseTiming();
        clock.start();
        benchmark::DoNotOptimize(bareListing());
        listings.push_back(double(clock.nsecsElapsed()) / 1e6);
        state.ResumeTiming();
        clock.start();
        library().syncWhole();
        resyncs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    library().report(state);
    state.counters["resync_median_ms"] = median(resyncs);
    state.counters["listing_median_ms"] = median(listings);
    state.counters["x_listing"] = median(resyncs) / median(listings);
}

void BM_3_HundredChanges(benchmark::State& state)
{
    library().importOnce();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kRenames; ++i)
            QFile::rename(filePath(i, 1), filePath(i, 1) + QStringLiteral(" renamed.txt"));
        for (int i = 0; i < kEdits; ++i) {
            const QString path = filePath(i, 2);
            QFile file(path);
            if (file.open(QIODevice::Append))
                file.write("edited\n");
            file.close();
            platform::FileManager::setModificationDate(path, QDateTime::currentDateTimeUtc().addSecs(60));
        }
        for (int i = 0; i < kDeletions; ++i)
            QFile::remove(filePath(i, 3));
        state.ResumeTiming();
        library().syncWhole();
    }
    library().report(state);
}

} // namespace

BENCHMARK(BM_BareListing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_WalkReadingEveryAttribute)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_0_FirstImportWithoutFlushes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_1_FirstImport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_2_NoChangeResync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(kResyncRuns);
BENCHMARK(BM_3_HundredChanges)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv)
{
    useBenchHome(benchDir() + QStringLiteral("/home"));
    QGuiApplication app(argc, argv);
    makeTree();
    QThread::sleep(ulong(KPFolderSnapshot::kChangeTimeSettle.count()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    current().reset();
    return 0;
}
