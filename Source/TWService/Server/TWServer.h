// The listening end of the peer exchange: it accepts on a port the system picks, reads each
// connection's request type and hands the connection to a reader of that type, within limits
// per type (10 data, 5 download, 5 upload readers) and on connections still waiting for their
// type (64 in all but at most half the connections it keeps open, 16 per remote address; when
// all are taken, an address holding fewer makes room by closing the oldest of the address that
// holds the most, so a few busy addresses cannot shut everyone else out).
//
// Of the data and download readers one address may hold all but one. Uploads are different: a
// sender starts one per document, all at once, so one address may hold all five. Room for the
// others is kept instead by holding an upload connection that finds every slot taken (unless
// its address already holds all but one): it waits, up to TWTimeouts::uploadSlotWait, for the
// next slot that frees, which goes to the waiting address that holds the fewest. While one
// waits, a slot is freed for it at once: the slowest upload that falls short of the minimum
// rate gives its slot up, or, when none does, the slowest upload of the address that holds the
// most slots, if that address holds at least two more than the waiting one (so five uploads
// from one address, at any pace, make room for another address within moments; the sender
// hears kUploadGaveWay and may send that document again).
//
// Room on the disk is kept the same way: an upload that does not fit waits, as long as for a
// slot, while uploads holding room that fall short of the minimum rate give theirs up; and an
// upload that trickles (below TWTimeouts::uploadTrickleRate) gives way whether anyone waits or
// not, so no peer holds room for ever.
//
// Connections: the listener keeps at most connectionLimit() accepted connections open at once
// and accepts no more until one of them closes (newcomers wait in the system's queue), so that a
// flood of connections cannot take the descriptors the rest of the program needs.
//
// Locking: one mutex guards the reader tables, the waiting connections and the settings; no
// socket call and no delegate call is made under it.
#pragma once

#include "Platform/Foundation/Error.h"
#include "TWService/Server/TWSocketReader.h"
#include "TWService/Socket/KPAsyncSocket.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TWDataReader;

// The server's owner; every answer is optional (the defaults mean "nothing").
class TWServerDelegate {
public:
    virtual ~TWServerDelegate() = default;
    virtual QByteArray onClientRequestByParameter(TWSocketReader* reader, const QVariantMap& parameter) { return {}; }
    virtual std::shared_ptr<TWDataReader> onClientRequestFileByParameter(TWSocketReader* reader,
                                                                         const QVariantMap& parameter)
    {
        return {};
    }
    // Each new upload before it starts: the owner makes the receive side its delegate.
    virtual void onClientReqestuUploadFileFileBySocketReader(const std::shared_ptr<TWSocketFileUpload>& reader) {}
};

class TWServer : public std::enable_shared_from_this<TWServer> {
public:
    static constexpr int kMaxDataInfoReaders = 10;
    static constexpr int kMaxFileReaders = 5;
    static constexpr int kMaxFileUploaders = 5;
    // Connections still waiting for their request type: at most this many, and never more
    // than half the connections the server keeps open (connectionLimit()).
    static constexpr int kMaxWaitingConnections = 64;
    static constexpr int kMaxWaitingPerAddress = 16;
    // Of the data and download readers, the slots one remote address may hold: one is always
    // left to the others. An address holding (or waiting for) this many upload slots does not
    // wait for another.
    static constexpr int readersPerAddress(int limit) { return limit - 1; }
    // The most connections the server keeps open at once (TWTimeouts::connectionLimit).
    static int connectionLimit();

    static std::shared_ptr<TWServer> create();
    ~TWServer();

    platform::Result<void> startServer();
    // Closes the listener and every connection; uploads in progress end with an error.
    void stopServer();
    bool isServerStarted() const;
    quint16 serverPort() const;
    QString serverAddress() const;

    void setDelegate(std::weak_ptr<TWServerDelegate> delegate);
    // Where uploads are staged, each in a folder of its own: the library's file system, so the
    // finished file moves into the library without a copy. The temporary folder by default.
    void setUploadStagingRoot(const QString& folder);
    QString uploadStagingRoot() const;

    // What makes two connections come from one peer for the limits per address: the remote
    // host by default. Tests on the one loopback address name their peers here.
    void setPeerAddressOf(std::function<QString(const KPAsyncSocketPtr&)> addressOf);

