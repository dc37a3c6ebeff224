#include "TWService/Socket/KPAsyncSocket.h"

#include "Platform/Foundation/Localization.h"
#include "TWService/Socket/KPAsyncSocketFlags.h"
#include "TWService/Socket/KPAsyncSocketPackets.h"
#include "TWService/Socket/KPAsyncSocketTLS.h"

#include <QtGlobal>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kpsocket;
using platform::DispatchQueue;
using platform::DispatchSource;
using platform::Error;

namespace {

QString localized(const char* key, const char* fallback)
{
    const QString k = QString::fromLatin1(key);
    const QString text = platform::Localization::shared().localizedString(k, QStringLiteral("KPAsyncSocket"));
    return text == k ? QString::fromLatin1(fallback) : text;
}

int closeNoIntr(int fd)
{
    return fd >= 0 ? ::close(fd) : 0;
}

} // namespace

// ---- creation and destruction

KPAsyncSocketPtr KPAsyncSocket::create(std::weak_ptr<KPAsyncSocketDelegate> delegate, DispatchQueue delegateQueue,
                                       DispatchQueue socketQueue)
{
    return std::make_shared<KPAsyncSocket>(Private{}, std::move(delegate), std::move(delegateQueue),
                                           std::move(socketQueue));
}

KPAsyncSocket::KPAsyncSocket(Private, std::weak_ptr<KPAsyncSocketDelegate> delegate, DispatchQueue delegateQueue,
                             DispatchQueue socketQueue)
    : m_delegate(std::move(delegate)), m_delegateQueue(std::move(delegateQueue)),
      m_preBuffer(std::make_unique<KPAsyncSocketPreBuffer>(4096))
{
    if (socketQueue.isValid()) {
        const bool concurrent = socketQueue == DispatchQueue::global(platform::QueuePriority::Low)
            || socketQueue == DispatchQueue::global(platform::QueuePriority::Default)
            || socketQueue == DispatchQueue::global(platform::QueuePriority::High)
            || !socketQueue.isSerial();
        Q_ASSERT_X(!concurrent, "KPAsyncSocket", "The given socketQueue parameter must not be a concurrent queue.");
        if (concurrent) {
            qCritical("KPAsyncSocket: The given socketQueue parameter must not be a concurrent queue.");
            socketQueue = {};
        }
    }
    m_socketQueue = socketQueue.isValid() ? std::move(socketQueue) : DispatchQueue::serial(QStringLiteral("KPAsyncSocket"));
}

KPAsyncSocket::~KPAsyncSocket()
{
    // Nothing else can reach the socket any more: close in place, and tell no one, since no call
    // may carry a socket that no longer exists.
    closeWithError(std::nullopt, false);
}

void KPAsyncSocket::onSocketQueueAsync(std::function<void()> f)
{
    if (isOnSocketQueue())
        f();
    else
        m_socketQueue.async([self = shared_from_this(), f = std::move(f)] { f(); });
}

void KPAsyncSocket::notifyDelegate(DelegateCall call)
{
    if (!m_delegateQueue.isValid())
        return;
    m_delegateQueue.async([self = shared_from_this(), weak = m_delegate, call = std::move(call)] {
        if (auto d = weak.lock())
            call(*d, self);
    });
}

// ---- accessors

std::weak_ptr<KPAsyncSocketDelegate> KPAsyncSocket::delegate() const
{
    return onSocketQueueSync([this] { return m_delegate; });
}

void KPAsyncSocket::setDelegate(std::weak_ptr<KPAsyncSocketDelegate> d)
{
    onSocketQueueAsync([this, d] { m_delegate = d; });
}

void KPAsyncSocket::synchronouslySetDelegate(std::weak_ptr<KPAsyncSocketDelegate> d)
{
    onSocketQueueSync([this, d] { const_cast<KPAsyncSocket*>(this)->m_delegate = d; });
}

DispatchQueue KPAsyncSocket::delegateQueue() const
{
    return onSocketQueueSync([this] { return m_delegateQueue; });
}

