// The menu bar's window, display, sort, zoom and add commands, performed by name through the
// whole window over a scratch library, as the menu bar and the tool bars send them.
#include "../MainWindowTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainMenu.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/MainWindowParts.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/MenuModel.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SubSideBarDataSource.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QCoreApplication>
#include <map>

namespace {

using namespace mainwindowtest;
using platform::kit::makeSender;
namespace T = SideBarNodeType;

class MenuActionsTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        // Grouped by the title's first letter, the three share one section.
        const QDateTime day = browsertest::localDate(2024, 3, 15, 10, 0);
        for (const char* title : {"Apricot", "Apple", "Avocado"})
            addDocument({.title = QString::fromLatin1(title), .created = day, .modified = day, .imported = day});
    }

    MainWindowContext& start()
    {
        MainWindowController& c = open();
        MainWindowContext& ctx = c.context();
        sideBarView().selectNode(ctx.sideBarDataSource->documentsNode().get());
        EXPECT_TRUE(testsupport::spinUntil([&] { return titles(ctx).size() == 3; }));
        return ctx;
    }

    static bool perform(MainWindowContext& ctx, const char* name, int tag = 0)
    {
        return ctx.commands->perform(QString::fromLatin1(name), makeSender(tag));
    }

    static QStringList titles(MainWindowContext& ctx)
    {
        QStringList names;
        for (const KPSectionDataPtr& section : ctx.gridDataSource->dataSource())
            for (const KPSectionItem& item : section->datas())
                if (KPItemDataPtr document = item.itemData())
                    names.append(document->data().title());
        return names;
    }

    static int countOfType(const KPNode::Ptr& node, int type)
    {
        if (!node)
            return 0;
        int n = node->nodeType() == type ? 1 : 0;
        for (const KPNode::Ptr& child : node->children())
            n += countOfType(child, type);
        return n;
    }
};

TEST_F(MenuActionsTest, EveryWindowCommandOfTheMenuBarIsRegistered)
{
    MainWindowContext& ctx = start();
    for (const char* name :
         {"terminate", "performMiniaturize", "performZoom", "showMainWindow", "menuEnterFullScreenCliek",
          "menuShowHideSideBarClick", "menuShowInfo", "menuSwitchViewModeClick", "menuViewSettingClick",
          "menuSectionSortClick", "menuPopupMenuItemFileSortClick", "menuZoomInClick", "menuZoomOutClick",
          "menuSwitchNodeClick", "menuAddFolder", "menuAddFolderToRoot", "menuAddFolderFromSelection",
          "menuAddCollection", "menuAddTag", "menuAddTagGroup"})
        EXPECT_TRUE(ctx.commands->canPerform(QString::fromLatin1(name))) << name;
    // Without a program around the window, quitting is refused quietly rather than crashing.
    EXPECT_TRUE(perform(ctx, "terminate"));
}

TEST_F(MenuActionsTest, WindowAndPaneToggles)
{
    MainWindowContext& ctx = start();
    WindowChrome& chrome = controller->parts().chrome;
    const bool expanded = chrome.bLeftSideBarExpand();
    perform(ctx, "menuShowHideSideBarClick");
    EXPECT_NE(chrome.bLeftSideBarExpand(), expanded);
    perform(ctx, "menuShowHideSideBarClick");
    EXPECT_EQ(chrome.bLeftSideBarExpand(), expanded);

    const bool inspector = chrome.bRightPropertyViewExpand();
    perform(ctx, "menuShowInfo");
    EXPECT_NE(chrome.bRightPropertyViewExpand(), inspector);

    perform(ctx, "menuEnterFullScreenCliek");
    EXPECT_TRUE(ctx.window->windowState().testFlag(Qt::WindowFullScreen));
    perform(ctx, "menuEnterFullScreenCliek");
    EXPECT_FALSE(ctx.window->windowState().testFlag(Qt::WindowFullScreen));
}

