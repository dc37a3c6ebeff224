// Loopback throughput of the asynchronous socket beside plain blocking sockets, and of a file
// sent from one peer exchange to another beside its floor: the same file read, sent over one
// TCP connection and written to a file on the other end.
//
//   build/bin/socket_bench                      (a few hundred MiB per case; run by hand)
#include "TWService/Client/TWBaseRequest.h"
#include "TWService/Server/TWServer.h"
#include "TWService/Socket/KPAsyncSocket.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr qint64 kMiB = 1024 * 1024;

struct Done {
    std::mutex mutex;
    std::condition_variable cv;
    bool flag = false;
    void set()
    {
        std::lock_guard lock(mutex);
        flag = true;
        cv.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return flag; });
    }
};

// Takes everything it is sent; counts the bytes.
struct Sink : KPAsyncSocketDelegate {
    std::vector<KPAsyncSocketPtr> accepted;
    std::atomic<qint64> received{0};
    qint64 expected = 0;
    Done* done = nullptr;
    void didAcceptNewSocket(const KPAsyncSocketPtr&, const KPAsyncSocketPtr& s) override
    {
        accepted.push_back(s);
        s->readDataWithTimeout(-1, 0);
    }
    void didReadData(const KPAsyncSocketPtr& s, const QByteArray& data, long) override
    {
        if ((received += data.size()) >= expected)
            done->set();
        else
            s->readDataWithTimeout(-1, 0);
    }
};

struct Source : KPAsyncSocketDelegate {};

void BM_AsyncSocketLoopback(benchmark::State& state)
{
    const qint64 total = state.range(0) * kMiB;
    const QByteArray block(kMiB, 'x');
    for (auto _ : state) {
        Done done;
        auto sink = std::make_shared<Sink>();
        sink->expected = total;
        sink->done = &done;
        auto listener = KPAsyncSocket::create(sink, platform::DispatchQueue::serial(QStringLiteral("sink")));
        listener->acceptOnInterface(QStringLiteral("localhost"), 0);
        auto source = std::make_shared<Source>();
        auto client = KPAsyncSocket::create(source, platform::DispatchQueue::serial(QStringLiteral("source")));
        client->connectToHost(QStringLiteral("localhost"), listener->localPort());
        for (qint64 sent = 0; sent < total; sent += kMiB)
            client->writeData(block, -1, 0);
        done.wait();
        client->disconnect();
        listener->disconnect();
    }
    state.SetBytesProcessed(state.iterations() * total);
}

// Sends total bytes over one blocking TCP connection on the loopback. With a source the bytes
// are read from that file as they are sent, with a target written to a new file as they arrive
// (closed and removed at the end, as the upload's staging is), which is what a peer upload does
// besides its protocol; without them memory to memory.
void blockingLoopback(qint64 total, const QString& source = {}, const QString& target = {})
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 1);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread reader([&] {
        const int c = ::accept(listener, nullptr, nullptr);
        QFile out(target);
        if (!target.isEmpty())
            out.open(QIODevice::WriteOnly);
        std::vector<char> buf(kMiB);
        qint64 got = 0;
        while (got < total) {
            const ssize_t r = ::recv(c, buf.data(), buf.size(), 0);
            if (r <= 0)
                break;
            if (out.isOpen())
                out.write(buf.data(), r);
            got += r;
        }
        if (out.isOpen()) {
            out.close();
            out.remove();
        }
        ::close(c);
    });
    QFile in(source);
    if (!source.isEmpty())
        in.open(QIODevice::ReadOnly);
    QByteArray block(kMiB, 'x');
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    for (qint64 sent = 0; sent < total;) {
        if (in.isOpen())
            block = in.read(kMiB);
        if (block.isEmpty())
            break;
        for (qsizetype off = 0; off < block.size();) {
            const ssize_t w = ::send(fd, block.constData() + off, std::size_t(block.size() - off), MSG_NOSIGNAL);
            if (w <= 0) {
                sent = total;
                break;
            }
            off += w;
            sent += w;
        }
    }
    reader.join();
    ::close(fd);
    ::close(listener);
}

void BM_BlockingSendRecvLoopback(benchmark::State& state)
{
    const qint64 total = state.range(0) * kMiB;
    for (auto _ : state)
        blockingLoopback(total);
    state.SetBytesProcessed(state.iterations() * total);
}

// A payload file of mib MiB in dir.
QString payloadFile(const QTemporaryDir& dir, qint64 mib)
{
    const QString path = dir.filePath(QStringLiteral("payload.bin"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    const QByteArray block(kMiB, 'y');
    for (qint64 i = 0; i < mib; ++i)
        f.write(block);
    return path;
}

// The floor of a peer upload: the file read, sent over one connection and written to a file
// beside it on the other end.
void BM_FileSendRecvLoopback(benchmark::State& state)
{
    const qint64 total = state.range(0) * kMiB;
    QTemporaryDir dir;
    const QString path = payloadFile(dir, state.range(0));
    for (auto _ : state)
        blockingLoopback(total, path, dir.filePath(QStringLiteral("received.bin")));
    state.SetBytesProcessed(state.iterations() * total);
}

struct Keep : TWServerDelegate, TWSocketFileUploadDelegate, std::enable_shared_from_this<Keep> {
    Done* done = nullptr;
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

void BM_PeerUploadLoopback(benchmark::State& state)
{
    const qint64 total = state.range(0) * kMiB;
    QTemporaryDir dir;
    const QString path = payloadFile(dir, state.range(0));
    auto keep = std::make_shared<Keep>();
    auto server = TWServer::create();
    server->setDelegate(keep);
    server->setUploadStagingRoot(dir.path());
    server->startServer();
    for (auto _ : state) {
        Done done;
        auto request = TWFileUploadRequest::create({QStringLiteral("127.0.0.1"), server->serverPort(), {}},
                                                   {{QStringLiteral("Name"), QStringLiteral("payload")}}, path);
        request->requestWithCompltedBlock([&done](TWFileUploadRequest*, const std::optional<platform::Error>& e) {
            if (e)
                qWarning("upload failed: %s", qPrintable(e->toString()));
            done.set();
        });
        done.wait();
    }
    server->stopServer();
    state.SetBytesProcessed(state.iterations() * total);
}

} // namespace

BENCHMARK(BM_AsyncSocketLoopback)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlockingSendRecvLoopback)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileSendRecvLoopback)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PeerUploadLoopback)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
