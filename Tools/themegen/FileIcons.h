// The kind icons ("fileicon/<kind ID>.png" and "@2x"), one per entry of the supported-format
// list, plus "-1" for kinds without their own.
#pragma once

#include <QString>

namespace themegen {

// Point size of a kind icon; it sits at the top of a 120 x 132 kind tile.
inline constexpr int kFileIconSize = 100;

bool generateFileIcons(const QString& resourceFolder, const QString& supportListPath);

} // namespace themegen