// Zooming past either end keeps the scale in range yet still reloads and asks for thumbnails.
TEST_F(MenuActionsTest, ZoomStepsClampAndRestartTheThumbnailTimer)
{
    MainWindowContext& ctx = start();
    ZoomAndTiles& zoom = controller->parts().zoom;
    ctx.viewSizeManager->setItemScale(50);
    perform(ctx, "menuZoomOutClick");
    EXPECT_EQ(ctx.viewSizeManager->itemScale(), 40);

    ctx.viewSizeManager->setItemScale(KPViewSizeManager::kMaxItemScale);
    const int refreshes = zoom.thumbRefreshCount();
    perform(ctx, "menuZoomInClick");
    EXPECT_EQ(ctx.viewSizeManager->itemScale(), KPViewSizeManager::kMaxItemScale);
    EXPECT_TRUE(testsupport::spinUntil([&] { return zoom.thumbRefreshCount() > refreshes; }));

    ctx.viewSizeManager->setItemScale(KPViewSizeManager::kMinItemScale);
    perform(ctx, "menuZoomOutClick");
    EXPECT_EQ(ctx.viewSizeManager->itemScale(), KPViewSizeManager::kMinItemScale);
}

TEST_F(MenuActionsTest, FileSortDirectionKeepsTheTypeAndUnknownTypesKeepTheOrder)
{
    MainWindowContext& ctx = start();
    perform(ctx, "menuPopupMenuItemFileSortClick", 1);
    perform(ctx, "menuPopupMenuItemFileSortClick", mainmenu::kAscendingTag);
    // The visible sections are sorted as the grid animates the items to their places.
    EXPECT_TRUE(testsupport::spinUntil([&] { return titles(ctx) == QStringList{"Apple", "Apricot", "Avocado"}; }));

    perform(ctx, "menuPopupMenuItemFileSortClick", mainmenu::kDescendingTag);
    EXPECT_EQ(ctx.sortManager->fileSortType(), 1);
    EXPECT_FALSE(ctx.sortManager->fileAscending());
    EXPECT_TRUE(testsupport::spinUntil([&] { return titles(ctx) == QStringList{"Avocado", "Apricot", "Apple"}; }));

    perform(ctx, "menuPopupMenuItemFileSortClick", 9);
    EXPECT_EQ(ctx.sortManager->fileSortType(), 9);
    QCoreApplication::processEvents();
    EXPECT_EQ(titles(ctx), (QStringList{"Avocado", "Apricot", "Apple"}));
}

// Asking for the order already in force must not reverse the sections again.
TEST_F(MenuActionsTest, SectionSortInTheCurrentDirectionOnlyUpdatesTheMenu)
{
    MainWindowContext& ctx = start();
    ctx.sortManager->setGroupAscending(true);
    const QList<KPSectionDataPtr> before = ctx.gridDataSource->dataSource();
    perform(ctx, "menuSectionSortClick", mainmenu::kAscendingTag);
    EXPECT_TRUE(ctx.sortManager->groupAscending());
    EXPECT_EQ(ctx.gridDataSource->dataSource(), before);
    ASSERT_TRUE(ctx.appMenu->itemOrderBy());
    for (QAction* item : ctx.appMenu->itemOrderBy()->menu()->actions())
        EXPECT_EQ(item->isChecked(), platform::kit::menuItemTag(item) == mainmenu::kAscendingTag);

    perform(ctx, "menuSectionSortClick", mainmenu::kDescendingTag);
    EXPECT_FALSE(ctx.sortManager->groupAscending());
}

TEST_F(MenuActionsTest, ViewSettingTogglesTheDefaultAndTheMenuItem)
{
    MainWindowContext& ctx = start();
    defaults().setBool(true, KPViewSizeManager::kShowRatingKey);
    perform(ctx, "menuViewSettingClick", 2);
    EXPECT_FALSE(defaults().boolForKey(KPViewSizeManager::kShowRatingKey));
    EXPECT_FALSE(ctx.viewSizeManager->isShowRating());
    EXPECT_FALSE(ctx.appMenu->actionForCommand(QStringLiteral("menuViewSettingClick"), 2)->isChecked());
    // Unknown tags only re-read the settings.
    perform(ctx, "menuViewSettingClick", 7);
    EXPECT_FALSE(defaults().boolForKey(KPViewSizeManager::kShowRatingKey));
}

