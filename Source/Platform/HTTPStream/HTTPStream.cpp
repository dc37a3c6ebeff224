#include "Platform/HTTPStream/HTTPStream.h"

#include "Platform/HTTPStream/HTTPRunLoop.h"

#include <QFile>
#include <QHostAddress>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr qint64 BodyPiece = 64 * 1024;
constexpr qint64 ReadPiece = 64 * 1024;

// SSL_write on a socket the peer closed raises SIGPIPE; it is held back on this thread for the
// call and a pending one is taken, so the write reports EPIPE instead of ending the process.
class SigpipeGuard {
public:
    SigpipeGuard()
    {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigpending(&m_pendingBefore);
        pthread_sigmask(SIG_BLOCK, &pipe, &m_old);
    }
    ~SigpipeGuard()
    {
        if (!sigismember(&m_pendingBefore, SIGPIPE)) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE)) {
                sigset_t pipe;
                sigemptyset(&pipe);
                sigaddset(&pipe, SIGPIPE);
                timespec zero{0, 0};
                while (sigtimedwait(&pipe, nullptr, &zero) < 0 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }

private:
    sigset_t m_old;
    sigset_t m_pendingBefore;
};

QString opensslErrors()
{
    QString text;
    while (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.isEmpty())
            text += QStringLiteral("; ");
        text += QString::fromLatin1(buf);
    }
    return text;
}

} // namespace

HTTPConnection::~HTTPConnection()
{
    if (ssl)
        SSL_free(ssl);
    if (ctx)
        SSL_CTX_free(ctx);
    if (fd >= 0)
        ::close(fd);
}

bool HTTPConnection::isUsable() const
{
    if (fd < 0 || (ssl && SSL_pending(ssl) > 0))
        return false;
    pollfd p{fd, short(POLLIN | POLLRDHUP), 0};
    return ::poll(&p, 1, 0) == 0;
}

HTTPStream::HTTPStream(HTTPRunLoop& loop, HTTPRequestMessage message, BodyReader body, HTTPStreamTLSSettings tls)
    : m_loop(loop)
    , m_message(std::move(message))
    , m_body(std::move(body))
    , m_tls(std::move(tls))
    , m_parser(m_message.method == "HEAD")
{
}

HTTPStream::~HTTPStream()
{
    close();
}

bool HTTPStream::open()
{
    if (m_state != State::Idle)
        return false;
    const QString scheme = m_message.url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        m_error = Error{ErrorDomain, UnsupportedScheme, QStringLiteral("Unsupported URL scheme")};
        return false;
    }
    m_https = scheme == QLatin1String("https");
    const bool viaProxy = m_message.proxy.type != HTTPProxySettings::Type::None && !m_message.proxy.host.isEmpty()
                          && m_message.proxy.port > 0;
    if (!viaProxy)
        m_message.proxy = HTTPProxySettings{};
    const QString host = viaProxy ? m_message.proxy.host : m_message.url.host();
    const int port = viaProxy ? m_message.proxy.port : m_message.url.port(m_https ? 443 : 80);
    if (m_message.url.host().isEmpty() || host.isEmpty()) {
        m_error = Error{ErrorDomain, HostNotFound, QStringLiteral("The URL names no host")};
        return false;
    }

    if (m_reuse && m_reuse->isUsable()) {
        m_fd = std::exchange(m_reuse->fd, -1);
        m_ssl = std::exchange(m_reuse->ssl, nullptr);
        m_ctx = std::exchange(m_reuse->ctx, nullptr);
        m_reuse.reset();
        m_reused = true;
        const QByteArray head = buildHead();
        m_out = head;
        m_headLeft = head.size();
        m_bodyDone = !m_body;
        m_state = State::Open;
        m_loop.watch(m_fd, POLLOUT | POLLIN, [this](short revents) { onEvents(revents); });
        return true;
    }
    m_reuse.reset();

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found);
    if (rc != 0 || !found) {
        m_error = Error{ErrorDomain, HostNotFound,
                        QStringLiteral("Host %1 not found: %2").arg(host, QString::fromLocal8Bit(gai_strerror(rc)))};
        return false;
    }
    int err = 0;
    for (addrinfo* ai = found; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 || errno == EINPROGRESS) {
            m_fd = fd;
            break;
        }
        err = errno;
        ::close(fd);
    }
    freeaddrinfo(found);
    if (m_fd < 0) {
        m_error = Error::posix(err, QStringLiteral("connect"));
        return false;
    }
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    const QByteArray head = buildHead();
    m_out = head;
    m_headLeft = head.size();
    m_bodyDone = !m_body;

    m_state = State::Connecting;
    m_loop.watch(m_fd, POLLOUT, [this](short revents) { onEvents(revents); });
    return true;
}

