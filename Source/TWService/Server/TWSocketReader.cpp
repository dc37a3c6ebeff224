#include "TWService/Server/TWSocketReader.h"

#include "TWService/Server/TWDataReader.h"
#include "TWService/Server/TWServer.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QUuid>
#include <QtGlobal>

#include <algorithm>
#include <limits>

using namespace TWWire;

namespace {
// Chunk bytes go to the file in pieces of at most this much, never as one allocation of the
// announced length.
constexpr std::uint64_t kPieceLength = 64 * 1024;

QString newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
} // namespace

TWTimeouts& TWTimeouts::shared()
{
    static TWTimeouts timeouts;
    return timeouts;
}

// ---- base

TWSocketReader::TWSocketReader(KPAsyncSocketPtr socket, QString type, std::weak_ptr<TWServer> server)
    : m_socket(std::move(socket)), m_type(std::move(type)), m_server(std::move(server))
{
}

TWSocketReader::~TWSocketReader() = default;

double TWSocketReader::secondsSinceStart() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_startedAt).count();
}

void TWSocketReader::startReader()
{
    m_startedAt = std::chrono::steady_clock::now();
    m_bReadedCommandDataHeader = false;
    m_socket->readDataToLength(4, TWTimeouts::shared().read, bodyTag());
    m_socket->writeData(u32(TWConnectAccepted), -1, TagRequestType);
}

void TWSocketReader::didReadData(const KPAsyncSocketPtr&, const QByteArray& data, long tag)
{
    if (tag != bodyTag() || m_commandLength == 0xFFFFFFFFu) {
        doReadData(data, tag);
        return;
    }
    if (!m_bReadedCommandDataHeader) {
        m_bReadedCommandDataHeader = true;
        m_commandLength = readU32(data).value_or(0);
        if (m_commandLength > kMaxBodyLength) {
            KPLogLogRepeatedMessage(m_type + QStringLiteral(" body too long"), QStringLiteral("TWServer"), 0, QStringLiteral("%1: a request body of %2 bytes is refused").arg(m_type).arg(m_commandLength));
            m_commandLength = 0xFFFFFFFFu;
            onBodyTooLong();
            return;
        }
        if (m_commandLength == 0) {
            m_commandLength = 0xFFFFFFFFu;
            onBodyUnreadable();
            return;
        }
        m_socket->readDataToLength(m_commandLength, TWTimeouts::shared().read, bodyTag());
        return;
    }
    const quint32 length = m_commandLength;
    m_commandLength = 0xFFFFFFFFu; // the body is done: later reads of this tag are the reader's
    Q_UNUSED(length);
    auto body = decodeBody(data);
    if (!body) {
        KPLogLogRepeatedMessage(m_type + QStringLiteral(" body unreadable"), QStringLiteral("TWServer"), 1, QStringLiteral("%1: Unarchiver object error: %2").arg(m_type, body.error().toString()));
        onBodyUnreadable();
        return;
    }
    onBody(*body);
}

double TWSocketReader::shouldTimeoutReadWithTag(const KPAsyncSocketPtr&, long tag, double, std::uint64_t bytesDone)
{
    // An inactivity limit: a read that is still moving gets another period.
    const bool moved = tag == m_lastTimeoutTag ? bytesDone > m_lastBytesDone : bytesDone > 0;
    m_lastTimeoutTag = tag;
    m_lastBytesDone = bytesDone;
    double extension = moved ? TWTimeouts::shared().read : 0;
    // … but moving is not enough: the body has a deadline, and an upload a minimum rate while
    // another waits for its slot.
    if (extension > 0 && tag == bodyTag() && m_commandLength != 0xFFFFFFFFu)
        extension = std::min(extension, TWTimeouts::shared().requestDeadline - secondsSinceStart());
    if (extension > 0) {
        (void)givesWay(tag, bytesDone);
        return extension;
    }
    onReadTimeout(tag);
    return 0;
}

void TWSocketReader::socketDidDisconnect(const KPAsyncSocketPtr&, const std::optional<platform::Error>& error)
{
    if (error)
        KPLogLogRepeatedMessage(QStringLiteral("%1 disconnect %2 %3").arg(m_type, error->domain).arg(error->code), QStringLiteral("TWServer"), 0, QStringLiteral("%1: Disconnect with error :%2").arg(m_type, error->toString()));
    auto keep = shared_from_this();
    socketDidDisconnectWithError(error);
    if (auto server = m_server.lock())
        server->removeReader(this);
}

