// How predicate and sort values compare: one set of rules for every caller (the evaluator, sort
// descriptors, and the store's compiled queries), so a fetch and an in-memory filter agree.
//
// Numbers of every kind compare exactly: an unsigned 64-bit 18446744073709551615 is greater than
// a signed -1, and two integers are never compared through a lossy double. Booleans are numbers
// (NO is 0). Dates compare as dates, and against numbers as seconds since 2001-01-01 UTC. An
// object compares through its identity(), so an object equals its object ID. nil equals only
// nil and is unordered against everything in predicates; sorting puts it first.
#pragma once

#include "Platform/Foundation/TextFolding.h"

#include <QDateTime>
#include <QStringView>
#include <QVariant>
#include <compare>

namespace platform {

class ValueComparison {
public:
    // Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC, the reference date of CAST.
    static constexpr qint64 referenceDateOffset = 978307200;

    static bool isNil(const QVariant& value);
    static bool isNumber(const QVariant& value);
    static bool isString(const QVariant& value);
    static bool isDate(const QVariant& value);

    // == in predicates; the options fold strings.
    static bool equal(const QVariant& a, const QVariant& b, FoldOptions options = FoldOptions::None);
    // < <= > >= in predicates: unordered for nil, NaN and values of unrelated kinds.
    static std::partial_ordering order(const QVariant& a, const QVariant& b,
                                       FoldOptions options = FoldOptions::None);
    // A total order for sorting: nil, then numbers, strings (by code point), dates, the rest.
    static int sortCompare(const QVariant& a, const QVariant& b);
    // Unicode code point order (UTF-16 unit order misplaces characters above U+FFFF).
    static int compareCodePoints(QStringView a, QStringView b);

    static QDateTime dateFromReferenceSeconds(double seconds);
    static double referenceSecondsFromDate(const QDateTime& date);
};

} // namespace platform
