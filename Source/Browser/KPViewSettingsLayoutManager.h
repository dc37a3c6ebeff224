// The layout of the grid's real sections: item sizes and top margins from the display settings
// (KPViewSizeManager, read at each question, so a change of mode or scale takes effect at the
// next layout), the icon layout of the base class in icon mode, and in list mode one item per
// row over the full width with no vertical margins. The two kinds of section differ only in
// their header: KPDefaultSectionLayoutManager (titled) and KPNotTitleLayoutManager.
#pragma once

#include "Browser/KPSectionContentLayoutManager.h"

class KPViewSettingsLayoutManager : public KPSectionContentLayoutManager {
public:
    QSizeF itemViewSize() const override;
    double itemViewMarginMaxY() const override;
    double itemViewMarginMinY() const override;

    QRectF itemRectOfIndex(qint64 index, double containerHeight) const override;
    double contentHeightWithItemCount(qint64 itemCount) const override;

protected:
    static bool isListMode();
};
