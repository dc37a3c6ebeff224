// Reads an HTTP/1.x response from bytes as they arrive: the status line, the header fields and
// the body, framed by Content-Length, chunked transfer coding or the end of the connection.
//
// Everything from outside is bounded: the status line and header fields together at most
// 64 KiB and 100 fields (chunk trailers the same), a chunk-size line at most 1 KiB, sizes that
// fit in 63 bits. Interim (1xx) responses are skipped; a response to HEAD, and 204 and 304
// responses, have no body. Body bytes wait in a buffer until the caller takes them.
#pragma once

#include "Platform/HTTPStream/HTTPHeaders.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace platform {

class HTTPResponseParser {
public:
    static constexpr qsizetype MaxHeaderBytes = 64 * 1024;
    static constexpr qsizetype MaxHeaderFields = 100;
    static constexpr qsizetype MaxChunkLine = 1024;

    explicit HTTPResponseParser(bool headRequest = false) : m_head(headRequest) {}

    // Takes the next bytes; false once the response is malformed (error() says how).
    bool feed(const char* data, qsizetype length);
    bool feed(const QByteArray& data) { return feed(data.constData(), data.size()); }
    // The connection ended: completes a body that runs until close; an incomplete response
    // becomes an error.
    void finishInput();

    bool headersComplete() const { return m_state >= State::Body; }
    bool isComplete() const { return m_state == State::Done; }
    bool failed() const { return m_state == State::Failed; }
    QString error() const { return m_error; }
    // No byte of a response has arrived yet (a dropped kept-open connection looks so).
    bool sawNothing() const { return m_sawNothing; }

    int statusCode() const { return m_status; }
    QString statusLine() const { return m_statusLine; }
    // "1.0" or "1.1"
    QString httpVersion() const { return m_version; }
    const HTTPHeaders& headers() const { return m_headers; }
    // The announced length of the body; none for chunked or until-close bodies.
    std::optional<qint64> contentLength() const { return m_contentLength; }

    qsizetype bufferedBodySize() const { return m_body.size(); }
    QByteArray takeBody(qsizetype max);

    // A Content-Length value: decimal digits only (leading zeros allowed), within 63 bits.
    static std::optional<qint64> parseContentLength(QByteArrayView text);
    // A chunk-size line's size (extensions after ';' ignored): hex digits, at most 15.
    static std::optional<qint64> parseChunkSize(QByteArrayView line);

private:
    enum class State { StatusLine, Headers, Body, ChunkSize, ChunkData, ChunkDataEnd, Trailers, Done, Failed };
    enum class Framing { None, Length, Chunked, UntilClose };

    bool fail(const QString& why);
    bool parseStatusLine(QByteArrayView line);
    bool parseHeaderLine(QByteArrayView line);
    bool headersEnded();
    // A complete line from m_in (without CRLF), or none yet; fails past limit.
    std::optional<QByteArray> takeLine(qsizetype limit, bool* tooLong);

    bool m_head = false;
    State m_state = State::StatusLine;
    Framing m_framing = Framing::None;
    QByteArray m_in;
    QByteArray m_body;
    QString m_error;
    bool m_sawNothing = true;
    qsizetype m_headerBytes = 0;
    int m_status = 0;
    QString m_statusLine;
    QString m_version;
    HTTPHeaders m_headers;
    std::optional<qint64> m_contentLength;
    qint64 m_remaining = 0;
};

} // namespace platform