QByteArray HTTPStream::buildHead() const
{
    QByteArray target = m_message.url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.isEmpty())
        target = "/";
    const bool plainViaHTTPProxy = m_message.proxy.type == HTTPProxySettings::Type::HTTP && !m_https;
    if (plainViaHTTPProxy)
        target = m_message.url.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    QByteArray head = m_message.method + ' ' + target + (m_message.httpVersionOne ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
    if (!m_message.headers.contains(QStringLiteral("Host"))) {
        QByteArray hostField = m_message.url.host(QUrl::FullyEncoded).toUtf8();
        if (hostField.contains(':'))
            hostField = '[' + hostField + ']';
        if (m_message.url.port() > 0)
            hostField += ':' + QByteArray::number(m_message.url.port());
        head += "Host: " + hostField + "\r\n";
    }
    for (const auto& [name, value] : m_message.headers.fields()) {
        // A value with a line break would start a field of its own: it is cut there.
        QByteArray v = value.toUtf8();
        if (const qsizetype cut = v.indexOf('\r'); cut >= 0)
            v.truncate(cut);
        if (const qsizetype cut = v.indexOf('\n'); cut >= 0)
            v.truncate(cut);
        head += name.toLatin1() + ": " + v + "\r\n";
    }
    if (plainViaHTTPProxy && !m_message.proxy.authorization.isEmpty())
        head += "Proxy-Authorization: " + m_message.proxy.authorization.toUtf8() + "\r\n";
    head += "\r\n";
    return head;
}

void HTTPStream::close()
{
    if (m_ssl) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    if (m_ctx) {
        SSL_CTX_free(m_ctx);
        m_ctx = nullptr;
    }
    if (m_fd >= 0) {
        m_loop.unwatch(m_fd);
        ::close(m_fd);
        m_fd = -1;
    }
    m_state = State::Closed;
    m_alive = std::make_shared<int>(0); // a posted notification finds no stream
}

void HTTPStream::setScheduled(bool scheduled)
{
    if (m_scheduled == scheduled)
        return;
    m_scheduled = scheduled;
    updateEvents();
    if (scheduled)
        notify();
}

QByteArray HTTPStream::read(qint64 max)
{
    QByteArray out = m_parser.takeBody(qsizetype(std::max<qint64>(max, 0)));
    updateEvents();
    return out;
}

void HTTPStream::finishCleanly()
{
    // The connection may serve the next request once the whole request went out.
    if (m_out.isEmpty() && m_bodyDone && m_fd >= 0) {
        m_loop.unwatch(m_fd);
        m_state = State::Done;
        return;
    }
    closeSocket();
}

std::shared_ptr<HTTPConnection> HTTPStream::detachConnection()
{
    if (m_state != State::Done || m_fd < 0)
        return nullptr;
    auto connection = std::make_shared<HTTPConnection>();
    connection->fd = std::exchange(m_fd, -1);
    connection->ssl = std::exchange(m_ssl, nullptr);
    connection->ctx = std::exchange(m_ctx, nullptr);
    m_state = State::Closed;
    return connection;
}

void HTTPStream::failWith(const Error& error)
{
    if (!m_error)
        m_error = error;
    closeSocket();
}

void HTTPStream::closeSocket()
{
    if (m_fd >= 0) {
        m_loop.unwatch(m_fd);
        if (m_ssl) {
            SSL_free(m_ssl);
            m_ssl = nullptr;
        }
        ::close(m_fd);
        m_fd = -1;
    }
    m_state = State::Closed;
}

