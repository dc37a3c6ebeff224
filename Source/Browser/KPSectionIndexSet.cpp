#include "Browser/KPSectionIndexSet.h"

KPSectionIndexSet::KPSectionIndexSet(qint64 sectionIndex, qint64 itemIndex)
    : m_sectionIndex(sectionIndex == kNotFound ? 0 : sectionIndex)
    , m_itemIndex(itemIndex == kNotFound ? 0 : itemIndex)
{
}

quint64 KPSectionIndexSet::hash() const
{
    // Unsigned arithmetic wraps by definition; large or negative indexes must not overflow.
    return quint64(m_sectionIndex) * 100000u + quint64(m_itemIndex) * 1000000000u;
}

QString KPSectionIndexSet::description() const
{
    return QStringLiteral("%1, %2").arg(m_sectionIndex).arg(m_itemIndex);
}
