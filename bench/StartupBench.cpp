// The program's start-up on a library of 100,000 documents, until it is quiet, beside its floor.
//
// "Startup/folivo2/100000" starts the real program (offscreen, a private home whose settings
// skip the welcome page and name the library) and watches the process from outside: it is
// quiet once none of its threads has run for a quiet window, and the start-up time is the
// moment its last busy stretch ended. The delayed peer exchange (1 s after launch) is not part
// of start-up and falls outside the figure unless start-up itself is still busy then. Besides
// the time it reports the CPU seconds the process used until quiet ("cpu_s") and its peak
// memory ("vmhwm_mb").
//
// "Startup/floor/100000" is what start-up cannot go below: the same program opening an empty
// library, plus the raw SQLite select of the documents it lists (the documents not in the
// Trash, into plain structs) in this process. Its figures are the sums of the two parts, which
// it also reports apart ("empty_*", "select_*").
//
// Both libraries are made once under $TMPDIR/folivo-startup-bench (the large one by a child
// process, with the other benchmarks' 100,000-document recipe) and launched once untimed, so
// that one-time work of a first launch stays out. Run:
//   bench/pairs 5 build-rel/bin/startup_bench Startup/folivo2/100000 Startup/floor/100000 real_time cpu_s vmhwm_mb
#include "BenchHome.h"
#include "BenchLibrary.h"
#include "BenchMemory.h"
#include "RawListing.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <benchmark/benchmark.h>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int pollMs = 5;
// A poll in which the process ran for a quarter of it or more counts as busy. An idle program
// may still wake now and then for a timer or an event (a millisecond of work, say); such a wake
// is not start-up, and a lower bar would stretch "until quiet" to the next of them.
constexpr qint64 busyNsPerPoll = pollMs * 1000000 / 4;
// How long the process must stay idle to count as quiet, and how long start-up may take at most.
constexpr qint64 quietWindowMs = 400;
constexpr qint64 capMs = 60000;

QString benchDir()
{
    return QDir::tempPath() + QStringLiteral("/folivo-startup-bench");
}

QString largeLibrary()
{
    return benchDir() + QStringLiteral("/library-100000");
}

QString emptyLibrary()
{
    return benchDir() + QStringLiteral("/library-empty");
}

QString programHome(const QString& library)
{
    return library + QStringLiteral("-home");
}

