#include "Platform/TextIndex/TextQueryTranslator.h"

#include <QChar>
#include <QStringList>
#include <vector>

namespace platform {

namespace {

enum class Kind { Term, Open, Close, And, Or, Not };

struct Token {
    Kind kind = Kind::Term;
    QString text; // a Term's ready FTS5 form
};

// What a piece of the query stands for. A Negative piece only excludes: it needs a positive
// partner in its group, because FTS5's NOT is binary ("a NOT b").
struct Piece {
    enum Kind { Nothing, Positive, Negative } kind = Nothing;
    QString expr;
    bool simple = false; // a single term: needs no parentheses when combined
};

bool isOperatorChar(QChar c)
{
    return c == u'"' || c == u'(' || c == u')' || c == u'&' || c == u'|' || c == u'!';
}

// Mirrors the tokenizer's idea of a word character (letters, digits, private use): a term
// without one would become an empty phrase, which matches nothing and would sink its group.
bool hasWordCharacter(const QString& s)
{
    for (char32_t c : s.toUcs4()) {
        switch (QChar::category(c)) {
        case QChar::Letter_Uppercase:
        case QChar::Letter_Lowercase:
        case QChar::Letter_Titlecase:
        case QChar::Letter_Modifier:
        case QChar::Letter_Other:
        case QChar::Number_DecimalDigit:
        case QChar::Number_Letter:
        case QChar::Number_Other:
        case QChar::Other_PrivateUse:
            return true;
        default:
            break;
        }
    }
    return false;
}

QString quotedTerm(QString text, bool prefix)
{
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    QString out = QLatin1Char('"') + text + QLatin1Char('"');
    if (prefix)
        out += QLatin1Char('*');
    return out;
}

void addTerm(std::vector<Token>& tokens, const QString& text, bool prefix)
{
    if (hasWordCharacter(text))
        tokens.push_back({Kind::Term, quotedTerm(text, prefix)});
}

// A bare word: leading stars cannot be searched for (no suffix matching) and are dropped; a
// star further in makes the part before it a prefix, which finds at least what was meant.
void addWord(std::vector<Token>& tokens, const QString& word)
{
    if (word == u"AND") {
        tokens.push_back({Kind::And, {}});
        return;
    }
    if (word == u"OR") {
        tokens.push_back({Kind::Or, {}});
        return;
    }
    if (word == u"NOT") {
        tokens.push_back({Kind::Not, {}});
        return;
    }
    qsizetype start = 0;
    while (start < word.size() && word.at(start) == u'*')
        ++start;
    const qsizetype star = word.indexOf(QLatin1Char('*'), start);
    if (star < 0)
        addTerm(tokens, word.mid(start), false);
    else
        addTerm(tokens, word.mid(start, star - start), true);
}

std::vector<Token> lex(const QString& q)
{
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = q.size();
    while (i < n) {
        const QChar c = q.at(i);
        if (c.isSpace()) {
            ++i;
        } else if (c == u'"') {
            // An unbalanced quote runs to the end of the text.
            const qsizetype close = q.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype end = close < 0 ? n : close;
            const QString phrase = q.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            bool prefix = false;
            while (i < n && q.at(i) == u'*') {
                prefix = true;
                ++i;
            }
            addTerm(tokens, phrase, prefix);
        } else if (c == u'(') {
            tokens.push_back({Kind::Open, {}});
            ++i;
        } else if (c == u')') {
            tokens.push_back({Kind::Close, {}});
            ++i;
        } else if (c == u'&') {
            tokens.push_back({Kind::And, {}});
            ++i;
        } else if (c == u'|') {
            tokens.push_back({Kind::Or, {}});
            ++i;
        } else if (c == u'!') {
            tokens.push_back({Kind::Not, {}});
            ++i;
        } else {
            const qsizetype start = i;
            while (i < n && !q.at(i).isSpace() && !isOperatorChar(q.at(i)))
                ++i;
            addWord(tokens, q.mid(start, i - start));
        }
    }
    return tokens;
}

// Drops stray closing parentheses and those nested too deep, and closes what is left open, so
// that the parser can rely on balance and bounded recursion.
std::vector<Token> balance(const std::vector<Token>& in, int maximumDepth)
{
    std::vector<Token> out;
    std::vector<bool> kept; // per open parenthesis: whether it was kept
    int depth = 0;
    for (const Token& t : in) {
        if (t.kind == Kind::Open) {
            const bool keep = depth < maximumDepth;
            kept.push_back(keep);
            if (keep) {
                ++depth;
                out.push_back(t);
            }
        } else if (t.kind == Kind::Close) {
            if (kept.empty())
                continue;
            const bool keep = kept.back();
            kept.pop_back();
            if (keep) {
                --depth;
                out.push_back(t);
            }
        } else {
            out.push_back(t);
        }
    }
    for (; depth > 0; --depth)
        out.push_back({Kind::Close, {}});
    return out;
}

QString wrapped(const Piece& p)
{
    return p.simple ? p.expr : QLatin1Char('(') + p.expr + QLatin1Char(')');
}

QString joined(const std::vector<Piece>& pieces, const char* op)
{
    QStringList parts;
    for (const Piece& p : pieces)
        parts << wrapped(p);
    return parts.join(QLatin1String(op));
}

Piece combined(const std::vector<Piece>& pieces, Piece::Kind kind, const char* op)
{
    if (pieces.size() == 1) {
        Piece p = pieces.front();
        p.kind = kind;
        return p;
    }
    return {kind, joined(pieces, op), false};
}

// FTS5's parser has a fixed stack of about a hundred entries, and a parenthesis after an
// operator takes three: deeper expressions fail with "parser stack overflow".
constexpr int maximumExpressionDepth = 30;

// Parentheses outside quoted terms.
int nestingDepth(const QString& expr)
{
    int depth = 0, deepest = 0;
    bool quoted = false;
    for (QChar c : expr) {
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && c == u'(')
            deepest = std::max(deepest, ++depth);
        else if (!quoted && c == u')')
            --depth;
    }
    return deepest;
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

