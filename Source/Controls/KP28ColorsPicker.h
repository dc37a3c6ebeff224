// The row of theme colours in the preferences: equal swatches from "name,r,g,b" entries, a
// raised marker on the chosen one, a click that slides the marker there in 0.5 s and a drag
// that snaps it from swatch to swatch. The choice is announced with "28ColorsPickerChange"
// (object: the colour's name) on the default notification centre: when a slide ends, and
// 0.3 s after a drag last reached a swatch. A slide stopped by a new press or a drag ends
// without announcing.
//
// Geometry is y-up as the drawing rules give it: R is the bounds inset by 10 and 8, swatch i
// is (R x + i × s, 8, s, R height) with s = R width / n. Only swatch 0 and swatch 27 have
// rounded outer corners, so a shorter list ends square. Entries with fewer than four fields
// are skipped; with no entries the picker draws nothing and ignores the mouse.
//
// The slide and the timer run on the Kit's scheduler and animation driver (virtual in tests).
// selectWithName also moves the marker when the picker has already been drawn.
//
// Main thread only.
#pragma once

#include "Platform/Kit/Scheduler.h"

#include <QColor>
#include <QRectF>
#include <QStringList>
#include <QVariantAnimation>
#include <QWidget>
#include <memory>
#include <vector>

class KP28ColorsPicker;

// Drives the slide: each frame hands its progress (0 to 1) to the picker.
class KP28ColorsPickerAnimation : public QVariantAnimation {
public:
    explicit KP28ColorsPickerAnimation(KP28ColorsPicker* picker);
    void updateCurrentValue(const QVariant& value) override;

private:
    KP28ColorsPicker* m_picker;
};

class KP28ColorsPicker : public QWidget {
public:
    static inline const QString kChangeNotification = QStringLiteral("28ColorsPickerChange");
    static constexpr int kSlideMs = 500;
    static constexpr int kDragSettleMs = 300;

    KP28ColorsPicker(const QStringList& colorInfos, const QRect& frame, QWidget* parent = nullptr);
    ~KP28ColorsPicker() override;

    void selectWithName(const QString& name);
    int selectedIndex() const { return m_selectedIndex; }
    const QStringList& colorNames() const { return m_names; }
    const std::vector<QColor>& colorValues() const { return m_colors; }

    // y-up geometry.
    QRectF swatchRect(int index) const;
    QRectF markerRect() const { return m_tmpSelectedRect; }
    // The swatch whose horizontal range holds x, or -1.
    int swatchAtX(qreal x) const;
    // The tooltip rectangles (y-up), one per swatch, rebuilt on every resize.
    const std::vector<QRectF>& toolTipRects() const { return m_toolTips; }
    // The tooltip text at a Qt point ("" outside every swatch).
    QString toolTipAt(const QPoint& point) const;
    bool isSliding() const { return m_moveAnimation != nullptr; }

    // One step of the slide: the marker covers the fraction p of its remaining way.
    void updateProgress(qreal p);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF rowRect() const;
    qreal swatchWidth() const;
    QPointF toUp(const QPointF& qt) const { return {qt.x(), height() - qt.y()}; }
    void setColorToolTip();
    void stopSlide();
    void slideEnded();
    void announce();

    QStringList m_names;
    std::vector<QColor> m_colors;
    int m_selectedIndex = 0;
    std::unique_ptr<KP28ColorsPickerAnimation> m_moveAnimation;
    QRectF m_tmpSelectedRect;
    QRectF m_toRect;
    bool m_inited = false;
    bool m_isMouseDown = false;
    platform::kit::Token m_timer;
    std::vector<QRectF> m_toolTips;
};
