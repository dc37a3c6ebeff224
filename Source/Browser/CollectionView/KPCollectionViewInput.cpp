// Selection, mouse, keys, gestures and drops of the grid.
#include "Browser/CollectionView/KPCollectionDrawRectView.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Input.h"
#include "Platform/Kit/Pasteboard.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <utility>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QScrollBar>
#include <QTouchEvent>
#include <QWheelEvent>
#include <QtMath>
#include <cmath>

using platform::kit::Input;

// ---------------------------------------------------------------------------------------------
// Selection operations

void KPCollectionView::doCollectionViewItemSelectedNotify()
{
    if (m_selectionNotificationsHeld > 0) {
        m_selectionNotificationMissed = true;
        return;
    }
    if (m_delegate)
        m_delegate->collectionViewItemDidSelected(this);
}

KPCollectionView::SelectionNotificationsHeld::SelectionNotificationsHeld(KPCollectionView* view)
    : m_view(view)
{
    if (m_view)
        ++m_view->m_selectionNotificationsHeld;
}

KPCollectionView::SelectionNotificationsHeld::~SelectionNotificationsHeld()
{
    if (!m_view || --m_view->m_selectionNotificationsHeld > 0)
        return;
    if (std::exchange(m_view->m_selectionNotificationMissed, false))
        m_view->doCollectionViewItemSelectedNotify();
}

void KPCollectionView::selectItemIndexWithSectionIndexSet(const KPSectionIndexSet& indexSet)
{
    m_selection.assign({indexSet});
    scrollItemWithSectionIndexSet(indexSet);
    redisplayVisible();
    doCollectionViewItemSelectedNotify();
}

void KPCollectionView::selectItemIndexWithSectionIndexSets(const QList<KPSectionIndexSet>& indexSets)
{
    if (indexSets.isEmpty())
        return;
    m_selection.assign(indexSets);
    scrollItemWithSectionIndexSet(indexSets.first());
    redisplayVisible();
    doCollectionViewItemSelectedNotify();
}

void KPCollectionView::selectAll()
{
    if (!m_enabled)
        return;
    QList<KPSectionIndexSet> all;
    const qint64 sections = sectionCount();
    for (qint64 s = 0; s < sections; ++s) {
        const qint64 count = itemCountWithSectionIndex(s);
        for (qint64 i = 0; i < count; ++i)
            all.append(KPSectionIndexSet(s, i));
    }
    m_selection.assign(all);
    redisplayVisible();
}

void KPCollectionView::deselect()
{
    if (!m_enabled)
        return;
    m_selection.clear();
    redisplayVisible();
}

void KPCollectionView::doSelectViewItemWithEvent(QMouseEvent* event)
{
    if (!m_allowSelection || !event)
        return;
    setFocus(Qt::MouseFocusReason);
    const auto clicked = itemIndexSetWithPoint(contentPointFromGlobal(event->globalPosition()));
    const Qt::KeyboardModifiers mods = event->modifiers();
    const auto click = (mods & Qt::ControlModifier) ? KPCollectionSelection::Click::Toggle
        : (mods & Qt::ShiftModifier)               ? KPCollectionSelection::Click::Range
                                                   : KPCollectionSelection::Click::Plain;
    m_selectAloneAtRelease.reset();
    if (click == KPCollectionSelection::Click::Plain && clicked && m_selection.contains(*clicked) && m_selection.size() > 1)
        m_selectAloneAtRelease = clicked;
    const bool changed = m_selection.applyClick(clicked, click, [this](qint64 s) { return itemCountWithSectionIndex(s); });
    if (!changed)
        return;
    doCollectionViewItemSelectedNotify();
    redisplayVisible();
}

void KPCollectionView::doFinishItemClick(bool dragged)
{
    const std::optional<KPSectionIndexSet> alone = std::exchange(m_selectAloneAtRelease, std::nullopt);
    if (dragged || !alone || !m_allowSelection || !m_selection.contains(*alone) || m_selection.size() < 2)
        return;
    m_selection.assign({*alone});
    doCollectionViewItemSelectedNotify();
    redisplayVisible();
}

