#include "TWService/Server/TWServer.h"

#include "TWService/Server/TWDataReader.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QtGlobal>

#include <algorithm>
#include <climits>
#include <iterator>

#include <sys/resource.h>

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
            // Half the connections the server keeps open at most: readers and newcomers always
            // find room beside them.
            const int waitingLimit = std::min(kMaxWaitingConnections, server->m_connectionLimit / 2);
            if (!refused && int(waiting.size()) >= waitingLimit) {
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
            KPLogLogRepeatedMessage(QStringLiteral("evicted"), QStringLiteral("TWServer"), 0, QStringLiteral("TWServer: too many connections waiting for their request; closing the oldest of the busiest address"));
            evicted->disconnect();
        }
        if (refused) {
            KPLogLogRepeatedMessage(QStringLiteral("refused ") + address, QStringLiteral("TWServer"), 0,
                                    QStringLiteral("TWServer: too many connections waiting for their request; closing one from %1").arg(address));
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
    const int connections = connectionLimit();
    socket->setAcceptLimit(connections);
    if (auto listening = socket->acceptOnPort(0); !listening)
        return std::unexpected(listening.error());
    std::lock_guard lock(m_mutex);
    m_asyncSocket = socket;
    m_connectionLimit = connections;
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

int TWServer::connectionLimit()
{
    if (const int limit = TWTimeouts::shared().connectionLimit; limit > 0)
        return limit;
    rlimit descriptors{};
    if (::getrlimit(RLIMIT_NOFILE, &descriptors) != 0)
        return 256;
    const rlim_t soft = descriptors.rlim_cur == RLIM_INFINITY ? rlim_t(1) << 20 : descriptors.rlim_cur;
    return int(std::clamp<rlim_t>(soft / 4, 16, rlim_t(1) << 18));
}

int TWServer::openConnections() const
{
    KPAsyncSocketPtr listener;
    {
        std::lock_guard lock(m_mutex);
        listener = m_asyncSocket;
    }
    return listener ? listener->acceptedOpenCount() : 0;
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
    std::vector<Admitted> admitted;
    {
        std::lock_guard lock(m_mutex);
        last = takeSlotLocked(reader);
        m_roomWaiters.removeIf([reader](const TWSocketFileUpload* w) { return static_cast<const TWSocketReader*>(w) == reader; });
        for (qsizetype i = 0; i < m_socketReaders.size(); ++i) {
            if (m_socketReaders.at(i).get() == reader) {
                m_socketReaders.removeAt(i);
                break;
            }
        }
        if (m_isServerStarted)
            admitted = admitWaitingLocked();
    }
    startAdmitted(std::move(admitted));
}

void TWServer::releaseSlot(const TWSocketReader* reader)
{
    std::shared_ptr<TWSocketReader> last; // released outside the lock
    std::lock_guard lock(m_mutex);
    last = takeSlotLocked(reader);
}

std::shared_ptr<TWSocketReader> TWServer::takeSlotLocked(const TWSocketReader* reader)
{
    m_readerAddress.remove(reader);
    for (auto it = m_socketReaderTable.begin(); it != m_socketReaderTable.end(); ++it) {
        for (qsizetype i = 0; i < it->size(); ++i) {
            if (it->at(i).get() == reader)
                return it->takeAt(i);
        }
    }
    return {};
}

int TWServer::readerCount(const QString& kind) const
{
    std::lock_guard lock(m_mutex);
    return int(m_socketReaderTable.value(kind).size());
}

int TWServer::waitingForUploadSlot() const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_waiting.cbegin(), m_waiting.cend(), [](const Waiting& w) { return w.slotTurn != 0; }));
}

int TWServer::waitingForRoom() const
{
    std::lock_guard lock(m_mutex);
    return int(m_roomWaiters.size());
}

int TWServer::slotsTakenLocked(const QString& kind) const
{
    const auto found = m_socketReaderTable.constFind(kind);
    if (found == m_socketReaderTable.cend())
        return 0;
    return int(std::count_if(found->cbegin(), found->cend(), [](const auto& r) { return r->holdsSlot(); }));
}

