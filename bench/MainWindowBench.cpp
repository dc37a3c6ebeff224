// The main window over a library of 100,000 documents: from creating the window to the first
// painted grid of Documents (both side bars loaded, the last selection restored, the listed set
// grouped and the visible items drawn, offscreen), beside its floor, the raw SQLite select of
// the same rows (the documents not in the Trash) into plain structs. Twins are named
// "MainWindow/open_to_first_grid/100000" and "MainWindow/raw_sqlite_select/100000"; the first
// reports the process's peak memory ("peak_rss_mb") and the documents listed.
//
// The library is the browser benchmark's (built once into $TMPDIR/folivo-browser-bench). Run:
// build/bin/mainwindow_bench
#include "BenchHome.h"
#include "BenchLibrary.h"
#include "BenchMemory.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "MainWindow/MainWindowController.h"
#include "SideBar/SideBarNotifications.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

namespace {

QString benchDir()
{
    return QDir::tempPath() + QStringLiteral("/folivo-browser-bench");
}

QString libraryDir()
{
    return benchDir() + QStringLiteral("/library");
}

DataBaseEngine& engine()
{
    static std::unique_ptr<DataBaseEngine> shared = benchlibrary::openBenchLibrary(libraryDir());
    return *shared;
}

bool spinUntil(const std::function<bool()>& done, int capMs = 120000)
{
    QDeadlineTimer deadline(capMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void openToFirstGrid(benchmark::State& state)
{
    DataBaseEngine& store = engine();
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    qint64 listed = 0;
    for (auto _ : state) {
        // Every run opens on Documents, as a first run does.
        defaults.removeObjectForKey(MainWindowController::kLastSelectedInfoKey);
        QElapsedTimer timer;
        timer.start();
        MainWindowController::Options options;
        SideBarServices services;
        services.library = &store;
        options.sideBarServices = services;
        auto controller = std::make_unique<MainWindowController>(std::move(options));
        controller->showWindow();
        KPCollectionView* grid = controller->context().collectionView;
        const bool shown = spinUntil([&] { return controller->isRestored() && grid->sectionCount() > 0; });
        const QPixmap painted = grid->viewport()->grab();
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (!shown) {
            state.SkipWithError("the grid showed no documents");
            return;
        }
        benchmark::DoNotOptimize(painted);
        state.SetIterationTime(seconds);
        listed = qint64(KPDataSourceManager::shareDataSourceManager().dataSource().size());
        state.PauseTiming();
        controller.reset();
        KPDataSourceManager::shareDataSourceManager().removeAllObjects();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["documents"] = double(listed);
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

struct RawFile {
    qint64 pk;
    QString title, path, pathExtension, thumbPath;
    bool isTrash;
};

QString text(sqlite3_stmt* st, int i)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)), sqlite3_column_bytes(st, i));
}

void rawSelect(benchmark::State& state)
{
    (void)engine();
    const QByteArray file = QFile::encodeName(libraryDir() + QStringLiteral("/library.db"));
    size_t rows = 0;
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT pk, a_title, a_path, a_pathExtension, a_thumbPath, a_isTrash FROM t_DBFileInfo WHERE a_isTrash = 0",
                           -1, &st, nullptr);
        std::vector<RawFile> files;
        while (sqlite3_step(st) == SQLITE_ROW)
            files.push_back({sqlite3_column_int64(st, 0), text(st, 1), text(st, 2), text(st, 3), text(st, 4),
                             sqlite3_column_int(st, 5) != 0});
        sqlite3_finalize(st);
        sqlite3_close(db);
        rows = files.size();
        benchmark::DoNotOptimize(files);
    }
    state.counters["documents"] = double(rows);
}

} // namespace

int main(int argc, char** argv)
{
    useBenchHome(benchDir() + QStringLiteral("/home"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray"));
    benchmark::RegisterBenchmark("MainWindow/open_to_first_grid/100000", openToFirstGrid)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("MainWindow/raw_sqlite_select/100000", rawSelect)->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The store is closed in order, never by static destruction.
    (void)engine().close();
    return 0;
}
