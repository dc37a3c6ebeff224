#include "App/SingleInstance.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Paths.h"

#include "Utilities/KPLogger/KPLogClient.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUuid>
#include <unistd.h>

namespace {

// How long a second launch waits for the running copy to take its request.
constexpr int kHandOverTimeoutMs = 3000;
// A request is a handful of paths; anything larger is not from us.
constexpr qint64 kMaxRequestBytes = 4 * 1024 * 1024;
const QString kOpen = QStringLiteral("open");
const QString kReopen = QStringLiteral("reopen");
const QString kRequestSuffix = QStringLiteral(".request");
// More queued requests than a user can start by hand are not read in one go.
constexpr int kMaxQueuedRequests = 256;

QByteArray requestPayload(const QStringList& paths, const QString& id)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << (paths.isEmpty() ? kReopen : kOpen) << paths << id;
    return payload;
}

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

QString SingleInstance::sidePath(const QString& suffix) const
{
    // QLocalServer puts a bare name into the temporary folder; the side files go beside it.
    const QString socket = QFileInfo(m_serverName).isAbsolute() ? m_serverName
                                                                : QDir::tempPath() + QLatin1Char('/') + m_serverName;
    return socket + suffix;
}

bool SingleInstance::claim(const QStringList& paths)
{
    const QString id = QUuid::createUuid().toString(QUuid::Id128);
    auto lock = platform::FileLock::tryLock(sidePath(QStringLiteral(".lock")));
    if (!lock && lock.error().code == platform::FileLock::kHeldElsewhere) {
        // A live copy holds the name: hand over, or leave the request where it will look.
        if (handOver(paths, id))
            return false;
        if (enqueue(paths, id))
            return false;
        KPLogLogMessage(QStringLiteral("Start-up: the running copy did not answer and the request could not be left for it"));
        return true; // the library lock then stops this copy before it touches anything
    }
    if (lock) {
        m_lock.emplace(std::move(*lock));
        // Nobody holds the lock, so whatever socket is there is a leftover of a copy that ended.
        QLocalServer::removeServer(m_serverName);
    } else if (handOver(paths, id)) {
        return false;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        // Without the lock file we cannot tell a leftover from a live copy; only a copy that
        // holds the lock may remove another's socket.
        if (!m_lock || (QLocalServer::removeServer(m_serverName), !m_server->listen(m_serverName)))
            return true; // run anyway; a second copy is better than none
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    if (m_lock) {
        const QString queue = sidePath(QStringLiteral(".queue"));
        if (QDir().mkpath(queue)) {
            QFile::setPermissions(queue, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            m_queueWatcher = new QFileSystemWatcher({queue}, this);
            connect(m_queueWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { readQueue(); });
        }
        // Requests left while no copy listened, or before this one did.
        QMetaObject::invokeMethod(this, [this] { readQueue(); }, Qt::QueuedConnection);
    }
    return true;
}

QStringList SingleInstance::fileArguments(const QStringList& arguments, const QString& workingFolder)
{
    QStringList paths;
    const QDir base(workingFolder);
    for (const QString& a : arguments.mid(1))
        if (!a.startsWith(QLatin1Char('-')) && !a.isEmpty())
            paths << QDir::cleanPath(base.absoluteFilePath(a));
    return paths;
}

bool SingleInstance::enqueue(const QStringList& paths, const QString& id) const
{
    const QString queue = sidePath(QStringLiteral(".queue"));
    if (!QFileInfo(queue).isDir() && !QDir().mkpath(queue))
        return false;
    // Written whole under another name first: the running copy never reads half a request.
    QSaveFile file(queue + QLatin1Char('/') + id + kRequestSuffix);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(requestPayload(paths, id));
    return file.commit();
}

void SingleInstance::readQueue()
{
    if (!m_lock)
        return;
    const QDir queue(sidePath(QStringLiteral(".queue")));
    const QStringList names =
        queue.entryList({QStringLiteral("*") + kRequestSuffix}, QDir::Files | QDir::NoSymLinks, QDir::Time | QDir::Reversed);
    for (const QString& name : names.mid(0, kMaxQueuedRequests)) {
        QFile file(queue.filePath(name));
        QByteArray payload;
        if (file.size() <= kMaxRequestBytes && file.open(QIODevice::ReadOnly))
            payload = file.readAll();
        file.close();
        QFile::remove(file.fileName());
        if (!payload.isEmpty())
            carryOut(payload);
    }
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
    delete m_queueWatcher;
    m_queueWatcher = nullptr;
    // The next copy takes the name over from here on.
    m_lock.reset();
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

bool SingleInstance::handOver(const QStringList& paths, const QString& id)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(kHandOverTimeoutMs))
        return false;
    const QByteArray payload = requestPayload(paths, id);
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
    socket->write("1");
    socket->flush();
    carryOut(payload);
}

void SingleInstance::carryOut(const QByteArray& payload)
{
    QDataStream request(payload);
    QString command;
    QStringList paths;
    QString id;
    request >> command >> paths;
    // Older copies sent no identifier.
    if (!request.atEnd())
        request >> id;
    // The identifier names a file below: only the form claim() makes is taken.
    static const QRegularExpression idForm(QStringLiteral("^[0-9a-f]{32}$"));
    if (!idForm.match(id).hasMatch())
        id.clear();
    if (!id.isEmpty()) {
        if (m_done.contains(id))
            return;
        m_done.insert(id);
        // The same request may also wait in the queue, left by a sender that gave up on us.
        QFile::remove(sidePath(QStringLiteral(".queue/")) + id + kRequestSuffix);
    }
    if (command == kOpen && onOpenFiles)
        onOpenFiles(paths);
    else if (command == kReopen && onReopen)
        onReopen();
}
