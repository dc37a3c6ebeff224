// The order people expect of names, one for every list and section of the program: the user's
// locale's collation with numbers compared by value ("a2" before "a10", "a01" beside "a1", for
// every script's digits) and case ignored, accents not ("e" < "é" < "f"). Side bar, grid and
// sections must agree, or a document moves when it is dragged from one to the other.
//
// Without a locale of its own (the C locale) the root collation is used: the C collation orders
// by code unit and knows no numbers.
//
// Threads: any; each thread keeps its own collator, made again when the default locale changes.
#pragma once

#include <QCollatorSortKey>
#include <QString>
#include <QStringView>

namespace platform {

// <0, 0 or >0. Texts that differ only in case or in leading zeros compare equal; callers that
// need a total order break such ties themselves (or sort stably).
int naturalCompare(QStringView a, QStringView b);

inline bool naturalLess(QStringView a, QStringView b) { return naturalCompare(a, b) < 0; }

// A key whose order is naturalCompare's: sorts that compare each text many times make the key
// once per text (making one costs about ten comparisons).
QCollatorSortKey naturalSortKey(const QString& text);

// Bumped whenever the calling thread's collator is made again for another locale: kept keys
// made under an older one are stale.
int naturalCollationGeneration();

// The letter a name is listed under: its first character with accents and marks taken off, in
// capitals, so "Ångström" and "apple" share "A" and "ßeta" is under "S" (never "SS"); a
// character without capitals (digits, CJK, symbols) stands for itself, a pair of surrogates as
// one. Null for an empty text.
QString sectionLetter(QStringView text);

} // namespace platform
