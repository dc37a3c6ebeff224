// Where the items of one grid section go: for a layout width, the item size and margins, the
// number of columns, the rectangle of the i-th item and the height a section of n items needs.
//
// Geometry is y-up (origin at the section view's bottom-left): item 0 is the top-left item, and
// rows go downward from the section's top, below the header. The owner sets layoutWidth (the
// grid's width) before each use. This base class answers fixed sizes (100 × 100 items, margins
// 10/10/5/10, gaps 10, no header); KPViewSettingsLayoutManager and its two subclasses take their
// sizes from the display settings.
//
// Icon layout: columns = whole part of (width − left − right margin) / (item width + gap), at
// least 1; with autoWSpacing the spare width is spread evenly over the column gaps and both
// edges, otherwise the gaps are the fixed 10 and the row starts one gap after the left margin.
// An empty section is one row high.
#pragma once

#include <QRectF>
#include <QSizeF>

class KPSectionContentLayoutManager {
public:
    KPSectionContentLayoutManager() = default;
    virtual ~KPSectionContentLayoutManager();

    double layoutWidth() const { return m_layoutWidth; }
    void setLayoutWidth(double width) { m_layoutWidth = width; }
    bool autoWSpacing() const { return m_autoWSpacing; }
    void setAutoWSpacing(bool spread) { m_autoWSpacing = spread; }

    virtual double itemViewMarginMinX() const { return 10; }
    virtual double itemViewMarginMaxX() const { return 10; }
    virtual double itemViewMarginMinY() const { return 5; }
    virtual double itemViewMarginMaxY() const { return 10; }
    virtual double itemViewWSpacing() const { return 10; }
    virtual double itemViewHSpacing() const { return 10; }
    virtual QSizeF itemViewSize() const { return {100, 100}; }
    virtual double sectionHeaderViewHeight() const { return 0; }
    virtual double sectionBottomViewHeight() const { return 0; }

    // The number of columns (at least 1); the container height is not used.
    int itemViewColWithContainerHeight(double containerHeight = 0) const;
    // The rectangle of item index in a section view containerHeight high.
    virtual QRectF itemRectOfIndex(qint64 index, double containerHeight) const;
    // The height of a section of itemCount items, header included.
    virtual double contentHeightWithItemCount(qint64 itemCount) const;

protected:
    // The icon-layout rules with the current sizes, for subclasses that switch between modes.
    QRectF iconItemRect(qint64 index, double containerHeight) const;
    double iconContentHeight(qint64 itemCount) const;

private:
    double m_layoutWidth = 0;
    bool m_autoWSpacing = true;
};
