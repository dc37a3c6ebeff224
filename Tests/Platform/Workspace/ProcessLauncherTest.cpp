#include "Platform/Workspace/ProcessLauncher.h"
#include "Support/TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>

// The program blocks its termination signals on every thread; a program it starts for the user
// (a file's application, a terminal, the mail program) must still end when the session ends.
TEST(ProcessLauncher, AProgramStartedGetsNoneOfTheBlockedSignals)
{
    sigset_t terminate;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    sigaddset(&terminate, SIGHUP);
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &terminate, &before);

    const QString out = testsupport::makeTempDir(QStringLiteral("launch")) + QStringLiteral("/status");
    const auto started = platform::ProcessLauncher::system().startDetached(
        QStringLiteral("/bin/sh"),
        // The shell reads its own mask with builtins only: a shell blocks every signal while it
        // forks a child, so a grep of its status could see that passing mask instead of its own.
        {QStringLiteral("-c"), QStringLiteral("while read -r l; do case $l in SigBlk*) printf '%s\\n' \"$l\" > \"$0.part\";; esac; "
                                              "done < /proc/$$/status && mv \"$0.part\" \"$0\""), out});
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ASSERT_TRUE(started.has_value()) << started.error().message.toStdString();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !testsupport::readFile(out).isEmpty(); }, 30000));
    const QByteArray line = testsupport::readFile(out).simplified();
    EXPECT_EQ(line, "SigBlk: 0000000000000000");
}