// ---------------------------------------------------------------------------------------------
// Mouse

void KPCollectionView::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    // The mouse's Back and Forward buttons stand in for the horizontal swipe: Back is the
    // fingers moving right, which the window takes as going back.
    if (event->button() == Qt::BackButton || event->button() == Qt::ForwardButton) {
        if (m_delegate)
            m_delegate->collectionViewSwipeChange(this, event->button() == Qt::BackButton
                                                            ? KPCollectionViewDelegate::kSwipeRight
                                                            : KPCollectionViewDelegate::kSwipeLeft);
        return;
    }
    if (!m_enabled)
        return;
    if (Input::isContextClick(event)) {
        rightMouseDown(event);
        return;
    }
    if (event->button() == Qt::LeftButton)
        backgroundMouseDown(event);
}

void KPCollectionView::backgroundMouseDown(QMouseEvent* event)
{
    if (m_trackingBackground)
        endRegion();
    setFocus(Qt::MouseFocusReason);
    m_mouseDownFirstPoint = contentPointFromGlobal(event->globalPosition());
    if (!m_allowSelection)
        return;
    if (!(event->modifiers() & Qt::ControlModifier) && m_selection.clear()) {
        doCollectionViewItemSelectedNotify();
        redisplayVisible();
    }
    m_trackingBackground = true;
    // The press may have landed on a section or item view that passed it on; the drag that
    // follows must reach the grid even when that view scrolls away.
    viewport()->grabMouse();
}

void KPCollectionView::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF point = viewport()->mapFromGlobal(event->globalPosition());
    if (m_trackingBackground && (event->buttons() & Qt::LeftButton)) {
        if (m_allowRegionSelection && !m_bandView) {
            m_bandView = new KPCollectionDrawRectView(viewport());
            m_bandView->setGeometry(viewport()->rect());
            m_bandView->raise();
            m_bandView->show();
        }
        dragRegion(point);
        return;
    }
    if (event->buttons() == Qt::NoButton)
        hover(point);
}

void KPCollectionView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_trackingBackground)
        return;
    event->accept();
    endRegion();
}

void KPCollectionView::dragRegion(const QPointF& viewportPoint)
{
    m_lastDragPoint = viewportPoint;
    if (m_allowSelection && m_allowRegionSelection) {
        m_regionSelecting = true;
        const QPointF p(viewportPoint.x(), visibleTop() - viewportPoint.y());
        QRectF band(m_mouseDownFirstPoint, QSizeF(p.x() - m_mouseDownFirstPoint.x(), p.y() - m_mouseDownFirstPoint.y()));
        if (band.width() < 0)
            band = QRectF(p.x(), band.y(), std::trunc(-band.width()), band.height());
        if (band.height() < 0)
            band = QRectF(band.x(), p.y(), band.width(), std::trunc(-band.height()));
        m_selectingRect = band;

        QSet<KPSectionIndexSet> hits;
        for (const KPSectionIndexSet& hit : itemIndexsWithRect(band))
            hits.insert(hit);
        for (const KPSectionIndexSet& taken : QList<KPSectionIndexSet>(m_tmpRegionSelecteds.list())) {
            if (!hits.contains(taken))
                m_tmpRegionSelecteds.remove(taken);
        }
        const QRectF visible = visibleRect();
        updateDisplayWithRect(visible);
        if (m_bandView) {
            // Section views that arrived with the display stack above it otherwise.
            m_bandView->raise();
            m_bandView->setGeometry(viewport()->rect());
            m_bandView->drawFrameWithRect(band.intersected(visible).translated(0, -visible.y()));
        }
    }
    // Past the top or bottom edge the content follows the pointer, one step per tick.
    const double height = viewport()->height();
    const bool outside = viewportPoint.y() < 0 || viewportPoint.y() > height;
    if (!outside)
        m_autoscroll.cancel();
    else if (!m_autoscroll.isActive())
        m_autoscroll = platform::kit::Scheduler::current().every(kAutoscrollIntervalMs, [this] { autoscrollStep(); });
}

