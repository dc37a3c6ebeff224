#include "App/CrashController.h"
#include "Support/TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

struct FakeUi {
    int beeps = 0;
    QStringList events;
    QList<QVariantMap> mails;
    int relaunches = 0;
    bool answer = true;

    CrashController::Ui ui()
    {
        return {[this] { ++beeps; },
                [this](const QString& e, double) { events << e; },
                [this] { return answer; },
                [this](const QVariantMap& m) { mails << m; },
                [this] { ++relaunches; }};
    }
};

// Runs one of the CrashChild cases below in a child process whose handler re-executes
// /bin/sh, which copies the report to outFile: the same road a real crash takes.
QString crashInChild(const QString& test)
{
    const QString out = testsupport::makeTempDir() + QStringLiteral("/report.txt");
    testsupport::ChildProcess child({QStringLiteral("--gtest_filter=CrashChild.DISABLED_") + test,
                                     QStringLiteral("--gtest_also_run_disabled_tests")},
                                    {{QStringLiteral("FOLIVO_CRASH_CHILD_OUT"), out}});
    EXPECT_TRUE(child.waitForFinished(60000));
    EXPECT_TRUE(testsupport::spinUntil([&] { return !testsupport::readFile(out).isEmpty(); }));
    return QString::fromUtf8(testsupport::readFile(out));
}

void armForChild()
{
    const QString out = QString::fromLocal8Bit(qgetenv("FOLIVO_CRASH_CHILD_OUT"));
    CrashController::sharedInstance().arm(QStringLiteral("/bin/sh"),
                                          // The crashed child never returns to remove its own
                                          // temporary home, so the next program does.
                                          {QStringLiteral("-c"),
                                           QStringLiteral("cp \"$2\" \"$0\"; case \"$HOME\" in */folivo-test-*) "
                                                          "rm -rf \"$HOME\";; esac"),
                                           out},
                                          out + QStringLiteral(".raw"));
}

} // namespace

TEST(CrashController, ReportAndQuitMailsTheLogAndRelaunches)
{
    const QString log = testsupport::makeTempDir() + QStringLiteral("/Folivo 2.log");
    testsupport::writeFile(log, "records");
    FakeUi fake;
    CrashController::handleError(QStringLiteral("Signal SIGBUS"), fake.ui(), log);
    EXPECT_EQ(fake.beeps, 1);
    EXPECT_EQ(fake.events, QStringList{QStringLiteral("crash")});
    ASSERT_EQ(fake.mails.size(), 1);
    EXPECT_EQ(fake.mails[0].value(QStringLiteral("Files")).toStringList(), QStringList{log});
    EXPECT_TRUE(fake.mails[0].value(QStringLiteral("Subject")).toString().startsWith(QStringLiteral("Folivo v2.0.0(")));
    EXPECT_FALSE(fake.mails[0].value(QStringLiteral("Address")).toString().isEmpty());
    EXPECT_EQ(fake.relaunches, 1);
    EXPECT_FALSE(CrashController::sharedInstance().isArmed());
}

TEST(CrashController, ContinueSendsNothingButStillRelaunches)
{
    FakeUi fake;
    fake.answer = false;
    CrashController::handleError(QStringLiteral("Signal SIGILL"), fake.ui(), {});
    EXPECT_TRUE(fake.mails.isEmpty());
    EXPECT_EQ(fake.relaunches, 1);

    // Without a log file the mail has no attachment.
    EXPECT_FALSE(CrashController::crashMailInfo(QStringLiteral("/nonexistent/Folivo 2.log")).contains(QStringLiteral("Files")));
}

TEST(CrashController, FindsTheReportArgument)
{
    EXPECT_EQ(CrashController::crashReportArgument({QStringLiteral("folivo2"), QStringLiteral("--crash-report"),
                                                    QStringLiteral("/tmp/r.txt")}),
              QStringLiteral("/tmp/r.txt"));
    EXPECT_FALSE(CrashController::crashReportArgument({QStringLiteral("folivo2"), QStringLiteral("--crash-report")}));
    EXPECT_FALSE(CrashController::crashReportArgument({QStringLiteral("folivo2")}));
}

TEST(CrashController, FatalSignalWritesTheReportAndStartsANewProgram)
{
    const QString report = crashInChild(QStringLiteral("Segv"));
    EXPECT_TRUE(report.startsWith(QStringLiteral("Signal SIGSEGV\n"))) << report.left(200).toStdString();
    EXPECT_GT(report.count(QLatin1Char('\n')), 2);
}

TEST(CrashController, UncaughtExceptionOnAThreadIsReportedWithNameAndReason)
{
    const QString report = crashInChild(QStringLiteral("Throw"));
    EXPECT_TRUE(report.startsWith(QStringLiteral("Exception std::runtime_error disk on fire\n")))
        << report.left(200).toStdString();
}

TEST(CrashController, SigpipeIsNoCrash)
{
    CrashController::sharedInstance().arm(QStringLiteral("/bin/false"), {},
                                          testsupport::makeTempDir() + QStringLiteral("/never.txt"));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    EXPECT_EQ(::write(fds[1], "x", 1), -1); // EPIPE instead of death
    ::close(fds[1]);
    CrashController::sharedInstance().disarm();
}

// The children, started by the tests above; never registered as tests of their own.
TEST(CrashChild, DISABLED_Segv)
{
    if (qEnvironmentVariableIsEmpty("FOLIVO_CRASH_CHILD_OUT"))
        GTEST_SKIP();
    armForChild();
    std::raise(SIGSEGV);
}

TEST(CrashChild, DISABLED_Throw)
{
    if (qEnvironmentVariableIsEmpty("FOLIVO_CRASH_CHILD_OUT"))
        GTEST_SKIP();
    armForChild();
    std::thread([] { throw std::runtime_error("disk on fire"); }).join();
}
