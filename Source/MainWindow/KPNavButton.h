// The navigation button's place in the title bar: a 53 x 23 point view that draws nothing and
// takes clicks away from what lies below it (there, the bar that drags the window); it follows
// theme switches by redrawing.
#pragma once

#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QWidget>

class KPNavButton : public QWidget, public KPThemeBaseObjectProtocol {
public:
    static constexpr QSize kSize{53, 23};

    // Keeps the frame's origin; the size is always kSize.
    explicit KPNavButton(const QRect& frame = {}, QWidget* parent = nullptr);

    void themeUpdateWithName(const QString& themeName) override;

protected:
    void paintEvent(QPaintEvent*) override {}
    void mousePressEvent(QMouseEvent* event) override;
};
