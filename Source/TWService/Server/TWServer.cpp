#include "TWService/Server/TWServer.h"

#include "TWService/Server/TWDataReader.h"

#include <QDir>
#include <QtGlobal>

#include <algorithm>

using platform::DispatchQueue;

namespace {
const QString kDataInfoReader = QStringLiteral("DataInfoReader");
const QString kFileReader = QStringLiteral("FileReader");
const QString kFileUploader = QStringLiteral("FileUploader");
} // namespace

// The listener's delegate and that of connections still waiting for their request type.
class TWServer::Connections : public KPAsyncSocketDelegate {
public:
    explicit Connections(std::weak_ptr<TWServer> server) : m_server(std::move(server)) {}

    void didAcceptNewSocket(const KPAsyncSocketPtr&, const KPAsyncSocketPtr& socket) override
    {
        auto server = m_server.lock();
        if (!server) {
            socket->disconnect();
            return;
        }
        std::function<QString(const KPAsyncSocketPtr&)> addressOf;
        {
            std::lock_guard lock(server->m_mutex);
            addressOf = server->m_addressOf;
        }
        const QString address = addressOf ? addressOf(socket) : socket->connectedHost();
        bool refused = false;
        KPAsyncSocketPtr evicted;
        {
            std::lock_guard lock(server->m_mutex);
            auto& waiting = server->m_waiting;
            QHash<QString, int> held;
            for (const Waiting& w : waiting)
                ++held[w.address];
            // A peer that opens connections and never says what it wants cannot hold the
            // server's memory or descriptors …
            refused = held.value(address) >= kMaxWaitingPerAddress;
            if (!refused && int(waiting.size()) >= kMaxWaitingConnections) {
                // … nor, with a few addresses, shut out everyone else: the address holding the
                // most gives up its oldest connection to one that holds fewer.
                QString most;
                for (auto it = held.cbegin(); it != held.cend(); ++it) {
                    if (it.value() > held.value(most))
                        most = it.key();
                }
                if (held.value(most) > held.value(address) + 1) {
                    auto oldest = std::find_if(waiting.begin(), waiting.end(),
                                               [&](const Waiting& w) { return w.address == most; });
                    evicted = std::move(oldest->socket);
                    waiting.erase(oldest);
                } else {
                    refused = true;
                }
            }
            if (!refused)
                waiting.push_back(Waiting{socket, address});
        }
        if (evicted) {
            qInfo("TWServer: too many connections waiting for their request; closing the oldest of the busiest address");
            evicted->disconnect();
        }
        if (refused) {
            qInfo("TWServer: too many connections waiting for their request; closing one from %s",
                  qPrintable(address));
            socket->disconnect();
            return;
        }
        // Each connection calls back on a queue of its own: one reader never runs twice at once.
        socket->setDelegate(weak_from_this(), DispatchQueue::serial(QStringLiteral("TWServer.connection")));
        socket->readDataToLength(4, TWTimeouts::shared().read, TWWire::TagRequestType);
    }

    void didReadData(const KPAsyncSocketPtr& socket, const QByteArray& data, long tag) override
    {
        if (tag != TWWire::TagRequestType)
            return;
        if (auto server = m_server.lock())
            server->onRequestType(socket, data);
        else
            socket->disconnect();
    }

    void socketDidDisconnect(const KPAsyncSocketPtr& socket, const std::optional<platform::Error>&) override
    {
        if (auto server = m_server.lock())
            server->forgetWaiting(socket.get());
    }

    std::weak_ptr<Connections> weak_from_this() { return m_self; }
    std::weak_ptr<Connections> m_self;

private:
    std::weak_ptr<TWServer> m_server;
};

std::shared_ptr<TWServer> TWServer::create()
{
    std::shared_ptr<TWServer> server(new TWServer);
    server->m_connections = std::make_shared<Connections>(server);
    server->m_connections->m_self = server->m_connections;
    return server;
}

TWServer::~TWServer()
{
    stopServer();
}

