#include "Platform/Mail/MailCommandLines.h"

#include "Platform/Workspace/WorkspaceTestSupport.h"

#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

using platform::MailCommandLines;
using platform::MailMessage;

namespace {

// Values built to break every syntax they pass through.
MailMessage hostileMessage()
{
    MailMessage m;
    m.to = QStringLiteral("o'brien@example.org");
    m.subject = QStringLiteral("Re: a,b 'x' \"y\" & z=1 #2 +3 100% ü ✓");
    m.body = QStringLiteral("line one,\nbody='evil',to='attacker@x'\n\\ end ✓");
    m.attachments = {QStringLiteral("/tmp/My Files/it's, \"odd\" ü.pdf"), QStringLiteral("/tmp/a,b/c%20d.txt")};
    return m;
}

// Thunderbird's field list: name='value' pairs split on commas outside single quotes.
QMap<QString, QString> parseComposeValue(const QString& value)
{
    QMap<QString, QString> fields;
    qsizetype i = 0;
    while (i < value.size()) {
        const qsizetype eq = value.indexOf(QLatin1Char('='), i);
        EXPECT_GT(eq, i);
        const QString key = value.mid(i, eq - i);
        EXPECT_EQ(value[eq + 1], QLatin1Char('\'')) << key.toStdString();
        const qsizetype end = value.indexOf(QLatin1Char('\''), eq + 2);
        EXPECT_GT(end, eq);
        EXPECT_FALSE(fields.contains(key)) << "field given twice: " << key.toStdString();
        fields.insert(key, value.mid(eq + 2, end - eq - 2));
        i = end + 1;
        if (i < value.size()) {
            EXPECT_EQ(value[i], QLatin1Char(','));
            ++i;
        }
    }
    return fields;
}

QString typographic(QString text)
{
    return text.replace(QLatin1Char('\''), QChar(u'\u2019'));
}

} // namespace

TEST(MailCommandLines, ThunderbirdFieldsSurviveHostileValues)
{
    const MailMessage m = hostileMessage();
    const QStringList args = MailCommandLines::thunderbirdArguments(m);
    ASSERT_EQ(args.size(), 2);
    EXPECT_EQ(args[0], QStringLiteral("-compose"));
    const auto fields = parseComposeValue(args[1]);
    EXPECT_EQ(fields.keys(), (QStringList{QStringLiteral("attachment"), QStringLiteral("body"),
                                          QStringLiteral("subject"), QStringLiteral("to")}));
    EXPECT_EQ(fields.value(QStringLiteral("to")), typographic(m.to));
    EXPECT_EQ(fields.value(QStringLiteral("subject")), typographic(m.subject));
    EXPECT_EQ(fields.value(QStringLiteral("body")), typographic(m.body));
    const QStringList urls = fields.value(QStringLiteral("attachment")).split(QLatin1Char(','));
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(QUrl(urls[0]).toLocalFile(), m.attachments[0]);
    EXPECT_EQ(QUrl(urls[1]).toLocalFile(), m.attachments[1]);

    // Empty values leave their fields out.
    EXPECT_EQ(MailCommandLines::thunderbirdComposeValue(MailMessage{QStringLiteral("a@b"), {}, {}, {}}),
              QStringLiteral("to='a@b'"));
}

TEST(MailCommandLines, MailtoAddressDecodesToTheSameValues)
{
    const MailMessage m = hostileMessage();
    const QUrl url(MailCommandLines::mailtoURL(m, true));
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(url.path(QUrl::FullyDecoded), m.to);
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded), m.subject);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
              QString(m.body).replace(QLatin1Char('\n'), QLatin1String("\r\n")));
    const QStringList attach = query.allQueryItemValues(QStringLiteral("attach"), QUrl::FullyDecoded);
    ASSERT_EQ(attach.size(), 2);
    EXPECT_EQ(QUrl(attach[0]).toLocalFile(), m.attachments[0]);
    EXPECT_EQ(QUrl(attach[1]).toLocalFile(), m.attachments[1]);
    EXPECT_EQ(query.queryItems().size(), 4); // nothing in a value started an item of its own

    EXPECT_FALSE(MailCommandLines::mailtoURL(m, false).contains(QLatin1String("attach=")));
    EXPECT_EQ(MailCommandLines::mailtoURL(MailMessage{QStringLiteral("a@b.c"), {}, {}, {}}, true),
              QStringLiteral("mailto:a@b.c"));
}

TEST(MailCommandLines, OptionStyleProgramsGetPlainArguments)
{
    const MailMessage m = hostileMessage();
    const QString url0 = MailCommandLines::fileURL(m.attachments[0]);
    const QString url1 = MailCommandLines::fileURL(m.attachments[1]);
    EXPECT_EQ(MailCommandLines::kmailArguments(m),
              (QStringList{QStringLiteral("--subject"), m.subject, QStringLiteral("--body"), m.body,
                           QStringLiteral("--attach"), url0, QStringLiteral("--attach"), url1, m.to}));
    EXPECT_EQ(MailCommandLines::xdgEmailArguments(m),
              (QStringList{QStringLiteral("--utf8"), QStringLiteral("--subject"), m.subject, QStringLiteral("--body"),
                           m.body, QStringLiteral("--attach"), m.attachments[0], QStringLiteral("--attach"),
                           m.attachments[1], m.to}));

    // An address that looks like an option can never be read as one.
    const MailMessage dashed{QStringLiteral("--help"), QStringLiteral("-s"), {}, {}};
    EXPECT_EQ(MailCommandLines::kmailArguments(dashed),
              (QStringList{QStringLiteral("--subject"), QStringLiteral("-s"), QStringLiteral("--"),
                           QStringLiteral("--help")}));
    EXPECT_EQ(MailCommandLines::xdgEmailArguments(dashed).last(), QStringLiteral("mailto:--help"));
    EXPECT_EQ(QUrl(url0).toLocalFile(), m.attachments[0]);
    EXPECT_FALSE(url0.contains(QLatin1Char(',')) || url0.contains(QLatin1Char('\'')) || url0.contains(QLatin1Char(' ')));
}
