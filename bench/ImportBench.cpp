// Import speed, each figure beside its floor measured in the same run:
//
//   BM_Import/workers:N   2,000 small documents (1-200 KB; a third each PDF, JPEG and text)
//                         imported into a fresh library with N preview threads: walk, preview,
//                         metadata, verified copy, thumbnail, the flush of the copies, the
//                         thumbnails and the folders naming them (only those), and the store. Timed from
//                         queuing the import to its "SaveDataBaseFinished"; making the library,
//                         opening its store and tearing them down are not. The flat import's
//                         one-second pause before its save (the import panel shows the save
//                         starting) is set to nothing: the figures are without it.
//   BM_ImportBlankPreviews/workers:4   the same with every preview a blank page made at once:
//                         the import's own work apart from drawing.
//   BM_PlainCopy          floor: the same files copied one by one, then flushed with their
//                         folder as the import flushes what it wrote (write-backs started,
//                         files synced on 8 threads, then the folder).
//   BM_PdfPreviews/threads:N       the import's preview of each of the 667 PDFs, on N threads.
//   BM_PdfPreviewsInProcesses/processes:4   floor: the same previews in 4 processes of their
//                         own (this program started again, timed once each is ready).
//
// Every figure is files per second ("items_per_second"); the PDF rows also give the CPU time
// per file ("cpu_ms_per_file"), which tells a lock from a busy machine. By default each benchmark runs
// kRepetitions times, interleaved at random with the others so that a busy machine weighs on
// all alike, and a summary of medians and ratios ends the run.
//
// The files are made once in $TMPDIR/folivo-import-bench/sources-prose; HOME and the XDG folders
// point into that folder, so nothing of the real home is touched. Run: build/bin/import_bench
#include "BenchHome.h"
#include "Import/KPFileImport.h"
#include "Import/KPFileImportQueue.h"
#include "Import/KPImportFileWorker.h"
#include "Import/KPImportEngineStore.h"
#include "Import/KPImportKeys.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Utilities/ImageQuickLook.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QPageSize>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFiles = 2000;
constexpr int kMinBytes = 1024;
constexpr int kMaxBytes = 200 * 1024;
constexpr int kRepetitions = 5;
constexpr int kPreviewProcesses = 4;
const char* const kChildArgument = "--preview-share";

QString benchDir()
{
    return QDir::tempPath() + QStringLiteral("/folivo-import-bench");
}

// Named after the corpus it holds, so that files of an earlier corpus are never taken for it.
QString sourcesDir()
{
    return benchDir() + QStringLiteral("/sources-prose");
}

QByteArray noise(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator generator{quint32(bytes)};
    for (char& c : data)
        c = char('a' + generator.bounded(26));
    return data;
}

// Words of random letters, as prose has them.
QString prose(int chars, quint32 seed)
{
    QString text;
    text.reserve(chars + 16);
    QRandomGenerator generator{seed};
    while (text.size() < chars) {
        for (int i = generator.bounded(1, 10); i > 0; --i)
            text += QChar(char16_t(u'a' + generator.bounded(26)));
        text += QLatin1Char(' ');
    }
    return text;
}

// A real PDF of about the given size (so previews are rendered, not guessed): prose set in
// 10 points on A4 pages, about a page's worth on each. (Letters without spaces cannot wrap: they
// made one line of tens of thousands of glyphs, all but the first hundred cut off the page yet
// each drawn, a first page no document has.)
void writePdf(const QString& path, int bytes)
{
    constexpr int kCharsPerPage = 3000;
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&writer);
    QFont font = painter.font();
    font.setPointSize(10);
    painter.setFont(font);
    const QString text = prose(bytes / 3, quint32(bytes));
    const QRect page(0, 0, writer.width(), writer.height());
    for (qsizetype at = 0; at < text.size(); at += kCharsPerPage) {
        if (at > 0)
            writer.newPage();
        painter.drawText(page, Qt::TextWordWrap, text.mid(at, kCharsPerPage));
    }
}

void writeJpeg(const QString& path, int bytes)
{
    const int side = std::max(16, int(std::sqrt(double(bytes)) * 1.5));
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator generator{quint32(bytes)};
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.setPixel(x, y, generator.generate());
    image.save(path, "JPEG", 90);
}

