// The socket's state and configuration bits, shared by its implementation files.
#pragma once

#include <cstdint>

namespace kpsocket {

enum Flag : std::uint32_t {
    kSocketStarted = 1 << 0,
    kConnected = 1 << 1,
    kForbidReadsWrites = 1 << 2, // "closing"
    kReadsPaused = 1 << 3,
    kWritesPaused = 1 << 4,
    kDisconnectAfterReads = 1 << 5,
    kDisconnectAfterWrites = 1 << 6,
    kSocketCanAcceptBytes = 1 << 7,
    kReadSourceSuspended = 1 << 8,
    kWriteSourceSuspended = 1 << 9,
    kQueuedTLS = 1 << 10,
    kStartingReadTLS = 1 << 11,
    kStartingWriteTLS = 1 << 12,
    kSocketSecure = 1 << 13,
    kReadEOF = 1 << 14,
    kReadStreamClosed = 1 << 15,
};

enum Config : std::uint16_t {
    kIPv4Disabled = 1 << 0,
    kIPv6Disabled = 1 << 1,
    kPreferIPv6 = 1 << 2,
    kAllowHalfDuplexConnection = 1 << 3,
};

// The TLS statuses that keep a role of their own.
inline constexpr int errSSLWouldBlock = -9803;
inline constexpr int errSSLClosedGraceful = -9805;
inline constexpr int errSSLClosedAbort = -9806;
inline constexpr int noErr = 0;

} // namespace kpsocket
