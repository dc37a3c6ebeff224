#include "NaturalCompare.h"

#include <QChar>

namespace platform {

namespace {

struct Cursor {
    QStringView text;
    qsizetype at = 0;

    bool atEnd() const { return at >= text.size(); }

    char32_t peek() const
    {
        const QChar c = text[at];
        if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
            return QChar::surrogateToUcs4(c, text[at + 1]);
        return c.unicode();
    }

    void advance() { at += peek() > 0xFFFF ? 2 : 1; }
};

int digitOf(char32_t c) { return QChar::digitValue(c); }

// Compares the digit runs that start at both cursors by value, and moves both past them.
int compareNumbers(Cursor& a, Cursor& b)
{
    auto skipZeros = [](Cursor& c) {
        while (!c.atEnd() && digitOf(c.peek()) == 0)
            c.advance();
    };
    skipZeros(a);
    skipZeros(b);
    // After the leading zeros the longer run is the larger number; among runs of one length the
    // first differing digit decides. Values never overflow: no number is ever formed.
    int firstDifference = 0;
    for (;;) {
        const bool aDigit = !a.atEnd() && digitOf(a.peek()) >= 0;
        const bool bDigit = !b.atEnd() && digitOf(b.peek()) >= 0;
        if (!aDigit || !bDigit) {
            if (aDigit != bDigit)
                return aDigit ? 1 : -1;
            return firstDifference;
        }
        if (firstDifference == 0) {
            const int da = digitOf(a.peek());
            const int db = digitOf(b.peek());
            if (da != db)
                firstDifference = da < db ? -1 : 1;
        }
        a.advance();
        b.advance();
    }
}

} // namespace

int naturalCompare(QStringView left, QStringView right)
{
    Cursor a{left};
    Cursor b{right};
    while (!a.atEnd() && !b.atEnd()) {
        const char32_t ca = a.peek();
        const char32_t cb = b.peek();
        if (digitOf(ca) >= 0 && digitOf(cb) >= 0) {
            if (const int order = compareNumbers(a, b); order != 0)
                return order;
            continue;
        }
        const char32_t fa = QChar::toCaseFolded(ca);
        const char32_t fb = QChar::toCaseFolded(cb);
        if (fa != fb)
            return fa < fb ? -1 : 1;
        a.advance();
        b.advance();
    }
    if (a.atEnd() && b.atEnd())
        return 0;
    return a.atEnd() ? -1 : 1;
}

} // namespace platform
