// The command client against a fake driver: what reaches the driver, and what reaches the
// completion on the main thread.
#include "Platform/Foundation/Dispatch.h"
#include "SafeBox/SafeBoxContentGenerate.h"
#include "SafeBox/SafeBoxXPCClient.h"
#include "Support/TestSupport.h"

#include <gtest/gtest.h>
#include <mutex>

namespace {

struct Seen {
    std::mutex mutex; // the fake driver runs on a worker
    QString path;
    QVariantMap parameter;
    QString disk;
    QStringList calls;
};

class FakeDriver : public SafeBoxCreator {
public:
    FakeDriver(const QString& path, const QVariantMap& parameter, Seen& seen, SafeBoxOutcome outcome)
        : SafeBoxCreator(path, parameter), m_seen(seen), m_outcome(std::move(outcome))
    {
        std::lock_guard lock(m_seen.mutex);
        m_seen.path = path;
        m_seen.parameter = parameter;
    }
    SafeBoxOutcome creator() override { return record(QStringLiteral("create")); }
    SafeBoxOutcome attach() override { return record(QStringLiteral("attach")); }
    SafeBoxOutcome change() override { return record(QStringLiteral("change")); }
    SafeBoxOutcome resize() override { return record(QStringLiteral("resize")); }
    SafeBoxOutcome detach(const QString& disk) override
    {
        std::lock_guard lock(m_seen.mutex);
        m_seen.disk = disk;
        m_seen.calls.append(QStringLiteral("detach"));
        return m_outcome;
    }
    void logoutCheck() override { record(QStringLiteral("logout")); }

private:
    SafeBoxOutcome record(const QString& call)
    {
        std::lock_guard lock(m_seen.mutex);
        m_seen.calls.append(call);
        return m_outcome;
    }
    Seen& m_seen;
    SafeBoxOutcome m_outcome;
};

class SafeBoxXPCClientTest : public ::testing::Test {
protected:
    void use(SafeBoxOutcome outcome)
    {
        SafeBoxXPCClient::setDriverFactoryForTesting([this, outcome](const QString& path, const QVariantMap& parameter) {
            return std::make_unique<FakeDriver>(path, parameter, m_seen, outcome);
        });
    }
    void TearDown() override { SafeBoxXPCClient::setDriverFactoryForTesting(nullptr); }

    Seen m_seen;
};

SafeBoxOutcome failed(std::optional<QString> error)
{
    SafeBoxOutcome outcome;
    outcome.error = std::move(error);
    outcome.path = QStringLiteral("/would/be/wrong");
    outcome.disk = QStringLiteral("/dev/wrong");
    return outcome;
}

} // namespace

TEST_F(SafeBoxXPCClientTest, PasswordsAreDerivedInTheClientsCopyOnly)
{
    use(SafeBoxOutcome{true, std::nullopt, QString(), QString()});
    const QVariantMap caller{{QStringLiteral("Password"), QStringLiteral("old")},
                             {QStringLiteral("NewPassword"), QStringLiteral("new")},
                             {QStringLiteral("Name"), QStringLiteral("SafeBox")}};
    bool done = false;
    bool mainThread = false;
    auto client = SafeBoxXPCClient::create(QStringLiteral("/lib/safebox.db"), caller);
    client->changeWithCompletedBlock([&](bool success, const QString& error) {
        done = success && error.isEmpty();
        mainThread = platform::Dispatch::isMainThread();
    });
    client.reset(); // the pending work keeps it alive
    ASSERT_TRUE(testsupport::spinUntil([&] { return done; }));
    EXPECT_TRUE(mainThread);
    EXPECT_EQ(caller.value(QStringLiteral("Password")).toString(), QStringLiteral("old"));
    std::lock_guard lock(m_seen.mutex);
    EXPECT_EQ(m_seen.path, QStringLiteral("/lib/safebox.db"));
    EXPECT_EQ(m_seen.parameter.value(QStringLiteral("Password")).toString(),
              SafeBoxContentGenerate(QStringLiteral("old")).generate());
    EXPECT_EQ(m_seen.parameter.value(QStringLiteral("NewPassword")).toString(),
              SafeBoxContentGenerate(QStringLiteral("new")).generate());
    EXPECT_EQ(m_seen.parameter.value(QStringLiteral("Name")).toString(), QStringLiteral("SafeBox"));
}

