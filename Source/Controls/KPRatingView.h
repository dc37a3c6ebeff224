// The five-star rating control: five 14-point stars on a 16-point pitch from the theme group
// "RateIcon". A press sets the rating under the pointer at once, a drag follows it, and the
// delegate hears only at the release, so a sweep across the stars writes one value.
// Main thread only.
#pragma once

#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QPointF>
#include <QWidget>
#include <functional>

class KPRatingView;

struct KPRatingViewDelegate {
    // The delegate reads rateValue().
    std::function<void(KPRatingView*)> onRatingViewValueChanged;
};

class KPRatingView : public QWidget, public KPThemeBaseObjectProtocol {
public:
    static constexpr int kStarCount = 5;
    static constexpr qreal kPitch = 16;
    static constexpr qreal kStarSize = 14;

    explicit KPRatingView(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPRatingView() override;

    qint64 rateValue() const { return m_rateValue; }
    // Clamped to 0–5; redraws only when the value changes.
    void setRateValue(qint64 value);
    void setDelegate(KPRatingViewDelegate delegate) { m_delegate = std::move(delegate); }

    // The rating under a point given y-up in the view (y is not consulted).
    static qint64 ratingByPoint(QPointF point);

    void themeUpdateWithName(const QString& themeName) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    qint64 m_rateValue = 0;
    bool m_tracking = false;
    KPRatingViewDelegate m_delegate;
};
