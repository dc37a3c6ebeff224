#include "MainWindow/KPSplitView.h"

#include "Platform/Foundation/NotificationCenter.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

// The divider: a line in the view's colour, dragged through the view's constraints.
class KPSplitViewHandle : public QSplitterHandle {
public:
    KPSplitViewHandle(Qt::Orientation orientation, KPSplitView* view)
        : QSplitterHandle(orientation, view)
        , m_view(view)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        // A thin divider is given a wider grab area around it; only the line itself is drawn
        // (the mask that hides the rest is not honoured by every renderer).
        QPainter painter(this);
        painter.fillRect(contentsRect(), orientation() == Qt::Horizontal ? m_view->lineColor() : QColor::fromRgbF(0.75, 0.75, 0.75));
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            m_grab = along(event->position());
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!(event->buttons() & Qt::LeftButton))
            return;
        const QPointF inView = mapTo(m_view, event->position().toPoint());
        m_view->dragDividerTo(int(std::lround(along(inView) - m_grab)));
    }
    void mouseReleaseEvent(QMouseEvent*) override {}
    void mouseDoubleClickEvent(QMouseEvent*) override { m_view->toggleCollapse(); }

private:
    double along(const QPointF& p) const { return orientation() == Qt::Horizontal ? p.x() : p.y(); }

    KPSplitView* m_view;
    double m_grab = 0;
};

int layingOut = 0;

// Marks a split view's placing of its panes, nested ones included (main thread only).
struct LayingOut {
    LayingOut() { ++layingOut; }
    ~LayingOut() { --layingOut; }
    LayingOut(const LayingOut&) = delete;
    LayingOut& operator=(const LayingOut&) = delete;
};

} // namespace

KPSplitView::KPSplitView(bool sideBySide, QWidget* parent)
    : QSplitter(sideBySide ? Qt::Horizontal : Qt::Vertical, parent)
{
    m_geometry.sideBySide = sideBySide;
    setChildrenCollapsible(false);
    setHandleWidth(int(m_geometry.dividerThickness()));
}

KPSplitView::~KPSplitView() = default;

QSplitterHandle* KPSplitView::createHandle()
{
    return new KPSplitViewHandle(orientation(), this);
}

void KPSplitView::setIsExpand(bool expand)
{
    m_geometry.isExpand = expand;
    setHandleWidth(int(m_geometry.dividerThickness()));
}

void KPSplitView::setCanCollapseIndex(int index)
{
    m_geometry.canCollapseIndex = index;
}

void KPSplitView::setLineColor(const QColor& color)
{
    m_lineColor = color;
    for (int i = 0; i < count(); ++i)
        handle(i)->update();
}

int KPSplitView::extent() const
{
    return m_geometry.sideBySide ? width() : height();
}

double KPSplitView::paneExtent(int index) const
{
    if (index >= count())
        return 0;
    const QList<int> s = sizes();
    return index < s.size() ? s[index] : 0;
}

bool KPSplitView::isLayingOut()
{
    return layingOut > 0;
}

double KPSplitView::keptExtent() const
{
    if (m_keptExtent >= 0)
        return m_keptExtent;
    return paneExtent(m_geometry.keepsFirst() ? 0 : 1);
}

void KPSplitView::setOtherMinimum(double value)
{
    if (value == m_geometry.otherMinimum)
        return;
    m_geometry.otherMinimum = value;
    // A collapsed pane gives the other one everything already.
    if (count() < 2 || !m_geometry.isExpand)
        return;
    const auto [first, second] = m_geometry.resize(extent(), handleWidth(), keptExtent());
    apply(first, second);
    didResizeSubviews();
}

void KPSplitView::collapse()
{
    if (!m_geometry.canCollapse() || count() < 2)
        return;
    // The extent it expands to again is the one it was given, not one it gave way to.
    const bool first = m_geometry.keepsFirst();
    const double position =
        m_geometry.collapse(first ? keptExtent() : paneExtent(0), first ? paneExtent(1) : keptExtent(), extent());
    setHandleWidth(int(m_geometry.dividerThickness()));
    moveDivider(position);
}

void KPSplitView::expand()
{
    if (count() < 2)
        return;
    const double position = m_geometry.expand(extent());
    setHandleWidth(int(m_geometry.dividerThickness()));
    moveDivider(position);
}

void KPSplitView::expandWithValue(double value)
{
    if (count() < 2)
        return;
    const double position = m_geometry.expandWithValue(value, extent());
    setHandleWidth(int(m_geometry.dividerThickness()));
    moveDivider(position);
}

void KPSplitView::toggleCollapse()
{
    if (!m_geometry.canCollapse())
        return;
    if (m_geometry.isExpand)
        collapse();
    else
        expand();
}

void KPSplitView::dragDividerTo(int position)
{
    if (count() < 2 || !m_geometry.isExpand)
        return;
    // The handle's leading edge; a kept trailing pane starts after the divider.
    const double divider = m_geometry.keepsFirst() ? position : position + handleWidth();
    moveDivider(m_geometry.constrain(divider, extent()), false);
}

void KPSplitView::moveDivider(double position, bool remember)
{
    // The divider lies on the far side of the kept pane: a kept trailing pane of width w
    // begins exactly w before the end.
    const double room = std::max(0.0, double(extent() - handleWidth()));
    const double asked = m_geometry.keepsFirst() ? position : extent() - position;
    const double kept = m_geometry.isExpand ? m_geometry.keptWithin(asked, room) : 0.0;
    if (m_geometry.isExpand)
        m_keptExtent = remember ? asked : kept;
    if (m_geometry.keepsFirst())
        apply(kept, room - kept);
    else
        apply(room - kept, kept);
    didResizeSubviews();
}

void KPSplitView::apply(double first, double second)
{
    QList<int> s(count(), 0);
    s[0] = int(std::lround(first));
    s[1] = int(std::lround(second));
    const LayingOut placing;
    setSizes(s);
    m_leftViewWidth = m_geometry.sideBySide ? s[0] : width();
    m_rightViewWidth = m_geometry.sideBySide ? s[1] : width();
}

void KPSplitView::resizeEvent(QResizeEvent* event)
{
    // The kept pane's extent before Qt shares the new size out by its own rules.
    const double kept = count() >= 2 ? keptExtent() : 0;
    {
        const LayingOut placing;
        QSplitter::resizeEvent(event);
        if (count() < 2)
            return;
        const auto [first, second] = m_geometry.resize(extent(), handleWidth(), kept);
        apply(first, second);
    }
    didResizeSubviews();
}

void KPSplitView::didResizeSubviews()
{
    if (!m_geometry.canCollapse() || count() < 2)
        return;
    const bool collapsed = paneExtent(m_geometry.canCollapseIndex) <= 0;
    setIsExpand(!collapsed);
    platform::NotificationCenter::defaultCenter().post(kToggledNotification, QVariant::fromValue<QObject*>(this));
}

void KPSplitView::updateRightViewPosition()
{
    if (m_geometry.sideBySide || count() < 2)
        return;
    const auto children = widget(1)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    if (!children.isEmpty())
        children.first()->move(0, 0);
}