void KPAsyncSocket::setDelegateQueue(DispatchQueue q)
{
    onSocketQueueAsync([this, q] { m_delegateQueue = q; });
}

void KPAsyncSocket::synchronouslySetDelegateQueue(DispatchQueue q)
{
    onSocketQueueSync([this, q] { const_cast<KPAsyncSocket*>(this)->m_delegateQueue = q; });
}

void KPAsyncSocket::setDelegate(std::weak_ptr<KPAsyncSocketDelegate> d, DispatchQueue q)
{
    onSocketQueueAsync([this, d, q] {
        m_delegate = d;
        m_delegateQueue = q;
    });
}

void KPAsyncSocket::synchronouslySetDelegate(std::weak_ptr<KPAsyncSocketDelegate> d, DispatchQueue q)
{
    onSocketQueueSync([this, d, q] {
        auto* self = const_cast<KPAsyncSocket*>(this);
        self->m_delegate = d;
        self->m_delegateQueue = q;
    });
}

bool KPAsyncSocket::isIPv4Enabled() const
{
    return onSocketQueueSync([this] { return (m_config & kIPv4Disabled) == 0; });
}
void KPAsyncSocket::setIPv4Enabled(bool on)
{
    onSocketQueueAsync([this, on] { m_config = on ? (m_config & ~kIPv4Disabled) : (m_config | kIPv4Disabled); });
}
bool KPAsyncSocket::isIPv6Enabled() const
{
    return onSocketQueueSync([this] { return (m_config & kIPv6Disabled) == 0; });
}
void KPAsyncSocket::setIPv6Enabled(bool on)
{
    onSocketQueueAsync([this, on] { m_config = on ? (m_config & ~kIPv6Disabled) : (m_config | kIPv6Disabled); });
}
bool KPAsyncSocket::isIPv4PreferredOverIPv6() const
{
    return onSocketQueueSync([this] { return (m_config & kPreferIPv6) == 0; });
}
void KPAsyncSocket::setPreferIPv4OverIPv6(bool v4)
{
    onSocketQueueAsync([this, v4] { m_config = v4 ? (m_config & ~kPreferIPv6) : (m_config | kPreferIPv6); });
}
bool KPAsyncSocket::autoDisconnectOnClosedReadStream() const
{
    return onSocketQueueSync([this] { return (m_config & kAllowHalfDuplexConnection) == 0; });
}
void KPAsyncSocket::setAutoDisconnectOnClosedReadStream(bool flag)
{
    onSocketQueueAsync([this, flag] {
        m_config = flag ? (m_config & ~kAllowHalfDuplexConnection) : (m_config | kAllowHalfDuplexConnection);
    });
}
std::shared_ptr<void> KPAsyncSocket::userData() const
{
    return onSocketQueueSync([this] { return m_userData; });
}
void KPAsyncSocket::setUserData(std::shared_ptr<void> data)
{
    onSocketQueueAsync([this, data] {
        if (m_userData != data)
            m_userData = data;
    });
}

bool KPAsyncSocket::isDisconnected() const
{
    return onSocketQueueSync([this] { return (m_flags & kSocketStarted) == 0; });
}
bool KPAsyncSocket::isConnected() const
{
    return onSocketQueueSync([this] { return (m_flags & kConnected) != 0; });
}
bool KPAsyncSocket::isIPv4() const
{
    return onSocketQueueSync([this] { return m_socket4FD >= 0; });
}
bool KPAsyncSocket::isIPv6() const
{
    return onSocketQueueSync([this] { return m_socket6FD >= 0; });
}
bool KPAsyncSocket::isSecure() const
{
    return onSocketQueueSync([this] { return (m_flags & kSocketSecure) != 0; });
}

