#include "Platform/Kit/TrackingArea.h"

#include "Platform/Kit/Flip.h"

#include <QEnterEvent>
#include <QMouseEvent>

namespace platform::kit {

TrackingArea::TrackingArea(QWidget* view, Callbacks callbacks, bool reportMoves)
    : QObject(view)
    , m_view(view)
    , m_callbacks(std::move(callbacks))
    , m_reportMoves(reportMoves)
{
    m_hadMouseTracking = view->hasMouseTracking();
    // Moves inside a fixed rectangle can only be told apart with tracking on.
    view->setMouseTracking(true);
    view->installEventFilter(this);
}

TrackingArea::~TrackingArea()
{
    if (m_view) {
        m_view->removeEventFilter(this);
        m_view->setMouseTracking(m_hadMouseTracking);
    }
}

QRectF TrackingArea::rectUp() const
{
    if (!m_view)
        return {};
    const QRectF base = m_fixed.value_or(QRectF(0, 0, m_view->width(), m_view->height()));
    return base.adjusted(-m_inflation, -m_inflation, m_inflation, m_inflation);
}

void TrackingArea::update(const std::optional<QPointF>& qtPoint)
{
    const bool inside = qtPoint && m_view && rectUp().contains(toUp(*qtPoint, m_view->height()));
    if (inside != m_inside) {
        m_inside = inside;
        if (inside && m_callbacks.entered)
            m_callbacks.entered();
        else if (!inside && m_callbacks.exited)
            m_callbacks.exited();
    }
    if (inside && m_reportMoves && m_callbacks.moved && qtPoint)
        m_callbacks.moved(toUp(*qtPoint, m_view->height()));
}

bool TrackingArea::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_view)
        return false;
    switch (event->type()) {
    case QEvent::Enter:
        update(static_cast<QEnterEvent*>(event)->position());
        break;
    case QEvent::MouseMove:
        update(static_cast<QMouseEvent*>(event)->position());
        break;
    case QEvent::Leave:
    case QEvent::Hide:
        update(std::nullopt);
        break;
    default:
        break;
    }
    return false;
}

} // namespace platform::kit
