// The address of one item of the grid: its section and its place in that section. A value
// type; selections, dictionaries keyed by address and the Quick Look pager all hold copies.
#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>
#include <cstddef>
#include <functional>
#include <limits>

class KPSectionIndexSet {
public:
    // The "no such index" marker of callers that report a missing position (the largest
    // signed 64-bit number); an address never stores it.
    static constexpr qint64 kNotFound = std::numeric_limits<qint64>::max();

    KPSectionIndexSet() = default;
    // Either number equal to kNotFound is stored as 0.
    KPSectionIndexSet(qint64 sectionIndex, qint64 itemIndex);
    static KPSectionIndexSet sectionIndexSetWithSectionIndex(qint64 sectionIndex, qint64 itemIndex)
    {
        return KPSectionIndexSet(sectionIndex, itemIndex);
    }

    qint64 sectionIndex() const { return m_sectionIndex; }
    void setSectionIndex(qint64 index) { m_sectionIndex = index; }
    qint64 itemIndex() const { return m_itemIndex; }
    void setItemIndex(qint64 index) { m_itemIndex = index; }

    // sectionIndex × 100000 + itemIndex × 1000000000 in wrapping unsigned 64-bit arithmetic.
    quint64 hash() const;
    // "section, item".
    QString description() const;

    friend bool operator==(const KPSectionIndexSet& a, const KPSectionIndexSet& b)
    {
        return a.m_sectionIndex == b.m_sectionIndex && a.m_itemIndex == b.m_itemIndex;
    }
    friend bool operator!=(const KPSectionIndexSet& a, const KPSectionIndexSet& b) { return !(a == b); }
    // Sections first, then items: the order of the grid.
    friend bool operator<(const KPSectionIndexSet& a, const KPSectionIndexSet& b)
    {
        return a.m_sectionIndex != b.m_sectionIndex ? a.m_sectionIndex < b.m_sectionIndex : a.m_itemIndex < b.m_itemIndex;
    }
    friend size_t qHash(const KPSectionIndexSet& index, size_t seed = 0) { return qHash(index.hash(), seed); }

private:
    qint64 m_sectionIndex = 0;
    qint64 m_itemIndex = 0;
};

template <>
struct std::hash<KPSectionIndexSet> {
    size_t operator()(const KPSectionIndexSet& index) const noexcept { return size_t(index.hash()); }
};

Q_DECLARE_METATYPE(KPSectionIndexSet)
