#include "MainWindow/SafeBoxWiring.h"

#include "App/AppDelegate.h"
#include "Browser/KPSafeBoxItemData.h"
#include "Browser/KPSectionData.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "SafeBox/SafeBoxPaths.h"
#include "SafeBox/Views/SafeBoxMainWindowPane.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNodeType.h"
#include "Store/KPLibraryFileManager.h"

std::unique_ptr<SafeBoxPane> makeSafeBoxPane(MainWindowContext& ctx)
{
    MainWindowContext* c = &ctx;
    SafeBoxMainWindowPane::Hooks hooks;
    hooks.window = [c] { return c->window.data(); };
    hooks.centerView = [c] { return c->centerView.data(); };
    hooks.toolBar = [c] { return c->centerView.data(); };
    hooks.storeFile = [] { return KPLibraryFileManager::defaultManager().safeBoxFile(); };
    hooks.runtimeFolder = [] { return SafeBoxPaths::runtimeFolder(); };
    hooks.safeBoxDisk = [c] { return c->appDelegate ? c->appDelegate->safeBoxDisk() : QString(); };
    hooks.rememberLogin = [c](const QString& disk, const QVariantMap& keyInfo) {
        if (!c->appDelegate)
            return;
        c->appDelegate->setSafeBoxDisk(disk);
        c->appDelegate->setTmpSBDicInfo(keyInfo);
    };
    hooks.updateNode = [c](qint64 count, bool busy) {
        if (!c->sideBarDataSource || !c->sideBarDataSource->safeBoxNode())
            return;
        const KPNode::Ptr& node = c->sideBarDataSource->safeBoxNode();
        node->setRightNumber(count);
        node->setIsBusy(busy);
        if (KPSideBarOutlineView* view = c->sideBarDataSource->sideBarView())
            view->reloadItem(node.get());
    };
    hooks.isSafeBoxNodeShown = [c] {
        return c->state.shownNode && c->state.shownNode->nodeType() == SideBarNodeType::SafeBoxNode;
    };
    hooks.showItems = [c](const QList<QVariantMap>& items, const QString& mount) {
        GridDataSource* grid = c->gridDataSource;
        if (!grid)
            return;
        grid->dataSource().clear();
        if (!items.isEmpty()) {
            QList<KPItemDataPtr> data;
            for (const QVariantMap& item : items)
                data.append(std::make_shared<KPSafeBoxItemData>(item, mount));
            grid->dataSource().append(KPSectionData::create(QString(), data));
        }
        if (c->viewSizeManager && !mount.isEmpty())
            c->viewSizeManager->setItemViewType(KPItemViewTypeSafeBox);
        grid->reloadData();
    };
    hooks.notifications = c->notifications;
    hooks.dialogs = c->dialogs;
    hooks.scheduler = c->scheduler;
    return std::make_unique<SafeBoxMainWindowPane>(std::move(hooks));
}
