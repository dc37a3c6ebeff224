// A scratch library with the grid's context filled in, for the parts that work around the
// grid (the window chrome and the sort, display and theme handlers).
#pragma once

#include "../../Browser/BrowserLibraryKit.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>

class GridContextTest : public browsertest::BrowserLibraryTest {
protected:
    // Opens the library, loads the gray theme, builds the menu bar and fills ctx around grid,
    // which the caller has shown.
    void setUpContext(KPCollectionView* grid)
    {
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
        QApplication::processEvents();
        ctx.collectionView = grid;
        ctx.store = engine.get();
        ctx.dataSourceManager = &listed;
        ctx.sortManager = &sort;
        ctx.viewSizeManager = &settings();
        ctx.notifications = &center;
        ctx.appMenu = &menu;
        menu.buildMenuBar(nullptr);
        source = std::make_unique<GridDataSource>(ctx);
        ctx.gridDataSource = source.get();
    }

    void TearDown() override
    {
        source.reset();
        delete menu.menuBar();
        browsertest::BrowserLibraryTest::TearDown();
    }

    KPDataSourceManager listed;
    KPDataSourceSortManager sort;
    platform::NotificationCenter center;
    AppMenuController menu;
    MainWindowContext ctx;
    std::unique_ptr<GridDataSource> source;
};
