// The pixels a scan window holds in its pages, and in pages being read for it, kept under one
// bound: a few dropped files of huge pages would otherwise fill the memory. Readers take a page's
// share before they draw or decode it, so the bound holds while pages are made, not only once
// they are in the list.
//
// Threads: any; the count is atomic.
#pragma once

#include <QImage>
#include <QSize>
#include <atomic>

class KPScannerPixelBudget {
public:
    // Tuning: 400 million pixels, at most 1.6 GB as 32-bit colour (0.4 GB in gray): some 45 A4
    // pages scanned in colour at 300 dpi (2480 × 3508), or 798 A4 pages of dropped PDFs drawn
    // at 72 dpi (595 × 842). Past it a window takes no more pages until some are saved.
    static constexpr qint64 kMaxPixels = 400'000'000;

    explicit KPScannerPixelBudget(qint64 maxPixels = kMaxPixels) : m_max(maxPixels) {}

    // Takes pixels when they still fit under the bound; false, taking nothing, when not.
    bool take(qint64 pixels);
    void give(qint64 pixels);
    qint64 used() const { return m_used.load(); }
    qint64 maxPixels() const { return m_max; }

    static qint64 pixelsOf(const QSize& size);
    static qint64 pixelsOf(const QImage& image) { return image.isNull() ? 0 : pixelsOf(image.size()); }
    // What the user is told when pages are left out.
    QString fullText() const;

private:
    const qint64 m_max;
    std::atomic<qint64> m_used{0};
};
