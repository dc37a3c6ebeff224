#include "Utilities/KPLogger/KPLogViewerConnection.h"

#include "Platform/Foundation/TextFolding.h"
#include "Utilities/KPLogger/KPLogClientInfo.h"
#include "Utilities/KPLogger/KPLogConsole.h"
#include "Utilities/KPLogger/Logger.h"

#include <QFile>
#include <QNetworkInterface>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How much of the log file one read takes during a replay.
constexpr qsizetype kReplayReadSize = 64 * 1024;
// How many of the file's first bytes identify it (they hold its first record's time stamp).
constexpr qsizetype kReplayHeadBytes = 32;
// The smallest possible record: its length and part count.
constexpr qsizetype kRecordHeaderBytes = 6;

QString ownHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return QString::fromLocal8Bit(name).toLower();
}

// The addresses a configured host may be reached at: only ever this machine.
QList<QHostAddress> loopbackAddressesOf(const QString& host)
{
    QHostAddress literal;
    if (literal.setAddress(host))
        return literal.isLoopback() ? QList<QHostAddress>{literal} : QList<QHostAddress>{};
    QString name = host.trimmed().toLower();
    while (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name == QStringLiteral("localhost") || name.endsWith(QStringLiteral(".localhost"))
        || (!name.isEmpty() && name == ownHostName()))
        return {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
    return {};
}

// A local service may have resolved to this machine's network address; loopback comes first
// and is always among the tries.
QList<QHostAddress> localAddressesOf(const platform::NetService& service)
{
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    QList<QHostAddress> out;
    for (const QHostAddress& a : service.addresses)
        if (a.isLoopback())
            out.append(a);
    if (!out.contains(QHostAddress(QHostAddress::LocalHost)))
        out.append(QHostAddress(QHostAddress::LocalHost));
    for (const QHostAddress& a : service.addresses)
        if (!a.isLoopback() && own.contains(a))
            out.append(a);
    return out;
}

bool sameService(const platform::NetService& a, const platform::NetService& b)
{
    return a.key() == b.key();
}

} // namespace

const QString KPLogViewerConnection::kServiceTypeTLS = QStringLiteral("_kplogger-ssl._tcp");
const QString KPLogViewerConnection::kServiceTypePlain = QStringLiteral("_kplogger._tcp");

KPLogViewerConnection::KPLogViewerConnection(Logger& logger, std::function<void()> wake)
    : m_logger(logger)
    , m_browser(std::move(wake))
{
    m_sendBuffer.reserve(kSendBufferSize);
}

KPLogViewerConnection::~KPLogViewerConnection()
{
    closeReplay();
}

KPLogViewerConnection::Stats KPLogViewerConnection::stats() const
{
    Stats s;
    s.attempts = m_attempts.load();
    s.failedAttempts = m_failedAttempts.load();
    s.connections = m_connections.load();
    s.servicesFound = m_servicesFound.load();
    s.servicesRefused = m_servicesRefused.load();
    s.browseStarts = m_browseStarts.load();
    s.reconnectTimerStarts = m_reconnectTimerStarts.load();
    s.reconnectTimerRunning = m_reconnectTimerRunning.load();
    s.recordPartlySent = m_partlySent.load();
    return s;
}

// ---- worker start and end, settings ----

KPLogViewerConnection::Applied KPLogViewerConnection::currentSettings() const
{
    const Logger::RemoteSettings settings = m_logger.remoteSettings();
    const uint32_t relevant = kKPLogOptionBrowseBonjour | kKPLogOptionBrowseOnlyLocalDomain | kKPLogOptionUseSSL;
    return Applied{settings.host.toLower(), settings.port, m_logger.options() & relevant};
}

void KPLogViewerConnection::start()
{
    m_applied = currentSettings();
    startReachability();
}

void KPLogViewerConnection::stop()
{
    stopBrowsing();
    stopReachability();
    m_browser.cancelResolve();
    m_resolving.reset();
    disconnect();
}

