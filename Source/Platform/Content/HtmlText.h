// The readable text of an HTML or XHTML page.
//
// Real pages are rarely well-formed, so this is a forgiving tokenizer rather than an XML
// parser: tags are dropped, block elements become line breaks and table cells tabs, white
// space collapses as a browser would collapse it, character references are decoded, and the
// contents of script, style and template elements, comments and declarations are skipped.
// Nothing is ever loaded: links, images and style sheets are just tags.
#pragma once

#include "Platform/Content/ExtractionContext.h"

#include <QByteArrayView>
#include <QStringView>

namespace platform {

class HtmlText {
public:
    // Decodes the bytes (byte-order mark, the charset in a meta tag or XML declaration, else
    // detection) and extracts the text; the title is the page's <title>.
    static Result<ExtractedText> extract(QByteArrayView html, ExtractionContext& ctx);
    // Appends the text of already decoded markup; fills *title when the markup has one.
    static void appendText(QStringView html, TextBuffer& out, QString* title = nullptr);
    // "&eacute;", "&#233;", "&#xE9;" and friends decoded; unknown names left as they are.
    static QString decodeEntities(QStringView text);
    // The charset a page declares for itself in its first bytes, lower case; empty when none.
    static QByteArray declaredCharset(QByteArrayView html);
};

} // namespace platform
