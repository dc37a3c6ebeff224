#include "Platform/Foundation/TextFolding.h"

#include <gtest/gtest.h>

using platform::FoldOptions;

namespace {
const FoldOptions C = FoldOptions::CaseInsensitive;
const FoldOptions D = FoldOptions::DiacriticInsensitive;
const FoldOptions CD = FoldOptions::CaseAndDiacriticInsensitive;
const FoldOptions None = FoldOptions::None;

QString u(const char16_t* s) { return QString::fromUtf16(s); }
} // namespace

TEST(TextFolding, OptionsSeparateCaseFromDiacritics)
{
    const QString upperAccented = u(u"CAFÉ");
    EXPECT_EQ(platform::fold(upperAccented, C), u(u"café"));
    EXPECT_EQ(platform::fold(upperAccented, D), u(u"CAFE"));
    EXPECT_EQ(platform::fold(upperAccented, CD), u(u"cafe"));
    EXPECT_EQ(platform::fold(upperAccented, None), upperAccented);

    EXPECT_TRUE(platform::equalsFolded(u(u"Ångström"), u(u"angstrom"), CD));
    EXPECT_FALSE(platform::equalsFolded(u(u"Ångström"), u(u"angstrom"), C));
    EXPECT_FALSE(platform::equalsFolded(u(u"Ångström"), u(u"angstrom"), D));
    // Greek and Cyrillic fold too, not just Latin.
    EXPECT_TRUE(platform::equalsFolded(u(u"ΆΘΗΝΑ"), u(u"αθηνα"), CD));
    EXPECT_TRUE(platform::equalsFolded(u(u"Ёлка"), u(u"елка"), CD));
}

TEST(TextFolding, CanonicallyEquivalentFormsAreEqualUnderEveryOption)
{
    const QString composed = u(u"re\u00E9l");       // é as one code point
    const QString decomposed = u(u"ree\u0301l");    // e + combining acute
    for (FoldOptions o : {None, C, D, CD})
        EXPECT_EQ(platform::fold(composed, o), platform::fold(decomposed, o)) << int(o);
    EXPECT_EQ(platform::fold(decomposed, None), composed);
}

TEST(TextFolding, NonBmpCharactersSurviveFolding)
{
    // Deseret capital/small letters are outside the BMP and have case.
    const QString upper = u(u"\U00010400x");
    const QString lower = u(u"\U00010428x");
    EXPECT_TRUE(platform::equalsFolded(upper, lower, C));
    EXPECT_FALSE(platform::equalsFolded(upper, lower, None));
    const QString emoji = u(u"\U0001F600é");
    EXPECT_EQ(platform::fold(emoji, CD), u(u"\U0001F600e"));
}

TEST(TextFolding, ModifierText)
{
    bool ok = false;
    EXPECT_EQ(platform::foldOptionsFromModifier(u"[cd]", &ok), CD);
    EXPECT_TRUE(ok);
    EXPECT_EQ(platform::foldOptionsFromModifier(u"dc"), CD);
    EXPECT_EQ(platform::foldOptionsFromModifier(u"[c]"), C);
    for (const char16_t* bad : {u"[x]", u"cc", u"", u"[cdc]"}) {
        EXPECT_EQ(platform::foldOptionsFromModifier(bad, &ok), None);
        EXPECT_FALSE(ok);
    }
}

TEST(TextFolding, PrefixSuffixContains)
{
    EXPECT_TRUE(platform::beginsWith(u(u"Éléphant.pdf"), QStringLiteral("ele"), CD));
    EXPECT_FALSE(platform::beginsWith(u(u"Éléphant.pdf"), QStringLiteral("ele"), C));
    EXPECT_TRUE(platform::endsWith(QStringLiteral("Report.PDF"), QStringLiteral(".pdf"), C));
    EXPECT_FALSE(platform::endsWith(QStringLiteral("Report.PDF"), QStringLiteral(".pdf"), D));
    EXPECT_TRUE(platform::contains(u(u"Crème Brûlée"), QStringLiteral("BRULEE"), CD));
    // A bare base letter is not a prefix of the same letter carrying a mark unless [d].
    EXPECT_FALSE(platform::beginsWith(u(u"é"), QStringLiteral("e"), None));
    EXPECT_EQ(platform::compareFolded(u(u"ÄPFEL"), QStringLiteral("apfel"), CD), 0);
    EXPECT_GT(platform::compareFolded(QStringLiteral("Zebra"), u(u"Äpfel"), CD), 0);
    EXPECT_LT(platform::compareFolded(QStringLiteral("Zebra"), u(u"Äpfel"), None), 0);
}

