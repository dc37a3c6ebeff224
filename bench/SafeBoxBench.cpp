// SafeBox throughput: attaching a box of 500 MiB in 2,000 files, detaching it just after a
// change (so that the detach seals it), and one re-seal by the sealer after a small change, beside copying the same tree twice with a plain file copy (what a box
// costs over no box). FOLIVO_BENCH_SAFEBOX_MIB changes the size; the box is made with the
// default scrypt cost, which an attach pays once.
//
//   build/bin/safebox_bench --benchmark_counters_tabular=true
#include "BenchHome.h"

#include "Platform/DiskImage/DiskImageRuntime.h"
#include "SafeBox/SafeBoxContentGenerate.h"
#include "SafeBox/SafeBoxCreator.h"
#include "SafeBox/SafeBoxPaths.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QThread>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kFiles = 2000;

struct Fixture {
    QTemporaryDir home;
    QString store;
    QString source;
    qint64 bytes = 0;

    Fixture()
    {
        useBenchHome(home.path());
        QDir().mkpath(home.path() + QStringLiteral("/runtime"));
        QFile::setPermissions(home.path() + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path() + QStringLiteral("/runtime")));
        // The shipped tool beside the benchmark, or the one FOLIVO_HDIUTIL names.
        const QString tool = qEnvironmentVariable("FOLIVO_HDIUTIL");
        SafeBoxCreator::setToolPathForTesting(tool.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/folivo-hdiutil") : tool);
        const qint64 mib = qEnvironmentVariableIsSet("FOLIVO_BENCH_SAFEBOX_MIB") ? qEnvironmentVariableIntValue("FOLIVO_BENCH_SAFEBOX_MIB") : 500;
        QDir().mkpath(home.path() + QStringLiteral("/Library"));
        store = home.path() + QStringLiteral("/Library/safebox.db");
        source = home.path() + QStringLiteral("/source");
        const qint64 fileSize = mib * 1024 * 1024 / kFiles;
        QByteArray data(fileSize, '\0');
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char((i * 2654435761u) >> 13);
        for (int i = 0; i < kFiles; ++i) {
            const QString folder = source + QStringLiteral("/f%1").arg(i / 100);
            QDir().mkpath(folder);
            QFile file(folder + QStringLiteral("/doc%1.pdf").arg(i));
            file.open(QIODevice::WriteOnly);
            data[0] = char(i);
            file.write(data);
            bytes += data.size();
        }
    }

    QVariantMap parameter() const
    {
        return {{QStringLiteral("Name"), QStringLiteral("SafeBox")},
                {QStringLiteral("Size"), qint64(4) << 30},
                {QStringLiteral("Password"), SafeBoxContentGenerate(QStringLiteral("bench")).generate()},
                {QStringLiteral("ToPath"), SafeBoxPaths::runtimeFolder()}};
    }
};

bool copyTree(const QString& from, const QString& to)
{
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        if (!QFile::copy(path, target))
            return false;
    }
    return true;
}

void SafeBoxAttachDetach(benchmark::State& state)
{
    Fixture fixture;
    SafeBoxCreator(fixture.store, fixture.parameter()).creator();
    SafeBoxOutcome opened = SafeBoxCreator(fixture.store, fixture.parameter()).attach();
    if (!opened.success || !copyTree(fixture.source, opened.path)
        || !SafeBoxCreator(fixture.store, {}).detach(opened.disk).success) {
        state.SkipWithError("the box could not be filled");
        return;
    }
    double attachSeconds = 0;
    double detachSeconds = 0;
    double resealSeconds = 0;
    double copySeconds = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        opened = SafeBoxCreator(fixture.store, fixture.parameter()).attach();
        attachSeconds += timer.nsecsElapsed() / 1e9;
        if (!opened.success) {
            state.SkipWithError("attach failed");
            return;
        }
        // One small change, then the time until the sealer's next seal is on disk.
        const quint64 generation = platform::sbx::readSealStatus(opened.disk).generation;
        timer.restart();
        QFile note(opened.path + QStringLiteral("/note.txt"));
        note.open(QIODevice::WriteOnly);
        note.write("changed");
        note.close();
        while (platform::sbx::readSealStatus(opened.disk).generation == generation)
            QThread::msleep(5);
        resealSeconds += timer.nsecsElapsed() / 1e9;

        // Detach right after a change, before the sealer's pause has run out: the detach itself
        // seals the box (a detach of a box sealed a moment ago would only remove the plaintext).
        QFile last(opened.path + QStringLiteral("/last.txt"));
        last.open(QIODevice::WriteOnly);
        last.write(QByteArray::number(state.iterations()));
        last.close();
        timer.restart();
        const bool detached = SafeBoxCreator(fixture.store, {}).detach(opened.disk).success;
        detachSeconds += timer.nsecsElapsed() / 1e9;
        if (!detached) {
            state.SkipWithError("detach failed");
            return;
        }
        timer.restart();
        const QString copy = fixture.home.path() + QStringLiteral("/copy");
        copyTree(fixture.source, copy);
        copyTree(copy, copy + QStringLiteral("-2"));
        copySeconds += timer.nsecsElapsed() / 1e9;
        QDir(copy).removeRecursively();
        QDir(copy + QStringLiteral("-2")).removeRecursively();
    }
    const double mb = double(fixture.bytes) / 1e6 * double(state.iterations());
    state.counters["attach_MBps"] = mb / attachSeconds;
    state.counters["detach_MBps"] = mb / detachSeconds;
    state.counters["reseal_s"] = resealSeconds / double(state.iterations());
    state.counters["copy_twice_MBps"] = mb / copySeconds;
}
BENCHMARK(SafeBoxAttachDetach)->Iterations(2)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