void KPCollectionView::autoscrollStep()
{
    const double height = viewport()->height();
    const double y = m_lastDragPoint.y();
    const double overshoot = y < 0 ? y : (y > height ? y - height : 0);
    if (!m_trackingBackground || overshoot == 0) {
        m_autoscroll.cancel();
        return;
    }
    const int before = verticalScrollBar()->value();
    setScrollTop(before + int(std::clamp(std::round(overshoot), -height, height)));
    if (verticalScrollBar()->value() == before)
        return;
    dragRegion(m_lastDragPoint);
}

void KPCollectionView::endRegion()
{
    if (QWidget::mouseGrabber() == viewport())
        viewport()->releaseMouse();
    if (m_bandView)
        m_bandView->removeFromSuperview();
    m_bandView = nullptr;
    m_regionSelecting = false;
    m_trackingBackground = false;
    m_tmpRegionSelecteds.clear();
    m_autoscroll.cancel();
    viewport()->update();
}

void KPCollectionView::hover(const QPointF& viewportPoint)
{
    const QPointF p(viewportPoint.x(), visibleTop() - viewportPoint.y());
    const auto address = itemIndexSetWithPoint(p);
    if (address == m_lastMoveIndexSet)
        return;
    endHover();
    if (!address)
        return;
    KPCollectionItemView* item = m_visibleItemViews.value(*address);
    const auto section = sectionRect(address->sectionIndex());
    if (!item || !section)
        return;
    const QPointF inItem = p - section->topLeft() - item->frameUp().topLeft();
    if (item->trackMouseEnterWithEvent(inItem)) {
        item->mouseEntered(inItem);
        m_lastMoveIndexSet = address;
    }
}

void KPCollectionView::endHover()
{
    if (!m_lastMoveIndexSet)
        return;
    KPCollectionItemView* item = m_visibleItemViews.value(*m_lastMoveIndexSet);
    m_lastMoveIndexSet.reset();
    if (item)
        item->mouseExited();
}

void KPCollectionView::rightMouseDown(QMouseEvent* event)
{
    const auto clicked = itemIndexSetWithPoint(contentPointFromGlobal(event->globalPosition()));
    if (!clicked) {
        if (m_selection.clear()) {
            redisplayVisible();
            doCollectionViewItemSelectedNotify();
        }
        return;
    }
    bool changed = false;
    if (!(m_selection.size() >= 2 && m_selection.contains(*clicked))) {
        changed = m_selection.assign({*clicked});
        scrollItemWithSectionIndexSet(clicked);
    }
    redisplayVisible();
    // Told before the menu shows, so what describes the selection matches what the menu acts on.
    if (changed)
        doCollectionViewItemSelectedNotify();
    if (!m_delegate)
        return;
    std::unique_ptr<QMenu> menu = m_delegate->collectionViewMenu(this, *clicked);
    if (!menu)
        return;
    QMenu* shown = menu.release();
    shown->setParent(this, shown->windowFlags());
    shown->setAttribute(Qt::WA_DeleteOnClose);
    shown->setFont(platform::kit::FontResolver::systemFont(11));
    shown->popup(event->globalPosition().toPoint());
}

// ---------------------------------------------------------------------------------------------
// Keys and wheel

void KPCollectionView::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    if (!m_enabled)
        return;
    // Modifier keys alone are no key presses of their own to the window.
    if (platform::kit::Input::isModifierKey(event->key()))
        return;
    if (event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier)) {
        selectAll();
        doCollectionViewItemSelectedNotify();
        return;
    }
    if (Input::keyCharacter(event) == platform::kit::keychar::Escape) {
        deselect();
        doCollectionViewItemSelectedNotify();
    }
    if (m_delegate)
        m_delegate->collectionViewKeyDown(this, event);
}

