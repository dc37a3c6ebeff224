// The preferences window's tool-bar pictures ("preferences/<name>.png" and "@2x"): a rounded
// tile in the pane's colour with the pane's glyph in white.
#pragma once

#include <QString>

namespace themegen {

// Point size of a pane picture.
inline constexpr int kPaneIconSize = 32;

bool generatePaneIcons(const QString& resourceFolder);

} // namespace themegen
