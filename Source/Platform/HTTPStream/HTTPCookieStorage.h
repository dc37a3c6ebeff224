// The shared cookie storage: an in-memory cookie jar after RFC 6265. Set-Cookie fields are read
// with their Domain, Path, Secure, HttpOnly, Expires and Max-Age attributes; cookies are
// matched to a URL by domain, path and scheme. A Domain on the public suffix list (libpsl) is
// refused.
//
// Threads: one lock guards the jar.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>
#include <mutex>
#include <optional>

namespace platform {

struct HTTPCookie {
    QString name;
    QString value;
    QString domain;      // lower case, without a leading "."
    bool hostOnly = true;
    QString path = QStringLiteral("/");
    bool secure = false;
    bool httpOnly = false;
    std::optional<QDateTime> expires; // none: a session cookie

    bool operator==(const HTTPCookie&) const = default;
};

class HTTPCookieStorage {
public:
    static constexpr int MaxCookies = 3000;
    static constexpr int MaxCookieBytes = 4096;

    static HTTPCookieStorage& shared();

    // The cookie of one Set-Cookie value for a response from url; none when it is malformed,
    // too long, or names a domain the url's host does not belong to.
    static std::optional<HTTPCookie> parseSetCookie(const QString& value, const QUrl& url, const QDateTime& now);
    // The cookies of every Set-Cookie field of a response.
    static QList<HTTPCookie> cookiesForResponse(const QStringList& setCookieValues, const QUrl& url, const QDateTime& now);

    // Stores (or replaces, by name, domain and path) cookies; an expired one removes its match.
    void setCookies(const QList<HTTPCookie>& cookies, const QDateTime& now);
    void deleteCookie(const HTTPCookie& cookie);
    QList<HTTPCookie> cookiesForURL(const QUrl& url, const QDateTime& now) const;
    QList<HTTPCookie> allCookies() const;
    void clear();

    static bool domainMatches(const QString& host, const QString& domain);
    // Whether domain (lower case, no leading dot) is on the public suffix list.
    static bool isPublicSuffix(const QString& domain);
    static bool pathMatches(const QString& requestPath, const QString& cookiePath);

private:
    mutable std::mutex m_lock;
    QList<HTTPCookie> m_cookies;
};

} // namespace platform
