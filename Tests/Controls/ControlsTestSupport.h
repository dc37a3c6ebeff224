// Shared pieces of the control tests: the shared theme manager on the generated "gray" theme,
// hand-made multi-sprites whose states are solid colours, and reading back rendered pixels.
#pragma once

#include "Theme/KPMultiSprite.h"

#include <QColor>
#include <QPoint>
#include <QWidget>
#include <memory>

namespace controlstest {

inline const QColor kNormal(200, 0, 0);
inline const QColor kOver(0, 200, 0);
inline const QColor kDown(0, 0, 200);
inline const QColor kHighlight(200, 200, 0);
inline const QColor kDisabled(200, 0, 200);

// A multi-sprite of 10 x 10 solid states, one per letter of states (N, O, D, H, X).
std::unique_ptr<KPMultiSprite> solidMultiSprite(const char* states, const QString& name = QStringLiteral("Solid"));

// The widget rendered without background onto a transparent image of the given device pixel
// ratio (pixel() reads points of a 1x render).
QImage render(QWidget& widget, qreal scale = 1.0);
QColor pixel(QWidget& widget, QPoint at);

// Sends an enter event at a point, as the pointer arriving over the widget would.
void enter(QWidget& widget, QPoint at);
void leave(QWidget& widget);
// A move with the left button held (a drag) or without.
void move(QWidget& widget, QPoint at, bool buttonHeld);

} // namespace controlstest
