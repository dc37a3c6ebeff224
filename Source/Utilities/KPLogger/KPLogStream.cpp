#include "Utilities/KPLogger/KPLogStream.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How many reads one readable event may take, so a chatty viewer cannot hold the worker.
constexpr int kMaxReadsPerEvent = 64;

int descriptorOf(BIO* bio)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
}

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE on a closed connection.
int bioWrite(BIO* bio, const char* data, int size)
{
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::send(descriptorOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(bio);
        return -1;
    }
}

int bioRead(BIO* bio, char* out, int size)
{
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::recv(descriptorOf(bio), out, static_cast<size_t>(size), 0);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(bio);
        return -1;
    }
}

long bioControl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* socketMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "KPLogger socket");
        if (m) {
            BIO_meth_set_write(m, bioWrite);
            BIO_meth_set_read(m, bioRead);
            BIO_meth_set_ctrl(m, bioControl);
            BIO_meth_set_create(m, bioCreate);
        }
        return m;
    }();
    return method;
}

// Viewers present self-signed certificates, so the chain is not validated and no peer name is
// checked; the connection is still encrypted.
SSL_CTX* clientContext()
{
    static SSL_CTX* context = [] {
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        if (ctx) {
            SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
            SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        }
        return ctx;
    }();
    return context;
}

socklen_t toSockaddr(const QHostAddress& address, quint16 port, sockaddr_storage* out)
{
    std::memset(out, 0, sizeof(*out));
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        return sizeof(sockaddr_in);
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(out);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof(bytes.c));
        return sizeof(sockaddr_in6);
    }
    return 0;
}

} // namespace

KPLogStream::KPLogStream(QList<QHostAddress> addresses, quint16 port, bool useTLS)
    : m_addresses(std::move(addresses))
    , m_port(port)
    , m_useTLS(useTLS)
    , m_openDeadline(std::chrono::steady_clock::now() + kOpenTimeout)
{
}

std::unique_ptr<KPLogStream> KPLogStream::open(const QList<QHostAddress>& addresses, quint16 port,
                                               bool useTLS)
{
    if (port == 0 || (useTLS && (!clientContext() || !socketMethod())))
        return nullptr;
    std::unique_ptr<KPLogStream> stream(new KPLogStream(addresses, port, useTLS));
    if (!stream->connectNextAddress())
        return nullptr;
    return stream;
}

KPLogStream::~KPLogStream()
{
    closeSocket();
}

void KPLogStream::closeSocket()
{
    if (m_ssl) {
        if (m_state == State::Open) {
            ERR_clear_error();
            SSL_shutdown(m_ssl); // best effort: the socket is non-blocking
        }
        SSL_free(m_ssl); // frees the BIO too
        m_ssl = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool KPLogStream::connectNextAddress()
{
    closeSocket();
    while (!m_addresses.isEmpty()) {
        const QHostAddress address = m_addresses.takeFirst();
        sockaddr_storage storage;
        const socklen_t length = toSockaddr(address, m_port, &storage);
        if (length == 0)
            continue;
        const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        int rc;
        do {
            rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&storage), length);
        } while (rc < 0 && errno == EINTR);
        if (rc == 0 || errno == EINPROGRESS) {
            // Completion (also an immediate one) is reported by poll as writability.
            m_fd = fd;
            m_state = State::Connecting;
            return true;
        }
        ::close(fd);
    }
    m_state = State::Failed;
    return false;
}

short KPLogStream::pollEvents() const
{
    switch (m_state) {
    case State::Connecting:
        return POLLOUT;
    case State::Handshaking:
        return m_handshakeWantsRead ? POLLIN : POLLOUT;
    case State::Open:
        return static_cast<short>(POLLIN | (m_writeBlocked ? POLLOUT : 0));
    case State::Failed:
    case State::Ended:
        break;
    }
    return POLLIN;
}

