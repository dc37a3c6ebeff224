// Syncing an index folder of 20,000 small documents (200 folders of 100 text files): the first
// import, a re-sync with nothing changed, and a re-sync after 100 changes (40 renames, 30 edits,
// 30 deletions), each beside a bare recursive listing of the same tree, the floor any sync
// stands on. A walk of the tree as the sync does it (attributes and tags of every file) is
// reported too. Every phase is one full ("TopLevel") pass, from the request to the end notice,
// with both stores written; the change debounce of folder reports is not part of it.
//
// The tree and the library live in $TMPDIR/folivo-indexfolder-bench; HOME and the XDG folders
// point there. Run: build/bin/indexfolder_bench
#include "BenchHome.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Store/DBIndexFolder.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Utilities/IndexFolder/KPFolderSnapshot.h"
#include "Utilities/IndexFolder/KPIndexFolderDBEngine.h"
#include "Utilities/IndexFolder/KPIndexFolderManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>

namespace {

constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 100;
constexpr int kRenames = 40;
constexpr int kEdits = 30;
constexpr int kDeletions = 30;

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

// The library, both stores and a manager, made once for all phases.
struct Library {
    std::unique_ptr<DataBaseEngine> engine;
    std::unique_ptr<KPIndexFolderDBEngine> indexStore;
    std::unique_ptr<KPLibraryFileManager> files;
    std::unique_ptr<KPIndexFolderManager> manager;
    DBIndexFolder folder;
    int finished = 0;
    platform::ObserverToken token;

    Library()
    {
        const QString path = benchDir() + QStringLiteral("/library");
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
        manager = std::make_unique<KPIndexFolderManager>(services);
        folder = DBRecord::insertNewObject<DBIndexFolder>(engine->context());
        folder.setPath(treeDir());
        folder.setType(QStringLiteral("Folder"));
        engine->writeToDiskAndWait();
        token = platform::NotificationCenter::defaultCenter().addObserver(
            IndexFolderSyncFinishedNotification, [this](const platform::Notification&) { ++finished; });
    }

    void syncWhole()
    {
        const int before = finished;
        manager->syncIndexFolder(folder, {{IndexFolderAction::ActionType, IndexFolderAction::TopLevel}});
        while (finished == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }

    qsizetype liveDocuments()
    {
        auto predicate = platform::Predicate::format(QStringLiteral("isIndex == YES && isTrash == NO"));
        return engine->countByObject(DBFileInfo::entityName(), predicate ? *predicate : platform::Predicate());
    }
};

Library& library()
{
    static Library* shared = new Library;
    return *shared;
}

void report(benchmark::State& state)
{
    state.counters["documents"] = double(library().liveDocuments());
}

void BM_BareListing(benchmark::State& state)
{
    for (auto _ : state) {
        qsizetype entries = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(treeDir().toStdString())) {
            (void)entry;
            ++entries;
        }
        benchmark::DoNotOptimize(entries);
        state.counters["entries"] = double(entries);
    }
}

void BM_WalkAsTheSyncDoes(benchmark::State& state)
{
    for (auto _ : state) {
        KPFolderSnapshot snapshot(treeDir(), benchDir() + QStringLiteral("/library"));
        benchmark::DoNotOptimize(snapshot.snapShotAndChildren());
    }
}

void BM_1_FirstImport(benchmark::State& state)
{
    for (auto _ : state)
        library().syncWhole();
    report(state);
}

void BM_2_NoChangeResync(benchmark::State& state)
{
    for (auto _ : state)
        library().syncWhole();
    report(state);
}

void BM_3_HundredChanges(benchmark::State& state)
{
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
    report(state);
}

} // namespace

BENCHMARK(BM_BareListing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_WalkAsTheSyncDoes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_1_FirstImport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_2_NoChangeResync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_3_HundredChanges)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv)
{
    useBenchHome(benchDir() + QStringLiteral("/home"));
    QGuiApplication app(argc, argv);
    makeTree();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
