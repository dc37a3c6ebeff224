// What the XML and binary property-list readers and writers share: the error domain and its
// codes, the limits on untrusted input, how a QVariant maps to a property-list kind, the date
// arithmetic and the checks on text that both formats need.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <optional>

namespace platform::plist {

inline const QString kDomain = QStringLiteral("PropertyList");

enum ErrorCode {
    kMalformed = 1,
    kTooLarge = 2,
    kTooDeep = 3,
    kUnsupported = 4,
    kIo = 5,
    // The value would unfold to more values than the budget allows.
    kTooManyValues = 6,
};

// Containers nested deeper than this are refused, on reading and on writing.
constexpr int kMaxNesting = 512;
// Values that a binary list with shared references may unfold to, unless the list itself is
// larger (a list without shared containers never unfolds to more values than it has bytes).
constexpr qint64 kMaxValues = 1'000'000;

std::unexpected<Error> malformed(const QString& why);
std::unexpected<Error> unsupported(const QString& why);
std::unexpected<Error> tooDeep();

enum class Kind { Bool, Signed, Unsigned, Real, String, Data, Date, Uid, Array, Dict, None };
Kind kindOf(const QVariant& value);
// Names the offending value when a write is refused: "/outer/p", "/list[3]".
QString keyPath(const QString& parent, const QString& key);
QString indexPath(const QString& parent, qsizetype index);
std::unexpected<Error> noFormFor(const QVariant& value, const QString& path);

// UIDs are 32-bit in every writer of keyed archives; wider ones are refused both ways.
constexpr quint64 kUidLimit = quint64(1) << 32;

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceMSecsSinceEpoch = 978'307'200'000;
// The nearest millisecond, or nothing when the seconds are not finite or lie beyond the
// milliseconds QDateTime counts (a signed 64-bit number from 1970).
std::optional<QDateTime> dateFromReferenceSeconds(double seconds);
double referenceSecondsFromDate(const QDateTime& date);
// The seconds for date when reading them back gives the same millisecond, else nothing.
std::optional<double> exactReferenceSeconds(const QDateTime& date);

// Whether s is well-formed UTF-16: every surrogate in a pair.
bool isWellFormed(const QString& s);

} // namespace platform::plist