void makeSources()
{
    QDir dir(sourcesDir());
    if (dir.exists() && dir.entryList(QDir::Files).size() == kFiles)
        return;
    dir.removeRecursively();
    QDir(benchDir() + QStringLiteral("/sources")).removeRecursively(); // an earlier corpus
    QDir().mkpath(sourcesDir());
    QRandomGenerator generator(2000);
    for (int i = 0; i < kFiles; ++i) {
        const int bytes = generator.bounded(kMinBytes, kMaxBytes);
        const QString base = sourcesDir() + QStringLiteral("/doc%1").arg(i, 4, 10, QLatin1Char('0'));
        switch (i % 3) {
        case 0: writePdf(base + QStringLiteral(".pdf"), bytes); break;
        case 1: writeJpeg(base + QStringLiteral(".jpg"), bytes); break;
        default: {
            QFile f(base + QStringLiteral(".txt"));
            f.open(QIODevice::WriteOnly);
            f.write(noise(bytes));
        }
        }
    }
}

QStringList pdfSources()
{
    QStringList paths;
    for (const QString& name : QDir(sourcesDir()).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name))
        paths.append(sourcesDir() + QLatin1Char('/') + name);
    return paths;
}

QString freshFolder(const QString& name)
{
    const QString path = benchDir() + QLatin1Char('/') + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

QImage previewOf(const QString& path)
{
    return imageWithPreviewOfFileAtPath(path, kQuickLookPreviewSize, false);
}

// Files per second of every repetition, by benchmark name, for the closing summary.
QMap<QString, std::vector<double>>& rates()
{
    static QMap<QString, std::vector<double>> all;
    return all;
}

// CPU seconds of this process's threads, or of its children that were waited for.
double cpuSeconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU milliseconds per file: equal on 1 and on N threads when nothing serialises them (a
// spinning lock adds to it; a sleeping one and a busy machine only lengthen the wall time).
void reportCpu(benchmark::State& state, double cpu, int files)
{
    state.counters["cpu_ms_per_file"] = cpu * 1000 / files;
}

void report(benchmark::State& state, const QString& row, double seconds, int files)
{
    state.SetIterationTime(seconds);
    state.SetItemsProcessed(files);
    rates()[row].push_back(files / seconds);
}

QString rowName(const char* what, benchmark::State& state, const char* unit)
{
    return QStringLiteral("%1, %2 %3").arg(QLatin1String(what)).arg(state.range(0)).arg(QLatin1String(unit));
}

void runImports(benchmark::State& state, const char* row)
{
    makeSources();
    KPImportOperation::setPhasePauseForTesting(std::chrono::milliseconds(0));
    for (auto _ : state) {
        const QString library = freshFolder(QStringLiteral("library"));
        KPLibraryFileManager files(library);
        DataBaseEngine::Options options;
        options.libraryPath = library;
        options.makeDefault = false;
        DataBaseEngine engine(options);
        if (!engine.initDataBase()) {
            state.SkipWithError("the library store could not be opened");
            return;
        }
        KPFileImportQueue queue;
        QEventLoop loop;
        int stored = -1;
        QElapsedTimer timer;
        double seconds = 0;
        auto token = platform::NotificationCenter::defaultCenter().addObserver(
            KPImportKeys::FileImportNotification, [&](const platform::Notification& n) {
                const QVariantMap status = n.object.toMap();
                if (status.value(KPImportKeys::Status) != KPImportKeys::SaveDataBaseFinished)
                    return;
                seconds = timer.nsecsElapsed() / 1e9;
                stored = status.value(KPImportKeys::SuccessCount).toInt();
                loop.quit();
            });
        auto op = std::make_shared<KPFileImport>(QVariantMap{{KPImportKeys::Paths, QStringList{sourcesDir()}}});
        KPImportOperation::Environment environment{&files, std::make_shared<KPImportEngineStore>(&engine), nullptr};
        environment.previewWorkers = int(state.range(0));
        op->setEnvironment(environment);

        timer.start();
        queue.addOperation(op);
        loop.exec();
        report(state, rowName(row, state, "workers"), seconds, kFiles);

        // Whatever the operation still does after its last status is its own business.
        QEventLoop idle;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &idle, [&] {
            if (!queue.isImporing())
                idle.quit();
        });
        poll.start(5);
        idle.exec();
        token.remove();
        if (stored != kFiles) {
            state.SkipWithError("not every file was stored");
            return;
        }
    }
}

void BM_Import(benchmark::State& state)
{
    runImports(state, "import");
}

// The same import with every preview a blank page made at once: what the import costs apart
// from drawing (the thumbnails are still encoded and written).
void BM_ImportBlankPreviews(benchmark::State& state)
{
    QImage blank(kQuickLookPreviewSize, QImage::Format_RGB32);
    blank.fill(Qt::white);
    KPImportFileWorker::setPreviewFunctionForTesting([blank](const QString&) { return blank; });
    runImports(state, "import, blank previews");
    KPImportFileWorker::setPreviewFunctionForTesting(nullptr);
}

// Makes the copied files and their folder durable: only what the floor wrote, so that writes
// of other programs on the same file system do not move its figure from run to run. As the
// import flushes: every write-back started first, then the files synced on 8 threads side by
// side (the file system commits them together), then the folder.
void flushCopies(const QString& folder, const QStringList& names)
{
    const auto open = [](const QString& path, int flags) {
        return ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    };
    for (const QString& name : names) {
        const int fd = open(folder + QLatin1Char('/') + name, O_RDONLY);
        if (fd >= 0) {
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            ::close(fd);
        }
    }
    std::atomic<qsizetype> next{0};
    const auto work = [&] {
        for (qsizetype i = next++; i < names.size(); i = next++) {
            const int fd = open(folder + QLatin1Char('/') + names[i], O_RDONLY);
            if (fd >= 0) {
                ::fsync(fd);
                ::close(fd);
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 7; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
    const int fd = open(folder, O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void BM_PlainCopy(benchmark::State& state)
{
    makeSources();
    const QStringList names = QDir(sourcesDir()).entryList(QDir::Files);
    for (auto _ : state) {
        const QString target = freshFolder(QStringLiteral("plain"));
        QElapsedTimer timer;
        timer.start();
        for (const QString& name : names)
            (void)platform::FileManager::copyItem(sourcesDir() + QLatin1Char('/') + name, target + QLatin1Char('/') + name);
        flushCopies(target, names);
        report(state, QStringLiteral("plain copy, flushed"), timer.nsecsElapsed() / 1e9, int(names.size()));
    }
}

void BM_PdfPreviews(benchmark::State& state)
{
    makeSources();
    const QStringList paths = pdfSources();
    for (auto _ : state) {
        std::atomic<int> next{0};
        std::atomic<int> drawn{0};
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        std::vector<std::thread> threads;
        for (int t = 0; t < state.range(0); ++t) {
            threads.emplace_back([&] {
                for (int i = next++; i < paths.size(); i = next++)
                    drawn += previewOf(paths[i]).isNull() ? 0 : 1;
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        report(state, rowName("PDF previews", state, "threads"), timer.nsecsElapsed() / 1e9, int(paths.size()));
        reportCpu(state, cpuSeconds(RUSAGE_SELF) - cpuBefore, int(paths.size()));
        if (drawn != paths.size())
            state.SkipWithError("a preview was not drawn");
    }
}

// The child's side: previews of the files listed in listFile, one after the other, once the
// parent says "go" on standard input.
int previewShare(const QString& listFile)
{
    QFile list(listFile);
    if (!list.open(QIODevice::ReadOnly))
        return 2;
    const QStringList paths = QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    char line[16];
    if (!std::fgets(line, sizeof line, stdin))
        return 3;
    int drawn = 0;
    for (const QString& path : paths)
        drawn += previewOf(path).isNull() ? 0 : 1;
    return drawn == paths.size() ? 0 : 4;
}

void BM_PdfPreviewsInProcesses(benchmark::State& state)
{
    makeSources();
    const QStringList paths = pdfSources();
    const int count = int(state.range(0));
    QStringList lists;
    for (int p = 0; p < count; ++p) {
        QStringList share;
        for (int i = p; i < paths.size(); i += count)
            share.append(paths[i]);
        const QString listFile = benchDir() + QStringLiteral("/share-%1.txt").arg(p);
        QFile file(listFile);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(share.join(QLatin1Char('\n')).toUtf8());
        lists.append(listFile);
    }
    for (auto _ : state) {
        std::vector<std::unique_ptr<QProcess>> children;
        for (const QString& listFile : lists) {
            auto child = std::make_unique<QProcess>();
            child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child->start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kChildArgument), listFile});
            children.push_back(std::move(child));
        }
        bool ready = true;
        for (auto& child : children)
            ready = ready && child->waitForStarted() && child->waitForReadyRead(60000);
        if (!ready) {
            state.SkipWithError("a preview process did not start");
            return;
        }
        QElapsedTimer timer;
        timer.start();
        // Written out at once: a QProcess only sends while it is waited on.
        for (auto& child : children) {
            child->write("go\n");
            child->waitForBytesWritten(-1);
        }
        // The children's start-up counts here too, a few milliseconds each.
        const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
        bool allDrawn = true;
        for (auto& child : children)
            allDrawn = child->waitForFinished(-1) && child->exitCode() == 0 && allDrawn;
        report(state, rowName("PDF previews", state, "processes"), timer.nsecsElapsed() / 1e9, int(paths.size()));
        reportCpu(state, cpuSeconds(RUSAGE_CHILDREN) - cpuBefore, int(paths.size()));
        if (!allDrawn)
            state.SkipWithError("a preview process failed");
    }
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double medianOf(const QString& row)
{
    return median(rates().value(row));
}

void printSummary()
{
    std::printf("\nMedians (files/s) and ratios, all from this run:\n");
    for (auto it = rates().cbegin(); it != rates().cend(); ++it)
        std::printf("  %-32s %9.1f  (%zu runs)\n", qPrintable(it.key()), median(it.value()), it.value().size());
    const double copy = medianOf(QStringLiteral("plain copy, flushed"));
    const double import1 = medianOf(QStringLiteral("import, 1 workers"));
    const double import4 = medianOf(QStringLiteral("import, 4 workers"));
    const double pdf1 = medianOf(QStringLiteral("PDF previews, 1 threads"));
    const double pdf4 = medianOf(QStringLiteral("PDF previews, 4 threads"));
    const double pdfProcesses = medianOf(QStringLiteral("PDF previews, %1 processes").arg(kPreviewProcesses));
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("  import, 4 workers / plain copy, flushed:         %.3f  (goal >= 0.25)\n", ratio(import4, copy));
    std::printf("  import, 1 worker / plain copy, flushed:          %.3f\n", ratio(import1, copy));
    std::printf("  import, blank previews, 4 workers / plain copy:  %.3f\n",
                ratio(medianOf(QStringLiteral("import, blank previews, 4 workers")), copy));
    std::printf("  PDF previews, 4 threads / 1 thread:              %.2f  (goal >= 3)\n", ratio(pdf4, pdf1));
    std::printf("  PDF previews, 4 threads / 4 processes:           %.2f\n", ratio(pdf4, pdfProcesses));
}

} // namespace

BENCHMARK(BM_Import)->ArgName("workers")->Arg(1)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ImportBlankPreviews)->ArgName("workers")->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PlainCopy)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PdfPreviews)->ArgName("threads")->Arg(1)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PdfPreviewsInProcesses)->ArgName("processes")->Arg(kPreviewProcesses)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv)
{
    useBenchHome(benchDir() + QStringLiteral("/home"));
    QGuiApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], kChildArgument) == 0)
        return previewShare(QString::fromLocal8Bit(argv[2]));

    // Interleaved repetitions unless the caller chose otherwise.
    std::vector<char*> args(argv, argv + argc);
    QByteArray repetitions = "--benchmark_repetitions=" + QByteArray::number(kRepetitions);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    if (argc == 1) {
        args.push_back(repetitions.data());
        args.push_back(interleave);
        args.push_back(aggregates);
    }
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
