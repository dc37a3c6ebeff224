#pragma once

#include "../../SideBar/SubSideBarTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/BadgeRecountDriver.h"
#include "MainWindow/Parts/ContentSwitch.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/SideBarRequests.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Scheduler.h"
#include "SideBar/SideBarNodeType.h"

#include <QCoreApplication>

namespace sidebartest {

// A collections tree (Work with folders A, B and Empty), tags red and blue, three documents,
// the grid with its data source and the content switch over both side bars.
class SideBarRequestsFixture : public SubSideBarFixture {
protected:
    void SetUp() override
    {
        SubSideBarFixture::SetUp();
        KPDataSourceSortManager::resetForTesting();
        KPDataSourceManager::shareDataSourceManager().removeAllObjects();
        platform::UserDefaults::standardUserDefaults().setBool(true, BadgeRecountDriver::kShowItemCountKey);

        work = addNode(QStringLiteral("Work"), DBNode::Collection);
        folderA = addNode(QStringLiteral("A"), DBNode::Folder, work);
        folderB = addNode(QStringLiteral("B"), DBNode::Folder, work);
        addNode(QStringLiteral("Empty"), DBNode::Folder, work);
        red = addTag(QStringLiteral("red"));
        blue = addTag(QStringLiteral("blue"));
        d1 = addDocument(QStringLiteral("d1"), {red}, folderA);
        d2 = addDocument(QStringLiteral("d2"), {}, folderA);
        d3 = addDocument(QStringLiteral("d3"), {red, blue}, folderB);
        save();
        open();
        openSub(SubSideBarDataSource::kCollectionsMode);

        center.resize(800, 600);
        center.show();
        grid = new KPCollectionView(&center);
        grid->setGeometry(0, 0, 800, 600);
        ctx.window = window.get();
        ctx.centerView = &center;
        ctx.collectionView = grid;
        ctx.store = engine.get();
        ctx.dataSourceManager = &KPDataSourceManager::shareDataSourceManager();
        ctx.sortManager = &KPDataSourceSortManager::shareDataSourceSortManager();
        ctx.viewSizeManager = &KPViewSizeManager::instance();
        ctx.notifications = &platform::NotificationCenter::defaultCenter();
        ctx.dialogs = &dialogs;
        ctx.scheduler = &scheduler;
        ctx.sideBarDataSource = source.get();
        ctx.subSideBarDataSource = sub.get();
        ctx.safeBox = &safeBox;
        gridSource = std::make_unique<GridDataSource>(ctx);
        ctx.gridDataSource = gridSource.get();
        content = std::make_unique<ContentSwitch>(ctx);
        requests = std::make_unique<SideBarRequests>(ctx, *content);
        recountToken = platform::NotificationCenter::defaultCenter().addObserver(
            RefreshItemCountNotification, [this](const platform::Notification& n) {
                recounts << (n.object.isValid() ? n.object.toString() : QStringLiteral("<nil>"));
            });
    }

    void TearDown() override
    {
        requests.reset();
        content.reset();
        gridSource.reset();
        platform::UserDefaults::standardUserDefaults().removeObjectForKey(BadgeRecountDriver::kShowItemCountKey);
        SubSideBarFixture::TearDown();
    }

    // Shows a folder of the collections tree with all its documents selected.
    void showAndSelectAll(const QString& title)
    {
        view->selectNode(source->collectionsNode().get());
        subView->selectNode(node(title).get());
        content->onSubSideBarNodeChange(node(title));
        grid->selectAll();
    }
    int listedCount() const { return int(KPDataSourceManager::shareDataSourceManager().dataSource().size()); }
    void runAnimations()
    {
        scheduler.advance(1000);
        QCoreApplication::processEvents();
    }
    KPNode::Ptr tagNode(const QString& name) const { return childTitled(sub->tagsRoot(), name); }

    class FakeSafeBox : public SafeBoxPane {
    public:
        QString safeBoxAttactPath() const override { return attached; }
        void refreshSafeBoxDataSource() override { ++refreshes; }
        QString attached;
        int refreshes = 0;
    };

    DBNode work, folderA, folderB;
    DBTag red, blue;
    DBFileInfo d1, d2, d3;
    platform::kit::VirtualScheduler scheduler;
    platform::kit::RecordingDialogService dialogs;
    FakeSafeBox safeBox;
    QWidget center;
    KPCollectionView* grid = nullptr;
    MainWindowContext ctx;
    std::unique_ptr<GridDataSource> gridSource;
    std::unique_ptr<ContentSwitch> content;
    std::unique_ptr<SideBarRequests> requests;
    platform::ObserverToken recountToken;
    QStringList recounts;
    bool copyMoves = false;
};

} // namespace sidebartest
