#include "Analytics/AnalyticsConfiguration.h"
#include "Analytics/AnalyticsHelper.h"
#include "Analytics/KPUrlUtil.h"
#include "Analytics/PublicIP.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Support/HTTPTestServer.h"
#include "Support/TestSupport.h"
#include "HTTP/KPHTTPRequest.h"

#include <gtest/gtest.h>

using testsupport::HTTPTestRequest;
using testsupport::HTTPTestResponse;
using testsupport::HTTPTestServer;

namespace {

class AnalyticsEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        AnalyticsHelper::shutDown();
        KPHTTPRequest::shutDown();
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new AnalyticsEnvironment);

class AnalyticsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AnalyticsConfiguration c = AnalyticsConfiguration::defaults();
        c.collectionHost = QStringLiteral("collect.test");
        c.publicIPURL = QUrl();
        c.now = [] { return 1700000000.4; };
        c.random = [this] { return m_next++; };
        c.screenSize = [] { return QSize(1440, 900); };
        c.sleep = [](double) {};
        AnalyticsConfiguration::setCurrent(c);
        PublicIP::resetCacheForTesting();
        platform::UserDefaults::standardUserDefaults().removeObjectForKey(QStringLiteral("AppleLanguages"));
    }
    void TearDown() override
    {
        AnalyticsConfiguration::setCurrent(AnalyticsConfiguration::defaults());
        PublicIP::resetCacheForTesting();
    }
    quint32 m_next = 11;
};

} // namespace

TEST_F(AnalyticsTest, TheEntryLeavesNoTrace)
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.removeObjectForKey(QStringLiteral("String_UniqueIdentifier"));
    int fetched = 0;
    HTTPTestServer echo([&](const HTTPTestRequest&) {
        ++fetched;
        return HTTPTestResponse::make(200, "Address: 1.2.3.4");
    });
    auto c = AnalyticsConfiguration::current();
    c.publicIPURL = echo.url();
    AnalyticsConfiguration::setCurrent(c);
    for (const char* event : {"applaunch", "newuser", "theme", "act-safebox", "crash", "", "%?"})
        AnalyticsHelper::fireEvent(QString::fromLatin1(event), 1);
    AnalyticsHelper::waitForTracking();
    EXPECT_TRUE(defaults.stringForKey(QStringLiteral("String_UniqueIdentifier")).isEmpty());
    EXPECT_EQ(fetched, 0);
    EXPECT_EQ(echo.connectionCount(), 0);
}

TEST_F(AnalyticsTest, BeaconURLAndCookieAreExact)
{
    TrackingRequest request = RequestFactory::buildRequest(
        *KPTrackingEvent::initWithParams(QStringLiteral("d"), QStringLiteral("Folivo2 2.1"), QStringLiteral("theme"),
                                         QStringLiteral("ID-1"), 2),
        QStringLiteral("UA-1"));
    request.requestedByIpAddress = QStringLiteral("1.2.3.4");
    platform::UserDefaults::standardUserDefaults().setObject(QVariantList{QStringLiteral("de")},
                                                             QStringLiteral("AppleLanguages"));
    EXPECT_EQ(request.trackingGifURL(),
              QStringLiteral("http://collect.test/__utm.gif?utmwv=5.2.2d&utmn=11&utmhn=&utmcs=UTF-8&utmsr=1440x900&utmsc=-"
                             "&utmul=de&utmje=0&utmfl=-&utmni=1&utmdt=&utmhid=12&utmr=-&utmp=/&utmac=UA-1"
                             "&utmcc=__utma=0.13.1700000000.1700000000.1700000000.2%3B+__utmz=0.1700000000.1.1."
                             "utmcsr=(direct)%7Cutmccn=(direct)%7Cutmcmd=(none)%3B"
                             "&utme=5(Folivo2%202.1*theme*ID-1)(2)&gaq=1&utmt=event&utmip=1.2.3.4&"));
    EXPECT_TRUE(request.utmcCookieString().startsWith(QStringLiteral("__utma=0."))) << "an empty domain hashes to 0";

    TrackingRequest named;
    named.pageDomain = QStringLiteral("example.com");
    EXPECT_NE(named.domainHash(), 0u);
    EXPECT_EQ(named.domainHash(), named.domainHash());
}

// Worked by hand, last character first (c << 14 is c * 16384; 0xFE00000 keeps bits 21-27):
//  "ab": 'b' 98: a = 98 + 1605632 = 1605730 (< 2^21, g = 0).
//        'a' 97: (1605730 << 6) & 0xFFFFFC0 = 102766720; + 97 + 1589248 = 104356065;
//        g >> 21 = 49, and 49 ^ (104356065 & 63 = 33) = 16, so a = 104356048.
//  "abc": 'c' 99: 1622115; 'b' 98: 103815360 + 1605730 = 105421090, g >> 21 = 50, 34 ^ 50 = 16:
//        105421072; 'a' 97: 105421072 << 6 = 6746948608, masked to 28 bits 36062208,
//        + 97 + 1589248 = 37651553, g >> 21 = 17, 33 ^ 17 = 48: 37651568.
// The second needs the first mask: without it the shifted value keeps bits above 27.
TEST_F(AnalyticsTest, DomainHashOfKnownDomains)
{
    TrackingRequest request;
    request.pageDomain = QStringLiteral("ab");
    EXPECT_EQ(request.domainHash(), 104356048u);
    request.pageDomain = QStringLiteral("abc");
    EXPECT_EQ(request.domainHash(), 37651568u);
    request.pageDomain = QStringLiteral("example.com");
    EXPECT_EQ(request.domainHash(), 60493049u);
}

