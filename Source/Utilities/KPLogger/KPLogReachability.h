// Whether the network a viewer could be reached on is up, read from the interface list when the
// kernel says that links or addresses changed.
//
// Records are only ever offered to a viewer on this machine, so the target is always reached
// over a local interface: it counts as reachable while any interface (the loopback one
// included) is up and running. The watch listens on a route socket for link and address
// changes; the worker waits on that socket with its others and the list is read again only
// after the kernel announced a change, so an idle logger does not wake for it. Where no route
// socket can be had, the list is read every few seconds instead.
//
// Threads: one owner thread (the worker).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

class KPLogReachability {
public:
    // How often the interface list is read when no route socket could be opened.
    static constexpr std::chrono::seconds kFallbackPollInterval{2};

    enum Flag : uint32_t {
        Reachable = 0x01,
        LoopbackUp = 0x02,
    };

    KPLogReachability() = default;
    ~KPLogReachability();
    KPLogReachability(const KPLogReachability&) = delete;
    KPLogReachability& operator=(const KPLogReachability&) = delete;

    // Reads the flags now; nullopt when the interface list cannot be read.
    static std::optional<uint32_t> currentFlags();
    // Whether the bytes of one read from a route socket announce a change of links or addresses
    // (or say that announcements were lost).
    static bool announcesChange(const unsigned char* data, std::size_t size);

    // Starts the watch; the first takeChange() reports the flags read then.
    void start();
    void stop();
    bool isActive() const { return m_active; }
    // The route socket the worker waits on for readability (-1 without one).
    int descriptor() const { return m_socket; }
    // The flags when the kernel announced a change (or, without a route socket, the interval has
    // passed) and they differ from the last ones reported. Never blocks.
    std::optional<uint32_t> takeChange(std::chrono::steady_clock::time_point now);
    // When the flags are read next without an announcement: only without a route socket.
    std::optional<std::chrono::steady_clock::time_point> nextPoll() const;

    // Test seams: watch this descriptor (taken over) instead of a route socket, and read the
    // flags through this function instead of the interface list.
    void startOn(int descriptor);
    void setFlagsReader(std::function<std::optional<uint32_t>()> reader) { m_reader = std::move(reader); }

private:
    bool drainAnnouncements();
    void closeSocket();
    std::optional<uint32_t> readFlags() const;

    bool m_active = false;
    bool m_dirty = false;
    int m_socket = -1;
    std::optional<uint32_t> m_last;
    std::chrono::steady_clock::time_point m_nextPoll;
    std::function<std::optional<uint32_t>()> m_reader;
};
