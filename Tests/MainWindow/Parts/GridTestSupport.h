// A grid shown offscreen with a 600 × 400 viewport over the browser's scratch library, the
// context naming it with the library's store, listed set, sort settings and notification centre,
// and the window's grid data source over it (the gray theme; thumbnail requests written down).
#pragma once

#include "../../Browser/BrowserLibraryKit.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/ItemViewServices.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <memory>

namespace gridtest {

class GridPartTest : public browsertest::BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
        ItemViewServices services = ItemViewServices::shared();
        services.library = engine.get();
        services.requestThumbnail = [this](const KPItemDataPtr& item) { thumbnailRequests.append(item); };
        KPSectionItemView::setServices(services);

        grid.show();
        const QSize chrome = grid.size() - grid.viewport()->size();
        grid.resize(600 + chrome.width(), 400 + chrome.height());
        QApplication::processEvents();

        ctx.collectionView = &grid;
        ctx.store = engine.get();
        ctx.dataSourceManager = &listed;
        ctx.sortManager = &sort;
        ctx.viewSizeManager = &KPViewSizeManager::instance();
        ctx.notifications = &center;
        source = std::make_unique<GridDataSource>(ctx);
    }

    void TearDown() override
    {
        source.reset();
        KPSectionItemView::setServices(ItemViewServices::shared());
        BrowserLibraryTest::TearDown();
    }

    KPCollectionView grid;
    KPDataSourceManager listed;
    KPDataSourceSortManager sort;
    platform::NotificationCenter center;
    MainWindowContext ctx;
    std::unique_ptr<GridDataSource> source;
    QList<KPItemDataPtr> thumbnailRequests;
};

} // namespace gridtest