std::shared_ptr<TWSocketReader> TWServer::makeReaderLocked(const KPAsyncSocketPtr& socket, quint32 type,
                                                           const QString& address)
{
    std::weak_ptr<TWServer> self = shared_from_this();
    std::shared_ptr<TWSocketReader> reader;
    QString kind;
    if (type == TWRequestTypeDataInfo) {
        reader = std::make_shared<TWSocketDataInfoReader>(socket, self);
        kind = kDataInfoReader;
    } else if (type == TWRequestTypeFile) {
        reader = std::make_shared<TWSocketFileReader>(socket, self);
        kind = kFileReader;
    } else {
        reader = std::make_shared<TWSocketFileUpload>(socket, self,
                                                      m_stagingRoot.isEmpty() ? QDir::tempPath() : m_stagingRoot);
        kind = kFileUploader;
    }
    m_socketReaderTable[kind].append(reader);
    m_socketReaders.append(reader);
    m_readerAddress.insert(reader.get(), address);
    return reader;
}

std::vector<TWServer::Admitted> TWServer::admitWaitingLocked()
{
    std::vector<Admitted> admitted;
    while (slotsTakenLocked(kFileUploader) < kMaxFileUploaders) {
        // The slot goes to the waiting address that holds the fewest, the earliest of them.
        QHash<QString, int> held;
        if (const auto found = m_socketReaderTable.constFind(kFileUploader); found != m_socketReaderTable.cend()) {
            for (const auto& r : *found) {
                if (r->holdsSlot())
                    ++held[m_readerAddress.value(r.get())];
            }
        }
        auto next = m_waiting.end();
        for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
            if (it->slotTurn == 0)
                continue;
            if (next == m_waiting.end() || held.value(it->address) < held.value(next->address)
                || (held.value(it->address) == held.value(next->address) && it->slotTurn < next->slotTurn))
                next = it;
        }
        if (next == m_waiting.end())
            break;
        Admitted a{next->socket, makeReaderLocked(next->socket, TWRequestTypeFileUpload, next->address)};
        m_waiting.erase(next);
        admitted.push_back(std::move(a));
    }
    return admitted;
}

void TWServer::startAdmitted(std::vector<Admitted> admitted)
{
    for (Admitted& a : admitted) {
        std::weak_ptr<TWServer> weak = shared_from_this();
        KPAsyncSocketPtr socket = a.socket;
        socket->delegateQueue().async([weak, a = std::move(a)] {
            auto server = weak.lock();
            if (!server)
                return;
            // Gone while it waited: nothing will tell its reader, so the slot is given back here.
            if (a.socket->isDisconnected()) {
                server->removeReader(a.reader.get());
                return;
            }
            server->startReader(a.socket, a.reader, TWRequestTypeFileUpload);
        });
    }
}

