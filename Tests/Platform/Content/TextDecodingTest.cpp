#include "ContentFixtures.h"
#include "Platform/Content/TextDecoding.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(TextDecodingTest, RecognisesMarksAndUtf16WithoutMarks)
{
    EXPECT_EQ(TextDecoding::decode(QByteArray("\xEF\xBB\xBFok")), QStringLiteral("ok"));
    EXPECT_EQ(TextDecoding::decode(QByteArray("\xFE\xFF\x00\xE9\x00t\x00\xE9", 8)), QStringLiteral("été"));
    const QString text = QStringLiteral("Größe und Gewicht");
    QByteArray le;
    for (QChar c : text)
        le += char(c.unicode() & 0xFF), le += char(c.unicode() >> 8);
    EXPECT_EQ(TextDecoding::decode(le), text);
}

TEST(TextDecodingTest, FallsBackToWindows1252)
{
    // Invalid UTF-8 (a lone lead byte) is read as Windows-1252, never as replacement characters.
    EXPECT_EQ(TextDecoding::decode(QByteArray("\x93quoted\x94 \xE9")), QStringLiteral("\u201Cquoted\u201D é"));
    // A sequence cut at the very end (a read cap) does not make valid UTF-8 look foreign.
    const QByteArray cut = QStringLiteral("déjà vu é").toUtf8().chopped(1);
    EXPECT_EQ(TextDecoding::decode(cut), QStringLiteral("déjà vu "));
    EXPECT_EQ(TextDecoding::decodeAs("caf\xE9", "ISO-8859-1"), QStringLiteral("café"));
    EXPECT_EQ(TextDecoding::decodeAs("caf\xC3\xA9", "no-such-charset"), QStringLiteral("café"));
}
