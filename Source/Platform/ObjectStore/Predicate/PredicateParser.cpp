#include "Platform/ObjectStore/Predicate/PredicateParser.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/ObjectStore/Predicate/ValueComparison.h"

namespace platform {

namespace {

using Kind = PredicateToken::Kind;

bool isWord(const PredicateToken& token, const char* word)
{
    return token.kind == Kind::Identifier && token.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

// Words that are part of the language and cannot name a key.
constexpr const char* reservedWords[] = {
    "AND", "OR", "NOT", "ANY", "SOME", "ALL", "NONE", "IN", "BETWEEN", "MATCHES", "SUBQUERY",
    "LIKE", "BEGINSWITH", "ENDSWITH", "CONTAINS", "TRUEPREDICATE", "FALSEPREDICATE",
};

// Recognised but not offered; named in the error so the author knows it is not a typo.
constexpr const char* unsupportedWords[] = {"ALL", "NONE", "BETWEEN", "MATCHES", "SUBQUERY"};

bool isReserved(const PredicateToken& token)
{
    for (const char* word : reservedWords) {
        if (isWord(token, word))
            return true;
    }
    return false;
}

bool isUnsupported(const PredicateToken& token)
{
    for (const char* word : unsupportedWords) {
        if (isWord(token, word))
            return true;
    }
    return false;
}

QString describe(const PredicateToken& token)
{
    switch (token.kind) {
    case Kind::End: return QStringLiteral("the end of the text");
    case Kind::String: return QStringLiteral("string %1").arg(Predicate::quoteString(token.text));
    default: return QStringLiteral("\"%1\"").arg(token.text);
    }
}

} // namespace

PredicateParser::PredicateParser(std::vector<PredicateToken> tokens) : m_tokens(std::move(tokens))
{
    if (m_tokens.empty() || m_tokens.back().kind != Kind::End)
        m_tokens.push_back(PredicateToken{});
}

const PredicateToken& PredicateParser::take()
{
    const PredicateToken& t = m_tokens[m_index];
    if (t.kind != Kind::End)
        ++m_index;
    return t;
}

bool PredicateParser::atWord(const char* word) const
{
    return isWord(peek(), word);
}

std::unexpected<Error> PredicateParser::unexpected(const QString& expected) const
{
    const PredicateToken& t = peek();
    if (t.kind == Kind::Invalid)
        return std::unexpected(t.error);
    if (isUnsupported(t))
        return predicateError(Predicate::UnsupportedError,
                              QStringLiteral("\"%1\" is not supported").arg(t.text.toUpper()), t.position);
    return predicateError(Predicate::SyntaxError, QStringLiteral("Expected %1, found %2").arg(expected, describe(t)),
                          t.position);
}

Result<PredicateNodePtr> PredicateParser::parse()
{
    if (peek().kind == Kind::End)
        return predicateError(Predicate::SyntaxError, QStringLiteral("Empty predicate"), peek().position);
    Result<PredicateNodePtr> root = parseOr(0);
    if (!root)
        return root;
    if (peek().kind != Kind::End)
        return unexpected(QStringLiteral("AND, OR or the end of the text"));
    return root;
}

Result<PredicateNodePtr> PredicateParser::parseOr(int depth)
{
    std::vector<PredicateNodePtr> terms;
    for (;;) {
        Result<PredicateNodePtr> term = parseAnd(depth);
        if (!term)
            return term;
        terms.push_back(std::move(*term));
        if (peek().kind != Kind::OrSign && !atWord("OR"))
            break;
        take();
    }
    return PredicateNode::makeCompound(PredicateNode::Kind::Or, std::move(terms));
}

Result<PredicateNodePtr> PredicateParser::parseAnd(int depth)
{
    std::vector<PredicateNodePtr> terms;
    for (;;) {
        Result<PredicateNodePtr> term = parseNot(depth);
        if (!term)
            return term;
        terms.push_back(std::move(*term));
        if (peek().kind != Kind::AndSign && !atWord("AND"))
            break;
        take();
    }
    return PredicateNode::makeCompound(PredicateNode::Kind::And, std::move(terms));
}

Result<PredicateNodePtr> PredicateParser::parseNot(int depth)
{
    if (peek().kind != Kind::Bang && !atWord("NOT"))
        return parsePrimary(depth);
    const PredicateToken& bang = take();
    if (depth >= Predicate::maxNesting)
        return predicateError(Predicate::NestingError, QStringLiteral("Nested too deeply"), bang.position);
    Result<PredicateNodePtr> term = parseNot(depth + 1);
    if (!term)
        return term;
    return PredicateNode::makeNot(std::move(*term));
}

Result<PredicateNodePtr> PredicateParser::parsePrimary(int depth)
{
    const PredicateToken& t = peek();
    if (t.kind == Kind::LeftParen) {
        take();
        if (depth >= Predicate::maxNesting)
            return predicateError(Predicate::NestingError, QStringLiteral("Nested too deeply"), t.position);
        Result<PredicateNodePtr> inner = parseOr(depth + 1);
        if (!inner)
            return inner;
        if (peek().kind != Kind::RightParen)
            return unexpected(QStringLiteral("\")\""));
        take();
        return inner;
    }
    if (t.kind == Kind::PredicateArgument) {
        take();
        return t.value.value<Predicate>().rootPointer();
    }
    if (atWord("TRUEPREDICATE") || atWord("FALSEPREDICATE")) {
        const bool value = atWord("TRUEPREDICATE");
        take();
        return PredicateNode::makeConstant(value);
    }
    return parseComparison();
}

Result<PredicateNodePtr> PredicateParser::parseComparison()
{
    PredicateModifier modifier = PredicateModifier::Direct;
    if (atWord("ANY") || atWord("SOME")) {
        take();
        modifier = PredicateModifier::Any;
    }
    Result<PredicateExpression> left = parseExpression();
    if (!left)
        return std::unexpected(left.error());

    const PredicateToken& opToken = peek();
    PredicateOperator op;
    switch (opToken.kind) {
    case Kind::Equal: op = PredicateOperator::Equal; break;
    case Kind::NotEqual: op = PredicateOperator::NotEqual; break;
    case Kind::Less: op = PredicateOperator::Less; break;
    case Kind::LessOrEqual: op = PredicateOperator::LessOrEqual; break;
    case Kind::Greater: op = PredicateOperator::Greater; break;
    case Kind::GreaterOrEqual: op = PredicateOperator::GreaterOrEqual; break;
    default:
        if (atWord("LIKE"))
            op = PredicateOperator::Like;
        else if (atWord("BEGINSWITH"))
            op = PredicateOperator::BeginsWith;
        else if (atWord("ENDSWITH"))
            op = PredicateOperator::EndsWith;
        else if (atWord("CONTAINS"))
            op = PredicateOperator::Contains;
        else if (atWord("IN"))
            op = PredicateOperator::In;
        else
            return unexpected(QStringLiteral("a comparison operator"));
        break;
    }
    take();

    FoldOptions options = FoldOptions::None;
    if (peek().kind == Kind::LeftBracket) {
        take();
        const PredicateToken& word = peek();
        bool ok = false;
        if (word.kind == Kind::Identifier)
            options = foldOptionsFromModifier(word.text.toLower(), &ok);
        if (word.kind == Kind::Invalid)
            return unexpected(QString());
        if (!ok)
            return predicateError(Predicate::SyntaxError,
                                  QStringLiteral("Expected the modifier c, d or cd, found %1").arg(describe(word)),
                                  word.position);
        take();
        if (peek().kind != Kind::RightBracket)
            return unexpected(QStringLiteral("\"]\""));
        take();
    }

    Result<PredicateExpression> right = parseExpression();
    if (!right)
        return std::unexpected(right.error());
    return PredicateNode::makeComparison(std::move(*left), op, std::move(*right), modifier, options);
}

Result<PredicateExpression> PredicateParser::parseExpression()
{
    const PredicateToken& t = peek();
    switch (t.kind) {
    case Kind::String:
        take();
        return PredicateExpression::makeConstant(t.text);
    case Kind::Number:
    case Kind::Value:
        take();
        return PredicateExpression::makeConstant(t.value);
    case Kind::KeyPathArgument:
        take();
        return keyPathExpression(t);
    case Kind::LeftBrace:
        return parseAggregate();
    case Kind::Identifier:
        break;
    default:
        return unexpected(QStringLiteral("a value or key path"));
    }
    if (isReserved(t))
        return unexpected(QStringLiteral("a value or key path"));
    take();
    if (isWord(t, "nil") || isWord(t, "NULL"))
        return PredicateExpression::makeConstant(QVariant());
    if (isWord(t, "YES") || isWord(t, "TRUE"))
        return PredicateExpression::makeConstant(true);
    if (isWord(t, "NO") || isWord(t, "FALSE"))
        return PredicateExpression::makeConstant(false);
    if (isWord(t, "CAST"))
        return parseCast();
    return keyPathExpression(t);
}

Result<PredicateExpression> PredicateParser::keyPathExpression(const PredicateToken& token)
{
    QStringList components = token.text.split(QLatin1Char('.'));
    // "SELF.name" is "name"; a lone SELF is the evaluated object itself.
    if (components.front().compare(QLatin1String("SELF"), Qt::CaseInsensitive) == 0) {
        components.removeFirst();
        if (components.isEmpty())
            return PredicateExpression::makeSelf();
    }
    for (qsizetype i = 0; i < components.size(); ++i) {
        const QString& component = components[i];
        if (!component.startsWith(QLatin1Char('@')))
            continue;
        if (component != QLatin1String("@count"))
            return predicateError(Predicate::UnsupportedError,
                                  QStringLiteral("\"%1\" is not supported").arg(component), token.position);
        if (i == 0 || i != components.size() - 1)
            return predicateError(Predicate::SyntaxError,
                                  QStringLiteral("\"@count\" must end a key path after a collection"),
                                  token.position);
    }
    return PredicateExpression::makeKeyPath(components.join(QLatin1Char('.')));
}

// "{1, 'a', nil}": constants only, so that a literal list is as inert as a list argument.
Result<PredicateExpression> PredicateParser::parseAggregate()
{
    take();
    QVariantList elements;
    if (peek().kind == Kind::RightBrace) {
        take();
        return PredicateExpression::makeConstant(elements);
    }
    for (;;) {
        const PredicateToken& start = peek();
        if (start.kind == Kind::LeftBrace)
            return predicateError(Predicate::UnsupportedError, QStringLiteral("Nested lists are not supported"),
                                  start.position);
        Result<PredicateExpression> element = parseExpression();
        if (!element)
            return element;
        if (!element->isConstant())
            return predicateError(Predicate::SyntaxError,
                                  QStringLiteral("Expected a constant in the list, found %1").arg(describe(start)),
                                  start.position);
        elements.append(element->constant);
        if (peek().kind == Kind::RightBrace) {
            take();
            return PredicateExpression::makeConstant(elements);
        }
        if (peek().kind != Kind::Comma)
            return unexpected(QStringLiteral("\",\" or \"}\""));
        take();
    }
}

Result<PredicateExpression> PredicateParser::parseCast()
{
    if (peek().kind != Kind::LeftParen)
        return unexpected(QStringLiteral("\"(\" after CAST"));
    take();
    const PredicateToken& operand = peek();
    QVariant value;
    if (operand.kind == Kind::Number
        || (operand.kind == Kind::Value
            && (ValueComparison::isNumber(operand.value) || ValueComparison::isDate(operand.value)))) {
        value = operand.value;
        take();
    } else {
        return unexpected(QStringLiteral("a number to CAST"));
    }
    if (peek().kind != Kind::Comma)
        return unexpected(QStringLiteral("\",\""));
    take();
    const PredicateToken& type = peek();
    if (type.kind != Kind::String)
        return unexpected(QStringLiteral("a type name string"));
    if (type.text != QLatin1String("NSDate"))
        return predicateError(Predicate::UnsupportedError,
                              QStringLiteral("CAST to \"%1\" is not supported").arg(type.text), type.position);
    take();
    if (peek().kind != Kind::RightParen)
        return unexpected(QStringLiteral("\")\""));
    take();
    if (ValueComparison::isDate(value))
        return PredicateExpression::makeConstant(value);
    return PredicateExpression::makeConstant(ValueComparison::dateFromReferenceSeconds(value.toDouble()));
}

} // namespace platform
