// The main window over a library of 100,000 documents: from creating the window to the first
// painted grid of Documents (both side bars loaded, the last selection restored, the listed set
// grouped and the visible items drawn, offscreen), beside its floor, the raw SQLite select of
// the same rows (the documents not in the Trash) into plain structs, run as the open runs: once,
// in a process that has read no rows before. Twins are named "MainWindow/open_to_first_grid/100000"
// and "MainWindow/first_sqlite_select/100000"; both report the process's peak memory
// ("peak_rss_mb") and the documents listed.
//
// The user's steps in a window open on Documents, each up to the repainted grid, each with its
// floor in the same binary:
// - "switch_to_documents" (from the Trash) beside "raw_sqlite_select" (the same select, averaged
//   over as many runs as it takes, as the switch is);
// - "select_all" beside "raw_all_addresses" (the addresses of every listed item, collected);
// - "zoom_step" (one step in or out) beside "raw_repaint" (the same grid painted again);
// - "type_to_find" (one key) beside "raw_title_scan" (the same titles folded and searched), and
//   "type_to_find_first_key" (the first key after the listing was grouped again: at once, when
//   the key folds the new listing's titles, or after a second in which the window folded them
//   while idle) beside the same floor;
// - "rating_change" (one document's rating saved, the grid's model following, everything the
//   save set off run; no repaint) beside "raw_rating_save" (the same save in a store no window
//   listens to).
// Each reports peak memory ("peak_rss_mb") beside its time.
//
// "open_to_first_grid" is a cold open: one iteration in a process that has opened no window
// before (a second one would find the store's rows, the theme and the listing's caches warm and
// pull the figure down to a fraction of what a user waits at a start). Its floor
// "first_sqlite_select" is cold in the same way: one iteration in a process that has read no
// rows (a select repeated in one process runs on a heap and a statement cache the first left
// behind, and its average is another figure). Several figures come from several processes:
// bench/pairs runs each in one of its own; a repetition in the same process is refused.
//
// The library is the browser benchmark's (built once into $TMPDIR/folivo-browser-bench). Run:
// build/bin/mainwindow_bench, or alternating with bench/pairs.
#include "BenchHome.h"
#include "BenchLibrary.h"
#include "BenchMemory.h"
#include "RawListing.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowController.h"
#include "Browser/KPGroupingEngine.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/TextFolding.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "Store/DBFileInfoMetadata.h"
#include "SideBar/SideBarNotifications.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <benchmark/benchmark.h>

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

// Whether this process has opened a window or read the listed rows already: after that no
// open and no first select is a cold one.
bool g_windowOpened = false;
bool g_rowsRead = false;

bool coldProcess(benchmark::State& state)
{
    if (g_windowOpened || g_rowsRead) {
        state.SkipWithError("a cold run needs a process of its own (run it once per process, as bench/pairs does)");
        return false;
    }
    return true;
}

