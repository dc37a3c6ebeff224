#include "TWService/Client/TWBaseRequest.h"

#include "TWService/Server/TWSocketReader.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>
#include <QtGlobal>

#include <deque>
#include <map>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace TWWire;
using platform::DispatchQueue;
using platform::Error;

namespace {

DispatchQueue clientRequestQueue()
{
    static const DispatchQueue queue = DispatchQueue::serial(QStringLiteral("Client_Request_Queue"));
    return queue;
}

// Requests keep themselves alive from start to completion: callers may drop theirs at once.
std::mutex runningMutex;
std::vector<std::shared_ptr<TWBaseRequest>>& running()
{
    static auto* list = new std::vector<std::shared_ptr<TWBaseRequest>>;
    return *list;
}

void keepRunning(std::shared_ptr<TWBaseRequest> request)
{
    std::lock_guard lock(runningMutex);
    running().push_back(std::move(request));
}

void stopRunning(const TWBaseRequest* request)
{
    std::shared_ptr<TWBaseRequest> last; // released outside the lock
    std::lock_guard lock(runningMutex);
    auto& list = running();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->get() == request) {
            last = std::move(*it);
            list.erase(it);
            break;
        }
    }
}

} // namespace

// The uploads running to each peer, how many may run at once, and those waiting for a turn.
struct UploadTurns {
    struct Peer {
        int running = 0;
        int allowed = TWFileUploadRequest::kUploadsPerPeer;
        bool pausing = false; // a try waits out the pause; nothing starts meanwhile
        std::deque<std::shared_ptr<TWFileUploadRequest>> waiting;
    };
    std::mutex mutex;
    std::map<QString, Peer> peers;

    static UploadTurns& shared()
    {
        static auto* turns = new UploadTurns;
        return *turns;
    }
    // True when the request may start now; otherwise it waits (and is kept alive) here.
    bool take(const std::shared_ptr<TWFileUploadRequest>& request)
    {
        std::lock_guard lock(mutex);
        Peer& peer = peers[request->peerKey()];
        if (!peer.pausing && peer.waiting.empty() && peer.running < peer.allowed) {
            ++peer.running;
            request->m_holdsTurn = true;
            return true;
        }
        peer.waiting.push_back(request);
        return false;
    }
    // An upload ended (or was cancelled while waiting): its turn goes to the next one.
    void give(TWFileUploadRequest* request, bool delivered)
    {
        std::vector<std::shared_ptr<TWFileUploadRequest>> next;
        {
            std::lock_guard lock(mutex);
            auto found = peers.find(request->peerKey());
            if (found == peers.end())
                return;
            Peer& peer = found->second;
            if (!request->m_holdsTurn) {
                std::erase_if(peer.waiting, [&](const auto& r) { return r.get() == request; });
            } else {
                request->m_holdsTurn = false;
                --peer.running;
                if (delivered)
                    peer.allowed = std::min(peer.allowed + 1, TWFileUploadRequest::kUploadsPerPeer);
                next = admitLocked(peer);
            }
            forgetIdleLocked(found);
        }
        for (const auto& r : next)
            r->begin();
    }
    // The receiver made way for another sender or turned the upload away: the document goes
    // to the front of the line, to start when one of the uploads still running to that peer
    // ends, or after the pause when none does; one fewer runs at once.
    void sendAgain(TWFileUploadRequest* request, std::shared_ptr<TWFileUploadRequest> again)
    {
        const QString key = request->peerKey();
        bool pause = false;
        {
            std::lock_guard lock(mutex);
            Peer& peer = peers[key];
            if (request->m_holdsTurn) {
                request->m_holdsTurn = false;
                --peer.running;
            }
            peer.allowed = std::max(peer.allowed - 1, 1);
            peer.waiting.push_front(std::move(again));
            if (peer.running == 0 && !peer.pausing)
                pause = peer.pausing = true;
        }
        if (pause) {
            const auto wait = std::chrono::milliseconds(qint64(TWFileUploadRequest::resend().pause * 1000));
            clientRequestQueue().after(wait, [key] { shared().resume(key); });
        }
    }
    void resume(const QString& key)
    {
        std::vector<std::shared_ptr<TWFileUploadRequest>> next;
        {
            std::lock_guard lock(mutex);
            auto found = peers.find(key);
            if (found == peers.end())
                return;
            found->second.pausing = false;
            next = admitLocked(found->second);
            forgetIdleLocked(found);
        }
        for (const auto& r : next)
            r->begin();
    }

private:
    // The waiting requests that may start now, each given its turn.
    static std::vector<std::shared_ptr<TWFileUploadRequest>> admitLocked(Peer& peer)
    {
        std::vector<std::shared_ptr<TWFileUploadRequest>> next;
        while (!peer.pausing && peer.running < peer.allowed && !peer.waiting.empty()) {
            next.push_back(std::move(peer.waiting.front()));
            peer.waiting.pop_front();
            ++peer.running;
            next.back()->m_holdsTurn = true;
        }
        return next;
    }
    void forgetIdleLocked(std::map<QString, Peer>::iterator found)
    {
        const Peer& peer = found->second;
        if (peer.running == 0 && peer.waiting.empty() && !peer.pausing)
            peers.erase(found);
    }
};

