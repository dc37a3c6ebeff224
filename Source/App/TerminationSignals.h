// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the event loop, so that the store
// is saved and the log flushed exactly as when the window is closed.
#pragma once

namespace TerminationSignals {

// Installs the handlers; the running QCoreApplication quits when one of the signals arrives.
void install();

} // namespace TerminationSignals
