#include "TestViewer.h"

#include "LogTestHelpers.h"

#include <QStringList>
#include <QtEndian>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A small receive buffer makes a client's writes block soon once reading pauses.
constexpr int kReceiveBufferBytes = 4096;

SSL_CTX* makeServerContext()
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Test viewer"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ctx;
}

} // namespace

TestViewer::TestViewer(bool tls)
    : m_tls(tls)
{
    ::signal(SIGPIPE, SIG_IGN); // the test's own server writes to clients that may be gone
    if (tls)
        m_context = makeServerContext();
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(m_listenFd, 4);
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    (void)!::pipe2(m_wakePipe, O_CLOEXEC);
    m_thread = std::thread([this] { run(); });
}

TestViewer::~TestViewer()
{
    m_quit = true;
    (void)!::write(m_wakePipe[1], "q", 1);
    m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
    if (m_context)
        SSL_CTX_free(static_cast<SSL_CTX*>(m_context));
}

int TestViewer::connectionCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_received.size());
}

QByteArray TestViewer::received(int connection) const
{
    std::lock_guard lock(m_mutex);
    return m_received.value(connection);
}

QList<QByteArray> TestViewer::records(int connection) const
{
    // A connection still receiving may end inside a record: only the whole ones count.
    QByteArray bytes = received(connection);
    QList<QByteArray> out;
    while (bytes.size() >= 4) {
        const qsizetype len = qsizetype(qFromBigEndian<quint32>(bytes.constData())) + 4;
        if (bytes.size() < len)
            break;
        out.append(bytes.left(len));
        bytes.remove(0, len);
    }
    return out;
}

QStringList TestViewer::messages(int connection) const
{
    QStringList out;
    for (const QByteArray& r : records(connection))
        out.append(logtest::text(r, KPLogRecord::KeyMessage).value_or(QString()));
    return out;
}

void TestViewer::setReading(bool reading)
{
    m_reading = reading;
    (void)!::write(m_wakePipe[1], "r", 1);
}

void TestViewer::dropConnection(bool stopListening)
{
    m_stopListening = m_stopListening || stopListening;
    m_drop = true;
    (void)!::write(m_wakePipe[1], "d", 1);
}

void TestViewer::run()
{
    while (!m_quit) {
        pollfd fds[2] = {{m_wakePipe[0], POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (fds[0].revents & POLLIN) {
            char c[16];
            (void)!::read(m_wakePipe[0], c, sizeof c);
        }
        if (m_stopListening && m_listenFd >= 0) {
            ::close(m_listenFd);
            m_listenFd = -1;
        }
        if (m_listenFd < 0 || !(fds[1].revents & POLLIN))
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(m_mutex);
            m_received.append(QByteArray());
        }
        m_drop = false;
        m_connected = true;
        serve(fd);
        m_connected = false;
    }
}

void TestViewer::serve(int fd)
{
    SSL* ssl = nullptr;
    if (m_tls) {
        ssl = SSL_new(static_cast<SSL_CTX*>(m_context));
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            ::close(fd);
            return;
        }
    }
    char buffer[16384];
    while (!m_quit && !m_drop) {
        pollfd fds[2] = {{m_wakePipe[0], POLLIN, 0}, {fd, short(m_reading ? POLLIN : 0), 0}};
        // TLS may already hold decrypted bytes that poll cannot see.
        if (!(ssl && m_reading && SSL_pending(ssl) > 0))
            ::poll(fds, 2, -1);
        if (fds[0].revents & POLLIN) {
            char c[16];
            (void)!::read(m_wakePipe[0], c, sizeof c);
            continue;
        }
        if (!m_reading)
            continue;
        const int n = ssl ? SSL_read(ssl, buffer, sizeof buffer) : int(::recv(fd, buffer, sizeof buffer, 0));
        if (n <= 0)
            break;
        std::lock_guard lock(m_mutex);
        m_received.last().append(buffer, n);
    }
    if (m_drop) {
        // A reset, as when a viewer quits abruptly: the client's pending writes fail at once.
        linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    if (ssl)
        SSL_free(ssl);
    ::close(fd);
}
