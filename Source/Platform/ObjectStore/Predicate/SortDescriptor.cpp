#include "Platform/ObjectStore/Predicate/SortDescriptor.h"

#include "Platform/ObjectStore/Predicate/ValueComparison.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace platform {

namespace {

QStringList componentsOf(const QString& keyPath)
{
    return keyPath.split(QLatin1Char('.'));
}

} // namespace

int SortDescriptor::compareValues(const QVariant& a, const QVariant& b) const
{
    const int c = ValueComparison::sortCompare(a, b);
    return ascending ? c : -c;
}

int SortDescriptor::compare(const KeyValueCoding& a, const KeyValueCoding& b) const
{
    const QStringList components = componentsOf(keyPath);
    return compareValues(a.valueForKeyPathComponents(components), b.valueForKeyPathComponents(components));
}

void SortDescriptor::sort(QList<ObjectRef>& objects, const QList<SortDescriptor>& descriptors)
{
    if (descriptors.isEmpty() || objects.size() < 2)
        return;
    // Read every key once up front: key paths can be costly (to-one hops), comparisons are many.
    const qsizetype n = objects.size();
    const qsizetype width = descriptors.size();
    std::vector<QVariant> keys(static_cast<size_t>(n * width));
    for (qsizetype d = 0; d < width; ++d) {
        const QStringList components = componentsOf(descriptors[d].keyPath);
        for (qsizetype i = 0; i < n; ++i) {
            if (objects[i])
                keys[size_t(i * width + d)] = objects[i]->valueForKeyPathComponents(components);
        }
    }
    std::vector<qsizetype> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype x, qsizetype y) {
        for (qsizetype d = 0; d < width; ++d) {
            const int c = descriptors[d].compareValues(keys[size_t(x * width + d)], keys[size_t(y * width + d)]);
            if (c != 0)
                return c < 0;
        }
        return false;
    });
    QList<ObjectRef> sorted;
    sorted.reserve(n);
    for (qsizetype i : order)
        sorted.append(std::move(objects[i]));
    objects = std::move(sorted);
}

} // namespace platform
