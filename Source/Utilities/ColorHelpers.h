// Colours from the hexadecimal text that theme files and settings store ("FF8000", "0x336699").
#pragma once

#include <QColor>
#include <QString>
#include <optional>

// The text scanned as a hexadecimal number (leading spaces and an optional "0x" allowed,
// scanning stops at the first other character, nothing scanned is 0): red from bits 16-23,
// green 8-15, blue 0-7, opaque. Black for an empty text.
QColor colorFromHexString(const QString& text);

// The same scan; nothing for an empty text.
std::optional<QColor> colorFromString(const QString& text);

// The colour as the drawing layer takes it: QColor serves both, so this is the same colour.
QColor toCGColor(const QColor& color);
