#include "Support/HTTPTestServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

namespace testsupport {

struct HTTPTestServer::Connection {
    int fd = -1;
    SSL* ssl = nullptr;
};

namespace {

// A P-256 key and a certificate for 127.0.0.1 signed by itself, valid for a day.
SSL_CTX* makeSelfSignedContext(QByteArray* pem)
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    if (X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "IP:127.0.0.1")) {
        X509_add_ext(cert, san, -1);
        X509_EXTENSION_free(san);
    }
    X509_sign(cert, key, EVP_sha256());
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    *pem = QByteArray(data, int(len));
    BIO_free(bio);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ctx;
}

} // namespace

QByteArray HTTPTestRequest::header(const QByteArray& name) const
{
    for (const auto& [n, v] : headers)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

bool HTTPTestRequest::hasHeader(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

HTTPTestResponse HTTPTestResponse::make(int status, const QByteArray& body,
                                        const QList<QPair<QByteArray, QByteArray>>& headers)
{
    HTTPTestResponse r;
    r.raw = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
    bool hasLength = false;
    for (const auto& [n, v] : headers) {
        r.raw += n + ": " + v + "\r\n";
        hasLength = hasLength || n.compare("Content-Length", Qt::CaseInsensitive) == 0;
    }
    if (!hasLength)
        r.raw += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    r.raw += "\r\n" + body;
    return r;
}

HTTPTestResponse HTTPTestResponse::chunked(int status, const QByteArray& body, int chunkSize,
                                           const QList<QPair<QByteArray, QByteArray>>& headers)
{
    HTTPTestResponse r;
    r.raw = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nTransfer-Encoding: chunked\r\n";
    for (const auto& [n, v] : headers)
        r.raw += n + ": " + v + "\r\n";
    r.raw += "\r\n";
    for (qsizetype at = 0; at < body.size(); at += chunkSize) {
        const QByteArray piece = body.mid(at, chunkSize);
        r.raw += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
    }
    r.raw += "0\r\n\r\n";
    return r;
}

QByteArray HTTPTestResponse::gzip(const QByteArray& data)
{
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))) + 64, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

HTTPTestServer::HTTPTestServer(Handler handler, Security security) : m_handler(std::move(handler))
{
    if (security == Security::SelfSignedTLS)
        m_tlsContext = makeSelfSignedContext(&m_certificatePem);
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        return;
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listenFd, 128) != 0)
        return;
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

HTTPTestServer::~HTTPTestServer()
{
    if (m_stopPipe[1] >= 0)
        [[maybe_unused]] auto n = ::write(m_stopPipe[1], "x", 1);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        for (int fd : m_fds)
            ::shutdown(fd, SHUT_RDWR);
        threads.swap(m_threads);
    }
    for (auto& t : threads)
        t.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    for (int fd : m_stopPipe)
        if (fd >= 0)
            ::close(fd);
    if (m_tlsContext)
        SSL_CTX_free(static_cast<SSL_CTX*>(m_tlsContext));
}

QUrl HTTPTestServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(m_tlsContext ? "https" : "http").arg(m_port).arg(path));
}

std::vector<HTTPTestRequest> HTTPTestServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int HTTPTestServer::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_requests.size());
}

bool HTTPTestServer::waitStop(int ms)
{
    pollfd p{m_stopPipe[0], POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

void HTTPTestServer::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int number = ++m_connections;
        std::lock_guard lock(m_mutex);
        m_fds.push_back(fd);
        m_threads.emplace_back([this, fd, number] { serve(fd, number); });
    }
}

bool HTTPTestServer::sendAll(Connection& c, const QByteArray& bytes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype n = c.ssl ? SSL_write(c.ssl, bytes.constData() + at, int(bytes.size() - at))
                                  : ::send(c.fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        at += n;
    }
    return true;
}

