#include "Platform/ObjectStore/Predicate/ValueComparison.h"

#include "Platform/ObjectStore/Predicate/KeyValueCoding.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace platform {

namespace {

struct Number {
    enum class Kind { Signed, Unsigned, Real };
    Kind kind = Kind::Signed;
    qint64 s = 0;
    quint64 u = 0;
    double d = 0;
};

std::optional<Number> numberOf(const QVariant& value)
{
    Number n;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        n.s = value.toBool() ? 1 : 0;
        return n;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
    case QMetaType::Char:
        n.s = value.toLongLong();
        return n;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
        n.kind = Number::Kind::Unsigned;
        n.u = value.toULongLong();
        return n;
    case QMetaType::Double:
    case QMetaType::Float:
        n.kind = Number::Kind::Real;
        n.d = value.toDouble();
        return n;
    default:
        return std::nullopt;
    }
}

// 2^63 and 2^64 are exact doubles; every double at or above them is outside the integer range.
constexpr double twoTo63 = 9223372036854775808.0;
constexpr double twoTo64 = 18446744073709551616.0;

std::partial_ordering compareSignedReal(qint64 i, double d)
{
    if (std::isnan(d))
        return std::partial_ordering::unordered;
    if (d < -twoTo63)
        return std::partial_ordering::greater;
    if (d >= twoTo63)
        return std::partial_ordering::less;
    // d is now within range: compare its integral part exactly, then its fraction.
    const qint64 t = qint64(d);
    if (i != t)
        return i <=> t;
    return 0.0 <=> (d - double(t));
}

std::partial_ordering compareUnsignedReal(quint64 u, double d)
{
    if (std::isnan(d))
        return std::partial_ordering::unordered;
    if (d < 0)
        return std::partial_ordering::greater;
    if (d >= twoTo64)
        return std::partial_ordering::less;
    const quint64 t = quint64(d);
    if (u != t)
        return u <=> t;
    return 0.0 <=> (d - double(t));
}

std::partial_ordering reversed(std::partial_ordering o)
{
    return 0 <=> o;
}

std::partial_ordering compareNumbers(const Number& a, const Number& b)
{
    using K = Number::Kind;
    switch (a.kind) {
    case K::Signed:
        switch (b.kind) {
        case K::Signed: return a.s <=> b.s;
        case K::Unsigned: return a.s < 0 ? std::partial_ordering::less : quint64(a.s) <=> b.u;
        case K::Real: return compareSignedReal(a.s, b.d);
        }
        break;
    case K::Unsigned:
        switch (b.kind) {
        case K::Signed: return b.s < 0 ? std::partial_ordering::greater : a.u <=> quint64(b.s);
        case K::Unsigned: return a.u <=> b.u;
        case K::Real: return compareUnsignedReal(a.u, b.d);
        }
        break;
    case K::Real:
        switch (b.kind) {
        case K::Signed: return reversed(compareSignedReal(b.s, a.d));
        case K::Unsigned: return reversed(compareUnsignedReal(b.u, a.d));
        case K::Real: return a.d <=> b.d;
        }
        break;
    }
    return std::partial_ordering::unordered;
}

QVariant unwrapObject(const QVariant& value)
{
    if (const KeyValueCoding* object = kvc::object(value))
        return object->identity();
    return value;
}

std::partial_ordering compareDates(const QDateTime& a, const QDateTime& b)
{
    return a.toMSecsSinceEpoch() <=> b.toMSecsSinceEpoch();
}

// A date against a number: the number counts seconds since the reference date.
std::optional<std::partial_ordering> compareDateAndNumber(const QVariant& a, const QVariant& b)
{
    if (ValueComparison::isDate(a)) {
        if (const auto n = numberOf(b)) {
            Number seconds;
            seconds.kind = Number::Kind::Real;
            seconds.d = ValueComparison::referenceSecondsFromDate(a.toDateTime());
            return compareNumbers(seconds, *n);
        }
    } else if (ValueComparison::isDate(b)) {
        if (const auto reverse = compareDateAndNumber(b, a))
            return reversed(*reverse);
    }
    return std::nullopt;
}

std::strong_ordering toStrong(int c)
{
    return c <=> 0;
}

int rankForSort(const QVariant& value)
{
    if (ValueComparison::isNil(value))
        return 0;
    if (ValueComparison::isNumber(value))
        return 1;
    if (ValueComparison::isString(value))
        return 2;
    if (ValueComparison::isDate(value))
        return 3;
    return 4;
}

} // namespace

