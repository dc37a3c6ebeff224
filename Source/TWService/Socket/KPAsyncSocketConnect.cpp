// Listening and accepting, connecting to a host or an address, and the connect time-out.
#include "TWService/Socket/KPAsyncSocket.h"

#include "TWService/Socket/KPAsyncSocketFlags.h"
#include "TWService/Socket/KPAsyncSocketPackets.h"

#include <QtGlobal>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
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

Error kpConnectTimeoutError();

namespace {

std::mutex resolverMutex;
KPAsyncSocket::Resolver customResolver;

std::expected<std::vector<QByteArray>, Error> systemResolve(const QString& host, quint16 port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* res = nullptr;
    const QByteArray portText = QByteArray::number(port);
    const int gai = ::getaddrinfo(host.toUtf8().constData(), portText.constData(), &hints, &res);
    if (gai != 0)
        return std::unexpected(KPAsyncSocket::gaiError(gai));
    std::vector<QByteArray> found;
    for (addrinfo* r = res; r; r = r->ai_next) {
        if ((r->ai_family == AF_INET && r->ai_addrlen == sizeof(sockaddr_in))
            || (r->ai_family == AF_INET6 && r->ai_addrlen == sizeof(sockaddr_in6)))
            found.emplace_back(reinterpret_cast<const char*>(r->ai_addr), int(r->ai_addrlen));
    }
    ::freeaddrinfo(res);
    return found;
}

QByteArray loopback4(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return QByteArray(reinterpret_cast<const char*>(&a), sizeof a);
}

QByteArray loopback6(quint16 port)
{
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    return QByteArray(reinterpret_cast<const char*>(&a), sizeof a);
}

int familyOf(const QByteArray& address)
{
    if (address.size() == int(sizeof(sockaddr_in)) && reinterpret_cast<const sockaddr*>(address.constData())->sa_family == AF_INET)
        return AF_INET;
    if (address.size() == int(sizeof(sockaddr_in6)) && reinterpret_cast<const sockaddr*>(address.constData())->sa_family == AF_INET6)
        return AF_INET6;
    return AF_UNSPEC;
}

void setPort(QByteArray& address, quint16 port)
{
    if (familyOf(address) == AF_INET)
        reinterpret_cast<sockaddr_in*>(address.data())->sin_port = htons(port);
    else if (familyOf(address) == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(address.data())->sin6_port = htons(port);
}

// An interface description "name-or-address[:port]" turned into an IPv4 and an IPv6 address
// (either may come back empty). The port after the colon counts only when the caller's is 0.
void getInterfaceAddress(QByteArray* address4, QByteArray* address6, const QString& description, quint16 port)
{
    address4->clear();
    address6->clear();
    QString interface = description;
    const int colon = description.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        interface = description.left(colon);
        bool ok = false;
        const int given = description.mid(colon + 1).toInt(&ok);
        if (port == 0 && ok && given >= 1 && given <= 65535)
            port = quint16(given);
    }
    if (interface.isEmpty()) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        *address4 = QByteArray(reinterpret_cast<const char*>(&a), sizeof a);
        sockaddr_in6 b{};
        b.sin6_family = AF_INET6;
        b.sin6_port = htons(port);
        b.sin6_addr = in6addr_any;
        *address6 = QByteArray(reinterpret_cast<const char*>(&b), sizeof b);
        return;
    }
    if (interface == QLatin1String("localhost") || interface == QLatin1String("loopback")) {
        *address4 = loopback4(port);
        *address6 = loopback6(port);
        return;
    }
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return;
    const QByteArray name = interface.toUtf8();
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr)
            continue;
        const int family = i->ifa_addr->sa_family;
        if (family == AF_INET && address4->isEmpty()) {
            sockaddr_in a;
            std::memcpy(&a, i->ifa_addr, sizeof a);
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
            if (name == i->ifa_name || name == text) {
                a.sin_port = htons(port);
                *address4 = QByteArray(reinterpret_cast<const char*>(&a), sizeof a);
            }
        } else if (family == AF_INET6 && address6->isEmpty()) {
            sockaddr_in6 a;
            std::memcpy(&a, i->ifa_addr, sizeof a);
            char text[INET6_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
            if (name == i->ifa_name || name == text) {
                a.sin6_port = htons(port);
                *address6 = QByteArray(reinterpret_cast<const char*>(&a), sizeof a);
            }
        }
    }
    ::freeifaddrs(list);
}

int closeNoIntr(int fd)
{
    return fd >= 0 ? ::close(fd) : 0;
}

} // namespace

