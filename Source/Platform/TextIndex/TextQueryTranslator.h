// Turns what users type into a search (words, "quoted phrases", word* prefixes, AND/&, OR/|,
// NOT/!, parentheses; words side by side must all occur) into an FTS5 match expression.
//
// Users type anything, so the translation never fails: every word and phrase is quoted for FTS5
// (C++, foo:bar and a-b become harmless phrases), quotes and parentheses are balanced, an
// operator without operands is dropped, a term with no letters or digits is ignored, and
// control characters (NUL included) are dropped, except those that are white space. NOT
// excludes from what the rest of its group finds; a group with nothing positive left in it
// finds nothing. The result is an empty string when nothing searchable remains.
#pragma once

#include <QString>

namespace platform {

class TextQueryTranslator {
public:
    static QString toMatchExpression(const QString& userQuery);

    // Parentheses nested deeper than this are ignored (and fewer when the expression would
    // still nest too deep for FTS5): hostile input must neither exhaust the stack nor fail.
    static constexpr int maximumDepth = 32;
};

} // namespace platform
