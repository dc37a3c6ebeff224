// One sort key of a fetch or an in-memory list: a key path and a direction. Values compare by
// ValueComparison::sortCompare (nil first, numbers across kinds, strings by code point, dates),
// and sorting is stable so that equal keys keep the order the caller had (the store's unsorted
// order is deterministic, and "the last of the result" depends on it).
#pragma once

#include "Platform/ObjectStore/Predicate/KeyValueCoding.h"

#include <QList>
#include <QString>

namespace platform {

struct SortDescriptor {
    QString keyPath;
    bool ascending = true;

    SortDescriptor() = default;
    SortDescriptor(QString keyPath, bool ascending = true) : keyPath(std::move(keyPath)), ascending(ascending) {}

    // <0, 0, >0 with the direction applied.
    int compare(const KeyValueCoding& a, const KeyValueCoding& b) const;
    // The same for values already read.
    int compareValues(const QVariant& a, const QVariant& b) const;

    // Stable sort by the descriptors in turn; each key is read once per object.
    static void sort(QList<ObjectRef>& objects, const QList<SortDescriptor>& descriptors);

    bool operator==(const SortDescriptor&) const = default;
};

} // namespace platform
