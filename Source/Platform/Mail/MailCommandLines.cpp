#include "Platform/Mail/MailCommandLines.h"

#include <QFile>
#include <QUrl>

namespace platform {

namespace {

const QChar kApostrophe(u'\'');
const QChar kTypographicApostrophe(u'\u2019');

QString quotedField(const QString& text)
{
    return QString(text).replace(kApostrophe, kTypographicApostrophe);
}

QString percent(const QString& text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

bool looksLikeOption(const QString& text)
{
    return text.startsWith(QLatin1Char('-'));
}

} // namespace

QString MailCommandLines::fileURL(const QString& path)
{
    return QStringLiteral("file://") + QString::fromLatin1(QFile::encodeName(path).toPercentEncoding("/"));
}

QString MailCommandLines::thunderbirdComposeValue(const MailMessage& message)
{
    QStringList fields;
    if (!message.to.isEmpty())
        fields << QStringLiteral("to='%1'").arg(quotedField(message.to));
    if (!message.subject.isEmpty())
        fields << QStringLiteral("subject='%1'").arg(quotedField(message.subject));
    if (!message.body.isEmpty())
        fields << QStringLiteral("body='%1'").arg(quotedField(message.body));
    if (!message.attachments.isEmpty()) {
        QStringList urls;
        for (const QString& path : message.attachments)
            urls << fileURL(path);
        fields << QStringLiteral("attachment='%1'").arg(urls.join(QLatin1Char(',')));
    }
    return fields.join(QLatin1Char(','));
}

QStringList MailCommandLines::thunderbirdArguments(const MailMessage& message)
{
    return {QStringLiteral("-compose"), thunderbirdComposeValue(message)};
}

QString MailCommandLines::mailtoURL(const MailMessage& message, bool withAttachments)
{
    // "@" may stay: it is what makes the address an address in the mailto path.
    QString url = QStringLiteral("mailto:")
                  + QString::fromLatin1(message.to.toUtf8().toPercentEncoding("@"));
    QStringList query;
    if (!message.subject.isEmpty())
        query << QStringLiteral("subject=") + percent(message.subject);
    if (!message.body.isEmpty()) {
        // Line breaks in a mailto body are CRLF.
        QString body = message.body;
        body.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        query << QStringLiteral("body=") + percent(body);
    }
    if (withAttachments)
        for (const QString& path : message.attachments)
            query << QStringLiteral("attach=") + percent(fileURL(path));
    if (!query.isEmpty())
        url += QLatin1Char('?') + query.join(QLatin1Char('&'));
    return url;
}

QStringList MailCommandLines::kmailArguments(const MailMessage& message)
{
    QStringList args;
    if (!message.subject.isEmpty())
        args << QStringLiteral("--subject") << message.subject;
    if (!message.body.isEmpty())
        args << QStringLiteral("--body") << message.body;
    for (const QString& path : message.attachments)
        args << QStringLiteral("--attach") << fileURL(path);
    if (!message.to.isEmpty()) {
        if (looksLikeOption(message.to))
            args << QStringLiteral("--");
        args << message.to;
    }
    return args;
}

QStringList MailCommandLines::xdgEmailArguments(const MailMessage& message)
{
    QStringList args{QStringLiteral("--utf8")};
    if (!message.subject.isEmpty())
        args << QStringLiteral("--subject") << message.subject;
    if (!message.body.isEmpty())
        args << QStringLiteral("--body") << message.body;
    for (const QString& path : message.attachments)
        args << QStringLiteral("--attach") << path;
    // xdg-email takes recipients as mailto: addresses too, which cannot be read as an option.
    if (!message.to.isEmpty())
        args << (looksLikeOption(message.to) ? QStringLiteral("mailto:") + message.to : message.to);
    return args;
}

} // namespace platform
