// The zoom slider: an icon at each end, a three-part bar between them and a knob, all from the
// theme group "ZoomSlider". Travel is fixed at creation (width − 38 points); a click jumps the
// knob, a drag follows only when the press was on the knob, and the delegate hears a value only
// when it differs from the last one it heard.
//
// Geometry is written y-up as the drawing rules give it and converted when drawing and when
// reading event points.
#pragma once

#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QRectF>
#include <QWidget>
#include <functional>

class KPHorizontalSprite;
class KPMultiSprite;
class KPSprite;

struct KPSliderDelegate {
    std::function<void(double value)> sliderChange;
};

class KPSlider : public QWidget, public KPThemeBaseObjectProtocol {
public:
    // Points at each end that are not travel: the knob's centre moves within [19, countPixel+19].
    static constexpr double kTravelStart = 19.0;
    static constexpr int kEndsWidth = 38;

    // type is kept for callers and not used. Registers with the shared theme manager.
    KPSlider(const QRect& frame, int type, QWidget* parent = nullptr);
    ~KPSlider() override;

    void setMinValue(double value);
    void setMaxValue(double value);
    void setCurrentValue(double value);
    double minValue() const { return m_minValue; }
    double maxValue() const { return m_maxValue; }
    double currentValue() const { return m_currentValue; }
    void setDelegate(KPSliderDelegate delegate) { m_delegate = std::move(delegate); }

    // Tells the delegate when value differs from the last value it was told.
    void sliderChange(double value);
    // Whether the y-up point lies in the knob's hit rectangle.
    bool inMouseDownInSlideButton(const QPointF& up) const;

    void themeUpdateWithName(const QString& themeName) override;

    int countPixel() const { return m_countPixel; }
    double pixelValue() const { return m_pixelValue; }
    double sliderButtonX() const { return m_sliderButtonX; }
    double lastValue() const { return m_lastValue; }
    bool isMouseDown() const { return m_isMouseDown; }
    // The knob picture drawn now (highlight while pressed on the knob).
    KPSprite* knobSprite() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void loadTheme();
    void recompute();
    void jumpTo(double x);

    double m_minValue = 0;
    double m_maxValue = 100;
    double m_currentValue = 0;
    double m_lastValue = 0;
    KPSliderDelegate m_delegate;
    int m_countPixel = 0;
    double m_pixelValue = 0;
    double m_sliderButtonX = kTravelStart;
    bool m_isMouseDown = false;
    KPHorizontalSprite* m_barSprite = nullptr;
    KPSprite* m_leftIcon = nullptr;
    KPSprite* m_rightIcon = nullptr;
    KPMultiSprite* m_slideButton = nullptr;
};
