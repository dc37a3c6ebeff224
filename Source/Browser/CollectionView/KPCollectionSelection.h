// The grid's selection: addresses in the order they were added, each at most once. The last
// one is the anchor of Shift ranges.
//
// The click rules are here as functions of addresses alone, so they hold whatever views are on
// screen: the grid finds the clicked address and reads the modifiers, this class decides.
//   Toggle (Ctrl-click): the clicked item leaves the selection, or joins it at the end.
//   Range (Shift-click with a selection): every address from the anchor to the clicked one in
//     reading order joins, skipping those already selected; sections in between count whole,
//     collapsed or not. A click on the anchor itself, or on no item, changes nothing.
//   Plain: a click on a selected item keeps the selection as it is (so a multiple selection
//     can be dragged); another item becomes the only one; the background clears it.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPSectionIndexSet.h"

#include <QList>
#include <QSet>
#include <functional>
#include <optional>

class KPCollectionSelection {
public:
    enum class Click { Plain, Toggle, Range };
    // The full item count of a section.
    using ItemCounter = std::function<qint64(qint64 sectionIndex)>;

    const QList<KPSectionIndexSet>& list() const { return m_list; }
    bool isEmpty() const { return m_list.isEmpty(); }
    qsizetype size() const { return m_list.size(); }
    bool contains(const KPSectionIndexSet& indexSet) const { return m_set.contains(indexSet); }
    std::optional<KPSectionIndexSet> anchor() const;

    // Each answers whether the selection changed.
    bool append(const KPSectionIndexSet& indexSet);
    bool remove(const KPSectionIndexSet& indexSet);
    bool clear();
    // Keeps the first of repeated addresses.
    bool assign(const QList<KPSectionIndexSet>& indexSets);
    bool removeSection(qint64 sectionIndex);

    // Applies a click on clicked (none: on no item); answers whether the selection changed.
    bool applyClick(const std::optional<KPSectionIndexSet>& clicked, Click click, const ItemCounter& itemCount);

    // The addresses a Shift-click on clicked appends after anchor, in the order appended.
    static QList<KPSectionIndexSet> shiftRange(const KPSectionIndexSet& anchor, const KPSectionIndexSet& clicked,
                                               const ItemCounter& itemCount);

private:
    QList<KPSectionIndexSet> m_list;
    QSet<KPSectionIndexSet> m_set;
};
