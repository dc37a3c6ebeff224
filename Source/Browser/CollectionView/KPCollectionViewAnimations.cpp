// The grid's scroll state across relayouts and its two animations: fading removed items out and
// moving reordered items to their new places. Animations are Qt animations, which follow the
// interface scheduler's clock (virtual time in tests).
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPSectionContentLayoutManager.h"

#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QVariantAnimation>

namespace {

qint64 indexOf(const std::vector<std::optional<KPSectionItem>>& objects, const std::optional<KPSectionItem>& object)
{
    if (!object)
        return -1;
    for (size_t i = 0; i < objects.size(); ++i) {
        if (objects[i] && *objects[i] == *object)
            return qint64(i);
    }
    return -1;
}

} // namespace

void KPCollectionView::saveScrollState()
{
    m_scrollRectBeforeState = true;
    m_scrollBeforeHeight = m_frame.height();
    m_scrollBeforeY = visibleRect().y();
}

void KPCollectionView::restoreBeforeScrollState()
{
    if (!m_scrollRectBeforeState)
        return;
    // Keeps the distance from the top: the bottom-based y moves with the height.
    const double y = m_scrollBeforeY + (m_frame.height() - m_scrollBeforeHeight);
    scrollToPoint(QPointF(0, y));
    m_scrollRectBeforeState = false;
}

