#include "SocketTestSupport.h"

#include <netdb.h>

using namespace sockettest;
using platform::DispatchQueue;

TEST(KPAsyncSocketLifecycle, RequestsBeforeStartAreDroppedAndEachStartEndsInExactlyOneDisconnect)
{
    RawListener listener;
    auto recorder = std::make_shared<Recorder>();
    auto socket = KPAsyncSocket::create(recorder, DispatchQueue::main());
    socket->readDataWithTimeout(-1, 1);
    socket->writeData("early", -1, 2);
    socket->disconnect(); // never started: nothing to report
    settle();
    EXPECT_TRUE(recorder->events.isEmpty());

    for (int round = 0; round < 2; ++round) { // the same object connects again after a close
        ASSERT_TRUE(socket->connectToAddress(loopbackAddress(listener.port)).has_value());
        const int peer = listener.accept();
        ASSERT_TRUE(testsupport::spinUntil([&] { return recorder->events.count(QStringLiteral("connect")) == round + 1; }));
        EXPECT_FALSE(socket->isDisconnected());
        EXPECT_EQ(recorder->connectedHost, QStringLiteral("127.0.0.1"));
        socket->disconnect();
        socket->disconnect();
        EXPECT_TRUE(socket->isDisconnected());
        ASSERT_TRUE(testsupport::spinUntil([&] { return int(recorder->disconnects.size()) == round + 1; }));
        EXPECT_FALSE(recorder->disconnects.back().has_value());
        ::close(peer);
    }
    settle();
    EXPECT_EQ(recorder->disconnects.size(), 2u);
    EXPECT_TRUE(recorder->reads.empty());
}

TEST(KPAsyncSocketLifecycle, DisconnectAfterWritingClosesAfterBothWritesAndDropsLaterRequests)
{
    ClientAndPeer c;
    c.socket->readDataToLength(100, -1, 9); // still waiting when the close comes
    c.socket->writeData("one", -1, 1);
    c.socket->writeData("two", -1, 2);
    c.socket->disconnectAfterWriting();
    c.socket->writeData("late", -1, 3);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !c.recorder->disconnects.empty(); }));
    EXPECT_EQ(c.recorder->events,
              (QStringList{QStringLiteral("connect"), QStringLiteral("write:1"), QStringLiteral("write:2"),
                           QStringLiteral("disconnect")}));
    EXPECT_FALSE(c.recorder->disconnects[0].has_value());
    EXPECT_EQ(recvExactly(c.peer, 100), QByteArray("onetwo"));
}

TEST(KPAsyncSocketLifecycle, CloseCancelsTimeOutsAndADelegateGoneMeanwhileGetsNoCall)
{
    ClientAndPeer c;
    c.socket->readDataToLength(4, 0.05, 1);
    c.socket->disconnect();
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->disconnects.size() == 1; }));
    bool looked = false;
    DispatchQueue::main().after(std::chrono::milliseconds(150), [&] { looked = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return looked; }));
    EXPECT_TRUE(c.recorder->timeoutElapsed.empty());
    EXPECT_EQ(c.recorder->disconnects.size(), 1u);

    // Events queued for a delegate that goes before they run are dropped, not delivered to freed
    // memory; and a disconnect asked for from inside a delegate call ends the socket once.
    RawListener listener;
    auto gone = std::make_shared<Recorder>();
    auto socket = KPAsyncSocket::create(gone, DispatchQueue::main());
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(listener.port)).has_value());
    const int peer = listener.accept();
    std::weak_ptr<Recorder> watch = gone;
    gone.reset();
    socket->disconnect();
    settle();
    EXPECT_TRUE(watch.expired());

    auto inside = std::make_shared<Recorder>();
    socket->setDelegate(inside);
    inside->onRead = [](const KPAsyncSocketPtr& s, const QByteArray&, long) { s->disconnect(); };
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(listener.port)).has_value());
    const int peer2 = listener.accept();
    socket->readDataWithTimeout(-1, 1);
    socket->readDataWithTimeout(-1, 2);
    sendAll(peer2, "x");
    ASSERT_TRUE(testsupport::spinUntil([&] { return inside->disconnects.size() == 1; }));
    settle();
    EXPECT_EQ(inside->reads.size(), 1u);
    EXPECT_EQ(inside->disconnects.size(), 1u);
    ::close(peer);
    ::close(peer2);
}

TEST(KPAsyncSocketLifecycle, AConcurrentQueueIsNotASocketQueue)
{
#ifdef QT_NO_DEBUG
    auto socket = KPAsyncSocket::create({}, {}, DispatchQueue::global());
    EXPECT_TRUE(socket->socketQueue().isSerial());
    EXPECT_FALSE(socket->socketQueue() == DispatchQueue::global());
#else
    EXPECT_DEATH(KPAsyncSocket::create({}, {}, DispatchQueue::global()), "concurrent queue");
#endif
}

