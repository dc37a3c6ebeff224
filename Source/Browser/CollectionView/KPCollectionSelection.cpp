#include "Browser/CollectionView/KPCollectionSelection.h"

std::optional<KPSectionIndexSet> KPCollectionSelection::anchor() const
{
    if (m_list.isEmpty())
        return std::nullopt;
    return m_list.last();
}

bool KPCollectionSelection::append(const KPSectionIndexSet& indexSet)
{
    if (m_set.contains(indexSet))
        return false;
    m_set.insert(indexSet);
    m_list.append(indexSet);
    return true;
}

bool KPCollectionSelection::remove(const KPSectionIndexSet& indexSet)
{
    if (!m_set.remove(indexSet))
        return false;
    m_list.removeOne(indexSet);
    return true;
}

bool KPCollectionSelection::clear()
{
    if (m_list.isEmpty())
        return false;
    m_list.clear();
    m_set.clear();
    return true;
}

bool KPCollectionSelection::assign(const QList<KPSectionIndexSet>& indexSets)
{
    const QList<KPSectionIndexSet> before = m_list;
    m_list.clear();
    m_set.clear();
    for (const KPSectionIndexSet& indexSet : indexSets)
        append(indexSet);
    return m_list != before;
}

bool KPCollectionSelection::removeSection(qint64 sectionIndex)
{
    const qsizetype removed = m_list.removeIf([&](const KPSectionIndexSet& a) {
        if (a.sectionIndex() != sectionIndex)
            return false;
        m_set.remove(a);
        return true;
    });
    return removed > 0;
}

bool KPCollectionSelection::applyClick(const std::optional<KPSectionIndexSet>& clicked, Click click,
                                       const ItemCounter& itemCount)
{
    if (click == Click::Toggle) {
        if (!clicked)
            return false;
        return remove(*clicked) || append(*clicked);
    }
    if (click == Click::Range && !isEmpty()) {
        const KPSectionIndexSet from = m_list.last();
        if (!clicked || *clicked == from)
            return false;
        bool changed = false;
        for (const KPSectionIndexSet& a : shiftRange(from, *clicked, itemCount))
            changed |= append(a);
        return changed;
    }
    if (!clicked)
        return clear();
    if (contains(*clicked))
        return false;
    return assign({*clicked});
}

QList<KPSectionIndexSet> KPCollectionSelection::shiftRange(const KPSectionIndexSet& anchor,
                                                           const KPSectionIndexSet& clicked,
                                                           const ItemCounter& itemCount)
{
    QList<KPSectionIndexSet> out;
    const qint64 as = anchor.sectionIndex();
    const qint64 cs = clicked.sectionIndex();
    const auto run = [&](qint64 section, qint64 first, qint64 last, qint64 step) {
        for (qint64 i = first; step > 0 ? i <= last : i >= last; i += step)
            out.append(KPSectionIndexSet(section, i));
    };
    const auto lastIndex = [&](qint64 section) { return itemCount ? itemCount(section) - 1 : -1; };
    if (as == cs) {
        if (clicked.itemIndex() < anchor.itemIndex())
            run(as, clicked.itemIndex(), anchor.itemIndex() - 1, 1);
        else
            run(as, anchor.itemIndex(), clicked.itemIndex(), 1);
    } else if (cs < as) {
        run(as, anchor.itemIndex(), 0, -1);
        for (qint64 s = as - 1; s > cs; --s)
            run(s, 0, lastIndex(s), 1);
        run(cs, lastIndex(cs), clicked.itemIndex(), -1);
    } else {
        run(as, anchor.itemIndex(), lastIndex(as), 1);
        for (qint64 s = as + 1; s < cs; ++s)
            run(s, 0, lastIndex(s), 1);
        run(cs, 0, clicked.itemIndex(), 1);
    }
    return out;
}
