// Turning bytes of unknown encoding into text.
//
// Files carry no reliable label, so the order is: a byte-order mark; text that is valid UTF-8
// (nearly everything written today, and plain ASCII); UTF-16 without a mark, recognised by its
// zero bytes; the locale's encoding when it is not UTF-8; and finally Windows-1252, the superset
// of Latin-1 that old Western documents actually use. The last step never fails, so any bytes
// give some text.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace platform {

class TextDecoding {
public:
    // Detects the encoding as above. A multi-byte sequence cut off at the very end (the bytes
    // were read up to a cap) does not count against UTF-8.
    static QString decode(QByteArrayView bytes);
    // Decodes with a named charset (from a mail header or an HTML meta tag); an unknown or
    // empty name falls back to decode().
    static QString decodeAs(QByteArrayView bytes, const QByteArray& charset);
    // Windows code page numbers as RTF's \ansicpg gives them (1252, 1251, 932, 10000…).
    static QString decodeCodePage(QByteArrayView bytes, int codePage);

    static bool isValidUtf8(QByteArrayView bytes, bool allowCutEnd);
    static QString fromWindows1252(QByteArrayView bytes);
};

} // namespace platform
