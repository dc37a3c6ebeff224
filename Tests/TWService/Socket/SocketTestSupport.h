// A recording delegate and raw blocking peers for the socket tests, all on 127.0.0.1.
#pragma once

#include "TWService/Socket/KPAsyncSocket.h"

#include "Support/TestSupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sockettest {

// Delegate calls arrive on the main queue, so the test reads these fields without locks while
// it spins the event loop.
struct Recorder : KPAsyncSocketDelegate {
    QStringList events;
    std::vector<QByteArray> reads;
    std::vector<std::uint64_t> partialReads;
    std::vector<std::uint64_t> partialWrites;
    std::vector<long> writes;
    std::vector<KPAsyncSocketPtr> accepted;
    std::vector<std::optional<platform::Error>> disconnects;
    std::vector<const KPAsyncSocket*> disconnected;
    std::vector<double> timeoutElapsed;
    std::function<double(long, double, std::uint64_t)> onReadTimeout;
    std::function<void(const KPAsyncSocketPtr&, const QByteArray&, long)> onRead;
    std::function<void(const KPAsyncSocketPtr&)> onAccept;
    int secured = 0;
    QString connectedHost;

    void didAcceptNewSocket(const KPAsyncSocketPtr&, const KPAsyncSocketPtr& s) override
    {
        accepted.push_back(s);
        events << QStringLiteral("accept");
        if (onAccept)
            onAccept(s);
    }
    void didConnectToHost(const KPAsyncSocketPtr&, const QString& host, quint16) override
    {
        connectedHost = host;
        events << QStringLiteral("connect");
    }
    void didReadData(const KPAsyncSocketPtr& s, const QByteArray& data, long tag) override
    {
        reads.push_back(data);
        events << QStringLiteral("read:%1").arg(tag);
        if (onRead)
            onRead(s, data, tag);
    }
    void didReadPartialDataOfLength(const KPAsyncSocketPtr&, std::uint64_t n, long) override
    {
        partialReads.push_back(n);
    }
    double shouldTimeoutReadWithTag(const KPAsyncSocketPtr&, long tag, double elapsed, std::uint64_t done) override
    {
        timeoutElapsed.push_back(elapsed);
        return onReadTimeout ? onReadTimeout(tag, elapsed, done) : 0;
    }
    void didWriteDataWithTag(const KPAsyncSocketPtr&, long tag) override
    {
        writes.push_back(tag);
        events << QStringLiteral("write:%1").arg(tag);
    }
    void didWritePartialDataOfLength(const KPAsyncSocketPtr&, std::uint64_t n, long) override
    {
        partialWrites.push_back(n);
    }
    void socketDidDisconnect(const KPAsyncSocketPtr& s, const std::optional<platform::Error>& error) override
    {
        disconnects.push_back(error);
        disconnected.push_back(s.get());
        events << QStringLiteral("disconnect");
    }
    void socketDidSecure(const KPAsyncSocketPtr&) override { ++secured; }
};

// A blocking listener on 127.0.0.1 and the connections it accepts.
struct RawListener {
    int fd = -1;
    quint16 port = 0;
    explicit RawListener(int backlog = 16)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd, backlog), 0);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~RawListener() { ::close(fd); }
    int accept() const { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
};

inline QByteArray loopbackAddress(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return QByteArray(reinterpret_cast<const char*>(&a), sizeof a);
}

inline int rawConnect(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const QByteArray a = loopbackAddress(port);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(a.constData()), socklen_t(a.size())), 0);
    return fd;
}

inline void sendAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t r = ::send(fd, bytes.constData() + done, std::size_t(bytes.size() - done), MSG_NOSIGNAL);
        ASSERT_GT(r, 0);
        done += r;
    }
}

inline QByteArray recvExactly(int fd, qsizetype n)
{
    QByteArray out;
    char buf[65536];
    while (out.size() < n) {
        const ssize_t r = ::recv(fd, buf, std::min<std::size_t>(sizeof buf, std::size_t(n - out.size())), 0);
        if (r <= 0)
            break;
        out.append(buf, r);
    }
    return out;
}

inline int openDescriptorCount()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

// The process's open IPv4 and IPv6 sockets: what a flood of connections leaves open, apart from
// the files, watches and local sockets other parts of the process (the log) open meanwhile.
inline int openInternetSocketCount()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(d)) {
            const int fd = std::atoi(entry->d_name);
            int domain = 0;
            socklen_t length = sizeof domain;
            if (fd != ::dirfd(d) && ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0
                && (domain == AF_INET || domain == AF_INET6))
                ++n;
        }
        ::closedir(d);
    }
    return n;
}

// Lets queued work run for a moment without asserting anything about time.
inline void settle(int rounds = 20)
{
    for (int i = 0; i < rounds; ++i) {
        bool ran = false;
        platform::DispatchQueue::main().after(std::chrono::milliseconds(5), [&ran] { ran = true; });
        testsupport::spinUntil([&] { return ran; });
    }
}

// A connected pair: our socket as a client, the raw peer as the accepted descriptor.
struct ClientAndPeer {
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    KPAsyncSocketPtr socket;
    RawListener listener;
    int peer = -1;
    ClientAndPeer()
    {
        socket = KPAsyncSocket::create(recorder, platform::DispatchQueue::main());
        EXPECT_TRUE(socket->connectToAddress(loopbackAddress(listener.port)).has_value());
        peer = listener.accept();
        EXPECT_TRUE(testsupport::spinUntil([&] { return recorder->events.contains(QStringLiteral("connect")); }));
    }
    ~ClientAndPeer()
    {
        socket->disconnect();
        if (peer >= 0)
            ::close(peer);
    }
};

} // namespace sockettest
