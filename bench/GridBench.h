// What the grid benchmarks share: the display settings they run with, a shown grid of a given
// viewport size, and the scroll from top to bottom a quarter viewport per frame, each frame
// rendered into an image.
#pragma once

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPViewSizeManager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScrollBar>
#include <algorithm>

struct GridScrollRun {
    double seconds = 0;
    int frames = 0;
    int maxVisible = 0;
};

inline void useGridBenchSettings(KPDisplayMode mode)
{
    KPViewSizeManager& sizes = KPViewSizeManager::instance();
    sizes.setItemScale(40);
    sizes.setIsShowTitle(true);
    sizes.setIsShowRating(true);
    sizes.setIsShowTags(true);
    sizes.setDisplayMode(mode);
}

inline void showGridWithViewport(KPCollectionView& grid, const QSize& viewport)
{
    grid.show();
    grid.resize(grid.size() - grid.viewport()->size() + viewport);
    QApplication::processEvents();
}

// FOLIVO_BENCH_FRAMES=n stops a scroll after n frames (0: none): a whole scroll of 100,000 items
// takes minutes with the real item views, too long to alternate runs with their floor on a busy
// machine.
inline int benchFrameCap()
{
    return qEnvironmentVariableIntValue("FOLIVO_BENCH_FRAMES");
}

inline GridScrollRun scrollGridToBottom(KPCollectionView& grid, const QSize& viewport)
{
    const int frameCap = benchFrameCap();
    GridScrollRun r;
    QImage frame(viewport, QImage::Format_ARGB32_Premultiplied);
    QScrollBar* bar = grid.verticalScrollBar();
    QElapsedTimer timer;
    timer.start();
    for (int top = 0;; top += viewport.height() / 4) {
        bar->setValue(std::min(top, bar->maximum()));
        grid.viewport()->render(&frame);
        r.maxVisible = std::max(r.maxVisible, int(grid.visibleItemViews().size()));
        ++r.frames;
        if (top >= bar->maximum() || r.frames == frameCap)
            break;
    }
    r.seconds = timer.nsecsElapsed() / 1e9;
    return r;
}