bool ValueComparison::isNil(const QVariant& value)
{
    return !value.isValid() || value.metaType().id() == QMetaType::Nullptr;
}

bool ValueComparison::isNumber(const QVariant& value)
{
    return numberOf(value).has_value();
}

bool ValueComparison::isString(const QVariant& value)
{
    return value.metaType().id() == QMetaType::QString;
}

bool ValueComparison::isDate(const QVariant& value)
{
    return value.metaType().id() == QMetaType::QDateTime;
}

bool ValueComparison::equal(const QVariant& rawA, const QVariant& rawB, FoldOptions options)
{
    if (isNil(rawA) || isNil(rawB))
        return isNil(rawA) && isNil(rawB);
    const QVariant a = unwrapObject(rawA);
    const QVariant b = unwrapObject(rawB);
    if (isString(a) && isString(b)) {
        if (options == FoldOptions::None)
            return a.toString() == b.toString();
        return equalsFolded(a.toString(), b.toString(), options);
    }
    const auto na = numberOf(a);
    const auto nb = numberOf(b);
    if (na && nb)
        return compareNumbers(*na, *nb) == 0;
    if (isDate(a) && isDate(b))
        return compareDates(a.toDateTime(), b.toDateTime()) == 0;
    if (const auto mixed = compareDateAndNumber(a, b))
        return *mixed == 0;
    if (na || nb || isString(a) || isString(b))
        return false;
    // Object IDs, data, lists: their own equality, and only within one type.
    return a.metaType() == b.metaType() && a == b;
}

std::partial_ordering ValueComparison::order(const QVariant& a, const QVariant& b, FoldOptions options)
{
    if (isNil(a) || isNil(b))
        return std::partial_ordering::unordered;
    if (isString(a) && isString(b)) {
        if (options == FoldOptions::None)
            return toStrong(compareCodePoints(a.toString(), b.toString()));
        return toStrong(compareCodePoints(fold(a.toString(), options), fold(b.toString(), options)));
    }
    const auto na = numberOf(a);
    const auto nb = numberOf(b);
    if (na && nb)
        return compareNumbers(*na, *nb);
    if (isDate(a) && isDate(b))
        return compareDates(a.toDateTime(), b.toDateTime());
    if (const auto mixed = compareDateAndNumber(a, b))
        return *mixed;
    return std::partial_ordering::unordered;
}

int ValueComparison::sortCompare(const QVariant& a, const QVariant& b)
{
    const int ra = rankForSort(a);
    const int rb = rankForSort(b);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    switch (ra) {
    case 1: {
        const std::partial_ordering o = compareNumbers(*numberOf(a), *numberOf(b));
        if (o == std::partial_ordering::unordered) {
            // NaN sorts before every number so that the order stays total.
            const bool nanA = std::isnan(a.toDouble());
            const bool nanB = std::isnan(b.toDouble());
            return nanA == nanB ? 0 : nanA ? -1 : 1;
        }
        return o < 0 ? -1 : o > 0 ? 1 : 0;
    }
    case 2:
        return compareCodePoints(a.toString(), b.toString());
    case 3: {
        const std::partial_ordering o = compareDates(a.toDateTime(), b.toDateTime());
        return o < 0 ? -1 : o > 0 ? 1 : 0;
    }
    default:
        return 0;
    }
}

int ValueComparison::compareCodePoints(QStringView a, QStringView b)
{
    // Surrogates (U+D800-DFFF) encode code points above U+FFFF: moving them above U+E000-FFFF
    // turns UTF-16 unit order into code point order.
    auto key = [](char16_t c) -> int {
        if (c < 0xD800)
            return c;
        return c >= 0xE000 ? c - 0x800 : c + 0x2000;
    };
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t ca = a[i].unicode();
        const char16_t cb = b[i].unicode();
        if (ca != cb)
            return key(ca) < key(cb) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

QDateTime ValueComparison::dateFromReferenceSeconds(double seconds)
{
    double ms = std::round((seconds + double(referenceDateOffset)) * 1000.0);
    // QDateTime holds milliseconds in a qint64; clamp far-out values instead of overflowing.
    constexpr double limit = 9.0e15;
    if (std::isnan(ms))
        ms = 0;
    return QDateTime::fromMSecsSinceEpoch(qint64(std::clamp(ms, -limit, limit)), Qt::UTC);
}

double ValueComparison::referenceSecondsFromDate(const QDateTime& date)
{
    return double(date.toMSecsSinceEpoch()) / 1000.0 - double(referenceDateOffset);
}

} // namespace platform