TEST_F(MenuActionsTest, ViewModeSwitchFollowsTheTag)
{
    MainWindowContext& ctx = start();
    perform(ctx, "menuSwitchViewModeClick", mainmenu::kListViewTag);
    EXPECT_EQ(ctx.viewSizeManager->displayMode(), KPDisplayModeList);
    EXPECT_TRUE(ctx.appMenu->itemListView()->isChecked());
    perform(ctx, "menuSwitchViewModeClick", 5);
    EXPECT_EQ(ctx.viewSizeManager->displayMode(), KPDisplayModeList);
    perform(ctx, "menuSwitchViewModeClick", mainmenu::kIconViewTag);
    EXPECT_EQ(ctx.viewSizeManager->displayMode(), KPDisplayModeIcon);
    EXPECT_TRUE(ctx.appMenu->itemIconView()->isChecked());
}

TEST_F(MenuActionsTest, SwitchNodeSelectsOnlyAnotherKnownNode)
{
    MainWindowContext& ctx = start();
    perform(ctx, "menuSwitchNodeClick", MenuActions::kSwitchTagsTag);
    EXPECT_EQ(selected(), ctx.sideBarDataSource->tagsNode().get());
    perform(ctx, "menuSwitchNodeClick", 99);
    EXPECT_EQ(selected(), ctx.sideBarDataSource->tagsNode().get());
    perform(ctx, "menuSwitchNodeClick", MenuActions::kSwitchCollectionsTag);
    EXPECT_EQ(selected(), ctx.sideBarDataSource->collectionsNode().get());
}

// The add commands bring up the tree they add to, and leave it alone when it is already shown.
TEST_F(MenuActionsTest, AddCommandsBringUpTheirTreeFirst)
{
    MainWindowContext& ctx = start();
    perform(ctx, "menuAddTag");
    EXPECT_EQ(selected()->nodeType(), T::TagsNode);
    const int tags = countOfType(ctx.subSideBarDataSource->rootNode(), T::TagNode);
    EXPECT_GE(tags, 1);

    KPNode* tagsNode = selected();
    perform(ctx, "menuAddTag");
    EXPECT_EQ(selected(), tagsNode);
    EXPECT_EQ(countOfType(ctx.subSideBarDataSource->rootNode(), T::TagNode), tags + 1);

    perform(ctx, "menuAddCollection");
    EXPECT_EQ(selected()->nodeType(), T::CollectionsNode);
    EXPECT_GE(countOfType(ctx.subSideBarDataSource->rootNode(), T::CollectionNode), 1);
}

TEST_F(MenuActionsTest, FolderFromAnEmptySelectionMakesNothing)
{
    MainWindowContext& ctx = start();
    KPNode* documents = selected();
    perform(ctx, "menuAddFolderFromSelection");
    EXPECT_EQ(selected(), documents);
}

} // namespace

