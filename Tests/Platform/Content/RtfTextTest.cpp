#include "ContentFixtures.h"
#include "Platform/Content/RtfText.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

QString rtf(const QByteArray& source)
{
    ExtractionContext ctx;
    auto result = RtfText::extract(source, ctx);
    EXPECT_TRUE(result.has_value()) << (result ? "" : result.error().toString().toStdString());
    return result ? result->text : QString();
}

} // namespace

TEST(RtfTextTest, DecodesUnicodeAndCodePageEscapes)
{
    // \uN with the default one-character fallback, with \uc2, and negative values above 0x7FFF.
    EXPECT_EQ(rtf("{\\rtf1 na\\u239?ve}"), QStringLiteral("naïve"));
    EXPECT_EQ(rtf("{\\rtf1\\uc2 \\u8364\\'80\\'80 5}"), QStringLiteral("€ 5"));
    EXPECT_EQ(rtf("{\\rtf1 \\u-3913?}"), QString(QChar(char16_t(0xF0B7))));
    // The fallback count is per group: the inner \uc0 ends with its group.
    EXPECT_EQ(rtf("{\\rtf1 {\\uc0 \\u233 x}\\u233 y}"), QStringLiteral("éxé"));
    // A surrogate pair written as two \u words.
    EXPECT_EQ(rtf("{\\rtf1\\uc0 \\u-10179\\u-8704}"), QStringLiteral("\U0001F600"));

    EXPECT_EQ(rtf("{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\'80}"), QStringLiteral("café €"));
    EXPECT_EQ(rtf("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}"), QStringLiteral("Привет"));
    // Mac text in the old Mac Roman code page.
    EXPECT_EQ(rtf("{\\rtf1\\mac caf\\'8e}"), QStringLiteral("café"));
}

TEST(RtfTextTest, SkipsDestinationsThatAreNotText)
{
    const QByteArray doc =
        "{\\rtf1\\ansi{\\fonttbl{\\f0\\fswiss Helvetica;}{\\f1 Times;}}"
        "{\\colortbl;\\red255\\green0\\blue0;}{\\stylesheet{\\s0 Normal;}}"
        "{\\info{\\title Secret title}{\\author Someone}}"
        "{\\*\\generator Writer 1.0;}{\\*\\unknowndest hidden words}"
        "{\\pict\\pngblip\\picw10 89504e470d0a}"
        "{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt visible link}}\\par"
        "\\f0\\fs24 Body {\\b bold} text\\par second\\tab line\\line third}";
    EXPECT_EQ(rtf(doc), QStringLiteral("visible link\nBody bold text\nsecond\tline\nthird"));
}

TEST(RtfTextTest, HandlesEscapesBinaryAndBadInput)
{
    EXPECT_EQ(rtf("{\\rtf1 a\\{b\\}c\\\\d\\~e\\_f\\-g}"), QStringLiteral("a{b}c\\d e-fg"));
    // \bin data may contain braces and backslashes; it is skipped by count.
    EXPECT_EQ(rtf("{\\rtf1 before{\\pict\\bin6 {\\}\\{x} after}"), QStringLiteral("before after"));
    // Unbalanced closing braces and a missing final brace are tolerated.
    EXPECT_EQ(rtf("{\\rtf1 one}} two"), QStringLiteral("one two"));
    EXPECT_EQ(rtf("{\\rtf1 unfinished"), QStringLiteral("unfinished"));

    ExtractionContext ctx;
    EXPECT_EQ(RtfText::extract("plain words", ctx).error().code, ContentError::Unreadable);
    EXPECT_EQ(RtfText::extract(QByteArray("{\\rtf1 ") + QByteArray(5000, '{'), ctx).error().code,
              ContentError::Unreadable);
}

TEST(RtfTextTest, StopsAtTheTextCap)
{
    ExtractionLimits limits;
    limits.maxTextChars = 10;
    ExtractionContext ctx(limits);
    auto result = RtfText::extract("{\\rtf1 " + QByteArray(1000, 'x') + "}", ctx);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->text.size(), 10);
    EXPECT_TRUE(result->truncated);
}