void openToFirstGrid(benchmark::State& state)
{
    if (!coldProcess(state))
        return;
    g_windowOpened = true;
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

void rawSelect(benchmark::State& state)
{
    (void)engine();
    g_rowsRead = true;
    size_t rows = 0;
    for (auto _ : state) {
        const std::vector<bench::RawFile> files = bench::readListedDocuments(libraryDir());
        rows = files.size();
        benchmark::DoNotOptimize(files);
    }
    state.counters["documents"] = double(rows);
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

// The open's floor, run as the open runs: the store opened as before the open (untimed), then
// one timed select in a process that has read no rows.
void firstSelect(benchmark::State& state)
{
    if (!coldProcess(state))
        return;
    (void)engine();
    g_rowsRead = true;
    size_t rows = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const std::vector<bench::RawFile> files = bench::readListedDocuments(libraryDir());
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        rows = files.size();
        benchmark::DoNotOptimize(files);
    }
    state.counters["documents"] = double(rows);
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

// A window open on Documents, made once per process outside every timing, closed before the
// store.
std::unique_ptr<MainWindowController> g_window;

MainWindowController& openWindow()
{
    if (!g_window) {
        g_windowOpened = true;
        platform::UserDefaults::standardUserDefaults().removeObjectForKey(MainWindowController::kLastSelectedInfoKey);
        MainWindowController::Options options;
        SideBarServices services;
        services.library = &engine();
        options.sideBarServices = services;
        g_window = std::make_unique<MainWindowController>(std::move(options));
        g_window->showWindow();
        KPCollectionView* grid = g_window->context().collectionView;
        spinUntil([&] { return g_window->isRestored() && grid->sectionCount() > 0; });
        // What the start set off (the badge recount and the listing it checks again) runs
        // here, not in the first timed step.
        QDeadlineTimer settle(3000);
        while (!settle.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return *g_window;
}

QPixmap repaint(MainWindowController& window)
{
    QCoreApplication::processEvents();
    return window.context().collectionView->viewport()->grab();
}

qsizetype listedCount()
{
    return qsizetype(KPDataSourceManager::shareDataSourceManager().dataSource().size());
}

void switchToDocuments(benchmark::State& state)
{
    MainWindowController& window = openWindow();
    MainWindowContext& ctx = window.context();
    KPSideBarOutlineView* bar = ctx.sideBarDataSource->sideBarView();
    const qsizetype all = listedCount();
    for (auto _ : state) {
        state.PauseTiming();
        bar->selectNode(ctx.sideBarDataSource->trashNode().get());
        spinUntil([&] { return listedCount() != all; });
        QCoreApplication::processEvents();
        state.ResumeTiming();
        bar->selectNode(ctx.sideBarDataSource->documentsNode().get());
        if (!spinUntil([&] { return listedCount() == all && ctx.collectionView->sectionCount() > 0; })) {
            state.SkipWithError("Documents did not come back");
            return;
        }
        benchmark::DoNotOptimize(repaint(window));
    }
    state.counters["documents"] = double(all);
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

void selectAll(benchmark::State& state)
{
    MainWindowController& window = openWindow();
    KPCollectionView* grid = window.context().collectionView;
    for (auto _ : state) {
        grid->selectAll();
        grid->doCollectionViewItemSelectedNotify();
        benchmark::DoNotOptimize(repaint(window));
        state.PauseTiming();
        grid->deselect();
        grid->doCollectionViewItemSelectedNotify();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["selected_then"] = double(listedCount());
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

void rawAllAddresses(benchmark::State& state)
{
    MainWindowController& window = openWindow();
    const QList<KPSectionDataPtr>& sections = window.context().gridDataSource->dataSource();
    for (auto _ : state) {
        QList<KPSectionIndexSet> all;
        for (qsizetype s = 0; s < sections.size(); ++s)
            for (qsizetype i = 0; i < sections[s]->itemCount(); ++i)
                all.append(KPSectionIndexSet(s, i));
        benchmark::DoNotOptimize(all);
    }
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

void zoomStep(benchmark::State& state)
{
    MainWindowController& window = openWindow();
    bool in = true;
    for (auto _ : state) {
        window.context().commands->perform(in ? QStringLiteral("menuZoomInClick") : QStringLiteral("menuZoomOutClick"));
        benchmark::DoNotOptimize(repaint(window));
        in = !in;
    }
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

void rawRepaint(benchmark::State& state)
{
    MainWindowController& window = openWindow();
    for (auto _ : state) {
        window.context().collectionView->viewport()->update();
        benchmark::DoNotOptimize(repaint(window));
    }
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

void typeToFind(benchmark::State& state)
{
    MainWindowController& window = openWindow();
    GridActions& actions = window.context().gridDataSource->actions;
    qsizetype found = 0;
    for (auto _ : state) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, QStringLiteral("r"));
        actions.keyDown(&key);
        benchmark::DoNotOptimize(repaint(window));
        state.PauseTiming();
        for (const KPSectionDataPtr& section : window.context().gridDataSource->dataSource())
            found += section->itemCount();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(QChar(0x1b)));
        actions.keyDown(&escape);
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["found"] = double(found) / double(std::max<int64_t>(1, state.iterations()));
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

// The first key after the listing was grouped again (a node shown, a save listed again): with
// settle_ms 0 at once, so the key folds the new listing's titles itself; with 1000 after the
// window idled a second, in which it folds them a slice at a time.
void typeToFindFirstKey(benchmark::State& state)
{
    MainWindowController& window = openWindow();
    MainWindowContext& ctx = window.context();
    GridActions& actions = ctx.gridDataSource->actions;
    const int settleMs = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        ctx.gridDataSource->grouping().createDataAndFileDataByGroupSortSetting(
            KPDataSourceManager::shareDataSourceManager().dataSource());
        ctx.gridDataSource->reloadData();
        benchmark::DoNotOptimize(repaint(window));
        QDeadlineTimer settle(settleMs);
        while (!settle.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        state.ResumeTiming();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, QStringLiteral("r"));
        actions.keyDown(&key);
        benchmark::DoNotOptimize(repaint(window));
        state.PauseTiming();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(QChar(0x1b)));
        actions.keyDown(&escape);
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

void rawTitleScan(benchmark::State& state)
{
    MainWindowController& window = openWindow();
    QStringList titles;
    for (const KPItemDataPtr& item : KPDataSourceManager::shareDataSourceManager().dataSource())
        titles.append(item->data().title());
    (void)window;
    const QString text = QStringLiteral("r");
    qsizetype found = 0;
    for (auto _ : state) {
        found = 0;
        for (const QString& title : titles)
            found += platform::fold(title, platform::FoldOptions::CaseAndDiacriticInsensitive).contains(text);
        benchmark::DoNotOptimize(found);
    }
    state.counters["found"] = double(found);
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

// The first document of the first section, whose view is on screen.
DBFileInfo shownDocument(MainWindowController& window)
{
    return window.context().gridDataSource->dataSource().value(0)->itemAt(0)->data();
}

void ratingChange(benchmark::State& state)
{
    MainWindowController& window = openWindow();
    const DBFileInfo record = shownDocument(window);
    KPDataSourceManager& listed = KPDataSourceManager::shareDataSourceManager();
    const auto shownRate = [&] {
        const auto found = listed.dataSource().find(KPItemData::create(record));
        if (found == listed.dataSource().end())
            return qint64(-1);
        (*found)->loadDataContent();
        return (*found)->rate();
    };
    int rate = int(shownRate());
    for (auto _ : state) {
        rate = rate % 5 + 1;
        DBFileInfoMetadata(record.metadata()).setRate(rate);
        (void)engine().save();
        if (!spinUntil([&] { return shownRate() == rate; })) {
            state.SkipWithError("the grid did not follow the rating");
            return;
        }
        // What the save set off (badges, the listing) has run; the repaint is raw_repaint's.
        QCoreApplication::processEvents();
    }
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

void rawRatingSave(benchmark::State& state)
{
    auto found = engine().queryRecordByName(DBFileInfo::entityName());
    const DBFileInfo record(found ? found->value(0) : platform::ManagedObjectPtr());
    int rate = record ? int(DBFileInfoMetadata(record.metadata()).rate()) : 0;
    for (auto _ : state) {
        rate = rate % 5 + 1;
        DBFileInfoMetadata(record.metadata()).setRate(rate);
        // The same save as the window's, run here and now: no event loop runs it later.
        (void)engine().writeToDiskAndWait();
    }
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
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
        ->Iterations(1)
        ->Repetitions(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("MainWindow/first_sqlite_select/100000", firstSelect)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("MainWindow/raw_sqlite_select/100000", rawSelect)->Unit(benchmark::kMillisecond);
    const std::pair<const char*, void (*)(benchmark::State&)> steps[] = {
        {"MainWindow/switch_to_documents/100000", switchToDocuments},
        {"MainWindow/select_all/100000", selectAll},
        {"MainWindow/raw_all_addresses/100000", rawAllAddresses},
        {"MainWindow/zoom_step/100000", zoomStep},
        {"MainWindow/raw_repaint/100000", rawRepaint},
        {"MainWindow/type_to_find/100000", typeToFind},
        {"MainWindow/raw_title_scan/100000", rawTitleScan},
        {"MainWindow/rating_change/100000", ratingChange},
        {"MainWindow/raw_rating_save/100000", rawRatingSave},
    };
    for (const auto& [name, run] : steps)
        benchmark::RegisterBenchmark(name, run)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("MainWindow/type_to_find_first_key/100000", typeToFindFirstKey)
        ->ArgName("settle_ms")
        ->Arg(0)
        ->Arg(1000)
        ->Iterations(12)
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The window and the store are closed in order, never by static destruction.
    g_window.reset();
    QCoreApplication::processEvents();
    (void)engine().close();
    return 0;
}
