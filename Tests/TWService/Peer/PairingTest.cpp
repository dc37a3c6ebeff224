// Pairing over 127.0.0.1: the listener against the real client, and against a raw blocking
// client that says what a hostile or confused device would.
#include "RawPeer.h"
#include "Support/TestSupport.h"
#include "TWService/Mobile/TWMatchClientSocket.h"
#include "TWService/Mobile/TWMobileClient.h"
#include "TWService/Mobile/TWMobileService.h"
#include "TWService/Server/TWWire.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using namespace TWMatchWire;

namespace {

using RawDevice = RawPeer;

struct Owner : TWMatchServiceDelegate {
    std::atomic<quint32> code{123456};
    std::atomic<int> asked{0};
    std::vector<bool> done; // main thread
    int cancels = 0;
    quint32 onTWMatchServiceReceiveMatchInfo(const QVariantMap&, const KPAsyncSocketPtr&) override
    {
        ++asked;
        return code;
    }
    void onTWMatchServiceMatchDone(bool success) override { done.push_back(success); }
    void onTWMatchServiceMatchCancel() override { ++cancels; }
};

struct Device : TWMatchClientDelegate {
    int began = 0;
    std::optional<std::pair<bool, std::optional<platform::Error>>> result;
    void onTWMatchClientWillBeginMatch(TWMatchClientSocket*) override { ++began; }
    void onTWMatchClientMatchDone(TWMatchClientSocket*, bool success, const std::optional<platform::Error>& e) override
    {
        result.emplace(success, e);
    }
};

QByteArray request(const QVariant& code)
{
    return *TWWire::frameBody({{QStringLiteral("Name"), QStringLiteral("phone")},
                               {QStringLiteral("GUID"), QStringLiteral("DEVICE")},
                               {QStringLiteral("Code"), code}});
}

struct PairingFixture : ::testing::Test {
    std::shared_ptr<Owner> owner = std::make_shared<Owner>();
    TWMobileService service{QStringLiteral("COPY"), 4242, QStringLiteral("alice")};
    TWMatchLimits saved = TWMatchLimits::shared();
    std::shared_ptr<std::atomic<long long>> clockMs = std::make_shared<std::atomic<long long>>(0);

    void SetUp() override
    {
        TWMatchLimits::shared().read = 2;
        service.setMatchDelegate(owner);
        const auto start = std::chrono::steady_clock::now();
        service.setClock([start, ms = clockMs] { return start + std::chrono::milliseconds(ms->load()); });
        ASSERT_TRUE(service.startService().has_value());
    }
    void TearDown() override
    {
        service.stopService();
        TWMatchLimits::shared() = saved;
    }
    std::shared_ptr<ServerInfo> listener() const
    {
        return std::make_shared<ServerInfo>(QStringLiteral("127.0.0.1"), service.port());
    }
    // A full attempt of the real client; its outcome.
    std::pair<bool, std::optional<platform::Error>> attempt(qint32 code)
    {
        auto device = std::make_shared<Device>();
        auto client = TWMatchClientSocket::create(listener(), code);
        client->setDelegate(device);
        EXPECT_TRUE(client->beginMatch());
        EXPECT_TRUE(testsupport::spinUntil([&] { return device->result.has_value(); }));
        return device->result.value_or(std::pair{false, std::nullopt});
    }
};

} // namespace

TEST(PairingWire, CodesAreDecimalTextThatFitsThirtyTwoBits)
{
    EXPECT_EQ(parseCode(QStringLiteral("123456")), 123456);
    EXPECT_EQ(parseCode(QStringLiteral("-2147483648")), std::numeric_limits<qint32>::min());
    for (const char* bad : {"", "-", "2147483648", "12a", " 1", "+1", "99999999999999999999"})
        EXPECT_EQ(parseCode(QString::fromLatin1(bad)), std::nullopt) << bad;

    // A boxed number is read as well; text is cut and cleaned of control characters.
    const QByteArray archive = request(qint64(77)).mid(4);
    EXPECT_EQ(TWMatchRequest::fromArchive(archive)->code, 77);
    const auto odd = TWMatchRequest::fromArchive(
        TWWire::frameBody({{QStringLiteral("Name"), QString(300, QLatin1Char('n')) + QChar(1)}})->mid(4));
    ASSERT_TRUE(odd.has_value());
    EXPECT_EQ(odd->name.size(), 255);
    EXPECT_EQ(odd->code, std::nullopt);
    EXPECT_EQ(TWMatchRequest::fromArchive("not an archive"), std::nullopt);
}

TEST_F(PairingFixture, EqualCodesMatchOnBothSidesAndWrongCodesNeverSeeTheListenersCode)
{
    const auto matched = attempt(123456);
    EXPECT_TRUE(matched.first);
    EXPECT_FALSE(matched.second.has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return owner->done.size() == 1; }));
    EXPECT_TRUE(owner->done[0]);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !service.isMatching(); }));

    const auto wrong = attempt(654321);
    EXPECT_FALSE(wrong.first);
    ASSERT_TRUE(wrong.second.has_value());
    EXPECT_EQ(wrong.second->domain, TWMatchClientSocket::ErrorDomain);
    EXPECT_EQ(wrong.second->code, TWMatchClientSocket::MatchCancelled);
    ASSERT_TRUE(testsupport::spinUntil([&] { return owner->done.size() == 2; }));
    EXPECT_FALSE(owner->done[1]);

    // A device that lies about the outcome changes nothing: the listener compared for itself.
    ASSERT_TRUE(testsupport::spinUntil([&] { return !service.isMatching(); }));
    RawDevice liar(service.port());
    EXPECT_EQ(liar.word(), quint32(TWMatchStateWaiting));
    liar.send(request(QStringLiteral("1")));
    EXPECT_EQ(liar.word(), kMatchCancelled);
    liar.send(TWWire::u32(1));
    EXPECT_TRUE(liar.closedOrReset());
    ASSERT_TRUE(testsupport::spinUntil([&] { return owner->done.size() == 3; }));
    EXPECT_FALSE(owner->done[2]);
    EXPECT_EQ(owner->cancels, 0);
}

