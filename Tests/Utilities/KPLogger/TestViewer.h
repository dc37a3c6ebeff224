// A log viewer for tests: a TCP server on 127.0.0.1, with TLS over a self-signed certificate
// made on the spot, that records every byte each connection sends.
//
// It serves one connection at a time on a thread of its own. Reading can be paused, so a
// client's writes pile up and block, and the current connection can be reset at once.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class TestViewer {
public:
    explicit TestViewer(bool tls = true);
    ~TestViewer();
    TestViewer(const TestViewer&) = delete;
    TestViewer& operator=(const TestViewer&) = delete;

    quint16 port() const { return m_port; }
    int connectionCount() const;
    bool isConnected() const { return m_connected.load(); }
    // The bytes the n-th connection (from 0) sent so far, and its whole records.
    QByteArray received(int connection) const;
    QList<QByteArray> records(int connection) const;
    // The messages (key 7 texts) of a connection's records, "" for records without one.
    QStringList messages(int connection) const;

    // While paused, nothing is read from the connection (the handshake still completes).
    void setReading(bool reading);
    // Resets the current connection; with stopListening no further connection is taken.
    void dropConnection(bool stopListening = false);

private:
    void run();
    void serve(int fd);

    bool m_tls;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    quint16 m_port = 0;
    void* m_context = nullptr; // SSL_CTX
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_reading{true};
    std::atomic<bool> m_drop{false};
    std::atomic<bool> m_stopListening{false};
    std::atomic<bool> m_connected{false};
    mutable std::mutex m_mutex;
    QList<QByteArray> m_received;
    std::thread m_thread;
};