void KPLogViewerConnection::remoteSettingsChanged()
{
    // A change made while the worker was starting is already in effect: no needless drop.
    const Applied settings = currentSettings();
    if (m_applied == settings)
        return;
    m_applied = settings;
    if (m_resolving) {
        m_browser.cancelResolve();
        m_resolving.reset();
    }
    disconnect();
    // A new host is tried at once, not when the old one's retry comes round.
    stopReconnectTimer();
    const bool browse = settings.options & kKPLogOptionBrowseBonjour;
    if (settings.host.isEmpty() && !browse) {
        stopBrowsing();
        stopReachability();
        return;
    }
    startReachability();
    if (m_reachable) {
        if (browse)
            startBrowsing();
        else
            stopBrowsing();
    }
    connectNext();
}

// ---- reachability ----

void KPLogViewerConnection::startReachability()
{
    // A restarted watch reports the flags at once; only a real difference drops a stream.
    m_reachability.start();
    if (const auto flags = m_reachability.takeChange(Clock::now()))
        applyReachability(*flags);
}

void KPLogViewerConnection::stopReachability()
{
    m_reachability.stop();
    m_reachabilityFlags.reset();
    stopReconnectTimer();
    m_reachable = false;
}

void KPLogViewerConnection::applyReachability(uint32_t flags)
{
    const bool changed = flags != m_reachabilityFlags;
    m_reachabilityFlags = flags;
    if (flags & KPLogReachability::Reachable) {
        m_reachable = true;
        if (changed && (m_stream || m_connected))
            disconnect(); // which tries again over the changed network
        else
            connectNext();
        return;
    }
    // Going unreachable while idle changes nothing: there is nothing to drop.
    if (m_connected || m_stream || m_resolving) {
        m_reachable = false;
        if (changed)
            disconnect();
        stopBrowsing();
        stopReconnectTimer();
    }
}

// ---- timers and the stream's events ----

void KPLogViewerConnection::startReconnectTimer()
{
    if (m_reconnectAt)
        return;
    m_reconnectAt = Clock::now() + kReconnectInterval;
    // Counted before it shows as running: whoever sees it running sees this start counted.
    ++m_reconnectTimerStarts;
    m_reconnectTimerRunning = true;
}

void KPLogViewerConnection::stopReconnectTimer()
{
    m_reconnectAt.reset();
    m_reconnectTimerRunning = false;
}

std::optional<KPLogViewerConnection::Clock::time_point> KPLogViewerConnection::nextDeadline() const
{
    std::optional<Clock::time_point> due;
    auto consider = [&](Clock::time_point t) {
        if (!due || t < *due)
            due = t;
    };
    if (const auto poll = m_reachability.nextPoll())
        consider(*poll);
    if (m_reconnectAt)
        consider(*m_reconnectAt);
    if (m_stream && !m_stream->isOpen())
        consider(m_stream->openDeadline());
    return due;
}

int KPLogViewerConnection::descriptor() const
{
    return m_stream ? m_stream->descriptor() : -1;
}

short KPLogViewerConnection::pollEvents() const
{
    return m_stream ? m_stream->pollEvents() : 0;
}

void KPLogViewerConnection::advance(short revents)
{
    if (m_stream) {
        // Also without events: an opening stream may have run out of time.
        const KPLogStream::Event event = m_stream->handle(revents);
        if (event != KPLogStream::Event::None)
            streamEvent(event);
    }
    const Clock::time_point now = Clock::now();
    if (const auto flags = m_reachability.takeChange(now))
        applyReachability(*flags);
    if (m_reconnectAt && now >= *m_reconnectAt) {
        if (m_stream || m_resolving) {
            stopReconnectTimer();
        } else {
            m_reconnectAt = now + kReconnectInterval;
            connectNext(true);
        }
    }
}

void KPLogViewerConnection::streamEvent(KPLogStream::Event event)
{
    switch (event) {
    case KPLogStream::Event::OpenCompleted:
        didConnect();
        break;
    case KPLogStream::Event::CanAcceptBytes:
        sendQueued(false);
        break;
    case KPLogStream::Event::ErrorOccurred:
    case KPLogStream::Event::EndEncountered:
        if (m_connected)
            disconnect();
        else
            attemptFailed();
        break;
    case KPLogStream::Event::None:
        break;
    }
}

// ---- discovery ----

