// The section view of untitled sections: no header, nothing drawn of its own.
#pragma once

#include "Browser/KPCollectionSectionView.h"

class KPNotTitleSectionView : public KPCollectionSectionView {
public:
    using KPCollectionSectionView::KPCollectionSectionView;
};
