#include "Platform/HTTPStream/HTTPCookieStorage.h"
#include "Support/HTTPTestServer.h"
#include "Support/TestSupport.h"
#include "HTTP/KPHTTPRequest.h"

#include <gtest/gtest.h>

using platform::HTTPCookieStorage;
using testsupport::HTTPTestRequest;
using testsupport::HTTPTestResponse;
using testsupport::HTTPTestServer;

TEST(HTTPCookieTest, SetCookieAttributesAndWhoMaySetThem)
{
    const QDateTime now(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    const QUrl page(QStringLiteral("https://www.example.org/docs/page.html"));
    auto c = HTTPCookieStorage::parseSetCookie(
        QStringLiteral("sid=abc; Domain=.Example.org; Path=/docs; Secure; HttpOnly; Max-Age=60; Expires=Wed, 09 Jun 2021 10:18:14 GMT"),
        page, now);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->domain, QStringLiteral("example.org"));
    EXPECT_FALSE(c->hostOnly);
    EXPECT_EQ(c->path, QStringLiteral("/docs"));
    EXPECT_TRUE(c->secure && c->httpOnly);
    EXPECT_EQ(c->expires, now.addSecs(60)) << "Max-Age wins over Expires";

    auto d = HTTPCookieStorage::parseSetCookie(QStringLiteral("a=1"), page, now);
    EXPECT_EQ(d->path, QStringLiteral("/docs"));
    EXPECT_TRUE(d->hostOnly);
    EXPECT_FALSE(d->expires);

    for (const char* refused : {"a=1; Domain=org", "a=1; Domain=other.org", "a=1; Domain=ample.org", "=novalue", "noequals",
                                "a=b\x01c"})
        EXPECT_FALSE(HTTPCookieStorage::parseSetCookie(QString::fromLatin1(refused), page, now)) << refused;
    EXPECT_FALSE(HTTPCookieStorage::parseSetCookie(QStringLiteral("a=1; Domain=0.1"), QUrl("http://127.0.0.1/"), now));

    HTTPCookieStorage jar;
    jar.setCookies({*c, *d}, now);
    EXPECT_EQ(jar.cookiesForURL(QUrl("https://api.example.org/docs/x"), now).size(), 1) << "domain cookie, not host-only";
    EXPECT_TRUE(jar.cookiesForURL(QUrl("http://www.example.org/docs/x"), now).size() == 1) << "secure one held back";
    EXPECT_TRUE(jar.cookiesForURL(QUrl("https://www.example.org/docsx"), now).isEmpty());
    EXPECT_TRUE(jar.cookiesForURL(QUrl("https://www.example.org/docs/x"), now.addSecs(61)).size() == 1) << "expired gone";
    auto removal = *d;
    removal.expires = now.addSecs(-1);
    jar.setCookies({removal}, now);
    EXPECT_EQ(jar.allCookies().size(), 1);
}