bool HTTPTestServer::receive(Connection& c, QByteArray& in)
{
    if (!(c.ssl && SSL_pending(c.ssl) > 0)) {
        pollfd fds[2] = {{c.fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents)
            return false;
    }
    char buf[65536];
    const qsizetype n = c.ssl ? SSL_read(c.ssl, buf, sizeof buf) : ::recv(c.fd, buf, sizeof buf, 0);
    if (n <= 0)
        return false;
    in.append(buf, n);
    return true;
}

void HTTPTestServer::serve(int fd, int number)
{
    Connection c;
    c.fd = fd;
    struct SslFree {
        Connection& c;
        ~SslFree() { SSL_free(c.ssl); }
    } sslFree{c};
    if (m_tlsContext) {
        c.ssl = SSL_new(static_cast<SSL_CTX*>(m_tlsContext));
        SSL_set_fd(c.ssl, fd);
        // The handshake fails for clients that refuse the certificate; that is their answer.
        if (SSL_accept(c.ssl) != 1)
            return;
    }
    QByteArray in;
    for (;;) {
        // One request: the head, then a body of Content-Length bytes.
        qsizetype headEnd = -1;
        while ((headEnd = in.indexOf("\r\n\r\n")) < 0)
            if (!receive(c, in))
                return;
        HTTPTestRequest request;
        request.connection = number;
        const QList<QByteArray> lines = in.left(headEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        request.version = first.value(2);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        in.remove(0, headEnd + 4);
        const qsizetype length = request.header("Content-Length").toLongLong();
        while (in.size() < length)
            if (!receive(c, in))
                return;
        request.body = in.left(length);
        in.remove(0, length);
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }
        HTTPTestResponse response = m_handler(request);
        // A server that closes says so, as HTTP/1.1 servers do, unless the script lies.
        if (response.ending == HTTPTestResponse::Ending::Close && response.raw.startsWith("HTTP/1.1")
            && !response.raw.left(response.raw.indexOf("\r\n\r\n")).contains("\r\nConnection:")) {
            const qsizetype lineEnd = response.raw.indexOf("\r\n");
            if (lineEnd > 0)
                response.raw.insert(lineEnd + 2, "Connection: close\r\n");
        }
        if (!sendAll(c, response.raw))
            return;
        for (const auto& [delay, piece] : response.pieces) {
            if (delay > 0 && waitStop(delay))
                return;
            if (!sendAll(c, piece))
                return;
        }
        switch (response.ending) {
        case HTTPTestResponse::Ending::KeepAlive:
            continue;
        case HTTPTestResponse::Ending::Close:
            if (c.ssl)
                SSL_shutdown(c.ssl);
            ::shutdown(fd, SHUT_WR);
            // Drain until the client closes, so the close is never a reset.
            for (;;) {
                pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
                if (::poll(fds, 2, 5000) <= 0 || fds[1].revents)
                    return;
                char buf[4096];
                if (::recv(fd, buf, sizeof buf, 0) <= 0)
                    return;
            }
        case HTTPTestResponse::Ending::Reset: {
            linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
        case HTTPTestResponse::Ending::Silent:
            waitStop(-1);
            return;
        }
    }
}

} // namespace testsupport

namespace testsupport {

namespace {
int connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(quint16(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendBytes(int fd, const QByteArray& bytes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        at += n;
    }
    return true;
}
} // namespace

HTTPTestProxy::HTTPTestProxy(Kind kind, QByteArray requiredAuthorization)
    : m_kind(kind), m_requiredAuthorization(std::move(requiredAuthorization))
{
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        return;
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listenFd, 64) != 0)
        return;
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_acceptThread = std::thread([this] {
        for (;;) {
            pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
            if ((::poll(fds, 2, -1) < 0 && errno != EINTR) || fds[1].revents)
                return;
            if (!(fds[0].revents & POLLIN))
                continue;
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::lock_guard lock(m_mutex);
            m_fds.push_back(fd);
            m_threads.emplace_back([this, fd] {
                serve(fd);
                ::shutdown(fd, SHUT_RDWR);
            });
        }
    });
}

HTTPTestProxy::~HTTPTestProxy()
{
    if (m_stopPipe[1] >= 0)
        [[maybe_unused]] auto n = ::write(m_stopPipe[1], "x", 1);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        for (int fd : m_fds)
            ::shutdown(fd, SHUT_RDWR);
        threads.swap(m_threads);
    }
    for (auto& t : threads)
        t.join();
    for (int fd : m_fds)
        ::close(fd);
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    for (int fd : m_stopPipe)
        if (fd >= 0)
            ::close(fd);
}

