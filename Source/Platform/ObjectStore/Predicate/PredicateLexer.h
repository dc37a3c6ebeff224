// Splits predicate text into tokens and substitutes format arguments on the way, so the parser
// sees arguments as ready values and key paths: an argument can never change the text's
// structure, whatever it contains.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QString>
#include <QVariant>
#include <vector>

namespace platform {

struct PredicateToken {
    enum class Kind {
        End,
        LeftParen,
        RightParen,
        LeftBracket,
        RightBracket,
        LeftBrace,    // { of an aggregate literal
        RightBrace,
        Comma,
        Equal,        // == =
        NotEqual,     // != <>
        Less,
        LessOrEqual,
        Greater,
        GreaterOrEqual,
        AndSign,      // &&
        OrSign,       // ||
        Bang,         // !
        Identifier,   // a word or a dotted key path as written
        String,       // a quoted literal, escapes resolved
        Number,       // a numeric literal
        Value,        // a %@ %d %u %f ... argument
        KeyPathArgument,   // a %K argument
        PredicateArgument, // a %@ argument holding a Predicate
        Invalid,      // text the lexer could not read; error says why
    };

    Kind kind = Kind::End;
    qsizetype position = 0; // offset of the token in the text
    QString text;           // Identifier: the word; String: the value; otherwise the source text
    QVariant value;         // Number, Value, PredicateArgument
    Error error;            // Invalid
};

class PredicateLexer {
public:
    // Arguments are substituted only when formatting; parse() texts treat every "%" outside
    // quotes as an error.
    PredicateLexer(const QString& text, const QVariantList* arguments);

    // All tokens, ending with End. Unreadable text ends the list with an Invalid token, so that
    // a grammar error before it is still reported first.
    std::vector<PredicateToken> tokenize();

private:
    Result<PredicateToken> next();
    Result<PredicateToken> lexString(QChar quote);
    Result<PredicateToken> lexNumber();
    PredicateToken lexIdentifier();
    Result<PredicateToken> lexFormat();

    const QString& m_text;
    const QVariantList* m_arguments;
    qsizetype m_pos = 0;
    qsizetype m_nextArgument = 0;
};

// An error in the predicate domain that names the offset in the text.
std::unexpected<Error> predicateError(int code, const QString& message, qsizetype position);

} // namespace platform