TEST(HTTPCookieTest, RequestsSendWhatResponsesSetAndRedirectsChooseAgain)
{
    KPHTTPRequest::clearSession();
    HTTPTestServer other([](const HTTPTestRequest& r) {
        return HTTPTestResponse::make(200, "auth=" + r.header("Authorization") + " cookie=" + r.header("Cookie"));
    });
    HTTPTestServer server([&](const HTTPTestRequest& r) {
        if (r.target == "/login") {
            QList<QPair<QByteArray, QByteArray>> headers;
            for (int i = 0; i < 90; ++i) // with the rest, within the 100 fields a response may have
                headers.append(qMakePair(QByteArray("Set-Cookie"), "c" + QByteArray::number(i) + "=v; Path=/"));
            headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("evil=1; Domain=example.com")));
            return HTTPTestResponse::make(200, "in", headers);
        }
        if (r.target == "/away")
            return HTTPTestResponse::make(307, {}, {{"Location", other.url("/there").toEncoded()}});
        return HTTPTestResponse::make(200, r.header("Cookie"));
    });
    auto login = KPHTTPRequest::requestWithURL(server.url("/login"));
    login->startSynchronous();
    EXPECT_EQ(login->responseCookies().size(), 90);
    EXPECT_EQ(KPHTTPRequest::sessionCookies().size(), 90);

    auto next = KPHTTPRequest::requestWithURL(server.url("/page"));
    next->startSynchronous();
    EXPECT_TRUE(next->responseString().startsWith(QStringLiteral("c0=v; c1=v")));
    EXPECT_FALSE(next->responseString().contains(QStringLiteral("evil")));

    auto away = KPHTTPRequest::requestWithURL(server.url("/away"));
    away->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer secret"));
    away->setUseCookiePersistence(false);
    away->startSynchronous();
    EXPECT_EQ(away->responseString(), QStringLiteral("auth= cookie=")) << "nothing of the first server's goes to the second";

    KPHTTPRequest::clearSession();
    auto after = KPHTTPRequest::requestWithURL(server.url("/page"));
    after->startSynchronous();
    EXPECT_TRUE(after->responseString().isEmpty()) << "session cookies end with the session";
}

// The sites are named through a hostile "proxy" on 127.0.0.1 that answers for every host itself.
TEST(HTTPCookieTest, ACookieForAPublicSuffixIsRefused)
{
    KPHTTPRequest::clearSession();
    HTTPCookieStorage::shared().clear();
    HTTPTestServer site([](const HTTPTestRequest& r) {
        if (r.target.endsWith("/set"))
            return HTTPTestResponse::make(200, "set", {{"Set-Cookie", "wide=1; Domain=co.uk; Path=/"},
                                                       {"Set-Cookie", "pages=1; Domain=.github.io; Path=/"},
                                                       {"Set-Cookie", "own=1; Domain=shop.co.uk; Path=/"}});
        return HTTPTestResponse::make(200, r.header("Cookie"));
    });
    const auto fetch = [&](const QString& url) {
        auto request = KPHTTPRequest::requestWithURL(QUrl(url));
        request->setProxyHost(QStringLiteral("127.0.0.1"));
        request->setProxyPort(site.port());
        request->startSynchronous();
        return request;
    };
    auto set = fetch(QStringLiteral("http://www.shop.co.uk/set"));
    ASSERT_FALSE(set->error()) << set->error()->message.toStdString();
    EXPECT_EQ(set->responseCookies().size(), 1);
    auto pages = fetch(QStringLiteral("http://someone.github.io/set"));
    EXPECT_EQ(pages->responseCookies().size(), 0);

    EXPECT_EQ(fetch(QStringLiteral("http://bank.co.uk/"))->responseString(), QString()) << "another site under co.uk";
    EXPECT_EQ(fetch(QStringLiteral("http://other.github.io/"))->responseString(), QString());
    EXPECT_EQ(fetch(QStringLiteral("http://shop.co.uk/"))->responseString(), QStringLiteral("own=1"));

    const QDateTime now = QDateTime::currentDateTimeUtc();
    // The suffix's own host may set a cookie for itself alone.
    const auto self = HTTPCookieStorage::parseSetCookie(QStringLiteral("a=1; Domain=co.uk"), QUrl("http://co.uk/"), now);
    ASSERT_TRUE(self);
    EXPECT_TRUE(self->hostOnly);
    EXPECT_FALSE(HTTPCookieStorage::parseSetCookie(QStringLiteral("a=1; Domain=uk"), QUrl("http://shop.co.uk/"), now));
    EXPECT_TRUE(HTTPCookieStorage::isPublicSuffix(QStringLiteral("com")));
    EXPECT_FALSE(HTTPCookieStorage::isPublicSuffix(QStringLiteral("example.com")));
    KPHTTPRequest::clearSession();
    HTTPCookieStorage::shared().clear();
}
