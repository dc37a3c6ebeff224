#include "Scanner/UI/KPScanAreaView.h"

#include "Scanner/KPScanArea.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
// The view's own margin, so the selection's outline stays visible at the overview's edges.
constexpr double kInset = 4;
} // namespace

KPScanAreaView::KPScanAreaView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ScanOverview"));
    setMinimumSize(200, 200);
    setCursor(Qt::CrossCursor);
}

void KPScanAreaView::setOverview(const QImage& image)
{
    m_overview = image;
    m_dragging = false;
    clearSelection();
    update();
}

void KPScanAreaView::clearSelection()
{
    if (m_selection.isEmpty())
        return;
    m_selection = {};
    update();
    if (selectionChanged)
        selectionChanged(m_selection);
}

QRectF KPScanAreaView::shownRect() const
{
    return KPScanArea::fittedRect(m_overview.size(), QRectF(rect()).adjusted(kInset, kInset, -kInset, -kInset));
}

void KPScanAreaView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0xa5, 0xa9, 0xae));
    const QRectF shown = shownRect();
    if (shown.isEmpty())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(shown, m_overview);
    const QRectF selected = KPScanArea::shownSelection(m_selection, shown);
    if (selected.isEmpty())
        return;
    QPainterPath outside;
    outside.addRect(shown);
    outside.addRect(selected);
    painter.fillPath(outside, QColor(0, 0, 0, 110));
    painter.setPen(QPen(QColor(0x2a, 0x7a, 0xe2), 1.5, Qt::DashLine));
    painter.drawRect(selected);
}

void KPScanAreaView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_overview.isNull()) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragFrom = event->position();
}

void KPScanAreaView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        dragTo(event->position());
}

void KPScanAreaView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    dragTo(event->position());
    if (selectionChanged)
        selectionChanged(m_selection);
}

void KPScanAreaView::dragTo(const QPointF& point)
{
    m_selection = KPScanArea::selectionFromDrag(m_dragFrom, point, shownRect());
    update();
}