void KPLogViewerConnection::startBrowsing()
{
    const uint32_t options = m_logger.options();
    if (!m_reachable || !(options & kKPLogOptionBrowseBonjour) || m_browser.isBrowsing())
        return;
    const Logger::RemoteSettings settings = m_logger.remoteSettings();
    QString type = settings.serviceType;
    if (type.isEmpty())
        type = options & kKPLogOptionUseSSL ? kServiceTypeTLS : kServiceTypePlain;
    // Discovery offers no list of browsable domains here; the default ones stand for "all".
    const QString domain = options & kKPLogOptionBrowseOnlyLocalDomain ? QStringLiteral("local.") : QString();
    // Counted once the browser holds its discovery service, so whoever waits on the count finds
    // the service already in use.
    const bool started = m_browser.start(type, domain);
    ++m_browseStarts;
    if (started)
        return;
    if (!m_browseFailureReported) {
        m_browseFailureReported = true;
        KPLogConsole::write(QStringLiteral("KPLogger Warning: cannot look for log viewers (%1)\n").arg(type));
    }
    // With a log file the records keep going there; console printing is only the fallback for
    // a logger that has nowhere else to put them.
    if (settings.host.isEmpty() && m_logger.bufferFilePath().isEmpty())
        m_logger.setOptions(options | kKPLogOptionLogToConsole);
}

void KPLogViewerConnection::stopBrowsing()
{
    m_browser.stop();
    m_found.clear();
}

void KPLogViewerConnection::discoveryEvents()
{
    for (const KPLogViewerBrowser::Event& event : m_browser.takeEvents()) {
        switch (event.kind) {
        case KPLogViewerBrowser::Event::Found: {
            ++m_servicesFound;
            const QString wanted = m_logger.remoteSettings().serviceName;
            if (!wanted.isEmpty()
                && !platform::equalsFolded(event.service.name, wanted, platform::FoldOptions::CaseAndDiacriticInsensitive))
                break;
            const bool known = std::any_of(m_found.begin(), m_found.end(),
                                           [&](const auto& s) { return sameService(s, event.service); });
            if (!known)
                m_found.append(event.service);
            connectNext();
            break;
        }
        case KPLogViewerBrowser::Event::Removed:
            m_found.removeIf([&](const auto& s) { return sameService(s, event.service); });
            if (m_resolving && sameService(*m_resolving, event.service)) {
                m_browser.cancelResolve();
                m_resolving.reset();
                ++m_failedAttempts;
                connectNext();
            }
            break;
        case KPLogViewerBrowser::Event::Resolved: {
            // Answers of earlier resolves never get here, so this one is for m_resolving.
            if (!m_resolving)
                break;
            m_resolving.reset();
            if (event.error || !event.service.isLocal) {
                if (!event.error)
                    ++m_servicesRefused;
                ++m_failedAttempts;
                connectNext();
                break;
            }
            openStream(localAddressesOf(event.service), event.service.port, false);
            if (!m_stream) {
                ++m_failedAttempts;
                connectNext();
            }
            break;
        }
        }
    }
}

// ---- connecting and disconnecting ----

void KPLogViewerConnection::connectNext(bool fromTimer)
{
    if (m_stream || m_resolving || !m_reachable)
        return;
    if (!m_found.isEmpty()) {
        // The service is resolved first; its answer decides whether it is on this machine.
        m_resolving = m_found.takeFirst();
        ++m_attempts;
        m_browser.resolve(*m_resolving);
        return;
    }
    const Logger::RemoteSettings settings = m_logger.remoteSettings();
    // While a retry is pending the host waits for it, so a host that refuses is not hammered.
    if (!settings.host.isEmpty() && (fromTimer || !m_reconnectAt)) {
        const QList<QHostAddress> addresses = loopbackAddressesOf(settings.host);
        if (addresses.isEmpty()) {
            if (m_refusedHost != settings.host) {
                m_refusedHost = settings.host;
                KPLogConsole::write(QStringLiteral("KPLogger Warning: the log viewer host %1 is not on this machine; not connecting\n")
                                        .arg(settings.host));
            }
        } else {
            ++m_attempts;
            openStream(addresses, static_cast<quint16>(std::min<uint32_t>(settings.port, 0xFFFF)), true);
            if (m_stream)
                return;
            ++m_failedAttempts;
            startReconnectTimer();
        }
    }
    if ((m_logger.options() & kKPLogOptionBrowseBonjour) && !m_browser.isBrowsing()) {
        stopBrowsing();
        startBrowsing();
    }
}

