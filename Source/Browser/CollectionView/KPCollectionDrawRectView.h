// The rubber band of the document grid: a view laid over the grid's visible area that draws the
// band's rectangle, outlined in the theme's "SelectFrameColor" and filled with
// "SelectFrameFillColor" (group "CollectionView"; white when a colour is missing). Without that
// group it draws nothing. It never takes mouse events.
#pragma once

#include "Platform/Kit/View.h"

class KPCollectionDrawRectView : public platform::kit::View {
public:
    explicit KPCollectionDrawRectView(QWidget* parent = nullptr);

    // The band in this view's coordinates (y-up); redraws.
    void drawFrameWithRect(const QRectF& rect);
    QRectF frameRect() const { return m_frameRect; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF m_frameRect;
};
