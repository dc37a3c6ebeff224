// Two running copies find each other through a real avahi-daemon, started on a private system
// bus (see PrivateAvahiDaemon) and reached through the backend the program picks for itself;
// skipped with the reason where the machine cannot run one.
#include "Support/PrivateAvahiDaemon.h"
#include "Support/TestSupport.h"
#include "TWService/Service/TWPeerExchange.h"

#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

#ifdef FOLIVO_HAVE_AVAHI

namespace {

// The half that runs in the child, whose system bus is the private one.
class PeerDiscoveryAvahiChild : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::PrivateAvahiDaemon::onPrivateBus())
            GTEST_SKIP() << "runs only as the child of a PeerDiscoveryAvahi case, on its private bus";
        // The test main forces the same-host directory; the program's own choice is wanted here.
        qunsetenv("FOLIVO_BONJOUR_BACKEND");
        platform::ServiceBackend::shutdownShared();
    }
    void TearDown() override
    {
        platform::ServiceBackend::shutdownShared();
        qputenv("FOLIVO_BONJOUR_BACKEND", "directory");
    }
};

} // namespace

TEST(PeerDiscoveryAvahi, TwoCopiesOnOneComputerFindEachOtherAndSeeOneQuit)
{
    testsupport::PrivateAvahiDaemon daemon;
    if (!daemon.skipReason().isEmpty())
        GTEST_SKIP() << daemon.skipReason().toStdString();
    ASSERT_TRUE(daemon.failure().isEmpty()) << daemon.failure().toStdString();
    const auto run = daemon.runCase(QStringLiteral("PeerDiscoveryAvahiChild.DISABLED_TwoCopies"));
    EXPECT_TRUE(run.passed) << run.output.toStdString();
}

TEST_F(PeerDiscoveryAvahiChild, DISABLED_TwoCopies)
{
    ASSERT_EQ(platform::ServiceBackend::shared()->backendName(), QStringLiteral("avahi"));

    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");

    struct Copy {
        std::vector<std::shared_ptr<ServerInfo>> found;
        std::vector<std::shared_ptr<ServerInfo>> removed;
        std::unique_ptr<TWPeerExchange> exchange;
    };
    Copy one, two;
    for (Copy* c : {&one, &two}) {
        TWPeerExchange::Hooks hooks;
        hooks.dataAnswer = [png](const QVariantMap&) { return png; };
        hooks.found = [c](std::shared_ptr<ServerInfo> s) { c->found.push_back(std::move(s)); };
        hooks.removed = [c](const std::shared_ptr<ServerInfo>& s) { c->removed.push_back(s); };
        hooks.stagingRoot = testsupport::makeTempDir(QStringLiteral("staging"));
        c->exchange = std::make_unique<TWPeerExchange>(hooks);
    }
    // Both publish under this computer's name, as two accounts' copies on one computer do.
    one.exchange->start(QStringLiteral("COPY-ONE"), QStringLiteral("alice"));
    two.exchange->start(QStringLiteral("COPY-TWO"), QStringLiteral("bob"));

    ASSERT_TRUE(testsupport::spinUntil([&] { return !one.found.empty() && !two.found.empty(); }, 20000))
        << "copy one found " << one.found.size() << ", copy two found " << two.found.size();
    ASSERT_EQ(one.found.size(), 1u);
    ASSERT_EQ(two.found.size(), 1u);
    const auto& seenByOne = one.found[0];
    EXPECT_EQ(seenByOne->guid(), QStringLiteral("COPY-TWO"));
    EXPECT_EQ(seenByOne->serverName(), QStringLiteral("bob"));
    EXPECT_EQ(seenByOne->port(), two.exchange->serverPort());
    EXPECT_EQ(seenByOne->address(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(two.found[0]->guid(), QStringLiteral("COPY-ONE"));
    EXPECT_EQ(two.found[0]->serverName(), QStringLiteral("alice"));
    EXPECT_EQ(two.found[0]->port(), one.exchange->serverPort());
    EXPECT_NE(seenByOne->serviceName(), two.found[0]->serviceName());

    // What was found is where the other copy answers.
    TWPeerExchange::requestIcon(seenByOne);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !seenByOne->icon().isNull(); }, 20000));

    two.exchange->stop(); // copy two quits
    ASSERT_TRUE(testsupport::spinUntil([&] { return !one.removed.empty(); }, 20000));
    EXPECT_EQ(one.removed[0]->guid(), QStringLiteral("COPY-TWO"));
    one.exchange->stop();
}

#else

TEST(PeerDiscoveryAvahi, Unavailable)
{
    GTEST_SKIP() << "built without the Avahi client library";
}

#endif
