#include "App/TerminationSignals.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>

// A library may set SIGTERM back to its default from a thread of its own (SANE's backends do
// when a scan starts): the signal still reaches the reader, and the run ends by its own exit.
TEST(TerminationSignals, ASignalStillQuitsAfterALibraryResetItsHandler)
{
    const QString ready = testsupport::makeTempDir(QStringLiteral("signals")) + QStringLiteral("/ready");
    testsupport::ChildProcess child({QStringLiteral("--gtest_filter=TerminationSignalsChild.DISABLED_*"),
                                     QStringLiteral("--gtest_also_run_disabled_tests")},
                                    {{QStringLiteral("FOLIVO_SIGNALS_READY"), ready}});
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(testsupport::spinUntil([&] { return QFile::exists(ready) || child.waitForFinished(0); }, 60000));
    ASSERT_TRUE(QFile::exists(ready)) << child.standardError().toStdString();
    ::kill(child.pid(), SIGTERM);
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_TRUE(child.exitedNormally()) << "ended by the signal itself";
    EXPECT_EQ(child.exitCode(), 0) << child.standardOutput().toStdString();
    EXPECT_TRUE(child.standardOutput().contains("signal read")) << child.standardOutput().toStdString();
}

TEST(TerminationSignalsChild, DISABLED_ReadsTheSignalWhateverItsDisposition)
{
    // The program blocks the signals before any thread starts; so must this child, or a thread
    // of the test's own could take the signal.
    ASSERT_EQ(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    bool received = false;
    TerminationSignals::install([&received] { received = true; });
    // As a library's worker thread does, after the reader was installed.
    std::thread library([] {
        struct sigaction reset = {};
        reset.sa_handler = SIG_DFL;
        sigemptyset(&reset.sa_mask);
        ::sigaction(SIGTERM, &reset, nullptr);
    });
    library.join();
    testsupport::writeFile(qEnvironmentVariable("FOLIVO_SIGNALS_READY"), "ready");
    ASSERT_TRUE(testsupport::spinUntil([&] { return received; }, 60000));
    std::printf("signal read\n");
    std::fflush(stdout);
}
