#include "App/SingleInstance.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Paths.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace {

// How long a second launch waits for the running copy to take its request.
constexpr int kHandOverTimeoutMs = 3000;
// A request is a handful of paths; anything larger is not from us.
constexpr qint64 kMaxRequestBytes = 4 * 1024 * 1024;
const QString kOpen = QStringLiteral("open");
const QString kReopen = QStringLiteral("reopen");

} // namespace

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), m_serverName(std::move(serverName))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultServerName()
{
    // In the per-user private folder: another user, or another session with its own runtime
    // folder (tests), never reaches this copy.
    const auto folder = platform::Paths::temporaryDirectory();
    const QString name = platform::Bundle::mainBundle().bundleIdentifier() + QStringLiteral(".sock");
    if (folder)
        return *folder + QLatin1Char('/') + name;
    return QStringLiteral("folivo2-%1-%2").arg(name).arg(::getuid());
}

bool SingleInstance::claim(const QStringList& paths)
{
    if (handOver(paths))
        return false;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        // Nobody answered, so the socket is a leftover of a copy that ended abnormally.
        QLocalServer::removeServer(m_serverName);
        if (!m_server->listen(m_serverName))
            return true; // run anyway; a second copy is better than none
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return true;
}

void SingleInstance::release()
{
    if (!m_server)
        return;
    m_server->close();
    // Open connections are children of the server's owner: close them so that a sender still
    // waiting for our answer gives up and claims the name itself.
    for (QLocalSocket* socket : findChildren<QLocalSocket*>())
        socket->abort();
    m_server->deleteLater();
    m_server = nullptr;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

bool SingleInstance::handOver(const QStringList& paths)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(kHandOverTimeoutMs))
        return false;
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << (paths.isEmpty() ? kReopen : kOpen) << paths;
    QByteArray frame;
    QDataStream framing(&frame, QIODevice::WriteOnly);
    framing << payload;
    socket.write(frame);
    if (!socket.waitForBytesWritten(kHandOverTimeoutMs))
        return false;
    // The running copy answers with one byte once it has taken the request.
    return socket.waitForReadyRead(kHandOverTimeoutMs) && socket.read(1) == "1";
}

void SingleInstance::readRequest(QLocalSocket* socket)
{
    if (socket->bytesAvailable() > kMaxRequestBytes) {
        socket->abort();
        return;
    }
    QDataStream in(socket);
    in.startTransaction();
    QByteArray payload;
    in >> payload;
    if (!in.commitTransaction())
        return; // wait for the rest
    QDataStream request(payload);
    QString command;
    QStringList paths;
    request >> command >> paths;
    socket->write("1");
    socket->flush();
    if (command == kOpen && onOpenFiles)
        onOpenFiles(paths);
    else if (command == kReopen && onReopen)
        onReopen();
}
