// A request's cookies: the Cookie header from its own and the shared storage's, and the cookies
// this run's responses set.
#include "HTTP/KPHTTPRequest.h"

bool sameOrigin(const QUrl& a, const QUrl& b);

namespace {
// The session-cookie lock guards the list.
std::mutex g_sessionCookieLock;
QList<platform::HTTPCookie> g_sessionCookies;
} // namespace

QList<platform::HTTPCookie> KPHTTPRequest::requestCookies() const
{
    std::lock_guard lock(m_lock);
    return m_requestCookies;
}

void KPHTTPRequest::setRequestCookies(const QList<platform::HTTPCookie>& cookies)
{
    std::lock_guard lock(m_lock);
    m_requestCookies = cookies;
}

QList<platform::HTTPCookie> KPHTTPRequest::responseCookies() const
{
    std::lock_guard lock(m_lock);
    return m_responseCookies;
}

bool KPHTTPRequest::useCookiePersistence() const
{
    std::lock_guard lock(m_lock);
    return m_useCookiePersistence;
}

void KPHTTPRequest::setUseCookiePersistence(bool on)
{
    std::lock_guard lock(m_lock);
    m_useCookiePersistence = on;
}

QList<platform::HTTPCookie> KPHTTPRequest::sessionCookies()
{
    std::lock_guard lock(g_sessionCookieLock);
    return g_sessionCookies;
}

void KPHTTPRequest::setSessionCookies(const QList<platform::HTTPCookie>& cookies)
{
    std::lock_guard lock(g_sessionCookieLock);
    for (const auto& cookie : g_sessionCookies)
        platform::HTTPCookieStorage::shared().deleteCookie(cookie);
    g_sessionCookies = cookies;
}

void KPHTTPRequest::addSessionCookie(const platform::HTTPCookie& cookie)
{
    std::lock_guard lock(g_sessionCookieLock);
    const auto it = std::find_if(g_sessionCookies.begin(), g_sessionCookies.end(), [&](const platform::HTTPCookie& c) {
        return c.domain == cookie.domain && c.path == cookie.path && c.name == cookie.name;
    });
    if (it != g_sessionCookies.end())
        g_sessionCookies.erase(it);
    g_sessionCookies.append(cookie);
}

void KPHTTPRequest::applyCookieHeader()
{
    if (m_useCookiePersistence)
        m_requestCookies += platform::HTTPCookieStorage::shared().cookiesForURL(m_url, QDateTime::currentDateTimeUtc());
    const auto main = m_mainRequest.lock();
    // A HEAD request sent elsewhere by a redirect does not carry its main request's cookies.
    const QList<platform::HTTPCookie> cookies = main ? (sameOrigin(main->m_url, m_url) ? main->m_requestCookies : m_requestCookies)
                                                     : m_requestCookies;
    QString header;
    for (const auto& cookie : cookies)
        header += (header.isEmpty() ? QString() : QStringLiteral("; ")) + cookie.name + u'=' + cookie.value;
    if (!header.isEmpty())
        m_requestHeaders.set(QStringLiteral("Cookie"), header);
}