namespace {

// Every command of a menu model and its submenus.
void commandsOf(const std::vector<platform::kit::MenuItemModel>& items, QStringList& out)
{
    for (const platform::kit::MenuItemModel& item : items) {
        if (!item.command.isEmpty())
            out.append(item.command);
        commandsOf(item.items, out);
    }
}

class SmartFolderSheet final : public SearchHooks {
public:
    bool hasSmartFolderSheet() const override { return true; }
    void beginSmartFolderSheet(QWidget*, std::function<void(int, const QByteArray&, const QString&)> done) override
    {
        ++begun;
        done(result, QByteArray("rules"), QStringLiteral("Recent PDFs"));
    }
    int begun = 0;
    int result = 1;
};

// Every item of the menu bar, the grid's context menu, the action bar and the side bar's buttons
// performs a command somebody answers; the menu bar enables the items as its flags and the
// subsystems of this build say; a name nobody answers reaches the hook.
TEST_F(MenuActionsTest, EveryItemPerformsARegisteredCommandEnabledAsTheBindingsSay)
{
    MainWindowContext& ctx = start();
    QStringList names;
    for (const platform::kit::MenuModel& menu : mainmenu::mainMenuModels())
        commandsOf(menu.items, names);
    ctx.collectionView->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 0));
    ctx.collectionView->doCollectionViewItemSelectedNotify();
    const std::optional<platform::kit::MenuModel> context = controller->parts().contextMenu.collectionViewMenu();
    ASSERT_TRUE(context);
    commandsOf(context->items, names);
    commandsOf(MainWindowParts::addButtonMenuModel().items, names);
    names << GridInteraction::kShowTagsCommand << GridInteraction::kMergePDFCommand << GridInteraction::kShareCommand
          << GridInteraction::kMoveToTrashCommand << QStringLiteral("menuAddIndexFolder") << QStringLiteral("menuEmptyTrash");
    names.removeDuplicates();
    EXPECT_GT(names.size(), 45);
    for (const QString& name : names) {
        if (name == mainmenu::kCheckForUpdatesCommand)
            continue;
        EXPECT_TRUE(ctx.commands->canPerform(name)) << qPrintable(name);
    }

    // The menu bar as built: flags govern their items, the rest follow what this build has.
    AppMenuController& menu = *ctx.appMenu;
    using Flag = AppMenuController::Flag;
    const std::map<Flag, bool> flags{{Flag::HasFileSelected, menu.bHasFileSelected()},
                                     {Flag::MoveToTrash, menu.bMoveToTrash()},
                                     {Flag::EmptyTrash, menu.bEmptyTrash()},
                                     {Flag::CanMerge, menu.bCanMerge()},
                                     {Flag::NewFolderFromSelection, menu.bNewFolderFromSelection()},
                                     {Flag::EnabledListView, menu.bEnabledListView()},
                                     {Flag::ShowWindowItem, menu.bShowWindowItem()}};
    for (const auto& [flag, on] : flags)
        for (QAction* action : menu.actionsForFlag(flag))
            EXPECT_EQ(action->isEnabled(), on) << qPrintable(action->text());
    // The smart-folder sheet, the scanner and the SafeBox's sheets are part of this build: their
    // items are offered.
    for (const char* name : {"menuAddSmartFolder", "menuScanClick", "menuCopySafeBoxClick", "menuDeleteSafeBoxFile"}) {
        QAction* item = menu.actionForCommand(QString::fromLatin1(name));
        ASSERT_TRUE(item) << name;
        EXPECT_TRUE(item->isEnabled()) << name;
    }
    const QStringList waiting{"menuSearchClick"};
    const QStringList makersPages{"menuFAQClick", "menuShowHelpClick", "menuRateThisApp"};
    for (const QString& name : waiting + makersPages) {
        QAction* item = menu.actionForCommand(name);
        ASSERT_TRUE(item) << qPrintable(name);
        EXPECT_FALSE(item->isEnabled()) << qPrintable(name);
        // Performed all the same (a key equivalent), they do nothing.
        EXPECT_TRUE(ctx.commands->canPerform(name));
    }
    for (const QString& name : makersPages)
        EXPECT_FALSE(menu.actionForCommand(name)->isVisible()) << "no link host in this build";
    EXPECT_TRUE(menu.actionForCommand(QStringLiteral("menuImportFromLibrary"))->isEnabled());
    KPNode* shown = selected();
    for (const QString& name : waiting)
        ctx.commands->perform(name, makeSender(0));
    EXPECT_EQ(selected(), shown);
    EXPECT_EQ(titles(ctx).size(), 3);

    // The "+" under the side bar offers the same, smart folders included.
    const std::unique_ptr<QMenu> add(controller->parts().chrome.hooks.addButonMenu());
    ASSERT_TRUE(add);
    for (QAction* action : add->actions())
        if (!action->isSeparator())
            EXPECT_TRUE(action->isEnabled()) << qPrintable(action->text());

    QStringList unanswered;
    ctx.commands->setUnansweredHook([&](const QString& name) { unanswered.append(name); });
    EXPECT_FALSE(ctx.commands->perform(QStringLiteral("menuNoSuchThing")));
    ctx.commands->setUnansweredHook({});
    EXPECT_EQ(unanswered, QStringList{"menuNoSuchThing"});
}

// A smart-folder sheet plugged in later offers its item the next time a menu opens; its OK
// brings up Collections and makes the folder there, any other answer nothing.
TEST_F(MenuActionsTest, SmartFolderSheetOncePluggedIn)
{
    MainWindowContext& ctx = start();
    SmartFolderSheet sheet;
    SearchHooks* before = ctx.search;
    ctx.search = &sheet;
    ctx.appMenu->applyAvailability();
    EXPECT_TRUE(ctx.appMenu->actionForCommand(QStringLiteral("menuAddSmartFolder"))->isEnabled());

    sheet.result = 0;
    perform(ctx, "menuAddSmartFolder");
    EXPECT_EQ(sheet.begun, 1);
    EXPECT_EQ(selected()->nodeType(), T::DocumentsNode);

    sheet.result = 1;
    perform(ctx, "menuAddSmartFolder");
    EXPECT_EQ(selected()->nodeType(), T::CollectionsNode);
    EXPECT_EQ(countOfType(ctx.subSideBarDataSource->rootNode(), T::SmartFolderNode), 1);
    ctx.search = before;
}

