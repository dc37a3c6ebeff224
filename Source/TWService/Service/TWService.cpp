#include "TWService/Service/TWService.h"

#include <QHostAddress>
#include <QSysInfo>
#include <QtGlobal>

using platform::DispatchQueue;
using platform::NetService;

// ---- publishing

TWService::TWService(QString guid, quint16 dataServerPort, QString userName)
    : m_GUID(std::move(guid)), m_dataServerPort(dataServerPort), m_userName(std::move(userName))
{
}

TWService::~TWService()
{
    stopService();
}

platform::Result<void> TWService::startService()
{
    if (m_netService)
        return {};
    m_backend = platform::ServiceBackend::shared();
    NetService service;
    // The backends refuse an empty name; the host name is what the system would have chosen.
    service.name = QSysInfo::machineHostName();
    if (service.name.isEmpty())
        service.name = QStringLiteral("Folivo");
    service.type = QString::fromLatin1(kTWServiceType);
    service.port = m_dataServerPort;
    service.txt.insert(QStringLiteral("Name"), m_userName.toUtf8().left(250));
    service.txt.insert(QStringLiteral("GUID"), m_GUID.toUtf8().left(250));
    auto handle = m_backend->publish(service, DispatchQueue::main(), [](const NetService&) {});
    if (!handle) {
        qWarning("TWService: publishing failed: %s", qPrintable(handle.error().toString()));
        return std::unexpected(handle.error());
    }
    m_netService = std::move(*handle);
    return {};
}

void TWService::stopService()
{
    m_netService.reset();
    m_backend.reset();
}

// ---- browsing

TWClient::TWClient(QString ownGUID, QString serviceType) : m_ownGUID(std::move(ownGUID)), m_type(std::move(serviceType)) {}

TWClient::~TWClient()
{
    *m_alive = false;
    stopSearch();
}

platform::Result<void> TWClient::startSearch()
{
    if (m_serviceBroswer)
        return {};
    m_backend = platform::ServiceBackend::shared();
    std::weak_ptr<bool> alive = m_alive;
    platform::BrowseCallbacks callbacks;
    callbacks.found = [this, alive](const NetService& s) {
        if (alive.lock())
            found(s);
    };
    callbacks.removed = [this, alive](const NetService& s) {
        if (alive.lock())
            removed(s);
    };
    auto browser = m_backend->browse(m_type, QStringLiteral("local."), DispatchQueue::main(), std::move(callbacks));
    if (!browser) {
        qWarning("TWClient: browsing failed: %s", qPrintable(browser.error().toString()));
        return std::unexpected(browser.error());
    }
    m_serviceBroswer = std::move(*browser);
    return {};
}

void TWClient::stopSearch()
{
    m_serviceBroswer.reset();
    m_tmpServiceList.clear();
    m_backend.reset();
}

void TWClient::found(const NetService& service)
{
    const QString key = service.key();
    const int generation = ++m_nextGeneration;
    std::weak_ptr<bool> alive = m_alive;
    Pending& pending = m_tmpServiceList[key];
    pending.generation = generation;
    pending.handle = m_backend->resolve(service, DispatchQueue::main(),
                                        [this, alive, key](const platform::Result<NetService>& r) {
                                            if (alive.lock())
                                                resolved(key, r);
                                        });
    // A service that does not answer in time is forgotten, as if it had never been seen.
    DispatchQueue::main().after(std::chrono::milliseconds(kResolveTimeoutMs), [this, alive, key, generation] {
        if (!alive.lock())
            return;
        auto it = m_tmpServiceList.find(key);
        if (it != m_tmpServiceList.end() && it->second.generation == generation)
            m_tmpServiceList.erase(it);
    });
}

namespace {
QString txtValue(const NetService& service, const QString& key)
{
    for (auto it = service.txt.cbegin(); it != service.txt.cend(); ++it) {
        if (it.key().compare(key, Qt::CaseInsensitive) == 0)
            return QString::fromUtf8(it.value());
    }
    return {};
}
} // namespace

void TWClient::resolved(const QString& key, const platform::Result<NetService>& result)
{
    auto it = m_tmpServiceList.find(key);
    if (it == m_tmpServiceList.end())
        return; // timed out or stopped meanwhile
    // The handle is destroyed later, not from inside its own callback.
    auto handle = std::make_shared<std::unique_ptr<platform::ServiceHandle>>(std::move(it->second.handle));
    m_tmpServiceList.erase(it);
    DispatchQueue::main().async([handle] { handle->reset(); });
    if (!result)
        return;
    QString address;
    for (const QHostAddress& a : result->addresses) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            address = a.toString();
            break;
        }
    }
    if (address.isEmpty())
        return;
    const QString guid = txtValue(*result, QStringLiteral("GUID"));
    if (!m_ownGUID.isEmpty() && guid == m_ownGUID)
        return; // this copy itself
    auto server = std::make_shared<ServerInfo>(result->name, address, result->port,
                                               txtValue(*result, QStringLiteral("Name")), guid);
    // One entry per service name: a service resolved again replaces its old entry.
    std::erase_if(m_bonjourServers, [&](const auto& s) { return s->serviceName() == server->serviceName(); });
    m_bonjourServers.push_back(server);
    if (auto d = m_delegate.lock())
        d->onTWClientFindServer(server);
}

void TWClient::removed(const NetService& service)
{
    m_tmpServiceList.erase(service.key());
    std::vector<std::shared_ptr<ServerInfo>> gone;
    for (auto it = m_bonjourServers.begin(); it != m_bonjourServers.end();) {
        if ((*it)->serviceName() == service.name) {
            gone.push_back(*it);
            it = m_bonjourServers.erase(it);
        } else {
            ++it;
        }
    }
    if (auto d = m_delegate.lock()) {
        for (const auto& s : gone)
            d->onTWClientRemoveServer(s);
    }
}