void KPAsyncSocket::setResolver(Resolver resolver)
{
    std::lock_guard lock(resolverMutex);
    customResolver = std::move(resolver);
}

// ---- accepting

platform::Result<void> KPAsyncSocket::acceptOnPort(quint16 port)
{
    return acceptOnInterface(QString(), port);
}

void KPAsyncSocket::setAcceptLimit(int maxOpen)
{
    m_acceptCount->limit.store(std::max(0, maxOpen));
}

int KPAsyncSocket::acceptedOpenCount() const
{
    return m_acceptCount->open.load();
}

platform::Result<void> KPAsyncSocket::acceptOnInterface(const QString& interface, quint16 port)
{
    platform::Result<void> result;
    auto self = shared_from_this();
    onSocketQueueSync([&] { result = self->doAcceptOnInterface(interface, port); });
    return result;
}

platform::Result<int> KPAsyncSocket::createListeningSocket(int family, const QByteArray& address)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::unexpected(errnoErrorWithReason(QStringLiteral("Error in socket() function")));
    auto failWith = [fd](const char* reason) {
        Error e = errnoErrorWithReason(QString::fromLatin1(reason));
        ::close(fd);
        return std::unexpected(e);
    };
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return failWith("Error enabling non-blocking IO on socket (fcntl)");
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0)
        return failWith("Error enabling address reuse (setsockopt)");
    // Without it the IPv6 listener also claims the IPv4 port and the second bind fails.
    if (family == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) < 0)
        return failWith("Error enabling address reuse (setsockopt)");
    if (::bind(fd, reinterpret_cast<const sockaddr*>(address.constData()), socklen_t(address.size())) < 0)
        return failWith("Error in bind() function");
    if (::listen(fd, 1024) < 0)
        return failWith("Error in listen() function");
    return fd;
}

platform::Result<void> KPAsyncSocket::doAcceptOnInterface(const QString& interface, quint16 port)
{
    if (m_delegate.expired())
        return std::unexpected(badConfigError(QStringLiteral("Attempting to accept without a delegate. Set a delegate first.")));
    if (!m_delegateQueue.isValid())
        return std::unexpected(badConfigError(
            QStringLiteral("Attempting to accept without a delegate queue. Set a delegate queue first.")));
    const bool v4Disabled = m_config & kIPv4Disabled;
    const bool v6Disabled = m_config & kIPv6Disabled;
    if (v4Disabled && v6Disabled)
        return std::unexpected(badConfigError(
            QStringLiteral("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.")));
    if (m_flags & kSocketStarted)
        return std::unexpected(badConfigError(
            QStringLiteral("Attempting to accept while connected or accepting connections. Disconnect first.")));
    m_readQueue.clear();
    m_writeQueue.clear();

    QByteArray address4, address6;
    getInterfaceAddress(&address4, &address6, interface, port);
    if (address4.isEmpty() && address6.isEmpty())
        return std::unexpected(badParamError(
            QStringLiteral("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.")));
    if (v4Disabled && address6.isEmpty())
        return std::unexpected(badParamError(
            QStringLiteral("IPv4 has been disabled and specified interface doesn't support IPv6.")));
    if (v6Disabled && address4.isEmpty())
        return std::unexpected(badParamError(
            QStringLiteral("IPv6 has been disabled and specified interface doesn't support IPv4.")));
    const bool useV4 = !v4Disabled && !address4.isEmpty();
    const bool useV6 = !v6Disabled && !address6.isEmpty();
    const QString ifaceName = interface.section(QLatin1Char(':'), 0, 0);

    if (useV4) {
        auto fd = createListeningSocket(AF_INET, address4);
        if (!fd)
            return std::unexpected(fd.error());
        m_socket4FD = *fd;
    }
    if (useV6) {
        if (useV4 && portFromAddress(address6) == 0)
            setPort(address6, localPortFromSocket4(m_socket4FD));
        auto fd = createListeningSocket(AF_INET6, address6);
        if (!fd) {
            const int err = fd.error().code;
            // A host without IPv6 still serves on IPv4 when no interface asked for IPv6.
            if (useV4 && ifaceName.isEmpty() && (err == EAFNOSUPPORT || err == EADDRNOTAVAIL)) {
                qInfo("KPAsyncSocket: IPv6 is not available here; listening on IPv4 only");
            } else {
                closeNoIntr(m_socket4FD);
                m_socket4FD = -1;
                return std::unexpected(fd.error());
            }
        } else {
            m_socket6FD = *fd;
        }
    }

    std::weak_ptr<KPAsyncSocket> weak = shared_from_this();
    for (auto [fd, source] : {std::pair{m_socket4FD, &m_accept4Source}, std::pair{m_socket6FD, &m_accept6Source}}) {
        if (fd < 0)
            continue;
        *source = std::make_unique<DispatchSource>(fd, DispatchSource::Kind::Read, m_socketQueue);
        const int listenFD = fd;
        (*source)->setEventHandler([weak, listenFD](std::size_t) {
            if (auto s = weak.lock())
                s->doAccept(listenFD);
        });
        (*source)->setCancelHandler([listenFD] { ::close(listenFD); });
        (*source)->resume();
    }
    m_flags |= kSocketStarted;
    return {};
}

