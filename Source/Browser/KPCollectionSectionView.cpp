#include "Browser/KPCollectionSectionView.h"

#include "Platform/Kit/Flip.h"

#include <algorithm>

namespace {

void discard(QWidget* view)
{
    if (auto* kitView = dynamic_cast<platform::kit::View*>(view)) {
        kitView->removeFromSuperview();
        return;
    }
    view->hide();
    view->setParent(nullptr);
    view->deleteLater();
}

} // namespace

KPCollectionSectionView::KPCollectionSectionView(QWidget* parent)
    : platform::kit::View(parent)
{
}

KPCollectionSectionView::~KPCollectionSectionView() = default;

void KPCollectionSectionView::replaceOwnView(QPointer<QWidget>& slot, QWidget* view)
{
    if (slot == view)
        return;
    if (slot)
        discard(slot);
    slot = view;
    if (view) {
        view->setParent(this);
        view->show();
    }
}

void KPCollectionSectionView::setHeaderView(QWidget* header)
{
    replaceOwnView(m_headerView, header);
}

void KPCollectionSectionView::setBottomView(QWidget* bottom)
{
    replaceOwnView(m_bottomView, bottom);
}

QList<QWidget*> KPCollectionSectionView::itemViews() const
{
    QList<QWidget*> views;
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != m_headerView && child != m_bottomView)
            views.append(child);
    }
    return views;
}

void KPCollectionSectionView::clearItemViews()
{
    for (QWidget* view : itemViews())
        discard(view);
}

QList<QWidget*> KPCollectionSectionView::takeItemViews(QWidget* pool)
{
    const QList<QWidget*> views = itemViews();
    for (QWidget* view : views) {
        view->hide();
        view->setParent(pool);
    }
    return views;
}

void KPCollectionSectionView::removeFromSuperview()
{
    clearItemViews();
    platform::kit::View::removeFromSuperview();
}

void KPCollectionSectionView::trackHeaderViewWithVisibleRect(const QRectF& visibleRect)
{
    if (!m_headerView)
        return;
    const double headerHeight = m_headerView->height();
    const QRectF up(visibleRect.x(), std::max(0.0, visibleRect.y() + visibleRect.height() - headerHeight),
                    m_headerView->width(), headerHeight);
    m_headerView->move(platform::kit::toQt(up, height()).topLeft().toPoint());
    m_headerView->update();
}
