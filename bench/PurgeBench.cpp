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
// "PurgeInWindow/emptied/2000" and "PurgeInWindow/atStart/2000" are the same two with the main
// window open on Documents, which lists the library's 98,000 other documents: the trash of
// 2,000 emptied (the marks saved as the empty-trash sheet saves them, then the purge), and a
// start with 2,000 waiting from the moment the window has listed; ".../atStart/0" is that start
// with the same documents in the trash but none waiting, the floor of what the window's own
// start costs it then (a start is watched for 6 s at least). Besides "block_ms" they report
// how late keys are painted: a thread of the benchmark posts a key every 20 ms to a small view in
// the window, which repaints at each ("key_ms_median", "key_ms_max": from the posting to the
// paint), and the load average of the machine ("load1") at the end. The watch goes on a second
// past the purge's end, for what its last turn set off. The same figures prefixed "purge_" count
// from the purge's first turn of records on ("turns_began_ms"), apart from what the window's
// own start or the marks' save cost before; "marks_block_ms" is the longest block up to then
// in the emptied case.
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
//   build/bin/purge_bench --benchmark_filter=PurgeInWindow
#include "BenchHome.h"
#include "BenchLibrary.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "MainWindow/MainWindowController.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/TextIndex/TextIndex.h"
#include "Store/DBHelper.h"
#include "Store/KPContextHelper.h"
#include "Store/KPCoreDataAction.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QFileInfo>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>
#include <random>
#include <thread>
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

// A fresh work library and index; the library's documents to purge put in the trash and, when
// marked, marked for deletion (their thumbnails made), and saved. The engine stays open.
std::unique_ptr<DataBaseEngine> prepare(bool marked = true)
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
        file.setIsNeedDelete(marked);
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
    // The stretches over 10 ms: when each ended, and how long it was.
    std::vector<std::pair<qint64, qint64>> gaps;
    QTimer heartbeat;

    void start()
    {
        clock.start();
        heartbeat.setInterval(2);
        heartbeat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - lastTick);
            if (now - lastTick > 10'000'000)
                gaps.emplace_back(now, now - lastTick);
            lastTick = now;
        });
        heartbeat.start();
    }
    // The longest stretch that overlapped [from, to) (nanoseconds on clock).
    qint64 longestBetween(qint64 from, qint64 to = std::numeric_limits<qint64>::max()) const
    {
        qint64 found = 0;
        for (const auto& [end, length] : gaps) {
            if (end > from && end - length < to)
                found = std::max(found, length);
        }
        return found;
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

// The trashed documents, marked for deletion or not yet, as the purge takes them.
QList<platform::ObjectID> trashedIDs(DataBaseEngine& engine, bool needDelete)
{
    QList<platform::ObjectID> ids;
    auto found = engine.queryRecordByName(DBFileInfo::entityName(),
                                          *platform::Predicate::parse(needDelete ? QStringLiteral("isTrash == YES && isNeedDelete == YES")
                                                                                 : QStringLiteral("isTrash == YES && isNeedDelete == NO")),
                                          platform::FetchRequest::ResultType::ManagedObjectID);
    for (const QVariant& id : *found)
        ids.append(id.value<platform::ObjectID>());
    return ids;
}

void BM_PurgeEmptied(benchmark::State& state)
{
    for (auto _ : state) {
        auto engine = prepare();
        auto index = useIndexRemover();
        const QList<platform::ObjectID> ids = trashedIDs(*engine, true);
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

// ---- with the window open on Documents ----

// Keys typed every 20 ms from a thread of their own, as a user's keys arrive whatever the main
// thread is doing, to a small view in the window that asks for a repaint at each: the latency
// of a key is from its posting to the paint that follows it.
class KeyProbe final : public QWidget {
public:
    static constexpr int kKeyIntervalMs = 20;

    struct TimedKey final : QKeyEvent {
        explicit TimedKey(qint64 at) : QKeyEvent(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, QStringLiteral("r")), postedAt(at) {}
        qint64 postedAt;
    };

    KeyProbe(QWidget* window, const QElapsedTimer& clock) : QWidget(window), m_clock(clock)
    {
        setGeometry(0, 0, 6, 6);
        show();
        raise();
    }
    ~KeyProbe() override { stop(); }

    // Before the window goes: it would delete its children, this one too.
    void leaveWindow()
    {
        stop();
        setParent(nullptr);
    }

    void start()
    {
        m_running = true;
        m_poster = std::thread([this] {
            auto next = std::chrono::steady_clock::now();
            while (m_running.load()) {
                next += std::chrono::milliseconds(kKeyIntervalMs);
                std::this_thread::sleep_until(next);
                QCoreApplication::postEvent(this, new TimedKey(m_clock.nsecsElapsed()));
            }
        });
    }
    void stop()
    {
        m_running = false;
        if (m_poster.joinable())
            m_poster.join();
        // Keys still queued are no measure of the purge.
        QCoreApplication::removePostedEvents(this);
    }

    // In milliseconds, sorted; of the keys posted from from on (nanoseconds on the clock).
    std::vector<double> latencies(qint64 from = 0) const
    {
        std::vector<double> sorted;
        for (const auto& [posted, latency] : m_latencies) {
            if (posted >= from)
                sorted.push_back(latency);
        }
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

protected:
    bool event(QEvent* event) override
    {
        if (auto* key = dynamic_cast<TimedKey*>(event)) {
            m_waiting.push_back(key->postedAt);
            update();
            return true;
        }
        return QWidget::event(event);
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), m_latencies.size() % 2 ? Qt::black : Qt::white);
        const qint64 now = m_clock.nsecsElapsed();
        for (const qint64 posted : m_waiting)
            m_latencies.emplace_back(posted, double(now - posted) / 1e6);
        m_waiting.clear();
    }

private:
    const QElapsedTimer& m_clock;
    std::atomic<bool> m_running{false};
    std::thread m_poster;
    std::vector<qint64> m_waiting;
    std::vector<std::pair<qint64, double>> m_latencies;
};

std::unique_ptr<MainWindowController> openWindow(DataBaseEngine& engine)
{
    platform::UserDefaults::standardUserDefaults().removeObjectForKey(MainWindowController::kLastSelectedInfoKey);
    MainWindowController::Options options;
    SideBarServices services;
    services.library = &engine;
    options.sideBarServices = services;
    auto window = std::make_unique<MainWindowController>(std::move(options));
    window->showWindow();
    return window;
}

bool listsDocuments(MainWindowController& window)
{
    return window.isRestored() && window.context().collectionView->sectionCount() > 0;
}

void spinUntil(const std::function<bool()>& done, const QString& what)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (waited.elapsed() > 600000)
            die(QStringLiteral("%1 did not happen within 10 minutes").arg(what));
    }
}