// The wired window's own sheet: Cancel adds nothing; OK brings Collections up with the folder
// named as typed, and its rules give what they say.
TEST_F(MenuActionsTest, NewSmartFolderThroughTheWiredSheet)
{
    platform::kit::RecordingDialogService dialogs;
    MainWindowContext& ctx = start();
    ASSERT_TRUE(ctx.appMenu->actionForCommand(QStringLiteral("menuAddSmartFolder"))->isEnabled());

    dialogs.scriptSheet(0);
    perform(ctx, "menuAddSmartFolder");
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.requests().size() == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(selected()->nodeType(), T::DocumentsNode);
    EXPECT_EQ(countOfType(ctx.subSideBarDataSource->rootNode(), T::SmartFolderNode), 0);

    dialogs.scriptSheetShown();
    perform(ctx, "menuAddSmartFolder");
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.requests().size() == 2; }));
    auto* sheet = dialogs.requests().last().sheet.data();
    ASSERT_TRUE(sheet);
    auto* name = sheet->content()->findChild<QLineEdit*>(QStringLiteral("txtSmartName"));
    ASSERT_TRUE(name);
    name->setText(QStringLiteral("Apples"));
    sheet->end(1);
    ASSERT_TRUE(testsupport::spinUntil([&] { return selected()->nodeType() == T::CollectionsNode; }));
    ASSERT_EQ(countOfType(ctx.subSideBarDataSource->rootNode(), T::SmartFolderNode), 1);
}

// Emptying the Trash from the menu while Documents is shown: the Trash's badge counts what is
// left in it, the menu item goes off, and the grid keeps showing Documents.
TEST_F(MenuActionsTest, EmptyTrashKeepsTheShownNodeAndRecountsTheTrash)
{
    MainWindowContext& ctx = start();
    DocumentMenuActions& documents = controller->parts().documentMenuActions;
    std::function<void()> closed;
    documents.openEmptyTrashSheet = [&](std::function<void()> done) { closed = std::move(done); };
    ctx.appMenu->setBEmptyTrash(true);
    perform(ctx, "menuEmptyTrash");
    ASSERT_TRUE(closed);
    ctx.sideBarDataSource->trashNode()->setRightNumber(7);
    closed();
    EXPECT_EQ(ctx.sideBarDataSource->trashNode()->rightNumber(), 0);
    EXPECT_FALSE(ctx.appMenu->bEmptyTrash());
    EXPECT_EQ(selected(), ctx.sideBarDataSource->documentsNode().get());
    EXPECT_EQ(titles(ctx).size(), 3);
}

} // namespace

namespace {

// The Document menu's submenus list what the grid's context menu lists for the selection.
TEST_F(MenuActionsTest, DocumentSubmenusFollowTheSelection)
{
    MainWindowContext& ctx = start();
    ctx.collectionView->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 0));
    ctx.collectionView->doCollectionViewItemSelectedNotify();
    AppMenuController& menu = *ctx.appMenu;
    for (QAction* item : {menu.itemFlag(), menu.itemShare(), menu.itemMoveCollection()}) {
        ASSERT_TRUE(item && item->menu());
        Q_EMIT item->menu()->aboutToShow();
        EXPECT_FALSE(item->menu()->actions().isEmpty()) << qPrintable(item->text());
    }
    QAction* red = nullptr;
    for (QAction* action : menu.itemFlag()->menu()->actions())
        if (platform::kit::menuItemTag(action) == 2)
            red = action;
    ASSERT_TRUE(red);
    red->trigger();
    EXPECT_EQ(ctx.gridDataSource->itemDatasWithSectionIndexSets(ctx.collectionView->selectedIndexs()).value(0)->label(), 2);
}

} // namespace
