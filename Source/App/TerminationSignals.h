// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the event loop, so that the store
// is saved and the log flushed exactly as when the window is closed.
//
// The signals are blocked in every thread and read from a signalfd, not caught by a handler: a
// library may set its own disposition for them (SANE's backends set SIGTERM back to the default
// when a scan starts), and a blocked signal waits for the reader whatever its disposition says.
// Programs the process starts get an empty mask back (see platform::spawnHelper and the process
// launcher), or they could not be ended either.
//
// A signal the process was started with ignored (`nohup folivo2`) is the user's choice: it stays
// blocked but is never read, so it ends nothing, and the programs the process starts inherit it
// ignored (platform::setSignalsKeptIgnored).
//
// Threads: block() on the main thread before any other thread starts; install() on the main
// thread once the application object exists.
#pragma once

#include <functional>

namespace TerminationSignals {

// Blocks the signals in the calling thread, and so in every thread started from it afterwards;
// the first call also notes which of them the process was started with ignored.
void block();
// Lets them through again in the calling thread (a run that does not install the reader).
void unblock();
// Reads the blocked signals; onSignal runs on the main thread's event loop for each one.
void install(std::function<void()> onSignal);

} // namespace TerminationSignals