// ---- type 1

TWSocketDataInfoReader::TWSocketDataInfoReader(KPAsyncSocketPtr socket, std::weak_ptr<TWServer> server)
    : TWSocketReader(std::move(socket), QStringLiteral("DataInfoReader"), std::move(server))
{
}

void TWSocketDataInfoReader::onBodyTooLong()
{
    m_socket->writeData(u32(kBodyTooLong), -1, TagDataReply);
    m_socket->disconnectAfterWriting();
}

void TWSocketDataInfoReader::onBodyUnreadable()
{
    m_socket->writeData(u32(kBodyUnreadable), -1, TagDataReply);
    m_socket->disconnectAfterWriting();
}

void TWSocketDataInfoReader::onBody(const QVariantMap& body)
{
    QByteArray answer;
    if (auto server = m_server.lock())
        answer = server->onSocketDataInfoReaderDataRquest(this, body);
    if (answer.size() > qsizetype(kMaxDataAnswer))
        answer.clear(); // no client would take it
    m_socket->writeData(answer.isEmpty() ? u32(0) : u32(quint32(answer.size())) + answer, -1, TagDataReply);
    // The client closes once it has the answer; one that does not is closed after a while.
    m_socket->readDataWithTimeout(TWTimeouts::shared().closeWait, TagDataReply);
}

void TWSocketDataInfoReader::doReadData(const QByteArray&, long tag)
{
    if (tag == TagDataReply)
        m_socket->disconnect(); // nothing may follow the answer
}

// ---- type 2

TWSocketFileReader::TWSocketFileReader(KPAsyncSocketPtr socket, std::weak_ptr<TWServer> server)
    : TWSocketReader(std::move(socket), QStringLiteral("FileReader"), std::move(server))
{
}

void TWSocketFileReader::onBodyTooLong()
{
    m_socket->writeData(i64(kFileBodyTooLong), -1, TagFileHeader);
    m_socket->disconnectAfterWriting();
}

void TWSocketFileReader::onBodyUnreadable()
{
    m_socket->writeData(i64(kFileBodyUnreadable), -1, TagFileHeader);
    m_socket->disconnectAfterWriting();
}

void TWSocketFileReader::onBody(const QVariantMap& body)
{
    if (auto server = m_server.lock())
        m_dataReader = server->onSocketRequestFileByParameter(this, body);
    m_dataLength = m_dataReader ? m_dataReader->length() : 0;
    if (m_dataLength <= 0) {
        m_socket->writeData(i64(0), -1, TagFileHeader);
        m_socket->disconnectAfterWriting();
        return;
    }
    m_socket->readDataToLength(1, TWTimeouts::shared().read, TagFileHeader);
    m_socket->writeData(i64(m_dataLength), -1, TagFileHeader);
}

void TWSocketFileReader::doReadData(const QByteArray& data, long tag)
{
    if (tag != TagFileHeader)
        return;
    if (data != QByteArray(1, kAck) || m_dataSendedLength >= m_dataLength) {
        m_socket->disconnect();
        return;
    }
    const qint64 length = std::min<qint64>(m_dataLength - m_dataSendedLength, kChunkSize);
    const QByteArray chunk = m_dataReader->readDataOfRange(m_dataSendedLength, length);
    if (chunk.size() != length) {
        // A source that shrank cannot keep the total it announced.
        qWarning("FileReader: Send File Error: the source gave %lld of %lld bytes", qint64(chunk.size()), length);
        m_socket->disconnect();
        return;
    }
    m_dataSendedLength += length;
    m_socket->readDataToLength(1, m_dataSendedLength < m_dataLength ? TWTimeouts::shared().read
                                                                     : TWTimeouts::shared().closeWait,
                               TagFileHeader);
    m_socket->writeData(u32(quint32(length)) + chunk, -1, TagFileChunk);
}

// ---- type 3

TWSocketFileUpload::TWSocketFileUpload(KPAsyncSocketPtr socket, std::weak_ptr<TWServer> server, QString stagingRoot)
    : TWSocketReader(std::move(socket), QStringLiteral("FileUpload"), std::move(server)),
      m_stagingRoot(std::move(stagingRoot))
{
}

TWSocketFileUpload::~TWSocketFileUpload()
{
    if (!m_ended)
        removeStaging();
}