void KPLogViewerConnection::openStream(const QList<QHostAddress>& addresses, quint16 port, bool toHost)
{
    const bool tls = m_logger.options() & kKPLogOptionUseSSL;
    m_stream = KPLogStream::open(addresses, port, tls);
    m_streamToHost = toHost;
}

void KPLogViewerConnection::attemptFailed()
{
    ++m_failedAttempts;
    const bool wasHost = m_streamToHost;
    m_stream.reset();
    if (wasHost)
        startReconnectTimer();
    connectNext();
}

void KPLogViewerConnection::didConnect()
{
    m_connected = true;
    ++m_connections;
    stopBrowsing();
    stopReconnectTimer();
    m_logger.closeBufferFile();
    openReplay();
    m_logger.queue().pushFront(KPLogClientInfo::record());
    m_logger.queue().setDelivering(true);
    sendQueued(false);
}

void KPLogViewerConnection::disconnect()
{
    if (!m_stream && !m_connected)
        return;
    m_connected = false;
    m_stream.reset();
    giveBackUnsent();
    closeReplay();
    if (!m_logger.bufferFilePath().isEmpty() && !m_logger.bufferFileOpen())
        m_logger.openBufferFile();
    else
        m_logger.queue().setDelivering(m_logger.bufferFileOpen());
    m_logger.queue().wakeWaiters();
    const bool browse = m_logger.options() & kKPLogOptionBrowseBonjour;
    if (m_reachable && (browse || !m_logger.remoteSettings().host.isEmpty()))
        connectNext();
}

// ---- sending ----

void KPLogViewerConnection::sendQueued(bool pastGaps)
{
    if (!m_connected || !m_stream)
        return;
    for (;;) {
        if (m_sendOffset >= m_sendBuffer.size()) {
            sendBufferDone();
            if (!fill(pastGaps)) {
                if (m_logger.queue().isEmpty())
                    m_logger.queue().wakeWaiters();
                return;
            }
        }
        if (!m_stream->canAcceptBytes())
            return;
        const qsizetype n = m_stream->write(m_sendBuffer.constData() + m_sendOffset,
                                            m_sendBuffer.size() - m_sendOffset);
        if (n < 0) {
            disconnect();
            return;
        }
        if (n == 0)
            return; // the stream says when it can take more
        m_sendOffset += n;
        // Partly sent: some bytes of the buffer went out and the rest is not a whole record.
        const bool onBoundary = m_sendOffset >= m_sendBuffer.size() || m_recordEnds.contains(m_sendOffset);
        m_partlySent = !onBoundary;
    }
}

void KPLogViewerConnection::sendBufferDone()
{
    if (m_sendingReplay && m_replayed && !m_sendBuffer.isEmpty())
        m_replayed->upTo = m_sendBufferFileStart + m_sendBuffer.size();
    m_sendBuffer.clear();
    m_sendOffset = 0;
    m_recordEnds.clear();
    m_sendingReplay = false;
    m_partlySent = false;
}

bool KPLogViewerConnection::fill(bool pastGaps)
{
    if (m_replayFd >= 0 && fillFromReplay())
        return true;
    QList<QByteArray> records = m_logger.queue().take(pastGaps);
    qsizetype taken = 0;
    // Whole records while they fit; a record larger than the buffer goes alone.
    while (taken < records.size()
           && (taken == 0 || m_sendBuffer.size() + records[taken].size() <= kSendBufferSize)) {
        m_sendBuffer.append(records[taken]);
        m_recordEnds.append(m_sendBuffer.size());
        ++taken;
    }
    m_logger.queue().giveBack(records.mid(taken));
    return !m_sendBuffer.isEmpty();
}

