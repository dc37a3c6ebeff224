#include "Platform/Foundation/HelperProcess.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>

extern char** environ;

namespace platform {

void setFreshSignalState(posix_spawnattr_t* attributes, short flags)
{
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(attributes, &signals);
    posix_spawnattr_setflags(attributes, short(flags | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
}

pid_t spawnHelper(const char* program, char* const argv[], const posix_spawn_file_actions_t* actions)
{
    // A fresh program's signal state: nothing blocked, nothing ignored.
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
