// Process exit with dispatch work still in flight must neither crash nor hang. The test runs
// itself again as a child process that leaves work behind and then ends normally.
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using platform::Dispatch;
using platform::DispatchQueue;
using platform::DispatchSemaphore;
using platform::DispatchTimer;

namespace {

const char* const ChildVariable = "FOLIVO_DISPATCH_EXIT_CHILD";

void leaveWorkBehind()
{
    static DispatchSemaphore never(0);
    static DispatchTimer timer(DispatchQueue::global(), [] {});
    static auto token = platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("Exit"), [](const platform::Notification&) {});
    timer.start(1ms);
    const auto serial = DispatchQueue::serial(QStringLiteral("exit"));
    serial.async([] { never.wait(); }); // blocked for good: exit must not wait for it
    for (int i = 0; i < 100; ++i)
        serial.async([] {});
    Dispatch::after(std::chrono::hours(1), DispatchQueue::global(), [] {});
    Dispatch::main([] {}); // never run: the event loop does not spin again
    DispatchQueue::global().async([] {
        // Main-queue sync from a worker while the main thread heads for exit.
        DispatchQueue::main().sync([] {});
    });
}

} // namespace

TEST(DispatchShutdown, ExitWithWorkInFlightIsClean)
{
    if (qEnvironmentVariableIsSet(ChildVariable)) {
        leaveWorkBehind();
        return;
    }
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(ChildVariable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=DispatchShutdown.ExitWithWorkInFlightIsClean")});
    ASSERT_TRUE(child.waitForFinished(60000)) << "the child hung at exit";
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << child.readAllStandardError().constData();
    EXPECT_EQ(child.exitCode(), 0);
}
