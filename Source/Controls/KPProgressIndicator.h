// The import panel's progress bar: a themed track ("ImportingProgressBar") with either a fill
// proportional to an integer value or, while animating, a striped band scrolling along it.
//
// The stripes advance on a repeating timer of the current Scheduler, one step every 40 ms,
// through the shifts -12 … -1 and -13 (a 13-step cycle). A timer rather than a pacing thread:
// nothing can then block the interface while the bar switches modes or goes away, and the
// steps are the same.
#pragma once

#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/View.h"

#include <QImage>

class KPProgressIndicator : public platform::kit::View {
public:
    // Milliseconds between animation steps.
    static constexpr int kStepMs = 40;
    // The stripe band's horizontal shift cycles through -13 … -1.
    static constexpr int kFirstShift = -13;
    // Size of one stripe tile, in points.
    static constexpr int kTileWidth = 12;
    static constexpr int kTileHeight = 15;
    // The fill leaves this much of the track's width to its caps.
    static constexpr int kFillInset = 14;
    static constexpr qreal kClipRadius = 7.0;

    explicit KPProgressIndicator(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPProgressIndicator() override;

    void setMinValue(int value);
    void setMaxValue(int value);
    void setCurrentValue(int value);
    int minValue() const { return m_minValue; }
    int maxValue() const { return m_maxValue; }
    int currentValue() const { return m_currentValue; }

    void setDoAnimation(bool animate);
    bool doAnimation() const { return m_doAnimation; }

    // Stops the animation for good, then takes the view out (see View).
    void removeFromSuperview() override;
    // Rebuilds the stripe band from the current theme and redraws.
    void themeUpdateWithName(const QString& themeName);

    // One animation step; the timer calls it.
    void updateMainThrad();

    int translateX() const { return m_translateX; }
    bool isAnimationRunning() const { return m_timer.isActive(); }
    const QImage& fillAnimationRef() const { return m_fillAnimationRef; }
    // Width of the value fill's middle for a track of width W; 0 for an empty range.
    int fillWidth(qreal trackWidth) const;
    // Redraws asked for so far (an unchanged value asks for none).
    int redrawRequestCount() const { return m_redrawRequests; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void requestRedraw();
    void buildStripeBand(const QSize& frame);

    int m_minValue = 0;
    int m_maxValue = 100;
    int m_currentValue = 100;
    bool m_doAnimation = true;
    bool m_isNeedBreakThread = false;
    int m_translateX = kFirstShift;
    QImage m_fillAnimationRef;
    void startSteps();

    platform::kit::Token m_timer;
    int m_redrawRequests = 0;
};