void spinFor(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void closeWindow(std::unique_ptr<MainWindowController>& window)
{
    window.reset();
    KPDataSourceManager::shareDataSourceManager().removeAllObjects();
    QCoreApplication::processEvents();
}

double loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0).toDouble() : 0.0;
}

// "block_ms", "key_ms_median" and "key_ms_max" over the whole watch; the same prefixed "purge_"
// from the purge's first turn of records on (turnsBegan, nanoseconds on the watch's clock; none
// without one).
void reportWindow(benchmark::State& state, const Watch& watch, const KeyProbe& keys, qint64 total, qint64 turnsBegan)
{
    state.SetIterationTime(double(total) / 1e9);
    state.counters["block_ms"] = double(watch.longest) / 1e6;
    state.counters["total_ms"] = double(total) / 1e6;
    const auto keyCounters = [&](const std::string& prefix, qint64 from) {
        const std::vector<double> latencies = keys.latencies(from);
        if (latencies.empty())
            die(QStringLiteral("no key was painted"));
        state.counters[prefix + "keys"] = double(latencies.size());
        state.counters[prefix + "key_ms_median"] = latencies[latencies.size() / 2];
        state.counters[prefix + "key_ms_max"] = latencies.back();
    };
    keyCounters("", 0);
    if (turnsBegan >= 0) {
        keyCounters("purge_", turnsBegan);
        state.counters["purge_block_ms"] = double(watch.longestBetween(turnsBegan)) / 1e6;
        state.counters["turns_began_ms"] = double(turnsBegan) / 1e6;
    }
    state.counters["load1"] = loadAverage();
}

// Notes when the first save that deletes records comes: the purge's first turn.
platform::ObserverToken noteFirstTurn(DataBaseEngine& engine, const QElapsedTimer& clock, qint64& turnsBegan)
{
    return engine.context()->addDidSaveObserver([&clock, &turnsBegan](const platform::SaveNotification& note) {
        if (turnsBegan < 0 && !note.deleted.isEmpty())
            turnsBegan = clock.nsecsElapsed();
    });
}

// How long after the purge's end the watch goes on: what the last turn set off runs then.
constexpr int kAfterPurgeMs = 1000;

