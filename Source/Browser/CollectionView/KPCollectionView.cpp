// Layout, display, reuse and hit tests of the grid. Selection and input are in
// KPCollectionViewInput.cpp, the scroll state and the animations in KPCollectionViewAnimations.cpp.
#include "Browser/CollectionView/KPCollectionView.h"

#include "Browser/CollectionView/KPCollectionDrawRectView.h"
#include "Browser/KPSectionContentLayoutManager.h"

#include <QGraphicsEffect>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Points on the lower or left edge belong to a rectangle, points on the upper or right edge do
// not, so a point between two touching rectangles hits exactly one.
bool pointInRect(const QPointF& p, const QRectF& r)
{
    return p.x() >= r.x() && p.x() < r.x() + r.width() && p.y() >= r.y() && p.y() < r.y() + r.height();
}

bool isZeroRect(const QRectF& r)
{
    return r.x() == 0 && r.y() == 0 && r.width() == 0 && r.height() == 0;
}

int roundToInt(double v)
{
    return int(std::lround(std::clamp(v, double(INT_MIN / 2), double(INT_MAX / 2))));
}

} // namespace

KPCollectionView::KPCollectionView(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always shown, so the width the layouts are computed for does not change with the content.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setSingleStep(20);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);

    auto* holder = new QWidget(this);
    holder->hide();
    holder->setAttribute(Qt::WA_DontShowOnScreen);
    m_poolHolder = holder;
    m_pool = std::make_unique<KPReusePool>(holder);
}

KPCollectionView::~KPCollectionView() = default;

void KPCollectionView::setDelegate(KPCollectionViewDelegate* delegate)
{
    m_delegate = delegate;
    m_delegateShowsNoViews = false;
}

void KPCollectionView::setEnabled(bool enabled)
{
    m_enabled = enabled;
    verticalScrollBar()->setEnabled(enabled);
}

// ---------------------------------------------------------------------------------------------
// Frame and scrolling

QSizeF KPCollectionView::scrollViewSize() const
{
    return viewport()->size();
}

QRectF KPCollectionView::refreshViewFrame()
{
    m_sectionCacheFrames.clear();
    if (!m_dataSource || !m_delegate)
        return {};
    const double contentHeight = m_delegate->collectionViewContentHeight(this);
    if (!(contentHeight > 0))
        return {};
    const QSizeF size = scrollViewSize();
    const qint64 sections = sectionCount();
    for (qint64 s = 0; s < sections; ++s)
        m_sectionCacheFrames[s] = m_delegate->collectionViewSectionRect(this, s);
    const double height = std::max(contentHeight, size.height());
    return QRectF(0, height - size.height(), size.width(), height);
}

void KPCollectionView::applyFrame(const QRectF& frame)
{
    m_frame = frame;
    const double visible = scrollViewSize().height();
    const double range = std::max(0.0, frame.height() - visible);
    verticalScrollBar()->setPageStep(std::max(1, int(visible)));
    verticalScrollBar()->setRange(0, int(std::min(std::ceil(range), double(INT_MAX))));
}

double KPCollectionView::visibleTop() const
{
    return m_frame.height() - verticalScrollBar()->value();
}

QRectF KPCollectionView::visibleRect() const
{
    if (m_frame.isEmpty())
        return {};
    const QSizeF size = scrollViewSize();
    return QRectF(0, visibleTop() - size.height(), size.width(), size.height());
}

int KPCollectionView::scrollTopForPoint(double y) const
{
    return roundToInt(m_frame.height() - scrollViewSize().height() - y);
}

void KPCollectionView::setScrollTop(int top)
{
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(std::clamp(top, bar->minimum(), bar->maximum()));
}

void KPCollectionView::scrollToPoint(const QPointF& point)
{
    setScrollTop(scrollTopForPoint(point.y()));
}

void KPCollectionView::scrollToTop()
{
    setScrollTop(0);
}

void KPCollectionView::scrollItemWithSectionIndexSet(const std::optional<KPSectionIndexSet>& indexSet)
{
    if (!indexSet)
        return;
    const QRectF r = itemRectWithSectionIndexSet(indexSet);
    const QRectF v = visibleRect();
    if (v.y() > r.y())
        scrollToPoint(QPointF(0, r.y()));
    else if (r.y() + r.height() > v.y() + v.height())
        scrollToPoint(QPointF(0, r.y() + r.height() - v.height()));
}