TEST_F(SafeBoxXPCClientTest, NoPasswordIsAddedAndANilParameterStillDetaches)
{
    use(SafeBoxOutcome{true, std::nullopt, QString(), QString()});
    bool done = false;
    SafeBoxXPCClient::create()->detachWithCompletedBlock(QStringLiteral("/dev/folivo-sbx-0000abcd"),
                                                         [&](bool success, const QString&) { done = success; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return done; }));
    {
        std::lock_guard lock(m_seen.mutex);
        EXPECT_EQ(m_seen.disk, QStringLiteral("/dev/folivo-sbx-0000abcd"));
        EXPECT_FALSE(m_seen.parameter.contains(QStringLiteral("Password")));
    }
    SafeBoxXPCClient::create(QStringLiteral("/lib/safebox.db"), std::nullopt)->logoutCheck();
    ASSERT_TRUE(testsupport::spinUntil([&] {
        std::lock_guard lock(m_seen.mutex);
        return m_seen.calls.contains(QStringLiteral("logout"));
    }));
}

TEST_F(SafeBoxXPCClientTest, FailuresReachTheCompletionWithOrWithoutText)
{
    use(failed(std::nullopt));
    int calls = 0;
    QString path = QStringLiteral("unset");
    QString disk = QStringLiteral("unset");
    QString error = QStringLiteral("unset");
    bool success = true;
    SafeBoxXPCClient::create(QStringLiteral("/lib/safebox.db"), QVariantMap{{QStringLiteral("Password"), QStringLiteral("x")}})
        ->attachWithCompletedBlock([&](bool ok, const QString& p, const QString& d, const QString& e) {
            ++calls;
            success = ok;
            path = p;
            disk = d;
            error = e;
        });
    ASSERT_TRUE(testsupport::spinUntil([&] { return calls == 1; }));
    EXPECT_FALSE(success);
    EXPECT_TRUE(path.isEmpty());
    EXPECT_TRUE(disk.isEmpty());
    EXPECT_TRUE(error.isEmpty());

    use(failed(QStringLiteral("folivo-hdiutil: create failed - File exists")));
    SafeBoxXPCClient::create(QStringLiteral("/lib/safebox.db"), std::nullopt)
        ->creatorWithCompletedBlock([&](bool ok, const QString& e) {
            ++calls;
            success = ok;
            error = e;
        });
    ASSERT_TRUE(testsupport::spinUntil([&] { return calls == 2; }));
    EXPECT_FALSE(success);
    EXPECT_EQ(error, QStringLiteral("folivo-hdiutil: create failed - File exists"));
}

TEST_F(SafeBoxXPCClientTest, ACommandOfAnotherTypeOrAnUnknownNameIsDroppedWithoutAResult)
{
#ifndef QT_NO_DEBUG
    GTEST_SKIP() << "builds with assertions stop at the dropped command";
#endif
    use(SafeBoxOutcome{true, std::nullopt, QString(), QString()});
    auto client = SafeBoxXPCClient::create(QStringLiteral("/lib/safebox.db"), std::nullopt);
    QList<bool> resizes;
    QList<bool> attaches;
    client->resizeWithCompletedBlock([&](bool success, const QString&) { resizes.append(success); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return resizes.size() == 1; }));
    client->attachWithCompletedBlock(
        [&](bool success, const QString&, const QString&, const QString&) { attaches.append(success); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return attaches.size() == 1; }));
    {
        std::lock_guard lock(m_seen.mutex);
        m_seen.calls.clear();
    }

    // Both completions are still in place: a dropped command must reach neither, nor the driver.
    const QVariantMap parameter{{QStringLiteral("Size"), quint64(1073741824)}};
    client->sendMessage({{QStringLiteral("Type"), QStringLiteral("Other")}, {QStringLiteral("Command"), QStringLiteral("Resize")},
                         {QStringLiteral("Path"), QStringLiteral("/lib/safebox.db")}, {QStringLiteral("Parameter"), parameter}});
    client->sendMessage({{QStringLiteral("Command"), QStringLiteral("Attach")}, {QStringLiteral("Path"), QStringLiteral("/lib/safebox.db")}});
    client->sendMessage({{QStringLiteral("Type"), QStringLiteral("SafeBox")}, {QStringLiteral("Command"), QStringLiteral("Format")},
                         {QStringLiteral("Path"), QStringLiteral("/lib/safebox.db")}, {QStringLiteral("Parameter"), parameter}});
    client->sendMessage({{QStringLiteral("Type"), QStringLiteral("SafeBox")}, {QStringLiteral("Command"), QStringLiteral("resize")},
                         {QStringLiteral("Path"), QStringLiteral("/lib/safebox.db")}, {QStringLiteral("Parameter"), parameter}});
    // The work in flight and any result on its way to the main thread each hold the client.
    ASSERT_TRUE(testsupport::spinUntil([&] { return client.use_count() == 1; }));
    EXPECT_EQ(resizes, QList<bool>{true});
    EXPECT_EQ(attaches, QList<bool>{true});
    std::lock_guard lock(m_seen.mutex);
    EXPECT_TRUE(m_seen.calls.isEmpty()) << m_seen.calls.join(QLatin1Char(' ')).toStdString();
}