TWServer::Pick TWServer::pickToGiveWayLocked(const TWSocketFileUpload* asking, std::uint64_t pending,
                                             std::vector<Admitted>* admitted)
{
    using GiveWay = TWSocketFileUpload::GiveWay;
    Pick pick;
    const auto found = m_socketReaderTable.constFind(kFileUploader);
    if (found == m_socketReaderTable.cend())
        return pick;
    auto mark = [&](std::shared_ptr<TWSocketFileUpload> upload, GiveWay why) {
        upload->m_gaveWay.store(true);
        pick = Pick{std::move(upload), why};
        auto more = admitWaitingLocked();
        std::move(more.begin(), more.end(), std::back_inserter(*admitted));
        return pick;
    };
    // A trickle gives way whether anyone waits or not; each upload judges only itself.
    if (asking && asking->holdsSlot() && asking->pace(pending).trickles) {
        for (const auto& r : *found) {
            if (r.get() == asking)
                return mark(std::static_pointer_cast<TWSocketFileUpload>(r), GiveWay::Trickles);
        }
    }
    const bool slotWanted =
        std::any_of(m_waiting.cbegin(), m_waiting.cend(), [](const Waiting& w) { return w.slotTurn != 0; });
    if (!slotWanted && m_roomWaiters.isEmpty())
        return pick;

    struct Running {
        std::shared_ptr<TWSocketFileUpload> upload;
        TWSocketFileUpload::Pace pace;
        QString address;
    };
    std::vector<Running> running; // begun and holding a slot
    QHash<QString, int> held;     // slots per address
    for (const auto& r : *found) {
        auto upload = std::static_pointer_cast<TWSocketFileUpload>(r);
        if (!upload->holdsSlot())
            continue;
        const QString address = m_readerAddress.value(upload.get());
        ++held[address];
        if (upload->m_acceptedAt.load() != 0)
            running.push_back({upload, upload->pace(upload.get() == asking ? pending : 0), address});
    }
    auto slowest = [&](auto&& eligible) -> const Running* {
        const Running* out = nullptr;
        for (const Running& r : running) {
            if (eligible(r) && (!out || r.pace.rate < out->pace.rate))
                out = &r;
        }
        return out;
    };
    // First the slowest upload below the minimum rate: for a slot any, for room one holding it.
    if (const Running* r = slowest([&](const Running& r) {
            return r.pace.behind && (slotWanted || r.upload->roomHeld() > 0);
        }))
        return mark(r->upload, slotWanted ? GiveWay::SlowWhileSlotWanted : GiveWay::SlowWhileRoomWanted);
    if (!slotWanted)
        return pick;
    // Then, at any pace, the slowest of the address holding the most slots, when it holds at
    // least two more than a waiting address: moving one slot over leaves it no worse off than
    // the one it makes room for.
    int fewestWaiting = INT_MAX;
    for (const Waiting& w : m_waiting) {
        if (w.slotTurn != 0)
            fewestWaiting = std::min(fewestWaiting, held.value(w.address));
    }
    QString busiest;
    int most = -1;
    for (auto it = held.cbegin(); it != held.cend(); ++it) {
        if (it.value() > most || (it.value() == most && it.key() < busiest)) {
            busiest = it.key();
            most = it.value();
        }
    }
    if (most < fewestWaiting + 2)
        return pick;
    if (const Running* r = slowest([&](const Running& r) { return r.address == busiest; }))
        return mark(r->upload, GiveWay::AddressHoldsMost);
    return pick;
}

void TWServer::tellPicked(const Pick& pick)
{
    if (!pick.upload)
        return;
    std::weak_ptr<TWSocketFileUpload> weak = pick.upload;
    pick.upload->socket()->delegateQueue().async([weak, why = pick.why] {
        if (auto upload = weak.lock())
            upload->onChosenToGiveWay(why);
    });
}

TWSocketFileUpload::GiveWay TWServer::shouldGiveWay(const TWSocketFileUpload* asking, std::uint64_t pending)
{
    std::vector<Admitted> admitted;
    Pick pick;
    {
        std::lock_guard lock(m_mutex);
        pick = pickToGiveWayLocked(asking, pending, &admitted);
    }
    startAdmitted(std::move(admitted));
    if (pick.upload.get() == asking)
        return pick.why;
    tellPicked(pick);
    return TWSocketFileUpload::GiveWay::No;
}

bool TWServer::makeRoom(const TWSocketFileUpload* asking)
{
    std::vector<Admitted> admitted;
    Pick pick;
    bool freeing = false;
    {
        std::lock_guard lock(m_mutex);
        m_roomWaiters.insert(asking);
        // One picked before gives its room back on its own queue: wait for it.
        if (const auto found = m_socketReaderTable.constFind(kFileUploader); found != m_socketReaderTable.cend()) {
            freeing = std::any_of(found->cbegin(), found->cend(), [](const auto& r) {
                const auto* upload = static_cast<const TWSocketFileUpload*>(r.get());
                return !upload->holdsSlot() && upload->roomHeld() > 0;
            });
        }
        pick = pickToGiveWayLocked(nullptr, 0, &admitted);
    }
    startAdmitted(std::move(admitted));
    tellPicked(pick);
    return freeing || pick.upload;
}

void TWServer::roomWaitOver(const TWSocketFileUpload* upload)
{
    std::lock_guard lock(m_mutex);
    m_roomWaiters.remove(upload);
}