Error HTTPStream::tlsError(int code, const QString& what) const
{
    QString detail = opensslErrors();
    if (m_ssl) {
        const long verify = SSL_get_verify_result(m_ssl);
        if (verify != X509_V_OK)
            detail = QString::fromLatin1(X509_verify_cert_error_string(verify));
    }
    return Error{TLSErrorDomain, code, detail.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, detail)};
}

void HTTPStream::onEvents(short revents)
{
    const std::weak_ptr<int> alive = m_alive;
    switch (m_state) {
    case State::Connecting:
        onConnected();
        break;
    case State::Handshake:
        doHandshake();
        break;
    case State::Proxying:
        doProxying();
        break;
    case State::Open:
        if (revents & (POLLOUT | POLLERR | POLLHUP) || m_sslWantsReadForWrite)
            doWrite();
        if (alive.expired() || m_state != State::Open)
            break;
        if (revents & (POLLIN | POLLERR | POLLHUP) || m_sslWantsWriteForRead)
            doRead();
        break;
    default:
        break;
    }
    if (!alive.expired()) {
        updateEvents();
        notify();
    }
}

void HTTPStream::onConnected()
{
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        soError = errno;
    if (soError == EINPROGRESS)
        return;
    if (soError != 0) {
        failWith(Error::posix(soError, QStringLiteral("connect")));
        return;
    }
    const QByteArray host = m_message.url.host(QUrl::FullyEncoded).toUtf8();
    const int port = m_message.url.port(m_https ? 443 : 80);
    if (m_message.proxy.type == HTTPProxySettings::Type::SOCKS) {
        m_state = State::Proxying;
        m_proxyStep = ProxyStep::SocksGreeting;
        m_proxyOut = QByteArray("\x05\x01\x00", 3); // version 5, one method: no authentication
        doProxying();
        return;
    }
    if (m_message.proxy.type == HTTPProxySettings::Type::HTTP && m_https) {
        const QByteArray authority = (host.contains(':') ? '[' + host + ']' : host) + ':' + QByteArray::number(port);
        m_state = State::Proxying;
        m_proxyStep = ProxyStep::Tunnel;
        m_proxyOut = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
        if (!m_message.proxy.authorization.isEmpty())
            m_proxyOut += "Proxy-Authorization: " + m_message.proxy.authorization.toUtf8() + "\r\n";
        m_proxyOut += "\r\n";
        doProxying();
        return;
    }
    afterProxy();
}

void HTTPStream::afterProxy()
{
    if (m_https) {
        if (!setUpTLS())
            return;
        m_state = State::Handshake;
        doHandshake();
        return;
    }
    m_state = State::Open;
    doWrite();
}

qsizetype HTTPStream::socksReplyLength(const QByteArray& b)
{
    if (b.size() < 5)
        return 0;
    if (b[0] != 5)
        return -1;
    qsizetype address = 0;
    switch (b[3]) {
    case 1: address = 4; break;
    case 4: address = 16; break;
    case 3: address = 1 + qsizetype(quint8(b[4])); break;
    default: return -1;
    }
    const qsizetype total = 4 + address + 2;
    return b.size() >= total ? total : 0;
}

int HTTPStream::tunnelStatus(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return bytes.size() > MaxProxyAnswer ? -1 : 0;
    HTTPResponseParser parser(true);
    if (!parser.feed(bytes.left(end + 4)) || !parser.headersComplete())
        return -1;
    return parser.statusCode();
}

