// The logger's link to a log viewer: finding one, connecting, replaying the log file to it,
// sending the queue, and going back to the file when the link drops.
//
// It is one state machine driven only by the logger's worker thread: discovery events, stream
// events, network changes and the reconnect timer all arrive as calls from the worker's loop, so
// none of the state below needs a lock. The worker asks it which descriptors to wait on and when
// its next deadline is.
//
// Records are offered only to a viewer on this machine: a discovered service must resolve as
// local, and a configured host must be a loopback address (or this machine's own name).
//
// The log file is kept after a replay. The position up to which it has been replayed is
// remembered (with the file's identity), so a later connection replays only what was added
// since. The replay and the send buffer always hold whole records, and a link that drops in the
// middle of a record gives every record that was not sent completely back to the queue, so the
// viewer and the log file only ever receive whole records.
//
// Threads: the worker only, except isConnected() and stats(), which are atomic reads.
#pragma once

#include "Utilities/KPLogger/KPLogReachability.h"
#include "Utilities/KPLogger/KPLogStream.h"
#include "Utilities/KPLogger/KPLogViewerBrowser.h"

#include <QByteArray>
#include <QList>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

struct Logger;

class KPLogViewerConnection {
public:
    using Clock = std::chrono::steady_clock;

    // How long a failed direct host waits before it is tried again, and between later tries.
    static constexpr std::chrono::seconds kReconnectInterval{5};
    // Records are packed into one write up to this size; a larger record goes alone.
    static constexpr qsizetype kSendBufferSize = 4096;
    // A length in the log file beyond this is damage, not a record: the replay ends there.
    static constexpr qsizetype kMaxReplayRecordBytes = 64 * 1024 * 1024;

    // The service types browsed for when the logger names none.
    static const QString kServiceTypeTLS;   // "_kplogger-ssl._tcp"
    static const QString kServiceTypePlain; // "_kplogger._tcp"

    // What tests and diagnostics can observe from other threads.
    struct Stats {
        int attempts = 0;          // connections tried (a service resolved or a host opened)
        int failedAttempts = 0;    // tries that ended before the link was open
        int connections = 0;       // links that opened
        int servicesFound = 0;     // found events taken, before any filtering
        int servicesRefused = 0;   // resolved services that are not on this machine
        int browseStarts = 0;
        int reconnectTimerStarts = 0;
        bool reconnectTimerRunning = false;
        bool recordPartlySent = false; // the link is blocked in the middle of a record
    };

    KPLogViewerConnection(Logger& logger, std::function<void()> wake);
    ~KPLogViewerConnection();
    KPLogViewerConnection(const KPLogViewerConnection&) = delete;
    KPLogViewerConnection& operator=(const KPLogViewerConnection&) = delete;

    void setServiceBackend(std::shared_ptr<platform::ServiceBackend> backend)
    {
        m_browser.setBackend(std::move(backend));
    }

    // The worker's start and end.
    void start();
    void stop();
    // Discovery answers still arriving no longer wake the owner (called before it goes).
    void dropWake() { m_browser.dropWake(); }

    // The remote settings (host, port or options) changed.
    void remoteSettingsChanged();
    // Discovery events are waiting.
    void discoveryEvents();
    // The polled descriptor reported revents (0 when the wait ended for another reason); also
    // takes the network changes announced and runs the timers that are due.
    void advance(short revents);
    // The connected send step: packs queued records (or the log file's) and writes them.
    void sendQueued(bool pastGaps);

    // The descriptor to poll while a stream exists (-1 otherwise) and its events.
    int descriptor() const;
    short pollEvents() const;
    // The descriptor that announces network changes (-1 without one): waited on for reading.
    int reachabilityDescriptor() const { return m_reachability.descriptor(); }
    // The earliest moment something is due (reconnect, open timeout, and the interface list's
    // read where network changes are not announced).
    std::optional<Clock::time_point> nextDeadline() const;

    bool isConnected() const { return m_connected.load(); }
    Stats stats() const;

private:
    struct ReplayMark {
        dev_t device = 0;
        ino_t inode = 0;
        QByteArray head; // the file's first bytes: an inode number can be reused
        off_t upTo = 0;  // end of the last record the viewer took whole
    };

    // The remote settings this connection last acted on.
    struct Applied {
        QString host;
        uint32_t port = 0;
        uint32_t options = 0;
        bool operator==(const Applied&) const = default;
    };
    Applied currentSettings() const;

    void connectNext(bool fromTimer = false);
    void openStream(const QList<QHostAddress>& addresses, quint16 port, bool toHost);
    void attemptFailed();
    void streamEvent(KPLogStream::Event event);
    void didConnect();
    void disconnect();

    void startBrowsing();
    void stopBrowsing();
    void startReachability();
    void stopReachability();
    void applyReachability(uint32_t flags);
    void startReconnectTimer();
    void stopReconnectTimer();

    bool fill(bool pastGaps);
    bool fillFromReplay();
    void openReplay();
    void closeReplay();
    void giveBackUnsent();
    void sendBufferDone();

    Logger& m_logger;
    KPLogViewerBrowser m_browser;
    KPLogReachability m_reachability;
    std::optional<Applied> m_applied;
    std::optional<uint32_t> m_reachabilityFlags;
    bool m_reachable = false;

    std::unique_ptr<KPLogStream> m_stream;
    bool m_streamToHost = false;
    std::optional<platform::NetService> m_resolving;
    QList<platform::NetService> m_found;
    std::optional<Clock::time_point> m_reconnectAt;
    QString m_refusedHost; // the last host refused as not on this machine, warned about once
    bool m_browseFailureReported = false;

    // Send buffer: whole records (or whole records of the log file during a replay).
    QByteArray m_sendBuffer;
    qsizetype m_sendOffset = 0;
    QList<qsizetype> m_recordEnds;
    bool m_sendingReplay = false;
    off_t m_sendBufferFileStart = 0;

    // Replay of the log file.
    int m_replayFd = -1;
    QByteArray m_replayPending;
    qsizetype m_replayPendingPos = 0;
    off_t m_replayOffset = 0; // file offset of m_replayPending[m_replayPendingPos]
    std::optional<ReplayMark> m_replayed;
    QString m_replayedPath;

    std::atomic<bool> m_connected{false};
    std::atomic<int> m_attempts{0};
    std::atomic<int> m_failedAttempts{0};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_servicesFound{0};
    std::atomic<int> m_servicesRefused{0};
    std::atomic<int> m_browseStarts{0};
    std::atomic<int> m_reconnectTimerStarts{0};
    std::atomic<bool> m_reconnectTimerRunning{false};
    std::atomic<bool> m_partlySent{false};
};
