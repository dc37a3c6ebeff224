// Conversions between the y-up geometry the views are specified in (origin at the bottom-left,
// y growing upwards) and Qt's y-down widget geometry. Every conversion needs the height of the
// space it happens in, so they take it explicitly instead of guessing from a widget.
#pragma once

#include <QPointF>
#include <QRectF>

namespace platform::kit {

// A rectangle given y-up inside a space of height h, as a Qt rectangle.
inline QRectF toQt(const QRectF& up, qreal h)
{
    return QRectF(up.x(), h - up.y() - up.height(), up.width(), up.height());
}

inline QPointF toQt(const QPointF& up, qreal h)
{
    return QPointF(up.x(), h - up.y());
}

// The flip is its own inverse; the separate names only say which way the caller is going.
inline QRectF toUp(const QRectF& qt, qreal h)
{
    return toQt(qt, h);
}

inline QPointF toUp(const QPointF& qt, qreal h)
{
    return toQt(qt, h);
}

} // namespace platform::kit
