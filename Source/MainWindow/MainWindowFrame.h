// Where the main window opens: the rectangle stored under "MainWindowFrame" in the text form
// "{{x, y}, {w, h}}" (top-left origin, as the quit step writes it), read defensively, and the
// rules that make it usable on the screens there are now. Pure values, so every rule is
// testable without a display.
#pragma once

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

namespace mainwindowframe {

inline constexpr QSize kMinimumSize{1000, 680};
inline const QString kFrameKey = QStringLiteral("MainWindowFrame");

// The rectangle of the text, or none for anything that is not exactly that form with finite,
// plausible numbers (fractions are rounded). A zero or negative size is none as well: a frame
// written before the window existed is not a frame.
std::optional<QRect> parse(const QString& text);

struct Placement {
    QRect frame;
    // False where the windowing system places windows itself: then only the size applies.
    bool placeOrigin = true;
};

// The window's minimum size on a screen of that available geometry: kMinimumSize, or the whole
// screen where it is smaller (a small laptop screen at a large scale), so that the window's
// edges and controls stay on the screen.
QSize minimumSizeOn(const QRect& screen);

// The frame to open with. screens are the available geometries of the screens, the primary one
// first (none: the frame as it is, raised to the minimum). No stored frame: the minimum size
// centred on the primary screen. A smaller one is raised to the minimum at its own origin; a
// larger one than the screen it is on shrinks to that screen (never below its minimum); one
// whose title bar shows on no screen is centred on the primary screen.
Placement initialFrame(const std::optional<QRect>& stored, const QList<QRect>& screens, bool canPlaceWindows);

} // namespace mainwindowframe