QPointF KPCollectionView::contentPointFromGlobal(const QPointF& global) const
{
    const QPointF local = viewport()->mapFromGlobal(global);
    return QPointF(local.x(), visibleTop() - local.y());
}

QPointF KPCollectionView::viewportPointFromContent(const QPointF& point) const
{
    return QPointF(point.x(), visibleTop() - point.y());
}

void KPCollectionView::scrollContentsBy(int, int)
{
    // The views are placed anew from the content coordinates; nothing to blit.
    onScrolled();
}

void KPCollectionView::onScrolled()
{
    if (m_layingOut)
        return;
    showVisible();
}

void KPCollectionView::showVisible()
{
    // What left the screen goes back to the pools before the delegate is asked for what came
    // into it, so even a jump across the whole content reuses every view.
    const QRectF v = visibleRect();
    removeUnvisibleViews(v);
    updateDisplayWithRect(v);
}

void KPCollectionView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

// ---------------------------------------------------------------------------------------------
// Layout

void KPCollectionView::reloadData()
{
    discardAllViews();
    m_selection.clear();
    m_lastMoveIndexSet.reset();
    const QRectF frame = refreshViewFrame();
    {
        QScopedValueRollback<bool> guard(m_layingOut, true);
        applyFrame(frame);
        scrollToTop();
    }
    redisplayVisible();
    doCollectionViewItemSelectedNotify();
}

void KPCollectionView::updateLayout()
{
    saveScrollState();
    const QRectF frame = refreshViewFrame();
    {
        QScopedValueRollback<bool> guard(m_layingOut, true);
        applyFrame(frame);
        restoreBeforeScrollState();
    }
    showVisible();
    doCollectionViewItemSelectedNotify();
}

void KPCollectionView::sectionViewDidCollapse(const KPCollectionSectionView* view)
{
    for (const auto& [index, shown] : m_usedSectionViews) {
        if (shown.view == view) {
            m_selection.removeSection(index);
            return;
        }
    }
}

void KPCollectionView::relayout()
{
    const QRectF frame = refreshViewFrame();
    {
        QScopedValueRollback<bool> guard(m_layingOut, true);
        applyFrame(frame);
    }
    showVisible();
}

void KPCollectionView::redisplayVisible()
{
    updateDisplayWithRect(visibleRect());
}

// ---------------------------------------------------------------------------------------------
// Partners' answers

qint64 KPCollectionView::sectionCount() const
{
    auto* self = const_cast<KPCollectionView*>(this);
    return m_dataSource ? std::max<qint64>(0, m_dataSource->collectionViewSectionCount(self)) : 0;
}

qint64 KPCollectionView::itemCountWithSectionIndex(qint64 sectionIndex) const
{
    auto* self = const_cast<KPCollectionView*>(this);
    return m_dataSource ? std::max<qint64>(0, m_dataSource->collectionViewItemCount(self, sectionIndex)) : 0;
}

KPSectionContentLayoutManager* KPCollectionView::layoutManagerWithSectionIndex(qint64 sectionIndex) const
{
    auto* self = const_cast<KPCollectionView*>(this);
    return m_delegate ? m_delegate->collectionViewSectionLayoutManager(self, sectionIndex) : nullptr;
}

std::optional<KPSectionItem> KPCollectionView::itemDataAtIndexSet(const std::optional<KPSectionIndexSet>& indexSet) const
{
    if (!indexSet || !m_dataSource)
        return std::nullopt;
    return m_dataSource->collectionViewSectionItemObject(const_cast<KPCollectionView*>(this), *indexSet);
}

std::optional<QRectF> KPCollectionView::sectionRect(qint64 sectionIndex) const
{
    const auto it = m_sectionCacheFrames.find(sectionIndex);
    if (it == m_sectionCacheFrames.end())
        return std::nullopt;
    return it->second;
}

// ---------------------------------------------------------------------------------------------
// Hit tests

