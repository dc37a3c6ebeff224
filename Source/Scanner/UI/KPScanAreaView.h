// The overview of the scanner sheet: the 75 dpi preview of the whole bed, on which the user
// drags the rectangle the final scan takes. Outside the rectangle the preview is dimmed; a click
// without a drag, or a new overview, selects the whole bed again.
#pragma once

#include <QImage>
#include <QRectF>
#include <QWidget>
#include <functional>

class KPScanAreaView : public QWidget {
public:
    explicit KPScanAreaView(QWidget* parent = nullptr);

    // A new overview drops the old selection: it may show another bed.
    void setOverview(const QImage& image);
    const QImage& overview() const { return m_overview; }
    // Fractions (0 … 1) of the overview; empty when nothing is selected.
    QRectF selection() const { return m_selection; }
    void clearSelection();
    // Where the overview is drawn in this view.
    QRectF shownRect() const;

    std::function<void(const QRectF& selection)> selectionChanged;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void dragTo(const QPointF& point);

    QImage m_overview;
    QRectF m_selection;
    QPointF m_dragFrom;
    bool m_dragging = false;
};
