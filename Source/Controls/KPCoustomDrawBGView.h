// The general-purpose container view: an optional background colour, then the rest of the
// drawing handed to its owner, and (optionally) its mouse events too, so a controller can draw
// a panel from theme objects without subclassing a view. Pointer movement reaches the owner
// only while tracking is on; presses and releases always do.
#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <optional>

class KPCoustomDrawBGView : public QWidget {
public:
    using DrawHandler = std::function<void(KPCoustomDrawBGView*, QPainter&, const QRectF& dirtyUp)>;
    // Receives presses, releases, moves, enters and leaves; tell them apart by event->type().
    using MouseHandler = std::function<void(QEvent*)>;

    explicit KPCoustomDrawBGView(const QRect& frame = {}, QWidget* parent = nullptr);

    void setDrawBackgroudWithSelector(DrawHandler draw);
    void setMouseEventSelector(MouseHandler handler) { m_mouse = std::move(handler); }
    void setTrackMouseMoveEvent(bool track);
    bool trackMouseMoveEvent() const { return m_track; }
    void setBgColor(std::optional<QColor> color);
    const std::optional<QColor>& bgColor() const { return m_bgColor; }
    void setFrame(const QRect& frame) { setGeometry(frame); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void forward(QEvent* event);

    std::optional<QColor> m_bgColor;
    DrawHandler m_draw;
    MouseHandler m_mouse;
    bool m_track = false;
};
