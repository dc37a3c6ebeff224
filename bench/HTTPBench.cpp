// The HTTP client against its floor: 256 MiB served by a loopback server, fetched through
// KPHTTPRequest into memory and into a file, beside a raw socket read loop of the same bytes;
// and 256 MiB inflated by KPDataDecompressor beside a raw zlib inflate. Each pair runs in the
// same process, one after the other, so the ratio of their rates is the client's cost.
//
//   build/bin/http_bench [--benchmark_filter=…]
#include "HTTP/KPDataDecompressor.h"
#include "HTTP/KPHTTPRequest.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr qint64 payloadBytes = qint64(256) << 20;

// Answers every request on 127.0.0.1 with payloadBytes of body, one connection at a time.
class BulkServer {
public:
    BulkServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_fd, 8);
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~BulkServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    int port() const { return m_port; }

private:
    void run()
    {
        const QByteArray chunk(1 << 20, 'b');
        while (!m_stop) {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            char buf[8192];
            QByteArray head;
            while (!head.contains("\r\n\r\n")) {
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                head.append(buf, n);
            }
            const QByteArray answer = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + QByteArray::number(payloadBytes) + "\r\n\r\n";
            ::send(c, answer.constData(), answer.size(), MSG_NOSIGNAL);
            for (qint64 sent = 0; sent < payloadBytes; sent += chunk.size())
                if (::send(c, chunk.constData(), chunk.size(), MSG_NOSIGNAL) <= 0)
                    break;
            ::shutdown(c, SHUT_WR);
            while (::recv(c, buf, sizeof buf, 0) > 0) {
            }
            ::close(c);
        }
    }
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

BulkServer& server()
{
    static BulkServer s;
    return s;
}

void BM_Download_RawSocket(benchmark::State& state)
{
    for (auto _ : state) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(quint16(server().port()));
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::send(fd, "GET / HTTP/1.1\r\nHost: x\r\n\r\n", 27, MSG_NOSIGNAL);
        QByteArray body;
        body.reserve(payloadBytes + 4096);
        char buf[262144];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            body.append(buf, n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(body.size());
    }
    state.SetBytesProcessed(state.iterations() * payloadBytes);
}

void BM_Download_KPHTTPRequest_Memory(benchmark::State& state)
{
    for (auto _ : state) {
        auto request = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server().port())));
        request->startSynchronous();
        if (request->rawResponseData().size() != payloadBytes)
            state.SkipWithError("short body");
    }
    state.SetBytesProcessed(state.iterations() * payloadBytes);
}

void BM_Download_KPHTTPRequest_File(benchmark::State& state)
{
    QTemporaryDir dir;
    for (auto _ : state) {
        auto request = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server().port())));
        request->setDownloadDestinationPath(dir.filePath(QStringLiteral("body")));
        request->startSynchronous();
        if (request->error())
            state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(state.iterations() * payloadBytes);
}

const QByteArray& gzipped()
{
    static const QByteArray packed = [] {
        QByteArray plain(payloadBytes, Qt::Uninitialized);
        for (qint64 i = 0; i < payloadBytes; ++i)
            plain[i] = char("lorem ipsum dolor sit amet "[i % 27] ^ ((i >> 12) & 7));
        z_stream z{};
        deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
        QByteArray out(qsizetype(deflateBound(&z, uLong(plain.size()))), Qt::Uninitialized);
        z.next_in = reinterpret_cast<Bytef*>(plain.data());
        z.avail_in = uInt(plain.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FINISH);
        out.truncate(qsizetype(z.total_out));
        deflateEnd(&z);
        return out;
    }();
    return packed;
}

void BM_Inflate_RawZlib(benchmark::State& state)
{
    const QByteArray& packed = gzipped();
    QByteArray out(payloadBytes, Qt::Uninitialized);
    for (auto _ : state) {
        z_stream z{};
        inflateInit2(&z, 47);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
        z.avail_in = uInt(packed.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        inflate(&z, Z_FINISH);
        inflateEnd(&z);
    }
    state.SetBytesProcessed(state.iterations() * payloadBytes);
}

void BM_Inflate_KPDataDecompressor(benchmark::State& state)
{
    const QByteArray& packed = gzipped();
    for (auto _ : state) {
        // Fed as a response arrives: 256 KiB at a time.
        auto d = KPDataDecompressor::decompressor();
        qint64 total = 0;
        for (qsizetype at = 0; at < packed.size(); at += 262144) {
            auto piece = d->uncompressBytes(packed.constData() + at, std::min<qsizetype>(262144, packed.size() - at));
            total += piece ? piece->size() : 0;
        }
        if (total != payloadBytes)
            state.SkipWithError("short inflate");
    }
    state.SetBytesProcessed(state.iterations() * payloadBytes);
}

} // namespace

BENCHMARK(BM_Download_RawSocket)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Download_KPHTTPRequest_Memory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Download_KPHTTPRequest_File)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Inflate_RawZlib)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Inflate_KPDataDecompressor)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    KPHTTPRequest::shutDown();
    return 0;
}
