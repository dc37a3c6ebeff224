// Importing 2,000 small documents (1-200 KB, a mix of PDF, JPEG and text) into a fresh library,
// against copying the same files with a plain file copy, the physical limit of the copy step.
// Both report files per second ("items_per_second"). The import includes everything a user's
// import does: walk, preview, metadata, verified copy, thumbnail, one flush and the store.
//
// The files are made once in $TMPDIR/folivo-import-bench/sources; HOME and the XDG folders
// point into that folder, so nothing of the real home is touched. Run: build/bin/import_bench
#include "BenchHome.h"
#include "Import/KPFileImport.h"
#include "Import/KPFileImportQueue.h"
#include "Import/KPFileFormatManager.h"
#include "Import/KPImportEngineStore.h"
#include "Import/KPImportKeys.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {

constexpr int kFiles = 2000;
constexpr int kMinBytes = 1024;
constexpr int kMaxBytes = 200 * 1024;

QString benchDir()
{
    return QDir::tempPath() + QStringLiteral("/folivo-import-bench");
}

QString sourcesDir()
{
    return benchDir() + QStringLiteral("/sources");
}

QByteArray noise(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator generator{quint32(bytes)};
    for (char& c : data)
        c = char('a' + generator.bounded(26));
    return data;
}

// A real PDF of about the given size (so previews are rendered, not guessed).
void writePdf(const QString& path, int bytes)
{
    QPdfWriter writer(path);
    QPainter painter(&writer);
    painter.drawText(QRect(0, 0, 4000, 4000), Qt::TextWordWrap, QString::fromLatin1(noise(bytes / 3)));
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

QString freshFolder(const QString& name)
{
    const QString path = benchDir() + QLatin1Char('/') + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

void BM_ImportIntoLibrary(benchmark::State& state)
{
    makeSources();
    for (auto _ : state) {
        state.PauseTiming();
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
        bool finished = false;
        int stored = 0;
        auto token = platform::NotificationCenter::defaultCenter().addObserver(
            KPImportKeys::FileImportNotification, [&](const platform::Notification& n) {
                const QVariantMap status = n.object.toMap();
                if (status.value(KPImportKeys::Status) == KPImportKeys::SaveDataBaseFinished) {
                    finished = true;
                    stored = status.value(KPImportKeys::SuccessCount).toInt();
                }
            });
        auto op = std::make_shared<KPFileImport>(QVariantMap{{KPImportKeys::Paths, QStringList{sourcesDir()}}});
        op->setEnvironment({&files, std::make_shared<KPImportEngineStore>(&engine), nullptr});
        state.ResumeTiming();

        queue.addOperation(op);
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (finished && !queue.isImporing())
                loop.quit();
        });
        poll.start(5);
        loop.exec();

        state.PauseTiming();
        if (stored != kFiles)
            state.SkipWithError("not every file was stored");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_PlainCopy(benchmark::State& state)
{
    makeSources();
    const QStringList names = QDir(sourcesDir()).entryList(QDir::Files);
    for (auto _ : state) {
        state.PauseTiming();
        const QString target = freshFolder(QStringLiteral("plain"));
        state.ResumeTiming();
        for (const QString& name : names)
            (void)platform::FileManager::copyItem(sourcesDir() + QLatin1Char('/') + name, target + QLatin1Char('/') + name);
    }
    state.SetItemsProcessed(state.iterations() * names.size());
}

} // namespace

BENCHMARK(BM_ImportIntoLibrary)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv)
{
    useBenchHome(benchDir() + QStringLiteral("/home"));
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