void KPAsyncSocket::resumeAccepting()
{
    for (auto* source : {&m_accept4Source, &m_accept6Source}) {
        if (*source)
            (*source)->resume();
    }
}

void KPAsyncSocket::doAccept(int listenFD)
{
    // The kernel gives no count of waiting connections: take them until none is left, at most
    // 64 a pass so one busy listener cannot starve the queue.
    for (int n = 0; n < 64; ++n) {
        if (const int limit = m_acceptCount->limit.load(); limit > 0 && m_acceptCount->open.load() >= limit) {
            for (auto* source : {&m_accept4Source, &m_accept6Source}) {
                if (*source)
                    (*source)->suspend();
            }
            m_acceptCount->flooded.store(true);
            m_acceptCount->paused.store(true);
            // A connection that closed meanwhile found nothing paused to resume.
            if (m_acceptCount->open.load() < limit && m_acceptCount->paused.exchange(false))
                resumeAccepting();
            return;
        }
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        int fd;
        do {
            fd = ::accept4(listenFD, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return;
        if (!m_delegateQueue.isValid()) {
            ::close(fd);
            continue;
        }
        ++m_acceptCount->open;
        // Released when the connection's descriptor is closed; at the limit that lets the
        // listener accept again.
        std::weak_ptr<KPAsyncSocket> weakListener = shared_from_this();
        std::shared_ptr<void> ticket(nullptr, [count = m_acceptCount, weakListener](void*) {
            // A flood leaves what its connections took with the allocator, spread over the
            // arenas of the workers that served them: once the last is gone it goes back.
            if (--count->open == 0 && count->flooded.exchange(false))
                ::malloc_trim(0);
            if (count->paused.exchange(false)) {
                if (auto listener = weakListener.lock())
                    listener->m_socketQueue.async([listener] { listener->resumeAccepting(); });
            }
        });
        const bool isV4 = peer.ss_family == AF_INET;
        const QByteArray address(reinterpret_cast<const char*>(&peer), int(len));
        m_delegateQueue.async([listener = shared_from_this(), weak = m_delegate, dq = m_delegateQueue, fd, isV4,
                               address, ticket] {
            auto d = weak.lock();
            DispatchQueue queue;
            if (d)
                queue = d->newSocketQueueForConnectionFromAddress(address, listener);
            auto accepted = KPAsyncSocket::create(weak, dq, queue);
            if (isV4)
                accepted->m_socket4FD = fd;
            else
                accepted->m_socket6FD = fd;
            accepted->m_flags = kSocketStarted | kConnected;
            accepted->m_descriptorTicket = ticket;
            accepted->m_socketQueue.async(
                [accepted, fd] { accepted->setupReadAndWriteSourcesForNewlyConnectedSocket(fd); });
            if (d)
                d->didAcceptNewSocket(listener, accepted);
        });
    }
}

// ---- connecting

platform::Result<void> KPAsyncSocket::preConnectWithInterface(const QString& interface)
{
    if (m_delegate.expired())
        return std::unexpected(badConfigError(QStringLiteral("Attempting to connect without a delegate. Set a delegate first.")));
    if (!m_delegateQueue.isValid())
        return std::unexpected(badConfigError(
            QStringLiteral("Attempting to connect without a delegate queue. Set a delegate queue first.")));
    if (m_flags & kSocketStarted)
        return std::unexpected(badConfigError(
            QStringLiteral("Attempting to connect while connected or accepting connections. Disconnect first.")));
    const bool v4Disabled = m_config & kIPv4Disabled;
    const bool v6Disabled = m_config & kIPv6Disabled;
    if (v4Disabled && v6Disabled)
        return std::unexpected(badConfigError(
            QStringLiteral("Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.")));
    if (!interface.isEmpty()) {
        QByteArray a4, a6;
        getInterfaceAddress(&a4, &a6, interface, 0);
        if (a4.isEmpty() && a6.isEmpty())
            return std::unexpected(badParamError(
                QStringLiteral("Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.")));
        if (v4Disabled && a6.isEmpty())
            return std::unexpected(badParamError(
                QStringLiteral("IPv4 has been disabled and specified interface doesn't support IPv6.")));
        if (v6Disabled && a4.isEmpty())
            return std::unexpected(badParamError(
                QStringLiteral("IPv6 has been disabled and specified interface doesn't support IPv4.")));
        m_connectInterface4 = a4;
        m_connectInterface6 = a6;
    }
    m_readQueue.clear();
    m_writeQueue.clear();
    return {};
}

platform::Result<void> KPAsyncSocket::connectToHost(const QString& host, quint16 port, double timeout)
{
    return connectToHost(host, port, QString(), timeout);
}

platform::Result<void> KPAsyncSocket::connectToHost(const QString& host, quint16 port, const QString& interface,
                                                    double timeout)
{
    platform::Result<void> result;
    auto self = shared_from_this();
    onSocketQueueSync([&] {
        if (host.isEmpty()) {
            result = std::unexpected(badParamError(QStringLiteral(
                "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string.")));
            return;
        }
        if (auto checked = self->preConnectWithInterface(interface); !checked) {
            result = checked;
            return;
        }
        self->m_flags |= kSocketStarted;
        const int index = self->m_connectIndex;
        std::weak_ptr<KPAsyncSocket> weak = self;
        DispatchQueue::global().async([weak, host, port, index, queue = self->m_socketQueue] {
            std::expected<std::vector<QByteArray>, Error> found;
            if (host == QLatin1String("localhost") || host == QLatin1String("loopback")) {
                found = std::vector<QByteArray>{loopback4(port), loopback6(port)};
            } else {
                Resolver resolver;
                {
                    std::lock_guard lock(resolverMutex);
                    resolver = customResolver;
                }
                found = resolver ? resolver(host, port) : systemResolve(host, port);
                if (found && found->empty())
                    found = std::unexpected(gaiError(EAI_FAIL));
            }
            queue.async([weak, index, found] {
                if (auto s = weak.lock())
                    s->lookupDone(index, found);
            });
        });
        self->startConnectTimeout(timeout);
        result = {};
    });
    return result;
}

void KPAsyncSocket::lookupDone(int index, const std::expected<std::vector<QByteArray>, Error>& found)
{
    if (index != m_connectIndex)
        return; // a time-out or a close ended this attempt
    if (!found) {
        endConnectTimeout();
        closeWithError(found.error());
        return;
    }
    QByteArray a4, a6;
    for (const QByteArray& a : *found) {
        if (a4.isEmpty() && familyOf(a) == AF_INET)
            a4 = a;
        else if (a6.isEmpty() && familyOf(a) == AF_INET6)
            a6 = a;
    }
    if (a4.isEmpty() && a6.isEmpty()) {
        endConnectTimeout();
        closeWithError(gaiError(EAI_FAIL));
        return;
    }
    const bool v4Disabled = m_config & kIPv4Disabled;
    const bool v6Disabled = m_config & kIPv6Disabled;
    if (v4Disabled && a6.isEmpty()) {
        closeWithError(otherError(QStringLiteral("IPv4 has been disabled and DNS lookup found no IPv6 address.")));
        return;
    }
    if (v6Disabled && a4.isEmpty()) {
        closeWithError(otherError(QStringLiteral("IPv6 has been disabled and DNS lookup found no IPv4 address.")));
        return;
    }
    if (v4Disabled)
        a4.clear();
    if (v6Disabled)
        a6.clear();
    if (auto started = connectWithAddress4(a4, a6); !started)
        closeWithError(started.error());
}

platform::Result<void> KPAsyncSocket::connectToAddress(const QByteArray& address, double timeout)
{
    return connectToAddress(address, QString(), timeout);
}

platform::Result<void> KPAsyncSocket::connectToAddress(const QByteArray& address, const QString& interface,
                                                       double timeout)
{
    platform::Result<void> result;
    auto self = shared_from_this();
    onSocketQueueSync([&] {
        const int family = familyOf(address);
        if (family == AF_UNSPEC) {
            result = std::unexpected(badParamError(QStringLiteral("A valid IPv4 or IPv6 address was not given")));
            return;
        }
        if (family == AF_INET && (self->m_config & kIPv4Disabled)) {
            result = std::unexpected(badParamError(QStringLiteral("IPv4 has been disabled and an IPv4 address was passed.")));
            return;
        }
        if (family == AF_INET6 && (self->m_config & kIPv6Disabled)) {
            result = std::unexpected(badParamError(QStringLiteral("IPv6 has been disabled and an IPv6 address was passed.")));
            return;
        }
        if (auto checked = self->preConnectWithInterface(interface); !checked) {
            result = checked;
            return;
        }
        auto started = family == AF_INET ? self->connectWithAddress4(address, {}) : self->connectWithAddress4({}, address);
        if (!started) {
            result = started;
            return;
        }
        self->m_flags |= kSocketStarted;
        self->startConnectTimeout(timeout);
        result = {};
    });
    return result;
}

platform::Result<void> KPAsyncSocket::connectWithAddress4(const QByteArray& address4, const QByteArray& address6)
{
    const bool useV6 = (!address6.isEmpty() && (m_config & kPreferIPv6)) || address4.isEmpty();
    const QByteArray& address = useV6 ? address6 : address4;
    const int family = useV6 ? AF_INET6 : AF_INET;
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return std::unexpected(errnoErrorWithReason(QStringLiteral("Error in socket() function")));
    (useV6 ? m_socket6FD : m_socket4FD) = fd;
    const QByteArray& interface = useV6 ? m_connectInterface6 : m_connectInterface4;
    if (!interface.isEmpty()) {
        int on = 1;
        if (portFromAddress(interface) != 0)
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(interface.constData()), socklen_t(interface.size())) < 0) {
            Error e = errnoErrorWithReason(QStringLiteral("Error in bind() function"));
            ::close(fd);
            (useV6 ? m_socket6FD : m_socket4FD) = -1;
            return std::unexpected(e);
        }
    }
    // Writes use MSG_NOSIGNAL: Linux has no per-socket switch against SIGPIPE.
    const int index = m_connectIndex;
    std::weak_ptr<KPAsyncSocket> weak = shared_from_this();
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<const sockaddr*>(address.constData()), socklen_t(address.size()));
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
        m_socketQueue.async([weak, index] {
            if (auto s = weak.lock())
                s->didConnect(index);
        });
    } else if (errno == EINPROGRESS) {
        // Non-blocking connect: writability says it ended, SO_ERROR says how.
        m_connectSource = std::make_unique<DispatchSource>(fd, DispatchSource::Kind::Write, m_socketQueue);
        m_connectSource->setEventHandler([weak, index, fd](std::size_t) {
            auto s = weak.lock();
            if (!s)
                return;
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
                err = errno;
            if (err == 0) {
                s->didConnect(index);
            } else {
                errno = err;
                s->didNotConnect(index, errnoErrorWithReason(QStringLiteral("Error in connect() function")));
            }
        });
        m_connectSource->setCancelHandler([fd] { ::close(fd); });
        m_connectSource->resume();
    } else {
        const Error e = errnoErrorWithReason(QStringLiteral("Error in connect() function"));
        m_socketQueue.async([weak, index, e] {
            if (auto s = weak.lock())
                s->didNotConnect(index, e);
        });
    }
    return {};
}

