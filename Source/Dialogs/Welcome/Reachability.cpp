#include "Dialogs/Welcome/Reachability.h"

#include <QTcpSocket>
#include <QTimer>
#include <memory>

Reachability& Reachability::system()
{
    static TcpReachability reachability;
    return reachability;
}

void TcpReachability::check(const QString& host, std::function<void(bool)> done)
{
    auto* socket = new QTcpSocket();
    auto* timer = new QTimer(socket);
    timer->setSingleShot(true);
    // The first of connected, error or time-out answers; the socket goes with the answer.
    auto answer = std::make_shared<std::function<void(bool)>>(std::move(done));
    auto finish = [socket, answer](bool reachable) {
        if (!*answer)
            return;
        auto callback = std::move(*answer);
        *answer = nullptr;
        socket->abort();
        socket->deleteLater();
        callback(reachable);
    };
    QObject::connect(socket, &QTcpSocket::connected, socket, [finish] { finish(true); });
    QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [finish] { finish(false); });
    QObject::connect(timer, &QTimer::timeout, socket, [finish] { finish(false); });
    timer->start(m_timeoutMs);
    // Deferred so that even an immediate failure answers after check has returned.
    QTimer::singleShot(0, socket, [socket, host, port = m_port] { socket->connectToHost(host, port); });
}
