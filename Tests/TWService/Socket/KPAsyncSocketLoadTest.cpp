#include "SocketTestSupport.h"

#include <map>
#include <thread>

using namespace sockettest;
using platform::DispatchQueue;

namespace {

// Sends every byte back; its connections live on the delegate queue (a serial one, so that
// the echo does not wait for the main thread).
struct Echo : KPAsyncSocketDelegate {
    std::mutex mutex;
    std::vector<KPAsyncSocketPtr> connections;
    void didAcceptNewSocket(const KPAsyncSocketPtr&, const KPAsyncSocketPtr& s) override
    {
        {
            std::lock_guard lock(mutex);
            connections.push_back(s);
        }
        s->readDataWithTimeout(-1, 0);
    }
    void didReadData(const KPAsyncSocketPtr& s, const QByteArray& data, long) override
    {
        s->writeData(data, -1, 0);
        s->readDataWithTimeout(-1, 0);
    }
    void socketDidDisconnect(const KPAsyncSocketPtr& s, const std::optional<platform::Error>&) override
    {
        std::lock_guard lock(mutex);
        std::erase(connections, s);
    }
};

struct Clients : KPAsyncSocketDelegate {
    QByteArray payload;
    int matched = 0;
    int disconnected = 0;
    int failed = 0;
    void didConnectToHost(const KPAsyncSocketPtr& s, const QString&, quint16) override
    {
        s->writeData(payload, 30, 1);
        s->readDataToLength(std::uint64_t(payload.size()), 30, 2);
    }
    void didReadData(const KPAsyncSocketPtr& s, const QByteArray& data, long) override
    {
        if (data == payload)
            ++matched;
        s->disconnect();
    }
    void socketDidDisconnect(const KPAsyncSocketPtr&, const std::optional<platform::Error>& error) override
    {
        ++disconnected;
        if (error)
            ++failed;
    }
};

} // namespace

TEST(KPAsyncSocketLoad, TwoHundredEchoConnectionsOfOneMebibyteLeaveNoDescriptorBehind)
{
    auto echo = std::make_shared<Echo>();
    auto server = KPAsyncSocket::create(echo, DispatchQueue::serial(QStringLiteral("echo")));
    ASSERT_TRUE(server->acceptOnInterface(QStringLiteral("localhost"), 0).has_value());
    const quint16 port = server->localPort();
    const int before = openDescriptorCount(); // the shared reactor runs by now

    auto clients = std::make_shared<Clients>();
    clients->payload = QByteArray(1 << 20, '\0');
    for (int i = 0; i < clients->payload.size(); ++i)
        clients->payload[i] = char(i % 251);
    std::vector<KPAsyncSocketPtr> sockets;
    for (int i = 0; i < 200; ++i) {
        sockets.push_back(KPAsyncSocket::create(clients, DispatchQueue::main()));
        ASSERT_TRUE(sockets.back()->connectToAddress(loopbackAddress(port)).has_value());
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return clients->disconnected == 200; }, 120000));
    EXPECT_EQ(clients->matched, 200);
    EXPECT_EQ(clients->failed, 0);
    sockets.clear();
    ASSERT_TRUE(testsupport::spinUntil([&] {
        std::lock_guard lock(echo->mutex);
        return echo->connections.empty();
    }));
    EXPECT_TRUE(testsupport::spinUntil([&] { return openDescriptorCount() <= before; }));
    server->disconnect();
}

TEST(KPAsyncSocketLoad, AThousandSocketsOpenedAndClosedEachReportOnceAndCloseTheirDescriptor)
{
    RawListener listener(1024);
    std::atomic<bool> stop{false};
    std::thread acceptor([&] {
        // Takes and drops the peers' ends so the backlog never fills.
        while (!stop) {
            const int fd = listener.accept();
            if (fd >= 0)
                ::close(fd);
        }
    });
    auto recorder = std::make_shared<Recorder>();
    KPAsyncSocket::create(recorder, DispatchQueue::main())->acceptOnPort(0); // starts the shared reactor
    const int before = openDescriptorCount();
    std::vector<KPAsyncSocketPtr> kept;
    for (int i = 0; i < 1000; ++i) {
        auto socket = KPAsyncSocket::create(recorder, DispatchQueue::main());
        ASSERT_TRUE(socket->connectToAddress(loopbackAddress(listener.port)).has_value());
        if (i % 2) {
            socket->disconnect();
            kept.push_back(socket);
        }
        // The other half go with their last reference, which may be a delegate call in flight.
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return openDescriptorCount() <= before; }));
    settle();
    std::map<const KPAsyncSocket*, int> reports;
    for (std::size_t i = 0; i < recorder->disconnected.size(); ++i)
        ++reports[recorder->disconnected[i]];
    for (const auto& s : kept)
        EXPECT_EQ(reports[s.get()], 1);
    for (const auto& [socket, count] : reports)
        EXPECT_EQ(count, 1);
    stop = true;
    ::close(rawConnect(listener.port));
    acceptor.join();
}
