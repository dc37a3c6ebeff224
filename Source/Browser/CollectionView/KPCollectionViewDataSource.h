// What the document grid asks about its content. The grid keeps no model: it asks how many
// sections and items there are and which object stands at an address. Every question carries
// the asking grid.
//
// The section count has a default ("no sections"); the item count and the object at an
// address are asked without a fallback by the move animation, so every data source answers
// them. Threads: main thread only.
#pragma once

#include "Browser/KPSectionData.h"
#include "Browser/KPSectionIndexSet.h"

#include <optional>

class KPCollectionView;

class KPCollectionViewDataSource {
public:
    virtual ~KPCollectionViewDataSource() = default;

    virtual qint64 collectionViewSectionCount(KPCollectionView* view) { return 0; }
    // The full count of the section, also while it is collapsed.
    virtual qint64 collectionViewItemCount(KPCollectionView* view, qint64 sectionIndex) = 0;
    // The model object at the address; none when there is nothing there.
    virtual std::optional<KPSectionItem> collectionViewSectionItemObject(KPCollectionView* view,
                                                                         const KPSectionIndexSet& indexSet) = 0;
};
