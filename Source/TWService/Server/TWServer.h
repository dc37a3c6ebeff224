// The listening end of the peer exchange: it accepts on a port the system picks, reads each
// connection's request type and hands the connection to a reader of that type, within limits
// per type (10 data, 5 download, 5 upload readers, of which one address may hold all but one)
// and on connections still waiting for their type (64 in all, 16 per remote address; when all
// 64 are taken, an address holding fewer makes room by closing the oldest of the address that
// holds the most, so a few busy addresses cannot shut everyone else out).
//
// Locking: one mutex guards the reader tables, the waiting connections and the settings; no
// socket call and no delegate call is made under it.
#pragma once

#include "Platform/Foundation/Error.h"
#include "TWService/Server/TWSocketReader.h"
#include "TWService/Socket/KPAsyncSocket.h"

#include <QHash>
#include <QList>
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
    static constexpr int kMaxWaitingConnections = 64;
    static constexpr int kMaxWaitingPerAddress = 16;
    // Of each kind's readers, the slots one remote address may hold: one is always left to
    // the others.
    static constexpr int readersPerAddress(int limit) { return limit - 1; }

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

    QByteArray onSocketDataInfoReaderDataRquest(TWSocketReader* reader, const QVariantMap& parameter);
    std::shared_ptr<TWDataReader> onSocketRequestFileByParameter(TWSocketReader* reader, const QVariantMap& parameter);

private:
    class Connections;
    friend class Connections;
    TWServer() = default;
    void onRequestType(const KPAsyncSocketPtr& socket, const QByteArray& data);
    void forgetWaiting(const KPAsyncSocket* socket);

    mutable std::mutex m_mutex;
    std::shared_ptr<Connections> m_connections;
    KPAsyncSocketPtr m_asyncSocket;
    bool m_isServerStarted = false;
    quint16 m_serverPort = 0;
    QHash<QString, QList<std::shared_ptr<TWSocketReader>>> m_socketReaderTable;
    QList<std::shared_ptr<TWSocketReader>> m_socketReaders;
    QHash<const TWSocketReader*, QString> m_readerAddress;
    struct Waiting {
        KPAsyncSocketPtr socket;
        QString address;
    };
    std::vector<Waiting> m_waiting;
    std::weak_ptr<TWServerDelegate> m_delegate;
    QString m_stagingRoot;
    std::function<QString(const KPAsyncSocketPtr&)> m_addressOf;
};
