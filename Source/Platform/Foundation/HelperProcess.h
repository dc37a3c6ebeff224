// Starting and collecting the program's short-lived helper processes (the PDF check, the proxy
// script runner): each starts with a fresh signal state, whatever the program has blocked or
// ignored on its own threads, so that the helper's kill timer and its own handlers work.
//
// Threads: any.
#pragma once

#include <csignal>
#include <optional>
#include <spawn.h>
#include <sys/types.h>

namespace platform {

// The signals the programs this process starts keep ignoring: those the process was itself
// started with ignored and leaves so (nohup's SIGHUP), which a started program is as much part
// of. Set on the main thread before any other thread starts; read from any thread, also between
// a fork and its exec.
void setSignalsKeptIgnored(const sigset_t& signals);
bool isSignalKeptIgnored(int signal);

// Sets attributes (initialised by the caller) to start a program with a fresh signal state:
// nothing blocked (the program blocks its termination signals on every thread), every signal at
// its default but those kept ignored, which the program inherits as this process has them;
// flags are added to those this needs.
void setFreshSignalState(posix_spawnattr_t* attributes, short flags = 0);

// Starts program (argv[0] included in argv, null-ended) with the standard streams actions set;
// the pid, or -1 when it could not start.
pid_t spawnHelper(const char* program, char* const argv[], const posix_spawn_file_actions_t* actions);

// The helper's wait status once it has ended; nullopt while it runs (only when not block), -1
// when it cannot be waited for.
std::optional<int> reapHelper(pid_t pid, bool block);

} // namespace platform
