// Whether a host can be reached now, asked before the welcome page is taken from the web. The
// program's answer comes from a TCP connection to the host's https port within a time-out;
// tests put in a fake that answers when they say.
//
// Threads: main thread; the answer comes on the main thread, exactly once, never inside check.
#pragma once

#include <QString>
#include <functional>

class Reachability {
public:
    virtual ~Reachability() = default;
    virtual void check(const QString& host, std::function<void(bool reachable)> done) = 0;

    // The TCP check the program uses.
    static Reachability& system();
};

class TcpReachability final : public Reachability {
public:
    explicit TcpReachability(quint16 port = 443, int timeoutMs = 3000) : m_port(port), m_timeoutMs(timeoutMs) {}
    void check(const QString& host, std::function<void(bool reachable)> done) override;

private:
    quint16 m_port;
    int m_timeoutMs;
};
