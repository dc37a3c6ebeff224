#include "MainWindow/SafeBoxWiring.h"

#include "App/AppDelegate.h"
#include "Browser/KPSafeBoxItemData.h"
#include "Browser/KPSectionData.h"
#include "Browser/KPViewSizeManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridContextMenu.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/SideBarRequests.h"
#include "Platform/Foundation/Localization.h"
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
    hooks.keyInfo = [c] { return c->appDelegate ? c->appDelegate->tmpSBDicInfo() : QVariantMap(); };
    hooks.popoverOpened = [c](std::function<void()> close) {
        c->state.openPopovers[QStringLiteral("SafeBoxSetting")] = std::move(close);
    };
    hooks.popoverClosed = [c] { c->state.openPopovers.erase(QStringLiteral("SafeBoxSetting")); };
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

void wireSafeBox(MainWindowContext& ctx, SideBarRequests& requests, GridContextMenu& contextMenu)
{
    MainWindowContext* c = &ctx;
    SafeBoxPane* pane = ctx.safeBox;
    if (!pane)
        return;
    if (pane->canCopyFiles()) {
        requests.copyToSafeBox = [c](const QString& target, const QList<KPItemDataPtr>& sources,
                                     std::function<void(const QList<KPItemDataPtr>&, bool)> done) {
            if (c->safeBox)
                c->safeBox->copyFiles(c->window, target, sources, std::move(done));
        };
    }
    GridContextMenu* menu = &contextMenu;
    contextMenu.safeBoxMenu = [menu]() -> std::optional<platform::kit::MenuModel> {
        using platform::kit::MenuItemModel;
        MenuItemModel openWith = MenuItemModel::submenu(platform::localizedString(QStringLiteral("Open With")),
                                                        menu->openWithItems(menu->selectedItems()));
        openWith.tag = GridContextMenu::OpenWithTag;
        return platform::kit::MenuModel{
            {},
            {std::move(openWith), MenuItemModel::separator(),
             MenuItemModel::item(platform::localizedString(QStringLiteral("Delete from SafeBox…")), 0,
                                 QStringLiteral("menuDeleteSafeBoxFile"))}};
    };
    // "menuCopySafeBoxClick" and "menuDeleteSafeBoxFile" are the Document menu's commands: they
    // reach the pane through copyToSafeBox above and SafeBoxPane::removeFiles.
}
