// The small busy spinner of side-bar rows: twelve spokes, each fainter than the one before,
// turning one spoke per beat of the shared heart beat (platform::kit::HeartBeat).
//
// It paints in the normal paint cycle (Qt cannot paint outside it); a beat advances the phase
// and asks for a repaint. Child widgets are transparent, so the row's background shows
// through without copying pixels from beside the spinner.
#pragma once

#include <QColor>
#include <QLineF>
#include <QVariant>
#include <QWidget>
#include <optional>
#include <vector>

class ProgressIndicatorCellView : public QWidget {
public:
    static constexpr int kSpokes = 12;
    // From this size on the spokes are shorter relative to the size.
    static constexpr qreal kLargeSize = 32;

    struct Spoke {
        QLineF line;
        qreal alpha;
    };

    // A 16 x 16 indicator, shown when stopped, phase 0, black.
    explicit ProgressIndicatorCellView(QWidget* parent = nullptr);
    // Everything zero or off (spokes black, not shown when stopped).
    explicit ProgressIndicatorCellView(const QRect& frame, QWidget* parent = nullptr);
    ~ProgressIndicatorCellView() override;

    void setColor(const QColor& color);
    const QColor& color() const { return m_color; }
    void setDoubleValue(double value);
    double doubleValue() const { return m_doubleValue; }
    void setSpinning(bool spinning) { m_spinning = spinning; }
    bool isSpinning() const { return m_spinning; }
    void setDisplayedWhenStopped(bool shown) { m_displayedWhenStopped = shown; }
    bool isDisplayedWhenStopped() const { return m_displayedWhenStopped; }
    void setObjectValue(const QVariant& value);

    void startAnimation();
    void stopAnimation();
    bool isRunning() const { return m_isRunning; }
    void setExpand(bool expand) { m_isExpand = expand; }
    bool isExpand() const { return m_isExpand; }
    void setBackgroundColor(std::optional<QColor> color) { m_bgColor = std::move(color); }

    // The work of one beat: advance the phase and repaint, when running and expanded.
    void heartBeat();

    // The spokes for the rectangle, first (opaque) spoke first; none when neither spinning nor
    // shown when stopped. Widget coordinates (y down).
    std::vector<Spoke> spokes(const QRectF& rect) const;
    qreal lineWidth(const QRectF& rect) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color{Qt::black};
    double m_doubleValue = 0.0;
    bool m_spinning = false;
    bool m_displayedWhenStopped = false;
    bool m_isRunning = false;
    bool m_isExpand = false;
    std::optional<QColor> m_bgColor;
};
