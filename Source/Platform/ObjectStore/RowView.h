// A row read through a context, as predicates and sort descriptors see it during a fetch.
// It lives on the stack for one evaluation and walks key paths straight over rows (related
// records by key, no objects made); relationships answer object IDs, which is what an object
// compares equal to. Used only while the fetching context holds its read scope.
#pragma once

#include "Platform/ObjectStore/Predicate/KeyValueCoding.h"
#include "Platform/ObjectStore/Row.h"

namespace platform {

class ManagedObjectContext;

class RowView : public KeyValueCoding {
public:
    RowView(const ManagedObjectContext* context, const Row* row) : m_context(context), m_row(row) {}

    QVariant valueForKey(const QString& key) const override;
    QVariant valueForKeyPathComponents(const QStringList& components) const override;
    QVariant identity() const override;

    // The same walk for any row of the context (used by ManagedObject too).
    static QVariant walk(const ManagedObjectContext* context, const Row& row, const QStringList& components,
                         bool objectsAsRefs);

private:
    const ManagedObjectContext* m_context;
    const Row* m_row;
};

} // namespace platform
