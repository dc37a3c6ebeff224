// Honest uploads to a peer server during a flood of connections, beside the same uploads with no
// flood (the floor):
//
//   BM_UploadsDuringFlood/addresses:N   a child process holds 2,000 connections to the server
//                         from N loopback addresses (127.0.0.2 on) for 10 s, opening a new one
//                         each time the server closes one; meanwhile 25 uploads of 256 KiB go
//                         from 127.0.0.1 through the program's own sender, and the process opens
//                         50 files at a time, as thumbnails and imports would.
//   BM_UploadsQuiet       floor: the same uploads and files, no flood.
//
// Counters: "stored_ratio" (uploads stored ÷ sent), "peak_fds" (descriptors of this process,
// sampled every 2 ms), "files_opened_ratio" (files opened ÷ tried), "rss_before_mb" and
// "rss_after_mb" (resident memory before the run and 20 s after it, once idle workers have
// left), "peak_rss_mb", "threads_before" and "threads_after". The process runs under the usual
// soft limit of 1,024 descriptors. One iteration each; compare with bench/pairs, e.g.
//   bench/pairs 5 build/bin/peerflood_bench BM_UploadsDuringFlood/addresses:5 BM_UploadsQuiet
//       stored_ratio peak_fds files_opened_ratio rss_after_mb threads_after      (one line)
#include "BenchMemory.h"
#include "TWService/Client/TWBaseRequest.h"
#include "TWService/Server/TWServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr int kFloodConnections = 2000;
constexpr auto kFloodTime = 10s;
constexpr auto kSettleTime = 20s; // idle pool workers leave after 15 s
constexpr int kUploads = 25;
constexpr qint64 kUploadBytes = 256 * 1024;

int entriesOf(const char* folder)
{
    int n = 0;
    if (DIR* d = ::opendir(folder)) {
        while (const dirent* e = ::readdir(d))
            n += e->d_name[0] != '.' ? 1 : 0;
        ::closedir(d);
    }
    return n;
}

// The flooder's state lives in static storage: after fork() in a process with threads the
// child may not allocate.
int floodFds[kFloodConnections];
pollfd floodPoll[kFloodConnections];

int floodConnect(quint16 port, int address)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + quint32(address));
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.sin_port = htons(port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server);
    return fd;
}

// The child: holds kFloodConnections open from `addresses` addresses until `until`, and opens a
// new one for each the server closes. Writes one byte to `ready` once all are opened.
[[noreturn]] void flood(quint16 port, int addresses, int ready, std::chrono::steady_clock::time_point until)
{
    rlimit more{4096, 4096};
    ::setrlimit(RLIMIT_NOFILE, &more);
    for (int i = 0; i < kFloodConnections; ++i)
        floodFds[i] = floodConnect(port, i % addresses);
    const char one = 1;
    (void)::write(ready, &one, 1);
    while (std::chrono::steady_clock::now() < until) {
        for (int i = 0; i < kFloodConnections; ++i)
            floodPoll[i] = pollfd{floodFds[i], POLLIN, 0};
        if (::poll(floodPoll, kFloodConnections, 10) <= 0)
            continue;
        for (int i = 0; i < kFloodConnections; ++i) {
            if (floodPoll[i].fd < 0 || floodPoll[i].revents == 0)
                continue;
            char c;
            if (::recv(floodFds[i], &c, 1, MSG_DONTWAIT) > 0)
                continue; // an answer: the connection is still held
            ::close(floodFds[i]);
            floodFds[i] = floodConnect(port, i % addresses);
        }
    }
    ::_exit(0);
}

struct Keep : TWServerDelegate, TWSocketFileUploadDelegate, std::enable_shared_from_this<Keep> {
    void onClientReqestuUploadFileFileBySocketReader(const std::shared_ptr<TWSocketFileUpload>& r) override
    {
        r->setDelegate(std::static_pointer_cast<TWSocketFileUploadDelegate>(shared_from_this()));
    }
    bool onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& r, const QString&) override
    {
        QDir(r->stagingFolder()).removeRecursively();
        return true;
    }
};