void KPAsyncSocket::didConnect(int index)
{
    if (index != m_connectIndex)
        return;
    if (m_connectSource) {
        // The descriptor now belongs to the read and write sources.
        m_connectSource->setCancelHandler(nullptr);
        m_connectSource->cancel();
        m_connectSource.reset();
    }
    m_flags |= kConnected;
    endConnectTimeout();
    const QString host = connectedHost();
    const quint16 port = connectedPort();
    notifyDelegate([host, port](KPAsyncSocketDelegate& d, const KPAsyncSocketPtr& s) { d.didConnectToHost(s, host, port); });
    const int fd = m_socket4FD >= 0 ? m_socket4FD : m_socket6FD;
    setupReadAndWriteSourcesForNewlyConnectedSocket(fd);
    maybeDequeueRead();
    maybeDequeueWrite();
}

void KPAsyncSocket::didNotConnect(int index, const Error& error)
{
    if (index != m_connectIndex)
        return;
    closeWithError(error);
}

void KPAsyncSocket::startConnectTimeout(double timeout)
{
    if (timeout < 0)
        return;
    const int generation = ++m_connectTimerGeneration;
    m_connectTimerArmed = true;
    std::weak_ptr<KPAsyncSocket> weak = shared_from_this();
    m_socketQueue.after(std::chrono::milliseconds(qint64(timeout * 1000)), [weak, generation] {
        auto s = weak.lock();
        if (!s || !s->m_connectTimerArmed || s->m_connectTimerGeneration != generation)
            return;
        s->endConnectTimeout();
        s->closeWithError(kpConnectTimeoutError());
    });
}

void KPAsyncSocket::endConnectTimeout()
{
    m_connectTimerArmed = false;
    ++m_connectTimerGeneration;
    ++m_connectIndex;
    m_connectInterface4.clear();
    m_connectInterface6.clear();
}
