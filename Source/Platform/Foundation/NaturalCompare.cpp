#include "NaturalCompare.h"

#include <QChar>
#include <QCollator>
#include <QLocale>
#include <atomic>
#include <optional>

namespace platform {

namespace {

struct Collation {
    QLocale locale; // the default locale it was made for
    QCollator collator;
    int generation = 0;
};

// A QCollator readies itself lazily on first use, which is no place for two threads to meet,
// so each thread has its own.
Collation& collation()
{
    static std::atomic<int> generations{0};
    thread_local std::optional<Collation> current;
    const QLocale locale;
    if (!current || current->locale != locale) {
        QCollator collator(locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale);
        collator.setNumericMode(true);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        current.emplace(Collation{locale, std::move(collator), ++generations});
    }
    return *current;
}

char32_t firstCodePoint(QStringView text)
{
    if (text.size() > 1 && text[0].isHighSurrogate() && text[1].isLowSurrogate())
        return QChar::surrogateToUcs4(text[0], text[1]);
    return text[0].unicode();
}

qsizetype codeUnits(char32_t c)
{
    return QChar::requiresSurrogates(c) ? 2 : 1;
}

// Only what follows the base as marks is taken off: a Hangul syllable decomposes into letters and
// stays whole, as does a ligature ("ﬁ"), which capitals split instead.
char32_t baseOf(char32_t c)
{
    const QString decomposed = QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KD);
    if (decomposed.isEmpty())
        return c;
    const char32_t base = firstCodePoint(decomposed);
    for (qsizetype i = codeUnits(base); i < decomposed.size();) {
        const char32_t next = firstCodePoint(QStringView(decomposed).mid(i));
        if (!QChar::isMark(next))
            return c;
        i += codeUnits(next);
    }
    return base;
}

} // namespace

int naturalCompare(QStringView a, QStringView b)
{
    return collation().collator.compare(a, b);
}

QCollatorSortKey naturalSortKey(const QString& text)
{
    return collation().collator.sortKey(text);
}

int naturalCollationGeneration()
{
    return collation().generation;
}

QString sectionLetter(QStringView text)
{
    if (text.isEmpty())
        return {};
    const char32_t base = baseOf(firstCodePoint(text));
    // Full capitals, then their first character: "ß" becomes "SS" and is listed under "S".
    const QString upper = QString::fromUcs4(&base, 1).toUpper();
    return upper.left(codeUnits(firstCodePoint(upper)));
}

} // namespace platform