// ---- base

TWBaseRequest::TWBaseRequest(TWServerInfo serverInfo, QVariantMap paramater)
    : m_serverInfo(std::move(serverInfo)), m_paramater(std::move(paramater))
{
}

TWBaseRequest::~TWBaseRequest()
{
    if (m_asyncSocket)
        m_asyncSocket->disconnect();
}

bool TWBaseRequest::claimCompletion()
{
    bool expected = false;
    return m_completed.compare_exchange_strong(expected, true);
}

void TWBaseRequest::cancel()
{
    m_isCancel = true;
    if (m_asyncSocket)
        m_asyncSocket->disconnect();
    finish(std::nullopt);
}

bool TWBaseRequest::start(TWRequestType type, double connectTimeout, const DispatchQueue& queue)
{
    if (m_asyncSocket)
        return true;
    m_type = type;
    m_asyncSocket = KPAsyncSocket::create(weak_from_this(), queue);
    keepRunning(shared_from_this());
    auto started = m_asyncSocket->connectToHost(m_serverInfo.address, quint16(m_serverInfo.port & 0xFFFF), connectTimeout);
    if (!started) {
        if (claimCompletion())
            complete(error(0, started.error().message));
        stopRunning(this);
        return false;
    }
    return true;
}

void TWBaseRequest::finish(const std::optional<Error>& e)
{
    if (!claimCompletion())
        return;
    auto keep = shared_from_this();
    // A cancelled request ends with nothing, whichever end got there first.
    complete(m_isCancel ? std::nullopt : e);
    stopRunning(this);
}

void TWBaseRequest::failWith(const Error& e)
{
    if (m_asyncSocket)
        m_asyncSocket->disconnect();
    finish(e);
}

void TWBaseRequest::didConnectToHost(const KPAsyncSocketPtr& sock, const QString&, quint16)
{
    if (m_type == TWRequestTypeFileUpload) {
        // The wait for a large upload to be stored is long; a receiver whose machine went away
        // meanwhile is noticed by the connection's keep-alive probes within about a minute.
        sock->performBlock([&sock] {
            const int fd = sock->socketFD();
            const int on = 1, idle = 30, interval = 10, probes = 3;
            if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0) {
                ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
                ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
                ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
            }
        });
    }
    sock->readDataToLength(4, TWTimeouts::shared().read, TagRequestType);
    sock->writeData(u32(m_type), -1, TagRequestType);
}

