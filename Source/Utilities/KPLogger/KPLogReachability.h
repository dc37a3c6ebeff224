// Whether the network a viewer could be reached on is up, polled from the interface list.
//
// Records are only ever offered to a viewer on this machine, so the target is always reached
// over a local interface: it counts as reachable while any interface (the loopback one
// included) is up and running. There is no change notification to subscribe to without a
// netlink socket, and the answer matters only when it changes, so the worker polls it every
// few seconds and acts on differences.
//
// Threads: one owner thread (the worker).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

class KPLogReachability {
public:
    // How often the interface list is read while the watch runs.
    static constexpr std::chrono::seconds kPollInterval{2};

    enum Flag : uint32_t {
        Reachable = 0x01,
        LoopbackUp = 0x02,
    };

    // Reads the flags now; nullopt when the interface list cannot be read.
    static std::optional<uint32_t> currentFlags();

    void start();
    void stop();
    bool isActive() const { return m_active; }
    // The flags when the interval has passed and they differ from the last ones read.
    std::optional<uint32_t> pollIfDue(std::chrono::steady_clock::time_point now);
    std::chrono::steady_clock::time_point nextPoll() const { return m_nextPoll; }

private:
    bool m_active = false;
    std::optional<uint32_t> m_last;
    std::chrono::steady_clock::time_point m_nextPoll;
};
