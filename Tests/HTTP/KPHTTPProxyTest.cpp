#include "Platform/HTTPStream/ProxyAutoConfig.h"
#include "Platform/HTTPStream/SystemProxies.h"
#include "Support/HTTPTestServer.h"
#include "Support/TestSupport.h"
#include "HTTP/KPHTTPRequest.h"

#include <gtest/gtest.h>

using testsupport::HTTPTestProxy;
using testsupport::HTTPTestRequest;
using testsupport::HTTPTestResponse;
using testsupport::HTTPTestServer;

TEST(KPHTTPProxyTest, PlainRequestsGoThroughAnHTTPProxyWithItsCredentials)
{
    HTTPTestProxy proxy(HTTPTestProxy::Kind::HTTP, "Basic " + QByteArray("pat:pw").toBase64());
    // The name is never resolved: only the proxy is connected to.
    auto request = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://server.invalid/page?q=1")));
    request->setProxyHost(QStringLiteral("127.0.0.1"));
    request->setProxyPort(proxy.port());
    request->setProxyUsername(QStringLiteral("pat"));
    request->setProxyPassword(QStringLiteral("pw"));
    request->startSynchronous();
    ASSERT_FALSE(request->error()) << request->error()->message.toStdString();
    EXPECT_EQ(request->responseString(), QStringLiteral("proxied GET http://server.invalid/page?q=1 HTTP/1.1"));
    EXPECT_EQ(proxy.seen().size(), 2) << "the 407 was answered once";

    auto without = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://server.invalid/")));
    without->setProxyHost(QStringLiteral("127.0.0.1"));
    without->setProxyPort(proxy.port());
    without->startSynchronous();
    ASSERT_TRUE(without->error());
    EXPECT_EQ(without->error()->code, 3);
}

TEST(KPHTTPProxyTest, TunnelsAndSocksReachTheServer)
{
    HTTPTestServer tls([](const HTTPTestRequest& r) { return HTTPTestResponse::make(200, "secure " + r.target); },
                       HTTPTestServer::Security::SelfSignedTLS);
    HTTPTestServer plain([](const HTTPTestRequest& r) { return HTTPTestResponse::make(200, "plain " + r.target); });
    HTTPTestProxy http(HTTPTestProxy::Kind::HTTP);
    HTTPTestProxy socks(HTTPTestProxy::Kind::SOCKS5);
    HTTPTestProxy wrong(HTTPTestProxy::Kind::SOCKS5WrongMethod);

    auto tunnelled = KPHTTPRequest::requestWithURL(tls.url("/t"));
    tunnelled->setValidatesSecureCertificate(false);
    tunnelled->setProxyHost(QStringLiteral("127.0.0.1"));
    tunnelled->setProxyPort(http.port());
    tunnelled->startSynchronous();
    ASSERT_FALSE(tunnelled->error()) << tunnelled->error()->message.toStdString();
    EXPECT_EQ(tunnelled->responseString(), QStringLiteral("secure /t"));
    EXPECT_EQ(http.seen().value(0), "CONNECT 127.0.0.1:" + QByteArray::number(tls.port()) + " HTTP/1.1");

    for (const auto& url : {plain.url("/s"), tls.url("/s")}) {
        auto viaSocks = KPHTTPRequest::requestWithURL(url);
        viaSocks->setValidatesSecureCertificate(false);
        viaSocks->setProxyHost(QStringLiteral("127.0.0.1"));
        viaSocks->setProxyPort(socks.port());
        viaSocks->setProxyType(QStringLiteral("SOCKS"));
        viaSocks->startSynchronous();
        ASSERT_FALSE(viaSocks->error()) << viaSocks->error()->message.toStdString();
        EXPECT_TRUE(viaSocks->responseString().endsWith(QStringLiteral(" /s")));
    }

    auto refused = KPHTTPRequest::requestWithURL(plain.url("/x"));
    refused->setProxyHost(QStringLiteral("127.0.0.1"));
    refused->setProxyPort(wrong.port());
    refused->setProxyType(QStringLiteral("SOCKS"));
    refused->startSynchronous();
    ASSERT_TRUE(refused->error());
    EXPECT_EQ(refused->error()->code, 1);
    EXPECT_EQ(refused->underlyingError()->message, QStringLiteral("The SOCKS proxy chose a method that was not offered"));

    auto forbidden = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("https://elsewhere.invalid/")));
    forbidden->setProxyHost(QStringLiteral("127.0.0.1"));
    forbidden->setProxyPort(http.port());
    forbidden->startSynchronous();
    ASSERT_TRUE(forbidden->error());
    EXPECT_EQ(forbidden->error()->code, 1) << "a refused tunnel is a connection failure";
}

