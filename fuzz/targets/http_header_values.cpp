// Header values a server chooses: dates (Expires, Last-Modified), Cache-Control ages and
// Content-Type with its character set. Dates read must be real dates; nothing may throw or hang.
#include "FuzzSupport.h"

#include "HTTP/KPHTTPRequestUtilities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QString text = fuzz::utf8(data, size);
    if (const auto date = KPHTTPRequestUtilities::dateFromRFC1123String(text); date && !date->isValid())
        fuzz::fail("an invalid date returned", fuzz::printable(text));

    QString mime;
    QByteArray encoding = "ISO-8859-1";
    KPHTTPRequestUtilities::parseMimeType(&mime, &encoding, text);
    if (encoding != "ISO-8859-1" && !KPHTTPRequestUtilities::isKnownEncoding(encoding))
        fuzz::fail("an unknown encoding taken", fuzz::printable(text));
    if (encoding != "ISO-8859-1")
        (void)KPHTTPRequestUtilities::decode(fuzz::bytes(data, size), encoding);

    platform::HTTPHeaders headers;
    headers.set(QStringLiteral("Cache-Control"), text);
    headers.set(QStringLiteral("Expires"), text);
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    if (const auto expiry = KPHTTPRequestUtilities::expiryDateForResponseHeaders(headers, 0, now);
        expiry && !expiry->isValid())
        fuzz::fail("an invalid expiry returned", fuzz::printable(text));
    return 0;
}