void TWServer::startReader(const KPAsyncSocketPtr& socket, const std::shared_ptr<TWSocketReader>& reader, quint32 type)
{
    std::weak_ptr<TWServerDelegate> owner;
    {
        std::lock_guard lock(m_mutex);
        owner = m_delegate;
    }
    if (type == TWRequestTypeFileUpload) {
        if (auto d = owner.lock())
            d->onClientReqestuUploadFileFileBySocketReader(std::static_pointer_cast<TWSocketFileUpload>(reader));
    }
    // From here the reader is the connection's delegate, on the same queue.
    socket->setDelegate(reader, socket->delegateQueue());
    reader->startReader();
}

void TWServer::onSlotWaitOver(const KPAsyncSocketPtr& socket)
{
    KPAsyncSocketPtr refused;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
            if (it->socket == socket && it->slotTurn != 0) {
                refused = std::move(it->socket);
                m_waiting.erase(it);
                break;
            }
        }
    }
    if (!refused)
        return; // it had its slot, or went away
    KPLogLogRepeatedMessage(QStringLiteral("no slot in time"), QStringLiteral("TWServer"), 0, QStringLiteral("TWServer: no upload slot came free in time; refusing"));
    refused->writeData(TWWire::u32(TWConnectTooManyConnections), -1, TWWire::TagRequestType);
    refused->disconnectAfterWriting();
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
        KPLogLogRepeatedMessage(QStringLiteral("unknown request type"), QStringLiteral("TWServer"), 0, QStringLiteral("TWServer: unknown request type %1; closing").arg(type));
        forgetWaiting(socket.get());
        socket->disconnect();
        return;
    }

    std::shared_ptr<TWSocketReader> reader;
    bool waits = false;
    std::vector<Admitted> admitted;
    Pick pick;
    {
        std::lock_guard lock(m_mutex);
        auto self = std::find_if(m_waiting.begin(), m_waiting.end(), [&](const Waiting& w) { return w.socket == socket; });
        const QString address = self != m_waiting.end() ? self->address : QString();
        const auto found = m_socketReaderTable.constFind(kind);
        int fromThere = 0;
        if (found != m_socketReaderTable.cend()) {
            fromThere = int(std::count_if(found->cbegin(), found->cend(), [&](const auto& r) {
                return r->holdsSlot() && m_readerAddress.value(r.get()) == address;
            }));
        }
        const int taken = slotsTakenLocked(kind);
        if (type != TWRequestTypeFileUpload) {
            if (taken < limit && fromThere < readersPerAddress(limit))
                reader = makeReaderLocked(socket, type, address);
        } else if (taken < limit) {
            reader = makeReaderLocked(socket, type, address);
        } else if (self != m_waiting.end()) {
            // Every slot taken: an address that holds all but one of them gets the answer a
            // sixth upload gets; another waits for a slot, as do at most as many as there are.
            int waiting = 0, waitingThere = 0;
            for (const Waiting& w : m_waiting) {
                if (w.slotTurn == 0)
                    continue;
                ++waiting;
                waitingThere += w.address == address ? 1 : 0;
            }
            if (fromThere + waitingThere < readersPerAddress(limit) && waiting < kMaxFileUploaders) {
                self->slotTurn = m_nextSlotTurn++;
                waits = true;
                // A slot is made for it now if one must give way.
                pick = pickToGiveWayLocked(nullptr, 0, &admitted);
            }
        }
    }
    if (waits) {
        KPLogLogRepeatedMessage(QStringLiteral("waits for a slot"), QStringLiteral("TWServer"), 0, QStringLiteral("TWServer: every upload slot is taken; a connection waits for one"));
        std::weak_ptr<TWServer> weak = shared_from_this();
        std::weak_ptr<KPAsyncSocket> waiting = socket;
        const auto wait = std::chrono::milliseconds(qint64(TWTimeouts::shared().uploadSlotWait * 1000));
        socket->delegateQueue().after(wait, [weak, waiting] {
            auto server = weak.lock();
            auto s = waiting.lock();
            if (server && s)
                server->onSlotWaitOver(s);
        });
        startAdmitted(std::move(admitted));
        tellPicked(pick);
        return;
    }
    forgetWaiting(socket.get());
    if (!reader) {
        socket->writeData(TWWire::u32(TWConnectTooManyConnections), -1, TWWire::TagRequestType);
        socket->disconnectAfterWriting();
        return;
    }
    startReader(socket, reader, type);
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
