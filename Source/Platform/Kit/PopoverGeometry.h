// Where a popover stands: pure arithmetic of rectangles, shared by both popover forms.
//
// Edges are named as the program names them, in y-up terms of the anchor rectangle as it is
// seen on screen: MaxY is its top edge (the popover stands above), MinY its bottom edge (below),
// MinX its left and MaxX its right. All rectangles here are Qt rectangles (y-down) in one
// coordinate space: global screen coordinates for a Popup, the window's for an Overlay.
#pragma once

#include <QRect>
#include <QSize>

namespace platform::kit {

enum class PopoverEdge { MinX, MinY, MaxX, MaxY };

// For anchors in views whose given geometry is y-down (flipped): their "max Y" is the bottom
// edge on screen.
PopoverEdge flippedEdge(PopoverEdge edge);
PopoverEdge oppositeEdge(PopoverEdge edge);
bool isVerticalEdge(PopoverEdge edge);   // MinY or MaxY: the popover stands above or below

namespace popover_metrics {
inline constexpr int kArrowLength = 9;     // from the body to the tip
inline constexpr int kArrowBase = 18;
inline constexpr int kCornerRadius = 6;
inline constexpr int kBorder = 1;          // between the body's edge and the content
} // namespace popover_metrics

struct PopoverPlacement {
    QRect frame;             // the whole popover, arrow included
    QRect body;              // the rounded body, in frame coordinates
    PopoverEdge edge;        // the anchor edge it stands at, after flipping
    int arrowCenter = 0;     // along the arrow side, in frame coordinates
};

// The popover's body holds bodySize (content plus border). It stands at the preferred edge when
// it fits between the anchor and the bounds there, else at the opposite edge when that fits,
// else at the edge with the most room (the preferred one on a tie); along the other axis it is
// centred on the anchor. The frame is then pushed inside the bounds (at their top-left when it
// is larger) and the arrow stays over the anchor as far as the body's rounded corners allow.
PopoverPlacement placePopover(const QRect& anchor, const QSize& bodySize, PopoverEdge preferred, const QRect& bounds);

} // namespace platform::kit
