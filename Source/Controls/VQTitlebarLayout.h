// The arithmetic of the tall title bar, as pure functions of rectangles so that it can be
// checked without a window. Every rectangle here is y-up (origin at the window's bottom left,
// as the layout rules are stated); VQTitlebarWindow converts once when it applies them.
#pragma once

#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSize>

namespace vqtitlebar {

// What the platform would have told every window the same way: shared by all windows.
inline constexpr double kStandardTitleBarHeight = 22.0;
inline constexpr double kStandardLeftMargin = 8.0;
inline constexpr double kStandardSeparation = 6.0;
// Width of the band along each edge that resizes a frameless window.
inline constexpr int kResizeBand = 5;

struct TrafficLights {
    QRectF close, minimize, zoom;
};

struct TrafficLightOptions {
    double leftMargin = kStandardLeftMargin;
    double separation = kStandardSeparation;
    double topMargin = 3.0;
    bool centered = true;
    bool vertical = false;
};

// The strip of titleBarHeight along the top of a window of frame size.
QRectF containerFrame(const QSizeF& frame, double titleBarHeight);

// Close, minimise and zoom placed in container C; the buttons keep their sizes.
TrafficLights layoutTrafficLights(const QRectF& container, const TrafficLights& buttons,
                                  const TrafficLightOptions& options);

// The right margin a full-screen button has where it stands now (the first layout keeps it).
double currentRightMargin(const QRectF& container, const QRectF& button);
QRectF layoutFullScreenButton(const QRectF& container, const QRectF& button, double rightMargin,
                              bool centered, double topMargin);

// The content view keeps its origin and width and ends below the bar.
QRectF contentFrame(const QRectF& content, double windowHeight, double titleBarHeight);

// A sheet hangs from the bottom of the bar.
QRectF sheetFrame(const QRectF& proposed, double windowHeight, double titleBarHeight);

// A y-up rectangle of a window of height h in Qt's y-down coordinates, and back.
QRect toQt(const QRectF& up, double h);

// Manual resizing (when the window manager will not): the start geometry dragged by delta at
// edges, kept between the minimum and maximum size with the opposite edges where they were.
QRect resizedGeometry(const QRect& start, Qt::Edges edges, const QPoint& delta, const QSize& minimum,
                      const QSize& maximum);

} // namespace vqtitlebar
