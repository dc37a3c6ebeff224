// What to fetch: an entity (with its sub-entities), a predicate, sort keys and a limit, and
// whether the answer is objects, object IDs, a count or a count per value of a key path
// (groupByKeyPath, answered by ManagedObjectContext::groupedCountForFetchRequest).
//
// Unsorted results come in a fixed order: records already in the store by primary key, then
// records still pending in the context or its parents in insertion order. Callers rely on it
// ("the last match").
#pragma once

#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/ObjectStore/Predicate/SortDescriptor.h"

#include <QList>
#include <QVariant>
#include <QString>

namespace platform {

struct FetchRequest {
    enum class ResultType { ManagedObject = 0, ManagedObjectID = 1, Count = 4 };

    QString entityName;
    Predicate predicate; // default: everything
    QList<SortDescriptor> sortDescriptors;
    int fetchLimit = 0;  // 0: no limit
    bool includesSubentities = true;
    ResultType resultType = ResultType::ManagedObject;
    // For grouped counts: the key path whose values the matching records are counted by.
    QString groupByKeyPath;

    FetchRequest() = default;
    explicit FetchRequest(QString entity, Predicate filter = {}, QList<SortDescriptor> sort = {},
                          int limit = 0)
        : entityName(std::move(entity)), predicate(std::move(filter)),
          sortDescriptors(std::move(sort)), fetchLimit(limit)
    {
    }
};

// One value of a grouped count and the number of matching records that have it. value is
// invalid for the records whose value is nil (or whose to-many collection is empty).
struct GroupCount {
    QVariant value;
    qsizetype count = 0;
};

} // namespace platform
