// Search tokens and the queries they stand for. The search field hands the main window its
// committed tokens as SearchTokenValue records {"Type", "Value"}; SearchQuery turns them into
// the store predicate, the predicate full-text hits must pass, and the full-text query.
//
// Values are bound as predicate arguments, never pasted into predicate text, so quotes, "%" and
// backslashes in a token are ordinary characters. Tag, file-type and author tokens compare
// whole names with LIKE: "*" and "?" stay wildcards while a backslash matches itself. Text
// tokens look for the value as typed in titles and descriptions.
#pragma once

#include "Platform/ObjectStore/Predicate/Predicate.h"

#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

enum SearchTokenType {
    SearchTokenText = 0,
    SearchTokenTag = 1,     // "#"
    SearchTokenFileType = 2, // "."
    SearchTokenAuthor = 3,  // "@"
};

namespace SearchTokenValue {
inline const QString kTypeKey = QStringLiteral("Type");
inline const QString kValueKey = QStringLiteral("Value");
inline QVariantMap make(SearchTokenType type, const QString& value)
{
    return {{kTypeKey, static_cast<int>(type)}, {kValueKey, value}};
}
} // namespace SearchTokenValue

struct SearchQuery {
    // The tag, type and author tokens together (P); none without such tokens.
    std::optional<platform::Predicate> tokenPredicate;
    // Each text token in the title or the description (T); none without text tokens.
    std::optional<platform::Predicate> textPredicate;
    // The full-text query (Q); empty without text tokens.
    QString fullTextQuery;

    // P, T and "not in the Trash" together: what the store lists at once.
    platform::Predicate storePredicate() const;
    // What a full-text hit must pass: P and "not in the Trash"; none without tag, type or
    // author tokens (a hit is then only checked for the Trash).
    std::optional<platform::Predicate> contentPredicate() const;
    // Equal tokens give equal keys and different searches different keys: P's and T's
    // canonical texts and Q.
    QString key() const;
    bool isEmpty() const { return !tokenPredicate && !textPredicate && fullTextQuery.isEmpty(); }

    // Tokens of an unknown type or with an empty value add nothing.
    static SearchQuery fromTokens(const QVariantList& searchValues);
};
