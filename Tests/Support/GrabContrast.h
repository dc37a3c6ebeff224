// How well drawn text or a glyph stands out in a grab: the ground is the most frequent colour
// along a rectangle's edge, the ink the pixel inside that differs most from it, so antialiased
// strokes never lower the figure and a blank rectangle scores 1.
#pragma once

#include "Theme/ThemeContrast.h"

#include <QHash>
#include <QImage>
#include <QRect>

namespace testsupport {

struct InkContrast {
    double ratio = 1;
    QRgb ground = 0, ink = 0;
    QRect inkBounds; // the pixels that stand out at least 3:1 from the ground
};

inline InkContrast inkContrast(const QImage& image, const QRect& rect)
{
    const QRect r = rect.intersected(image.rect());
    InkContrast m;
    if (r.width() < 3 || r.height() < 3)
        return m;
    QHash<QRgb, int> edge;
    for (int x = r.left(); x <= r.right(); ++x) {
        ++edge[image.pixel(x, r.top())];
        ++edge[image.pixel(x, r.bottom())];
    }
    for (int y = r.top(); y <= r.bottom(); ++y) {
        ++edge[image.pixel(r.left(), y)];
        ++edge[image.pixel(r.right(), y)];
    }
    int most = -1;
    for (auto it = edge.cbegin(); it != edge.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            m.ground = it.key();
        }
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const double c = themecontrast::contrastRatio(QColor(image.pixel(x, y)), QColor(m.ground));
            if (c >= 3)
                m.inkBounds |= QRect(x, y, 1, 1);
            if (c > m.ratio) {
                m.ratio = c;
                m.ink = image.pixel(x, y);
            }
        }
    return m;
}

} // namespace testsupport