bool KPLogViewerConnection::fillFromReplay()
{
    m_sendingReplay = true;
    m_sendBufferFileStart = m_replayOffset;
    for (;;) {
        const qsizetype available = m_replayPending.size() - m_replayPendingPos;
        qsizetype length = 4;
        if (available >= 4) {
            length = qsizetype(qFromBigEndian<quint32>(m_replayPending.constData() + m_replayPendingPos)) + 4;
            if (length < kRecordHeaderBytes || length > kMaxReplayRecordBytes) {
                closeReplay(); // damaged from here on: the viewer gets what was whole
                break;
            }
            if (available >= length) {
                if (!m_sendBuffer.isEmpty() && m_sendBuffer.size() + length > kSendBufferSize)
                    return true;
                m_sendBuffer.append(m_replayPending.constData() + m_replayPendingPos, length);
                m_recordEnds.append(m_sendBuffer.size());
                m_replayPendingPos += length;
                m_replayOffset += length;
                continue;
            }
        }
        if (!m_sendBuffer.isEmpty())
            return true;
        m_replayPending.remove(0, m_replayPendingPos);
        m_replayPendingPos = 0;
        const qsizetype want = std::max(kReplayReadSize, length - available);
        m_replayPending.resize(available + want);
        ssize_t n;
        do {
            n = ::read(m_replayFd, m_replayPending.data() + available, static_cast<size_t>(want));
        } while (n < 0 && errno == EINTR);
        m_replayPending.resize(available + std::max<ssize_t>(n, 0));
        if (n > 0)
            continue;
        // The end of the file, or a read error: the replay ends after the last whole record,
        // and a torn tail is not sent.
        closeReplay();
        break;
    }
    if (m_sendBuffer.isEmpty())
        m_sendingReplay = false;
    return !m_sendBuffer.isEmpty();
}

void KPLogViewerConnection::openReplay()
{
    closeReplay();
    const QString path = m_logger.bufferFilePath();
    if (path.isEmpty())
        return;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return; // no replay, the queue is sent at once
    struct stat st{};
    QByteArray head(kReplayHeadBytes, '\0');
    const ssize_t headSize = ::pread(fd, head.data(), static_cast<size_t>(head.size()), 0);
    if (::fstat(fd, &st) != 0 || headSize < 0) {
        ::close(fd);
        return;
    }
    head.resize(headSize);
    // The same file as last time continues where that replay ended; any other starts afresh.
    off_t start = 0;
    if (m_replayed && m_replayedPath == path && m_replayed->device == st.st_dev
        && m_replayed->inode == st.st_ino && m_replayed->head == head && m_replayed->upTo <= st.st_size)
        start = m_replayed->upTo;
    if (start > 0 && ::lseek(fd, start, SEEK_SET) != start) {
        ::close(fd);
        return;
    }
    m_replayFd = fd;
    m_replayOffset = start;
    m_replayPending.clear();
    m_replayPendingPos = 0;
    m_replayed = ReplayMark{st.st_dev, st.st_ino, head, start};
    m_replayedPath = path;
}

void KPLogViewerConnection::closeReplay()
{
    if (m_replayFd >= 0)
        ::close(m_replayFd);
    m_replayFd = -1;
    m_replayPending.clear();
    m_replayPendingPos = 0;
}

void KPLogViewerConnection::giveBackUnsent()
{
    if (m_sendingReplay) {
        // Records of the file stay in the file; the next replay starts at the first one the
        // viewer did not take whole.
        if (m_replayed) {
            qsizetype sentWhole = 0;
            for (const qsizetype end : m_recordEnds)
                if (end <= m_sendOffset)
                    sentWhole = end;
            m_replayed->upTo = m_sendBufferFileStart + sentWhole;
        }
    } else {
        QList<QByteArray> unsent;
        qsizetype start = 0;
        for (const qsizetype end : m_recordEnds) {
            if (end > m_sendOffset)
                unsent.append(m_sendBuffer.mid(start, end - start));
            start = end;
        }
        m_logger.queue().returnUnsent(unsent);
    }
    m_sendBuffer.clear();
    m_sendOffset = 0;
    m_recordEnds.clear();
    m_sendingReplay = false;
    m_partlySent = false;
}
