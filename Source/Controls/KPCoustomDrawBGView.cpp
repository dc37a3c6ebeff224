#include "Controls/KPCoustomDrawBGView.h"

#include <QMouseEvent>
#include <QPainter>

KPCoustomDrawBGView::KPCoustomDrawBGView(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
}

void KPCoustomDrawBGView::setDrawBackgroudWithSelector(DrawHandler draw)
{
    m_draw = std::move(draw);
    update();
}

void KPCoustomDrawBGView::setTrackMouseMoveEvent(bool track)
{
    m_track = track;
    // The tracked rectangle is always the current bounds, so a new frame needs no rebuild.
    setMouseTracking(track);
}

void KPCoustomDrawBGView::setBgColor(std::optional<QColor> color)
{
    m_bgColor = std::move(color);
    update();
}

void KPCoustomDrawBGView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (m_bgColor)
        painter.fillRect(rect(), *m_bgColor);
    if (m_draw) {
        const QRect dirty = event->rect();
        m_draw(this, painter, QRectF(dirty.x(), height() - dirty.y() - dirty.height(), dirty.width(), dirty.height()));
    }
}

void KPCoustomDrawBGView::forward(QEvent* event)
{
    if (m_mouse)
        m_mouse(event);
}

void KPCoustomDrawBGView::mousePressEvent(QMouseEvent* event) { forward(event); }
void KPCoustomDrawBGView::mouseReleaseEvent(QMouseEvent* event) { forward(event); }

void KPCoustomDrawBGView::mouseMoveEvent(QMouseEvent* event)
{
    // Moves with a button held are drags, which the owner does not ask for.
    if (m_track && event->buttons() == Qt::NoButton)
        forward(event);
}

void KPCoustomDrawBGView::enterEvent(QEnterEvent* event)
{
    if (m_track)
        forward(event);
}

void KPCoustomDrawBGView::leaveEvent(QEvent* event)
{
    if (m_track)
        forward(event);
}