    std::shared_ptr<TWSocketReader> queryReaderBySocket(const KPAsyncSocket* socket) const;
    void removeReader(const TWSocketReader* reader);
    // The reader's work is done (an upload stored) and only its last answer and close are left:
    // it no longer counts against its kind's limits, so a sender that starts its next upload on
    // hearing that answer finds the slot free. The reader stays listed until its connection ends.
    void releaseSlot(const TWSocketReader* reader);
    int readerCount(const QString& kind) const;
    // Upload connections waiting for a slot, uploads waiting for room.
    int waitingForUploadSlot() const;
    int waitingForRoom() const;
    // Accepted connections whose descriptors are open.
    int openConnections() const;
    // Asked by an upload as its reads move (pending: bytes of its current read): why it must
    // give way now, if it must. Its slot is then a waiting connection's at once; the upload
    // must end. Another upload picked meanwhile hears it on its own queue.
    TWSocketFileUpload::GiveWay shouldGiveWay(const TWSocketFileUpload* asking, std::uint64_t pending);
    // An upload whose room does not fit waits for room: true while room is being freed for it
    // (an upload holding room falls short of the minimum rate and gives way).
    bool makeRoom(const TWSocketFileUpload* asking);
    // The upload no longer waits for room.
    void roomWaitOver(const TWSocketFileUpload* upload);

    QByteArray onSocketDataInfoReaderDataRquest(TWSocketReader* reader, const QVariantMap& parameter);
    std::shared_ptr<TWDataReader> onSocketRequestFileByParameter(TWSocketReader* reader, const QVariantMap& parameter);

private:
    // Takes reader out of the slot table and forgets its address; m_mutex held.
    std::shared_ptr<TWSocketReader> takeSlotLocked(const TWSocketReader* reader);
    class Connections;
    friend class Connections;
    TWServer() = default;
    struct Admitted {
        KPAsyncSocketPtr socket;
        std::shared_ptr<TWSocketReader> reader;
    };
    void onRequestType(const KPAsyncSocketPtr& socket, const QByteArray& data);
    void forgetWaiting(const KPAsyncSocket* socket);
    // Under m_mutex: a reader of the kind for the connection, entered in the tables.
    std::shared_ptr<TWSocketReader> makeReaderLocked(const KPAsyncSocketPtr& socket, quint32 type,
                                                     const QString& address);
    int slotsTakenLocked(const QString& kind) const;
    struct Pick {
        std::shared_ptr<TWSocketFileUpload> upload;
        TWSocketFileUpload::GiveWay why = TWSocketFileUpload::GiveWay::No;
    };
    // Under m_mutex: the upload that must give way now, if one must (asking, when given, is
    // judged with its pending bytes and alone for trickling); marked as having given its slot
    // up, and waiting connections admitted in its place.
    Pick pickToGiveWayLocked(const TWSocketFileUpload* asking, std::uint64_t pending, std::vector<Admitted>* admitted);
    // Outside the lock: the picked upload hears it on its own queue.
    static void tellPicked(const Pick& pick);
    // Under m_mutex: waiting upload connections that free slots now take, out of the waiting list.
    std::vector<Admitted> admitWaitingLocked();
    // On the connection's queue: the owner hears of the reader, which takes the connection over.
    void startReader(const KPAsyncSocketPtr& socket, const std::shared_ptr<TWSocketReader>& reader, quint32 type);
    void startAdmitted(std::vector<Admitted> admitted);
    void onSlotWaitOver(const KPAsyncSocketPtr& socket);

    mutable std::mutex m_mutex;
    std::shared_ptr<Connections> m_connections;
    KPAsyncSocketPtr m_asyncSocket;
    bool m_isServerStarted = false;
    quint16 m_serverPort = 0;
    int m_connectionLimit = kMaxWaitingConnections * 2;
    QHash<QString, QList<std::shared_ptr<TWSocketReader>>> m_socketReaderTable;
    QList<std::shared_ptr<TWSocketReader>> m_socketReaders;
    QHash<const TWSocketReader*, QString> m_readerAddress;
    struct Waiting {
        KPAsyncSocketPtr socket;
        QString address;
        // Non-zero for an upload connection waiting for a slot: its place in the line.
        quint64 slotTurn = 0;
    };
    quint64 m_nextSlotTurn = 1;
    std::vector<Waiting> m_waiting;
    // Uploads waiting for room.
    QSet<const TWSocketFileUpload*> m_roomWaiters;
    std::weak_ptr<TWServerDelegate> m_delegate;
    QString m_stagingRoot;
    std::function<QString(const KPAsyncSocketPtr&)> m_addressOf;
};
