// Enter, exit and move reports for a rectangle of a view, the counterpart of a tracking region.
// It is an event filter on the view, so views keep their own event handlers untouched. The
// rectangle is the whole view or a fixed y-up rectangle, optionally inflated (a negative
// inflation shrinks it); it follows the view's size because it is evaluated on every event.
#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <optional>

namespace platform::kit {

class TrackingArea : public QObject {
public:
    struct Callbacks {
        std::function<void()> entered;
        std::function<void()> exited;
        std::function<void(QPointF)> moved;   // y-up point in the view
    };

    // Movement reports switch on the view's mouse tracking for as long as the area lives.
    TrackingArea(QWidget* view, Callbacks callbacks, bool reportMoves = false);
    ~TrackingArea() override;

    // A fixed y-up rectangle instead of the whole view.
    void setRect(const QRectF& up) { m_fixed = up; }
    void setInflation(qreal amount) { m_inflation = amount; }
    bool isInside() const { return m_inside; }
    // The rectangle in y-up view coordinates.
    QRectF rectUp() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update(const std::optional<QPointF>& qtPoint);

    QPointer<QWidget> m_view;
    Callbacks m_callbacks;
    bool m_reportMoves;
    bool m_hadMouseTracking = false;
    std::optional<QRectF> m_fixed;
    qreal m_inflation = 0;
    bool m_inside = false;
};

} // namespace platform::kit