TEST_F(PairingFixture, ASecondDeviceIsTurnedAwayWhileAMatchRuns)
{
    RawDevice first(service.port());
    EXPECT_EQ(first.word(), quint32(TWMatchStateWaiting));
    ASSERT_TRUE(service.isMatching());

    const auto second = attempt(123456);
    ASSERT_TRUE(second.second.has_value());
    EXPECT_EQ(second.second->code, TWMatchClientSocket::ListenerBusy);

    // The first one is still the match; the request may arrive split anywhere.
    const QByteArray whole = request(QStringLiteral("123456"));
    first.send(whole.left(2));
    first.send(whole.mid(2, 5));
    first.send(whole.mid(7));
    EXPECT_EQ(first.word(), 123456u);
    first.send(TWWire::u32(1));
    EXPECT_TRUE(first.closedOrReset());
    ASSERT_TRUE(testsupport::spinUntil([&] { return owner->done.size() == 1; }));
    EXPECT_TRUE(owner->done[0]);
}

TEST_F(PairingFixture, ThreeFailuresCloseTheListenerForAWhileAndAClosedListenerSaysSo)
{
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(testsupport::spinUntil([&] { return !service.isMatching(); }));
        const auto outcome = attempt(i);
        EXPECT_EQ(outcome.second->code, TWMatchClientSocket::MatchCancelled) << outcome.second->toString().toStdString();
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return !service.isMatching(); }));
    // Even the right code is refused now, without the owner being asked.
    const int asked = owner->asked;
    EXPECT_EQ(attempt(123456).second->code, TWMatchClientSocket::ListenerClosed);
    EXPECT_EQ(owner->asked, asked);

    clockMs->store(61000);
    EXPECT_TRUE(attempt(123456).first);

    ASSERT_TRUE(testsupport::spinUntil([&] { return !service.isMatching(); }));
    service.setOpenForMatching(false);
    EXPECT_EQ(attempt(123456).second->code, TWMatchClientSocket::ListenerClosed);
    service.setOpenForMatching(true);
    owner->code = kMatchCancelled; // the owner turns the device down
    EXPECT_EQ(attempt(123456).second->code, TWMatchClientSocket::MatchCancelled);
}

TEST_F(PairingFixture, HostileRequestsAndStallsEndTheMatchAndFreeTheListener)
{
    {
        RawDevice huge(service.port());
        EXPECT_EQ(huge.word(), quint32(TWMatchStateWaiting));
        huge.send(TWWire::u32(0xFFFFFFFF));
        EXPECT_EQ(huge.word(), kMatchCancelled);
        EXPECT_TRUE(huge.closedOrReset());
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return !service.isMatching(); }));
    {
        RawDevice garbage(service.port());
        EXPECT_EQ(garbage.word(), quint32(TWMatchStateWaiting));
        garbage.send(TWWire::u32(5) + "abcde");
        EXPECT_EQ(garbage.word(), kMatchCancelled);
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return !service.isMatching(); }));
    {
        // Says nothing after the greeting: the read limit ends it, and the owner hears "cancel".
        TWMatchLimits::shared().read = 0.3;
        RawDevice silent(service.port());
        EXPECT_EQ(silent.word(), quint32(TWMatchStateWaiting));
        EXPECT_TRUE(silent.closedOrReset());
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return owner->cancels == 1 && !service.isMatching(); }));
    EXPECT_EQ(owner->done, (std::vector<bool>{false, false}));
}

TEST_F(PairingFixture, ADeviceFindsTheListenerOnceAndMatchesThroughIt)
{
    struct Seen : TWMobileClientDelegate {
        std::vector<std::shared_ptr<ServerInfo>> found;
        void onTWMobileClientFindServer(std::shared_ptr<ServerInfo> s) override { found.push_back(std::move(s)); }
    };
    auto seen = std::make_shared<Seen>();
    auto device = std::make_shared<Device>();
    TWMobileClient client(QStringLiteral("DEVICE"));
    client.setDelegate(seen);
    client.setMatchDelegate(device);
    ASSERT_TRUE(client.startSearch().has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->found.size() == 1; }));
    EXPECT_EQ(seen->found[0]->port(), service.port());
    EXPECT_EQ(seen->found[0]->serverName(), QStringLiteral("alice"));
    EXPECT_EQ(seen->found[0]->guid(), QStringLiteral("COPY"));

    ASSERT_TRUE(client.startMatchByServerInfo(seen->found[0], QStringLiteral("phone"), QStringLiteral("DEVICE"), 123456));
    EXPECT_FALSE(client.startMatchByServerInfo(seen->found[0], QStringLiteral("phone"), QStringLiteral("DEVICE"), 1));
    ASSERT_TRUE(testsupport::spinUntil([&] { return device->result.has_value(); }));
    EXPECT_TRUE(device->result->first);
    EXPECT_EQ(device->began, 1);
    EXPECT_EQ(client.matchingServer(), nullptr);
    EXPECT_EQ(client.bonjourServers().size(), 1u);
}
