// A grid shown offscreen with a 600 × 400 viewport, and a context that names it with the
// browser library's store, listed set, sort settings and notification centre.
#pragma once

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/MainWindowContext.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Store/DataBaseEngine.h"

#include <QApplication>

namespace gridtest {

inline void showGridInContext(KPCollectionView& grid, MainWindowContext& ctx, DataBaseEngine* store,
                              KPDataSourceManager& listed, KPDataSourceSortManager& sort,
                              platform::NotificationCenter& center)
{
    grid.show();
    const QSize chrome = grid.size() - grid.viewport()->size();
    grid.resize(600 + chrome.width(), 400 + chrome.height());
    QApplication::processEvents();

    ctx.collectionView = &grid;
    ctx.store = store;
    ctx.dataSourceManager = &listed;
    ctx.sortManager = &sort;
    ctx.viewSizeManager = &KPViewSizeManager::instance();
    ctx.notifications = &center;
}

} // namespace gridtest
