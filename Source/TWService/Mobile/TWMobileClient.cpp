#include "TWService/Mobile/TWMobileClient.h"

#include "TWService/Mobile/TWMobileService.h"

// Stands between the browser and the owner (a listener seen again at the same place is not news)
// and between the match socket and the owner (the finished match is let go before the owner
// hears of it, so the owner may start the next one from its callback).
class TWMobileClient::Bridge : public TWClientDelegate, public TWMatchClientDelegate {
public:
    void onTWClientFindServer(std::shared_ptr<ServerInfo> server) override
    {
        for (auto it = bonjourServers.begin(); it != bonjourServers.end(); ++it) {
            if ((*it)->serviceName() != server->serviceName())
                continue;
            if ((*it)->address() == server->address() && (*it)->port() == server->port())
                return;
            bonjourServers.erase(it);
            break;
        }
        bonjourServers.push_back(server);
        if (auto d = delegate.lock())
            d->onTWMobileClientFindServer(std::move(server));
    }

    void onTWClientRemoveServer(const std::shared_ptr<ServerInfo>& server) override
    {
        std::erase(bonjourServers, server);
        if (auto d = delegate.lock())
            d->onTWMobileClientRemoveServer(server);
    }

    void onTWMatchClientWillBeginMatch(TWMatchClientSocket* client) override
    {
        if (client != matchingObj.get())
            return;
        if (auto d = matchDelegate.lock())
            d->onTWMatchClientWillBeginMatch(client);
    }

    void onTWMatchClientMatchDone(TWMatchClientSocket* client, bool success,
                                  const std::optional<platform::Error>& error) override
    {
        if (client != matchingObj.get())
            return;
        auto finished = std::move(matchingObj);
        matchingObj.reset();
        matchingServer.reset();
        if (auto d = matchDelegate.lock())
            d->onTWMatchClientMatchDone(client, success, error);
    }

    std::weak_ptr<TWMobileClientDelegate> delegate;
    std::weak_ptr<TWMatchClientDelegate> matchDelegate;
    std::vector<std::shared_ptr<ServerInfo>> bonjourServers;
    std::shared_ptr<ServerInfo> matchingServer;
    std::shared_ptr<TWMatchClientSocket> matchingObj;
};

TWMobileClient::TWMobileClient(QString ownGUID)
    : m_bridge(std::make_shared<Bridge>()), m_browser(std::move(ownGUID), QString::fromLatin1(kTWMobileServiceType))
{
    m_browser.setDelegate(m_bridge);
}

TWMobileClient::~TWMobileClient()
{
    canceMatching();
    stopSearch();
}

void TWMobileClient::setDelegate(std::weak_ptr<TWMobileClientDelegate> delegate)
{
    m_bridge->delegate = std::move(delegate);
}

void TWMobileClient::setMatchDelegate(std::weak_ptr<TWMatchClientDelegate> delegate)
{
    m_bridge->matchDelegate = std::move(delegate);
}

platform::Result<void> TWMobileClient::startSearch()
{
    return m_browser.startSearch();
}

void TWMobileClient::stopSearch()
{
    m_browser.stopSearch();
}

std::vector<std::shared_ptr<ServerInfo>> TWMobileClient::bonjourServers() const
{
    return m_bridge->bonjourServers;
}

bool TWMobileClient::startMatchByServerInfo(std::shared_ptr<ServerInfo> server, const QString& name,
                                            const QString& guid, qint32 matchCode)
{
    if (m_bridge->matchingObj || !server)
        return false;
    auto socket = TWMatchClientSocket::create(server, matchCode);
    socket->setClientName(name);
    socket->setGUID(guid);
    socket->setDelegate(m_bridge);
    m_bridge->matchingObj = socket;
    m_bridge->matchingServer = server;
    if (!socket->beginMatch()) {
        m_bridge->matchingObj.reset();
        m_bridge->matchingServer.reset();
        return false;
    }
    return true;
}

void TWMobileClient::canceMatching()
{
    if (auto socket = std::move(m_bridge->matchingObj)) {
        m_bridge->matchingObj.reset();
        m_bridge->matchingServer.reset();
        socket->cancelMatch();
    }
}

std::shared_ptr<ServerInfo> TWMobileClient::matchingServer() const
{
    return m_bridge->matchingServer;
}