void TWBaseRequest::didReadData(const KPAsyncSocketPtr& sock, const QByteArray& data, long tag)
{
    if (m_completed)
        return;
    if (tag != TagRequestType || m_replied) {
        onAnswer(data, tag);
        return;
    }
    m_replied = true;
    const quint32 reply = readU32(data).value_or(0xFFFFFFFF);
    if (reply == TWConnectTooManyConnections) {
        failWith(error(1, QStringLiteral("too many connections, disconnect by server!")));
        return;
    }
    if (reply != TWConnectAccepted) {
        failWith(error(3, QStringLiteral("unexpected reply from server (%1)").arg(reply)));
        return;
    }
    auto framed = frameBody(m_paramater);
    if (!framed) {
        qWarning("%s: Arachiver paramater data error: %s", qPrintable(errorDomain()), qPrintable(framed.error().toString()));
        failWith(error(0, framed.error().message));
        return;
    }
    sock->readDataToLength(m_type == TWRequestTypeFileUpload ? 8 : (m_type == TWRequestTypeFile ? 8 : 4),
                           TWTimeouts::shared().read, answerTag());
    sock->writeData(*framed, -1, bodyTag());
}

void TWBaseRequest::socketDidDisconnect(const KPAsyncSocketPtr&, const std::optional<Error>& e)
{
    // Whatever ended the connection before the exchange did is this request's outcome.
    finish(e ? *e : error(3, QStringLiteral("upload ended before completion")));
}

double TWBaseRequest::shouldTimeoutReadWithTag(const KPAsyncSocketPtr&, long, double, std::uint64_t bytesDone)
{
    const std::uint64_t now = m_progress + bytesDone;
    const bool moved = now > m_progressAtAsk;
    m_progressAtAsk = now;
    return moved ? TWTimeouts::shared().read : 0;
}

void TWBaseRequest::didWritePartialDataOfLength(const KPAsyncSocketPtr&, std::uint64_t length, long)
{
    m_progress += length;
}

void TWBaseRequest::didWriteDataWithTag(const KPAsyncSocketPtr&, long)
{
    ++m_progress;
}

// ---- data request

DispatchQueue TWDataRequest::queue()
{
    static const DispatchQueue q = DispatchQueue::serial(QStringLiteral("TWDataRequest_Queue"));
    return q;
}

std::shared_ptr<TWDataRequest> TWDataRequest::create(TWServerInfo serverInfo, QVariantMap paramater)
{
    return std::make_shared<TWDataRequest>(std::move(serverInfo), std::move(paramater));
}

TWDataRequest::TWDataRequest(TWServerInfo serverInfo, QVariantMap paramater)
    : TWBaseRequest(std::move(serverInfo), std::move(paramater))
{
}

void TWDataRequest::requestWithCompltedBlock(Completed block)
{
    if (m_asyncSocket)
        return;
    m_compltedBlock = std::move(block);
    start(TWRequestTypeDataInfo, TWTimeouts::shared().connect, queue());
}

void TWDataRequest::complete(const std::optional<Error>& e)
{
    Completed block = std::move(m_compltedBlock);
    m_compltedBlock = nullptr;
    if (block)
        block(this, e || m_isCancel ? QByteArray() : m_requestData, e);
}

void TWDataRequest::onAnswer(const QByteArray& data, long tag)
{
    if (tag != TagDataReply)
        return;
    if (!m_bReadedRequestDataHeader) {
        m_bReadedRequestDataHeader = true;
        m_requestDataLenght = readU32(data).value_or(0);
        if (m_requestDataLenght == 0) {
            m_asyncSocket->disconnect();
            finish(std::nullopt);
            return;
        }
        if (m_requestDataLenght > kMaxDataAnswer) {
            failWith(error(2, QStringLiteral("read data overflow, disconnect by client!")));
            return;
        }
        m_asyncSocket->readDataToLength(m_requestDataLenght, TWTimeouts::shared().read, TagDataReply);
        return;
    }
    m_requestData = data;
    m_asyncSocket->disconnect();
    finish(std::nullopt);
}

// ---- download

std::shared_ptr<TWFileRequest> TWFileRequest::create(TWServerInfo serverInfo, QVariantMap paramater)
{
    return std::make_shared<TWFileRequest>(std::move(serverInfo), std::move(paramater));
}

TWFileRequest::TWFileRequest(TWServerInfo serverInfo, QVariantMap paramater)
    : TWBaseRequest(std::move(serverInfo), std::move(paramater))
{
}

TWFileRequest::~TWFileRequest()
{
    if (!m_done && !m_outputPath.isEmpty())
        QFile::remove(m_outputPath);
}

