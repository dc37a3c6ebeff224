#include "Platform/Foundation/HelperProcess.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <sys/wait.h>

extern char** environ;

namespace platform {

namespace {

// One bit per signal number; lock-free, so a forked child may read it before its exec.
std::atomic<std::uint64_t> g_keptIgnored{0};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

} // namespace

void setSignalsKeptIgnored(const sigset_t& signals)
{
    std::uint64_t bits = 0;
    for (int signal = 1; signal < std::min(NSIG, 64); ++signal) {
        if (sigismember(&signals, signal) == 1)
            bits |= std::uint64_t(1) << signal;
    }
    g_keptIgnored.store(bits);
}

bool isSignalKeptIgnored(int signal)
{
    return signal > 0 && signal < 64 && (g_keptIgnored.load() >> signal & 1) != 0;
}

void setFreshSignalState(posix_spawnattr_t* attributes, short flags)
{
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(attributes, &signals);
    sigfillset(&signals);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (isSignalKeptIgnored(signal))
            sigdelset(&signals, signal);
    }
    posix_spawnattr_setsigdefault(attributes, &signals);
    posix_spawnattr_setflags(attributes, short(flags | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
}

pid_t spawnHelper(const char* program, char* const argv[], const posix_spawn_file_actions_t* actions)
{
    // A fresh program's signal state: nothing blocked, nothing ignored but what is kept so.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    setFreshSignalState(&attributes);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, program, actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? pid : -1;
}

std::optional<int> reapHelper(pid_t pid, bool block)
{
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != pid)
        return done < 0 ? std::optional<int>(-1) : std::nullopt;
    return status;
}

} // namespace platform
