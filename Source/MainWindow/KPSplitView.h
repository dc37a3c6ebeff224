// The two-pane split view of the main window's panes. One pane may collapse and expand again
// to its last extent (or to a given one); the kept pane holds its extent when the view is
// resized; the divider is held between the minimum and maximum, and with master 1 the trailing
// pane has a fixed width the divider cannot be dragged from. The divider is 1 point thick
// while the pane is open and 0 while it is collapsed. After every resize of a view with a
// collapsible pane, "KPSplitViewToogledChange" is posted with the view as object.
//
// An open kept pane gives way, down to its minimum, where the other pane would get less than
// otherMinimum; it keeps the extent it was given (keptExtent) and goes back to it when the
// room comes back.
//
// The arithmetic is SplitGeometry's; this class applies it with setSizes(). Only the first two
// widgets are laid out. Collapse and expand do not animate. Threads: main thread only.
#pragma once

#include "MainWindow/SplitGeometry.h"

#include <QColor>
#include <QSplitter>

class KPSplitView : public QSplitter {
public:
    static inline const QString kToggledNotification = QStringLiteral("KPSplitViewToogledChange");
    static inline const QColor kDefaultLineColor{139, 139, 139};

    // Panes side by side, or stacked.
    explicit KPSplitView(bool sideBySide = true, QWidget* parent = nullptr);
    ~KPSplitView() override;

    double minValue() const { return m_geometry.minValue; }
    void setMinValue(double value) { m_geometry.minValue = value; }
    double maxValue() const { return m_geometry.maxValue; }
    void setMaxValue(double value) { m_geometry.maxValue = value; }
    double lastValue() const { return m_geometry.lastValue; }
    void setLastValue(double value) { m_geometry.lastValue = value; }
    bool isExpand() const { return m_geometry.isExpand; }
    void setIsExpand(bool expand);
    int masterDividerIndex() const { return m_geometry.masterDividerIndex; }
    void setMasterDividerIndex(int index) { m_geometry.masterDividerIndex = index; }
    int canCollapseIndex() const { return m_geometry.canCollapseIndex; }
    void setCanCollapseIndex(int index);
    double otherMinimum() const { return m_geometry.otherMinimum; }
    // Lays the panes out again when the value changes.
    void setOtherMinimum(double value);
    // The extent the kept pane was last given by an expand or a drag (its current extent
    // before either), which it has whenever the room allows.
    double keptExtent() const;
    // True while some split view is placing its panes: a nested view's report then comes
    // before the outer views have their final sizes.
    static bool isLayingOut();
    double leftViewWidth() const { return m_leftViewWidth; }
    double rightViewWidth() const { return m_rightViewWidth; }
    const QColor& lineColor() const { return m_lineColor; }
    void setLineColor(const QColor& color);
    const SplitGeometry& geometryState() const { return m_geometry; }

    // Nothing happens on a view without a collapsible pane.
    void collapse();
    void expand();
    void expandWithValue(double value);
    void expandWithAnimation() {}
    // Stacked panes: the first view inside the second pane goes to its top-left corner.
    void updateRightViewPosition();
    double dividerThickness() const { return m_geometry.dividerThickness(); }

    // A drag of the divider to a position (the handle's drags come here).
    void dragDividerTo(int position);
    // A double click on the divider collapses or expands the collapsible pane.
    void toggleCollapse();

protected:
    QSplitterHandle* createHandle() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int extent() const;
    double paneExtent(int index) const;
    // Puts the divider at position (the kept pane giving way as far as the other pane's
    // minimum needs), then reports the resize. With remember, the kept pane's extent from
    // position becomes keptExtent; else the one it got does.
    void moveDivider(double position, bool remember = true);
    void apply(double first, double second);
    void didResizeSubviews();

    SplitGeometry m_geometry;
    QColor m_lineColor = kDefaultLineColor;
    double m_leftViewWidth = 0;
    double m_rightViewWidth = 0;
    // keptExtent(); negative before the first expand or drag.
    double m_keptExtent = -1;
};
