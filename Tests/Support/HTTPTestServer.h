// A scripted HTTP/1.1 server on 127.0.0.1 for tests of the HTTP client: each request is
// answered by a handler with raw bytes, followed by pieces sent after delays (slow drip), and
// then the connection is kept for the next request, closed, reset or left silent.
//
// Each connection runs on a thread of its own; the destructor closes everything and joins.
// Threads: the handler runs on a connection's thread; the record of requests is under a lock.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

struct HTTPTestRequest {
    QByteArray method;
    QByteArray target;
    QByteArray version;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    int connection = 0; // the number of the connection it came on, from 1

    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
};

struct HTTPTestResponse {
    enum class Ending { Close, KeepAlive, Reset, Silent };

    QByteArray raw;
    // Sent after raw, each after its delay in milliseconds.
    std::vector<std::pair<int, QByteArray>> pieces;
    // Close adds "Connection: close" to an HTTP/1.1 head that has no Connection field.
    Ending ending = Ending::Close;

    // "HTTP/1.1 <status> <reason>" with Content-Length, the extra fields and the body.
    static HTTPTestResponse make(int status, const QByteArray& body = {},
                                 const QList<QPair<QByteArray, QByteArray>>& headers = {});
    // The body in chunks of the given size, with Transfer-Encoding: chunked.
    static HTTPTestResponse chunked(int status, const QByteArray& body, int chunkSize,
                                    const QList<QPair<QByteArray, QByteArray>>& headers = {});
    static QByteArray gzip(const QByteArray& data);
};

class HTTPTestServer {
public:
    using Handler = std::function<HTTPTestResponse(const HTTPTestRequest&)>;
    enum class Security { Plain, SelfSignedTLS };

    // SelfSignedTLS: a key and a certificate for 127.0.0.1 made for this server alone.
    explicit HTTPTestServer(Handler handler, Security security = Security::Plain);
    ~HTTPTestServer();
    HTTPTestServer(const HTTPTestServer&) = delete;
    HTTPTestServer& operator=(const HTTPTestServer&) = delete;

    quint16 port() const { return m_port; }
    QUrl url(const QString& path = QStringLiteral("/")) const;
    // The server's certificate (PEM), for clients that should trust it.
    QByteArray certificatePem() const { return m_certificatePem; }
    std::vector<HTTPTestRequest> requests() const;
    int requestCount() const;
    int connectionCount() const { return m_connections.load(); }

private:
    void acceptLoop();
    struct Connection;
    void serve(int fd, int number);
    bool sendAll(Connection& c, const QByteArray& bytes);
    // Bytes read into in; false when the peer closed, failed or the server stops.
    bool receive(Connection& c, QByteArray& in);
    // Waits up to ms for the stop signal; true when the server is stopping.
    bool waitStop(int ms);

    Handler m_handler;
    void* m_tlsContext = nullptr; // SSL_CTX
    QByteArray m_certificatePem;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    quint16 m_port = 0;
    std::thread m_acceptThread;
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex; // guards m_requests, m_threads, m_fds
    std::vector<HTTPTestRequest> m_requests;
    std::vector<std::thread> m_threads;
    std::vector<int> m_fds;
};

} // namespace testsupport

namespace testsupport {

// A proxy on 127.0.0.1 for the client's proxy paths: an HTTP proxy (answers absolute-form
// requests itself with "proxied <request line>", tunnels CONNECT) or a SOCKS5 proxy. Tunnels
// lead only to 127.0.0.1. With a required authorization, requests without that
// Proxy-Authorization value get 407 and a Basic challenge.
class HTTPTestProxy {
public:
    enum class Kind { HTTP, SOCKS5, SOCKS5WrongMethod };

    explicit HTTPTestProxy(Kind kind, QByteArray requiredAuthorization = {});
    ~HTTPTestProxy();
    HTTPTestProxy(const HTTPTestProxy&) = delete;
    HTTPTestProxy& operator=(const HTTPTestProxy&) = delete;

    quint16 port() const { return m_port; }
    // Request lines (HTTP) and "host:port" targets (CONNECT, SOCKS) seen, in order.
    QList<QByteArray> seen() const;

private:
    void serve(int fd);
    void relay(int a, int b);
    bool readUntil(int fd, QByteArray& in, const std::function<bool(const QByteArray&)>& done);
    void note(const QByteArray& what);

    Kind m_kind;
    QByteArray m_requiredAuthorization;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    quint16 m_port = 0;
    std::thread m_acceptThread;
    mutable std::mutex m_mutex; // guards m_seen, m_threads, m_fds
    QList<QByteArray> m_seen;
    std::vector<std::thread> m_threads;
    std::vector<int> m_fds;
};

} // namespace testsupport
