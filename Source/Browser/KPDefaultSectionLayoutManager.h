// The layout of titled sections (grouped documents, month tiles, kind tiles): a 26-point header
// above the items.
#pragma once

#include "Browser/KPViewSettingsLayoutManager.h"

class KPDefaultSectionLayoutManager : public KPViewSettingsLayoutManager {
public:
    static constexpr double kHeaderHeight = 26;
    double sectionHeaderViewHeight() const override { return kHeaderHeight; }
};
