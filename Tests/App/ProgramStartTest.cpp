#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>

// The real program, started as a child with its own home: it must write its log file with the
// "Run Date" record and quit cleanly on SIGTERM.
TEST(ProgramStart, LogsRunDateAndQuitsOnTerminate)
{
    const QString home = testsupport::makeTempDir(QStringLiteral("home"));
    QProcess program;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/folivo2"), {});
    ASSERT_TRUE(program.waitForStarted(30000));

    const QString log = home + QStringLiteral("/.local/share/com.norlith.folivo2/Logs/Folivo 2.log");
    EXPECT_TRUE(testsupport::spinUntil(
        [&] { return testsupport::readFile(log).contains("Run Date: "); }, 60000));

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}
