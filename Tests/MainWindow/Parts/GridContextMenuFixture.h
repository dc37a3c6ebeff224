// The grid's menu and sharing over a scratch library: a shown grid whose one section holds the
// documents a test makes, a context with its own command dispatcher, recorded alerts, a fake
// key state, and a workspace over a recording launcher in private XDG folders.
#pragma once

#include "../../Browser/BrowserLibraryKit.h"
#include "../../Platform/Workspace/WorkspaceTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "MainWindow/KeyState.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridContextMenu.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/SelectionSharing.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Workspace/ApplicationDatabase.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/DBHelper.h"

#include <QApplication>
#include <QFile>

namespace gridmenutest {

class GridMenuTest : public browsertest::BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        listed().removeAllObjects();
        grid.resize(600, 400);
        grid.show();
        QApplication::processEvents();

        ctx.collectionView = &grid;
        ctx.store = engine.get();
        ctx.dataSourceManager = &listed();
        ctx.sortManager = &KPDataSourceSortManager::shareDataSourceSortManager();
        ctx.viewSizeManager = &settings();
        ctx.notifications = &platform::NotificationCenter::defaultCenter();
        ctx.commands = &commands;
        ctx.dialogs = &dialogs;
        ctx.keys = &keys;
        source = std::make_unique<GridDataSource>(ctx);
        ctx.gridDataSource = source.get();
        sharing = std::make_unique<SelectionSharing>(ctx);
        sharing->workspace = &workspace;
        sharing->install();
        menu = std::make_unique<GridContextMenu>(ctx, *sharing);
        menu->workspace = &workspace;
        menu->install();
    }

    void TearDown() override
    {
        menu.reset();
        sharing.reset();
        source.reset();
        BrowserLibraryTest::TearDown();
    }

    static KPDataSourceManager& listed() { return KPDataSourceManager::shareDataSourceManager(); }

    // A document whose file exists in the library folder.
    DBFileInfo document(const QString& title, const QString& extension = QStringLiteral("pdf"), int rate = 0,
                        int label = 0, const QStringList& tags = {})
    {
        DBFileInfo file = addDocument(
            browsertest::DocumentFields{.title = title, .extension = extension, .tags = tags, .label = label, .rate = rate});
        // PDF bytes for PDFs, bytes no type claims for anything else.
        testsupport::writeFile(DBHelper::CombinFileAbsolutePath(file),
                               extension.toLower() == QLatin1String("pdf") ? QByteArray("%PDF-1.4\n") : QByteArray("\x01\x02\x03"));
        return file;
    }

    // Shows the documents in one section and selects those at the indexes (all when none given).
    QList<KPItemDataPtr> show(const QList<DBFileInfo>& files, QList<int> selected = {})
    {
        QList<KPItemDataPtr> items;
        for (const DBFileInfo& file : files)
            items.append(KPItemData::create(file));
        source->dataSource().clear();
        source->dataSource().append(KPSectionData::create(QStringLiteral("S"), items));
        listed().addSource(items);
        grid.reloadData();
        if (selected.isEmpty())
            for (int i = 0; i < items.size(); ++i)
                selected.append(i);
        QList<KPSectionIndexSet> indexSets;
        for (int i : selected)
            indexSets.append(KPSectionIndexSet(0, i));
        grid.selectItemIndexWithSectionIndexSets(indexSets);
        return items;
    }

    void showNode(int type) { ctx.state.shownNode = KPNode::initWithTitle(QStringLiteral("Node"), type); }

    KPCollectionView grid;
    MainWindowContext ctx;
    platform::kit::CommandDispatcher commands;
    platform::kit::RecordingDialogService dialogs;
    FixedKeyState keys;
    testsupport::XdgSandbox xdg;
    testsupport::RecordingLauncher launcher;
    platform::ApplicationDatabase applications;
    platform::Workspace workspace{launcher, applications};
    std::unique_ptr<GridDataSource> source;
    std::unique_ptr<SelectionSharing> sharing;
    std::unique_ptr<GridContextMenu> menu;
};

} // namespace gridmenutest