void HTTPStream::doProxying()
{
    const auto proxyError = [this](const QString& why) {
        failWith(Error{ErrorDomain, ProxyFailed, why});
    };
    // Write what is pending, then read the answer; the socket is non-blocking throughout.
    while (!m_proxyOut.isEmpty()) {
        const ssize_t n = ::send(m_fd, m_proxyOut.constData(), size_t(m_proxyOut.size()), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                m_loop.setEvents(m_fd, POLLOUT);
                return;
            }
            failWith(Error::posix(errno, QStringLiteral("send to proxy")));
            return;
        }
        m_proxyOut.remove(0, n);
    }
    for (;;) {
        char buffer[4096];
        // Only what the answer can hold is read: bytes after it belong to the tunnel.
        qsizetype want = 1;
        if (m_proxyStep == ProxyStep::SocksGreeting)
            want = 2 - m_proxyIn.size();
        else if (m_proxyStep == ProxyStep::SocksConnect)
            want = m_proxyIn.size() < 5 ? 5 - m_proxyIn.size() : std::max<qsizetype>(1, socksReplyLength(m_proxyIn) - m_proxyIn.size());
        const ssize_t n = ::recv(m_fd, buffer, size_t(std::min<qsizetype>(want, sizeof buffer)), 0);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                m_loop.setEvents(m_fd, POLLIN);
                return;
            }
            failWith(Error::posix(errno, QStringLiteral("recv from proxy")));
            return;
        }
        if (n == 0) {
            proxyError(QStringLiteral("The proxy closed the connection"));
            return;
        }
        m_proxyIn.append(buffer, n);
        if (m_proxyStep == ProxyStep::SocksGreeting) {
            if (m_proxyIn.size() < 2)
                continue;
            if (m_proxyIn[0] != 5 || m_proxyIn[1] != 0) {
                proxyError(QStringLiteral("The SOCKS proxy chose a method that was not offered"));
                return;
            }
            const QByteArray host = m_message.url.host(QUrl::FullyEncoded).toUtf8().left(255);
            const int port = m_message.url.port(m_https ? 443 : 80);
            m_proxyStep = ProxyStep::SocksConnect;
            m_proxyIn.clear();
            m_proxyOut = QByteArray("\x05\x01\x00\x03", 4) + char(host.size()) + host + char((port >> 8) & 0xff) + char(port & 0xff);
            doProxying();
            return;
        }
        if (m_proxyStep == ProxyStep::SocksConnect) {
            const qsizetype length = socksReplyLength(m_proxyIn);
            if (length < 0) {
                proxyError(QStringLiteral("The SOCKS proxy answered garbage"));
                return;
            }
            if (length == 0 || m_proxyIn.size() < length)
                continue;
            if (m_proxyIn[1] != 0) {
                proxyError(QStringLiteral("The SOCKS proxy refused the connection (reply %1)").arg(int(quint8(m_proxyIn[1]))));
                return;
            }
            afterProxy();
            return;
        }
        const int status = tunnelStatus(m_proxyIn);
        if (status < 0) {
            proxyError(QStringLiteral("The proxy answered garbage to CONNECT"));
            return;
        }
        if (status == 0)
            continue;
        if (status < 200 || status > 299) {
            proxyError(QStringLiteral("The proxy refused the tunnel with status %1").arg(status));
            return;
        }
        afterProxy();
        return;
    }
}

bool HTTPStream::setUpTLS()
{
    m_ctx = SSL_CTX_new(TLS_client_method());
    if (!m_ctx) {
        failWith(tlsError(TLSProtocolError, QStringLiteral("TLS could not be set up")));
        return false;
    }
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
    if (m_tls.validatesCertificate) {
        SSL_CTX_set_default_verify_paths(m_ctx);
        SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(m_ctx, SSL_VERIFY_NONE, nullptr);
    }
    if (!m_tls.clientIdentityPath.isEmpty()) {
        const QString path = m_tls.clientIdentityPath;
        bool ok = false;
        if (path.endsWith(QLatin1String(".p12"), Qt::CaseInsensitive)
            || path.endsWith(QLatin1String(".pfx"), Qt::CaseInsensitive)) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly)) {
                const QByteArray der = file.read(1 << 20);
                const unsigned char* p = reinterpret_cast<const unsigned char*>(der.constData());
                PKCS12* p12 = d2i_PKCS12(nullptr, &p, der.size());
                EVP_PKEY* key = nullptr;
                X509* cert = nullptr;
                STACK_OF(X509)* chain = nullptr;
                if (p12 && PKCS12_parse(p12, m_tls.clientIdentityPassword.toUtf8().constData(), &key, &cert, &chain)) {
                    ok = SSL_CTX_use_certificate(m_ctx, cert) == 1 && SSL_CTX_use_PrivateKey(m_ctx, key) == 1;
                    for (int i = 0; ok && chain && i < sk_X509_num(chain); ++i)
                        ok = SSL_CTX_add1_chain_cert(m_ctx, sk_X509_value(chain, i)) == 1;
                }
                EVP_PKEY_free(key);
                X509_free(cert);
                sk_X509_pop_free(chain, X509_free);
                PKCS12_free(p12);
            }
        } else {
            const QByteArray password = m_tls.clientIdentityPassword.toUtf8();
            SSL_CTX_set_default_passwd_cb_userdata(m_ctx, const_cast<char*>(password.constData()));
            const QByteArray file = QFile::encodeName(path);
            ok = SSL_CTX_use_certificate_chain_file(m_ctx, file.constData()) == 1
                && SSL_CTX_use_PrivateKey_file(m_ctx, file.constData(), SSL_FILETYPE_PEM) == 1
                && SSL_CTX_check_private_key(m_ctx) == 1;
            SSL_CTX_set_default_passwd_cb_userdata(m_ctx, nullptr);
        }
        if (!ok) {
            failWith(tlsError(TLSClientIdentityFailed, QStringLiteral("The client identity could not be read")));
            return false;
        }
    }
    m_ssl = SSL_new(m_ctx);
    if (!m_ssl || SSL_set_fd(m_ssl, m_fd) != 1) {
        failWith(tlsError(TLSProtocolError, QStringLiteral("TLS could not be set up")));
        return false;
    }
    const QByteArray host = m_message.url.host().toUtf8();
    const bool isAddress = !QHostAddress(QString::fromUtf8(host)).isNull();
    if (!isAddress)
        SSL_set_tlsext_host_name(m_ssl, host.constData());
    if (m_tls.validatesCertificate) {
        if (isAddress)
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.constData());
        else
            SSL_set1_host(m_ssl, host.constData());
    }
    return true;
}

