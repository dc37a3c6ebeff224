#include "Platform/Foundation/StringHash.h"

#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

// These values are stored in libraries: if any of them changes, existing libraries break.
TEST(StringHash, KnownValuesNeverChange)
{
    EXPECT_EQ(platform::stringHash(QString()), 0xcbf29ce484222325ULL);
    EXPECT_EQ(platform::stringHash(QStringLiteral("a")), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(platform::stringHash(QStringLiteral("foobar")), 0x85944171f73967e8ULL);
    EXPECT_EQ(platform::stringHash(QStringLiteral("/users/me/documents/inbox")), 0x8d7681541eb5f743ULL);
    EXPECT_EQ(platform::stringHash(QString::fromUtf16(u"\U0001F600")), 0xfeff073875020288ULL);
}

TEST(StringHash, NormalisationFormDoesNotChangeTheHash)
{
    const quint64 composed = platform::stringHash(QString::fromUtf16(u"Caf\u00E9"));
    EXPECT_EQ(composed, 0x061be9a13f8f0129ULL);
    EXPECT_EQ(platform::stringHash(QString::fromUtf16(u"Cafe\u0301")), composed);
    // But case does: callers that want case-blind identity lower-case first.
    EXPECT_NE(platform::stringHash(QStringLiteral("/A")), platform::stringHash(QStringLiteral("/a")));
}

TEST(StringHash, UuidTextIsUpperCaseAndFresh)
{
    const QRegularExpression form(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"));
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString id = platform::newUUIDString();
        EXPECT_TRUE(form.match(id).hasMatch()) << id.toStdString();
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200);
}

TEST(StringHash, Md5IsLowerCaseHex)
{
    EXPECT_EQ(platform::md5Hex(QByteArray()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_EQ(platform::md5Hex(QString::fromUtf16(u"\u00E9").toUtf8()), QStringLiteral("66ddcd97cfdeabb2f6fb8a999b4bc76f"));
}