QString KPAsyncSocket::connectedHost() const
{
    return onSocketQueueSync([this] {
        return m_socket4FD >= 0 ? connectedHostFromSocket4(m_socket4FD)
            : m_socket6FD >= 0  ? connectedHostFromSocket6(m_socket6FD)
                                : QString();
    });
}
quint16 KPAsyncSocket::connectedPort() const
{
    return onSocketQueueSync([this] {
        return m_socket4FD >= 0 ? connectedPortFromSocket4(m_socket4FD)
            : m_socket6FD >= 0  ? connectedPortFromSocket6(m_socket6FD)
                                : quint16(0);
    });
}
QString KPAsyncSocket::localHost() const
{
    return onSocketQueueSync([this] {
        return m_socket4FD >= 0 ? localHostFromSocket4(m_socket4FD)
            : m_socket6FD >= 0  ? localHostFromSocket6(m_socket6FD)
                                : QString();
    });
}
quint16 KPAsyncSocket::localPort() const
{
    return onSocketQueueSync([this] {
        return m_socket4FD >= 0 ? localPortFromSocket4(m_socket4FD)
            : m_socket6FD >= 0  ? localPortFromSocket6(m_socket6FD)
                                : quint16(0);
    });
}
// The per-family accessors read the descriptor without the socket queue, as they always did; a
// socket closed meanwhile answers empty.
QString KPAsyncSocket::connectedHost4() const { return connectedHostFromSocket4(socket4FD()); }
QString KPAsyncSocket::connectedHost6() const { return connectedHostFromSocket6(socket6FD()); }
quint16 KPAsyncSocket::connectedPort4() const { return connectedPortFromSocket4(socket4FD()); }
quint16 KPAsyncSocket::connectedPort6() const { return connectedPortFromSocket6(socket6FD()); }
QString KPAsyncSocket::localHost4() const { return localHostFromSocket4(socket4FD()); }
QString KPAsyncSocket::localHost6() const { return localHostFromSocket6(socket6FD()); }
quint16 KPAsyncSocket::localPort4() const { return localPortFromSocket4(socket4FD()); }
quint16 KPAsyncSocket::localPort6() const { return localPortFromSocket6(socket6FD()); }

namespace {
QByteArray addressOf(int fd, bool peer)
{
    if (fd < 0)
        return {};
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    const int r = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len)
                       : ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    if (r != 0)
        return {};
    return QByteArray(reinterpret_cast<const char*>(&a), int(len));
}
} // namespace

// IPv4 first, like the host and port accessors, so the three always describe one descriptor.
QByteArray KPAsyncSocket::connectedAddress() const
{
    return onSocketQueueSync([this] { return addressOf(m_socket4FD >= 0 ? m_socket4FD : m_socket6FD, true); });
}
QByteArray KPAsyncSocket::localAddress() const
{
    return onSocketQueueSync([this] { return addressOf(m_socket4FD >= 0 ? m_socket4FD : m_socket6FD, false); });
}
int KPAsyncSocket::socketFD() const
{
    if (!isOnSocketQueue())
        return -1;
    return m_socket4FD >= 0 ? m_socket4FD : m_socket6FD;
}
int KPAsyncSocket::socket4FD() const
{
    return isOnSocketQueue() ? m_socket4FD : onSocketQueueSync([this] { return m_socket4FD; });
}
int KPAsyncSocket::socket6FD() const
{
    return isOnSocketQueue() ? m_socket6FD : onSocketQueueSync([this] { return m_socket6FD; });
}
void KPAsyncSocket::performBlock(const std::function<void()>& block)
{
    onSocketQueueSync([&] { block(); });
}

QString KPAsyncSocket::connectedHostFromSocket4(int fd) { return hostFromAddress(addressOf(fd, true)); }
QString KPAsyncSocket::connectedHostFromSocket6(int fd) { return hostFromAddress(addressOf(fd, true)); }
quint16 KPAsyncSocket::connectedPortFromSocket4(int fd) { return portFromAddress(addressOf(fd, true)); }
quint16 KPAsyncSocket::connectedPortFromSocket6(int fd) { return portFromAddress(addressOf(fd, true)); }
QString KPAsyncSocket::localHostFromSocket4(int fd) { return hostFromAddress(addressOf(fd, false)); }
QString KPAsyncSocket::localHostFromSocket6(int fd) { return hostFromAddress(addressOf(fd, false)); }
quint16 KPAsyncSocket::localPortFromSocket4(int fd) { return portFromAddress(addressOf(fd, false)); }
quint16 KPAsyncSocket::localPortFromSocket6(int fd) { return portFromAddress(addressOf(fd, false)); }

