#include "App/TerminationSignals.h"
#include "Platform/Foundation/HelperProcess.h"
#include "Platform/Workspace/ProcessLauncher.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
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

namespace {

// The ignored signals of a status line "SigIgn:\t<hex>" the child printed after tag.
std::optional<quint64> ignoredSignals(const QByteArray& output, const char* tag)
{
    const QRegularExpression line(QStringLiteral("%1 SigIgn:\\s*([0-9a-f]+)").arg(QString::fromLatin1(tag)));
    const auto match = line.match(QString::fromUtf8(output));
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toULongLong(nullptr, 16);
}

constexpr quint64 bit(int signal) { return quint64(1) << (signal - 1); }

} // namespace

// `nohup folivo2`: the hang-up the user had the program ignore ends nothing, neither the program
// nor what it starts, while SIGTERM still ends the program by its own exit.
TEST(TerminationSignals, AHangupTheProgramWasStartedToIgnoreEndsNothingThereNorInWhatItStarts)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("nohup"));
    const QString ready = folder + QStringLiteral("/ready");
    const QString go = folder + QStringLiteral("/go");
    const QString alive = folder + QStringLiteral("/alive");
    testsupport::ChildProcess child({QCoreApplication::applicationFilePath(),
                                     QStringLiteral("--gtest_filter=IgnoredHangupChild.DISABLED_IgnoresTheHangupItWasStartedToIgnore"),
                                     QStringLiteral("--gtest_also_run_disabled_tests")},
                                    {{QStringLiteral("FOLIVO_SIGNALS_READY"), ready},
                                     {QStringLiteral("FOLIVO_SIGNALS_GO"), go},
                                     {QStringLiteral("FOLIVO_SIGNALS_ALIVE"), alive}},
                                    QStringLiteral("/usr/bin/nohup"));
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(testsupport::spinUntil([&] { return QFile::exists(ready) || child.waitForFinished(0); }, 60000));
    ASSERT_TRUE(QFile::exists(ready)) << child.standardOutput().toStdString() << child.standardError().toStdString();

    // A signal is pending in its target once kill() returns: the child looks after "go".
    ::kill(child.pid(), SIGHUP);
    testsupport::writeFile(go, "go");
    ASSERT_TRUE(testsupport::spinUntil([&] { return QFile::exists(alive) || child.waitForFinished(0); }, 60000));
    ASSERT_TRUE(QFile::exists(alive)) << "the hang-up ended the run: " << child.standardOutput().toStdString();
    EXPECT_FALSE(child.waitForFinished(0));

    ::kill(child.pid(), SIGTERM);
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_TRUE(child.exitedNormally()) << "ended by the signal itself";
    EXPECT_EQ(child.exitCode(), 0) << child.standardOutput().toStdString();
    const QByteArray output = child.standardOutput();
    EXPECT_TRUE(output.contains("signal read")) << output.toStdString();
    // Both ways of starting a program hand the ignored hang-up on, and nothing else ignored.
    for (const char* tag : {"helper", "launched"}) {
        const auto ignored = ignoredSignals(output, tag);
        ASSERT_TRUE(ignored.has_value()) << tag << ": " << output.toStdString();
        EXPECT_TRUE(*ignored & bit(SIGHUP)) << tag;
        EXPECT_FALSE(*ignored & (bit(SIGTERM) | bit(SIGINT))) << tag;
    }
}

TEST(IgnoredHangupChild, DISABLED_IgnoresTheHangupItWasStartedToIgnore)
{
    ASSERT_EQ(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    int received = 0;
    TerminationSignals::install([&received] { ++received; });

    // Each started shell writes its own ignored signals, read with builtins only.
    const QString folder = testsupport::makeTempDir(QStringLiteral("started"));
    const QString script = QStringLiteral("while read -r l; do case $l in SigIgn*) printf '%s\\n' \"$l\" > \"$0.part\";; esac; "
                                          "done < /proc/$$/status && mv \"$0.part\" \"$0\"");
    const QString helperOut = folder + QStringLiteral("/helper");
    const QByteArray scriptBytes = script.toUtf8();
    const QByteArray helperBytes = QFile::encodeName(helperOut);
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(scriptBytes.constData()),
                          const_cast<char*>(helperBytes.constData()), nullptr};
    const pid_t helper = platform::spawnHelper("/bin/sh", argv, nullptr);
    ASSERT_GT(helper, 0);
    ASSERT_TRUE(platform::reapHelper(helper, true).has_value());
    const QString launchedOut = folder + QStringLiteral("/launched");
    ASSERT_TRUE(platform::ProcessLauncher::system()
                    .startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, launchedOut})
                    .has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !testsupport::readFile(launchedOut).isEmpty(); }, 30000));
    std::printf("helper %s\nlaunched %s\n", testsupport::readFile(helperOut).trimmed().constData(),
                testsupport::readFile(launchedOut).trimmed().constData());
    std::fflush(stdout);

    testsupport::writeFile(qEnvironmentVariable("FOLIVO_SIGNALS_READY"), "ready");
    ASSERT_TRUE(testsupport::spinUntil([] { return QFile::exists(qEnvironmentVariable("FOLIVO_SIGNALS_GO")); }, 60000));
    // The hang-up was sent before "go": had it been read, the reader would be readable now.
    QCoreApplication::processEvents();
    ASSERT_EQ(received, 0) << "the hang-up was read";
    testsupport::writeFile(qEnvironmentVariable("FOLIVO_SIGNALS_ALIVE"), "alive");
    ASSERT_TRUE(testsupport::spinUntil([&] { return received > 0; }, 60000));
    std::printf("signal read\n");
    std::fflush(stdout);
}
