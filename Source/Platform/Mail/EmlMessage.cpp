#include "Platform/Mail/EmlMessage.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QTemporaryFile>
#include <QUuid>

namespace platform {

namespace {

const QString kDomain = QStringLiteral("Mail");
constexpr int kBase64LineLength = 76;
// Bytes of text in one encoded word: 45 bytes make 60 base64 characters, inside the limit of
// 75 characters per word with the "=?UTF-8?B?" frame.
constexpr int kEncodedWordBytes = 45;

bool isPlainHeaderText(const QString& text)
{
    if (text.size() > 900)
        return false;
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return !text.contains(QLatin1String("=?"));
}

QByteArray base64Lines(const QByteArray& data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / kBase64LineLength * 2 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += kBase64LineLength)
        out += encoded.mid(i, kBase64LineLength) + "\r\n";
    return out;
}

// A parameter value as a quoted string; quotes and backslashes escaped, line breaks dropped.
QByteArray quotedParameter(const QByteArray& value)
{
    QByteArray out = "\"";
    for (char c : value) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Text parts are sent with CRLF line ends whatever the body was written with.
QString canonicalText(const QString& text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

} // namespace

QByteArray EmlMessage::encodeHeaderText(const QString& text)
{
    if (isPlainHeaderText(text))
        return text.toLatin1();
    QStringList chunks;
    QString chunk;
    int bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // Never split a surrogate pair: a word must hold whole characters.
        qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString ch = text.mid(i, len);
        const int chBytes = int(ch.toUtf8().size());
        if (bytes + chBytes > kEncodedWordBytes && !chunk.isEmpty()) {
            chunks << chunk;
            chunk.clear();
            bytes = 0;
        }
        chunk += ch;
        bytes += chBytes;
        i += len - 1;
    }
    if (!chunk.isEmpty())
        chunks << chunk;
    QByteArray out;
    for (const QString& c : chunks) {
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + c.toUtf8().toBase64() + "?=";
    }
    return out;
}

Result<QByteArray> EmlMessage::build(const MailMessage& message, const QDateTime& date,
                                     const QString& boundaryText)
{
    const QByteArray boundary = boundaryText.isEmpty()
        ? "=_Folivo_" + QUuid::createUuid().toByteArray(QUuid::Id128)
        : boundaryText.toLatin1();

    QByteArray out;
    out += "MIME-Version: 1.0\r\n";
    out += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    if (!message.to.isEmpty())
        out += "To: " + encodeHeaderText(message.to) + "\r\n";
    out += "Subject: " + encodeHeaderText(message.subject) + "\r\n";
    out += "X-Unsent: 1\r\n";

    const QByteArray textPart = "Content-Type: text/plain; charset=UTF-8\r\n"
                                "Content-Transfer-Encoding: base64\r\n\r\n"
                                + base64Lines(canonicalText(message.body).toUtf8());
    if (message.attachments.isEmpty())
        return out + textPart;

    out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    out += "This is a multi-part message in MIME format.\r\n";
    out += "--" + boundary + "\r\n" + textPart;
    QMimeDatabase mimeDatabase;
    for (const QString& path : message.attachments) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(kDomain, 1, QStringLiteral("Cannot attach %1: %2").arg(path, file.errorString()));
        const QByteArray data = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fail(kDomain, 1, QStringLiteral("Cannot attach %1: %2").arg(path, file.errorString()));
        const QString name = QFileInfo(path).fileName();
        const QByteArray type = mimeDatabase.mimeTypeForFile(path).name().toLatin1();
        // RFC 2231 for readers that know it, an encoded word for the many that only read that.
        const QByteArray extended = "UTF-8''" + name.toUtf8().toPercentEncoding();
        const QByteArray word = quotedParameter(encodeHeaderText(name).replace("\r\n ", " "));
        out += "--" + boundary + "\r\n";
        out += "Content-Type: " + type + "; name=" + word + "\r\n";
        out += "Content-Disposition: attachment; filename=" + word + ";\r\n filename*=" + extended + "\r\n";
        out += "Content-Transfer-Encoding: base64\r\n\r\n";
        out += base64Lines(data);
    }
    out += "--" + boundary + "--\r\n";
    return out;
}

Result<QString> EmlMessage::write(const MailMessage& message, const QString& folder)
{
    auto text = build(message, QDateTime::currentDateTime());
    if (!text)
        return std::unexpected(text.error());
    QTemporaryFile file(folder + QStringLiteral("/Message-XXXXXX.eml"));
    file.setAutoRemove(false);
    if (!file.open())
        return fail(kDomain, 2, QStringLiteral("Cannot write a message into %1: %2").arg(folder, file.errorString()));
    if (file.write(*text) != text->size() || !file.flush()) {
        const QString reason = file.errorString();
        file.remove();
        return fail(kDomain, 2, QStringLiteral("Cannot write %1: %2").arg(file.fileName(), reason));
    }
    file.close();
    return file.fileName();
}

} // namespace platform
