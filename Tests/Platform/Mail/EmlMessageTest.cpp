#include "Platform/Mail/EmlMessage.h"

#include "Platform/Workspace/WorkspaceTestSupport.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using platform::EmlMessage;
using platform::MailMessage;

namespace {

struct Part {
    QMap<QByteArray, QByteArray> headers; // lower-case names, unfolded values
    QByteArray body;
};

// A deliberately small reader of the produced format: headers, CRLF everywhere, one level of
// multipart.
Part parsePart(const QByteArray& text)
{
    Part part;
    const qsizetype split = text.indexOf("\r\n\r\n");
    EXPECT_GE(split, 0);
    QByteArray headerText = text.left(split);
    headerText.replace("\r\n ", " ");
    for (const QByteArray& line : headerText.split('\n')) {
        const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
        const qsizetype colon = l.indexOf(':');
        EXPECT_GT(colon, 0) << l.toStdString();
        part.headers.insert(l.left(colon).toLower(), l.mid(colon + 1).trimmed());
    }
    part.body = text.mid(split + 4);
    return part;
}

QString decodeWords(const QByteArray& value)
{
    static const QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]*)\\?="));
    QByteArray out;
    auto it = word.globalMatch(QString::fromLatin1(value));
    if (!it.hasNext())
        return QString::fromLatin1(value);
    while (it.hasNext())
        out += QByteArray::fromBase64(it.next().captured(1).toLatin1());
    return QString::fromUtf8(out);
}

QByteArray boundaryOf(const QByteArray& contentType)
{
    const qsizetype at = contentType.indexOf("boundary=\"");
    EXPECT_GE(at, 0);
    const qsizetype start = at + 10;
    return contentType.mid(start, contentType.indexOf('"', start) - start);
}

} // namespace

TEST(EmlMessage, HostileHeadersStayInsideTheirHeader)
{
    MailMessage m;
    m.to = QStringLiteral("a@b.c\r\nBcc: victim@x");
    m.subject = QStringLiteral("Hi\r\nBcc: evil@x\nX-Injected: 1 — Größe ✓ =?UTF-8?B?Zm9v?=");
    m.body = QStringLiteral("line 1\nline 2\r\n.\nü");
    auto text = EmlMessage::build(m, QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC));
    ASSERT_TRUE(text.has_value());
    for (const QByteArray& line : text->split('\n')) {
        EXPECT_FALSE(line.startsWith("Bcc") || line.startsWith("X-Injected")) << line.toStdString();
        EXPECT_LE(line.size(), 998);
    }
    EXPECT_FALSE(text->contains("\n\n")) << "every line ends in CRLF";
    const Part message = parsePart(*text);
    EXPECT_EQ(decodeWords(message.headers.value("subject")), m.subject);
    EXPECT_EQ(decodeWords(message.headers.value("to")), m.to);
    EXPECT_EQ(message.headers.value("x-unsent"), QByteArray("1"));
    EXPECT_EQ(message.headers.value("date"), QByteArray("02 Jan 2024 03:04:05 +0000"));
    EXPECT_TRUE(message.headers.value("content-type").startsWith("text/plain; charset=UTF-8"));
    EXPECT_EQ(QString::fromUtf8(QByteArray::fromBase64(message.body)),
              QStringLiteral("line 1\r\nline 2\r\n.\r\nü"));

    // Plain short subjects stay readable.
    EXPECT_EQ(EmlMessage::encodeHeaderText(QStringLiteral("Crash report")), QByteArray("Crash report"));
    // Long non-ASCII text is cut into words of whole characters.
    const QString longText = QString(40, QChar(u'\u00e9')) + QStringLiteral("😀😀😀") + QString(40, QChar(u'x'));
    const QByteArray words = EmlMessage::encodeHeaderText(longText);
    for (const QByteArray& w : words.split('\n'))
        EXPECT_LE(w.trimmed().size(), 75);
    EXPECT_EQ(decodeWords(QByteArray(words).replace("\r\n ", "")), longText);
}

TEST(EmlMessage, AttachmentsDecodeToTheirBytes)
{
    const QString dir = testsupport::makeTempDir();
    const QString binary = dir + QStringLiteral("/Scan \"1\", Größe.pdf");
    QByteArray bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += char(i * 7 % 256);
    testsupport::writeFile(binary, bytes);
    const QString empty = dir + QStringLiteral("/empty.txt");
    testsupport::writeFile(empty, QByteArray());

    MailMessage m{QStringLiteral("support@example.com"), QStringLiteral("Logs"), QStringLiteral("See attached."),
                  {binary, empty}};
    auto text = EmlMessage::build(m, QDateTime::currentDateTimeUtc());
    ASSERT_TRUE(text.has_value());
    const Part message = parsePart(*text);
    const QByteArray boundary = boundaryOf(message.headers.value("content-type"));
    ASSERT_FALSE(boundary.isEmpty());
    ASSERT_TRUE(text->endsWith("--" + boundary + "--\r\n"));

    QList<QByteArray> chunks = text->split('\n');
    QList<Part> parts;
    QByteArray current;
    bool inside = false;
    for (const QByteArray& raw : chunks) {
        const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        if (line == "--" + boundary || line == "--" + boundary + "--") {
            if (inside)
                parts.append(parsePart(current));
            current.clear();
            inside = true;
            continue;
        }
        if (inside)
            current += raw + "\n";
    }
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(QByteArray::fromBase64(parts[0].body), QByteArray("See attached."));
    EXPECT_EQ(QByteArray::fromBase64(parts[1].body), bytes);
    EXPECT_EQ(QByteArray::fromBase64(parts[2].body), QByteArray());
    for (const QByteArray& line : parts[1].body.split('\n'))
        EXPECT_LE(line.size(), 77);

    const QByteArray disposition = parts[1].headers.value("content-disposition");
    const qsizetype star = disposition.indexOf("filename*=UTF-8''");
    ASSERT_GE(star, 0);
    EXPECT_EQ(QString::fromUtf8(QByteArray::fromPercentEncoding(disposition.mid(star + 17))),
              QStringLiteral("Scan \"1\", Größe.pdf"));
    EXPECT_TRUE(parts[1].headers.value("content-type").startsWith("application/pdf"));
}

TEST(EmlMessage, UnreadableAttachmentFailsInsteadOfDroppingIt)
{
    MailMessage m{QStringLiteral("a@b.c"), QStringLiteral("s"), QStringLiteral("b"),
                  {testsupport::makeTempDir() + QStringLiteral("/missing.pdf")}};
    auto text = EmlMessage::build(m, QDateTime::currentDateTimeUtc());
    ASSERT_FALSE(text.has_value());
    EXPECT_TRUE(text.error().message.contains(QStringLiteral("missing.pdf")));

    const QString folder = testsupport::makeTempDir();
    auto written = EmlMessage::write(MailMessage{{}, QStringLiteral("s"), QStringLiteral("b"), {}}, folder);
    ASSERT_TRUE(written.has_value());
    EXPECT_TRUE(written->startsWith(folder + QStringLiteral("/Message-")));
    EXPECT_TRUE(written->endsWith(QStringLiteral(".eml")));
    EXPECT_FALSE(parsePart(testsupport::readFile(*written)).headers.contains("to"));
}
