// The seven sort keys of the view-options popover, top to bottom: Title, Size, File Type, Date
// Created, Date Imported, Date Modified, Date Last Opened. The check mark follows the sort
// manager's key; clicking another key sets it and posts "FileSortSettingChange", clicking the
// checked one does nothing. The row under the pointer is highlighted.
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include "Browser/ItemViews/SortListViewItem.h"

class SortListView : public QWidget {
public:
    static inline const QString kFileSortSettingChange = QStringLiteral("FileSortSettingChange");

    explicit SortListView(QWidget* parent = nullptr);

    const QList<SortListViewItem*>& items() const { return m_items; }
    SortListViewItem* lastMoveView() const { return m_lastMoveView; }
    void layoutSubView();
    void refreshValue();
    // y-up point in the list.
    void mouseMovedTo(const QPointF& pointUp);
    void onSortListItemClick(SortListViewItem* item);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QList<SortListViewItem*> m_items;
    QPointer<SortListViewItem> m_lastMoveView;
};
