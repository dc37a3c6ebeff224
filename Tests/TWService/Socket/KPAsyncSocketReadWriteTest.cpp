#include "SocketTestSupport.h"

#include <sys/ioctl.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace sockettest;

TEST(KPAsyncSocketRead, TerminatorReadsKeepTheRestAndFindATerminatorSplitAcrossSegments)
{
    ClientAndPeer c;
    sendAll(c.peer, "ab\ncd");
    c.socket->readDataToData(KPAsyncSocket::LFData(), -1, 1);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 1; }));
    EXPECT_EQ(c.recorder->reads[0], QByteArray("ab\n"));
    // "cd" waits in the read-ahead buffer: the next read needs no new segment.
    c.socket->readDataWithTimeout(-1, 2);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 2; }));
    EXPECT_EQ(c.recorder->reads[1], QByteArray("cd"));

    c.socket->readDataToData(KPAsyncSocket::CRLFData(), -1, 3);
    sendAll(c.peer, "xy\r");
    ASSERT_TRUE(testsupport::spinUntil([&] { return !c.recorder->partialReads.empty(); }));
    sendAll(c.peer, "\nz");
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 3; }));
    EXPECT_EQ(c.recorder->reads[2], QByteArray("xy\r\n"));
    c.socket->readDataWithTimeout(-1, 4);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 4; }));
    EXPECT_EQ(c.recorder->reads[3], QByteArray("z"));

    // A terminator read bounded below its terminator is refused; one that reaches its bound
    // without the terminator ends the connection with code 6.
    c.socket->readDataToData(QByteArray("END"), -1, 2, 5);
    c.socket->readDataToData(QByteArray("END"), -1, 8, 6);
    sendAll(c.peer, "0123456789");
    ASSERT_TRUE(testsupport::spinUntil([&] { return !c.recorder->disconnects.empty(); }));
    ASSERT_TRUE(c.recorder->disconnects[0].has_value());
    EXPECT_EQ(c.recorder->disconnects[0]->code, KPAsyncSocket::ReadMaxedOutError);
    EXPECT_EQ(c.recorder->reads.size(), 4u);
}

TEST(KPAsyncSocketRead, TerminatorReadIntoTheCallersBufferKeepsWhatFollowsTheTerminator)
{
    ClientAndPeer c;
    // Everything is in the socket before the read is queued, so one receive takes it all, and
    // the caller's buffer has room for it: the bytes land there directly, past the terminator.
    sendAll(c.peer, "ab\ncd\nef");
    ASSERT_TRUE(testsupport::spinUntil([&] {
        int n = 0;
        ::ioctl(c.peer, TIOCOUTQ, &n);
        return n == 0;
    }));
    auto buffer = std::make_shared<QByteArray>(64, '.');
    c.socket->readDataToData(KPAsyncSocket::LFData(), -1, buffer, 0, 0, 1);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 1; }));
    EXPECT_EQ(c.recorder->reads[0], QByteArray("ab\n"));
    // What followed the terminator belongs to the next reads, in order.
    c.socket->readDataToData(KPAsyncSocket::LFData(), -1, 2);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 2; }));
    EXPECT_EQ(c.recorder->reads[1], QByteArray("cd\n"));
    c.socket->readDataWithTimeout(-1, 3);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 3; }));
    EXPECT_EQ(c.recorder->reads[2], QByteArray("ef"));
}

TEST(KPAsyncSocketRead, LengthReadFedByteByByteReportsProgressAndBoundedAndBufferedReads)
{
    ClientAndPeer c;
    c.socket->readDataToLength(4, -1, 7);
    for (int i = 0; i < 4; ++i) {
        sendAll(c.peer, QByteArray(1, char('a' + i)));
        if (i < 3)
            ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->partialReads.size() == std::size_t(i + 1); }));
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 1; }));
    EXPECT_EQ(c.recorder->reads[0], QByteArray("abcd"));
    EXPECT_EQ(c.recorder->partialReads, (std::vector<std::uint64_t>{1, 1, 1}));

    // maxLength 10 of 25 bytes: two reads of ten.
    sendAll(c.peer, QByteArray("0123456789ABCDEFGHIJKLMNO"));
    c.socket->readDataWithTimeout(-1, nullptr, 0, 10, 8);
    c.socket->readDataWithTimeout(-1, nullptr, 0, 10, 9);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 3; }));
    EXPECT_EQ(c.recorder->reads[1], QByteArray("0123456789"));
    EXPECT_EQ(c.recorder->reads[2], QByteArray("ABCDEFGHIJ"));
    c.socket->readDataToLength(5, -1, 10);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 4; }));

    // The caller's buffer keeps its first five bytes and receives only the new ones after them.
    auto buffer = std::make_shared<QByteArray>("HELLO");
    c.socket->readDataToLength(3, -1, buffer, 5, 11);
    c.socket->readDataToLength(3, -1, buffer, 6, 12); // offset beyond the end: dropped
    sendAll(c.peer, "abc");
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 5; }));
    EXPECT_EQ(c.recorder->reads[4], QByteArray("abc"));
    settle();
    EXPECT_EQ(*buffer, QByteArray("HELLOabc"));
    EXPECT_EQ(c.recorder->reads.size(), 5u);
}

