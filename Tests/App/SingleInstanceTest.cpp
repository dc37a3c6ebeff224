#include "App/SingleInstance.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QUuid>
#include <unistd.h>
#include <QScopeGuard>
#include <csignal>
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

const char* const kNameVariable = "FOLIVO_SINGLE_INSTANCE_NAME";
const char* const kLogVariable = "FOLIVO_SINGLE_INSTANCE_LOG";

QStringList lines(const QString& path)
{
    return QString::fromUtf8(testsupport::readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

TEST(SingleInstance, FileArgumentsAreMadeAbsoluteWhereTheyWereTyped)
{
    EXPECT_EQ(SingleInstance::fileArguments({QStringLiteral("folivo2"), QStringLiteral("same.txt"), QStringLiteral("-x"),
                                             QStringLiteral("../up/b.pdf"), QStringLiteral("/abs/./c.pdf")},
                                            QStringLiteral("/home/u/here")),
              (QStringList{QStringLiteral("/home/u/here/same.txt"), QStringLiteral("/home/u/up/b.pdf"),
                           QStringLiteral("/abs/c.pdf")}));
}

// A running copy stopped (SIGSTOP) while a second copy starts: its socket stays and the request
// waits for it, carried out once when it runs again.
TEST(SingleInstance, ASlowRunningCopyKeepsItsNameAndGetsTheRequestLater)
{
    const QString name = uniqueName();
    const QString log = testsupport::makeTempDir(QStringLiteral("requests")) + QStringLiteral("/log");
    testsupport::ChildProcess owner({QStringLiteral("--gtest_also_run_disabled_tests"),
                                     QStringLiteral("--gtest_filter=SingleInstanceChild.DISABLED_RunsUntilKilled")},
                                    {{QString::fromLatin1(kNameVariable), name}, {QString::fromLatin1(kLogVariable), log}});
    ASSERT_TRUE(owner.started());
    ASSERT_TRUE(testsupport::spinUntil([&] { return lines(log).contains(QStringLiteral("listening")); }))
        << owner.standardError().constData();
    const QString socket = QDir::tempPath() + QLatin1Char('/') + name;

    ::kill(owner.pid(), SIGSTOP);
    {
        SingleInstance second(name);
        EXPECT_FALSE(second.claim({QStringLiteral("/docs/a.pdf")})) << "the request waits for the running copy";
        EXPECT_FALSE(second.isListening());
    }
    EXPECT_TRUE(QFileInfo::exists(socket)) << "a live copy's socket is never removed";
    ::kill(owner.pid(), SIGCONT);
    ASSERT_TRUE(testsupport::spinUntil([&] { return lines(log).contains(QStringLiteral("/docs/a.pdf")); }));

    // The copy answers again; by the time a later request arrives, a second delivery of the
    // first would have come too.
    std::future<bool> third;
    ASSERT_TRUE(claimFromAnotherThread(name, {QStringLiteral("/docs/b.pdf")}, third));
    EXPECT_FALSE(third.get());
    ASSERT_TRUE(testsupport::spinUntil([&] { return lines(log).contains(QStringLiteral("/docs/b.pdf")); }));
    EXPECT_EQ(lines(log), (QStringList{QStringLiteral("listening"), QStringLiteral("/docs/a.pdf"), QStringLiteral("/docs/b.pdf")}));

    // Once that copy is dead its lock is gone with it, and the next copy takes the name over.
    ::kill(owner.pid(), SIGKILL);
    owner.waitForFinished();
    SingleInstance next(name);
    EXPECT_TRUE(next.claim({}));
    EXPECT_TRUE(next.isListening());
}

// The running copy of the test above; runs only when started by it.
TEST(SingleInstanceChild, DISABLED_RunsUntilKilled)
{
    const QString name = qEnvironmentVariable(kNameVariable);
    const QString log = qEnvironmentVariable(kLogVariable);
    if (name.isEmpty() || log.isEmpty())
        GTEST_SKIP();
    QByteArray written;
    const auto note = [&](const QString& line) {
        written += line.toUtf8() + '\n';
        testsupport::writeFile(log + QStringLiteral(".tmp"), written);
        QFile::remove(log);
        QFile::rename(log + QStringLiteral(".tmp"), log);
    };
    SingleInstance running(name);
    running.onOpenFiles = [&](const QStringList& paths) {
        for (const QString& p : paths)
            note(p);
    };
    ASSERT_TRUE(running.claim({}));
    note(QStringLiteral("listening"));
    testsupport::spinUntil([] { return false; }, 120000);
    ADD_FAILURE() << "not killed";
}

TEST(SingleInstance, TheHandOverNameBelongsToOneUser)
{
    // Two users of one machine must never reach each other's copy: the name lives in the
    // user's runtime folder, or else in a private folder of the user's own.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", runtime); });
    const QString name = SingleInstance::defaultServerName();
    EXPECT_TRUE(name.startsWith(QString::fromLocal8Bit(runtime) + QLatin1Char('/'))) << name.toStdString();

    qunsetenv("XDG_RUNTIME_DIR");
    const QFileInfo fallback(QFileInfo(SingleInstance::defaultServerName()).path());
    EXPECT_TRUE(fallback.isDir());
    EXPECT_EQ(fallback.ownerId(), ::getuid());
    EXPECT_EQ(fallback.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              QFile::Permissions());
}

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
