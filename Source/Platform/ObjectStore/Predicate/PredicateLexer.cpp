#include "Platform/ObjectStore/Predicate/PredicateLexer.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"

namespace platform {

namespace {

using Kind = PredicateToken::Kind;

bool isIdentifierStart(QChar c)
{
    return c.isLetter() || c == u'_' || c == u'$' || c == u'@';
}

bool isIdentifierPart(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

PredicateToken token(Kind kind, qsizetype position, const QString& text, const QVariant& value = {})
{
    PredicateToken t;
    t.kind = kind;
    t.position = position;
    t.text = text;
    t.value = value;
    return t;
}

} // namespace

std::unexpected<Error> predicateError(int code, const QString& message, qsizetype position)
{
    return fail(QString::fromLatin1(Predicate::errorDomain), code,
                QStringLiteral("%1 at position %2").arg(message).arg(position));
}

PredicateLexer::PredicateLexer(const QString& text, const QVariantList* arguments)
    : m_text(text), m_arguments(arguments)
{
}

std::vector<PredicateToken> PredicateLexer::tokenize()
{
    std::vector<PredicateToken> tokens;
    for (;;) {
        Result<PredicateToken> t = next();
        if (!t) {
            PredicateToken invalid = token(Kind::Invalid, m_pos, QString());
            invalid.error = t.error();
            tokens.push_back(std::move(invalid));
            tokens.push_back(token(Kind::End, m_text.size(), QString()));
            return tokens;
        }
        const bool end = t->kind == Kind::End;
        tokens.push_back(std::move(*t));
        if (end)
            return tokens;
    }
}

Result<PredicateToken> PredicateLexer::next()
{
    const qsizetype n = m_text.size();
    while (m_pos < n && m_text[m_pos].isSpace())
        ++m_pos;
    if (m_pos >= n)
        return token(Kind::End, n, QString());

    const qsizetype start = m_pos;
    const QChar c = m_text[m_pos];
    const QChar d = m_pos + 1 < n ? m_text[m_pos + 1] : QChar();
    auto two = [&](Kind kind) {
        m_pos += 2;
        return token(kind, start, m_text.mid(start, 2));
    };
    auto one = [&](Kind kind) {
        m_pos += 1;
        return token(kind, start, QString(c));
    };

    switch (c.unicode()) {
    case u'(': return one(Kind::LeftParen);
    case u')': return one(Kind::RightParen);
    case u'[': return one(Kind::LeftBracket);
    case u']': return one(Kind::RightBracket);
    case u'{': return one(Kind::LeftBrace);
    case u'}': return one(Kind::RightBrace);
    case u',': return one(Kind::Comma);
    case u'=': return d == u'=' ? two(Kind::Equal) : one(Kind::Equal);
    case u'!': return d == u'=' ? two(Kind::NotEqual) : one(Kind::Bang);
    case u'<':
        if (d == u'=')
            return two(Kind::LessOrEqual);
        return d == u'>' ? two(Kind::NotEqual) : one(Kind::Less);
    case u'>': return d == u'=' ? two(Kind::GreaterOrEqual) : one(Kind::Greater);
    case u'&':
        if (d == u'&')
            return two(Kind::AndSign);
        return predicateError(Predicate::SyntaxError, QStringLiteral("Expected \"&&\""), start);
    case u'|':
        if (d == u'|')
            return two(Kind::OrSign);
        return predicateError(Predicate::SyntaxError, QStringLiteral("Expected \"||\""), start);
    case u'"':
    case u'\'':
        return lexString(c);
    case u'%':
        return lexFormat();
    default:
        break;
    }
    if (isDigit(c) || (c == u'-' && isDigit(d)))
        return lexNumber();
    if (isIdentifierStart(c))
        return lexIdentifier();
    return predicateError(Predicate::SyntaxError, QStringLiteral("Unexpected character \"%1\"").arg(c), start);
}

Result<PredicateToken> PredicateLexer::lexString(QChar quote)
{
    const qsizetype start = m_pos++;
    const qsizetype n = m_text.size();
    QString value;
    while (m_pos < n) {
        const QChar c = m_text[m_pos++];
        if (c == quote)
            return token(Kind::String, start, value);
        if (c == u'\\' && m_pos < n) {
            const QChar e = m_text[m_pos++];
            switch (e.unicode()) {
            case u'\\': value += u'\\'; break;
            case u'"': value += u'"'; break;
            case u'\'': value += u'\''; break;
            case u'n': value += u'\n'; break;
            case u't': value += u'\t'; break;
            case u'r': value += u'\r'; break;
            default:
                // Any other pair is kept as written, so "\*" still reaches LIKE as an escape.
                value += u'\\';
                value += e;
                break;
            }
        } else if (c == u'%' && m_arguments && m_pos < n && m_text[m_pos] == u'%') {
            ++m_pos;
            value += u'%';
        } else {
            value += c;
        }
    }
    return predicateError(Predicate::SyntaxError, QStringLiteral("Unterminated string"), start);
}

Result<PredicateToken> PredicateLexer::lexNumber()
{
    const qsizetype start = m_pos;
    const qsizetype n = m_text.size();
    if (m_text[m_pos] == u'-')
        ++m_pos;
    while (m_pos < n && isDigit(m_text[m_pos]))
        ++m_pos;
    bool real = false;
    if (m_pos + 1 < n && m_text[m_pos] == u'.' && isDigit(m_text[m_pos + 1])) {
        real = true;
        ++m_pos;
        while (m_pos < n && isDigit(m_text[m_pos]))
            ++m_pos;
    }
    if (m_pos < n && (m_text[m_pos] == u'e' || m_text[m_pos] == u'E')) {
        qsizetype e = m_pos + 1;
        if (e < n && (m_text[e] == u'+' || m_text[e] == u'-'))
            ++e;
        if (e < n && isDigit(m_text[e])) {
            real = true;
            m_pos = e;
            while (m_pos < n && isDigit(m_text[m_pos]))
                ++m_pos;
        }
    }
    const QString text = m_text.mid(start, m_pos - start);
    if (m_pos < n && isIdentifierStart(m_text[m_pos]))
        return predicateError(Predicate::SyntaxError, QStringLiteral("Malformed number"), start);

    bool ok = false;
    if (!real) {
        const qint64 s = text.toLongLong(&ok);
        if (ok)
            return token(Kind::Number, start, text, QVariant::fromValue(s));
        const quint64 u = text.toULongLong(&ok);
        if (ok)
            return token(Kind::Number, start, text, QVariant::fromValue(u));
    }
    const double d = text.toDouble(&ok);
    if (!ok)
        return predicateError(Predicate::SyntaxError, QStringLiteral("Malformed number"), start);
    return token(Kind::Number, start, text, QVariant::fromValue(d));
}

PredicateToken PredicateLexer::lexIdentifier()
{
    const qsizetype start = m_pos;
    const qsizetype n = m_text.size();
    for (;;) {
        ++m_pos; // the start character
        while (m_pos < n && isIdentifierPart(m_text[m_pos]))
            ++m_pos;
        if (m_pos + 1 < n && m_text[m_pos] == u'.' && isIdentifierStart(m_text[m_pos + 1]))
            ++m_pos;
        else
            break;
    }
    return token(Kind::Identifier, start, m_text.mid(start, m_pos - start));
}

Result<PredicateToken> PredicateLexer::lexFormat()
{
    const qsizetype start = m_pos;
    const qsizetype n = m_text.size();
    ++m_pos;
    if (!m_arguments)
        return predicateError(Predicate::ArgumentError,
                              QStringLiteral("Format specifier in a text without arguments"), start);
    // Length prefixes ("l", "ll") change nothing: every integer is read as 64 bits.
    qsizetype lengths = 0;
    while (m_pos < n && m_text[m_pos] == u'l' && lengths < 2) {
        ++m_pos;
        ++lengths;
    }
    if (m_pos >= n)
        return predicateError(Predicate::SyntaxError, QStringLiteral("Incomplete format specifier"), start);
    const QChar conversion = m_text[m_pos++];
    const QString specifier = m_text.mid(start, m_pos - start);

    if (conversion == u'%' && lengths == 0)
        return predicateError(Predicate::SyntaxError,
                              QStringLiteral("A literal \"%\" belongs inside a quoted string"), start);
    const bool known = (lengths == 0 && (conversion == u'@' || conversion == u'K'))
        || conversion == u'd' || conversion == u'i' || conversion == u'u' || conversion == u'f';
    if (!known)
        return predicateError(Predicate::SyntaxError, QStringLiteral("Unknown format specifier \"%1\"").arg(specifier),
                              start);
    if (m_nextArgument >= m_arguments->size())
        return predicateError(Predicate::ArgumentError, QStringLiteral("Missing argument for %1").arg(specifier), start);
    const qsizetype index = m_nextArgument++;
    const QVariant& argument = (*m_arguments)[index];
    auto wrongKind = [&](const QString& expected) {
        return predicateError(Predicate::ArgumentError,
                              QStringLiteral("Argument %1 for %2 is not %3").arg(index + 1).arg(specifier, expected),
                              start);
    };

    bool ok = false;
    switch (conversion.unicode()) {
    case u'@':
        if (argument.metaType() == QMetaType::fromType<Predicate>())
            return token(Kind::PredicateArgument, start, specifier, argument);
        return token(Kind::Value, start, specifier, argument);
    case u'K': {
        const QString keyPath = argument.metaType().id() == QMetaType::QString ? argument.toString() : QString();
        if (keyPath.isEmpty())
            return wrongKind(QStringLiteral("a key path"));
        // Only a well-formed path: an argument must not smuggle operators into the predicate.
        PredicateLexer inner(keyPath, nullptr);
        const std::vector<PredicateToken> tokens = inner.tokenize();
        if (tokens.size() != 2 || tokens.front().kind != Kind::Identifier || tokens.front().text != keyPath)
            return wrongKind(QStringLiteral("a key path"));
        return token(Kind::KeyPathArgument, start, keyPath);
    }
    case u'd':
    case u'i': {
        if (argument.metaType().id() == QMetaType::QString)
            return wrongKind(QStringLiteral("an integer"));
        const qint64 s = argument.toLongLong(&ok);
        if (!ok)
            return wrongKind(QStringLiteral("an integer"));
        return token(Kind::Value, start, specifier, QVariant::fromValue(s));
    }
    case u'u': {
        if (argument.metaType().id() == QMetaType::QString)
            return wrongKind(QStringLiteral("an integer"));
        const quint64 u = argument.toULongLong(&ok);
        if (!ok)
            return wrongKind(QStringLiteral("an integer"));
        return token(Kind::Value, start, specifier, QVariant::fromValue(u));
    }
    case u'f': {
        if (argument.metaType().id() == QMetaType::QString)
            return wrongKind(QStringLiteral("a number"));
        const double d = argument.toDouble(&ok);
        if (!ok)
            return wrongKind(QStringLiteral("a number"));
        return token(Kind::Value, start, specifier, QVariant::fromValue(d));
    }
    default:
        return wrongKind(QStringLiteral("supported"));
    }
}

} // namespace platform
