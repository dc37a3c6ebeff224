// The write stream to a log viewer: a TCP connection, optionally wrapped in TLS that does not
// validate the viewer's certificate (viewers use self-signed ones).
//
// The logger's worker drives it without ever blocking: the socket is non-blocking, the worker
// polls the descriptor for pollEvents() and hands what poll reported to handle(), which advances
// the connect and the TLS handshake and answers the stream event that resulted. Whatever the
// viewer sends is read and thrown away, so that its end of the connection is noticed. Writes
// never raise SIGPIPE (MSG_NOSIGNAL, also under TLS through a small socket BIO of our own).
//
// Threads: one owner thread (the worker).
#pragma once

#include <QHostAddress>
#include <QList>
#include <chrono>
#include <memory>
#include <sys/types.h>

typedef struct ssl_st SSL;

class KPLogStream {
public:
    // A viewer that accepts the connection but never completes it is given up after this long.
    static constexpr std::chrono::seconds kOpenTimeout{10};

    enum class Event { None, OpenCompleted, CanAcceptBytes, ErrorOccurred, EndEncountered };

    // Starts connecting to the first address that takes a connect; the others are tried in turn
    // when one fails. Null when no address could even be started.
    static std::unique_ptr<KPLogStream> open(const QList<QHostAddress>& addresses, quint16 port,
                                             bool useTLS);
    ~KPLogStream();
    KPLogStream(const KPLogStream&) = delete;
    KPLogStream& operator=(const KPLogStream&) = delete;

    int descriptor() const { return m_fd; }
    // The poll events the stream waits for now (never 0 while it is alive).
    short pollEvents() const;
    // Advances after poll reported revents on the descriptor (0 for a check without poll).
    Event handle(short revents);

    bool isOpen() const { return m_state == State::Open; }
    bool canAcceptBytes() const { return m_state == State::Open && !m_writeBlocked; }
    std::chrono::steady_clock::time_point openDeadline() const { return m_openDeadline; }

    // Bytes taken (> 0), 0 when the stream cannot take any now, -1 on a failed connection.
    qsizetype write(const char* data, qsizetype size);

private:
    enum class State { Connecting, Handshaking, Open, Failed, Ended };

    KPLogStream(QList<QHostAddress> addresses, quint16 port, bool useTLS);
    bool connectNextAddress();
    Event startTLS();
    Event stepHandshake();
    Event drainIncoming();
    void closeSocket();

    QList<QHostAddress> m_addresses;
    quint16 m_port = 0;
    bool m_useTLS = false;
    State m_state = State::Connecting;
    int m_fd = -1;
    SSL* m_ssl = nullptr;
    bool m_handshakeWantsRead = false;
    bool m_writeBlocked = false;
    std::chrono::steady_clock::time_point m_openDeadline;
};