QString KPAsyncSocket::hostFromSockaddr4(const void* address)
{
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &static_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text))
        return QString(QLatin1String(""));
    return QString::fromLatin1(text);
}
QString KPAsyncSocket::hostFromSockaddr6(const void* address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET6, &static_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text))
        return QString(QLatin1String(""));
    return QString::fromLatin1(text);
}
quint16 KPAsyncSocket::portFromSockaddr4(const void* address)
{
    return ntohs(static_cast<const sockaddr_in*>(address)->sin_port);
}
quint16 KPAsyncSocket::portFromSockaddr6(const void* address)
{
    return ntohs(static_cast<const sockaddr_in6*>(address)->sin6_port);
}

bool KPAsyncSocket::getHost(QString* host, quint16* port, const QByteArray& address)
{
    if (address.size() >= int(sizeof(sockaddr_in))) {
        sockaddr_storage a{};
        std::memcpy(&a, address.constData(), std::min<std::size_t>(address.size(), sizeof a));
        if (a.ss_family == AF_INET) {
            if (host)
                *host = hostFromSockaddr4(&a);
            if (port)
                *port = portFromSockaddr4(&a);
            return true;
        }
        if (a.ss_family == AF_INET6 && address.size() >= int(sizeof(sockaddr_in6))) {
            if (host)
                *host = hostFromSockaddr6(&a);
            if (port)
                *port = portFromSockaddr6(&a);
            return true;
        }
    }
    return false;
}

QString KPAsyncSocket::hostFromAddress(const QByteArray& address)
{
    QString host;
    return getHost(&host, nullptr, address) ? host : QString();
}

quint16 KPAsyncSocket::portFromAddress(const QByteArray& address)
{
    quint16 port = 0;
    return getHost(nullptr, &port, address) ? port : quint16(0);
}

QByteArray KPAsyncSocket::CRLFData() { return QByteArray("\r\n", 2); }
QByteArray KPAsyncSocket::CRData() { return QByteArray("\r", 1); }
QByteArray KPAsyncSocket::LFData() { return QByteArray("\n", 1); }
QByteArray KPAsyncSocket::ZeroData() { return QByteArray("\0", 1); }

// ---- errors

Error KPAsyncSocket::badConfigError(const QString& message) { return Error{ErrorDomain, BadConfigError, message}; }
Error KPAsyncSocket::badParamError(const QString& message) { return Error{ErrorDomain, BadParamError, message}; }
Error KPAsyncSocket::otherError(const QString& message) { return Error{ErrorDomain, OtherError, message}; }

Error KPAsyncSocket::gaiError(int code)
{
    return Error{NetDBErrorDomain, code, QString::fromLatin1(::gai_strerror(code))};
}

Error KPAsyncSocket::errnoErrorWithReason(const QString& reason)
{
    return Error::posix(errno, reason);
}

Error KPAsyncSocket::sslError(int status)
{
    return Error{SSLErrorDomain, status,
                 QStringLiteral("TLS status %1 (would block -9803, closed gracefully -9805, closed by abort -9806; "
                                "any other is the TLS library's failure)")
                     .arg(status)};
}

Error kpConnectTimeoutError()
{
    return Error{KPAsyncSocket::ErrorDomain, KPAsyncSocket::ConnectTimeoutError,
                 localized("KPAsyncSocketConnectTimeoutError", "Attempt to connect to host timed out")};
}

