// One HTTP/1.1 exchange over one connection, plain or TLS (OpenSSL), driven by an HTTPRunLoop:
// it connects, sends the request line, the header fields and the body (pulled from a reader
// only as fast as the socket takes it), and reads the response through HTTPResponseParser.
// Events go to one client callback on the loop's thread, like a read stream's events.
//
// TLS checks the peer against the system's CA store and the host name unless the request says
// not to; a client identity comes from a PEM file (certificate chain and key) or PKCS#12.
//
// Threads: a stream belongs to the thread of its loop; every call is made there. The client
// callback may close or destroy the stream.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/HTTPStream/HTTPHeaders.h"
#include "Platform/HTTPStream/HTTPResponseParser.h"

#include <QByteArray>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace platform {

class HTTPRunLoop;

// The proxy an exchange goes through: an HTTP proxy (requests in absolute form for http, a
// CONNECT tunnel for https) or a SOCKS5 proxy (no authentication).
struct HTTPProxySettings {
    enum class Type { None, HTTP, SOCKS };
    Type type = Type::None;
    QString host;
    int port = 0;
    QString authorization; // a Proxy-Authorization value, sent to an HTTP proxy
};

struct HTTPRequestMessage {
    HTTPProxySettings proxy;
    QByteArray method = "GET";
    QUrl url;
    bool httpVersionOne = false; // sends HTTP/1.0
    HTTPHeaders headers;
};

struct HTTPStreamTLSSettings {
    bool validatesCertificate = true;
    // A PEM file with the certificate chain and the key, or a PKCS#12 file (.p12, .pfx).
    QString clientIdentityPath;
    QString clientIdentityPassword;
};

// A live connection kept open between exchanges with one server.
struct HTTPConnection {
    int fd = -1;
    SSL* ssl = nullptr;
    SSL_CTX* ctx = nullptr;
    HTTPConnection() = default;
    HTTPConnection(const HTTPConnection&) = delete;
    HTTPConnection& operator=(const HTTPConnection&) = delete;
    ~HTTPConnection();
    // Still open and quiet: a peer that closed it, or sent bytes nobody asked for, makes it
    // unfit for another request.
    bool isUsable() const;
};

class HTTPStream {
public:
    enum class Event { HasBytesAvailable, EndEncountered, ErrorOccurred };
    // Fills at most max bytes of the body; 0 at its end, -1 on failure.
    using BodyReader = std::function<qint64(char* buffer, qint64 max)>;

    static inline const QString ErrorDomain = QStringLiteral("HTTPStream");
    // TLS failures; codes -9818 to -9800, as the request's "SSL problem" text expects.
    static inline const QString TLSErrorDomain = QStringLiteral("TLS");
    enum ErrorCode {
        ConnectionLostBeforeResponse = 1,
        MalformedResponse = 2,
        HostNotFound = 3,
        BodyReadFailed = 4,
        UnsupportedScheme = 5,
        ProxyFailed = 6,
    };
    enum TLSErrorCode {
        TLSProtocolError = -9800,
        TLSHandshakeFailed = -9806,
        TLSCertificateRejected = -9807,
        TLSClientIdentityFailed = -9808,
    };

    // A proxy's answer to CONNECT may be at most this long.
    static constexpr qsizetype MaxProxyAnswer = 16 * 1024;
    // The length of a complete SOCKS5 reply at the start of bytes: 0 while more are needed,
    // -1 when the bytes are no reply.
    static qsizetype socksReplyLength(const QByteArray& bytes);
    // The status of a complete CONNECT answer: 0 while more is needed, -1 when malformed.
    static int tunnelStatus(const QByteArray& bytes);

    // Response bytes read from the socket wait in the parser up to this much before reading
    // pauses: back-pressure for a reader that takes its time.
    static constexpr qsizetype MaxBufferedBody = 512 * 1024;

    HTTPStream(HTTPRunLoop& loop, HTTPRequestMessage message, BodyReader body = {}, HTTPStreamTLSSettings tls = {});
    ~HTTPStream();
    HTTPStream(const HTTPStream&) = delete;
    HTTPStream& operator=(const HTTPStream&) = delete;

    void setClient(std::function<void(Event)> client) { m_client = std::move(client); }

    // A kept-open connection to send on instead of connecting; used when it is still usable.
    void setReusableConnection(std::shared_ptr<HTTPConnection> connection) { m_reuse = std::move(connection); }
    // After a complete response: the connection, for the next request to the same server.
    // None when the exchange did not end cleanly or the body ran until the connection closed.
    std::shared_ptr<HTTPConnection> detachConnection();
    // Whether open() took a kept-open connection.
    bool reusedConnection() const { return m_reused; }

    // Starts connecting. False (with error()) when no connection can be started at all.
    bool open();
    void close();

    // An unscheduled stream neither reads nor reports; bytes wait in the socket.
    void setScheduled(bool scheduled);
    bool isScheduled() const { return m_scheduled; }

    bool hasBytesAvailable() const { return m_parser.bufferedBodySize() > 0; }
    QByteArray read(qint64 max);

    const HTTPResponseParser& response() const { return m_parser; }
    // Body bytes the socket has taken.
    qint64 bytesWritten() const { return m_bodyWritten; }
    std::optional<Error> error() const { return m_error; }

private:
    enum class State { Idle, Connecting, Proxying, Handshake, Open, Done, Closed };
    enum class ProxyStep { SocksGreeting, SocksConnect, Tunnel };

    void onEvents(short revents);
    void onConnected();
    void doHandshake();
    void doProxying();
    void afterProxy();
    void doWrite();
    void doRead();
    void updateEvents();
    void failWith(const Error& error);
    void closeSocket();
    void finishCleanly();
    QByteArray buildHead() const;
    void notify();
    bool setUpTLS();
    Error tlsError(int code, const QString& what) const;
    qint64 rawSend(const char* data, qint64 length, int* err);
    qint64 rawRecv(char* data, qint64 length, int* err);

    HTTPRunLoop& m_loop;
    HTTPRequestMessage m_message;
    BodyReader m_body;
    HTTPStreamTLSSettings m_tls;
    std::function<void(Event)> m_client;

    State m_state = State::Idle;
    int m_fd = -1;
    bool m_https = false;
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    bool m_sslWantsWriteForRead = false;
    bool m_sslWantsReadForWrite = false;
    bool m_scheduled = true;

    QByteArray m_out;
    qsizetype m_headLeft = 0;
    bool m_bodyDone = false;
    qint64 m_bodyWritten = 0;

    HTTPResponseParser m_parser;
    std::optional<Error> m_error;
    bool m_errorReported = false;
    bool m_headersReported = false;
    bool m_endReported = false;
    bool m_notifyPosted = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    std::shared_ptr<HTTPConnection> m_reuse;
    ProxyStep m_proxyStep = ProxyStep::SocksGreeting;
    QByteArray m_proxyOut;
    QByteArray m_proxyIn;
    bool m_reused = false;
};

} // namespace platform
