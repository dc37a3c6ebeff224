// The class operations the request, the form request and the download cache share: the default
// user agent, MIME types of files, Base64, expiry dates, HTTP dates and Content-Type values.
// Only the default user agent is state, kept under its own lock.
#pragma once

#include "Platform/HTTPStream/HTTPHeaders.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

class KPHTTPRequestUtilities {
public:
    // Null when the application has no name or the kernel gives no version.
    static QString defaultUserAgentString();
    static void setDefaultUserAgentString(const QString& agent);
    // The user agent for a name, version and kernel release ("6.1.0-13-amd64"); null when the
    // release does not start with three numbers. Exposed so the format can be checked.
    static QString userAgentFor(const QString& name, const QString& shortVersion, const QString& build,
                                const QString& kernelRelease, const QString& localeName);

    // Null when nothing exists at the path; "application/octet-stream" when the name maps to
    // no type.
    static QString mimeTypeForFileAtPath(const QString& path);
    static QString base64forData(const QByteArray& data);

    // From "max-age" in Cache-Control (when maxAge is 0), else the Expires date; null when
    // neither gives one. now is the clock's present, so tests need not wait.
    static std::optional<QDateTime> expiryDateForResponseHeaders(const platform::HTTPHeaders& headers, double maxAge,
                                                                 const QDateTime& now);
    // RFC 1123 dates (with or without weekday and seconds), and the RFC 850 and asctime forms
    // HTTP also allows. Always read in the C locale; null for anything else.
    static std::optional<QDateTime> dateFromRFC1123String(const QString& text);

    // MIME type and character set of a Content-Type value. encoding keeps its value when no
    // known character set is named; a quoted name is unquoted.
    static void parseMimeType(QString* mimeType, QByteArray* encoding, const QString& contentType);

    // Whether bytes in this IANA character set can be decoded (Qt's decoders, else iconv).
    static bool isKnownEncoding(const QByteArray& name);
    // Bytes decoded from that set; null when it is not known.
    static QString decode(const QByteArray& bytes, const QByteArray& encoding);
};
