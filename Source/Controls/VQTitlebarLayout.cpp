#include "Controls/VQTitlebarLayout.h"

#include <algorithm>
#include <cmath>

namespace vqtitlebar {

QRectF containerFrame(const QSizeF& frame, double titleBarHeight)
{
    return QRectF(0, frame.height() - titleBarHeight, frame.width(), titleBarHeight);
}

TrafficLights layoutTrafficLights(const QRectF& C, const TrafficLights& buttons, const TrafficLightOptions& o)
{
    TrafficLights out = buttons;
    if (!o.vertical) {
        const double y = o.centered ? std::round(C.y() + C.height() / 2 - buttons.close.height() / 2)
                                    : C.y() + C.height() - buttons.close.height() - o.topMargin;
        out.close.moveTo(o.leftMargin, y);
        out.minimize.moveTo(out.close.x() + out.close.width() + o.separation, y);
        out.zoom.moveTo(out.minimize.x() + out.minimize.width() + o.separation, y);
        return out;
    }
    // Stacked, the gaps are two points tighter than the separation.
    const double gap = o.separation - 2.0;
    const double total = buttons.close.height() + buttons.minimize.height() + buttons.zoom.height() + 2 * gap;
    const double bottom = o.centered ? std::round(C.y() + C.height() / 2 - total / 2)
                                     : C.y() + C.height() - total - o.topMargin;
    out.zoom.moveTo(o.leftMargin, bottom);
    out.minimize.moveTo(o.leftMargin, out.zoom.y() + out.zoom.height() + gap);
    out.close.moveTo(o.leftMargin, out.minimize.y() + out.minimize.height() + gap);
    return out;
}

double currentRightMargin(const QRectF& C, const QRectF& button)
{
    return C.width() - (button.x() + button.width());
}

QRectF layoutFullScreenButton(const QRectF& C, const QRectF& button, double rightMargin, bool centered, double topMargin)
{
    const double x = C.width() - button.width() - rightMargin;
    const double y = centered ? std::round(C.y() + C.height() / 2 - button.height() / 2)
                              : C.y() + C.height() - button.height() - topMargin;
    return QRectF(QPointF(x, y), button.size());
}

QRectF contentFrame(const QRectF& content, double windowHeight, double titleBarHeight)
{
    return QRectF(content.x(), content.y(), content.width(), std::max(0.0, windowHeight - titleBarHeight));
}

QRectF sheetFrame(const QRectF& proposed, double windowHeight, double titleBarHeight)
{
    QRectF r = proposed;
    r.moveTop(windowHeight - titleBarHeight);
    return r;
}

QRect toQt(const QRectF& up, double h)
{
    return QRectF(up.x(), h - up.y() - up.height(), up.width(), up.height()).toRect();
}

QRect resizedGeometry(const QRect& start, Qt::Edges edges, const QPoint& delta, const QSize& minimum, const QSize& maximum)
{
    int left = start.left(), top = start.top();
    int right = start.x() + start.width(), bottom = start.y() + start.height();
    const int minW = std::max(minimum.width(), 1), minH = std::max(minimum.height(), 1);
    const int maxW = std::max(maximum.width(), minW), maxH = std::max(maximum.height(), minH);
    if (edges & Qt::LeftEdge)
        left = std::clamp(left + delta.x(), right - maxW, right - minW);
    if (edges & Qt::RightEdge)
        right = std::clamp(right + delta.x(), left + minW, left + maxW);
    if (edges & Qt::TopEdge)
        top = std::clamp(top + delta.y(), bottom - maxH, bottom - minH);
    if (edges & Qt::BottomEdge)
        bottom = std::clamp(bottom + delta.y(), top + minH, top + maxH);
    return QRect(left, top, right - left, bottom - top);
}

} // namespace vqtitlebar