QList<qint64> KPCollectionView::sectionIndexSetWithRect(const QRectF& rect) const
{
    QList<qint64> out;
    for (const auto& [s, frame] : m_sectionCacheFrames) {
        if (frame.intersects(rect))
            out.append(s);
    }
    return out;
}

QList<qint64> KPCollectionView::itemIndexSetWithRect(const QRectF& rect, qint64 sectionIndex, qint64 itemCount,
                                                    KPSectionContentLayoutManager* layout) const
{
    QList<qint64> out;
    const auto section = sectionRect(sectionIndex);
    if (!section || !layout || itemCount <= 0)
        return out;
    const double container = section->height();
    const double rectTop = rect.y() + rect.height();
    // Rows go downward in index order, so the first row reaching below the rectangle's top is
    // found by bisection; a section of 100,000 items then costs a few dozen questions, not a
    // walk from its first item.
    qint64 lo = 0;
    qint64 hi = itemCount;
    while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        const QRectF r = layout->itemRectOfIndex(mid, container);
        if (isZeroRect(r) || r.y() + section->y() < rectTop)
            hi = mid;
        else
            lo = mid + 1;
    }
    for (qint64 i = lo; i < itemCount; ++i) {
        const QRectF r = layout->itemRectOfIndex(i, container);
        if (isZeroRect(r))
            break;
        const QRectF inContent = r.translated(0, section->y());
        if (inContent.intersects(rect))
            out.append(i);
        if (inContent.y() + inContent.height() < rect.y())
            break;
    }
    return out;
}

QList<KPSectionIndexSet> KPCollectionView::itemIndexsWithRect(const QRectF& rect, qint64 sectionIndex) const
{
    QList<KPSectionIndexSet> out;
    const qint64 count = itemCountWithSectionIndex(sectionIndex);
    for (qint64 i : itemIndexSetWithRect(rect, sectionIndex, count, layoutManagerWithSectionIndex(sectionIndex)))
        out.append(KPSectionIndexSet(sectionIndex, i));
    return out;
}

QList<KPSectionIndexSet> KPCollectionView::itemIndexsWithRect(const QRectF& rect) const
{
    QList<KPSectionIndexSet> out;
    for (qint64 s : sectionIndexSetWithRect(rect))
        out.append(itemIndexsWithRect(rect, s));
    return out;
}

QList<KPSectionIndexSet> KPCollectionView::visibleItemIndexSets() const
{
    return itemIndexsWithRect(visibleRect());
}

QList<KPSectionIndexSet> KPCollectionView::visibleSectionIndexSets() const
{
    QList<KPSectionIndexSet> out;
    for (qint64 s : sectionIndexSetWithRect(visibleRect()))
        out.append(KPSectionIndexSet(s, 0));
    return out;
}

