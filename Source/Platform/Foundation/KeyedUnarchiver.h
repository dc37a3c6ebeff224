// Reads a keyed archive (see KeyedArchiver.h) back into a QVariant.
//
// Archives arrive from other machines over the network and from library files anyone could
// have edited, so every byte is distrusted: the archive's size, its nesting and the number of
// values it unfolds to are bounded; references out of range, an object that contains itself,
// unknown classes and values of the wrong kind are reported as errors. No input can make it
// crash, loop or allocate without bound.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QVariant>

namespace platform {

class KeyedUnarchiver {
public:
    // Tuning limits, far above anything the program itself writes.
    static constexpr qsizetype kMaxArchiveBytes = 32 * 1024 * 1024;
    static constexpr int kMaxDepth = 128;
    // Values in the decoded tree, counting a shared object once per place it appears. The
    // property list that carries the objects is bounded the same way before they are decoded.
    static constexpr qint64 kMaxValues = 1'000'000;

    // Decodes NSDictionary/NSMutableDictionary (string keys only) to QVariantMap,
    // NSArray/NSMutableArray to QVariantList, NSString/NSMutableString to QString,
    // NSData/NSMutableData to QByteArray, NSDate to QDateTime (UTC, to the millisecond; a time
    // beyond QDateTime's range is refused), numbers and booleans to themselves, and "$null"
    // and NSNull objects to an invalid QVariant. Errors are in the "KeyedArchive" domain.
    static Result<QVariant> unarchiveObject(const QByteArray& data);
};

} // namespace platform
