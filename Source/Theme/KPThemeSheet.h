// The decoded sprite sheet of one loaded theme and the scale it was made for. Theme objects
// keep a pointer to the sheet of the theme that made them and cut themselves from it.
#pragma once

#include <QImage>

struct KPThemeSheet {
    QImage image;
    bool is2x = false;

    qreal scale() const { return is2x ? 2.0 : 1.0; }
};
