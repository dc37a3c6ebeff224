// Discovery through a real avahi-daemon, started for each case on a private system bus (see
// PrivateAvahiDaemon); skipped with the reason where the machine cannot run one. Each case runs
// its half in a child (AvahiDiscoveryChild) that reaches only that bus. Each backend made there
// is one Avahi client, as each running copy of the program is.
#include "Support/PrivateAvahiDaemon.h"
#include "Support/TestSupport.h"

#include <gtest/gtest.h>

#ifdef FOLIVO_HAVE_AVAHI
#include "Platform/Bonjour/AvahiServiceBackend.h"

using namespace platform;

namespace {

const QString kType = QStringLiteral("_foli2_s._tcp");

struct Seen {
    QList<NetService> found;
    QStringList removed;
    QStringList foundNames() const
    {
        QStringList names;
        for (const NetService& s : found)
            names << s.name;
        return names;
    }
};

std::unique_ptr<ServiceHandle> browseInto(ServiceBackend& backend, Seen& seen)
{
    auto handle = backend.browse(kType, QStringLiteral("local."), DispatchQueue::main(),
                                 {[&](const NetService& s) { seen.found << s; },
                                  [&](const NetService& s) { seen.removed << s.name; }});
    EXPECT_TRUE(handle.has_value()) << handle.error().toString().toStdString();
    return handle ? std::move(*handle) : nullptr;
}

std::unique_ptr<ServiceHandle> publishAs(ServiceBackend& backend, const NetService& service, QString& publishedName)
{
    auto handle = backend.publish(service, DispatchQueue::main(), [&](const NetService& s) { publishedName = s.name; });
    EXPECT_TRUE(handle.has_value()) << handle.error().toString().toStdString();
    return handle ? std::move(*handle) : nullptr;
}

std::optional<Result<NetService>> resolveNow(ServiceBackend& backend, const NetService& found)
{
    std::optional<Result<NetService>> resolved;
    auto handle = backend.resolve(found, DispatchQueue::main(), [&](Result<NetService> r) { resolved = std::move(r); });
    testsupport::spinUntil([&] { return resolved.has_value(); }, 20000);
    return resolved;
}

std::unique_ptr<AvahiServiceBackend> client()
{
    auto backend = AvahiServiceBackend::create();
    EXPECT_TRUE(backend) << "no Avahi client on the private bus";
    return backend;
}

class AvahiDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_daemon = std::make_unique<testsupport::PrivateAvahiDaemon>();
        if (!m_daemon->skipReason().isEmpty())
            GTEST_SKIP() << m_daemon->skipReason().toStdString();
        ASSERT_TRUE(m_daemon->failure().isEmpty()) << m_daemon->failure().toStdString();
    }
    void TearDown() override { m_daemon.reset(); }

    void runChild(const char* name)
    {
        const auto run = m_daemon->runCase(QStringLiteral("AvahiDiscoveryChild.DISABLED_") + QLatin1String(name));
        EXPECT_TRUE(run.passed) << run.output.toStdString();
    }

private:
    std::unique_ptr<testsupport::PrivateAvahiDaemon> m_daemon;
};

// The child half: only in a process whose system bus is the private one.
class AvahiDiscoveryChild : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::PrivateAvahiDaemon::onPrivateBus())
            GTEST_SKIP() << "runs only as the child of an AvahiDiscovery case, on its private bus";
    }
};

} // namespace

TEST_F(AvahiDiscovery, ACopysServiceIsFoundWithItsPortAndTxtByAnotherAndLostWhenWithdrawn)
{
    runChild("ServiceFoundResolvedAndLost");
}

