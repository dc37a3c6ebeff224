#include "Browser/CollectionView/KPCollectionItemView.h"

#include "Browser/CollectionView/KPCollectionView.h"

KPCollectionItemView::KPCollectionItemView(QWidget* parent)
    : platform::kit::View(parent)
{
}

KPCollectionItemView::~KPCollectionItemView() = default;

void KPCollectionItemView::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

KPCollectionView* KPCollectionItemView::collectionView() const
{
    return m_collectionView.data();
}

void KPCollectionItemView::setupCollectionView(KPCollectionView* collectionView)
{
    m_collectionView = collectionView;
}

bool KPCollectionItemView::willSelectByPoint(const QPointF&) const
{
    return false;
}

bool KPCollectionItemView::willSelectByRect(const QRectF&) const
{
    return false;
}

bool KPCollectionItemView::trackMouseEnterWithEvent(const QPointF&) const
{
    return false;
}

void KPCollectionItemView::mouseEntered(const QPointF&) {}

void KPCollectionItemView::mouseExited() {}

void KPCollectionItemView::doSelectedWithEvent(QMouseEvent* event)
{
    if (m_collectionView && event)
        m_collectionView->doSelectViewItemWithEvent(event);
}

void KPCollectionItemView::prepareForReuse()
{
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (auto* view = dynamic_cast<platform::kit::View*>(child)) {
            view->removeFromSuperview();
        } else {
            child->hide();
            child->setParent(nullptr);
            child->deleteLater();
        }
    }
}
