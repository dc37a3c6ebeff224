// Process exit with dispatch work still in flight must neither crash nor hang. The test runs
// itself again as a child process that leaves work behind and then ends normally.
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <cstdio>
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

// Stands for what Qt keeps per thread (font caches): torn down when the worker's thread ends.
struct ThreadEndProbe {
    ~ThreadEndProbe()
    {
        std::fputs(QCoreApplication::instance() ? "worker ended with the application\n"
                                                : "worker outlived the application\n",
                   stderr);
    }
};

// Runs the named case again in a child process that ends normally; answers its stderr.
QByteArray runChild(const char* testName)
{
    testsupport::ChildProcess child({QStringLiteral("--gtest_filter=DispatchShutdown.") + QLatin1String(testName)},
                                    {{QString::fromLatin1(ChildVariable), QStringLiteral("1")}});
    EXPECT_TRUE(child.waitForFinished(60000)) << "the child hung at exit";
    const QByteArray err = child.standardError();
    EXPECT_TRUE(child.exitedNormally()) << err.constData();
    EXPECT_EQ(child.exitCode(), 0) << err.constData();
    return err;
}

} // namespace

TEST(DispatchShutdown, ExitWithWorkInFlightIsClean)
{
    if (qEnvironmentVariableIsSet(ChildVariable)) {
        leaveWorkBehind();
        return;
    }
    runChild("ExitWithWorkInFlightIsClean");
}

// A worker that drew text holds Qt's font engines in thread-locals; freeing them once Qt's
// statics are gone crashed the exit now and then. The workers' threads must have ended, their
// thread-locals included, while the application object still exists.
TEST(DispatchShutdown, WorkersEndWhileTheApplicationExists)
{
    if (qEnvironmentVariableIsSet(ChildVariable)) {
        DispatchSemaphore ran(0);
        DispatchQueue::global().async([&ran] {
            static thread_local ThreadEndProbe probe;
            (void)probe;
            ran.signal();
        });
        ran.wait();
        return;
    }
    const QByteArray err = runChild("WorkersEndWhileTheApplicationExists");
    EXPECT_TRUE(err.contains("worker ended with the application")) << err.constData();
    EXPECT_FALSE(err.contains("outlived")) << err.constData();
}
