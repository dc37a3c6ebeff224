// Logs what the process writes to its standard output and standard error.
//
// While at least one logger captures, descriptors 1 and 2 are pipes read by one reader thread;
// each chunk read (at most 1000 bytes, less one trailing line feed) becomes a "console" record
// at level 1 in every capturing logger. The original descriptors are duplicated before they are
// replaced: console printing goes to the original standard error (so printed lines are never
// captured again), and when the last capturing logger leaves, the originals are put back and
// whatever still arrives in the pipes is passed through to them.
//
// Threads: any. The list of capturing loggers has its own (recursive) mutex, which the reader
// holds while it logs a chunk, so a logger taken off the list is never logged to afterwards.
#pragma once

struct Logger;

class KPLogConsoleCapture {
public:
    static void addLogger(Logger* logger);
    static void removeLogger(Logger* logger);
    static int capturingCount();
};