void TWFileRequest::requestWithCompltedBlock(Completed block)
{
    if (m_asyncSocket)
        return;
    m_compltedBlock = std::move(block);
    start(TWRequestTypeFile, TWTimeouts::shared().connect, clientRequestQueue());
}

void TWFileRequest::complete(const std::optional<Error>& e)
{
    if (e && !m_outputPath.isEmpty()) {
        m_outputStream.close();
        QFile::remove(m_outputPath); // a partial download is no file at all
    }
    Completed block = std::move(m_compltedBlock);
    m_compltedBlock = nullptr;
    if (block)
        block(this, e || !m_done || m_isCancel ? QString() : m_outputPath, e);
}

void TWFileRequest::readPiece()
{
    const std::uint64_t left = std::uint64_t(m_packageDataLength - m_packageDataReaded);
    m_asyncSocket->readDataWithTimeout(TWTimeouts::shared().read, nullptr, 0, std::min<std::uint64_t>(left, 64 * 1024),
                                       TagFileChunk);
}

void TWFileRequest::onAnswer(const QByteArray& data, long tag)
{
    if (tag == TagFileHeader) {
        const qint64 total = readI64(data).value_or(0);
        if (total <= 0) {
            failWith(error(2, QStringLiteral("read file data size == 0, disconnect by client!")));
            return;
        }
        m_requestDataLength = total;
        m_outputPath = QDir::temp().filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        m_outputStream.setFileName(m_outputPath);
        if (!m_outputStream.open(QIODevice::WriteOnly | QIODevice::Append)) {
            failWith(error(0, m_outputStream.errorString()));
            return;
        }
        m_asyncSocket->readDataToLength(4, TWTimeouts::shared().read, TagFileChunk);
        m_asyncSocket->writeData(QByteArray(1, kAck), -1, TagFileHeader);
        return;
    }
    if (tag != TagFileChunk)
        return;
    if (!m_bPackageHeaderReaded) {
        m_bPackageHeaderReaded = true;
        m_packageDataLength = readU32(data).value_or(0);
        m_packageDataReaded = 0;
        if (m_packageDataLength == 0) {
            failWith(error(2, QStringLiteral("read data size == 0, disconnect by client!")));
            return;
        }
        if (m_packageDataLength > qint64(kChunkSize) || m_readedDataLength + m_packageDataLength > m_requestDataLength) {
            failWith(error(2, QStringLiteral("read data overflow, disconnect by client!")));
            return;
        }
        readPiece();
        return;
    }
    if (m_outputStream.write(data) != data.size()) {
        failWith(error(2, m_outputStream.errorString()));
        return;
    }
    m_packageDataReaded += data.size();
    m_readedDataLength += data.size();
    if (m_packageDataReaded < m_packageDataLength) {
        readPiece();
        return;
    }
    m_bPackageHeaderReaded = false;
    if (m_readedDataLength < m_requestDataLength) {
        m_asyncSocket->readDataToLength(4, TWTimeouts::shared().read, TagFileChunk);
        m_asyncSocket->writeData(QByteArray(1, kAck), -1, TagFileHeader);
        return;
    }
    m_outputStream.close();
    if (m_outputStream.error() != QFileDevice::NoError) {
        failWith(error(2, m_outputStream.errorString()));
        return;
    }
    m_done = true;
    m_asyncSocket->disconnect();
    finish(std::nullopt);
}

// ---- upload

std::shared_ptr<TWFileUploadRequest> TWFileUploadRequest::create(TWServerInfo serverInfo, QVariantMap info,
                                                                 QString filePath)
{
    return std::make_shared<TWFileUploadRequest>(std::move(serverInfo), std::move(info), std::move(filePath));
}

TWFileUploadRequest::TWFileUploadRequest(TWServerInfo serverInfo, QVariantMap info, QString filePath)
    : TWBaseRequest(std::move(serverInfo), std::move(info)), m_filePath(std::move(filePath))
{
}

TWFileUploadRequest::Resend& TWFileUploadRequest::resend()
{
    static Resend settings;
    return settings;
}

