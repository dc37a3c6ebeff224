// Discovery of running copies: TWService publishes this copy's peer server ("_foli2_s._tcp" with
// TXT "Name" and "GUID"), TWClient browses for the others, resolves each with a 3 s limit, drops
// its own service by GUID and reports peers found and gone on the main thread.
//
// Both hold their own reference to the shared discovery backend and must be stopped (or
// destroyed) on the main thread before the program lets the backend go.
#pragma once

#include "Platform/Bonjour/ServiceBackend.h"
#include "TWService/ServerInfo.h"

#include <QHash>
#include <QString>
#include <map>
#include <memory>
#include <vector>

inline constexpr const char* kTWServiceType = "_foli2_s._tcp";

class TWService {
public:
    TWService(QString guid, quint16 dataServerPort, QString userName);
    ~TWService();
    // Publishes under the host name; failures are logged and returned.
    platform::Result<void> startService();
    void stopService();

private:
    QString m_GUID;
    quint16 m_dataServerPort;
    QString m_userName;
    std::shared_ptr<platform::ServiceBackend> m_backend;
    std::unique_ptr<platform::ServiceHandle> m_netService;
};

class TWClientDelegate {
public:
    virtual ~TWClientDelegate() = default;
    virtual void onTWClientFindServer(std::shared_ptr<ServerInfo> server) {}
    virtual void onTWClientRemoveServer(const std::shared_ptr<ServerInfo>& server) {}
};

class TWClient {
public:
    static constexpr int kResolveTimeoutMs = 3000;

    // ownGUID: this copy's identifier, whose service is never reported.
    explicit TWClient(QString ownGUID, QString serviceType = QString::fromLatin1(kTWServiceType));
    ~TWClient();
    void setDelegate(std::weak_ptr<TWClientDelegate> delegate) { m_delegate = std::move(delegate); }
    platform::Result<void> startSearch();
    void stopSearch();
    std::vector<std::shared_ptr<ServerInfo>> bonjourServers() const { return m_bonjourServers; }

private:
    void found(const platform::NetService& service);
    void resolved(const QString& key, const platform::Result<platform::NetService>& service);
    void removed(const platform::NetService& service);

    QString m_ownGUID;
    QString m_type;
    std::weak_ptr<TWClientDelegate> m_delegate;
    std::shared_ptr<platform::ServiceBackend> m_backend;
    std::unique_ptr<platform::ServiceHandle> m_serviceBroswer;
    // Services being resolved, by key, with the generation that tells a late answer apart.
    struct Pending {
        std::unique_ptr<platform::ServiceHandle> handle;
        int generation = 0;
    };
    std::map<QString, Pending> m_tmpServiceList;
    int m_nextGeneration = 0;
    std::vector<std::shared_ptr<ServerInfo>> m_bonjourServers;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
