// The text of an XML document part (office document bodies, ODF content, old iWork XML),
// picked by element names.
//
// Each format keeps its words in a few elements and marks paragraphs, tabs and breaks with a
// few others; the rules below name them by local name, so prefixes and namespace URIs (which
// vary between producers) do not matter. QXmlStreamReader never loads external entities and
// caps entity expansion, so a hostile part cannot reach the network or balloon.
#pragma once

#include "Platform/Content/ExtractionContext.h"

#include <QHash>
#include <QSet>

namespace platform {

struct XmlTextRules {
    // Elements whose character data is text; empty means every element's.
    QSet<QString> textElements;
    // Elements that end a paragraph.
    QSet<QString> paragraphElements;
    QSet<QString> tabElements;
    QSet<QString> lineBreakElements;
    // Elements whose whole subtree is ignored (properties, deleted text, field codes).
    QSet<QString> skipElements;
    // ODF's run of spaces: this element stands for "c" spaces (1 when absent).
    QString spaceElement;
    // Text kept in attributes: element local name → attribute local name.
    QHash<QString, QString> textAttributes;
};

class XmlText {
public:
    // Appends the text of the part to out. A parse error keeps what came before it; it fails
    // (Unreadable) only when the part gave no text at all.
    static Result<void> append(const QByteArray& xml, const XmlTextRules& rules, TextBuffer& out);
};

} // namespace platform