platform::Result<void> TWServer::startServer()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_isServerStarted)
            return {};
    }
    auto socket = KPAsyncSocket::create(m_connections, DispatchQueue::serial(QStringLiteral("TWServer")));
    if (auto listening = socket->acceptOnPort(0); !listening)
        return std::unexpected(listening.error());
    std::lock_guard lock(m_mutex);
    m_asyncSocket = socket;
    m_serverPort = socket->localPort();
    m_isServerStarted = true;
    return {};
}

void TWServer::stopServer()
{
    KPAsyncSocketPtr listener;
    std::vector<Waiting> waiting;
    // Copied element by element under the lock: a list that shared its storage with the table
    // would be released by whichever thread lets go last, while the connection queues change
    // the table (removeReader).
    std::vector<std::shared_ptr<TWSocketReader>> readers;
    {
        std::lock_guard lock(m_mutex);
        listener = std::move(m_asyncSocket);
        m_asyncSocket.reset();
        m_isServerStarted = false;
        waiting.swap(m_waiting);
        readers.assign(m_socketReaders.cbegin(), m_socketReaders.cend());
    }
    if (listener)
        listener->disconnect();
    for (auto& w : waiting)
        w.socket->disconnect();
    for (auto& r : readers)
        r->socket()->disconnect();
}

bool TWServer::isServerStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_isServerStarted;
}

quint16 TWServer::serverPort() const
{
    std::lock_guard lock(m_mutex);
    return m_serverPort;
}

QString TWServer::serverAddress() const
{
    KPAsyncSocketPtr listener;
    {
        std::lock_guard lock(m_mutex);
        listener = m_asyncSocket;
    }
    return listener ? listener->localHost() : QString();
}

void TWServer::setDelegate(std::weak_ptr<TWServerDelegate> delegate)
{
    std::lock_guard lock(m_mutex);
    m_delegate = std::move(delegate);
}

void TWServer::setUploadStagingRoot(const QString& folder)
{
    std::lock_guard lock(m_mutex);
    m_stagingRoot = folder;
}

void TWServer::setPeerAddressOf(std::function<QString(const KPAsyncSocketPtr&)> addressOf)
{
    std::lock_guard lock(m_mutex);
    m_addressOf = std::move(addressOf);
}

QString TWServer::uploadStagingRoot() const
{
    std::lock_guard lock(m_mutex);
    return m_stagingRoot.isEmpty() ? QDir::tempPath() : m_stagingRoot;
}

std::shared_ptr<TWSocketReader> TWServer::queryReaderBySocket(const KPAsyncSocket* socket) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& r : m_socketReaders) {
        if (r->socket().get() == socket)
            return r;
    }
    return {};
}

void TWServer::removeReader(const TWSocketReader* reader)
{
    std::shared_ptr<TWSocketReader> last; // released outside the lock
    std::lock_guard lock(m_mutex);
    for (auto it = m_socketReaderTable.begin(); it != m_socketReaderTable.end(); ++it) {
        for (qsizetype i = 0; i < it->size(); ++i) {
            if (it->at(i).get() == reader) {
                last = it->takeAt(i);
                break;
            }
        }
    }
    for (qsizetype i = 0; i < m_socketReaders.size(); ++i) {
        if (m_socketReaders.at(i).get() == reader) {
            m_socketReaders.removeAt(i);
            break;
        }
    }
    m_readerAddress.remove(reader);
}

void TWServer::releaseSlot(const TWSocketReader* reader)
{
    std::shared_ptr<TWSocketReader> last; // released outside the lock
    std::lock_guard lock(m_mutex);
    for (auto it = m_socketReaderTable.begin(); it != m_socketReaderTable.end(); ++it) {
        for (qsizetype i = 0; i < it->size(); ++i) {
            if (it->at(i).get() == reader) {
                last = it->takeAt(i);
                break;
            }
        }
    }
    m_readerAddress.remove(reader);
}

