// Reading the text values of a style list: rectangles "{{x, y}, {w, h}}", points "{x, y}",
// sizes "{w, h}" and colours "RRGGBB". The numbers are taken in order wherever they stand, so
// slightly malformed text still reads; whatever cannot be read is zero.
#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QVariant>
#include <optional>

QRectF themeRectFromString(const QString& text);
QPointF themePointFromString(const QString& text);
QSizeF themeSizeFromString(const QString& text);

// Six hexadecimal digits RRGGBB, an optional "0x" first; reading stops at the first character
// that is no hexadecimal digit (so "#fff" is black). Empty or missing text gives no colour.
std::optional<QColor> themeColorFromString(const QString& text);
std::optional<QColor> themeColorFromValue(const QVariant& value);