    QString run()
    {
        std::vector<Piece> pieces;
        while (!atEnd()) {
            pieces.push_back(parseOr());
            if (!atEnd())
                ++m_pos; // only a stray ')' can stop parseOr here; balance() removes those
        }
        std::vector<Piece> positive;
        for (Piece& p : pieces)
            if (p.kind == Piece::Positive)
                positive.push_back(std::move(p));
        if (positive.empty())
            return {};
        return combined(positive, Piece::Positive, " AND ").expr;
    }

private:
    bool atEnd() const { return m_pos >= m_tokens.size(); }
    Kind peek() const { return m_tokens[m_pos].kind; }

    // OR binds loosest. "NOT a OR NOT b" is "NOT (a AND b)"; an excluding branch next to a
    // finding one cannot be expressed and is dropped.
    Piece parseOr()
    {
        std::vector<Piece> positive, negative;
        for (;;) {
            Piece p = parseAnd();
            if (p.kind == Piece::Positive)
                positive.push_back(std::move(p));
            else if (p.kind == Piece::Negative)
                negative.push_back(std::move(p));
            if (atEnd() || peek() != Kind::Or)
                break;
            ++m_pos;
        }
        if (!positive.empty())
            return combined(positive, Piece::Positive, " OR ");
        if (!negative.empty())
            return combined(negative, Piece::Negative, " AND ");
        return {};
    }

    // Juxtaposition and AND both require every finding term; the excluded ones are gathered
    // into one NOT at the end of the group.
    Piece parseAnd()
    {
        std::vector<Piece> positive, negative;
        for (;;) {
            while (!atEnd() && peek() == Kind::And)
                ++m_pos;
            if (atEnd() || peek() == Kind::Or || peek() == Kind::Close)
                break;
            Piece p = parseUnary();
            if (p.kind == Piece::Positive)
                positive.push_back(std::move(p));
            else if (p.kind == Piece::Negative)
                negative.push_back(std::move(p));
        }
        if (positive.empty()) {
            if (negative.empty())
                return {};
            return combined(negative, Piece::Negative, " OR ");
        }
        Piece found = combined(positive, Piece::Positive, " AND ");
        if (negative.empty())
            return found;
        const Piece excluded = combined(negative, Piece::Negative, " OR ");
        return {Piece::Positive, wrapped(found) + QLatin1String(" NOT ") + wrapped(excluded), false};
    }

    // Counted rather than recursive: a run of thousands of NOTs must not deepen the stack.
    Piece parseUnary()
    {
        bool negate = false;
        while (!atEnd() && peek() == Kind::Not) {
            negate = !negate;
            ++m_pos;
        }
        if (atEnd() || (peek() != Kind::Term && peek() != Kind::Open))
            return {}; // an operator with nothing to work on
        Piece p = parsePrimary();
        if (negate && p.kind == Piece::Positive)
            p.kind = Piece::Negative;
        else if (negate && p.kind == Piece::Negative)
            p.kind = Piece::Positive;
        return p;
    }

    Piece parsePrimary()
    {
        const Token& t = m_tokens[m_pos++];
        if (t.kind == Kind::Term)
            return {Piece::Positive, t.text, true};
        Piece inner = parseOr();
        if (!atEnd() && peek() == Kind::Close)
            ++m_pos;
        return inner;
    }

    std::vector<Token> m_tokens;
    size_t m_pos = 0;
};

// FTS5 reads its expression as a C string: a NUL ends it inside a quoted term, and the whole
// query then fails as an unterminated string. Other control characters split a word in the
// tokenizer ("in\x01voice" would look for "in" next to "voice"). Pasted text brings both, so
// they are dropped; tabs and line breaks stay, as the spaces they stand for.
QString withoutControlCharacters(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control || c.isSpace())
            out.append(c);
    }
    return out;
}

} // namespace

QString TextQueryTranslator::toMatchExpression(const QString& userQuery)
{
    const std::vector<Token> tokens = lex(withoutControlCharacters(userQuery));
    for (int depth = maximumDepth;; depth /= 2) {
        const QString expr = Parser(balance(tokens, depth)).run();
        if (depth == 0 || nestingDepth(expr) <= maximumExpressionDepth)
            return expr;
    }
}

} // namespace platform