TEST(TextFolding, LikeWildcards)
{
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("invoice-2024.pdf"), QStringLiteral("invoice*.pdf"), None));
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("abc"), QStringLiteral("a?c"), None));
    EXPECT_FALSE(platform::likeMatch(QStringLiteral("ac"), QStringLiteral("a?c"), None));
    EXPECT_TRUE(platform::likeMatch(QStringLiteral(""), QStringLiteral("*"), None));
    EXPECT_FALSE(platform::likeMatch(QStringLiteral(""), QStringLiteral("?"), None));
    EXPECT_TRUE(platform::likeMatch(QStringLiteral(""), QStringLiteral(""), None));
    EXPECT_FALSE(platform::likeMatch(QStringLiteral("a"), QStringLiteral(""), None));
    // Whole-text match, not a search.
    EXPECT_FALSE(platform::likeMatch(QStringLiteral("xabcx"), QStringLiteral("abc"), None));
    // Nothing but *, ? and \ is special: regex and SQL characters are literal.
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("50%_[a].+"), QStringLiteral("50%_[a].+"), None));
    EXPECT_FALSE(platform::likeMatch(QStringLiteral("50xya"), QStringLiteral("50%_a"), None));
    // Backtracking must retry the last star further on.
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("aaab"), QStringLiteral("*ab"), None));
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("mississippi"), QStringLiteral("m*iss*ppi"), None));
    EXPECT_FALSE(platform::likeMatch(QStringLiteral("mississippi"), QStringLiteral("m*iss*ppx"), None));
}

TEST(TextFolding, LikeFoldsTextAndPattern)
{
    EXPECT_TRUE(platform::likeMatch(u(u"Résumé Final"), QStringLiteral("resume*"), CD));
    EXPECT_FALSE(platform::likeMatch(u(u"Résumé Final"), QStringLiteral("resume*"), C));
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("resume final"), u(u"RÉSUMÉ*"), CD));
    // A pattern in decomposed form matches composed text and vice versa.
    EXPECT_TRUE(platform::likeMatch(u(u"\u00E9t\u00E9"), u(u"e\u0301t?"), None));
    // "?" takes one character, even when it is a surrogate pair or was written decomposed.
    EXPECT_TRUE(platform::likeMatch(u(u"a\U0001F600b"), QStringLiteral("a?b"), None));
    EXPECT_FALSE(platform::likeMatch(u(u"a\U0001F600b"), QStringLiteral("a??b"), None));
    EXPECT_TRUE(platform::likeMatch(u(u"ae\u0301b"), QStringLiteral("a?b"), None));
    EXPECT_TRUE(platform::likeMatch(u(u"\U0001F600\U0001F601"), u(u"*\U0001F601"), None));
}

TEST(TextFolding, LikeEscapes)
{
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("a*b"), QStringLiteral("a\\*b"), None));
    EXPECT_FALSE(platform::likeMatch(QStringLiteral("axb"), QStringLiteral("a\\*b"), None));
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("a?"), QStringLiteral("a\\?"), None));
    EXPECT_FALSE(platform::likeMatch(QStringLiteral("ab"), QStringLiteral("a\\?"), None));
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("a\\b"), QStringLiteral("a\\\\b"), None));
    // An escaped ordinary letter is that letter; a trailing lone backslash is literal.
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("ab"), QStringLiteral("\\a\\b"), None));
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("dir\\"), QStringLiteral("dir\\"), None));
    // An escaped non-BMP character stays one literal character.
    EXPECT_TRUE(platform::likeMatch(u(u"\U0001F600"), u(u"\\\U0001F600"), None));
    // Escaping does not stop folding of the escaped letter.
    EXPECT_TRUE(platform::likeMatch(QStringLiteral("x"), QStringLiteral("\\X"), C));

    // User text escaped becomes a literal pattern, however hostile.
    for (const QString& userText : {QStringLiteral("*"), QStringLiteral("?"), QStringLiteral("\\"),
                                    QStringLiteral("a*b?c\\d"), QStringLiteral("\\*"), QStringLiteral("")}) {
        const QString pattern = platform::escapeLike(userText);
        EXPECT_TRUE(platform::likeMatch(userText, pattern, None)) << userText.toStdString();
        EXPECT_FALSE(platform::likeMatch(userText + QStringLiteral("x"), pattern, None)) << userText.toStdString();
        EXPECT_TRUE(platform::likeMatch(QStringLiteral("/lib/") + userText + QStringLiteral("/doc"),
                                        QStringLiteral("*/") + pattern + QStringLiteral("/*"), None));
    }
    EXPECT_FALSE(platform::likeMatch(QStringLiteral("abc"), platform::escapeLike(QStringLiteral("a*")), None));
}

TEST(TextFolding, LikePathologicalPatternsFinish)
{
    // With naive recursive backtracking these take exponential time; they must finish promptly
    // (the test itself has no clock: it simply would not complete).
    const QString text = QString(4000, u'a');
    QString pattern;
    for (int i = 0; i < 40; ++i)
        pattern += QStringLiteral("*a");
    EXPECT_TRUE(platform::likeMatch(text, pattern, None));
    EXPECT_FALSE(platform::likeMatch(text, pattern + QStringLiteral("*b"), None));
    EXPECT_FALSE(platform::likeMatch(text + QStringLiteral("c"), pattern + QStringLiteral("b"), None));

    const platform::LikePattern compiled(QStringLiteral("*?*?*?*?*?*?*?*?*?*?x"), CD);
    EXPECT_FALSE(compiled.matches(QString(5000, u'y')));
    EXPECT_TRUE(compiled.matches(QString(5000, u'y') + QStringLiteral("X")));
}
