// The overlay over the grid while files are dragged in from outside: a dark veil, two drop
// icons ("add tags after import", "new folder after import") and a caption naming the zone under
// the pointer, with a hint on the modifier that deletes the sources after import (Shift here).
// It only shows the zones and reports the one under the pointer; the window decides what a drop
// does.
#pragma once

#include "Platform/Kit/Input.h"

#include <QImage>
#include <QWidget>
#include <array>

class KPImportDraggingView : public QWidget {
public:
    static constexpr qint64 kNotFound = -1;
    static constexpr int kIconSize = 84;

    explicit KPImportDraggingView(QWidget* parent = nullptr);

    // y-up rectangle of icon 0 or 1.
    QRectF dragIconByIndex(int index) const;
    qint64 dragIconByPoint(const QPointF& pointUp) const;
    // Follows the pointer (y-up); the same point again does nothing.
    void trackMousePoint(const QPointF& pointUp);
    qint64 dragIconIndex() const { return m_dragIconIndex; }
    bool isInTagOrCollection() const { return m_isInTagOrCollection; }
    void setIsInTagOrCollection(bool inside);

    QString caption() const;
    // Read afresh from the held modifiers (Input::current) each time.
    QString hint() const;
    int redrawRequests() const { return m_redrawRequests; }
    bool iconsLoaded() const { return !m_icons[0].isNull() && !m_icons[1].isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<QImage, 2> m_icons;
    std::array<QImage, 2> m_highlighted;
    qint64 m_dragIconIndex = 0;
    QPointF m_lastTrackPoint;
    bool m_isInTagOrCollection = false;
    int m_redrawRequests = 0;
};