void HTTPStream::doHandshake()
{
    ERR_clear_error();
    const int rc = SSL_connect(m_ssl);
    if (rc == 1) {
        m_state = State::Open;
        doWrite();
        return;
    }
    const int e = SSL_get_error(m_ssl, rc);
    if (e == SSL_ERROR_WANT_READ) {
        m_loop.setEvents(m_fd, POLLIN);
        return;
    }
    if (e == SSL_ERROR_WANT_WRITE) {
        m_loop.setEvents(m_fd, POLLOUT);
        return;
    }
    const bool rejected = SSL_get_verify_result(m_ssl) != X509_V_OK;
    failWith(tlsError(rejected ? TLSCertificateRejected : TLSHandshakeFailed,
                      rejected ? QStringLiteral("The server's certificate was rejected")
                               : QStringLiteral("The TLS handshake failed")));
}

qint64 HTTPStream::rawSend(const char* data, qint64 length, int* err)
{
    *err = 0;
    if (m_ssl) {
        SigpipeGuard guard;
        ERR_clear_error();
        m_sslWantsReadForWrite = false;
        const int n = SSL_write(m_ssl, data, int(std::min<qint64>(length, 1 << 30)));
        if (n > 0)
            return n;
        const int e = SSL_get_error(m_ssl, n);
        if (e == SSL_ERROR_WANT_WRITE)
            return 0;
        if (e == SSL_ERROR_WANT_READ) {
            m_sslWantsReadForWrite = true;
            return 0;
        }
        *err = e == SSL_ERROR_SYSCALL && errno ? errno : EPIPE;
        return -1;
    }
    const ssize_t n = ::send(m_fd, data, size_t(length), MSG_NOSIGNAL);
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    *err = errno;
    return -1;
}

qint64 HTTPStream::rawRecv(char* data, qint64 length, int* err)
{
    // -2: nothing now; 0: the peer closed; -1: failure in *err.
    *err = 0;
    if (m_ssl) {
        ERR_clear_error();
        m_sslWantsWriteForRead = false;
        const int n = SSL_read(m_ssl, data, int(length));
        if (n > 0)
            return n;
        const int e = SSL_get_error(m_ssl, n);
        if (e == SSL_ERROR_WANT_READ)
            return -2;
        if (e == SSL_ERROR_WANT_WRITE) {
            m_sslWantsWriteForRead = true;
            return -2;
        }
        if (e == SSL_ERROR_ZERO_RETURN)
            return 0;
        // A peer that closes without close_notify ends an until-close body all the same.
        if (e == SSL_ERROR_SYSCALL && errno == 0)
            return 0;
        *err = e == SSL_ERROR_SYSCALL ? errno : ECONNRESET;
        return -1;
    }
    const ssize_t n = ::recv(m_fd, data, size_t(length), 0);
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return -2;
    *err = errno;
    return -1;
}

