// Property lists over QVariant, read and written with libplist.
//
// Values map one to one: dict ↔ QVariantMap, array ↔ QVariantList, string ↔ QString,
// integer ↔ qint64 (quint64 only above INT64_MAX, so that such values round-trip exactly),
// real ↔ double, bool ↔ bool, date ↔ QDateTime (UTC), data ↔ QByteArray and the keyed
// archiver's UID ↔ PlistUID. Reading detects XML or binary from the bytes themselves. Files
// are replaced atomically, so a crash mid-write leaves the old file whole. Any input, however
// damaged, yields a value or an Error; nothing here aborts.
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

    // Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
    static QDateTime dateFromReferenceSeconds(double seconds);
    static double referenceSecondsFromDate(const QDateTime& date);
};

} // namespace platform

Q_DECLARE_METATYPE(platform::PlistUID)
