#include "Browser/ItemViews/SortListView.h"

#include "Browser/BrowserText.h"
#include "Browser/ItemViews/SortListViewItem.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Flip.h"

#include <QMouseEvent>

SortListView::SortListView(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    const char* const titles[] = {"Title", "Size", "File Type", "Date Created", "Date Imported", "Date Modified", "Date Last Opened"};
    for (int i = 0; i < 7; ++i) {
        auto* item = new SortListViewItem(browsertext::text(QLatin1String(titles[i])), i + 1, this);
        item->setOnClick([this](SortListViewItem* row) { onSortListItemClick(row); });
        item->installEventFilter(this);
        m_items.append(item);
    }
    layoutSubView();
    refreshValue();
}

void SortListView::layoutSubView()
{
    const double w = width();
    const double h = height();
    double y = h - 23;
    for (SortListViewItem* item : m_items) {
        item->setGeometry(platform::kit::toQt(QRectF(2, y, w - 4, 22), h).toRect());
        y -= 22;
    }
}

void SortListView::refreshValue()
{
    const int current = KPDataSourceSortManager::shareDataSourceSortManager().fileSortType();
    for (SortListViewItem* item : m_items)
        item->setBDrawIconChecker(item->fileSortType() == current);
}

void SortListView::mouseMovedTo(const QPointF& p)
{
    SortListViewItem* hit = nullptr;
    for (SortListViewItem* item : m_items) {
        if (platform::kit::toUp(QRectF(item->geometry()), height()).contains(p)) {
            hit = item;
            break;
        }
    }
    if (!hit || hit == m_lastMoveView)
        return;
    if (m_lastMoveView)
        m_lastMoveView->setHighlight(false);
    m_lastMoveView = hit;
    hit->setHighlight(true);
}

void SortListView::onSortListItemClick(SortListViewItem* item)
{
    auto& sort = KPDataSourceSortManager::shareDataSourceSortManager();
    if (item->fileSortType() == sort.fileSortType())
        return;
    sort.setFileSortType(item->fileSortType());
    refreshValue();
    platform::NotificationCenter::defaultCenter().post(kFileSortSettingChange);
}

bool SortListView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        auto* row = static_cast<QWidget*>(watched);
        const QPointF inList = row->mapTo(this, static_cast<QMouseEvent*>(event)->position().toPoint());
        mouseMovedTo(QPointF(inList.x(), height() - inList.y()));
    }
    return false;
}

void SortListView::mouseMoveEvent(QMouseEvent* event)
{
    mouseMovedTo(QPointF(event->position().x(), height() - event->position().y()));
}

void SortListView::resizeEvent(QResizeEvent*)
{
    layoutSubView();
}
