#include "SearchField/SearchQuery.h"

#include <gtest/gtest.h>

namespace {

QVariantMap token(SearchTokenType type, const QString& value) { return SearchTokenValue::make(type, value); }

QVariantMap document(const QStringList& tags, const QStringList& authors = {}, const QString& extension = "pdf")
{
    auto named = [](const QStringList& names) {
        QVariantList out;
        for (const QString& name : names)
            out.append(QVariantMap{{"name", name}});
        return out;
    };
    return {{"tags", named(tags)}, {"authors", named(authors)}, {"pathExtension", extension}, {"isTrash", false},
            {"title", "t"}, {"metadata", QVariantMap{{"comment", ""}}}};
}

bool matches(const QVariantList& tokens, const QVariantMap& doc)
{
    return SearchQuery::fromTokens(tokens).storePredicate().evaluate(QVariant(doc));
}

} // namespace

// The search runs again only when the key changes, so two searches that list different
// documents must never share a key.
TEST(SearchQuery, TokensThatSearchDifferentlyHaveDifferentKeys)
{
    const SearchQuery quoted = SearchQuery::fromTokens({token(SearchTokenText, "a\"b")});
    const SearchQuery spaced = SearchQuery::fromTokens({token(SearchTokenText, "a b")});
    ASSERT_EQ(quoted.fullTextQuery, spaced.fullTextQuery) << "the full-text query has no quote inside a phrase";
    EXPECT_NE(quoted.key(), spaced.key());
    EXPECT_EQ(quoted.key(), SearchQuery::fromTokens({token(SearchTokenText, "a\"b")}).key());
    EXPECT_NE(SearchQuery::fromTokens({token(SearchTokenTag, "a\"b"), token(SearchTokenText, "x")}).key(),
              SearchQuery::fromTokens({token(SearchTokenTag, "a\"b"), token(SearchTokenText, "x y")}).key());
}

// A backslash in a tag, author or type token is part of the name, not an escape of the next
// character; "*" stays a wildcard.
TEST(SearchQuery, NameTokensMatchBackslashesAsTheyStandAndStarsAsWildcards)
{
    const QVariantMap backslashed = document({"a\\b"}, {"O\\Brien"}, "p\\d");
    const QVariantMap plain = document({"ab"}, {"OBrien"}, "pd");
    EXPECT_TRUE(matches({token(SearchTokenTag, "a\\b")}, backslashed));
    EXPECT_FALSE(matches({token(SearchTokenTag, "a\\b")}, plain));
    EXPECT_TRUE(matches({token(SearchTokenAuthor, "O\\Brien")}, backslashed));
    EXPECT_FALSE(matches({token(SearchTokenAuthor, "O\\Brien")}, plain));
    EXPECT_TRUE(matches({token(SearchTokenFileType, "p\\d")}, backslashed));
    EXPECT_FALSE(matches({token(SearchTokenFileType, "p\\d")}, plain));
    EXPECT_TRUE(matches({token(SearchTokenTag, "w*")}, document({"Work"})));
    EXPECT_FALSE(matches({token(SearchTokenTag, "w*")}, document({"the work"})));
}
