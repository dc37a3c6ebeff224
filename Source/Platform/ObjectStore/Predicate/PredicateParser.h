// Recursive descent over the lexer's tokens: OR over AND over NOT over comparisons and
// parenthesised groups. Nesting is bounded so hostile texts ("((((...") end in an error rather
// than exhausting the stack.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/Predicate/PredicateLexer.h"
#include "Platform/ObjectStore/Predicate/PredicateNode.h"

#include <vector>

namespace platform {

class PredicateParser {
public:
    explicit PredicateParser(std::vector<PredicateToken> tokens);

    Result<PredicateNodePtr> parse();

private:
    Result<PredicateNodePtr> parseOr(int depth);
    Result<PredicateNodePtr> parseAnd(int depth);
    Result<PredicateNodePtr> parseNot(int depth);
    Result<PredicateNodePtr> parsePrimary(int depth);
    Result<PredicateNodePtr> parseComparison();
    Result<PredicateExpression> parseExpression();
    Result<PredicateExpression> parseCast();
    Result<PredicateExpression> parseAggregate();
    Result<PredicateExpression> keyPathExpression(const PredicateToken& token);

    const PredicateToken& peek() const { return m_tokens[m_index]; }
    const PredicateToken& take();
    // Whether the current token is the identifier word (any case).
    bool atWord(const char* word) const;
    std::unexpected<Error> unexpected(const QString& expected) const;

    std::vector<PredicateToken> m_tokens;
    size_t m_index = 0;
};

} // namespace platform