std::optional<KPSectionIndexSet> KPCollectionView::itemIndexSetWithPoint(const QPointF& point) const
{
    for (const auto& [s, frame] : m_sectionCacheFrames) {
        if (!pointInRect(point, frame))
            continue;
        // A one-point rectangle finds the candidates; containment decides between neighbours.
        const QRectF probe(point, QSizeF(1e-6, 1e-6));
        KPSectionContentLayoutManager* layout = layoutManagerWithSectionIndex(s);
        for (qint64 i : itemIndexSetWithRect(probe, s, itemCountWithSectionIndex(s), layout)) {
            if (pointInRect(point, layout->itemRectOfIndex(i, frame.height()).translated(0, frame.y())))
                return KPSectionIndexSet(s, i);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

QRectF KPCollectionView::itemRectWithSectionIndexSet(const std::optional<KPSectionIndexSet>& indexSet) const
{
    if (!indexSet)
        return {};
    const auto section = sectionRect(indexSet->sectionIndex());
    KPSectionContentLayoutManager* layout = section ? layoutManagerWithSectionIndex(indexSet->sectionIndex()) : nullptr;
    if (!layout)
        return {};
    return layout->itemRectOfIndex(indexSet->itemIndex(), section->height()).translated(0, section->y());
}

// ---------------------------------------------------------------------------------------------
// Views shown

QList<KPCollectionItemView*> KPCollectionView::visibleItemViews() const
{
    QList<KPSectionIndexSet> keys = m_visibleItemViews.keys();
    std::sort(keys.begin(), keys.end());
    QList<KPCollectionItemView*> out;
    for (const KPSectionIndexSet& key : keys) {
        if (KPCollectionItemView* view = m_visibleItemViews.value(key))
            out.append(view);
    }
    return out;
}

KPCollectionItemView* KPCollectionView::itemViewWithIndexSet(const std::optional<KPSectionIndexSet>& indexSet) const
{
    return indexSet ? m_visibleItemViews.value(*indexSet).data() : nullptr;
}

KPCollectionSectionView* KPCollectionView::sectionViewWithIndex(qint64 sectionIndex) const
{
    const auto it = m_usedSectionViews.find(sectionIndex);
    return it == m_usedSectionViews.end() ? nullptr : it->second.view.data();
}

QList<KPCollectionSectionView*> KPCollectionView::visibleSectionViews() const
{
    QList<KPCollectionSectionView*> out;
    for (const auto& [s, shown] : m_usedSectionViews) {
        if (shown.view)
            out.append(shown.view);
    }
    return out;
}

void KPCollectionView::updateDisplayWithIndexSet(const KPSectionIndexSet& indexSet)
{
    if (KPCollectionItemView* view = m_visibleItemViews.value(indexSet))
        view->update();
}

void KPCollectionView::updateDisplayWithRect(const QRectF& rect)
{
    if (!m_delegate || m_delegateShowsNoViews)
        return;
    for (qint64 s : sectionIndexSetWithRect(rect)) {
        const auto frame = sectionRect(s);
        if (!frame)
            continue;
        KPCollectionSectionView* shown = sectionViewWithIndex(s);
        const auto answer = m_delegate->collectionViewWillDisplaySectionView(this, shown, s);
        settleDequeued(answer ? *answer : nullptr);
        if (!answer) {
            m_delegateShowsNoViews = true;
            stopShowingViews();
            return;
        }
        KPCollectionSectionView* view = *answer;
        if (shown && shown != view)
            recycleSection(s);
        if (!view)
            continue;
        // A view the delegate moved here from another section leaves that section's place.
        for (auto it = m_usedSectionViews.begin(); it != m_usedSectionViews.end(); ++it) {
            if (it->first != s && it->second.view == view) {
                dropSectionItems(it->first, false);
                m_usedSectionViews.erase(it);
                break;
            }
        }
        view->setupCollectionView(this);
        view->setLayoutManager(layoutManagerWithSectionIndex(s));
        if (view->parentWidget() != viewport()) {
            m_pool->forget(view);
            view->setParent(viewport());
        }
        ShownSection& placed = m_usedSectionViews[s];
        placed.view = view;
        placed.frame = *frame;
        placeSection(placed);
        if (view->isHidden())
            view->show();
        if (!displayItems(s, placed, rect)) {
            m_delegateShowsNoViews = true;
            stopShowingViews();
            return;
        }
    }
    if (m_regionSelecting && m_selection.assign(m_tmpRegionSelecteds.list()))
        doCollectionViewItemSelectedNotify();
}

bool KPCollectionView::displayItems(qint64 sectionIndex, ShownSection& shown, const QRectF& rect)
{
    if (!m_delegate->collectionViewSectionIsExpand(this, sectionIndex)) {
        // The items that were on screen leave with their selection.
        dropSectionItems(sectionIndex, true);
        return true;
    }
    KPSectionContentLayoutManager* layout = shown.view->layoutManager();
    const qint64 count = itemCountWithSectionIndex(sectionIndex);
    for (qint64 i : itemIndexSetWithRect(rect, sectionIndex, count, layout)) {
        const KPSectionIndexSet address(sectionIndex, i);
        KPCollectionItemView* current = m_visibleItemViews.value(address);
        const auto answer = m_delegate->collectionViewWillDisplayItemView(this, current, address);
        settleDequeued(answer ? *answer : nullptr);
        if (!answer)
            return false;
        KPCollectionItemView* item = *answer;
        if (current && current != item)
            recycleItem(current);
        if (!item)
            continue;
        if (!shown.view)
            return true;
        item->setupCollectionView(this);
        if (item->parentWidget() != shown.view) {
            m_pool->forget(item);
            item->setParent(shown.view);
            // Under the header, which stays on top.
            item->lower();
        }
        fileItem(item, address);
        setItemFrame(item, layout->itemRectOfIndex(i, shown.frame.height()));
        if (item->isHidden())
            item->show();
        bool selected = false;
        if (m_regionSelecting) {
            const QRectF band = m_selectingRect.translated(-shown.frame.x() - item->frameUp().x(),
                                                           -shown.frame.y() - item->frameUp().y());
            selected = item->willSelectByRect(band);
            if (selected)
                m_tmpRegionSelecteds.append(address);
        } else {
            selected = m_selection.contains(address);
        }
        item->setSelected(selected);
    }
    return true;
}

void KPCollectionView::placeSection(ShownSection& shown)
{
    KPCollectionSectionView* view = shown.view;
    const QRectF& f = shown.frame;
    const QRectF v = visibleRect();
    const double top = visibleTop();
    double low = 0;
    double high = 0;
    if (!v.isEmpty()) {
        low = std::clamp(v.y() - f.y(), 0.0, f.height());
        high = std::clamp(v.y() + v.height() - f.y(), low, f.height());
    }
    shown.windowLow = low;
    shown.windowHigh = high;
    shown.qtTop = roundToInt(top - (f.y() + high));
    const int bottom = roundToInt(top - (f.y() + low));
    const int left = roundToInt(f.x());
    view->setGeometry(left, shown.qtTop, roundToInt(f.x() + f.width()) - left, bottom - shown.qtTop);

    if (QWidget* header = view->headerView()) {
        KPSectionContentLayoutManager* layout = view->layoutManager();
        const double headerHeight = layout ? layout->sectionHeaderViewHeight() : header->height();
        header->resize(view->width(), roundToInt(headerHeight));
        // The header's y-up bottom in the section: at the section's top when fixed, else at the
        // top of the visible part, never below the section's bottom.
        const double headerY = view->fixedHeaderView() ? f.height() - headerHeight
                                                        : std::max(0.0, high - headerHeight);
        header->move(0, roundToInt(top - (f.y() + headerY + headerHeight)) - shown.qtTop);
        header->update();
    }
    for (QWidget* child : view->itemViews()) {
        if (auto* item = dynamic_cast<KPCollectionItemView*>(child))
            placeItem(item, shown);
    }
}

void KPCollectionView::placeItem(KPCollectionItemView* item, const ShownSection& shown)
{
    const QRectF r = item->frameUp();
    const double top = visibleTop();
    const int qtTop = roundToInt(top - (shown.frame.y() + r.y() + r.height())) - shown.qtTop;
    const int qtBottom = roundToInt(top - (shown.frame.y() + r.y())) - shown.qtTop;
    const int left = roundToInt(r.x());
    const QRect geometry(left, qtTop, roundToInt(r.x() + r.width()) - left, qtBottom - qtTop);
    if (item->geometry() != geometry)
        item->setGeometry(geometry);
}

void KPCollectionView::setItemFrame(KPCollectionItemView* item, const QRectF& frameInSection)
{
    item->m_frameUp = frameInSection;
    if (!item->m_gridAddress)
        return;
    const auto it = m_usedSectionViews.find(item->m_gridAddress->sectionIndex());
    if (it != m_usedSectionViews.end() && it->second.view == item->parentWidget())
        placeItem(item, it->second);
}

void KPCollectionView::fileItem(KPCollectionItemView* item, const KPSectionIndexSet& indexSet)
{
    if (item->m_gridAddress && *item->m_gridAddress != indexSet && m_visibleItemViews.value(*item->m_gridAddress) == item)
        m_visibleItemViews.remove(*item->m_gridAddress);
    m_visibleItemViews.insert(indexSet, item);
    item->m_gridAddress = indexSet;
}

void KPCollectionView::settleDequeued(platform::kit::View* kept)
{
    const QList<QPointer<platform::kit::View>> dequeued = std::exchange(m_dequeued, {});
    for (const QPointer<platform::kit::View>& view : dequeued) {
        // Views the delegate took but did not hand back, and did not put anywhere else either.
        if (!view || view == kept || view->parentWidget() != m_poolHolder)
            continue;
        if (auto* item = dynamic_cast<KPCollectionItemView*>(view.data()))
            recycleItem(item);
        else
            m_pool->recycle(view);
    }
}

void KPCollectionView::recycleItem(KPCollectionItemView* item)
{
    if (item->m_gridAddress) {
        if (m_visibleItemViews.value(*item->m_gridAddress) == item)
            m_visibleItemViews.remove(*item->m_gridAddress);
        // A hovered view must not come back from the pool still lit for its old item.
        if (m_lastMoveIndexSet == item->m_gridAddress) {
            m_lastMoveIndexSet.reset();
            item->mouseExited();
        }
        item->m_gridAddress.reset();
    }
    // A view taken out in the middle of a fade must not come back half transparent.
    if (item->graphicsEffect())
        item->setGraphicsEffect(nullptr);
    item->setSelected(false);
    item->prepareForReuse();
    m_pool->recycle(item);
}

void KPCollectionView::recycleSection(qint64 sectionIndex)
{
    const auto it = m_usedSectionViews.find(sectionIndex);
    if (it == m_usedSectionViews.end())
        return;
    const QPointer<KPCollectionSectionView> view = it->second.view;
    m_usedSectionViews.erase(it);
    if (!view)
        return;
    for (QWidget* child : view->takeItemViews(m_poolHolder)) {
        if (auto* item = dynamic_cast<KPCollectionItemView*>(child)) {
            recycleItem(item);
        } else if (auto* other = dynamic_cast<platform::kit::View*>(child)) {
            other->removeFromSuperview();
        } else {
            child->setParent(nullptr);
            child->deleteLater();
        }
    }
    m_pool->recycle(view);
}

void KPCollectionView::dropSectionItems(qint64 sectionIndex, bool deselect)
{
    const QList<KPSectionIndexSet> keys = m_visibleItemViews.keys();
    for (const KPSectionIndexSet& key : keys) {
        if (key.sectionIndex() != sectionIndex)
            continue;
        if (KPCollectionItemView* item = m_visibleItemViews.value(key)) {
            if (deselect)
                m_selection.remove(key);
            recycleItem(item);
        }
        m_visibleItemViews.remove(key);
    }
}

void KPCollectionView::stopShowingViews()
{
    while (!m_usedSectionViews.empty())
        recycleSection(m_usedSectionViews.begin()->first);
    const auto items = m_visibleItemViews.values();
    for (const QPointer<KPCollectionItemView>& item : items) {
        if (item)
            recycleItem(item);
    }
    m_visibleItemViews.clear();
}

void KPCollectionView::discardAllViews()
{
    for (const QPointer<KPCollectionItemView>& item : std::as_const(m_visibleItemViews)) {
        if (item)
            item->removeFromSuperview();
    }
    m_visibleItemViews.clear();
    for (const auto& [s, shown] : m_usedSectionViews) {
        if (shown.view)
            shown.view->removeFromSuperview();
    }
    m_usedSectionViews.clear();
    m_pool->clear();
    m_dequeued.clear();
}

void KPCollectionView::removeUnvisibleViews(const QRectF& rect)
{
    QList<qint64> gone;
    for (const auto& [s, shown] : m_usedSectionViews) {
        // A section gone since the last layout has no rectangle any more.
        const auto frame = sectionRect(s);
        if (!shown.view || !frame || !frame->intersects(rect))
            gone.append(s);
    }
    for (qint64 s : gone)
        recycleSection(s);
    const QList<KPSectionIndexSet> keys = m_visibleItemViews.keys();
    for (const KPSectionIndexSet& key : keys) {
        KPCollectionItemView* item = m_visibleItemViews.value(key);
        if (!item) {
            m_visibleItemViews.remove(key);
            continue;
        }
        // Judged by where the layout puts the address now: a frame set before a relayout may
        // be stale.
        if (!m_usedSectionViews.count(key.sectionIndex()) || !itemRectWithSectionIndexSet(key).intersects(rect))
            recycleItem(item);
    }
}
