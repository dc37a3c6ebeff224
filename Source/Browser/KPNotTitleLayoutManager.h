// The layout of untitled sections (the plain document list, flag and author tiles, SafeBox
// files): no header.
#pragma once

#include "Browser/KPViewSettingsLayoutManager.h"

class KPNotTitleLayoutManager : public KPViewSettingsLayoutManager {
public:
    double sectionHeaderViewHeight() const override { return 0; }
};