TEST_F(AvahiDiscoveryChild, DISABLED_ServiceFoundResolvedAndLost)
{
    auto publisher = client();
    auto browser = client();
    ASSERT_TRUE(publisher && browser);
    Seen seen;
    auto browse = browseInto(*browser, seen);

    NetService service;
    service.name = QStringLiteral("Zoë's laptop");
    service.type = kType + QLatin1Char('.');
    service.port = 4242;
    // A value holding '=' and a NUL byte: TXT values are bytes, not text up to the first NUL.
    service.txt = {{QStringLiteral("Name"), QStringLiteral("zoë").toUtf8()},
                   {QStringLiteral("GUID"), "1234-ABCD"},
                   {QStringLiteral("Extra"), QByteArray("a=b\0c", 5)}};
    QString publishedName;
    auto publication = publishAs(*publisher, service, publishedName);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !publishedName.isEmpty() && !seen.found.isEmpty(); }, 20000))
        << "published as '" << publishedName.toStdString() << "', found " << seen.found.size();
    EXPECT_EQ(publishedName, service.name);
    ASSERT_EQ(seen.foundNames(), QStringList{service.name});
    EXPECT_EQ(seen.found[0].type, kType);

    const auto resolved = resolveNow(*browser, seen.found[0]);
    ASSERT_TRUE(resolved.has_value()) << "no answer to the resolve";
    ASSERT_TRUE(resolved->has_value()) << resolved->error().toString().toStdString();
    const NetService& peer = **resolved;
    EXPECT_EQ(peer.name, service.name);
    EXPECT_EQ(peer.port, 4242);
    EXPECT_EQ(peer.txt, service.txt);
    EXPECT_EQ(peer.addresses, QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost)});
    EXPECT_TRUE(peer.isLocal);

    publication.reset(); // the copy quits
    ASSERT_TRUE(testsupport::spinUntil([&] { return !seen.removed.isEmpty(); }, 20000)) << "the withdrawal never arrived";
    EXPECT_EQ(seen.removed, QStringList{service.name});
    EXPECT_EQ(seen.found.size(), 1);
}

// Every copy publishes under the computer's name, so a second copy on the same computer (another
// account) asks for a name the daemon already holds.
TEST_F(AvahiDiscovery, ASecondCopyAskingForATakenNameIsPublishedUnderAnotherAndBothAreFound)
{
    runChild("TakenNameIsPublishedUnderAnother");
}

TEST_F(AvahiDiscoveryChild, DISABLED_TakenNameIsPublishedUnderAnother)
{
    auto first = client();
    auto second = client();
    auto browser = client();
    ASSERT_TRUE(first && second && browser);
    Seen seen;
    auto browse = browseInto(*browser, seen);

    NetService service;
    service.name = QStringLiteral("folivo-test");
    service.type = kType;
    service.port = 1000;
    service.txt = {{QStringLiteral("GUID"), "FIRST"}};
    QString firstName;
    auto firstPublication = publishAs(*first, service, firstName);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !firstName.isEmpty(); }, 20000));
    EXPECT_EQ(firstName, service.name);

    service.port = 2000;
    service.txt = {{QStringLiteral("GUID"), "SECOND"}};
    QString secondName;
    auto secondPublication = publishAs(*second, service, secondName);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !secondName.isEmpty() && seen.found.size() == 2; }, 20000))
        << "second published as '" << secondName.toStdString() << "'; found: "
        << seen.foundNames().join(QStringLiteral(", ")).toStdString();
    EXPECT_NE(secondName, firstName);
    QStringList names = seen.foundNames();
    names.sort();
    QStringList expected{firstName, secondName};
    expected.sort();
    EXPECT_EQ(names, expected);

    for (const NetService& found : seen.found) {
        const auto resolved = resolveNow(*browser, found);
        ASSERT_TRUE(resolved.has_value() && resolved->has_value()) << found.name.toStdString();
        const bool isFirst = found.name == firstName;
        EXPECT_EQ((*resolved)->port, isFirst ? 1000 : 2000) << found.name.toStdString();
        EXPECT_EQ((*resolved)->txt.value(QStringLiteral("GUID")), isFirst ? "FIRST" : "SECOND");
    }
}

#else

TEST(AvahiDiscovery, Unavailable)
{
    GTEST_SKIP() << "built without the Avahi client library";
}

#endif