void KPCollectionView::removeItemWithIndexSets(const QList<KPSectionIndexSet>& indexSets, std::function<void()> completion)
{
    if (indexSets.isEmpty())
        return;
    QSet<KPSectionIndexSet> visible;
    for (const KPSectionIndexSet& a : visibleItemIndexSets())
        visible.insert(a);
    QList<QPointer<KPCollectionItemView>> fading;
    for (const KPSectionIndexSet& a : indexSets) {
        if (!visible.contains(a))
            continue;
        if (KPCollectionItemView* item = m_visibleItemViews.value(a))
            fading.append(item);
    }
    const QPointer<KPCollectionView> self(this);
    auto finish = [self, fading, completion = std::move(completion)] {
        if (!self)
            return;
        for (const QPointer<KPCollectionItemView>& item : fading) {
            // Only the views still showing what was removed; one scrolled out and reused shows
            // something else now.
            if (item && item->m_gridAddress && self->m_visibleItemViews.value(*item->m_gridAddress) == item) {
                self->m_visibleItemViews.remove(*item->m_gridAddress);
                item->m_gridAddress.reset();
                item->removeFromSuperview();
            }
        }
        if (completion)
            completion();
        self->saveScrollState();
        self->reloadData();
        self->restoreBeforeScrollState();
    };
    if (fading.isEmpty()) {
        finish();
        return;
    }
    auto* group = new QParallelAnimationGroup(this);
    for (const QPointer<KPCollectionItemView>& item : fading) {
        auto* effect = new QGraphicsOpacityEffect(item);
        item->setGraphicsEffect(effect);
        auto* fade = new QPropertyAnimation(effect, "opacity", group);
        fade->setDuration(kAnimationMs);
        fade->setStartValue(1.0);
        fade->setEndValue(0.0);
        group->addAnimation(fade);
    }
    connect(group, &QAbstractAnimation::finished, this, std::move(finish));
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void KPCollectionView::refreshSectionItemPositionWithIndexSets(const QList<KPSectionIndexSet>& indexSets,
                                                               std::function<void(qint64)> updateData,
                                                               std::function<void()> completion)
{
    auto* group = new QParallelAnimationGroup(this);
    const auto animateFrame = [this, group](KPCollectionItemView* item, const QRectF& to) {
        if (item->frameUp() == to)
            return;
        auto* move = new QVariantAnimation(group);
        move->setDuration(kAnimationMs);
        move->setEasingCurve(QEasingCurve::InOutQuad);
        move->setStartValue(item->frameUp());
        move->setEndValue(to);
        const QPointer<KPCollectionItemView> target(item);
        connect(move, &QVariantAnimation::valueChanged, this, [this, target](const QVariant& value) {
            if (target)
                setItemFrame(target, value.toRectF());
        });
        group->addAnimation(move);
    };

    const QRectF visible = visibleRect();
    QSet<qint64> done;
    for (const KPSectionIndexSet& named : indexSets) {
        const qint64 s = named.sectionIndex();
        if (done.contains(s))
            continue;
        done.insert(s);
        const auto section = sectionRect(s);
        KPSectionContentLayoutManager* layout = layoutManagerWithSectionIndex(s);
        if (!m_dataSource || !m_delegate || !section || !layout) {
            // Nothing on screen to move, but the caller's data still changes.
            if (updateData)
                updateData(s);
            continue;
        }
        const double container = section->height();
        const qint64 count = std::max<qint64>(0, m_dataSource->collectionViewItemCount(this, s));
        const auto objectsNow = [&] {
            std::vector<std::optional<KPSectionItem>> objects;
            objects.reserve(size_t(count));
            for (qint64 i = 0; i < count; ++i)
                objects.push_back(m_dataSource->collectionViewSectionItemObject(this, KPSectionIndexSet(s, i)));
            return objects;
        };
        const std::vector<std::optional<KPSectionItem>> oldOrder = objectsNow();
        const QList<KPSectionIndexSet> oldVisible = itemIndexsWithRect(visible, s);
        if (updateData)
            updateData(s);
        const QList<KPSectionIndexSet> newVisible = itemIndexsWithRect(visible, s);
        const std::vector<std::optional<KPSectionItem>> newOrder = objectsNow();

        QHash<KPSectionIndexSet, QPointer<KPCollectionItemView>> filed;
        for (const KPSectionIndexSet& a : oldVisible) {
            KPCollectionItemView* item = m_visibleItemViews.value(a);
            const qint64 j = indexOf(newOrder, oldOrder[size_t(a.itemIndex())]);
            if (!item || j < 0)
                continue;
            animateFrame(item, layout->itemRectOfIndex(j, container));
            filed.insert(KPSectionIndexSet(s, j), item);
        }
        KPCollectionSectionView* sectionView = sectionViewWithIndex(s);
        for (const KPSectionIndexSet& a : newVisible) {
            const qint64 j = a.itemIndex();
            if (j >= qint64(newOrder.size()))
                continue;
            const qint64 i = indexOf(oldOrder, newOrder[size_t(j)]);
            if (KPCollectionItemView* shown = i >= 0 ? m_visibleItemViews.value(KPSectionIndexSet(s, i)).data() : nullptr) {
                filed.insert(a, shown);
                continue;
            }
            const auto answer = m_delegate->collectionViewWillDisplayItemView(this, nullptr, a);
            KPCollectionItemView* item = answer ? *answer : nullptr;
            settleDequeued(item);
            if (!item || !sectionView)
                continue;
            item->setupCollectionView(this);
            if (item->parentWidget() != sectionView) {
                m_pool->forget(item);
                item->setParent(sectionView);
                item->lower();
            }
            item->m_gridAddress = a;
            setItemFrame(item, i >= 0 ? layout->itemRectOfIndex(i, container) : QRectF());
            item->setSelected(m_selection.contains(a));
            item->show();
            animateFrame(item, layout->itemRectOfIndex(j, container));
            filed.insert(a, item);
        }

        // The section's views are filed anew; one that found no new place goes back to the pool.
        QList<QPointer<KPCollectionItemView>> previous;
        for (auto it = m_visibleItemViews.begin(); it != m_visibleItemViews.end();) {
            if (it.key().sectionIndex() == s) {
                previous.append(it.value());
                it = m_visibleItemViews.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = filed.begin(); it != filed.end(); ++it) {
            if (!it.value())
                continue;
            m_visibleItemViews.insert(it.key(), it.value());
            it.value()->m_gridAddress = it.key();
        }
        for (const QPointer<KPCollectionItemView>& item : previous) {
            if (item && !filed.values().contains(item))
                recycleItem(item);
        }
    }

    const QPointer<KPCollectionView> self(this);
    auto finish = [self, completion = std::move(completion)] {
        if (completion)
            completion();
        if (!self)
            return;
        self->showVisible();
    };
    if (group->animationCount() == 0) {
        group->deleteLater();
        finish();
        return;
    }
    connect(group, &QAbstractAnimation::finished, this, std::move(finish));
    group->start(QAbstractAnimation::DeleteWhenStopped);
}
