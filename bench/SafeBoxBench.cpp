// SafeBox throughput over a box of 500 MiB in 2,000 files (FOLIVO_BENCH_SAFEBOX_MIB changes the
// size; the box is made with the default scrypt cost, which an attach pays once):
//
//   SafeBoxAttachDetach        attaching the box, one re-seal by the sealer after a small change,
//                              and detaching it just after a change (so that the detach seals
//                              it), as MB/s and seconds, beside the floor's MB/s in the same run.
//   SafeBox/seal_on_detach     one detach just after a change: the box sealed (its tree read,
//                              archived, encrypted, written, synced and renamed over the old
//                              container) and its plaintext removed. Real time.
//   SafeBox/raw_seal           its floor: the least work that does a seal's job on the same tree,
//                              every file read and encrypted with the same cipher (AES-256-GCM
//                              through OpenSSL, 64 KiB chunks, each with its own nonce and tag)
//                              into one file, synced once. Real time.
//
//   build/bin/safebox_bench --benchmark_counters_tabular=true
//   bench/pairs 5 build/bin/safebox_bench SafeBox/seal_on_detach SafeBox/raw_seal
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
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFiles = 2000;
// The seal's chunk: each is encrypted with a nonce of its own and carries its own tag.
constexpr qsizetype kChunk = 64 * 1024;
constexpr int kTag = 16;

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

bool writeAll(int fd, const unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The floor's seal of the tree below from into the file to (beside the box's container, on the
// same file system): read, encrypt, write, one fsync. False when a step failed.
bool rawSeal(const QString& from, const QString& to)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    unsigned char key[32];
    bool ok = ctx && RAND_bytes(key, sizeof key) == 1
              && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key, nullptr) == 1;
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ok = ok && out >= 0;
    std::vector<unsigned char> plain(static_cast<size_t>(kChunk));
    std::vector<unsigned char> sealed(static_cast<size_t>(kChunk) + kTag);
    quint64 index = 0;
    const auto sealChunk = [&](qsizetype size) {
        unsigned char nonce[12] = {};
        std::memcpy(nonce, &index, sizeof index);
        ++index;
        int length = 0;
        int last = 0;
        ok = ok && EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, nullptr, nonce) == 1
             && EVP_EncryptUpdate(ctx.get(), sealed.data(), &length, plain.data(), int(size)) == 1
             && EVP_EncryptFinal_ex(ctx.get(), sealed.data() + length, &last) == 1
             && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTag, sealed.data() + length + last) == 1
             && writeAll(out, sealed.data(), size_t(length + last + kTag));
    };
    qsizetype filled = 0;
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (ok && it.hasNext()) {
        const int in = ::open(QFile::encodeName(it.next()).constData(), O_RDONLY | O_CLOEXEC);
        ok = in >= 0;
        while (ok) {
            const ssize_t n = ::read(in, plain.data() + filled, size_t(kChunk - filled));
            if (n < 0 && errno == EINTR)
                continue;
            ok = n >= 0;
            if (n <= 0)
                break;
            filled += n;
            if (filled == kChunk) {
                sealChunk(filled);
                filled = 0;
            }
        }
        if (in >= 0)
            ::close(in);
    }
    if (ok && filled > 0)
        sealChunk(filled);
    ok = ok && ::fsync(out) == 0;
    if (out >= 0)
        ::close(out);
    return ok;
}

// The floor's seconds for the fixture's tree; negative when it failed. Timed on a quiet disk, as
// the seal is: what was written before (the tree just made) is on it first.
double rawSealSeconds(const Fixture& fixture)
{
    const QString target = fixture.home.path() + QStringLiteral("/Library/raw-seal.bin");
    ::sync();
    QElapsedTimer timer;
    timer.start();
    const bool ok = rawSeal(fixture.source, target);
    const double seconds = timer.nsecsElapsed() / 1e9;
    QFile::remove(target);
    return ok ? seconds : -1;
}

// Makes the box and fills it with the fixture's tree (sealed by that detach); false when it
// could not.
bool makeFilledBox(const Fixture& fixture)
{
    SafeBoxCreator(fixture.store, fixture.parameter()).creator();
    SafeBoxOutcome opened = SafeBoxCreator(fixture.store, fixture.parameter()).attach();
    return opened.success && copyTree(fixture.source, opened.path)
           && SafeBoxCreator(fixture.store, {}).detach(opened.disk).success;
}

void SafeBoxAttachDetach(benchmark::State& state)
{
    Fixture fixture;
    if (!makeFilledBox(fixture)) {
        state.SkipWithError("the box could not be filled");
        return;
    }
    double attachSeconds = 0;
    double detachSeconds = 0;
    double resealSeconds = 0;
    double floorSeconds = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        SafeBoxOutcome opened = SafeBoxCreator(fixture.store, fixture.parameter()).attach();
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
        const double floor = rawSealSeconds(fixture);
        if (floor < 0) {
            state.SkipWithError("the floor's seal failed");
            return;
        }
        floorSeconds += floor;
    }
    const double mb = double(fixture.bytes) / 1e6 * double(state.iterations());
    state.counters["attach_MBps"] = mb / attachSeconds;
    state.counters["detach_MBps"] = mb / detachSeconds;
    state.counters["reseal_s"] = resealSeconds / double(state.iterations());
    state.counters["raw_seal_MBps"] = mb / floorSeconds;
}
BENCHMARK(SafeBoxAttachDetach)->Iterations(2)->Unit(benchmark::kSecond);

void sealOnDetach(benchmark::State& state)
{
    Fixture fixture;
    if (!makeFilledBox(fixture)) {
        state.SkipWithError("the box could not be filled");
        return;
    }
    for (auto _ : state) {
        const SafeBoxOutcome opened = SafeBoxCreator(fixture.store, fixture.parameter()).attach();
        if (!opened.success) {
            state.SkipWithError("attach failed");
            return;
        }
        // The sealer done with the attach (one change, sealed by it: it then has nothing left
        // to do, and no seal of its own runs into the detach's), the disk quiet, as for the
        // floor (the attach has just written the box's tree out), then a change just before,
        // so that the detach seals (the sealer's pause has not run out).
        const quint64 generation = platform::sbx::readSealStatus(opened.disk).generation;
        QFile note(opened.path + QStringLiteral("/note.txt"));
        note.open(QIODevice::WriteOnly);
        note.write("changed");
        note.close();
        while (platform::sbx::readSealStatus(opened.disk).generation == generation)
            QThread::msleep(5);
        ::sync();
        QFile last(opened.path + QStringLiteral("/last.txt"));
        last.open(QIODevice::WriteOnly);
        last.write("changed");
        last.close();
        QElapsedTimer timer;
        timer.start();
        const bool detached = SafeBoxCreator(fixture.store, {}).detach(opened.disk).success;
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        if (!detached) {
            state.SkipWithError("detach failed");
            return;
        }
    }
    state.counters["MBps"] = benchmark::Counter(double(fixture.bytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void rawSealFloor(benchmark::State& state)
{
    Fixture fixture;
    for (auto _ : state) {
        const double seconds = rawSealSeconds(fixture);
        if (seconds < 0) {
            state.SkipWithError("the floor's seal failed");
            return;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["MBps"] = benchmark::Counter(double(fixture.bytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("SafeBox/seal_on_detach", sealOnDetach)
        ->UseManualTime()->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("SafeBox/raw_seal", rawSealFloor)
        ->UseManualTime()->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
