// The derivation constants are fixed for ever: a change would lock every existing box. These
// vectors pin them.
#include "SafeBox/SafeBoxContentGenerate.h"
#include "SafeBox/SafeBoxCreator.h"

#include <gtest/gtest.h>

TEST(SafeBoxContentGenerate, DerivationIsPinnedAndKeyUnwrapsToIt)
{
    const QString derived = SafeBoxContentGenerate(QStringLiteral("secret")).generate();
    EXPECT_EQ(derived, QStringLiteral("59ccbb36d17694d1e33687f8565dba84"));
    EXPECT_EQ(SafeBoxCreator::pathWithString(derived), QStringLiteral("24cce817cff5ea5c9dda80861d733ac9"));
    // Emoji and long passwords are UTF-16 units like any other.
    EXPECT_EQ(SafeBoxContentGenerate(QStringLiteral("p\U0001F510ss")).generate(), QStringLiteral("803459747462994fd71545d5c948ddd4"));
    EXPECT_EQ(SafeBoxContentGenerate(QString(1000, QLatin1Char('x'))).generate().size(), 32);

    EXPECT_EQ(SafeBoxContentGenerate(QStringLiteral("secret")).generate(), derived);
    EXPECT_NE(SafeBoxContentGenerate(QStringLiteral("Secret")).generate(), derived);

    const QString key = SafeBoxContentGenerate(QStringLiteral("secret")).generateD().value(QStringLiteral("Key")).toString();
    EXPECT_EQ(key.size(), 38);
    EXPECT_EQ(SafeBoxContentGenerate::derivedFromKey(key), derived);
    EXPECT_TRUE(SafeBoxContentGenerate::derivedFromKey(QStringLiteral("abcde")).isEmpty());
}

TEST(SafeBoxContentGenerate, HintCodeRoundTripsAndDecodesOddPieces)
{
    EXPECT_EQ(SafeBoxContentGenerate::encodeHint(QStringLiteral("abc")), QStringLiteral("592|598|604|"));
    EXPECT_EQ(SafeBoxContentGenerate::decodeHint(QStringLiteral("592|598|604|")), QStringLiteral("abc"));
    const QString odd = QStringLiteral("Ünïcødé \U0001F600");
    EXPECT_EQ(SafeBoxContentGenerate::decodeHint(SafeBoxContentGenerate::encodeHint(odd)), odd);
    // A piece that is not a number counts as 0, which decodes to U+FFFE.
    EXPECT_EQ(SafeBoxContentGenerate::decodeHint(QStringLiteral("x|")), QString(QChar(0xFFFE)));
    // Decoding stops at the first empty piece, even with more after it.
    EXPECT_EQ(SafeBoxContentGenerate::decodeHint(QStringLiteral("592||598|")), QStringLiteral("a"));
    EXPECT_EQ(SafeBoxContentGenerate::decodeHint(QString()), QString());
}