void TWFileUploadRequest::requestWithCompltedBlock(Completed block)
{
    if (m_requested)
        return;
    m_requested = true;
    m_compltedBlock = std::move(block);
    if (UploadTurns::shared().take(std::static_pointer_cast<TWFileUploadRequest>(shared_from_this())))
        begin();
}

void TWFileUploadRequest::begin()
{
    if (m_isCancel)
        return;
    // Opened only now: a thousand documents waiting for their turn hold no descriptors.
    m_fileHandle.setFileName(m_filePath);
    if (!m_fileHandle.open(QIODevice::ReadOnly)) {
        finish(error(Unreadable, QStringLiteral("cannot read %1: %2").arg(m_filePath, m_fileHandle.errorString())));
        return;
    }
    // The receiver expects exactly the bytes announced: announce the file as it is now.
    m_dataLength = m_fileHandle.size();
    m_paramater.insert(QStringLiteral("Size"), m_dataLength);
    start(TWRequestTypeFileUpload, TWTimeouts::shared().connect, clientRequestQueue());
}

QString TWFileUploadRequest::peerKey() const
{
    return QStringLiteral("%1:%2").arg(m_serverInfo.address).arg(m_serverInfo.port & 0xFFFF);
}

double TWFileUploadRequest::storeWait(qint64 bytes, bool folder, qint64 entries)
{
    const auto& limits = TWTimeouts::shared();
    const double mebibytes = double(std::max<qint64>(bytes, 0)) / double(1 << 20);
    return limits.read + limits.storeWait + mebibytes * (folder ? limits.storeWaitPerMiBFolder : limits.storeWaitPerMiB)
        + (folder ? double(std::max<qint64>(entries, 0)) * limits.storeWaitPerEntry : 0);
}

void TWFileUploadRequest::setArchiveEntries(qint64 entries)
{
    m_archiveEntries = entries;
}

void TWFileUploadRequest::complete(const std::optional<Error>& e)
{
    m_fileHandle.close();
    const bool sendAgain = e && !m_isCancel && e->domain == errorDomain() && (e->code == GaveWay || e->code == Busy || e->code == NoAnswer)
        && m_tries < resend().tries && m_compltedBlock;
    if (sendAgain) {
        qInfo("TWFileUploadRequest: %s; sending %s again", qPrintable(e->message), qPrintable(m_filePath));
        auto again = create(m_serverInfo, m_paramater, m_filePath);
        again->m_archiveEntries = m_archiveEntries;
        again->m_tries = m_tries + 1;
        again->m_requested = true;
        again->m_compltedBlock = std::move(m_compltedBlock);
        m_compltedBlock = nullptr;
        UploadTurns::shared().sendAgain(this, std::move(again));
        return;
    }
    UploadTurns::shared().give(this, !e && !m_isCancel);
    Completed block = std::move(m_compltedBlock);
    m_compltedBlock = nullptr;
    if (block)
        block(this, e);
}

QString TWFileUploadRequest::reasonForUser(const Error& e)
{
    const QString notReached = QStringLiteral("the other computer could not be reached");
    const QString brokeOff = QStringLiteral("the connection to the other computer broke off");
    if (e.domain == QLatin1String("TWFileUploadRequest")) {
        switch (e.code) {
        case CannotStart:
            return notReached;
        case Busy:
            return QStringLiteral("the other computer was busy receiving from other senders");
        case GaveWay:
            // The receiver says only that it stopped the upload: for arriving too slowly, or to let
            // another sender in while this computer held most of its places.
            return QStringLiteral("stopped: it arrived too slowly, or the other computer let another sender in");
        case Unreadable:
            return QStringLiteral("it could not be read on this computer");
        case Refused:
            return QStringLiteral("the other computer has no room for it");
        case Empty:
            return QStringLiteral("it is empty, and the other computer takes no empty files");
        case NoAnswer:
            return QStringLiteral("the other computer did not answer");
        default:
            return brokeOff;
        }
    }
    if (e.domain == KPAsyncSocket::ErrorDomain) {
        if (e.code == KPAsyncSocket::ConnectTimeoutError)
            return notReached;
        if (e.code == KPAsyncSocket::ReadTimeoutError || e.code == KPAsyncSocket::WriteTimeoutError)
            return QStringLiteral("the other computer stopped answering");
        return brokeOff;
    }
    if (e.domain == QLatin1String("POSIX")
        && (e.code == ECONNREFUSED || e.code == EHOSTUNREACH || e.code == ENETUNREACH || e.code == EHOSTDOWN))
        return notReached;
    return brokeOff;
}