void KPCollectionView::wheelEvent(QWheelEvent* event)
{
    if (!m_enabled) {
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Viewport events: hover leaving, gestures

bool KPCollectionView::viewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Leave:
        endHover();
        break;
    case QEvent::NativeGesture:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        handleGesture(event);
        return event->isAccepted();
    default:
        break;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void KPCollectionView::handleGesture(QEvent* event)
{
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() != Qt::SwipeNativeGesture) {
            event->ignore();
            return;
        }
        // The platform already judged it a swipe; only its direction is read.
        double dx = gesture->delta().x();
        if (dx == 0)
            dx = std::cos(qDegreesToRadians(gesture->value()));
        if (std::fabs(dx) > 1e-6 && m_delegate)
            m_delegate->collectionViewSwipeChange(this, dx > 0 ? KPCollectionViewDelegate::kSwipeRight
                                                               : KPCollectionViewDelegate::kSwipeLeft);
        event->accept();
        return;
    }
    auto* touch = static_cast<QTouchEvent*>(event);
    // Touch screens keep their synthesised mouse events; only touch pads swipe.
    if (!touch->device() || touch->device()->type() != QInputDevice::DeviceType::TouchPad) {
        event->ignore();
        return;
    }
    QHash<int, float> points;
    for (const QEventPoint& point : touch->points())
        points.insert(point.id(), float(point.normalizedPosition().x()));
    switch (event->type()) {
    case QEvent::TouchBegin:
        m_swipe.begin(points);
        break;
    case QEvent::TouchUpdate:
        for (const QEventPoint& point : touch->points()) {
            if (point.state() == QEventPoint::Pressed)
                m_swipe.record(point.id(), float(point.normalizedPosition().x()));
        }
        break;
    case QEvent::TouchEnd:
        if (const auto type = m_swipe.end(points); type && m_delegate)
            m_delegate->collectionViewSwipeChange(this, *type);
        break;
    default:
        m_swipe.begin({});
        break;
    }
    event->accept();
}

// ---------------------------------------------------------------------------------------------
// Drops

bool KPCollectionView::acceptsDrag(const QDropEvent* event) const
{
    return event->mimeData() && event->mimeData()->hasFormat(platform::kit::pasteboard::kFileNames);
}

void KPCollectionView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!acceptsDrag(event)) {
        event->ignore();
        return;
    }
    const auto answer = m_delegate ? m_delegate->onCollectionViewDraggingEnter(this, event) : std::nullopt;
    m_enteredDropAction = answer.value_or(Qt::IgnoreAction);
    event->setDropAction(*m_enteredDropAction);
    // Taken even when nothing is offered yet, so the moves and the exit keep coming.
    event->accept();
}

void KPCollectionView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!acceptsDrag(event)) {
        event->ignore();
        return;
    }
    const auto answer = m_delegate ? m_delegate->onCollectionViewDraggingUpdated(this, event) : std::nullopt;
    const Qt::DropAction action = answer.value_or(m_enteredDropAction.value_or(Qt::IgnoreAction));
    event->setDropAction(action);
    if (action == Qt::IgnoreAction)
        event->ignore();
    else
        event->accept();
}

void KPCollectionView::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_enteredDropAction.reset();
    if (m_delegate)
        m_delegate->onCollectionViewDraggingExited(this);
    event->accept();
}

void KPCollectionView::takeDragEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
        return dragEnterEvent(static_cast<QDragEnterEvent*>(event));
    case QEvent::DragMove:
        return dragMoveEvent(static_cast<QDragMoveEvent*>(event));
    case QEvent::DragLeave:
        return dragLeaveEvent(static_cast<QDragLeaveEvent*>(event));
    case QEvent::Drop:
        return dropEvent(static_cast<QDropEvent*>(event));
    default:
        return;
    }
}

void KPCollectionView::dropEvent(QDropEvent* event)
{
    m_enteredDropAction.reset();
    if (!acceptsDrag(event) || !m_delegate || !m_delegate->onCollectionViewPerformDragOperation(this, event)) {
        event->ignore();
        return;
    }
    event->accept();
    m_delegate->onCollectionViewConcludeDragOperation(this, event);
}