TEST(KPAsyncSocketAccept, ListensOnOnePortForBothFamiliesAndRefusesASecondAccept)
{
    auto recorder = std::make_shared<Recorder>();
    auto server = KPAsyncSocket::create(recorder, DispatchQueue::main());
    ASSERT_TRUE(server->acceptOnPort(0).has_value());
    const quint16 port = server->localPort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(server->localPort4(), port);
    const bool haveV6 = server->isIPv6();
    if (haveV6)
        EXPECT_EQ(server->localPort6(), port);

    auto again = server->acceptOnPort(0);
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error().code, KPAsyncSocket::BadConfigError);
    EXPECT_EQ(again.error().message,
              QStringLiteral("Attempting to accept while connected or accepting connections. Disconnect first."));

    const int a = rawConnect(port);
    int b = -1;
    if (haveV6) {
        b = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 addr{};
        addr.sin6_family = AF_INET6;
        addr.sin6_port = htons(port);
        addr.sin6_addr = in6addr_loopback;
        ASSERT_EQ(::connect(b, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    const std::size_t expected = haveV6 ? 2 : 1;
    ASSERT_TRUE(testsupport::spinUntil([&] { return recorder->accepted.size() == expected; }));
    EXPECT_TRUE(recorder->accepted[0]->isConnected());

    server->disconnect();
    ASSERT_TRUE(server->acceptOnPort(0).has_value());
    server->disconnect();
    ::close(a);
    if (b >= 0)
        ::close(b);
}

TEST(KPAsyncSocketAccept, InterfaceDescriptionGivesThePortOnlyWhenNoneWasAsked)
{
    // A port that was free a moment ago stands in for 8080, which another program may hold.
    const quint16 free = [] {
        RawListener probe;
        return probe.port;
    }();
    auto recorder = std::make_shared<Recorder>();
    auto server = KPAsyncSocket::create(recorder, DispatchQueue::main());
    ASSERT_TRUE(server->acceptOnInterface(QStringLiteral("lo:%1").arg(free), 0).has_value());
    EXPECT_EQ(server->localPort(), free);
    EXPECT_EQ(server->localHost(), QStringLiteral("127.0.0.1"));
    server->disconnect();
    ASSERT_TRUE(server->acceptOnInterface(QStringLiteral("127.0.0.1:%1").arg(free), 0).has_value());
    EXPECT_EQ(server->localPort(), free);
    server->disconnect();

    auto unknown = server->acceptOnInterface(QStringLiteral("no-such-interface0"), 0);
    ASSERT_FALSE(unknown.has_value());
    EXPECT_EQ(unknown.error().code, KPAsyncSocket::BadParamError);
}

TEST(KPAsyncSocketConnect, LocalhostSkipsTheResolverAndLookupFailuresCarryTheirDomain)
{
    std::atomic<int> asked{0};
    KPAsyncSocket::setResolver([&](const QString&, quint16) -> std::expected<std::vector<QByteArray>, platform::Error> {
        ++asked;
        return std::unexpected(KPAsyncSocket::gaiError(EAI_NONAME));
    });
    RawListener listener;
    auto recorder = std::make_shared<Recorder>();
    auto socket = KPAsyncSocket::create(recorder, DispatchQueue::main());
    ASSERT_TRUE(socket->connectToHost(QStringLiteral("localhost"), listener.port).has_value());
    const int peer = listener.accept();
    ASSERT_TRUE(testsupport::spinUntil([&] { return recorder->events.contains(QStringLiteral("connect")); }));
    EXPECT_EQ(recorder->connectedHost, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(asked.load(), 0);
    socket->disconnect();
    ::close(peer);

    ASSERT_TRUE(socket->connectToHost(QStringLiteral("peer.invalid"), listener.port).has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return recorder->disconnects.size() == 2; }));
    EXPECT_EQ(asked.load(), 1);
    ASSERT_TRUE(recorder->disconnects[1].has_value());
    EXPECT_EQ(recorder->disconnects[1]->domain, KPAsyncSocket::NetDBErrorDomain);
    EXPECT_EQ(recorder->disconnects[1]->code, EAI_NONAME);
    EXPECT_EQ(recorder->events.count(QStringLiteral("connect")), 1);
    KPAsyncSocket::setResolver({});

    auto empty = socket->connectToHost(QString(), 1);
    ASSERT_FALSE(empty.has_value());
    EXPECT_EQ(empty.error().code, KPAsyncSocket::BadParamError);
}

TEST(KPAsyncSocketConnect, BadAddressRefusedPortAndFullBacklogEachEndTheirOwnWay)
{
    auto recorder = std::make_shared<Recorder>();
    auto socket = KPAsyncSocket::create(recorder, DispatchQueue::main());
    auto bad = socket->connectToAddress(QByteArray(20, '\0'));
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().code, KPAsyncSocket::BadParamError);
    EXPECT_EQ(bad.error().message, QStringLiteral("A valid IPv4 or IPv6 address was not given"));

    const quint16 closed = [] {
        RawListener probe;
        return probe.port;
    }();
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(closed)).has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return recorder->disconnects.size() == 1; }));
    ASSERT_TRUE(recorder->disconnects[0].has_value());
    EXPECT_EQ(recorder->disconnects[0]->code, ECONNREFUSED);

    // A listener that never accepts, with its backlog full: further connects stay pending
    // until the time-out ends them.
    RawListener full(0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const QByteArray a = loopbackAddress(full.port);
        ::connect(fd, reinterpret_cast<const sockaddr*>(a.constData()), socklen_t(a.size()));
        fillers.push_back(fd);
    }
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(full.port), 0.2).has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return recorder->disconnects.size() == 2; }));
    ASSERT_TRUE(recorder->disconnects[1].has_value());
    EXPECT_EQ(recorder->disconnects[1]->code, KPAsyncSocket::ConnectTimeoutError);
    EXPECT_EQ(recorder->disconnects[1]->message, QStringLiteral("Attempt to connect to host timed out"));
    EXPECT_FALSE(recorder->events.contains(QStringLiteral("connect")));
    for (int fd : fillers)
        ::close(fd);
}
