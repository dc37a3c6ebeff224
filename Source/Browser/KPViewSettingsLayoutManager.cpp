#include "Browser/KPViewSettingsLayoutManager.h"

#include "Browser/KPViewSizeManager.h"

#include <algorithm>

bool KPViewSettingsLayoutManager::isListMode()
{
    return KPViewSizeManager::instance().isListMode();
}

QSizeF KPViewSettingsLayoutManager::itemViewSize() const
{
    return KPViewSizeManager::instance().itemSize();
}

double KPViewSettingsLayoutManager::itemViewMarginMaxY() const
{
    return isListMode() ? 0 : KPViewSizeManager::instance().marginMaxY();
}

double KPViewSettingsLayoutManager::itemViewMarginMinY() const
{
    return isListMode() ? 0 : 5;
}

QRectF KPViewSettingsLayoutManager::itemRectOfIndex(qint64 index, double containerHeight) const
{
    if (!isListMode())
        return iconItemRect(index, containerHeight);
    const double h = itemViewSize().height();
    const double i = double(std::max<qint64>(index, 0));
    const double y = containerHeight - (i * h + h + itemViewMarginMaxY() + sectionHeaderViewHeight()) + itemViewMarginMinY();
    return QRectF(0, y, layoutWidth(), h);
}

double KPViewSettingsLayoutManager::contentHeightWithItemCount(qint64 itemCount) const
{
    if (!isListMode())
        return iconContentHeight(itemCount);
    return double(std::max<qint64>(itemCount, 0)) * itemViewSize().height() + (itemViewMarginMinY() + itemViewMarginMaxY())
        + sectionHeaderViewHeight() + sectionBottomViewHeight();
}
