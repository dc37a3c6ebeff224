#include "MainWindowTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/MainWindowParts.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Sheet.h"
#include "SideBar/SideBarContext.h"

namespace {

using namespace mainwindowtest;
using Kind = platform::kit::RecordingDialogService::Kind;

class SafeBoxWiringTest : public MainWindowFixture {};

// The SafeBox's commands, the drop on its row and its list's menu in the wired window: nothing
// is copied into a closed box, and files are deleted from the box only in its own view.
TEST_F(SafeBoxWiringTest, CopyAndDeleteReachTheSheetsOnlyWhileTheBoxIsOpenAndShown)
{
    addDocument({.title = QStringLiteral("Alpha")});
    ASSERT_TRUE(save());
    platform::kit::RecordingDialogService dialogs;
    platform::NotificationCenter notifications;
    platform::kit::CommandDispatcher commands;
    MainWindowController::Options o = options();
    o.dialogs = &dialogs;
    o.notifications = &notifications;
    o.commands = &commands;
    MainWindowController& c = open(o);
    MainWindowContext& ctx = c.context();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !ctx.collectionView->visibleItemViews().isEmpty(); }));
    ctx.collectionView->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 0));
    SideBarDataSourceDelegate sideBar = c.parts().sideBarDelegate();
    const auto sheetNamed = [&](const QString& name) {
        return dialogs.count(Kind::Sheet) > 0 && dialogs.last(Kind::Sheet).sheet &&
               dialogs.last(Kind::Sheet).sheet->content()->objectName() == name;
    };

    // Closed: neither the command nor a drop asks anything.
    EXPECT_TRUE(commands.perform(QStringLiteral("menuCopySafeBoxClick")));
    sideBar.onSideBarMoveDataToSafeBox({});
    EXPECT_EQ(dialogs.count(Kind::Sheet), 0);

    const QString mount = testsupport::makeTempDir(QStringLiteral("mount"));
    notifications.post(QStringLiteral("SafeBoxLoginSuccess"), mount);
    ASSERT_EQ(ctx.safeBox->safeBoxAttactPath(), mount);
    commands.perform(QStringLiteral("menuCopySafeBoxClick"));
    ASSERT_EQ(dialogs.count(Kind::Sheet), 1);
    EXPECT_TRUE(sheetNamed(QStringLiteral("CopyFileToSafeBox")));
    // The box takes one transfer at a time: the next asks only once this copy has ended and
    // its sheet has gone, which on a loaded machine is well after the answer.
    const auto transferEnded = [&] {
        return dialogs.last(Kind::Sheet).answered && !dialogs.last(Kind::Sheet).sheet;
    };
    ASSERT_TRUE(testsupport::spinUntil(transferEnded));
    sideBar.onSideBarMoveDataToSafeBox({});
    ASSERT_EQ(dialogs.count(Kind::Sheet), 2);
    ASSERT_TRUE(testsupport::spinUntil(transferEnded));

    // Delete from SafeBox acts in the SafeBox's view only.
    commands.perform(QStringLiteral("menuDeleteSafeBoxFile"));
    EXPECT_EQ(dialogs.count(Kind::Sheet), 2);
    const int type = ctx.viewSizeManager->itemViewType();
    ctx.viewSizeManager->setItemViewType(KPItemViewTypeSafeBox);
    const std::optional<platform::kit::MenuModel> menu = c.parts().contextMenu.collectionViewMenu();
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->items.size(), 3u);
    EXPECT_EQ(menu->items[0].kind, platform::kit::MenuItemModel::Kind::Submenu);
    EXPECT_EQ(menu->items[0].tag, 102);
    EXPECT_EQ(menu->items[1].kind, platform::kit::MenuItemModel::Kind::Separator);
    EXPECT_EQ(menu->items[2].command, QStringLiteral("menuDeleteSafeBoxFile"));
    commands.perform(QStringLiteral("menuDeleteSafeBoxFile"));
    EXPECT_EQ(dialogs.count(Kind::Sheet), 3);
    EXPECT_TRUE(sheetNamed(QStringLiteral("RemoveSafeBoxFilesWindow")));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(Kind::Sheet).answered; }));
    ctx.viewSizeManager->setItemViewType(KPItemViewType(type));
}

} // namespace
