// The plain text of an RTF document.
//
// A full RTF reader is large; finding the words of a document is not. This one tracks groups,
// skips the destinations that hold no document text (tables of fonts, colours and styles, the
// info block, pictures, field instructions and every "\*" destination), decodes "\'hh" bytes in
// the document's code page (\ansicpg) and "\uN" characters with their "\ucN" fallbacks, and turns
// paragraph, line, tab and cell marks into line breaks and tabs. Formatting is dropped.
#pragma once

#include "Platform/Content/ExtractionContext.h"

#include <QByteArrayView>

namespace platform {

class RtfText {
public:
    // Tuning: group nesting beyond this is hostile, not a document.
    static constexpr int kMaxDepth = 1000;

    // Fails (Unreadable) when the bytes are not RTF or nest too deeply.
    static Result<ExtractedText> extract(QByteArrayView rtf, ExtractionContext& ctx);
};

} // namespace platform
