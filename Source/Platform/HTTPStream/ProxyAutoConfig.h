// Proxy auto-configuration scripts: a script's FindProxyForURL(url, host) run in Qt's JavaScript
// engine with the helper functions such scripts are written against, and its answer
// ("PROXY host:port; SOCKS host:port; DIRECT") read as proxy settings.
//
// A script is untrusted text from a file or a server. It runs in a fresh engine with nothing but
// the helpers, is interrupted when it runs past its time, and an answer past its cap is refused;
// in every such case the caller goes without a proxy. Name look-ups go through a resolver a test
// may replace, so no test ever asks a real one.
//
// The program runs scripts through evaluateInHelper(): in the helper process folivo-proxyscript
// (built beside the program), whose address space is capped and which is killed when it has not
// answered in time. In this process a script could claim gigabytes within its time, or sit where
// the engine cannot interrupt it, on the thread that serves every request.
//
// Threads: evaluate() runs on the caller's thread (the engine lives and dies there); the watchdog
// that stops a long script is a thread of its own. evaluateInHelper() blocks its caller's thread
// until the helper answers or is killed. The resolver and the helper's path are set before use.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/HTTPStream/HTTPStream.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

namespace platform {

class ProxyAutoConfig {
public:
    static inline const QString ErrorDomain = QStringLiteral("ProxyAutoConfig");

    struct Limits {
        std::chrono::milliseconds time{3000}; // the script's whole run, its own set-up included
        qsizetype maxScript = 1024 * 1024;     // characters
        qsizetype maxAnswer = 16 * 1024;       // characters
        // The helper's whole address space, its own code and libraries included.
        // (The helper itself takes about 100 MiB of it before the script starts.)
        quint64 maxMemory = quint64(256) << 20;
        // What the helper may take to start before the script's own time begins.
        std::chrono::milliseconds startUp{3000};
    };

    // Host name to dotted IPv4 text; nullopt when it does not resolve.
    using Resolver = std::function<std::optional<QString>(const QString& host)>;
    // An empty one restores the system's (getaddrinfo, IPv4).
    static void setResolver(Resolver resolver);

    // The answer of FindProxyForURL for url, or why there is none (the script does not compile,
    // defines no such function, throws, runs too long, or answers too much or not a string).
    static Result<QString> evaluate(const QString& script, const QUrl& url, const Limits& limits);
    static Result<QString> evaluate(const QString& script, const QUrl& url) { return evaluate(script, url, Limits{}); }

    // evaluate() in the helper process. Besides evaluate()'s errors: 9, the helper cannot be
    // started; 10, it did not answer within limits.time plus limits.startUp and was killed;
    // 11, it ended without an answer (out of memory, or crashed); 12, its answer is unreadable.
    static Result<QString> evaluateInHelper(const QString& script, const QUrl& url, const Limits& limits);
    static Result<QString> evaluateInHelper(const QString& script, const QUrl& url)
    {
        return evaluateInHelper(script, url, Limits{});
    }
    // Whether an error of evaluate() or evaluateInHelper() says the script used up its time or
    // its memory (5, 10, 11): what running it again would cost again.
    static bool ranOutOfTimeOrMemory(const Error& error);
    // The helper's path: beside the running program unless set (empty: back to that).
    static QString helperPath();
    static void setHelperPathForTesting(const QString& path);

    // The entries of an answer in order; an entry this client cannot use (HTTPS, a missing or bad
    // host or port, an unknown word) is left out. DIRECT is an entry of type None.
    static QList<HTTPProxySettings> parseAnswer(const QString& answer);
};

} // namespace platform
