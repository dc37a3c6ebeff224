#include "ContentFixtures.h"
#include "Platform/Content/MailText.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(MailTextTest, DecodesHeaders)
{
    EXPECT_EQ(MailText::decodeHeader("=?UTF-8?B?R3LDvMOfZQ==?= =?UTF-8?Q?_aus_K=C3=B6ln?="), QStringLiteral("Grüße aus Köln"));
    EXPECT_EQ(MailText::decodeHeader("Re: =?iso-8859-1?q?caf=E9?= ok"), QStringLiteral("Re: café ok"));
    // Not an encoded word: left alone.
    EXPECT_EQ(MailText::decodeHeader("=?broken"), QStringLiteral("=?broken"));
    EXPECT_EQ(MailText::decodeQuotedPrintable("a=3Db=\nc=ZZ"), QByteArray("a=bc=ZZ"));
}

TEST(MailTextTest, ReadsTheTextPartsOfMultipartMessages)
{
    const QByteArray message =
        "From: Anna <anna@example.org>\n"
        "To: Bert <bert@example.org>\n"
        "Subject: =?UTF-8?Q?Pr=C3=BCfung?=\n"
        "Content-Type: multipart/mixed; boundary=\"outer\"\n\n"
        "preamble is ignored\n"
        "--outer\n"
        "Content-Type: multipart/alternative; boundary=inner\n\n"
        "--inner\n"
        "Content-Type: text/html; charset=utf-8\n\n"
        "<p>HTML version</p>\n"
        "--inner\n"
        "Content-Type: text/plain; charset=iso-8859-1\n"
        "Content-Transfer-Encoding: quoted-printable\n\n"
        "Die Pr=FCfung ist am Montag, lange Zeile mit weichem=\n Umbruch.\n"
        "--inner--\n"
        "--outer\n"
        "Content-Type: text/plain; charset=utf-8\n"
        "Content-Transfer-Encoding: base64\n\n"
        + QStringLiteral("Zweiter Teil: Straße").toUtf8().toBase64() + "\n"
        "--outer\n"
        "Content-Type: text/plain\nContent-Disposition: attachment; filename=a.txt\n\n"
        "attached text\n"
        "--outer--\n";
    ExtractionContext ctx;
    auto result = MailText::extract(message, ctx);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->title, QStringLiteral("Prüfung"));
    EXPECT_EQ(result->text, QStringLiteral("Prüfung\nAnna <anna@example.org>\nBert <bert@example.org>\n"
                                           "Die Prüfung ist am Montag, lange Zeile mit weichem Umbruch.\n"
                                           "Zweiter Teil: Straße"));
}

TEST(MailTextTest, ReadsForwardedMessagesAndRejectsNonMail)
{
    const QByteArray message = "From: a@example.org\r\nSubject: Fwd\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                               "--b\r\nContent-Type: message/rfc822\r\n\r\n"
                               "From: c@example.org\r\nSubject: Original\r\n\r\nInner body\r\n--b--\r\n";
    ExtractionContext ctx;
    auto result = MailText::extract(message, ctx);
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->text.contains(QStringLiteral("Original")));
    EXPECT_TRUE(result->text.contains(QStringLiteral("Inner body")));

    EXPECT_FALSE(MailText::extract("no headers at all", ctx).has_value());
    EXPECT_EQ(MailText::emlxMessage("5\nHelloTRAILER"), QByteArrayView("Hello"));
    EXPECT_EQ(MailText::emlxMessage("999\nshort"), QByteArrayView("short"));
    EXPECT_EQ(MailText::emlxMessage("From: x\n"), QByteArrayView("From: x\n"));
}
