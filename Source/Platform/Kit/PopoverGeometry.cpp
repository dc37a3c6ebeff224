#include "Platform/Kit/PopoverGeometry.h"

#include <algorithm>
#include <array>

namespace platform::kit {

using namespace popover_metrics;

PopoverEdge flippedEdge(PopoverEdge edge)
{
    switch (edge) {
    case PopoverEdge::MinY:
        return PopoverEdge::MaxY;
    case PopoverEdge::MaxY:
        return PopoverEdge::MinY;
    default:
        return edge;
    }
}

PopoverEdge oppositeEdge(PopoverEdge edge)
{
    switch (edge) {
    case PopoverEdge::MinX:
        return PopoverEdge::MaxX;
    case PopoverEdge::MaxX:
        return PopoverEdge::MinX;
    case PopoverEdge::MinY:
        return PopoverEdge::MaxY;
    case PopoverEdge::MaxY:
        return PopoverEdge::MinY;
    }
    return edge;
}

bool isVerticalEdge(PopoverEdge edge)
{
    return edge == PopoverEdge::MinY || edge == PopoverEdge::MaxY;
}

namespace {

// Exclusive edges: QRect's right()/bottom() are one short of them.
int rightOf(const QRect& r) { return r.x() + r.width(); }
int bottomOf(const QRect& r) { return r.y() + r.height(); }

// Space between the anchor and the bounds on the side of edge.
int roomAt(PopoverEdge edge, const QRect& anchor, const QRect& bounds)
{
    switch (edge) {
    case PopoverEdge::MinX:
        return anchor.x() - bounds.x();
    case PopoverEdge::MaxX:
        return rightOf(bounds) - rightOf(anchor);
    case PopoverEdge::MinY:
        return bottomOf(bounds) - bottomOf(anchor);
    case PopoverEdge::MaxY:
        return anchor.y() - bounds.y();
    }
    return 0;
}

QSize frameSizeAt(PopoverEdge edge, const QSize& body)
{
    return isVerticalEdge(edge) ? QSize(body.width(), body.height() + kArrowLength)
                                : QSize(body.width() + kArrowLength, body.height());
}

int clampInto(int pos, int length, int lo, int hiExclusive)
{
    return std::max(lo, std::min(pos, hiExclusive - length));
}

PopoverEdge chooseEdge(const QRect& anchor, const QSize& body, PopoverEdge preferred, const QRect& bounds)
{
    auto slack = [&](PopoverEdge e) {
        const QSize f = frameSizeAt(e, body);
        return roomAt(e, anchor, bounds) - (isVerticalEdge(e) ? f.height() : f.width());
    };
    const PopoverEdge opposite = oppositeEdge(preferred);
    if (slack(preferred) >= 0)
        return preferred;
    if (slack(opposite) >= 0)
        return opposite;
    const std::array<PopoverEdge, 4> order = {
        preferred, opposite,
        isVerticalEdge(preferred) ? PopoverEdge::MinX : PopoverEdge::MinY,
        isVerticalEdge(preferred) ? PopoverEdge::MaxX : PopoverEdge::MaxY,
    };
    PopoverEdge best = preferred;
    for (PopoverEdge e : order) {
        if (slack(e) > slack(best))
            best = e;
    }
    return best;
}

} // namespace

PopoverPlacement placePopover(const QRect& anchor, const QSize& bodySize, PopoverEdge preferred, const QRect& bounds)
{
    PopoverPlacement p;
    p.edge = chooseEdge(anchor, bodySize, preferred, bounds);
    const QSize size = frameSizeAt(p.edge, bodySize);
    const int anchorMidX = anchor.x() + anchor.width() / 2;
    const int anchorMidY = anchor.y() + anchor.height() / 2;

    QPoint origin;
    switch (p.edge) {
    case PopoverEdge::MinX:
        origin = {anchor.x() - size.width(), anchorMidY - size.height() / 2};
        break;
    case PopoverEdge::MaxX:
        origin = {rightOf(anchor), anchorMidY - size.height() / 2};
        break;
    case PopoverEdge::MinY:
        origin = {anchorMidX - size.width() / 2, bottomOf(anchor)};
        break;
    case PopoverEdge::MaxY:
        origin = {anchorMidX - size.width() / 2, anchor.y() - size.height()};
        break;
    }
    origin.setX(clampInto(origin.x(), size.width(), bounds.x(), rightOf(bounds)));
    origin.setY(clampInto(origin.y(), size.height(), bounds.y(), bottomOf(bounds)));
    p.frame = QRect(origin, size);

    switch (p.edge) {
    case PopoverEdge::MinX:   // the popover is left of the anchor: arrow on its right side
        p.body = QRect(0, 0, bodySize.width(), bodySize.height());
        break;
    case PopoverEdge::MaxX:
        p.body = QRect(kArrowLength, 0, bodySize.width(), bodySize.height());
        break;
    case PopoverEdge::MinY:   // below the anchor: arrow on its top side
        p.body = QRect(0, kArrowLength, bodySize.width(), bodySize.height());
        break;
    case PopoverEdge::MaxY:
        p.body = QRect(0, 0, bodySize.width(), bodySize.height());
        break;
    }

    const int along = isVerticalEdge(p.edge) ? anchorMidX - origin.x() : anchorMidY - origin.y();
    const int length = isVerticalEdge(p.edge) ? size.width() : size.height();
    const int margin = kCornerRadius + kArrowBase / 2;
    p.arrowCenter = length >= 2 * margin ? std::clamp(along, margin, length - margin) : length / 2;
    return p;
}

} // namespace platform::kit