// The trash of 2,000 emptied while the window lists the library's 98,000 other documents: the
// marks saved as the empty-trash sheet saves them, then the purge.
void BM_PurgeEmptiedInWindow(benchmark::State& state)
{
    for (auto _ : state) {
        auto engine = prepare(false);
        auto index = useIndexRemover();
        auto window = openWindow(*engine);
        spinUntil([&] { return listsDocuments(*window); }, QStringLiteral("the window's listing"));
        // What the opening set off (the badges, the listing checked again) runs before the watch.
        spinFor(3000);
        const qsizetype shown = qsizetype(KPDataSourceManager::shareDataSourceManager().dataSource().size());
        if (shown != benchlibrary::kDocuments - kPurged)
            die(QStringLiteral("the window lists %1 documents").arg(shown));
        const QList<platform::ObjectID> ids = trashedIDs(*engine, false);
        if (ids.size() != kPurged)
            die(QStringLiteral("%1 documents in the trash").arg(ids.size()));

        std::optional<int> deleted;
        qint64 ended = 0;
        qint64 marksSaved = -1;
        qint64 turnsBegan = -1;
        Watch watch;
        KeyProbe keys(window->window(), watch.clock);
        const platform::ObserverToken firstTurn = noteFirstTurn(*engine, watch.clock, turnsBegan);
        watch.start();
        keys.start();
        // As the sheet's work ends: the marks saved from a worker, then on the main thread the
        // main context saved and the purge started.
        platform::DispatchQueue::global(platform::QueuePriority::Default).async([&] {
            KPCoreDataAction::saveDataWithBlockInBackgroundAndWait([&ids](const platform::ContextPtr& context) {
                for (const platform::ObjectID& id : std::as_const(ids))
                    DBFileInfo(context->existingObjectWithID(id)).setIsNeedDelete(true);
            });
            platform::Dispatch::main([&] {
                (void)KPContextHelper::save(KPContextHelper::defaultContext());
                marksSaved = watch.clock.nsecsElapsed();
                DataBaseEngine::purgeDocuments(KPContextHelper::defaultContext(), ids, [&](int count) {
                    deleted = count;
                    ended = watch.clock.elapsed();
                });
            });
        });
        watch.runUntil([&] { return deleted.has_value() && watch.clock.elapsed() > ended + kAfterPurgeMs; });
        keys.stop();
        reportWindow(state, watch, keys, watch.clock.nsecsElapsed(), turnsBegan);
        // Up to the marks' save and what it set off in the window (before the first turn).
        state.counters["marks_block_ms"] = double(watch.longestBetween(0, turnsBegan >= 0 ? turnsBegan : marksSaved)) / 1e6;
        if (*deleted != kPurged || marked(*engine) != 0)
            die(QStringLiteral("%1 documents went").arg(*deleted));
        keys.leaveWindow();
        closeWindow(window);
        (void)engine->close();
        DataBaseEngine::setLeftoverRemover({});
    }
}

// How long a start is watched at least, purge or not.
constexpr qint64 kAtStartWatchMs = 6000;

// The start with 2,000 documents still waiting to go: the window comes up on Documents, and
// what the purge costs it from then on.
void BM_PurgeAtStartInWindow(benchmark::State& state)
{
    // 0: the same documents in the trash, none waiting to go, for the window's own start.
    const bool waitingToGo = state.range(0) > 0;
    for (auto _ : state) {
        {
            auto engine = prepare(waitingToGo);
            (void)engine->close();
        }
        auto index = useIndexRemover();
        std::unique_ptr<DataBaseEngine> engine;
        std::unique_ptr<MainWindowController> window;
        Watch watch;
        qint64 turnsBegan = -1;
        platform::ObserverToken firstTurn;
        QElapsedTimer opening;
        opening.start();
        // The library opens and the window is made in one step, as at a start.
        QTimer::singleShot(0, [&] {
            engine = benchlibrary::openEngine(workLibrary());
            firstTurn = noteFirstTurn(*engine, watch.clock, turnsBegan);
            window = openWindow(*engine);
        });
        spinUntil([&] { return window && listsDocuments(*window); }, QStringLiteral("the window's listing"));
        const qint64 opened = opening.elapsed();
        const qsizetype waiting = marked(*engine);
        if (turnsBegan >= 0)
            die(QStringLiteral("the purge's records went before the window had listed"));
        KeyProbe keys(window->window(), watch.clock);
        watch.start();
        keys.start();
        qint64 ended = -1;
        watch.runUntil([&] {
            if (ended < 0 && !DataBaseEngine::isPurging() && marked(*engine) == 0)
                ended = watch.clock.elapsed();
            return ended >= 0 && watch.clock.elapsed() > std::max<qint64>(ended + kAfterPurgeMs, kAtStartWatchMs);
        });
        keys.stop();
        reportWindow(state, watch, keys, watch.clock.nsecsElapsed(), turnsBegan);
        state.counters["open_ms"] = double(opened);
        // The documents still marked when the window listed: what this run measured the purge of.
        state.counters["waiting_at_window"] = double(waiting);
        keys.leaveWindow();
        closeWindow(window);
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
BENCHMARK(BM_PurgeEmptiedInWindow)->Name("PurgeInWindow/emptied/2000")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PurgeAtStartInWindow)->Name("PurgeInWindow/atStart")->Arg(kPurged)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_OpeningWithReceiveStaging)->Name("Opening/receiveStaging")->Arg(40000)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    useBenchHome(benchDir() + QStringLiteral("/home"));
    QApplication app(argc, argv);
    KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray"));
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
