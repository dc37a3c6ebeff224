// A borderless, translucent speech bubble around a view, its arrow pointing at a point from a
// given distance, on one of twelve sides of the point or on the side that fits the screen best.
// It is a tool window kept above its parent window (not a popup: an outside click leaves it
// open). The geometry is pure functions of y-up screen rectangles; the window converts Qt's
// coordinates once.
//
// Sides: 0 left of the point, 1 below, 2 right, 3 above (arrow centred); 4/5 left reaching
// up/down, 6/7 right reaching up/down, 8/9 above reaching left/right, 10/11 below reaching
// left/right (arrow near a corner); 12 picks the best side when made.
//
// Main thread only.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>
#include <memory>
#include <optional>

namespace zwbubble {

inline constexpr int kAutomaticSide = 12;

struct Options {
    double viewMargin = 2.0;
    double borderWidth = 2.0;
    double arrowBaseWidth = 20.0;
    double arrowHeight = 16.0;
    double cornerRadius = 8.0;
    bool hasArrow = true;
    bool drawsRoundCornerBesideArrow = true;
};

struct Geometry {
    QRectF frame;       // y-up screen coordinates
    QRectF viewFrame;   // y-up, in the bubble
};

// How far along its edge the arrow's middle lies from the corner it runs beside.
double arrowInset(const Options& options);
Geometry geometry(const QSizeF& view, const QPointF& point, int side, double distance, const Options& options);
// The side for side 12: against the screen's visible frame and the parent window's frame
// (none: the screen's).
int bestSide(const QSizeF& view, const QPointF& point, double distance, const Options& options,
             const QRectF& visibleFrame, const std::optional<QRectF>& parentFrame);

double clampedBorderWidth(double width, double viewMargin);
double clampedViewMargin(double margin);
double clampedCornerRadius(double radius, double viewMargin, const QSizeF& view, double arrowBaseWidth);
double clampedArrowBaseWidth(double width, double viewMargin, const QSizeF& view, double cornerRadius,
                             bool roundCornerBesideArrow);

// The outline in y-up bubble coordinates.
QPainterPath bubblePath(const Geometry& geometry, int side, const Options& options);

} // namespace zwbubble

class ZWBubbleWindow : public QWidget {
public:
    // No view, no bubble. point is in parent's coordinates, or global without a parent.
    static std::unique_ptr<ZWBubbleWindow> create(QWidget* view, const QPoint& point, QWidget* parent = nullptr,
                                                  int side = zwbubble::kAutomaticSide, double distance = 0);
    ~ZWBubbleWindow() override;

    QWidget* view() const { return m_view; }
    int side() const { return m_side; }
    const zwbubble::Options& options() const { return m_options; }
    // The bubble's frame in y-up screen coordinates and the view's inside it.
    const zwbubble::Geometry& bubbleGeometry() const { return m_geometry; }

    void setPoint(const QPoint& point, int side);
    void setBackgroundColor(const QColor& colour);
    QColor backgroundColor() const { return m_fill; }
    void setBorderColor(const QColor& colour);
    void setBorderWidth(double width);
    void setViewMargin(double margin);
    void setCornerRadius(double radius);
    void setArrowBaseWidth(double width);
    void setArrowHeight(double height);
    void setHasArrow(bool hasArrow);
    void setDrawsRoundCornerBesideArrow(bool round);
    // A bubble that cannot be key shows without taking the focus.
    void setCanBeKeyWindow(bool canBeKey);
    bool canBeKeyWindow() const { return m_canBeKey; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    ZWBubbleWindow(QWidget* view, const QPoint& point, QWidget* parent, int side, double distance);
    QPointF screenPoint(const QPoint& point) const;
    void relayout();

    QPointer<QWidget> m_view;
    QPointer<QWidget> m_parentWindow;
    QPointF m_point;   // y-up screen
    int m_side;
    double m_distance;
    zwbubble::Options m_options;
    zwbubble::Geometry m_geometry;
    QColor m_fill = QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.75f);
    QColor m_border = Qt::white;
    bool m_canBeKey = true;
    bool m_resizing = false;
};
