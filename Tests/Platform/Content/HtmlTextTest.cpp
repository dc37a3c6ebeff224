#include "ContentFixtures.h"
#include "Platform/Content/HtmlText.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

ExtractedText html(const QByteArray& source)
{
    ExtractionContext ctx;
    auto result = HtmlText::extract(source, ctx);
    EXPECT_TRUE(result.has_value());
    return result ? *result : ExtractedText{};
}

} // namespace

TEST(HtmlTextTest, KeepsReadableTextOnly)
{
    const ExtractedText page = html(
        "<!DOCTYPE html><html><head><title>Mon &amp; titre</title>"
        "<script>var s = '<p>not text</p>';</script><style>p { color: red }</style></head>"
        "<body><!-- a <b>comment</b> --><h1>Über  uns</h1>"
        "<p>Ligne   un<br>ligne&nbsp;deux &lt;tag&gt; &#233;&#xE8;&eacute;</p>"
        "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>"
        "<img src=\"http://example.invalid/x.png\" alt=\"pic\"><SCRIPT type=x>alert(1)</SCRIPT>fin</body></html>");
    EXPECT_EQ(page.title, QStringLiteral("Mon & titre"));
    EXPECT_EQ(page.text, QStringLiteral("Mon & titre\nÜber uns\nLigne un\nligne deux <tag> éèé\na\tb\nc\nfin"));
}

TEST(HtmlTextTest, ToleratesBrokenMarkup)
{
    // A lone "<", an unclosed attribute quote, unknown entities and a cut-off tag.
    EXPECT_EQ(html("<p>a < b &bogus; &amp</p><p>ok</p>").text, QStringLiteral("a < b &bogus; &amp\nok"));
    EXPECT_EQ(html("<p title=\"unclosed>text</p>").text, QString());
    EXPECT_EQ(html("words <b").text, QStringLiteral("words"));
    EXPECT_EQ(html("<script>never closed").text, QString());
    EXPECT_EQ(html("x &#1114112; &#0; y").text, QStringLiteral("x \uFFFD \uFFFD y"));
}

TEST(HtmlTextTest, UsesTheDeclaredCharset)
{
    EXPECT_EQ(html("<meta charset=\"iso-8859-1\"><p>caf\xE9</p>").text, QStringLiteral("café"));
    EXPECT_EQ(html("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\"><p>\xcf\xf0\xe8</p>").text,
              QStringLiteral("При"));
    // Undeclared: UTF-8 when valid, else Windows-1252.
    EXPECT_EQ(html("<p>caf\xC3\xA9</p>").text, QStringLiteral("café"));
    EXPECT_EQ(html("<p>caf\xE9</p>").text, QStringLiteral("café"));
    EXPECT_EQ(HtmlText::declaredCharset("<?xml version=\"1.0\" encoding=\"UTF-8\"?><html>"), QByteArray("utf-8"));
}