int TWServer::readerCount(const QString& kind) const
{
    std::lock_guard lock(m_mutex);
    return int(m_socketReaderTable.value(kind).size());
}

void TWServer::forgetWaiting(const KPAsyncSocket* socket)
{
    KPAsyncSocketPtr last;
    std::lock_guard lock(m_mutex);
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        if (it->socket.get() == socket) {
            last = std::move(it->socket);
            m_waiting.erase(it);
            return;
        }
    }
}

void TWServer::onRequestType(const KPAsyncSocketPtr& socket, const QByteArray& data)
{
    const quint32 type = TWWire::readU32(data).value_or(0);
    QString kind;
    int limit = 0;
    switch (type) {
    case TWRequestTypeDataInfo:
        kind = kDataInfoReader;
        limit = kMaxDataInfoReaders;
        break;
    case TWRequestTypeFile:
        kind = kFileReader;
        limit = kMaxFileReaders;
        break;
    case TWRequestTypeFileUpload:
        kind = kFileUploader;
        limit = kMaxFileUploaders;
        break;
    default:
        // Nothing to say to a peer that speaks another protocol; holding it open only costs.
        qInfo("TWServer: unknown request type %u; closing", type);
        forgetWaiting(socket.get());
        socket->disconnect();
        return;
    }

    std::shared_ptr<TWSocketReader> reader;
    std::weak_ptr<TWServerDelegate> owner;
    bool full = false;
    {
        std::lock_guard lock(m_mutex);
        owner = m_delegate;
        QString address;
        for (const Waiting& w : m_waiting) {
            if (w.socket == socket)
                address = w.address;
        }
        QList<std::shared_ptr<TWSocketReader>>& list = m_socketReaderTable[kind];
        const auto fromThere = std::count_if(list.cbegin(), list.cend(), [&](const auto& r) {
            return m_readerAddress.value(r.get()) == address;
        });
        if (list.size() >= limit || fromThere >= readersPerAddress(limit)) {
            full = true;
        } else {
            std::weak_ptr<TWServer> self = shared_from_this();
            if (type == TWRequestTypeDataInfo)
                reader = std::make_shared<TWSocketDataInfoReader>(socket, self);
            else if (type == TWRequestTypeFile)
                reader = std::make_shared<TWSocketFileReader>(socket, self);
            else
                reader = std::make_shared<TWSocketFileUpload>(socket, self,
                                                              m_stagingRoot.isEmpty() ? QDir::tempPath() : m_stagingRoot);
            list.append(reader);
            m_socketReaders.append(reader);
            m_readerAddress.insert(reader.get(), address);
        }
    }
    forgetWaiting(socket.get());
    if (full) {
        socket->writeData(TWWire::u32(TWConnectTooManyConnections), -1, TWWire::TagRequestType);
        socket->disconnectAfterWriting();
        return;
    }
    if (type == TWRequestTypeFileUpload) {
        if (auto d = owner.lock())
            d->onClientReqestuUploadFileFileBySocketReader(std::static_pointer_cast<TWSocketFileUpload>(reader));
    }
    // From here the reader is the connection's delegate, on the same queue.
    socket->setDelegate(reader, socket->delegateQueue());
    reader->startReader();
}

QByteArray TWServer::onSocketDataInfoReaderDataRquest(TWSocketReader* reader, const QVariantMap& parameter)
{
    std::shared_ptr<TWServerDelegate> d;
    {
        std::lock_guard lock(m_mutex);
        d = m_delegate.lock();
    }
    return d ? d->onClientRequestByParameter(reader, parameter) : QByteArray();
}

std::shared_ptr<TWDataReader> TWServer::onSocketRequestFileByParameter(TWSocketReader* reader,
                                                                       const QVariantMap& parameter)
{
    std::shared_ptr<TWServerDelegate> d;
    {
        std::lock_guard lock(m_mutex);
        d = m_delegate.lock();
    }
    return d ? d->onClientRequestFileByParameter(reader, parameter) : nullptr;
}