TEST(KPAsyncSocketRead, TimeOutIsExtendedByTheDelegateThenClosesWithCode4)
{
    ClientAndPeer c;
    int asks = 0;
    c.recorder->onReadTimeout = [&](long, double, std::uint64_t) { return ++asks == 1 ? 0.15 : 0.0; };
    c.socket->readDataToLength(10, 0.1, 1);
    sendAll(c.peer, "abc");
    ASSERT_TRUE(testsupport::spinUntil([&] { return !c.recorder->disconnects.empty(); }));
    ASSERT_EQ(c.recorder->timeoutElapsed.size(), 2u);
    EXPECT_DOUBLE_EQ(c.recorder->timeoutElapsed[0], 0.1);
    EXPECT_DOUBLE_EQ(c.recorder->timeoutElapsed[1], 0.25);
    ASSERT_TRUE(c.recorder->disconnects[0].has_value());
    EXPECT_EQ(c.recorder->disconnects[0]->domain, KPAsyncSocket::ErrorDomain);
    EXPECT_EQ(c.recorder->disconnects[0]->code, KPAsyncSocket::ReadTimeoutError);
    EXPECT_EQ(c.recorder->disconnects[0]->message, QStringLiteral("Read operation timed out"));
}

TEST(KPAsyncSocketRead, EndOfStreamServesBufferedBytesFirstThenClosesWithCode7)
{
    ClientAndPeer c;
    sendAll(c.peer, "l\nxyz");
    ASSERT_TRUE(testsupport::spinUntil([&] {
        int n = 0;
        ::ioctl(c.peer, TIOCOUTQ, &n);
        return n == 0;
    }));
    c.socket->readDataToData(KPAsyncSocket::LFData(), -1, 1);
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->reads.size() == 1; }));
    ::close(c.peer);
    c.peer = -1;
    settle();
    EXPECT_TRUE(c.recorder->disconnects.empty()); // three bytes still wait for a read
    c.socket->readDataWithTimeout(-1, 2);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !c.recorder->disconnects.empty(); }));
    ASSERT_EQ(c.recorder->reads.size(), 2u);
    EXPECT_EQ(c.recorder->reads[1], QByteArray("xyz"));
    ASSERT_TRUE(c.recorder->disconnects[0].has_value());
    EXPECT_EQ(c.recorder->disconnects[0]->code, KPAsyncSocket::ClosedError);
}

TEST(KPAsyncSocketWrite, OneMebibyteToASlowPeerReportsPartsAndOneCompletion)
{
    ClientAndPeer c;
    int small = 65536;
    ::setsockopt(c.peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    c.socket->performBlock([&] { ::setsockopt(c.socket->socketFD(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small); });
    QByteArray data(1 << 20, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 7);
    c.socket->writeData(data, -1, 42);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !c.recorder->partialWrites.empty(); }));
    EXPECT_TRUE(c.recorder->writes.empty());
    const QByteArray got = recvExactly(c.peer, data.size());
    ASSERT_TRUE(testsupport::spinUntil([&] { return c.recorder->writes.size() == 1; }));
    EXPECT_EQ(got, data);
    EXPECT_EQ(c.recorder->writes[0], 42);
    std::uint64_t partial = 0;
    for (auto n : c.recorder->partialWrites)
        partial += n;
    EXPECT_LT(partial, std::uint64_t(data.size()));
    settle();
    EXPECT_EQ(c.recorder->writes.size(), 1u);
}

TEST(KPAsyncSocketWrite, AnAcceptedSocketsGreetingReachesAPeerThatSpokeFirst)
{
    auto recorder = std::make_shared<Recorder>();
    // The accepted sockets run on a queue of their own, as the pairing listener's do.
    auto server = KPAsyncSocket::create(recorder, platform::DispatchQueue::serial(QStringLiteral("greeting")));
    std::mutex keptLock;
    std::vector<KPAsyncSocketPtr> kept;
    recorder->onAccept = [&](const KPAsyncSocketPtr& s) {
        s->readDataToLength(4, 30, 1);
        s->writeData(QByteArrayLiteral("HELO"), 30, 2);
        std::lock_guard lock(keptLock);
        kept.push_back(s);
    };
    ASSERT_TRUE(server->acceptOnPort(0).has_value());
    const quint16 port = server->localPort();
    std::atomic<int> answered = 0;
    std::atomic<bool> done = false;
    std::thread peers([&] {
        for (int i = 0; i < 300; ++i) {
            const int fd = rawConnect(port);
            sendAll(fd, QByteArrayLiteral("ping"));
            timeval tv{2, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            if (recvExactly(fd, 4) == QByteArrayLiteral("HELO"))
                ++answered;
            ::close(fd);
        }
        done = true;
    });
    ASSERT_TRUE(testsupport::spinUntil([&] { return done.load(); }, 120000));
    peers.join();
    EXPECT_EQ(answered.load(), 300);
    server->disconnect();
}
