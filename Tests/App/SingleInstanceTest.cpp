#include "App/SingleInstance.h"
#include "Support/TestSupport.h"

#include <QLocalServer>
#include <QUuid>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace {

QString uniqueName()
{
    return QStringLiteral("folivo2-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

// The second launch blocks while the first copy, on the event loop here, answers.
bool claimFromAnotherThread(const QString& name, const QStringList& paths, std::future<bool>& result)
{
    result = std::async(std::launch::async, [name, paths] {
        SingleInstance second(name);
        return second.claim(paths);
    });
    return testsupport::spinUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
}

} // namespace

TEST(SingleInstance, SecondLaunchHandsItsFilesOrAReopenToTheRunningCopy)
{
    const QString name = uniqueName();
    SingleInstance first(name);
    QStringList opened;
    int reopens = 0;
    first.onOpenFiles = [&](const QStringList& p) { opened = p; };
    first.onReopen = [&] { ++reopens; };
    ASSERT_TRUE(first.claim({}));

    std::future<bool> second;
    ASSERT_TRUE(claimFromAnotherThread(name, {QStringLiteral("/docs/a b.pdf"), QStringLiteral("/docs/ü.txt")}, second));
    EXPECT_FALSE(second.get()) << "the second copy must exit";
    ASSERT_TRUE(testsupport::spinUntil([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, (QStringList{QStringLiteral("/docs/a b.pdf"), QStringLiteral("/docs/ü.txt")}));

    ASSERT_TRUE(claimFromAnotherThread(name, {}, second));
    EXPECT_FALSE(second.get());
    EXPECT_TRUE(testsupport::spinUntil([&] { return reopens == 1; }));
}

TEST(SingleInstance, LeftoverSocketOfACrashedCopyIsTakenOver)
{
    const QString name = uniqueName();
    {
        // A listener that never answers, then vanishes without cleaning up: like a crash.
        QLocalServer stale;
        stale.setSocketOptions(QLocalServer::UserAccessOption);
        ASSERT_TRUE(stale.listen(name));
        stale.close();
    }
    SingleInstance copy(name);
    EXPECT_TRUE(copy.claim({}));
}

TEST(SingleInstance, AfterReleaseARelaunchedCopyBecomesTheRunningOne)
{
    const QString name = uniqueName();
    SingleInstance dying(name);
    int reopens = 0;
    dying.onReopen = [&] { ++reopens; };
    ASSERT_TRUE(dying.claim({}));
    dying.release();
    dying.release(); // a second call on the way out is harmless
    EXPECT_FALSE(dying.isListening());

    // Claimed from the main thread: nobody may be left to answer, or this would hand over.
    SingleInstance relaunched(name);
    EXPECT_TRUE(relaunched.claim({}));
    EXPECT_TRUE(relaunched.isListening());
    EXPECT_EQ(reopens, 0);

    // And later launches reach the new copy, not the old one.
    int newReopens = 0;
    relaunched.onReopen = [&] { ++newReopens; };
    std::future<bool> third;
    ASSERT_TRUE(claimFromAnotherThread(name, {}, third));
    EXPECT_FALSE(third.get());
    EXPECT_TRUE(testsupport::spinUntil([&] { return newReopens == 1; }));
    EXPECT_EQ(reopens, 0);
}
