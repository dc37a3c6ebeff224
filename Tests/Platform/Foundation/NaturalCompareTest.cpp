#include "Platform/Foundation/NaturalCompare.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <algorithm>

using platform::naturalCompare;

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

} // namespace

TEST(NaturalCompare, OrdersDigitRunsByValueAndLettersIgnoringCase)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"a2", "a10", -1},
        {"a10", "a2", 1},
        {"a01", "a1", 0},           // leading zeros do not count
        {"a0", "a", 1},             // a number is more than nothing
        {"File", "file", 0},
        {"b", "A", 1},
        {"x9y", "x9z", -1},
        {"x10y2", "x10y10", -1},    // every digit run compares on its own
        {"", "", 0},
        {"", "a", -1},
        // Longer than any integer type: compared digit by digit, never overflowing.
        {"n123456789012345678901234567890", "n123456789012345678901234567891", -1},
        {"n99999999999999999999999", "n100000000000000000000000", -1},
        {"1.10", "1.9", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(sign(naturalCompare(QString::fromUtf8(c.a), QString::fromUtf8(c.b))), c.expected);
        EXPECT_EQ(sign(naturalCompare(QString::fromUtf8(c.b), QString::fromUtf8(c.a))), -c.expected);
    }
}

TEST(NaturalCompare, SortsAListAsAPersonWould)
{
    QStringList names{"Report 10", "report 2", "Report 1", "Appendix", "Report 02b", "Report 2a"};
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return naturalCompare(a, b) < 0; });
    EXPECT_EQ(names, (QStringList{"Appendix", "Report 1", "report 2", "Report 2a", "Report 02b",
                                  "Report 10"}));
}

TEST(NaturalCompare, CharactersBeyondTheBasicPlaneAndOtherDigits)
{
    // A character outside the BMP is one character, not two halves compared apart.
    EXPECT_LT(naturalCompare(u"a\U0001F600", u"a\U0001F601"), 0);
    // Arabic-Indic digits are digits too: ٢ (2) before ١٠ (10).
    EXPECT_LT(naturalCompare(u"p\u0662", u"p\u0661\u0660"), 0);
}

TEST(NaturalCompare, LettersWithAccentsSortBesideTheirBaseAndEveryScriptsDigitsByValue)
{
    QStringList names{QStringLiteral("Zulu"), QStringLiteral("Beta"), QStringLiteral("Ångström"), QStringLiteral("apple"),
                      QStringLiteral("第１０章"), QStringLiteral("第２章"), QStringLiteral("éclair"), QStringLiteral("eagle"),
                      QStringLiteral("fig")};
    std::stable_sort(names.begin(), names.end(), platform::naturalLess);
    EXPECT_EQ(names, (QStringList{QStringLiteral("Ångström"), QStringLiteral("apple"), QStringLiteral("Beta"),
                                  QStringLiteral("eagle"), QStringLiteral("éclair"), QStringLiteral("fig"),
                                  QStringLiteral("Zulu"), QStringLiteral("第２章"), QStringLiteral("第１０章")}));
    // Accents count only where the letters are the same.
    EXPECT_LT(naturalCompare(u"e", u"é"), 0);
    EXPECT_LT(naturalCompare(u"é", u"f"), 0);
}

TEST(NaturalCompare, KeysOrderAsTheComparisonAndTheCLocaleStillKnowsNumbers)
{
    const QStringList texts{QStringLiteral("a10"), QStringLiteral("A9"), QStringLiteral("ä1"), QStringLiteral("b"),
                            QStringLiteral(""), QStringLiteral("a٢"), QStringLiteral("a١٠")};
    for (const QString& a : texts) {
        for (const QString& b : texts) {
            SCOPED_TRACE((a + QStringLiteral(" vs ") + b).toStdString());
            EXPECT_EQ(sign(platform::naturalSortKey(a).compare(platform::naturalSortKey(b))), sign(naturalCompare(a, b)));
        }
    }
    // The C collation would put "a10" before "a2" and "B" before "a"; a machine without a locale
    // still lists names as people read them. Kept keys learn that the collation changed.
    const QLocale before;
    const int generation = platform::naturalCollationGeneration();
    QLocale::setDefault(QLocale::c());
    EXPECT_LT(naturalCompare(u"a2", u"a10"), 0);
    EXPECT_LT(naturalCompare(u"a", u"B"), 0);
    EXPECT_NE(platform::naturalCollationGeneration(), generation);
    QLocale::setDefault(before);
}

TEST(NaturalCompare, SectionLettersAreBaseLettersInCapitals)
{
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"Ångström", u"A"}, {u"apple", u"A"}, {u"émile", u"E"}, {u"ßeta", u"S"}, {u"ﬁle", u"F"},
        {u"Über", u"U"}, {u"がっこう", u"か"}, {u"한국", u"한"}, {u"7 days", u"7"}, {u"\U0001F600 party", u"\U0001F600"},
        {u"\u00C5", u"A"}, {u"A\u030A", u"A"}, {u"Ｗide", u"W"},
    };
    for (const auto& [text, letter] : cases) {
        SCOPED_TRACE(QString::fromUtf16(text).toStdString());
        EXPECT_EQ(platform::sectionLetter(QString::fromUtf16(text)), QString::fromUtf16(letter));
    }
    EXPECT_TRUE(platform::sectionLetter(u"").isNull());
}