void TWSocketFileUpload::setDelegate(std::weak_ptr<TWSocketFileUploadDelegate> delegate)
{
    std::lock_guard lock(m_mutex);
    m_delegate = std::move(delegate);
}

std::shared_ptr<TWSocketFileUploadDelegate> TWSocketFileUpload::lockedDelegate() const
{
    std::lock_guard lock(m_mutex);
    return m_delegate.lock();
}

TWWire::TWUploadFileInfo TWSocketFileUpload::fileInfo() const
{
    std::lock_guard lock(m_mutex);
    return m_parameter;
}

platform::FreeSpaceLedger::Reservation TWSocketFileUpload::takeRoom()
{
    m_roomHeld.store(0);
    return std::move(m_room);
}

QString TWSocketFileUpload::stagingFolder() const
{
    std::lock_guard lock(m_mutex);
    return m_stagingFolder;
}

std::shared_ptr<TWSocketFileUpload> TWSocketFileUpload::self()
{
    return std::static_pointer_cast<TWSocketFileUpload>(shared_from_this());
}

void TWSocketFileUpload::startReader()
{
    m_bReadedDataPackageHeader = false;
    TWSocketReader::startReader();
}

void TWSocketFileUpload::onBodyTooLong()
{
    m_socket->writeData(i64(kFileBodyTooLong), -1, TagUploadInfo);
    m_socket->disconnectAfterWriting();
}

void TWSocketFileUpload::onBodyUnreadable()
{
    m_socket->writeData(i64(kUploadBodyUnreadable), -1, TagUploadInfo);
    m_socket->disconnectAfterWriting();
}

void TWSocketFileUpload::onBody(const QVariantMap& body)
{
    const auto info = TWUploadFileInfo::fromDictionary(body);
    if (!info) {
        KPLogLogRepeatedMessage(QStringLiteral("upload without a size"), QStringLiteral("TWServer"), 0, QStringLiteral("TWSocketFileUpload: an upload without a Size is closed"));
        m_socket->disconnect();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_parameter = *info;
    }
    m_dataLength = info->size;
    if (!lockedDelegate()) {
        // Nobody would take the file: accepting it would report as delivered what is thrown away.
        KPLogLogRepeatedMessage(QStringLiteral("upload without a receiver"), QStringLiteral("TWServer"), 0, QStringLiteral("TWSocketFileUpload: no receiver for uploads; refused"));
        m_socket->writeData(i64(kUploadRefused), -1, TagUploadInfo);
        m_socket->disconnectAfterWriting();
        return;
    }
    if (m_dataLength < 1) {
        KPLogLogRepeatedMessage(QStringLiteral("upload of size 0"), QStringLiteral("TWServer"), 0, QStringLiteral("TWSocketFileUpload: Read file size == 0"));
        m_socket->writeData(i64(kUploadRefused), -1, TagUploadInfo);
        m_socket->disconnectAfterWriting();
        return;
    }
    reserveRoom(std::chrono::steady_clock::now()
                + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(TWTimeouts::shared().uploadSlotWait)));
}

