// The searchable text of a mail message (.eml, and Apple Mail's .emlx wrapper around one).
//
// What a person searches a message for is who sent it, to whom, its subject and what it says,
// so those are read: the Subject, From and To headers (with their encoded words decoded) and
// every text part of the body, quoted-printable or base64, in its declared charset. Of a
// multipart/alternative only one form is read (plain text when present, else HTML); attachments
// other than forwarded messages are left out.
#pragma once

#include "Platform/Content/ExtractionContext.h"

#include <QByteArrayView>

namespace platform {

class MailText {
public:
    // Tuning: MIME parts nested deeper than this are not read.
    static constexpr int kMaxDepth = 16;
    // Tuning: a header is read up to this many bytes (a subject line of megabytes is an attack).
    static constexpr qsizetype kHeaderCapBytes = 16 * 1024;

    // The text of an RFC 822 message; the title is its subject. Fails (Unreadable) when the
    // bytes have no header block.
    static Result<ExtractedText> extract(QByteArrayView message, ExtractionContext& ctx);
    // The message inside an .emlx file: the bytes counted by its first line, without the
    // property list that follows. Bytes that do not start with a count are returned whole.
    static QByteArrayView emlxMessage(QByteArrayView emlx);

    // A header value with RFC 2047 encoded words ("=?UTF-8?Q?caf=C3=A9?=") decoded.
    static QString decodeHeader(QByteArrayView value);
    static QByteArray decodeQuotedPrintable(QByteArrayView data);
};

} // namespace platform
