// The arithmetic of a two-pane split view with one pane that may collapse and one kept width:
// where the divider goes on collapse and expand, how far a drag may move it, and how the panes
// share a new size. Pure values, so every edge is testable without widgets; KPSplitView applies
// the results.
//
// Positions are the divider's distance from the leading edge, that is the first pane's extent
// (its width when the panes are side by side, its height when stacked). The kept pane is the
// first one of side-by-side panes with master 0, and the second one otherwise; it is also the
// pane a collapse hides.
#pragma once

#include <utility>

struct SplitGeometry {
    // Panes side by side (the divider is vertical) or stacked.
    bool sideBySide = true;
    double minValue = 0;
    double maxValue = 0;
    // The kept pane's extent when it was last collapsed.
    double lastValue = 0;
    bool isExpand = false;
    int masterDividerIndex = 0;
    // The pane that may collapse: 0 or 1; -1 for none.
    int canCollapseIndex = -1;
    // The extent the other pane keeps while the kept pane is open, as far as the kept pane can
    // give it (never below minValue): room that a view inside the other pane cannot do without.
    double otherMinimum = 0;

    bool canCollapse() const { return canCollapseIndex == 0 || canCollapseIndex == 1; }
    bool keepsFirst() const { return sideBySide && masterDividerIndex == 0; }
    double dividerThickness() const { return isExpand ? 1.0 : 0.0; }

    // The divider's position after a collapse of the kept pane; remembers its extent.
    double collapse(double firstExtent, double secondExtent, double extent);
    // Back to the remembered extent (the minimum when none was remembered).
    double expand(double extent);
    // To value, but not below the minimum.
    double expandWithValue(double value, double extent);

    double constrainMinCoordinate(double extent) const;
    double constrainMaxCoordinate(double extent) const;
    // A proposed divider position held within the two.
    double constrain(double proposed, double extent) const;

    // The extent an open kept pane gets of room (the view's extent less the divider) when it
    // asks for wanted: what it asks, less what the other pane's minimum needs, not below
    // minValue, and never more than room.
    double keptWithin(double wanted, double room) const;

    // The two panes' extents in a view of extent with a divider of thickness, the kept pane
    // getting keptWithin(keptExtent) while expanded and nothing while collapsed.
    std::pair<double, double> resize(double extent, double thickness, double keptExtent) const;
};
