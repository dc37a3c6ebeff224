// A scratch library under a shown grid inside a centre view, with the window context the grid's
// parts take: documents are made in the store and listed in sections as the window would.
#pragma once

#include "../../Browser/BrowserLibraryKit.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QLocale>

namespace gridparttest {

// Records what the grid's parts tell the inspector.
class RecordingPane final : public PropertyPane {
public:
    void showItemDatas(const QList<KPItemDataPtr>& items, int type) override
    {
        shown = items;
        shownType = type;
        ++showCount;
    }
    void refreshDatas() override { ++refreshCount; }

    QList<KPItemDataPtr> shown;
    int shownType = -1;
    int showCount = 0;
    int refreshCount = 0;
};

class GridPartTest : public browsertest::BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
        ItemViewServices services = ItemViewServices::shared();
        services.library = engine.get();
        services.requestThumbnail = [](const KPItemDataPtr&) {};
        KPSectionItemView::setServices(services);

        center.resize(800, 600);
        grid = new KPCollectionView(&center);
        grid->setGeometry(0, 0, 800, 600);
        center.show();
        QApplication::processEvents();

        ctx.window = &center;
        ctx.centerView = &center;
        ctx.collectionView = grid;
        ctx.store = engine.get();
        ctx.dataSourceManager = &listed;
        ctx.sortManager = &sort;
        ctx.viewSizeManager = &settings();
        ctx.notifications = &notes;
        ctx.commands = &commands;
        ctx.appMenu = &menu;
        ctx.inspector = &pane;
        ctx.animation = &instant;
        ctx.state.shownNode = KPNode::initWithTitle(QStringLiteral("Documents"), 2);
        source = std::make_unique<GridDataSource>(ctx);
        ctx.gridDataSource = source.get();
        settings().setItemViewType(KPItemViewTypeDocuments);
        settings().setDisplayMode(KPDisplayModeIcon);
        settings().setItemScale(50);
    }

    void TearDown() override
    {
        source.reset();
        KPSectionItemView::setServices(ItemViewServices::shared());
        QLocale::setDefault(QLocale::c());
        BrowserLibraryTest::TearDown();
    }

    // Lists the documents (made with the given titles and extensions) in one section per
    // list, as the grouped view does, and reloads the grid.
    QList<QList<KPItemDataPtr>> fill(const QList<QStringList>& sections, const QString& extension = QStringLiteral("pdf"))
    {
        QList<QList<KPItemDataPtr>> made;
        QList<KPItemDataPtr> all;
        source->dataSource().clear();
        for (qsizetype s = 0; s < sections.size(); ++s) {
            QList<KPItemDataPtr> items;
            for (const QString& title : sections[s])
                items.append(KPItemData::create(addDocument({.title = title, .extension = extension})));
            source->dataSource().append(KPSectionData::create(QStringLiteral("S%1").arg(s), items));
            made.append(items);
            all += items;
        }
        listed.addSource(all);
        grid->reloadData();
        QApplication::processEvents();
        return made;
    }

    // Selects the addresses (none: clears the selection) and tells the grid's delegate.
    void select(const QList<KPSectionIndexSet>& addresses)
    {
        if (addresses.isEmpty()) {
            grid->deselect();
            grid->doCollectionViewItemSelectedNotify();
        } else {
            grid->selectItemIndexWithSectionIndexSets(addresses);
        }
    }

    QWidget center;
    KPCollectionView* grid = nullptr;
    KPDataSourceManager listed;
    KPDataSourceSortManager sort;
    platform::NotificationCenter notes;
    platform::kit::CommandDispatcher commands;
    platform::kit::AnimationPolicy instant{platform::kit::AnimationPolicy::Mode::Instant};
    AppMenuController menu;
    RecordingPane pane;
    MainWindowContext ctx;
    std::unique_ptr<GridDataSource> source;
};

} // namespace gridparttest
