// The container of one grid section: the section's item views, placed by the grid through the
// section's layout manager, and, for titled sections, a header (and room for a bottom view).
//
// The header and the bottom view belong to the section view itself, not to its items: clearing
// the section of its items (clearItemViews, removeFromSuperview, or the grid taking the items
// back into its reuse pool with takeItemViews) leaves them in place, so a section view taken
// from the reuse pool comes with its header. Geometry is y-up in the section's own coordinates.
//
// The layout manager and the grid are not owned; the grid sets the layout manager on every
// display. Threads: main thread only.
#pragma once

#include "Platform/Kit/View.h"

#include <QList>
#include <QPointer>
#include <QRectF>

class KPSectionContentLayoutManager;

class KPCollectionSectionView : public platform::kit::View {
public:
    explicit KPCollectionSectionView(QWidget* parent = nullptr);
    ~KPCollectionSectionView() override;

    void setupCollectionView(QWidget* collectionView) { m_collectionView = collectionView; }
    QWidget* collectionView() const { return m_collectionView; }
    KPSectionContentLayoutManager* layoutManager() const { return m_layoutManager; }
    void setLayoutManager(KPSectionContentLayoutManager* manager) { m_layoutManager = manager; }

    // The header becomes a child of the section view (replacing and deleting an earlier one).
    QWidget* headerView() const { return m_headerView; }
    void setHeaderView(QWidget* header);
    QWidget* bottomView() const { return m_bottomView; }
    void setBottomView(QWidget* bottom);
    // When set, the grid does not move the header while scrolling.
    bool fixedHeaderView() const { return m_fixedHeaderView; }
    void setFixedHeaderView(bool fixed) { m_fixedHeaderView = fixed; }
    bool selected() const { return m_selected; }
    void setSelected(bool selected) { m_selected = selected; }
    qint64 itemCount() const { return m_itemCount; }
    void setItemCount(qint64 count) { m_itemCount = count; }

    // The section's child widgets other than its header and bottom view.
    QList<QWidget*> itemViews() const;
    // Removes every item view (each is removed from its superview and deleted later).
    void clearItemViews();
    // Moves every item view, hidden, under pool (the grid's reuse pool) and answers them.
    QList<QWidget*> takeItemViews(QWidget* pool);
    // Clears the item views, then leaves the superview (and is deleted later).
    void removeFromSuperview() override;

    // Pins the header to the top of visibleRect (y-up, section coordinates), never below the
    // section's bottom: its origin goes to (x, max(0, top − header height)).
    void trackHeaderViewWithVisibleRect(const QRectF& visibleRect);

private:
    // Makes view the section's own (a child), discarding the one slot held.
    void replaceOwnView(QPointer<QWidget>& slot, QWidget* view);

    QPointer<QWidget> m_collectionView;
    KPSectionContentLayoutManager* m_layoutManager = nullptr;
    QPointer<QWidget> m_headerView;
    QPointer<QWidget> m_bottomView;
    bool m_fixedHeaderView = false;
    bool m_selected = false;
    qint64 m_itemCount = 0;
};
