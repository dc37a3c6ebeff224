// Writes a QVariant value as a keyed archive: the object-graph layout, stored as a binary
// property list, that peers exchange and that libraries keep for smart-folder rules.
//
// The layout is fixed by the peers already out there, so it is reproduced field by field:
// {"$archiver": "NSKeyedArchiver", "$version": 100000, "$top": {"root": UID},
//  "$objects": ["$null", …]}, where strings, numbers, booleans and data stand in "$objects"
// as themselves and dictionaries, arrays and dates are small dictionaries naming their class
// through a class entry ({"$classname": …, "$classes": […]}). Equal strings are stored once.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/KeyedUnarchiver.h"

#include <QByteArray>
#include <QVariant>

namespace platform {

class KeyedArchiver {
public:
    // Archivable: QVariantMap/QVariantHash (NSDictionary), QVariantList/QStringList (NSArray),
    // QString, bool, integers up to unsigned 64-bit, double, QByteArray, QDateTime (NSDate)
    // and an invalid QVariant (the null object). Anything else fails, naming where it sits.
    static Result<QByteArray> archivedData(const QVariant& root);
};

} // namespace platform
