// The frame every structured pasteboard value of the program travels in: an XML property list
// under the value's MIME type in a QMimeData, next to whatever plain forms the writer adds.
//
// Pasted data comes from any program, so reading is strict: a payload above kMaxPayloadBytes,
// one that is not an XML property list or one whose shape is not the one asked for is refused
// as a whole with an Error, and the caller falls back to the plain forms. Nothing is read
// partially.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QString>
#include <QVariant>
#include <QVariantList>

class QMimeData;

namespace platform::kit::pasteboard {

inline constexpr qsizetype kMaxPayloadBytes = qsizetype(1) << 20;

// Writes value as an XML property list under mimeType; fails for values without a plist form.
Result<void> writeValue(QMimeData& mime, const QString& mimeType, const QVariant& value);

// The value under mimeType: refused when absent, too large or not an XML property list.
Result<QVariant> readValue(const QMimeData& mime, const QString& mimeType);

// An array whose every element is a dictionary (the shape of item lists such as copied
// tokens); any other shape is refused as a whole.
Result<QVariantList> readRecords(const QMimeData& mime, const QString& mimeType);

} // namespace platform::kit::pasteboard