void TWSocketFileUpload::reserveRoom(std::chrono::steady_clock::time_point deadline)
{
    if (m_ended)
        return; // the connection went while it waited
    // The file must fit with room to spare, beside what other uploads still bring: a peer may
    // not fill the library's disk. A folder's archive is unpacked beside itself, to at least
    // its own size: that room is held from now on too, so that of folders arriving together
    // those that fit are taken in turn, and not all of them until none can be unpacked.
    const bool isFolder = fileInfo().isFolder.value_or(false);
    const qint64 room = isFolder && m_dataLength <= std::numeric_limits<qint64>::max() / 2 ? 2 * m_dataLength : m_dataLength;
    m_room = platform::FreeSpaceLedger::shared().reserve(m_stagingRoot, room, freeSpaceMargin);
    auto server = m_server.lock();
    if (!m_room) {
        // Room that uploads arriving too slowly hold is not theirs to keep while this one waits.
        if (server && std::chrono::steady_clock::now() < deadline && server->makeRoom(this)) {
            std::weak_ptr<TWSocketFileUpload> weak = self();
            m_socket->delegateQueue().after(std::chrono::milliseconds(50), [weak, deadline] {
                if (auto upload = weak.lock())
                    upload->reserveRoom(deadline);
            });
            return;
        }
        if (server)
            server->roomWaitOver(this);
        KPLogLogRepeatedMessage(QStringLiteral("upload does not fit"), QStringLiteral("TWServer"), 0, QStringLiteral("TWSocketFileUpload: an upload of %1 bytes does not fit").arg(m_dataLength));
        m_socket->writeData(i64(kUploadRefused), -1, TagUploadInfo);
        m_socket->disconnectAfterWriting();
        return;
    }
    if (server)
        server->roomWaitOver(this);
    m_roomHeld.store(m_room.held());
    const QString folder = QDir(m_stagingRoot).filePath(QStringLiteral(".folivo-receive-") + newUUID());
    if (!QDir().mkpath(folder)) {
        qWarning("TWSocketFileUpload: cannot make the staging folder %s", qPrintable(folder));
        m_socket->disconnect();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stagingFolder = folder;
    }
    m_outputPath = QDir(folder).filePath(newUUID());
    m_outputStream.setFileName(m_outputPath);
    if (!m_outputStream.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qWarning("TWSocketFileUpload: cannot open %s", qPrintable(m_outputPath));
        removeStaging();
        m_socket->disconnect();
        return;
    }
    m_started = true;
    m_acceptedAt.store(std::chrono::steady_clock::now().time_since_epoch().count());
    if (auto d = lockedDelegate())
        d->onClientWillUploadFile(self());
    m_socket->readDataToLength(4, TWTimeouts::shared().read, TagUploadChunkHeader);
    m_socket->writeData(i64(kUploadAccepted), -1, TagUploadInfo);
}

void TWSocketFileUpload::readNextPiece()
{
    const std::uint64_t left = std::uint64_t(m_dataPackageLength - m_dataPackageReadedLength);
    m_socket->readDataWithTimeout(TWTimeouts::shared().read, nullptr, 0, std::min(left, kPieceLength), TagUploadChunk);
}

TWSocketFileUpload::Pace TWSocketFileUpload::pace(std::uint64_t pending) const
{
    const auto accepted = m_acceptedAt.load();
    if (accepted == 0)
        return {};
    const auto& limits = TWTimeouts::shared();
    const std::chrono::steady_clock::duration elapsed =
        std::chrono::steady_clock::now() - std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(accepted));
    const double since = std::chrono::duration<double>(elapsed).count();
    const double received = double(m_receivedBytes.load()) + double(pending);
    Pace pace;
    pace.behind = received < limits.uploadMinimumRate * (since - limits.uploadRateGrace);
    pace.trickles = received < limits.uploadTrickleRate * (since - limits.uploadRateGrace);
    pace.rate = received / std::max(since, 1e-3);
    return pace;
}

bool TWSocketFileUpload::givesWay(long, std::uint64_t pending)
{
    if (m_ended || !m_started)
        return false;
    auto server = m_server.lock();
    const GiveWay why = server ? server->shouldGiveWay(this, pending) : GiveWay::No;
    if (why == GiveWay::No)
        return false;
    giveWay(why, pending);
    return true;
}

void TWSocketFileUpload::onChosenToGiveWay(GiveWay why)
{
    // A read is pending: what it brings is drained.
    if (m_started)
        giveWay(why, 0);
}

void TWSocketFileUpload::giveWay(GiveWay why, std::uint64_t pending)
{
    const char* reason = why == GiveWay::Trickles ? "upload too slow"
        : why == GiveWay::SlowWhileSlotWanted     ? "upload too slow while another sender waits"
        : why == GiveWay::SlowWhileRoomWanted     ? "upload too slow while another sender waits for room"
                                                  : "upload gave way to a sender from another address";
    if (!end(QStringLiteral("%1: %2 of %3 bytes")
                 .arg(QLatin1String(reason))
                 .arg(m_dataReadedLength + qint64(pending))
                 .arg(m_dataLength)))
        return;
    m_drainUntil = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                   std::chrono::duration<double>(TWTimeouts::shared().closeWait));
    m_socket->writeData(QByteArray(1, kUploadGaveWay), -1, TagUploadInfo);
}

void TWSocketFileUpload::drain()
{
    m_socket->readDataWithTimeout(TWTimeouts::shared().closeWait, nullptr, 0, kPieceLength, TagUploadChunk);
}

