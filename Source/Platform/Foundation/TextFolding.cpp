#include "Platform/Foundation/TextFolding.h"

namespace platform {

namespace {

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

QString asciiLower(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] >= u'A' && text[i] <= u'Z') {
            QString out = text;
            QChar* data = out.data();
            for (qsizetype j = i; j < out.size(); ++j) {
                if (data[j] >= u'A' && data[j] <= u'Z')
                    data[j] = QChar(data[j].unicode() + ('a' - 'A'));
            }
            return out;
        }
    }
    return text;
}

// The code point at i and its length in UTF-16 units; a lone surrogate stands for itself.
inline char32_t codePointAt(QStringView s, qsizetype i, qsizetype* length)
{
    const QChar c = s[i];
    if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(c, s[i + 1]);
    }
    *length = 1;
    return c.unicode();
}

QString dropNonSpacingMarks(const QString& decomposed)
{
    QString out;
    out.reserve(decomposed.size());
    for (qsizetype i = 0; i < decomposed.size();) {
        qsizetype len = 0;
        const char32_t cp = codePointAt(decomposed, i, &len);
        if (QChar::category(cp) != QChar::Mark_NonSpacing)
            out.append(QStringView(decomposed).mid(i, len));
        i += len;
    }
    return out;
}

} // namespace

FoldOptions foldOptionsFromModifier(QStringView modifier, bool* ok)
{
    QStringView m = modifier.trimmed();
    if (m.startsWith(u'[') && m.endsWith(u']'))
        m = m.mid(1, m.size() - 2);
    unsigned bits = 0;
    bool understood = !m.isEmpty() && m.size() <= 2;
    for (QChar c : m) {
        const unsigned bit = c == u'c' ? 1u : c == u'd' ? 2u : 0u;
        if (bit == 0 || (bits & bit))
            understood = false;
        bits |= bit;
    }
    if (ok)
        *ok = understood;
    return understood ? FoldOptions(bits) : FoldOptions::None;
}

QString fold(const QString& text, FoldOptions options)
{
    const bool caseless = hasOption(options, FoldOptions::CaseInsensitive);
    const bool markless = hasOption(options, FoldOptions::DiacriticInsensitive);
    if (isAscii(text))
        return caseless ? asciiLower(text) : text;

    QString out;
    if (markless) {
        out = dropNonSpacingMarks(text.normalized(QString::NormalizationForm_D));
    } else {
        out = text.normalized(QString::NormalizationForm_C);
        if (!caseless)
            return out;
    }
    if (caseless)
        out = out.toCaseFolded();
    // Folding can leave a decomposed or no longer composed sequence; the key is always NFC.
    return out.normalized(QString::NormalizationForm_C);
}

bool equalsFolded(const QString& a, const QString& b, FoldOptions options)
{
    return fold(a, options) == fold(b, options);
}

int compareFolded(const QString& a, const QString& b, FoldOptions options)
{
    return QString::compare(fold(a, options), fold(b, options), Qt::CaseSensitive);
}

// An empty part (or one that folds to nothing) is found nowhere: a search for nothing finds
// nothing, rather than every text.
bool beginsWith(const QString& text, const QString& prefix, FoldOptions options)
{
    const QString foldedPrefix = fold(prefix, options);
    return !foldedPrefix.isEmpty() && fold(text, options).startsWith(foldedPrefix);
}

bool endsWith(const QString& text, const QString& suffix, FoldOptions options)
{
    const QString foldedSuffix = fold(suffix, options);
    return !foldedSuffix.isEmpty() && fold(text, options).endsWith(foldedSuffix);
}

bool contains(const QString& text, const QString& part, FoldOptions options)
{
    const QString foldedPart = fold(part, options);
    return !foldedPart.isEmpty() && fold(text, options).contains(foldedPart);
}

QString escapeLike(const QString& text)
{
    QString out;
    out.reserve(text.size() + 4);
    for (QChar c : text) {
        if (c == u'*' || c == u'?' || c == u'\\')
            out.append(u'\\');
        out.append(c);
    }
    return out;
}

LikePattern::LikePattern(const QString& pattern, FoldOptions options) : m_options(options)
{
    // Literal runs are folded as a whole, after the escapes are resolved, so that folding can
    // neither create nor swallow a wildcard and a character still composes with its marks.
    QString literal;
    auto flushLiteral = [&] {
        if (literal.isEmpty())
            return;
        const QString folded = fold(literal, options);
        for (qsizetype i = 0; i < folded.size();) {
            qsizetype len = 0;
            m_tokens.push_back(codePointAt(folded, i, &len));
            i += len;
        }
        literal.clear();
    };
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'\\') {
            if (i + 1 < pattern.size()) {
                ++i;
                literal.append(pattern[i]);
                // An escaped high surrogate brings its low half along.
                if (pattern[i].isHighSurrogate() && i + 1 < pattern.size() && pattern[i + 1].isLowSurrogate())
                    literal.append(pattern[++i]);
            } else {
                literal.append(c);
            }
        } else if (c == u'*') {
            flushLiteral();
            if (m_tokens.empty() || m_tokens.back() != AnyRun)
                m_tokens.push_back(AnyRun);
        } else if (c == u'?') {
            flushLiteral();
            m_tokens.push_back(AnyOne);
        } else {
            literal.append(c);
        }
    }
    flushLiteral();
}

bool LikePattern::matches(const QString& input) const
{
    const QString text = fold(input, m_options);
    const qsizetype n = text.size();
    const size_t m = m_tokens.size();
    constexpr size_t noStar = size_t(-1);

    // Greedy matching with one backtrack point: on a mismatch only the most recent "*" absorbs
    // one more character. Earlier stars never need revisiting, which keeps this polynomial.
    qsizetype t = 0;
    size_t p = 0;
    size_t starToken = noStar;
    qsizetype starText = 0;
    while (t < n) {
        qsizetype len = 0;
        const char32_t cp = codePointAt(text, t, &len);
        if (p < m && (m_tokens[p] == AnyOne || m_tokens[p] == cp)) {
            t += len;
            ++p;
        } else if (p < m && m_tokens[p] == AnyRun) {
            starToken = p++;
            starText = t;
        } else if (starToken != noStar) {
            p = starToken + 1;
            qsizetype skipped = 0;
            codePointAt(text, starText, &skipped);
            starText += skipped;
            t = starText;
        } else {
            return false;
        }
    }
    while (p < m && m_tokens[p] == AnyRun)
        ++p;
    return p == m;
}

bool likeMatch(const QString& text, const QString& pattern, FoldOptions options)
{
    return LikePattern(pattern, options).matches(text);
}

} // namespace platform
