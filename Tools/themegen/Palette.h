// The colours of one generated theme, all derived from its accent (the colour of its swatch in
// the preferences): title-bar gradient, side-bar and content backgrounds, text colours chosen
// by luminance, and the state tints of controls.
#pragma once

#include "Theme/ThemeContrast.h"

#include <QColor>
#include <QString>

namespace themegen {

struct Palette {
    QString name;
    QColor accent;
    bool dark = false;

    QColor titleStart, titleEnd, titleTopLine, titleBottomLine;
    QColor onTitle;          // text and glyphs drawn on the title bar
    QColor sidebarBg, sidebarItemBg, contentBg, panelBg, line;
    QColor text, mutedText, selectedText, selection;
    QColor icon, iconOver, iconDown, iconHighlight, iconDisabled;

    static Palette forTheme(const QString& name);
};

QColor mix(const QColor& a, const QColor& b, qreal t);
qreal luminance(const QColor& c);
// "RRGGBB" as the style lists store colours.
QString hexText(const QColor& c);

} // namespace themegen
