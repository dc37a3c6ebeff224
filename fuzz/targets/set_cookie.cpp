// Set-Cookie values from any server: a cookie is accepted only for the responding host's own
// domain, never for a public suffix, and within its size; dates parse without throwing.
#include "FuzzSupport.h"

#include "Platform/HTTPStream/HTTPCookieStorage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QString text = fuzz::utf8(data, size);
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    // The second host sits under a suffix of two labels, so that "co.uk" is a domain it is in.
    for (const QUrl url : {QUrl(QStringLiteral("https://www.example.org/a/b")), QUrl(QStringLiteral("http://www.shop.co.uk/"))}) {
        const auto cookies = platform::HTTPCookieStorage::cookiesForResponse(text.split(u'\n'), url, now);
        for (const auto& c : cookies) {
            if (!platform::HTTPCookieStorage::domainMatches(url.host(), c.domain))
                fuzz::fail("a cookie for another site accepted", fuzz::printable(c.domain));
            if (!c.hostOnly && platform::HTTPCookieStorage::isPublicSuffix(c.domain))
                fuzz::fail("a cookie for a public suffix accepted", fuzz::printable(c.domain));
            if (c.name.size() + c.value.size() > platform::HTTPCookieStorage::MaxCookieBytes)
                fuzz::fail("an oversized cookie accepted");
            if (c.expires && !c.expires->isValid())
                fuzz::fail("an invalid expiry");
        }
        platform::HTTPCookieStorage jar;
        jar.setCookies(cookies, now);
        (void)jar.cookiesForURL(url, now);
    }
    return 0;
}
