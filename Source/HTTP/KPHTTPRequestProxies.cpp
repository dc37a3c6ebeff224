// Choosing a request's proxy: its own settings, else the system's through libproxy.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/HTTPStream/SystemProxies.h"

#include <QHostAddress>

namespace {

// Loopback addresses never go through a proxy, whatever the environment says.
bool isLoopback(const QUrl& url)
{
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

QString KPHTTPRequest::proxyHost() const
{
    std::lock_guard lock(m_lock);
    return m_proxyHost;
}

void KPHTTPRequest::setProxyHost(const QString& host)
{
    std::lock_guard lock(m_lock);
    m_proxyHost = host;
}

int KPHTTPRequest::proxyPort() const
{
    std::lock_guard lock(m_lock);
    return m_proxyPort;
}

void KPHTTPRequest::setProxyPort(int port)
{
    std::lock_guard lock(m_lock);
    m_proxyPort = port;
}

QString KPHTTPRequest::proxyType() const
{
    std::lock_guard lock(m_lock);
    return m_proxyType;
}

void KPHTTPRequest::setProxyType(const QString& type)
{
    std::lock_guard lock(m_lock);
    m_proxyType = type;
}

bool KPHTTPRequest::configureProxies()
{
    if (!m_proxyHost.isEmpty() || m_proxyPort != 0)
        return true;
    // A request's own proxy script is not evaluated by this client (it would need libproxy's
    // script runner): the request goes without a proxy, as when a script cannot be read.
    if (!m_PACurl.isEmpty() || isLoopback(m_url))
        return true;
    const auto answers = platform::SystemProxies::proxiesForURL(m_url);
    if (!answers) {
        cancelLoad();
        failWithError(kphttp::error(kphttp::InternalErrorWhileBuildingRequestType,
                                    QStringLiteral("Unable to obtain information on proxy servers needed for request")));
        return false;
    }
    for (const QString& answer : *answers) {
        const auto settings = platform::SystemProxies::settingsFromAnswer(answer);
        if (!settings)
            continue;
        if (settings->type != platform::HTTPProxySettings::Type::None) {
            m_proxyHost = settings->host;
            m_proxyPort = settings->port;
            m_proxyType = settings->type == platform::HTTPProxySettings::Type::SOCKS ? QStringLiteral("SOCKS")
                                                                                     : QStringLiteral("HTTP");
        }
        break;
    }
    return true;
}
