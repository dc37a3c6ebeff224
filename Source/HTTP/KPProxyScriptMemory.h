// What the process remembers of the proxy scripts its requests ran. A script that used up its
// time or its memory is not run again for a while: each run of it costs seconds, and requests
// meanwhile go without a proxy at once, as they would after that run. While a script that has
// not answered yet is being run, other requests for the same script wait for that one run
// instead of each starting their own.
//
// A script is known by its URL and its text, so a script that was mended is run at once.
//
// Threads: callable from any thread; one mutex guards the record. Waiters are called outside
// it, on the thread that reports the end of the run.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class KPProxyScriptMemory {
public:
    enum class Verdict {
        GoWithoutProxy, // the script used up its time or memory a short while ago
        Run,            // run it, then report the end with finished()
        Wait,           // a first run is under way: the waiter hears how it ended
    };
    // Told whether the run it waited for used up its time or memory.
    using Waiter = std::function<void(bool ranOut)>;

    static constexpr double DefaultFailureMemorySeconds = 300;
    static double failureMemorySeconds();
    static void setFailureMemorySeconds(double seconds);

    // Before running script, fetched from url. Without a waiter the answer is never Wait.
    static Verdict begin(const QUrl& url, const QString& script, Waiter waiter = {});
    // A run that begin() allowed has ended; ranOut when it used up its time or its memory.
    static void finished(const QUrl& url, const QString& script, bool ranOut);
};
