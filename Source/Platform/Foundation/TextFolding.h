// Folding for text comparisons that ignore case ([c]), diacritics ([d]) or both ([cd]), and a
// LIKE matcher built on it.
//
// Folding maps a text to a canonical key: canonically equivalent texts (composed "é" and "e" +
// combining acute) always give the same key, and the options drop case and non-spacing marks
// on top of that. Keys are compared with plain QString equality, so callers that compare one
// value against many rows fold it once. Case folding is Unicode simple folding (one code point
// to one code point), so "ß" does not equal "ss". Pure ASCII takes a fast path that never
// allocates a normalisation buffer.
//
// LIKE patterns know exactly three special characters: "*" (any run, also empty), "?" (exactly
// one character, that is one code point, so a non-BMP character is one "?") and "\" (the next
// character literally; a trailing lone "\" is a literal backslash). Matching runs in
// O(text × pattern) at worst: a single backtrack point, never exponential.
#pragma once

#include <QString>
#include <QStringView>
#include <vector>

namespace platform {

enum class FoldOptions : unsigned {
    None = 0,
    CaseInsensitive = 1,       // [c]
    DiacriticInsensitive = 2,  // [d]
    CaseAndDiacriticInsensitive = 3, // [cd]
};

constexpr FoldOptions operator|(FoldOptions a, FoldOptions b)
{
    return FoldOptions(unsigned(a) | unsigned(b));
}
constexpr bool hasOption(FoldOptions set, FoldOptions option)
{
    return (unsigned(set) & unsigned(option)) == unsigned(option) && option != FoldOptions::None;
}

// Options from a comparison modifier as written in predicates: "c", "d", "cd" or "dc", with or
// without the brackets ("[cd]"). Anything else (also "") gives None; ok, when given, tells
// whether the text was understood.
FoldOptions foldOptionsFromModifier(QStringView modifier, bool* ok = nullptr);

// The comparison key of text: NFC, and with the options the non-spacing marks dropped (after
// NFD) and case folded.
QString fold(const QString& text, FoldOptions options);

// Comparisons of folded keys.
bool equalsFolded(const QString& a, const QString& b, FoldOptions options);
int compareFolded(const QString& a, const QString& b, FoldOptions options); // <0, 0, >0
bool beginsWith(const QString& text, const QString& prefix, FoldOptions options);
bool endsWith(const QString& text, const QString& suffix, FoldOptions options);
bool contains(const QString& text, const QString& part, FoldOptions options);

// Whether the whole of text matches the LIKE pattern under the options.
bool likeMatch(const QString& text, const QString& pattern, FoldOptions options);

// Text with "*", "?" and "\" escaped so that, used as (part of) a LIKE pattern, it matches
// itself only.
QString escapeLike(const QString& text);

// A LIKE pattern parsed and folded once, for matching against many texts.
class LikePattern {
public:
    LikePattern() = default;
    LikePattern(const QString& pattern, FoldOptions options);

    bool matches(const QString& text) const;
    FoldOptions options() const { return m_options; }

private:
    // Token encoding: a code point, or one of the two wildcard markers (outside Unicode).
    static constexpr char32_t AnyRun = 0xFFFFFFFF;
    static constexpr char32_t AnyOne = 0xFFFFFFFE;

    std::vector<char32_t> m_tokens;
    FoldOptions m_options = FoldOptions::None;
};

} // namespace platform
