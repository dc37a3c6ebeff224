#include "SearchField/SearchQuery.h"

using platform::Predicate;

namespace {

Predicate bound(const QString& format, const QVariantList& arguments)
{
    // The formats are fixed and the values bound, so this cannot fail; a failure would be a
    // fault here, and matching nothing is the safe answer to it.
    auto predicate = Predicate::format(format, arguments);
    return predicate ? *predicate : *Predicate::parse(QStringLiteral("FALSEPREDICATE"));
}

// In a LIKE pattern a backslash escapes the next character; doubled, it matches itself.
QString likeValue(const QString& value)
{
    QString out = value;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return out;
}

bool hasWhitespace(const QString& text)
{
    for (QChar c : text) {
        if (c.isSpace())
            return true;
    }
    return false;
}

Predicate notInTrash()
{
    return bound(QStringLiteral("isTrash == NO"), {});
}

} // namespace

SearchQuery SearchQuery::fromTokens(const QVariantList& searchValues)
{
    QList<Predicate> tokens;
    QList<Predicate> texts;
    QStringList terms;
    for (const QVariant& entry : searchValues) {
        const QVariantMap token = entry.toMap();
        const QString value = token.value(SearchTokenValue::kValueKey).toString();
        if (value.isEmpty())
            continue;
        bool ok = false;
        const int type = token.value(SearchTokenValue::kTypeKey).toInt(&ok);
        if (!ok)
            continue;
        switch (type) {
        case SearchTokenText: {
            texts.append(bound(QStringLiteral("title CONTAINS[cd] %@ || metadata.comment CONTAINS[cd] %@"), {value, value}));
            // The query syntax has no escape for a double quote inside a phrase.
            QString term = value;
            term.replace(QLatin1Char('"'), QLatin1Char(' '));
            terms.append(hasWhitespace(term) ? QStringLiteral("\"%1\"").arg(term) : term);
            break;
        }
        case SearchTokenTag: tokens.append(bound(QStringLiteral("ANY tags.name like[cd] %@"), {likeValue(value)})); break;
        case SearchTokenFileType:
            tokens.append(bound(QStringLiteral("pathExtension like[cd] %@"), {likeValue(value)}));
            break;
        case SearchTokenAuthor:
            tokens.append(bound(QStringLiteral("ANY authors.name like[cd] %@"), {likeValue(value)}));
            break;
        default: break;
        }
    }
    SearchQuery query;
    if (!tokens.isEmpty())
        query.tokenPredicate = tokens.size() == 1 ? tokens.first() : Predicate::andPredicate(tokens);
    if (!texts.isEmpty())
        query.textPredicate = texts.size() == 1 ? texts.first() : Predicate::andPredicate(texts);
    query.fullTextQuery = terms.join(QLatin1Char(' '));
    return query;
}

Predicate SearchQuery::storePredicate() const
{
    QList<Predicate> terms;
    if (tokenPredicate)
        terms.append(*tokenPredicate);
    if (textPredicate)
        terms.append(*textPredicate);
    terms.append(notInTrash());
    return Predicate::andPredicate(terms);
}

std::optional<Predicate> SearchQuery::contentPredicate() const
{
    if (!tokenPredicate)
        return std::nullopt;
    return Predicate::andPredicate({*tokenPredicate, notInTrash()});
}

QString SearchQuery::key() const
{
    // The full-text query alone cannot tell every pair of tokens apart (it cannot write a double
    // quote, so a"b and "a b" both become the phrase "a b"), while the title and description
    // predicate still differs: the key names all three.
    return QStringLiteral("%1 - %2 - %3")
        .arg(tokenPredicate ? tokenPredicate->toString() : QString(), fullTextQuery,
             textPredicate ? textPredicate->toString() : QString());
}
