// Fakes for the welcome window, rate prompt and empty-library view tests: a reachability
// answered by the test, a one-page HTTP server on 127.0.0.1, and a workspace whose launches
// are recorded.
#pragma once

#include "../RecordingWorkspace.h"
#include "Dialogs/Welcome/Reachability.h"

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <memory>

namespace welcometest {

class FakeReachability final : public Reachability {
public:
    QStringList asked;

    void check(const QString& host, std::function<void(bool)> done) override
    {
        asked << host;
        m_pending = std::move(done);
    }
    // Answers the last question, if one is open.
    void answer(bool reachable)
    {
        if (auto done = std::exchange(m_pending, nullptr))
            done(reachable);
    }

private:
    std::function<void(bool)> m_pending;
};

// Answers every request with one fixed response and counts the requests.
class OnePageServer {
public:
    explicit OnePageServer(QByteArray response) : m_response(std::move(response))
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                auto request = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                    *request += socket->readAll();
                    if (!request->contains("\r\n\r\n"))
                        return;
                    ++requests;
                    socket->write(m_response);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    int requests = 0;

private:
    QTcpServer m_server;
    QByteArray m_response;
};

inline QByteArray httpResponse(const QByteArray& type, const QByteArray& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size())
           + "\r\nConnection: close\r\n\r\n" + body;
}

using dialogtest::RecordingWorkspace;

} // namespace welcometest
