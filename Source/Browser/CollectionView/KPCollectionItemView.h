// The base of every view the document grid shows for one item (document items, group tiles).
//
// The grid places the view inside its section view and tells it three things through the
// overridable questions below: whether a click at a point selects it, whether the rubber band
// takes it, and whether it wants hover reports. The base answers no to all three. An item view
// that selects on a click hands its mouse event to doSelectedWithEvent(), which applies the
// grid's click rules.
//
// Geometry is y-up. frameUp() is the view's rectangle in its section's coordinates, as the grid
// last set it (a layout rectangle, or a step of a move animation); the widget geometry is derived
// from it and from the part of the section that is on screen.
//
// A view in the grid belongs to the grid: it is reused through the grid's pool, and never
// deleted by its owner directly. Threads: main thread only.
#pragma once

#include "Browser/KPSectionIndexSet.h"
#include "Platform/Kit/View.h"

#include <QPointer>
#include <optional>

class KPCollectionView;
class QMouseEvent;

class KPCollectionItemView : public platform::kit::View {
public:
    explicit KPCollectionItemView(QWidget* parent = nullptr);
    ~KPCollectionItemView() override;

    bool selected() const { return m_selected; }
    // Redraws when the state changes.
    virtual void setSelected(bool selected);

    KPCollectionView* collectionView() const;
    void setupCollectionView(KPCollectionView* collectionView);

    // A click at point (y-up, in the view's coordinates) selects the item.
    virtual bool willSelectByPoint(const QPointF& point) const;
    // The rubber band, given in the view's coordinates (y-up), takes the item.
    virtual bool willSelectByRect(const QRectF& rect) const;
    // The item wants mouseEntered/mouseExited while the pointer is at point.
    virtual bool trackMouseEnterWithEvent(const QPointF& point) const;
    // Hover reports from the grid (the grid does its own hit test; Qt's hover is not used).
    virtual void mouseEntered(const QPointF& point);
    virtual void mouseExited();

    // Hands a mouse event received by this view to the grid's click rules.
    void doSelectedWithEvent(QMouseEvent* event);

    // The rectangle in the section's coordinates (y-up).
    QRectF frameUp() const { return m_frameUp; }
    // The address the grid shows the view at; none while pooled.
    std::optional<KPSectionIndexSet> gridAddress() const { return m_gridAddress; }

protected:
    // Called when the view goes back to the grid's reuse pool. The base drops every child widget
    // (transient things such as a hover bar); subclasses with lasting children override it.
    virtual void prepareForReuse();

private:
    friend class KPCollectionView;

    QPointer<KPCollectionView> m_collectionView;
    bool m_selected = false;
    QRectF m_frameUp;
    std::optional<KPSectionIndexSet> m_gridAddress;
};
