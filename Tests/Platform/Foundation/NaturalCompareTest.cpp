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