// Sends kUploads uploads at once and waits for their ends; how many were stored.
int sendUploads(quint16 port, const QString& path)
{
    std::mutex mutex;
    std::condition_variable cv;
    int ended = 0, stored = 0;
    std::vector<std::shared_ptr<TWFileUploadRequest>> requests;
    for (int i = 0; i < kUploads; ++i) {
        auto request = TWFileUploadRequest::create({QStringLiteral("127.0.0.1"), port, {}},
                                                   {{QStringLiteral("Name"), QStringLiteral("doc%1").arg(i)},
                                                    {QStringLiteral("Extention"), QStringLiteral("bin")}},
                                                   path);
        request->requestWithCompltedBlock([&](TWFileUploadRequest*, const std::optional<platform::Error>& e) {
            std::lock_guard lock(mutex);
            ++ended;
            stored += e ? 0 : 1;
            cv.notify_all();
        });
        requests.push_back(request);
    }
    std::unique_lock lock(mutex);
    cv.wait_for(lock, 90s, [&] { return ended == kUploads; });
    for (auto& r : requests)
        r->cancel();
    return stored;
}

void runUploads(benchmark::State& state, int floodAddresses)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("payload.bin"));
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(kUploadBytes, 'p'));
    }
    auto keep = std::make_shared<Keep>();
    auto server = TWServer::create();
    server->setDelegate(keep);
    server->setUploadStagingRoot(dir.path());
    if (!server->startServer()) {
        state.SkipWithError("the server did not start");
        return;
    }
    sendUploads(server->serverPort(), path); // warm: every path once
    std::this_thread::sleep_for(kSettleTime);
    const double rssBefore = rssMb("VmRSS:");
    const int threadsBefore = entriesOf("/proc/self/task");

    for (auto _ : state) {
        std::atomic<bool> sampling{true};
        std::atomic<int> peakFds{0};
        std::atomic<int> filesTried{0}, fileFailures{0};
        std::thread sampler([&] {
            while (sampling.load()) {
                peakFds.store(std::max(peakFds.load(), entriesOf("/proc/self/fd")));
                std::this_thread::sleep_for(2ms);
            }
        });
        // Files opened as imports and thumbnails would, 50 at a time.
        std::thread files([&] {
            int fds[50];
            while (sampling.load()) {
                for (int i = 0; i < 50; ++i) {
                    const QByteArray name = QFile::encodeName(dir.filePath(QStringLiteral("thumb%1").arg(i)));
                    fds[i] = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                    ++filesTried;
                    fileFailures += fds[i] < 0 ? 1 : 0;
                }
                for (int fd : fds) {
                    if (fd >= 0)
                        ::close(fd);
                }
                std::this_thread::sleep_for(100ms);
            }
        });
        const auto until = std::chrono::steady_clock::now() + kFloodTime;
        pid_t child = -1;
        if (floodAddresses > 0) {
            int ready[2];
            if (::pipe2(ready, O_CLOEXEC) != 0) {
                state.SkipWithError("no pipe");
                break;
            }
            child = ::fork();
            if (child == 0)
                flood(server->serverPort(), floodAddresses, ready[1], until);
            ::close(ready[1]);
            char c;
            (void)::read(ready[0], &c, 1);
            ::close(ready[0]);
        }
        const int stored = sendUploads(server->serverPort(), path);
        std::this_thread::sleep_until(until);
        if (child > 0)
            ::waitpid(child, nullptr, 0);
        sampling = false;
        sampler.join();
        files.join();
        state.counters["stored_ratio"] = double(stored) / kUploads;
        state.counters["peak_fds"] = peakFds.load();
        state.counters["files_opened_ratio"] = 1 - double(fileFailures.load()) / std::max(1, filesTried.load());
    }
    std::this_thread::sleep_for(kSettleTime);
    state.counters["rss_before_mb"] = rssBefore;
    state.counters["rss_after_mb"] = rssMb("VmRSS:");
    state.counters["peak_rss_mb"] = rssMb();
    state.counters["threads_before"] = threadsBefore;
    state.counters["threads_after"] = entriesOf("/proc/self/task");
    server->stopServer();
}

void BM_UploadsDuringFlood(benchmark::State& state)
{
    runUploads(state, int(state.range(0)));
}

void BM_UploadsQuiet(benchmark::State& state)
{
    runUploads(state, 0);
}

} // namespace

BENCHMARK(BM_UploadsDuringFlood)->ArgName("addresses")->Arg(1)->Arg(5)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_UploadsQuiet)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv)
{
    // The usual soft limit of a desktop session, whatever this shell allows.
    rlimit descriptors{};
    ::getrlimit(RLIMIT_NOFILE, &descriptors);
    descriptors.rlim_cur = std::min<rlim_t>(1024, descriptors.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &descriptors);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