TEST_F(AnalyticsTest, EncodeUrlAndEventRules)
{
    EXPECT_EQ(KPUrlUtil::encodeUrl(QStringLiteral("a%2Fb")), QStringLiteral("a%2Fb"));
    EXPECT_EQ(KPUrlUtil::encodeUrl(QStringLiteral("100%")), QStringLiteral("100%25"));
    EXPECT_EQ(KPUrlUtil::encodeUrl(QStringLiteral("%zz")), QStringLiteral("%25zz"));
    EXPECT_EQ(KPUrlUtil::encodeUrl(QStringLiteral("a-b.c/d?e-f.g/h:i?j{k}")),
              QStringLiteral("a-b.c/d?e%2Df%2Eg%2Fh%3Ai%3Fj%7Bk%7D"));
    EXPECT_EQ(KPUrlUtil::encodeUrl(QStringLiteral("a b;c@d^e|f~")), QStringLiteral("a%20b%3Bc%40d%5Ee%7Cf%7E"));

    EXPECT_FALSE(KPTrackingEvent::initWithParams(QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("a"), QString(), 1));
    // The helper's domain is never set, so the instance path makes no event and queues nothing.
    AnalyticsHelper helper;
    EXPECT_TRUE(helper.fireEvent(QStringLiteral("applaunch"), std::optional<qint64>(1)));
    EXPECT_FALSE(platform::UserDefaults::standardUserDefaults()
                     .stringForKey(QStringLiteral("String_UniqueIdentifier"))
                     .isEmpty()) << "the installation's identifier is made on the instance path";
}

TEST_F(AnalyticsTest, LanguageFromDefaultsThenLocale)
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setObject(QVariantList{QStringLiteral("fr"), QStringLiteral("de")}, QStringLiteral("AppleLanguages"));
    EXPECT_EQ(TrackingRequest::userLanguage(), QStringLiteral("fr"));
    defaults.removeObjectForKey(QStringLiteral("AppleLanguages"));
    EXPECT_EQ(TrackingRequest::userLanguage(), QStringLiteral("en-US")) << "LANG=en_US.UTF-8 in tests";
}

TEST_F(AnalyticsTest, PublicAddressFromALoopbackEchoPage)
{
    EXPECT_TRUE(PublicIP::getIPAddress().isEmpty()) << "no page configured: no request at all";

    QByteArray page = "<html><body>Current IP Address: 203.0.113.7</body></html>";
    int calls = 0;
    HTTPTestServer echo([&](const HTTPTestRequest&) {
        ++calls;
        return HTTPTestResponse::make(200, page);
    });
    auto c = AnalyticsConfiguration::current();
    c.publicIPURL = echo.url("/ip");
    AnalyticsConfiguration::setCurrent(c);
    EXPECT_EQ(PublicIP::getIPAddress(), QStringLiteral("203.0.113.7"));
    EXPECT_EQ(PublicIP::getIPAddress(), QStringLiteral("203.0.113.7"));
    EXPECT_EQ(calls, 1) << "fetched once per run";

    PublicIP::resetCacheForTesting();
    page = "\xff\xfe not UTF-8";
    EXPECT_TRUE(PublicIP::getIPAddress().isEmpty());
    page = "no address here";
    EXPECT_TRUE(PublicIP::getIPAddress().isEmpty());
    EXPECT_EQ(calls, 3) << "not UTF-8 is a load error, tried again";
    page = "Address: 9.9.9.9";
    EXPECT_TRUE(PublicIP::getIPAddress().isEmpty()) << "a page without the word caches the empty text";
    EXPECT_EQ(calls, 3);

    EXPECT_EQ(PublicIP::addressFromEchoPage(QStringLiteral("<b>Address:</b> <i>1.1.1.1</i>")), QString())
        << "a tag between the word and the address leaves an empty word after it";
    EXPECT_EQ(PublicIP::addressFromEchoPage(QStringLiteral("x<br>Address: 8.8.8.8<br>")), QStringLiteral("8.8.8.8"));

    // The instance path end to end: one beacon built with the address, and nothing sent.
    PublicIP::resetCacheForTesting();
    page = "Address: 5.6.7.8";
    AnalyticsHelper helper;
    helper.domainName = QStringLiteral("folivo.test");
    KPTracking tracking(RequestFactory::buildRequest(
        *KPTrackingEvent::initWithParams(QStringLiteral("folivo.test"), QStringLiteral("c"), QStringLiteral("a"),
                                         QStringLiteral("l"), std::nullopt),
        std::nullopt));
    tracking.start();
    EXPECT_TRUE(tracking.builtURL().endsWith(QStringLiteral("&utme=5(c*a*l)()&gaq=1&utmt=event&utmip=5.6.7.8&")))
        << tracking.builtURL().toStdString();
    EXPECT_EQ(echo.requestCount(), 4) << "only the echo page was asked";
}
