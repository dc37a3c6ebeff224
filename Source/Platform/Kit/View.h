// An optional base for the program's custom views: y-up bounds and event points, and the two
// hooks several views override — removal from the superview and arrival in a new one.
//
// Ownership: removeFromSuperview() detaches the view and hands it to deleteLater(); a caller
// that keeps a removed view for reuse takes it out with takeFromSuperview() instead.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QWidget>

namespace platform::kit {

class View : public QWidget {
public:
    explicit View(QWidget* parent = nullptr);

    QRectF boundsUp() const { return QRectF(0, 0, width(), height()); }
    QPointF eventPointUp(const QPointF& qtPoint) const { return QPointF(qtPoint.x(), height() - qtPoint.y()); }

    virtual void removeFromSuperview();
    void takeFromSuperview();

protected:
    // After the view got a new parent (or none).
    virtual void viewDidMoveToSuperview() {}
    bool event(QEvent* event) override;
};

} // namespace platform::kit
