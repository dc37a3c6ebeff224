// Resolves the PostScript-style font names the themes and views use ("OpenSans-Bold",
// "LucidaGrande", "Geneva") to fonts that exist here. The program ships Open Sans in its "font"
// resource folder; the other faces the themes name (LucidaGrande, Geneva, Helvetica…) are rarely
// installed on Linux and map to installed substitutes of the same width, and a name that matches
// nothing gives no font so the caller can apply its own fallback.
//
// Sizes are in points of the y-up geometry, which are logical pixels, so fonts are sized in
// pixels rather than in typographic points that would grow with the screen's DPI.
#pragma once

#include <QFont>
#include <QString>
#include <optional>

namespace platform::kit {

class FontResolver {
public:
    // Registers every .ttf/.otf file of folder with the application; answers how many loaded.
    static int registerFontsIn(const QString& folder);

    // The font for a PostScript-style name at size, or nothing when no such font is available.
    static std::optional<QFont> fontNamed(const QString& name, qreal size);

    // "system font N" and "bold system font N".
    static QFont systemFont(qreal size);
    static QFont boldSystemFont(qreal size);
};

} // namespace platform::kit
