// This copy's part in the peer exchange, as the application starts it: the data server, its
// publication and the browser for other copies, plus the two client calls the program makes
// (a peer's picture, an upload). Made and stopped on the main thread; stopping closes the
// server, withdraws the publication and ends the browse, so nothing outlives the application's
// shut-down order.
#pragma once

#include "TWService/Server/TWServer.h"
#include "TWService/Service/TWService.h"

#include <QVariantMap>
#include <functional>
#include <memory>

class TWPeerExchange {
public:
    struct Hooks {
        // The answer to a data request ({"Type": "Icon"}); called on a connection's queue.
        std::function<QByteArray(const QVariantMap&)> dataAnswer;
        std::function<void(std::shared_ptr<ServerInfo>)> found;
        std::function<void(const std::shared_ptr<ServerInfo>&)> removed;
        // Each upload before it starts; the receiver makes itself its delegate. Without one,
        // uploads are refused.
        std::function<void(const std::shared_ptr<TWSocketFileUpload>&)> newUpload;
        // Where uploads are staged: the library's file system.
        QString stagingRoot;
    };

    explicit TWPeerExchange(Hooks hooks);
    ~TWPeerExchange();

    // Starts the server and, when it listens, publishes it and starts browsing; failures are
    // logged ("server error: %@") and leave the rest undone.
    void start(const QString& guid, const QString& userName);
    void stop();
    quint16 serverPort() const;

    // The user default "String_Service_UUID", made (upper case) on first use.
    static QString copyIdentifier();
    // Asks the peer for its picture and sets it on the peer (TIFF, PNG or JPEG, at most 1 MiB).
    static void requestIcon(std::shared_ptr<ServerInfo> server);
    // Sends a file (a folder's archive of archiveEntries entries); completed runs once on the
    // main thread with "" or why it did not arrive, in words for the user.
    static void uploadFile(const QString& address, quint16 port, const QVariantMap& info, const QString& filePath,
                           std::function<void(const QString& error)> completed, qint64 archiveEntries = 0);

private:
    class Bridge;
    Hooks m_hooks;
    std::shared_ptr<Bridge> m_bridge;
    std::shared_ptr<TWServer> m_server;
    std::unique_ptr<TWService> m_service;
    std::unique_ptr<TWClient> m_client;
};
