// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the event loop, so that the store
// is saved and the log flushed exactly as when the window is closed.
#pragma once

#include <functional>

namespace TerminationSignals {

// Installs the handlers; onSignal runs on the main thread's event loop when one arrives.
void install(std::function<void()> onSignal);

} // namespace TerminationSignals
