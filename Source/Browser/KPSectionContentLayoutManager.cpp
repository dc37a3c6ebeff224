#include "Browser/KPSectionContentLayoutManager.h"

#include <algorithm>
#include <cmath>

KPSectionContentLayoutManager::~KPSectionContentLayoutManager() = default;

int KPSectionContentLayoutManager::itemViewColWithContainerHeight(double) const
{
    const double avail = m_layoutWidth - (itemViewMarginMaxX() + itemViewMarginMinX());
    const double step = itemViewSize().width() + itemViewWSpacing();
    // A width narrower than one item (or a degenerate item size) still gives one column.
    if (!(step > 0) || !(avail > 0))
        return 1;
    const double cols = std::floor(avail / step);
    return cols < 1 ? 1 : int(std::min(cols, 1e6));
}

QRectF KPSectionContentLayoutManager::itemRectOfIndex(qint64 index, double containerHeight) const
{
    return iconItemRect(index, containerHeight);
}

double KPSectionContentLayoutManager::contentHeightWithItemCount(qint64 itemCount) const
{
    return iconContentHeight(itemCount);
}

QRectF KPSectionContentLayoutManager::iconItemRect(qint64 index, double containerHeight) const
{
    const QSizeF size = itemViewSize();
    const double w = size.width();
    const double h = size.height();
    const double minX = itemViewMarginMinX();
    const double avail = m_layoutWidth - (itemViewMarginMaxX() + minX);
    const qint64 cols = itemViewColWithContainerHeight(containerHeight);
    // Spread spare width evenly; a width narrower than one item has none to spread, and a
    // negative gap would push the first column left of the margin, out of sight.
    const double gap = m_autoWSpacing ? std::max(0.0, (avail - double(cols) * w) / double(cols + 1)) : itemViewWSpacing();
    const qint64 row = std::max<qint64>(index, 0) / cols;
    const qint64 col = std::max<qint64>(index, 0) % cols;
    const double x = std::trunc(minX + double(col + 1) * gap + double(col) * w);
    const double y = itemViewMarginMinY() + containerHeight - (itemViewMarginMaxY() + sectionHeaderViewHeight())
        - (double(row) * h + double(row) * itemViewHSpacing() + h);
    return QRectF(x, y, w, h);
}

double KPSectionContentLayoutManager::iconContentHeight(qint64 itemCount) const
{
    const qint64 cols = itemViewColWithContainerHeight();
    const qint64 rows = std::max<qint64>(1, (std::max<qint64>(itemCount, 0) + cols - 1) / cols);
    const double h = itemViewSize().height();
    return itemViewHSpacing() * double(rows - 1) + h * double(rows) + (itemViewMarginMinY() + itemViewMarginMaxY())
        + (sectionBottomViewHeight() + sectionHeaderViewHeight());
}