void TWFileUploadRequest::didConnectToHost(const KPAsyncSocketPtr& sock, const QString& host, quint16 port)
{
    m_connected = true;
    TWBaseRequest::didConnectToHost(sock, host, port);
}

void TWFileUploadRequest::socketDidDisconnect(const KPAsyncSocketPtr& sock, const std::optional<Error>& e)
{
    // A receiver that closes a connection before it says whether it takes the upload turns it
    // away as it would a connection too many (it closes them at once when it holds too many);
    // one that says nothing may be swamped. Either may take the document at another try.
    if (m_connected && !m_replied) {
        const bool silent = e && e->domain == KPAsyncSocket::ErrorDomain && e->code == KPAsyncSocket::ReadTimeoutError;
        finish(error(silent ? NoAnswer : Busy, QStringLiteral("the connection ended before the receiver took the upload (%1)")
                                                   .arg(e ? e->toString() : QStringLiteral("no error"))));
        return;
    }
    TWBaseRequest::socketDidDisconnect(sock, e);
}

std::optional<QByteArray> TWFileUploadRequest::readNextData()
{
    const qint64 length = std::min<qint64>(m_dataLength - m_dataSendedLength, kChunkSize);
    if (length <= 0 || !m_fileHandle.seek(m_dataSendedLength))
        return std::nullopt;
    QByteArray chunk = m_fileHandle.read(length);
    if (chunk.size() != length)
        return std::nullopt;
    m_dataSendedLength += length;
    return chunk;
}

void TWFileUploadRequest::sendNextHeader()
{
    if (m_dataSendedLength >= m_dataLength) {
        m_asyncSocket->disconnect();
        finish(std::nullopt);
        return;
    }
    auto chunk = readNextData();
    if (!chunk) {
        failWith(error(Unreadable, QStringLiteral("cannot read %1 at %2").arg(m_filePath).arg(m_dataSendedLength)));
        return;
    }
    m_currentPartData = *chunk;
    m_asyncSocket->readDataToLength(1, TWTimeouts::shared().read, TagUploadChunkHeader);
    m_asyncSocket->writeData(u32(quint32(m_currentPartData.size())), -1, TagUploadChunkHeader);
}

void TWFileUploadRequest::onAnswer(const QByteArray& data, long tag)
{
    if (tag == TagUploadInfo && !m_infoAnswered) {
        m_infoAnswered = true;
        const qint64 reply = readI64(data).value_or(0);
        if (reply != kUploadAccepted) {
            failWith(error(m_dataLength < 1 ? Empty : reply == kUploadRefused ? Refused : Broken,
                           QStringLiteral("upload refused by server (%1)").arg(reply)));
            return;
        }
        sendNextHeader();
        return;
    }
    if (data == QByteArray(1, kUploadGaveWay)) {
        failWith(error(GaveWay, QStringLiteral("the receiver stopped the upload: it arrived too slowly, or gave "
                                         "its place to another sender")));
        return;
    }
    if (data != QByteArray(1, kAck)) {
        failWith(error(3, QStringLiteral("upload ended before completion")));
        return;
    }
    if (tag == TagUploadChunkHeader) {
        // After the last chunk the receiver stores the file before it answers.
        const bool last = m_dataSendedLength >= m_dataLength;
        m_asyncSocket->readDataToLength(
            1,
            last ? storeWait(m_dataLength, m_paramater.value(QStringLiteral("IsFolder")).toBool(), m_archiveEntries)
                 : TWTimeouts::shared().read,
            TagUploadInfo);
        m_asyncSocket->writeData(m_currentPartData, -1, TagUploadChunk);
        return;
    }
    if (tag == TagUploadInfo)
        sendNextHeader();
}