void HTTPStream::doWrite()
{
    while (m_state == State::Open) {
        if (m_out.isEmpty()) {
            if (m_bodyDone)
                return;
            m_out.resize(BodyPiece);
            const qint64 got = m_body(m_out.data(), BodyPiece);
            if (got < 0) {
                m_out.clear();
                failWith(Error{ErrorDomain, BodyReadFailed, QStringLiteral("The request body could not be read")});
                return;
            }
            m_out.truncate(qsizetype(got));
            if (got == 0) {
                m_bodyDone = true;
                return;
            }
        }
        int err = 0;
        const qint64 n = rawSend(m_out.constData(), m_out.size(), &err);
        if (n < 0) {
            // A server may answer and close before taking the whole body: what it said counts.
            if (m_parser.headersComplete() || !m_parser.sawNothing()) {
                m_bodyDone = true;
                m_out.clear();
                return;
            }
            failWith(Error::posix(err, QStringLiteral("send")));
            return;
        }
        if (n == 0)
            return;
        const qint64 headPart = std::min<qint64>(n, m_headLeft);
        m_headLeft -= headPart;
        m_bodyWritten += n - headPart;
        m_out.remove(0, qsizetype(n));
    }
}

void HTTPStream::doRead()
{
    char buffer[ReadPiece];
    while (m_state == State::Open && m_scheduled && m_parser.bufferedBodySize() < MaxBufferedBody
           && !m_parser.isComplete()) {
        int err = 0;
        const qint64 n = rawRecv(buffer, sizeof buffer, &err);
        if (n == -2)
            return;
        if (n < 0) {
            failWith(Error::posix(err, QStringLiteral("recv")));
            return;
        }
        if (n == 0) {
            m_parser.finishInput();
            if (m_parser.failed()) {
                failWith(m_parser.sawNothing()
                             ? Error{ErrorDomain, ConnectionLostBeforeResponse,
                                     QStringLiteral("The connection was lost before the response")}
                             : Error{ErrorDomain, MalformedResponse, m_parser.error()});
            } else {
                closeSocket(); // the body ran until the close
            }
            return;
        }
        if (!m_parser.feed(buffer, n)) {
            failWith(Error{ErrorDomain, MalformedResponse, m_parser.error()});
            return;
        }
    }
    if (m_parser.isComplete() && m_fd >= 0)
        finishCleanly();
}

void HTTPStream::updateEvents()
{
    if (m_fd < 0 || m_state != State::Open)
        return;
    short events = 0;
    if (!m_out.isEmpty() || !m_bodyDone)
        events |= m_sslWantsReadForWrite ? POLLIN : POLLOUT;
    if (m_scheduled && m_parser.bufferedBodySize() < MaxBufferedBody && !m_parser.isComplete())
        events |= m_sslWantsWriteForRead ? POLLOUT : POLLIN;
    m_loop.setEvents(m_fd, events);
}

void HTTPStream::notify()
{
    if (!m_scheduled || !m_client)
        return;
    const std::weak_ptr<int> alive = m_alive;
    if (m_error) {
        if (!m_errorReported) {
            m_errorReported = true;
            m_client(Event::ErrorOccurred);
        }
        return;
    }
    if (m_parser.headersComplete() && (m_parser.bufferedBodySize() > 0 || !m_headersReported)) {
        m_headersReported = true;
        m_client(Event::HasBytesAvailable);
        if (alive.expired())
            return;
        if (m_parser.bufferedBodySize() > 0 && m_scheduled && !m_notifyPosted) {
            // The client read less than there is: it hears again on the next turn.
            m_notifyPosted = true;
            m_loop.post([this, alive] {
                if (alive.expired())
                    return;
                m_notifyPosted = false;
                updateEvents();
                notify();
            });
            return;
        }
    }
    if (m_parser.isComplete() && m_parser.bufferedBodySize() == 0 && !m_endReported) {
        m_endReported = true;
        m_client(Event::EndEncountered);
    }
}

} // namespace platform
