#include "Platform/HTTPStream/HTTPResponseParser.h"

namespace platform {

bool HTTPResponseParser::fail(const QString& why)
{
    m_state = State::Failed;
    m_error = why;
    m_in.clear();
    return false;
}

std::optional<qint64> HTTPResponseParser::parseContentLength(QByteArrayView text)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 32)
        return std::nullopt;
    qint64 v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        if (v > (std::numeric_limits<qint64>::max() - 9) / 10)
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::optional<qint64> HTTPResponseParser::parseChunkSize(QByteArrayView line)
{
    if (const qsizetype semi = line.indexOf(';'); semi >= 0)
        line = line.first(semi);
    line = line.trimmed();
    if (line.isEmpty() || line.size() > 15)
        return std::nullopt;
    qint64 v = 0;
    for (char c : line) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * 16 + d;
    }
    return v;
}

std::optional<QByteArray> HTTPResponseParser::takeLine(qsizetype limit, bool* tooLong)
{
    *tooLong = false;
    const qsizetype nl = m_in.indexOf('\n');
    if (nl < 0) {
        *tooLong = m_in.size() > limit;
        return std::nullopt;
    }
    if (nl + 1 > limit) {
        *tooLong = true;
        return std::nullopt;
    }
    QByteArray line = m_in.left(nl);
    m_in.remove(0, nl + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

bool HTTPResponseParser::parseStatusLine(QByteArrayView line)
{
    // "HTTP/1.1 200 OK"; the reason may be empty.
    if (!line.startsWith("HTTP/") || line.size() < 12 || line[8] != ' ')
        return fail(QStringLiteral("Malformed status line"));
    const QByteArrayView version = line.sliced(5, 3);
    if (version != "1.0" && version != "1.1")
        return fail(QStringLiteral("Unsupported HTTP version"));
    const QByteArrayView code = line.sliced(9, 3);
    int status = 0;
    for (char c : code) {
        if (c < '0' || c > '9')
            return fail(QStringLiteral("Malformed status line"));
        status = status * 10 + (c - '0');
    }
    if (status < 100 || (line.size() > 12 && line[12] != ' '))
        return fail(QStringLiteral("Malformed status line"));
    m_status = status;
    m_version = QString::fromLatin1(version);
    m_statusLine = QString::fromLatin1(line);
    m_headers.clear();
    return true;
}

bool HTTPResponseParser::parseHeaderLine(QByteArrayView line)
{
    if (line.front() == ' ' || line.front() == '\t') {
        // An obsolete folded continuation: joined to the field before it.
        if (m_headers.isEmpty())
            return fail(QStringLiteral("Malformed header field"));
        m_headers.appendToLast(u' ' + QString::fromLatin1(line.trimmed()));
        return true;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return fail(QStringLiteral("Malformed header field"));
    const QByteArrayView name = line.first(colon);
    for (char c : name)
        if (c <= ' ' || c >= 127 || c == '"' || c == '(' || c == ')' || c == ',' || c == '/' || c == '@')
            return fail(QStringLiteral("Malformed header field"));
    if (m_headers.size() >= MaxHeaderFields)
        return fail(QStringLiteral("Too many header fields"));
    m_headers.add(QString::fromLatin1(name), QString::fromLatin1(line.sliced(colon + 1).trimmed()));
    return true;
}

bool HTTPResponseParser::headersEnded()
{
    if (m_status < 200) {
        // An interim response: the real one follows.
        m_state = State::StatusLine;
        m_headers.clear();
        return true;
    }
    const QString te = m_headers.value(QStringLiteral("Transfer-Encoding")).toLower();
    const QStringList lengths = m_headers.values(QStringLiteral("Content-Length"));
    if (m_head || m_status == 204 || m_status == 304) {
        m_framing = Framing::None;
    } else if (!te.isEmpty() && te != QLatin1String("identity")) {
        if (!te.trimmed().endsWith(QLatin1String("chunked")))
            m_framing = Framing::UntilClose;
        else
            m_framing = Framing::Chunked;
    } else if (!lengths.isEmpty()) {
        std::optional<qint64> length;
        for (const QString& l : lengths) {
            for (const QString& part : l.split(u',')) {
                const auto v = parseContentLength(part.toLatin1());
                if (!v || (length && *length != *v))
                    return fail(QStringLiteral("Invalid Content-Length"));
                length = v;
            }
        }
        m_contentLength = length;
        m_remaining = *length;
        m_framing = Framing::Length;
    } else {
        m_framing = Framing::UntilClose;
    }
    switch (m_framing) {
    case Framing::None: m_state = State::Done; break;
    case Framing::Length: m_state = m_remaining == 0 ? State::Done : State::Body; break;
    case Framing::Chunked: m_state = State::ChunkSize; break;
    case Framing::UntilClose: m_state = State::Body; break;
    }
    if (m_state == State::Done)
        m_in.clear();
    return true;
}

bool HTTPResponseParser::feed(const char* data, qsizetype length)
{
    if (m_state == State::Failed)
        return false;
    if (m_state == State::Done || length <= 0)
        return true;
    m_sawNothing = false;
    m_in.append(data, length);
    for (;;) {
        bool tooLong = false;
        switch (m_state) {
        case State::StatusLine:
        case State::Headers:
        case State::Trailers: {
            const qsizetype before = m_in.size();
            auto line = takeLine(MaxHeaderBytes - m_headerBytes, &tooLong);
            if (tooLong)
                return fail(QStringLiteral("Response headers too long"));
            if (!line)
                return true;
            m_headerBytes += before - m_in.size();
            if (m_state == State::StatusLine) {
                if (line->isEmpty() && m_status == 0 && m_headerBytes <= 4)
                    continue; // a stray CRLF before the response
                if (!parseStatusLine(*line))
                    return false;
                m_state = State::Headers;
            } else if (line->isEmpty()) {
                if (m_state == State::Trailers) {
                    m_state = State::Done;
                    m_in.clear();
                    return true;
                }
                if (!headersEnded())
                    return false;
            } else if (m_state == State::Trailers) {
                if (++m_remaining > MaxHeaderFields)
                    return fail(QStringLiteral("Too many trailer fields"));
            } else if (!parseHeaderLine(*line)) {
                return false;
            }
            break;
        }
        case State::Body: {
            if (m_in.isEmpty())
                return true;
            if (m_framing == Framing::UntilClose) {
                m_body.append(m_in);
                m_in.clear();
                return true;
            }
            const qsizetype take = qsizetype(std::min<qint64>(m_remaining, m_in.size()));
            if (m_body.isEmpty() && take == m_in.size())
                m_body.swap(m_in); // the common case: no copy
            else {
                m_body.append(m_in.constData(), take);
                m_in.remove(0, take);
            }
            m_remaining -= take;
            if (m_remaining == 0) {
                m_state = State::Done;
                m_in.clear();
                return true;
            }
            break;
        }
        case State::ChunkSize: {
            auto line = takeLine(MaxChunkLine, &tooLong);
            if (tooLong)
                return fail(QStringLiteral("Chunk size line too long"));
            if (!line)
                return true;
            const auto size = parseChunkSize(*line);
            if (!size)
                return fail(QStringLiteral("Invalid chunk size"));
            m_remaining = *size;
            if (*size == 0) {
                m_state = State::Trailers;
                m_headerBytes = 0;
                m_remaining = 0;
            } else {
                m_state = State::ChunkData;
            }
            break;
        }
        case State::ChunkData: {
            if (m_in.isEmpty())
                return true;
            const qsizetype take = qsizetype(std::min<qint64>(m_remaining, m_in.size()));
            m_body.append(m_in.constData(), take);
            m_in.remove(0, take);
            m_remaining -= take;
            if (m_remaining == 0)
                m_state = State::ChunkDataEnd;
            break;
        }
        case State::ChunkDataEnd: {
            if (!m_in.isEmpty() && m_in[0] != '\r' && m_in[0] != '\n')
                return fail(QStringLiteral("Missing CRLF after chunk"));
            auto line = takeLine(2, &tooLong);
            if (tooLong || (line && !line->isEmpty()))
                return fail(QStringLiteral("Missing CRLF after chunk"));
            if (!line)
                return true;
            m_state = State::ChunkSize;
            break;
        }
        case State::Done:
            m_in.clear();
            return true;
        case State::Failed:
            return false;
        }
    }
}

void HTTPResponseParser::finishInput()
{
    if (m_state == State::Done || m_state == State::Failed)
        return;
    if (m_state == State::Body && m_framing == Framing::UntilClose) {
        m_state = State::Done;
        return;
    }
    fail(headersComplete() ? QStringLiteral("Connection closed before the end of the body")
                           : QStringLiteral("Connection closed before the response"));
}

QByteArray HTTPResponseParser::takeBody(qsizetype max)
{
    if (max >= m_body.size())
        return std::exchange(m_body, QByteArray());
    QByteArray out = m_body.left(max);
    m_body.remove(0, max);
    return out;
}

} // namespace platform