TEST(KPHTTPProxyTest, TheEnvironmentsProxyComesThroughLibproxy)
{
    HTTPTestProxy proxy(HTTPTestProxy::Kind::HTTP);
    const QByteArray saved = qgetenv("http_proxy");
    qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port()));
    const auto answers = platform::SystemProxies::proxiesForURL(QUrl(QStringLiteral("http://server.invalid/")));
    ASSERT_TRUE(answers);
    ASSERT_FALSE(answers->isEmpty());
    EXPECT_EQ(answers->first(), QStringLiteral("http://127.0.0.1:%1").arg(proxy.port()));

    auto request = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://server.invalid/env")));
    request->startSynchronous();
    if (saved.isNull())
        qunsetenv("http_proxy");
    else
        qputenv("http_proxy", saved);
    ASSERT_FALSE(request->error()) << request->error()->message.toStdString();
    EXPECT_EQ(request->responseString(), QStringLiteral("proxied GET http://server.invalid/env HTTP/1.1"));
    EXPECT_EQ(request->proxyPort(), proxy.port());

    EXPECT_EQ(platform::SystemProxies::settingsFromAnswer(QStringLiteral("direct://"))->type,
              platform::HTTPProxySettings::Type::None);
    EXPECT_EQ(platform::SystemProxies::settingsFromAnswer(QStringLiteral("socks://10.0.0.1:9050"))->type,
              platform::HTTPProxySettings::Type::SOCKS);
    EXPECT_FALSE(platform::SystemProxies::settingsFromAnswer(QStringLiteral("garbage")));
}

TEST(KPHTTPProxyTest, AnswersNamingPortZeroAreRefused)
{
    for (const char* answer : {"http://h:0", "socks5://h:0", "socks://127.0.0.1:0", "http://h:99999"})
        EXPECT_FALSE(platform::SystemProxies::settingsFromAnswer(QString::fromLatin1(answer))) << answer;
    for (const char* answer : {"PROXY h:0", "SOCKS5 h:0", "SOCKS h:0", "PROXY [::1]:0", "PROXY h:00"})
        EXPECT_TRUE(platform::ProxyAutoConfig::parseAnswer(QString::fromLatin1(answer)).isEmpty()) << answer;

    // The environment names such a proxy: the request is not given it, and goes without one.
    HTTPTestServer server([](const HTTPTestRequest& r) { return HTTPTestResponse::make(200, "direct " + r.target); });
    const QByteArray saved = qgetenv("http_proxy");
    qputenv("http_proxy", "http://127.0.0.1:0");
    auto request = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://server.invalid/zero")));
    request->startSynchronous();
    if (saved.isNull())
        qunsetenv("http_proxy");
    else
        qputenv("http_proxy", saved);
    EXPECT_TRUE(request->proxyHost().isEmpty()) << request->proxyHost().toStdString();
    EXPECT_EQ(request->proxyPort(), 0);
}

TEST(KPHTTPProxyTest, AQueuedRequestAsksItsDelegateForProxyCredentialsAndGoesOnWithThem)
{
    HTTPTestProxy proxy(HTTPTestProxy::Kind::HTTP, "Basic " + QByteArray("pat:pw").toBase64());
    auto request = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://server.invalid/asked")));
    request->setProxyHost(QStringLiteral("127.0.0.1"));
    request->setProxyPort(proxy.port());
    int asked = 0;
    bool blockAsked = false;
    auto delegate = std::make_shared<KPHTTPRequestDelegate>();
    delegate->proxyAuthenticationNeededForRequest = [&](KPHTTPRequest& r) {
        ++asked;
        r.setProxyUsername(QStringLiteral("pat"));
        r.setProxyPassword(QStringLiteral("pw"));
        r.retryUsingSuppliedProxyCredentials();
    };
    request->setDelegate(delegate);
    request->setProxyAuthenticationNeededBlock([&] { blockAsked = true; });
    request->startAsynchronous();
    ASSERT_TRUE(testsupport::spinUntil([&] { return request->isFinishedRequest(); }));
    ASSERT_FALSE(request->error()) << request->error()->message.toStdString();
    EXPECT_EQ(request->responseString(), QStringLiteral("proxied GET http://server.invalid/asked HTTP/1.1"));
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(blockAsked) << "the delegate answers before the block";
}
