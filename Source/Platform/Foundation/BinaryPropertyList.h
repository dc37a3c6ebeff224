// The binary property-list format ("bplist00"): a header, the objects, a table of their
// offsets and a 32-byte trailer naming the widths of offsets and object references, the object
// count, the top object and where the table starts. Containers hold references (indices into
// the offset table), so one object can appear in many places.
//
// Reading trusts nothing: every offset, reference and count is checked against the bytes, an
// object that contains itself, objects that overlap and nesting past plist::kMaxNesting are
// refused, and so is a list whose shared references would unfold to more than
// max(plist::kMaxValues, its size in bytes) values, before anything is built. Each object is
// decoded once (containers iteratively, with an explicit stack); shared ones are shared
// QVariants. Kinds that QVariant cannot hold exactly are refused: null, sets, integers beyond
// the signed and unsigned 64-bit ranges, UIDs from 2^32, dates beyond QDateTime's range,
// ASCII strings with bytes over 0x7F, UTF-16 with lone surrogates, duplicate dictionary keys.
// Dates are cut to the nearest millisecond, the finest a QDateTime holds.
//
// Writing stores each distinct scalar once (strings, numbers, dates, data, UIDs), strings as
// ASCII when they can be else as UTF-16BE, dictionaries as their keys then their values, and
// uses the narrowest offset and reference widths. Integers above INT64_MAX take the 16-byte
// form. A date whose milliseconds would not survive the double of seconds is refused.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QVariant>

namespace platform {

class BinaryPropertyList {
public:
    static Result<QVariant> read(const QByteArray& bytes);
    static Result<QByteArray> write(const QVariant& value);
};

} // namespace platform