Error kpReadTimeoutError()
{
    return Error{KPAsyncSocket::ErrorDomain, KPAsyncSocket::ReadTimeoutError,
                 localized("KPAsyncSocketReadTimeoutError", "Read operation timed out")};
}
Error kpWriteTimeoutError()
{
    return Error{KPAsyncSocket::ErrorDomain, KPAsyncSocket::WriteTimeoutError,
                 localized("KPAsyncSocketWriteTimeoutError", "Write operation timed out")};
}
Error kpReadMaxedOutError()
{
    return Error{KPAsyncSocket::ErrorDomain, KPAsyncSocket::ReadMaxedOutError,
                 localized("KPAsyncSocketReadMaxedOutError", "Read operation reached set maximum length")};
}
Error kpConnectionClosedError()
{
    return Error{KPAsyncSocket::ErrorDomain, KPAsyncSocket::ClosedError,
                 localized("KPAsyncSocketClosedError", "Socket closed by remote peer")};
}

// ---- disconnecting

void KPAsyncSocket::disconnect()
{
    onSocketQueueSync([this] {
        auto* self = const_cast<KPAsyncSocket*>(this);
        if (self->m_flags & kSocketStarted)
            self->closeWithError(std::nullopt);
    });
}

void KPAsyncSocket::disconnectAfterReading()
{
    m_socketQueue.async([self = shared_from_this()] {
        if (self->m_flags & kSocketStarted) {
            self->m_flags |= kForbidReadsWrites | kDisconnectAfterReads;
            self->maybeClose();
        }
    });
}

void KPAsyncSocket::disconnectAfterWriting()
{
    m_socketQueue.async([self = shared_from_this()] {
        if (self->m_flags & kSocketStarted) {
            self->m_flags |= kForbidReadsWrites | kDisconnectAfterWrites;
            self->maybeClose();
        }
    });
}

void KPAsyncSocket::disconnectAfterReadingAndWriting()
{
    m_socketQueue.async([self = shared_from_this()] {
        if (self->m_flags & kSocketStarted) {
            self->m_flags |= kForbidReadsWrites | kDisconnectAfterReads | kDisconnectAfterWrites;
            self->maybeClose();
        }
    });
}

void KPAsyncSocket::maybeClose()
{
    bool shouldClose = false;
    if (m_flags & kDisconnectAfterReads) {
        if (m_readQueue.empty() && !m_currentRead) {
            if (m_flags & kDisconnectAfterWrites)
                shouldClose = m_writeQueue.empty() && !m_currentWrite;
            else
                shouldClose = true;
        }
    } else if (m_flags & kDisconnectAfterWrites) {
        shouldClose = m_writeQueue.empty() && !m_currentWrite;
    }
    if (shouldClose)
        closeWithError(std::nullopt);
}

void KPAsyncSocket::closeWithError(const std::optional<Error>& error, bool notify)
{
    endConnectTimeout();
    endCurrentRead();
    endCurrentWrite();
    m_readQueue.clear();
    m_writeQueue.clear();
    m_preBuffer->reset();
    if (m_sslPreBuffer)
        m_sslPreBuffer->reset();
    m_sslErrCode = 0;
    m_sslWriteCachedLength = 0;
    sslCloseContext();

    const bool haveSources = m_accept4Source || m_accept6Source || m_readSource || m_writeSource || m_connectSource;
    if (haveSources) {
        // Their cancel handlers close the descriptors, after any handler already queued.
        for (auto* source : {&m_accept4Source, &m_accept6Source, &m_connectSource, &m_readSource, &m_writeSource}) {
            if (*source) {
                (*source)->cancel();
                source->reset();
            }
        }
        m_socket4FD = -1;
        m_socket6FD = -1;
    } else {
        closeNoIntr(m_socket4FD);
        closeNoIntr(m_socket6FD);
        m_socket4FD = -1;
        m_socket6FD = -1;
    }
    m_descriptorTicket.reset();
    m_socketFDBytesAvailable = 0;
    const bool wasStarted = m_flags & kSocketStarted;
    m_flags = 0;
    if (wasStarted && notify)
        notifyDelegate([error](KPAsyncSocketDelegate& d, const KPAsyncSocketPtr& s) { d.socketDidDisconnect(s, error); });
}
