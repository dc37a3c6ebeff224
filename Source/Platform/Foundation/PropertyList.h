// Property lists over QVariant, in both formats, read and written by BinaryPropertyList and
// XmlPropertyList (their headers say what each format holds and refuses).
//
// Values map one to one: dict ↔ QVariantMap, array ↔ QVariantList, string ↔ QString,
// integer ↔ qint64 (quint64 only above INT64_MAX, so that such values round-trip exactly),
// real ↔ double, bool ↔ bool, date ↔ QDateTime (UTC), data ↔ QByteArray and the keyed
// archiver's UID ↔ PlistUID (below 2^32). A value either reads back exactly or is refused with
// an Error, with two exceptions the formats force: dates keep milliseconds, the finest a
// QDateTime holds (finer fractions of binary dates are rounded to the nearest millisecond),
// and XML dates hold whole seconds (milliseconds are cut when written). Reading detects XML (UTF-8 or UTF-16) or binary from the bytes
// themselves. Files are replaced atomically, so a crash mid-write leaves the old file whole.
// Any input, however damaged or hostile, yields a value or an Error in bounded time and
// memory; nothing here aborts.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <optional>

namespace platform {

// An object reference inside a keyed archive ("CF$UID").
struct PlistUID {
    quint64 value = 0;
    friend bool operator==(const PlistUID&, const PlistUID&) = default;
};

enum class PlistFormat { Xml, Binary };

class PropertyList {
public:
    // Either format, told apart by the leading bytes.
    static Result<QVariant> read(const QByteArray& bytes);
    static Result<QVariant> readFile(const QString& path);

    // Fails for values that have no property-list form (a null QVariant, a QPoint, …) and
    // names the offending key path in the message.
    static Result<QByteArray> write(const QVariant& value, PlistFormat format);
    // Written to a temporary name beside path, flushed to disk, then renamed over path.
    static Result<void> writeFile(const QVariant& value, const QString& path, PlistFormat format);

    // Which format the bytes are in, or nothing when they are neither.
    static std::optional<PlistFormat> detectFormat(const QByteArray& bytes);

    // Property-list dates count seconds from 2001-01-01 00:00:00 UTC. To the nearest
    // millisecond; an invalid QDateTime for seconds that are not finite or lie beyond the
    // range of a QDateTime (milliseconds from 1970 in a signed 64-bit number).
    static QDateTime dateFromReferenceSeconds(double seconds);
    static double referenceSecondsFromDate(const QDateTime& date);
};

} // namespace platform

Q_DECLARE_METATYPE(platform::PlistUID)
