#include "Platform/HTTPStream/HTTPCookieStorage.h"

#include "Platform/HTTPStream/HTTPResponseParser.h"

#include <QHostAddress>
#include <libpsl.h>

namespace platform {

namespace {

// The public suffix list: the system's copy when it has one (kept up to date by its package),
// else the one built into libpsl. Loaded once, then only read.
const psl_ctx_t* publicSuffixes()
{
    static const psl_ctx_t* const list = [] {
        const psl_ctx_t* latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    return list;
}

QString defaultPath(const QUrl& url)
{
    const QString path = url.path();
    if (!path.startsWith(u'/') || path.count(u'/') <= 1)
        return QStringLiteral("/");
    return path.left(path.lastIndexOf(u'/'));
}

// Cookie dates: day, month, year and time in any order, as RFC 6265 reads them.
std::optional<QDateTime> cookieDate(const QString& text)
{
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    int day = -1, month = -1, year = -1, h = -1, m = -1, s = -1;
    QString token;
    const auto take = [&](const QString& t) {
        if (t.isEmpty())
            return;
        const QStringList hms = t.split(u':');
        if (h < 0 && hms.size() == 3) {
            bool a, b, c;
            h = hms[0].toInt(&a);
            m = hms[1].toInt(&b);
            s = hms[2].left(2).toInt(&c);
            if (!(a && b && c))
                h = m = s = -1;
            return;
        }
        if (month < 0 && t.size() >= 3)
            for (int i = 0; i < 12; ++i)
                if (t.left(3).compare(QLatin1String(months[i]), Qt::CaseInsensitive) == 0) {
                    month = i + 1;
                    return;
                }
        bool ok = false;
        const int n = t.left(4).toInt(&ok);
        if (!ok)
            return;
        if (day < 0 && t.size() <= 2)
            day = n;
        else if (year < 0 && t.size() >= 2)
            year = n;
    };
    for (QChar c : text) {
        if (c.isLetterOrNumber() || c == u':')
            token += c;
        else {
            take(token);
            token.clear();
        }
    }
    take(token);
    if (year >= 70 && year <= 99)
        year += 1900;
    else if (year >= 0 && year <= 69)
        year += 2000;
    if (day < 1 || day > 31 || month < 1 || year < 1601 || h < 0 || h > 23 || m > 59 || s > 59)
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    return QDateTime(date, QTime(h, m, s), Qt::UTC);
}

} // namespace

HTTPCookieStorage& HTTPCookieStorage::shared()
{
    static HTTPCookieStorage storage;
    return storage;
}

bool HTTPCookieStorage::domainMatches(const QString& host, const QString& domain)
{
    const QString h = host.toLower();
    if (h == domain)
        return true;
    // An address matches only itself.
    if (!QHostAddress(h).isNull())
        return false;
    return h.endsWith(domain) && h.size() > domain.size() && h[h.size() - domain.size() - 1] == u'.';
}

bool HTTPCookieStorage::isPublicSuffix(const QString& domain)
{
    const psl_ctx_t* list = publicSuffixes();
    // Without a list only a single label is known to be one.
    if (!list)
        return !domain.contains(u'.');
    return psl_is_public_suffix2(list, QUrl::toAce(domain).toLower().constData(), PSL_TYPE_ANY) != 0;
}

bool HTTPCookieStorage::pathMatches(const QString& requestPath, const QString& cookiePath)
{
    const QString path = requestPath.isEmpty() ? QStringLiteral("/") : requestPath;
    if (path == cookiePath)
        return true;
    return path.startsWith(cookiePath) && (cookiePath.endsWith(u'/') || path[cookiePath.size()] == u'/');
}

std::optional<HTTPCookie> HTTPCookieStorage::parseSetCookie(const QString& value, const QUrl& url, const QDateTime& now)
{
    if (value.size() > MaxCookieBytes)
        return std::nullopt;
    const QStringList parts = value.split(u';');
    const QString pair = parts.first();
    const qsizetype eq = pair.indexOf(u'=');
    if (eq <= 0)
        return std::nullopt;
    HTTPCookie cookie;
    cookie.name = pair.left(eq).trimmed();
    cookie.value = pair.mid(eq + 1).trimmed();
    if (cookie.name.isEmpty())
        return std::nullopt;
    for (QChar c : cookie.name + cookie.value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return std::nullopt;
    const QString host = url.host().toLower();
    cookie.domain = host;
    cookie.path = defaultPath(url);
    std::optional<QDateTime> maxAgeExpiry;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype e = parts[i].indexOf(u'=');
        const QString name = (e < 0 ? parts[i] : parts[i].left(e)).trimmed().toLower();
        const QString v = e < 0 ? QString() : parts[i].mid(e + 1).trimmed();
        if (name == QLatin1String("domain") && !v.isEmpty()) {
            QString domain = v.toLower();
            if (domain.startsWith(u'.'))
                domain.remove(0, 1);
            // One the host is not in is another site's.
            if (domain.endsWith(u'.') || !domainMatches(host, domain))
                return std::nullopt;
            // A public suffix ("com", "co.uk", "github.io") is shared by sites that are not one
            // another's: a cookie for it would reach them all. The suffix's own host may still
            // set a cookie for itself alone.
            if (!domain.contains(u'.') || isPublicSuffix(domain)) {
                if (domain != host)
                    return std::nullopt;
                continue;
            }
            cookie.domain = domain;
            cookie.hostOnly = domain == host;
        } else if (name == QLatin1String("path")) {
            cookie.path = v.startsWith(u'/') ? v : defaultPath(url);
        } else if (name == QLatin1String("secure")) {
            cookie.secure = true;
        } else if (name == QLatin1String("httponly")) {
            cookie.httpOnly = true;
        } else if (name == QLatin1String("max-age")) {
            bool ok = false;
            const qint64 seconds = v.toLongLong(&ok);
            if (ok)
                maxAgeExpiry = seconds <= 0 ? QDateTime::fromSecsSinceEpoch(0, Qt::UTC)
                                            : now.addSecs(std::min<qint64>(seconds, 400LL * 86400));
        } else if (name == QLatin1String("expires")) {
            if (const auto date = cookieDate(v))
                cookie.expires = *date;
        }
    }
    if (maxAgeExpiry)
        cookie.expires = maxAgeExpiry;
    return cookie;
}

QList<HTTPCookie> HTTPCookieStorage::cookiesForResponse(const QStringList& values, const QUrl& url, const QDateTime& now)
{
    QList<HTTPCookie> out;
    for (const QString& v : values.mid(0, 200))
        if (auto c = parseSetCookie(v, url, now))
            out.append(*c);
    return out;
}

void HTTPCookieStorage::setCookies(const QList<HTTPCookie>& cookies, const QDateTime& now)
{
    std::lock_guard lock(m_lock);
    for (const HTTPCookie& c : cookies) {
        m_cookies.removeIf([&](const HTTPCookie& o) { return o.name == c.name && o.domain == c.domain && o.path == c.path; });
        if (c.expires && *c.expires <= now)
            continue;
        if (m_cookies.size() >= MaxCookies)
            m_cookies.removeFirst();
        m_cookies.append(c);
    }
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie)
{
    std::lock_guard lock(m_lock);
    m_cookies.removeIf([&](const HTTPCookie& o) { return o.name == cookie.name && o.domain == cookie.domain && o.path == cookie.path; });
}

QList<HTTPCookie> HTTPCookieStorage::cookiesForURL(const QUrl& url, const QDateTime& now) const
{
    std::lock_guard lock(m_lock);
    QList<HTTPCookie> out;
    const QString host = url.host().toLower();
    const bool secure = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    for (const HTTPCookie& c : m_cookies) {
        if (c.expires && *c.expires <= now)
            continue;
        if (c.hostOnly ? host != c.domain : !domainMatches(host, c.domain))
            continue;
        if (c.secure && !secure)
            continue;
        if (!pathMatches(url.path(), c.path))
            continue;
        out.append(c);
    }
    // Longer paths first, as RFC 6265 asks.
    std::stable_sort(out.begin(), out.end(), [](const HTTPCookie& a, const HTTPCookie& b) { return a.path.size() > b.path.size(); });
    return out;
}

QList<HTTPCookie> HTTPCookieStorage::allCookies() const
{
    std::lock_guard lock(m_lock);
    return m_cookies;
}

void HTTPCookieStorage::clear()
{
    std::lock_guard lock(m_lock);
    m_cookies.clear();
}

} // namespace platform