void TWSocketFileUpload::doReadData(const QByteArray& data, long tag)
{
    if (m_ended) {
        if (m_gaveWay && !data.isEmpty() && std::chrono::steady_clock::now() < m_drainUntil)
            drain();
        else if (m_gaveWay)
            m_socket->disconnect();
        return;
    }
    // The bytes just read are dropped with the rest; no read is pending now.
    if (givesWay(tag, std::uint64_t(data.size()))) {
        drain();
        return;
    }
    if (tag == TagUploadChunkHeader) {
        m_bReadedDataPackageHeader = true;
        m_dataPackageLength = readU32(data).value_or(0);
        m_dataPackageReadedLength = 0;
        if (m_dataReadedLength + m_dataPackageLength > m_dataLength) {
            fail(QStringLiteral("read data overflow, %1/%2").arg(m_dataReadedLength + m_dataPackageLength).arg(m_dataLength));
            return;
        }
        if (m_dataPackageLength == 0 || m_dataPackageLength > qint64(kChunkSize)) {
            fail(QStringLiteral("read package data overflow, %1/%2").arg(m_dataPackageLength).arg(kChunkSize));
            return;
        }
        readNextPiece();
        m_socket->writeData(QByteArray(1, kAck), -1, TagUploadChunkHeader);
        return;
    }
    if (tag != TagUploadChunk)
        return;
    if (m_outputStream.write(data) != data.size()) {
        fail(QStringLiteral("write of the received file failed: %1").arg(m_outputStream.errorString()));
        return;
    }
    m_dataPackageReadedLength += data.size();
    m_dataReadedLength += data.size();
    m_receivedBytes.store(m_dataReadedLength);
    m_room.wrote(data.size());
    m_roomHeld.store(m_room.held());
    if (m_dataPackageReadedLength < m_dataPackageLength) {
        readNextPiece();
        return;
    }
    m_dataPackageLength = 0;
    m_dataPackageReadedLength = 0;
    m_bReadedDataPackageHeader = false;
    if (m_dataReadedLength < m_dataLength) {
        m_socket->readDataToLength(4, TWTimeouts::shared().read, TagUploadChunkHeader);
        m_socket->writeData(QByteArray(1, kAck), -1, TagUploadInfo);
        return;
    }
    // Complete: only a file that reached the disk whole is handed on.
    if (!m_outputStream.flush() || (m_outputStream.close(), m_outputStream.error() != QFileDevice::NoError)) {
        fail(QStringLiteral("write of the received file failed: %1").arg(m_outputStream.errorString()));
        return;
    }
    auto receiver = lockedDelegate();
    if (!receiver) {
        fail(QStringLiteral("the receiver went away"));
        return;
    }
    m_ended = true;
    if (!receiver->onClientUploadedFile(self(), m_outputPath)) {
        // Closing without the last acknowledgement tells the sender it did not arrive.
        qInfo("TWSocketFileUpload: the receiver did not keep the file");
        removeStaging();
        m_socket->disconnect();
        return;
    }
    // The sender may start its next upload the moment this answer reaches it.
    if (auto server = m_server.lock())
        server->releaseSlot(this);
    m_socket->writeData(QByteArray(1, kAck), -1, TagUploadInfo);
    m_socket->disconnectAfterWriting();
}

void TWSocketFileUpload::onReadTimeout(long tag)
{
    fail(QStringLiteral("time out read with tag: %1").arg(tag));
}

void TWSocketFileUpload::fail(const QString& text)
{
    if (end(text))
        m_socket->disconnect();
}

bool TWSocketFileUpload::end(const QString& text)
{
    if (m_ended)
        return false;
    m_ended = true;
    m_outputStream.close();
    removeStaging();
    m_room.release();
    m_roomHeld.store(0);
    KPLogLogRepeatedMessage(QStringLiteral("upload ended ") + text.section(QLatin1Char(':'), 0, 0), QStringLiteral("TWServer"), 0, QStringLiteral("TWSocketFileUpload: %1").arg(text));
    // Only an upload the receive side heard begin is reported as ending.
    if (m_started) {
        if (auto d = lockedDelegate())
            d->onClientUploadedFileError(self(), platform::Error{ErrorDomain, 0, text});
    }
    return true;
}

void TWSocketFileUpload::socketDidDisconnectWithError(const std::optional<platform::Error>&)
{
    if (!m_ended)
        fail(QStringLiteral("connection closed before upload completed"));
}

void TWSocketFileUpload::removeStaging()
{
    QString folder;
    {
        std::lock_guard lock(m_mutex);
        folder = m_stagingFolder;
    }
    if (!folder.isEmpty())
        QDir(folder).removeRecursively();
}
