#include "Support/TestSupport.h"
#include "HTTP/KPHTTPRequestUtilities.h"

#include <gtest/gtest.h>

using U = KPHTTPRequestUtilities;

TEST(KPHTTPRequestUtilitiesTest, ContentTypeGivesMimeTypeAndKnownCharsetsOnly)
{
    QString mime;
    QByteArray encoding = "ISO-8859-1";
    U::parseMimeType(&mime, &encoding, QStringLiteral("text/html; charset=utf-8"));
    EXPECT_EQ(mime, QStringLiteral("text/html"));
    EXPECT_EQ(encoding, QByteArray("utf-8"));

    encoding = "ISO-8859-1";
    U::parseMimeType(&mime, &encoding, QStringLiteral(" text/plain "));
    EXPECT_EQ(mime, QStringLiteral("text/plain"));
    EXPECT_EQ(encoding, QByteArray("ISO-8859-1"));

    U::parseMimeType(&mime, &encoding, QStringLiteral("text/html; charset=klingon-42"));
    EXPECT_EQ(encoding, QByteArray("ISO-8859-1")) << "an unknown set leaves the default";

    U::parseMimeType(&mime, &encoding, QStringLiteral("application/json; charset=\"UTF-16\"; q=1"));
    EXPECT_EQ(mime, QStringLiteral("application/json"));
    EXPECT_EQ(encoding, QByteArray("UTF-16")) << "a quoted name is unquoted";

    // A set only iconv knows still decodes.
    EXPECT_TRUE(U::isKnownEncoding("CP437"));
    EXPECT_EQ(U::decode("\x82", "CP437"), QString(QChar(0x00E9)));
}

TEST(KPHTTPRequestUtilitiesTest, HTTPDatesInEveryAllowedForm)
{
    const QDateTime expected(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    EXPECT_EQ(U::dateFromRFC1123String(QStringLiteral("Sun, 06 Nov 1994 08:49:37 GMT")), expected);
    EXPECT_EQ(U::dateFromRFC1123String(QStringLiteral("06 Nov 1994 08:49:37 GMT")), expected);
    EXPECT_EQ(U::dateFromRFC1123String(QStringLiteral("Sun, 06 Nov 1994 08:49 GMT")), expected.addSecs(-37));
    EXPECT_EQ(U::dateFromRFC1123String(QStringLiteral("Sunday, 06-Nov-94 08:49:37 GMT")), expected);
    EXPECT_EQ(U::dateFromRFC1123String(QStringLiteral("Sun Nov  6 08:49:37 1994")), expected);
    EXPECT_EQ(U::dateFromRFC1123String(QStringLiteral("Sun, 06 Nov 1994 09:49:37 +0100")), expected);
    for (const char* bad : {"", "Sun, 31 Feb 1994 08:49:37 GMT", "Sun, 06 Nov 1994 25:49:37 GMT", "yesterday",
                            "Sun, 06 Xyz 1994 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 CEST"})
        EXPECT_FALSE(U::dateFromRFC1123String(QString::fromLatin1(bad))) << bad;
}

TEST(KPHTTPRequestUtilitiesTest, ExpiryPrefersMaxAgeOverExpires)
{
    const QDateTime now(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    platform::HTTPHeaders headers;
    headers.set(QStringLiteral("Cache-Control"), QStringLiteral("public, Max-Age=600"));
    headers.set(QStringLiteral("Expires"), QStringLiteral("Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(U::expiryDateForResponseHeaders(headers, 0, now), now.addSecs(600));
    EXPECT_EQ(U::expiryDateForResponseHeaders(headers, 30, now), now.addSecs(30));

    headers.set(QStringLiteral("Cache-Control"), QStringLiteral("public"));
    EXPECT_EQ(U::expiryDateForResponseHeaders(headers, 0, now),
              QDateTime(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC));
    headers.remove(QStringLiteral("Expires"));
    EXPECT_FALSE(U::expiryDateForResponseHeaders(headers, 0, now));

    headers.set(QStringLiteral("Cache-Control"), QStringLiteral("max-age=99999999999999999999999"));
    const auto far = U::expiryDateForResponseHeaders(headers, 0, now);
    ASSERT_TRUE(far);
    EXPECT_GT(*far, now) << "a huge age must not wrap into the past";
}

TEST(KPHTTPRequestUtilitiesTest, Base64MimeTypesAndUserAgent)
{
    EXPECT_EQ(U::base64forData("abc"), QStringLiteral("YWJj"));
    EXPECT_EQ(U::base64forData("ab"), QStringLiteral("YWI="));
    EXPECT_EQ(U::base64forData(""), QString(""));

    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/page.html", "<p>");
    testsupport::writeFile(dir + "/noext", "x");
    testsupport::writeFile(dir + "/odd.zzqqxx", "x");
    EXPECT_EQ(U::mimeTypeForFileAtPath(dir + "/page.html"), QStringLiteral("text/html"));
    EXPECT_EQ(U::mimeTypeForFileAtPath(dir + "/noext"), QStringLiteral("application/octet-stream"));
    EXPECT_EQ(U::mimeTypeForFileAtPath(dir + "/odd.zzqqxx"), QStringLiteral("application/octet-stream"));
    EXPECT_TRUE(U::mimeTypeForFileAtPath(dir + "/missing").isNull());

    EXPECT_EQ(U::userAgentFor(QStringLiteral("Folivo 2"), QStringLiteral("2.1"), QStringLiteral("210"),
                              QStringLiteral("6.1.0-13-amd64"), QStringLiteral("de_DE")),
              QStringLiteral("Folivo 2 2.1 rv:210 (X11; Linux 6.1.0; de_DE)"));
    EXPECT_EQ(U::userAgentFor(QStringLiteral("F"), QStringLiteral("2"), QStringLiteral("2"), QStringLiteral("5.10.7"),
                              QStringLiteral("en_US")),
              QStringLiteral("F 2 (X11; Linux 5.10.7; en_US)"));
    EXPECT_TRUE(U::userAgentFor(QString(), QStringLiteral("1"), {}, QStringLiteral("6.1.0"), {}).isNull());
    EXPECT_TRUE(U::userAgentFor(QStringLiteral("F"), QStringLiteral("1"), {}, QStringLiteral("6.1"), {}).isNull());
}