QList<QByteArray> HTTPTestProxy::seen() const
{
    std::lock_guard lock(m_mutex);
    return m_seen;
}

void HTTPTestProxy::note(const QByteArray& what)
{
    std::lock_guard lock(m_mutex);
    m_seen.append(what);
}

bool HTTPTestProxy::readUntil(int fd, QByteArray& in, const std::function<bool(const QByteArray&)>& done)
{
    while (!done(in)) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, 10000) <= 0 || fds[1].revents)
            return false;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        in.append(buf, n);
    }
    return true;
}

void HTTPTestProxy::relay(int a, int b)
{
    for (;;) {
        pollfd fds[3] = {{a, POLLIN, 0}, {b, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 3, 10000) <= 0 || fds[2].revents)
            return;
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents)
                continue;
            char buf[65536];
            const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
            if (n <= 0 || !sendBytes(i == 0 ? b : a, QByteArray(buf, int(n))))
                return;
        }
    }
}

void HTTPTestProxy::serve(int fd)
{
    QByteArray in;
    if (m_kind != Kind::HTTP) {
        if (!readUntil(fd, in, [](const QByteArray& b) { return b.size() >= 3; }))
            return;
        sendBytes(fd, m_kind == Kind::SOCKS5WrongMethod ? QByteArray("\x05\x02", 2) : QByteArray("\x05\x00", 2));
        in.clear();
        if (!readUntil(fd, in, [](const QByteArray& b) { return b.size() >= 5 && b.size() >= 5 + quint8(b[4]) + 2; }))
            return;
        const QByteArray host = in.mid(5, quint8(in[4]));
        const int port = (quint8(in[5 + host.size()]) << 8) | quint8(in[6 + host.size()]);
        note(host + ':' + QByteArray::number(port));
        const int target = host == "127.0.0.1" ? connectLoopback(port) : -1;
        if (target < 0) {
            sendBytes(fd, QByteArray("\x05\x05\x00\x01\x00\x00\x00\x00\x00\x00", 10));
            return;
        }
        sendBytes(fd, QByteArray("\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x00", 10));
        relay(fd, target);
        ::close(target);
        return;
    }
    for (;;) {
        if (!readUntil(fd, in, [](const QByteArray& b) { return b.contains("\r\n\r\n"); }))
            return;
        const qsizetype end = in.indexOf("\r\n\r\n");
        const QByteArray head = in.left(end);
        in.remove(0, end + 4);
        const QByteArray line = head.left(head.indexOf("\r\n"));
        note(line);
        QByteArray authorization;
        for (const QByteArray& field : head.split('\n'))
            if (field.toLower().startsWith("proxy-authorization:"))
                authorization = field.mid(20).trimmed();
        if (!m_requiredAuthorization.isEmpty() && authorization != m_requiredAuthorization) {
            sendBytes(fd, "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"proxy\"\r\n"
                          "Content-Length: 0\r\n\r\n");
            continue;
        }
        if (line.startsWith("CONNECT ")) {
            const QByteArray authority = line.split(' ').value(1);
            const qsizetype colon = authority.lastIndexOf(':');
            const int target = authority.left(colon) == "127.0.0.1" ? connectLoopback(authority.mid(colon + 1).toInt()) : -1;
            if (target < 0) {
                sendBytes(fd, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
                return;
            }
            sendBytes(fd, "HTTP/1.1 200 Connection established\r\n\r\n");
            relay(fd, target);
            ::close(target);
            return;
        }
        const QByteArray body = "proxied " + line;
        sendBytes(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        return;
    }
}

} // namespace testsupport