KPLogStream::Event KPLogStream::handle(short revents)
{
    if ((m_state == State::Connecting || m_state == State::Handshaking)
        && std::chrono::steady_clock::now() >= m_openDeadline) {
        closeSocket();
        m_state = State::Failed;
        return Event::ErrorOccurred;
    }
    switch (m_state) {
    case State::Connecting: {
        if (!(revents & (POLLOUT | POLLERR | POLLHUP)))
            return Event::None;
        int error = 0;
        socklen_t length = sizeof(error);
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error != 0) {
            if (connectNextAddress())
                return Event::None;
            return Event::ErrorOccurred;
        }
        if (m_useTLS)
            return startTLS();
        m_state = State::Open;
        return Event::OpenCompleted;
    }
    case State::Handshaking:
        return revents ? stepHandshake() : Event::None;
    case State::Open:
        if (revents & (POLLIN | POLLHUP | POLLERR)) {
            const Event incoming = drainIncoming();
            if (incoming != Event::None)
                return incoming;
        }
        // Under TLS a blocked write may be waiting for bytes from the viewer, so either event
        // is a reason to try again.
        if (m_writeBlocked && (revents & (POLLOUT | POLLIN))) {
            m_writeBlocked = false;
            return Event::CanAcceptBytes;
        }
        return Event::None;
    case State::Failed:
    case State::Ended:
        break;
    }
    return Event::None;
}

KPLogStream::Event KPLogStream::startTLS()
{
    m_ssl = SSL_new(clientContext());
    BIO* bio = m_ssl ? BIO_new(socketMethod()) : nullptr;
    if (!bio) {
        closeSocket();
        m_state = State::Failed;
        return Event::ErrorOccurred;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(m_fd)));
    SSL_set_bio(m_ssl, bio, bio);
    SSL_set_connect_state(m_ssl);
    m_state = State::Handshaking;
    return stepHandshake();
}

KPLogStream::Event KPLogStream::stepHandshake()
{
    ERR_clear_error();
    const int rc = SSL_connect(m_ssl);
    if (rc == 1) {
        m_state = State::Open;
        return Event::OpenCompleted;
    }
    const int error = SSL_get_error(m_ssl, rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        m_handshakeWantsRead = error == SSL_ERROR_WANT_READ;
        return Event::None;
    }
    ERR_clear_error();
    m_state = State::Failed;
    return Event::ErrorOccurred;
}

KPLogStream::Event KPLogStream::drainIncoming()
{
    char scratch[4096];
    for (int i = 0; i < kMaxReadsPerEvent; ++i) {
        if (m_ssl) {
            ERR_clear_error();
            const int n = SSL_read(m_ssl, scratch, sizeof scratch);
            if (n > 0)
                continue;
            const int error = SSL_get_error(m_ssl, n);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
                return Event::None;
            const int savedErrno = errno;
            ERR_clear_error();
            // A viewer that just closes its socket, without a TLS goodbye, has still ended.
            if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && savedErrno == 0)) {
                m_state = State::Ended;
                return Event::EndEncountered;
            }
            m_state = State::Failed;
            return Event::ErrorOccurred;
        }
        const ssize_t n = ::recv(m_fd, scratch, sizeof scratch, 0);
        if (n > 0)
            continue;
        if (n == 0) {
            m_state = State::Ended;
            return Event::EndEncountered;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Event::None;
        m_state = State::Failed;
        return Event::ErrorOccurred;
    }
    return Event::None;
}

qsizetype KPLogStream::write(const char* data, qsizetype size)
{
    if (m_state != State::Open)
        return -1;
    const int chunk = static_cast<int>(std::min<qsizetype>(size, INT_MAX));
    if (m_ssl) {
        ERR_clear_error();
        const int n = SSL_write(m_ssl, data, chunk);
        if (n > 0)
            return n;
        const int error = SSL_get_error(m_ssl, n);
        if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) {
            m_writeBlocked = true;
            return 0;
        }
        ERR_clear_error();
        m_state = State::Failed;
        return -1;
    }
    for (;;) {
        const ssize_t n = ::send(m_fd, data, static_cast<size_t>(chunk), MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            m_writeBlocked = true;
            return 0;
        }
        m_state = State::Failed;
        return -1;
    }
}