bool writeText(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// A home for the program: settings that name the library and skip the welcome page and the
// first-run steps, and private runtime and temporary folders (the single-instance socket lies
// there, so another copy of the program on this machine is never the one answering).
void prepareHome(const QString& library)
{
    const QString home = programHome(library);
    for (const char* sub : {"/Documents", "/runtime", "/tmp", "/.cache"})
        QDir().mkpath(home + QString::fromLatin1(sub));
    QFile::setPermissions(home + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QByteArray escaped = QFile::encodeName(library).replace('&', "&amp;").replace('<', "&lt;");
    writeText(home + QStringLiteral("/.config/Folivo 2/com.norlith.folivo2.plist"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>Bool_IsShowWelcomWindow</key><false/><key>Bool_ProgramIsFirstRun</key><false/>"
              "<key>String_Library_Path</key><string>" + escaped + "</string></dict></plist>\n");
}

// Builds the large library in a child process, so that nothing of it stays in this one.
void ensureLargeLibrary()
{
    const QString done = largeLibrary() + QStringLiteral("/.bench-complete");
    if (QFileInfo::exists(done))
        return;
    const pid_t child = fork();
    if (child == 0) {
        int argc = 1;
        char name[] = "startup_bench";
        char* argv[] = {name, nullptr};
        useBenchHome(benchDir() + QStringLiteral("/builder-home"));
        QCoreApplication app(argc, argv);
        auto engine = benchlibrary::openBenchLibrary(largeLibrary());
        const bool closed = engine->close().has_value();
        engine->releaseLock();
        engine.reset();
        _exit(closed && writeText(done, "1") ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "building the library failed\n");
        std::exit(1);
    }
}

qint64 nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Time on a CPU of every live thread of the process, in nanoseconds.
qint64 runNs(pid_t pid)
{
    qint64 total = 0;
    QDirIterator tasks(QStringLiteral("/proc/%1/task").arg(pid), QDir::Dirs | QDir::NoDotAndDotDot);
    while (tasks.hasNext()) {
        QFile stat(tasks.next() + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

// User and system time of the whole process (threads that ended included), in seconds.
double cpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

struct Launch {
    double seconds = 0;
    double cpu = 0;
    double peakMb = 0;
    bool quiet = false;
};

// Starts the program on a library and follows it until quiet; it is then asked to quit (by
// SIGTERM, which it answers with a clean quit) and waited for, untimed.
Launch launch(const QString& library)
{
    const QByteArray program = QByteArrayLiteral(FOLIVO_PROGRAM);
    const QByteArray home = QFile::encodeName(programHome(library));
    QList<QByteArray> env{"HOME=" + home,
                          "XDG_DATA_HOME=" + home + "/.local/share",
                          "XDG_CONFIG_HOME=" + home + "/.config",
                          "XDG_CACHE_HOME=" + home + "/.cache",
                          "XDG_RUNTIME_DIR=" + home + "/runtime",
                          "XDG_DOCUMENTS_DIR=" + home + "/Documents",
                          "TMPDIR=" + home + "/tmp",
                          "QT_QPA_PLATFORM=offscreen",
                          "FOLIVO_LOG_NO_CAPTURE=1",
                          "PATH=" + qgetenv("PATH")};
    std::vector<char*> envp;
    for (QByteArray& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    Launch out;
    const qint64 start = nowNs();
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        char* argv[] = {const_cast<char*>(program.constData()), nullptr};
        execve(program.constData(), argv, envp.data());
        _exit(127);
    }
    qint64 lastRun = 0, lastBusy = start;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return out; // ended on its own: not a start-up that can be measured
        const qint64 now = nowNs();
        const qint64 ran = runNs(pid);
        if (ran - lastRun > busyNsPerPoll)
            lastBusy = now;
        lastRun = ran;
        if (now - lastBusy >= quietWindowMs * 1000000) {
            out.quiet = true;
            break;
        }
        if (now - start >= capMs * 1000000)
            break;
    }
    out.seconds = double(lastBusy - start) / 1e9;
    out.cpu = cpuSeconds(pid);
    out.peakMb = rssMb("VmHWM:", QStringLiteral("/proc/%1/status").arg(pid));
    kill(pid, SIGTERM);
    int status = 0;
    QElapsedTimer waiting;
    waiting.start();
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (waiting.elapsed() > capMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return out;
}

// Both libraries exist and have been launched once.
void prepare()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    ensureLargeLibrary();
    QDir().mkpath(emptyLibrary());
    for (const QString& library : {largeLibrary(), emptyLibrary()}) {
        prepareHome(library);
        if (!launch(library).quiet)
            std::fprintf(stderr, "the first launch on %s never became quiet\n", qPrintable(library));
    }
}


struct Select {
    double seconds = 0;
    double cpu = 0;
    double mb = 0;
    size_t rows = 0;
};

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The documents the grid lists, read with plain SQL into structs, in a child process so that
// its memory is its own: the figure is how far the select raised the child's resident size.
Select rawSelect()
{
    int pipes[2];
    if (pipe(pipes) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(pipes[0]);
        Select s;
        const double before = rssMb("VmRSS:");
        const double cpuBefore = processCpuSeconds();
        const qint64 start = nowNs();
        const std::vector<bench::RawFile> files = bench::readListedDocuments(largeLibrary());
        s.seconds = double(nowNs() - start) / 1e9;
        s.cpu = processCpuSeconds() - cpuBefore;
        s.mb = rssMb("VmHWM:") - before;
        s.rows = files.size();
        benchmark::DoNotOptimize(files);
        const bool written = write(pipes[1], &s, sizeof s) == ssize_t(sizeof s);
        _exit(written ? 0 : 1);
    }
    close(pipes[1]);
    Select s;
    if (read(pipes[0], &s, sizeof s) != ssize_t(sizeof s))
        s = {};
    close(pipes[0]);
    waitpid(child, nullptr, 0);
    return s;
}

void startLarge(benchmark::State& state)
{
    prepare();
    Launch last;
    double cpu = 0, peak = 0;
    for (auto _ : state) {
        last = launch(largeLibrary());
        if (!last.quiet) {
            state.SkipWithError("the program never became quiet");
            return;
        }
        state.SetIterationTime(last.seconds);
        cpu += last.cpu;
        peak = std::max(peak, last.peakMb);
    }
    state.counters["cpu_s"] = cpu / double(state.iterations());
    state.counters["vmhwm_mb"] = peak;
}

void startupFloor(benchmark::State& state)
{
    prepare();
    double emptyS = 0, emptyCpu = 0, emptyMb = 0, selectS = 0, selectCpu = 0, selectMb = 0;
    size_t rows = 0;
    for (auto _ : state) {
        const Launch empty = launch(emptyLibrary());
        const Select select = rawSelect();
        if (!empty.quiet || select.rows == 0) {
            state.SkipWithError(!empty.quiet ? "the program never became quiet" : "the select read nothing");
            return;
        }
        state.SetIterationTime(empty.seconds + select.seconds);
        emptyS += empty.seconds;
        emptyCpu += empty.cpu;
        emptyMb = std::max(emptyMb, empty.peakMb);
        selectS += select.seconds;
        selectCpu += select.cpu;
        selectMb = std::max(selectMb, select.mb);
        rows = select.rows;
    }
    const double n = double(state.iterations());
    state.counters["cpu_s"] = (emptyCpu + selectCpu) / n;
    state.counters["vmhwm_mb"] = emptyMb + selectMb;
    state.counters["empty_ms"] = emptyS / n * 1000;
    state.counters["empty_cpu_s"] = emptyCpu / n;
    state.counters["empty_mb"] = emptyMb;
    state.counters["select_ms"] = selectS / n * 1000;
    state.counters["select_mb"] = selectMb;
    state.counters["documents"] = double(rows);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("Startup/folivo2/100000", startLarge)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RegisterBenchmark("Startup/floor/100000", startupFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
