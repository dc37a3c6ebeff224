#include "App/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace TerminationSignals {
namespace {

sigset_t terminationSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

int g_signalFd = -1;

} // namespace

void block()
{
    const sigset_t set = terminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void unblock()
{
    const sigset_t set = terminationSignals();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void install(std::function<void()> onSignal)
{
    if (g_signalFd >= 0)
        return;
    // Blocked here too, for a caller that did not block them first; threads started before then
    // still let them through.
    block();
    const sigset_t set = terminationSignals();
    g_signalFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (g_signalFd < 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalFd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal = std::move(onSignal)] {
        signalfd_siginfo info;
        while (::read(g_signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
            if (onSignal)
                onSignal();
            else
                QCoreApplication::quit();
        }
    });
}

} // namespace TerminationSignals
