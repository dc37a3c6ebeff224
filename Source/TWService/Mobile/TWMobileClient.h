// The other side of pairing: browses for pairing listeners, reports each one once, and runs one
// match at a time through a TWMatchClientSocket. A main-thread object; its delegates are called
// on the main thread.
#pragma once

#include "TWService/Mobile/TWMatchClientSocket.h"
#include "TWService/Service/TWService.h"

#include <QString>
#include <memory>
#include <vector>

class TWMobileClientDelegate {
public:
    virtual ~TWMobileClientDelegate() = default;
    virtual void onTWMobileClientFindServer(std::shared_ptr<ServerInfo> server) {}
    virtual void onTWMobileClientRemoveServer(const std::shared_ptr<ServerInfo>& server) {}
};

class TWMobileClient {
public:
    // ownGUID: a listener published under this identifier is this device itself, never reported.
    explicit TWMobileClient(QString ownGUID = {});
    ~TWMobileClient();
    TWMobileClient(const TWMobileClient&) = delete;
    TWMobileClient& operator=(const TWMobileClient&) = delete;

    void setDelegate(std::weak_ptr<TWMobileClientDelegate> delegate);
    void setMatchDelegate(std::weak_ptr<TWMatchClientDelegate> delegate);
    platform::Result<void> startSearch();
    void stopSearch();
    std::vector<std::shared_ptr<ServerInfo>> bonjourServers() const;

    // Starts a match unless one runs; false when one runs or connecting cannot start.
    bool startMatchByServerInfo(std::shared_ptr<ServerInfo> server, const QString& name, const QString& guid,
                                qint32 matchCode);
    void canceMatching();
    std::shared_ptr<ServerInfo> matchingServer() const;

private:
    class Bridge;
    std::shared_ptr<Bridge> m_bridge;
    TWClient m_browser;
};
