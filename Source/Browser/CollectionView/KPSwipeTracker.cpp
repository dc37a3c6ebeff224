#include "Browser/CollectionView/KPSwipeTracker.h"

#include "Browser/CollectionView/KPCollectionViewDelegate.h"

#include <cmath>

std::optional<int> KPSwipeTracker::end(const QHash<int, float>& touches)
{
    if (m_recorded.isEmpty())
        return std::nullopt;
    float sum = 0;
    int found = 0;
    for (auto it = touches.begin(); it != touches.end(); ++it) {
        const auto recorded = m_recorded.constFind(it.key());
        if (recorded == m_recorded.constEnd())
            continue;
        sum += it.value() - recorded.value();
        ++found;
    }
    m_recorded.clear();
    if (found < 2 || !(std::fabs(sum) >= kThreshold))
        return std::nullopt;
    return sum > 0 ? KPCollectionViewDelegate::kSwipeRight : KPCollectionViewDelegate::kSwipeLeft;
}
