#include "Platform/Content/MailText.h"

#include "Platform/Content/HtmlText.h"
#include "Platform/Content/TextDecoding.h"

#include <QHash>
#include <QRegularExpression>

namespace platform {

namespace {

struct Part {
    QHash<QByteArray, QByteArray> headers; // lower-case names, unfolded values
    QByteArray body;
};

// Splits header block and body; lines already use "\n". A part that starts with an empty line
// has no headers (text/plain by default); one without any "Name: value" line is not mail.
std::optional<Part> parsePart(const QByteArray& data)
{
    Part part;
    qsizetype split = data.indexOf("\n\n");
    QByteArray head;
    if (data.startsWith('\n')) {
        part.body = data.mid(1);
        return part;
    }
    if (split < 0) {
        head = data;
    } else {
        head = data.left(split);
        part.body = data.mid(split + 2);
    }
    QByteArray name, value;
    bool sawHeader = false;
    const auto store = [&] {
        if (!name.isEmpty() && !part.headers.contains(name))
            part.headers.insert(name, value.trimmed());
    };
    for (const QByteArray& line : head.split('\n')) {
        // Folded headers continue on lines that start with white space.
        if ((line.startsWith(' ') || line.startsWith('\t')) && !name.isEmpty()) {
            value += ' ' + line.trimmed();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        store();
        name = line.left(colon).trimmed().toLower();
        value = line.mid(colon + 1);
        sawHeader = true;
    }
    store();
    if (!sawHeader)
        return std::nullopt;
    return part;
}

// "text/plain; charset=utf-8" → type and parameters (lower-case names, unquoted values).
QByteArray headerParameter(const QByteArray& header, const QByteArray& param)
{
    const QRegularExpression re(QStringLiteral(";\\s*%1\\s*=\\s*(\"([^\"]*)\"|([^;\\s]*))").arg(QString::fromLatin1(param)),
                                QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(header));
    if (!m.hasMatch())
        return {};
    return (m.captured(2).isNull() ? m.captured(3) : m.captured(2)).toLatin1();
}

QByteArray mediaType(const Part& part)
{
    const QByteArray type = part.headers.value("content-type");
    const qsizetype semi = type.indexOf(';');
    const QByteArray bare = (semi < 0 ? type : type.left(semi)).trimmed().toLower();
    return bare.isEmpty() ? QByteArray("text/plain") : bare;
}

QByteArray transferDecoded(const Part& part)
{
    const QByteArray encoding = part.headers.value("content-transfer-encoding").trimmed().toLower();
    if (encoding == "base64")
        return QByteArray::fromBase64(part.body);
    if (encoding == "quoted-printable")
        return MailText::decodeQuotedPrintable(part.body);
    return part.body;
}

// The parts between "--boundary" lines; the preamble before the first and anything after the
// closing "--boundary--" are not parts. A message cut short keeps the parts it has.
QList<QByteArray> splitMultipart(const QByteArray& body, const QByteArray& boundary)
{
    QList<QByteArray> parts;
    const QByteArray delimiter = "--" + boundary;
    qsizetype pos = body.startsWith(delimiter) ? 0 : body.indexOf("\n" + delimiter);
    while (pos >= 0) {
        const qsizetype lineStart = body[pos] == '\n' ? pos + 1 : pos;
        const qsizetype afterDelimiter = lineStart + delimiter.size();
        if (body.mid(afterDelimiter, 2) == "--")
            break;
        const qsizetype contentStart = body.indexOf('\n', afterDelimiter);
        if (contentStart < 0)
            break;
        const qsizetype next = body.indexOf("\n" + delimiter, contentStart);
        parts.append(body.mid(contentStart + 1, next < 0 ? -1 : next - contentStart - 1));
        pos = next;
    }
    return parts;
}

class Reader {
public:
    explicit Reader(TextBuffer& out) : m_out(out) {}

    void read(const Part& part, int depth)
    {
        if (depth > MailText::kMaxDepth || m_out.done())
            return;
        const QByteArray type = mediaType(part);
        const QByteArray header = part.headers.value("content-type");
        if (type.startsWith("multipart/")) {
            const QByteArray boundary = headerParameter(header, "boundary");
            if (boundary.isEmpty())
                return;
            QList<Part> children;
            for (const QByteArray& raw : splitMultipart(part.body, boundary)) {
                if (auto child = parsePart(raw))
                    children.append(*child);
                else
                    children.append(Part{{}, raw});
            }
            // The forms of an alternative say the same thing; reading all would index it twice.
            if (type == "multipart/alternative") {
                const Part* chosen = nullptr;
                for (const Part& c : children) {
                    if (mediaType(c) == "text/plain" || (!chosen && mediaType(c) == "text/html"))
                        chosen = &c;
                    if (chosen && mediaType(*chosen) == "text/plain")
                        break;
                }
                if (!chosen && !children.isEmpty())
                    chosen = &children.front();
                if (chosen)
                    read(*chosen, depth + 1);
                return;
            }
            for (const Part& c : children)
                read(c, depth + 1);
            return;
        }
        if (type == "message/rfc822") {
            if (auto inner = parsePart(transferDecoded(part))) {
                appendHeaders(*inner);
                read(*inner, depth + 1);
            }
            return;
        }
        if (part.headers.value("content-disposition").trimmed().toLower().startsWith("attachment"))
            return;
        if (type == "text/plain" || type == "text/html") {
            const QString text = TextDecoding::decodeAs(transferDecoded(part), headerParameter(header, "charset"));
            m_out.newline();
            if (type == "text/html")
                HtmlText::appendText(text, m_out);
            else
                m_out.append(text);
        }
    }

    void appendHeaders(const Part& part)
    {
        for (const char* name : {"subject", "from", "to"}) {
            const QByteArray value = part.headers.value(name);
            if (value.isEmpty())
                continue;
            m_out.newline();
            // A header of megabytes would take the whole text budget and leave the body out.
            m_out.append(MailText::decodeHeader(QByteArrayView(value).first(qMin(value.size(), MailText::kHeaderCapBytes))));
        }
        m_out.newline();
    }

private:
    TextBuffer& m_out;
};

} // namespace

QByteArray MailText::decodeQuotedPrintable(QByteArrayView data)
{
    QByteArray out;
    out.reserve(data.size());
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c != '=') {
            out.append(c);
            continue;
        }
        if (i + 1 < data.size() && data[i + 1] == '\n') { // soft line break
            ++i;
            continue;
        }
        if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n') {
            i += 2;
            continue;
        }
        bool ok = false;
        const int byte = i + 2 < data.size() ? data.sliced(i + 1, 2).toByteArray().toInt(&ok, 16) : 0;
        if (ok) {
            out.append(char(byte));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

QString MailText::decodeHeader(QByteArrayView value)
{
    static const QRegularExpression word(QStringLiteral("=\\?([^?]+)\\?([BbQq])\\?([^?]*)\\?="));
    const QString raw = QString::fromLatin1(value);
    QString out;
    qsizetype last = 0;
    bool previousWasEncoded = false;
    auto it = word.globalMatch(raw);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString between = raw.mid(last, m.capturedStart() - last);
        // White space between two encoded words is not part of the text.
        if (!(previousWasEncoded && between.trimmed().isEmpty()))
            out.append(TextDecoding::decodeAs(between.toLatin1(), "us-ascii"));
        QByteArray charset = m.captured(1).toLatin1();
        if (const qsizetype star = charset.indexOf('*'); star >= 0) // RFC 2231 language suffix
            charset.truncate(star);
        const QByteArray payload = m.captured(3).toLatin1();
        QByteArray bytes;
        if (m.captured(2).compare(QLatin1String("B"), Qt::CaseInsensitive) == 0) {
            bytes = QByteArray::fromBase64(payload);
        } else {
            QByteArray q = payload;
            q.replace('_', ' ');
            bytes = decodeQuotedPrintable(q);
        }
        out.append(TextDecoding::decodeAs(bytes, charset));
        last = m.capturedEnd();
        previousWasEncoded = true;
    }
    out.append(TextDecoding::decodeAs(raw.mid(last).toLatin1(), "us-ascii"));
    return out.simplified();
}

QByteArrayView MailText::emlxMessage(QByteArrayView emlx)
{
    const qsizetype newline = emlx.indexOf('\n');
    if (newline <= 0 || newline > 20)
        return emlx;
    bool ok = false;
    const qint64 count = emlx.first(newline).trimmed().toLongLong(&ok);
    if (!ok || count < 0)
        return emlx;
    return emlx.sliced(newline + 1, qMin<qint64>(count, emlx.size() - newline - 1));
}

Result<ExtractedText> MailText::extract(QByteArrayView message, ExtractionContext& ctx)
{
    // One line ending makes the header and boundary scans simple; bodies are text anyway.
    QByteArray data = message.toByteArray();
    data.replace("\r\n", "\n");
    const std::optional<Part> top = parsePart(data);
    if (!top || (!top->headers.contains("from") && !top->headers.contains("subject") && !top->headers.contains("date")))
        return contentError(ContentError::Unreadable, QStringLiteral("not a mail message"));
    TextBuffer out(ctx);
    Reader reader(out);
    reader.appendHeaders(*top);
    reader.read(*top, 0);
    const QByteArray subject = top->headers.value("subject");
    return finishExtraction(out, decodeHeader(QByteArrayView(subject).first(qMin(subject.size(), kHeaderCapBytes))));
}

} // namespace platform
