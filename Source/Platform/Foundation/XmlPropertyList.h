// The XML property-list format: <plist version="1.0"> around one value of <dict> (<key> then
// value, repeated), <array>, <string>, <integer>, <real>, <true/>, <false/>, <date> and <data>.
//
// Reading goes through Qt's XML tokenizer, so the predefined entities, character references,
// CDATA, comments, processing instructions, a DOCTYPE, a UTF-8 byte-order mark and UTF-16
// (with a byte-order mark or an encoding declaration) are handled as XML defines them. A
// DOCTYPE with declarations (entities, an internal subset) is refused, and so are entities a
// DTD would have to supply: text is never longer than the document itself. Only encodings read
// exactly are accepted (UTF-8, UTF-16, ISO-8859-1), and text holding what the
// writer cannot carry (a lone surrogate, U+FFFE, U+FFFF) is refused. The element structure is checked as it is read, nesting past plist::kMaxNesting
// is refused, and values are built with an explicit stack. Nothing is mended: an <integer> is
// decimal or 0x-hex within the signed and unsigned 64-bit ranges ("0123" is 123); a <real> is
// a number, "nan", "inf" or "-inf" ("infinity" and signs in any case too); a <date> is
// "YYYY-MM-DDTHH:MM:SSZ"; <data> is base64, white space allowed; a <key> outside a
// dictionary, a key without a value, a repeated key and unknown elements are errors.
// {"CF$UID": n} is the form of a UID, as XML has no element for it.
//
// Writing gives what stock readers accept: a UTF-8 document with the usual declaration and
// DOCTYPE, tab-indented. Dates hold whole seconds in this format: milliseconds are cut, and
// years are 0000 to 9999 (0000 is 1 BC). Reals are the shortest text that reads back to the
// same double, -0.0 included. Text that XML 1.0 cannot carry (control characters other than
// tab, line feed and carriage return; U+FFFE, U+FFFF; lone surrogates) is refused; a carriage
// return is written as a character reference so that it survives line-end normalisation.
// A dictionary holding only "CF$UID" with an integer would read back as a UID, so it is refused.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QVariant>

namespace platform {

class XmlPropertyList {
public:
    static Result<QVariant> read(const QByteArray& bytes);
    static Result<QByteArray> write(const QVariant& value);
};

} // namespace platform
