#include "App/TerminationSignals.h"

#include "Platform/Foundation/HelperProcess.h"

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

// Those of them the process was started with ignored (nohup's SIGHUP, SIGINT for a job a shell
// put in the background): the user chose that they should not end it. Found at the first look,
// which is main's first line, before any library could set a disposition of its own; the
// programs the process starts keep ignoring them too.
const sigset_t& ignoredAtStart()
{
    static const sigset_t ignored = [] {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction current = {};
            if (::sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO)
                && current.sa_handler == SIG_IGN)
                sigaddset(&set, signal);
        }
        platform::setSignalsKeptIgnored(set);
        return set;
    }();
    return ignored;
}

// What the reader reads: the signals not ignored at start.
sigset_t readSignals()
{
    sigset_t set = terminationSignals();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        if (sigismember(&ignoredAtStart(), signal) == 1)
            sigdelset(&set, signal);
    }
    return set;
}

int g_signalFd = -1;

} // namespace

void block()
{
    // An ignored one is blocked too, but never read: a library that set its disposition back
    // would otherwise let it end the process after all, and blocked it only waits.
    (void)ignoredAtStart();
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
    const sigset_t set = readSignals();
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
