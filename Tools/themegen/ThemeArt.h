// What each catalogue element looks like in a theme: a draw function for every bitmap piece
// (drawn at its point size, y down, into a painter already scaled for 1x or 2x) and the
// style-list description of every colour, text style and value.
#pragma once

#include "Palette.h"
#include "Theme/ThemeCatalogue.h"

#include <QPainter>
#include <QSizeF>
#include <QVariantMap>
#include <cstring>
#include <functional>

namespace themegen {

// Catalogue names are C strings; these keep the art tables readable.
inline bool is(const char* a, const char* b)
{
    return a && b && std::strcmp(a, b) == 0;
}

inline bool has(const char* text, const char* part)
{
    return text && std::strstr(text, part) != nullptr;
}

using DrawFn = std::function<void(QPainter&, const QSizeF&)>;

// state: one of the multi-sprite state letters, or 0 for plain sprites and three-slices (whose
// one function draws left cap, middle and right cap side by side).
DrawFn elementArt(const ThemeCatalogueEntry& entry, char state, const Palette& palette);

// The description of a non-bitmap element ("Color", "TextStyle", "Number", "Point").
QVariantMap valueDescription(const ThemeCatalogueEntry& entry, const Palette& palette);

// The label colour of a file extension (lower case), grey for unknown ones.
QColor fileTypeColor(const char* extension);

// A kind icon of the grid's kind tiles: a page with a glyph of its group and a band in the
// kind's colour that carries label (the kind's extension).
void drawFileIcon(QPainter& p, const QSizeF& size, const QColor& color, const QString& group, const QString& label);

// The view-mode button picture sheet: four 56 x 23 pictures, 25 apart.
void drawViewModeSheet(QPainter& p, const Palette& palette);

// The flag filter strip's pictures: seven 18-point squares side by side, flags 1 to 7
// (126 x 18), and the lit button background, caps of 10 around a 2-point middle (22 x 18).
void drawFlagFilterSquares(QPainter& p);
void drawFilterButtonBackground(QPainter& p);

// The import overlay's icons on a 168 x 168 point sheet: icon 0 (add tags) and icon 1 (new
// folder) side by side, 84 points each, normal row above the highlighted row.
void drawImportingIcons(QPainter& p);

} // namespace themegen
