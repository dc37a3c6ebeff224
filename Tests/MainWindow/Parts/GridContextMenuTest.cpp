#include "GridContextMenuFixture.h"

#include "Browser/KPViewSizeManager.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBNode.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DBFileInfoMetadata.h"

#include <QMenu>

using platform::kit::MenuItemModel;
using platform::kit::MenuModel;
namespace T = SideBarNodeType;

namespace {

// The tags of the menu's top level, separators included.
QList<int> tags(const MenuModel& model)
{
    QList<int> result;
    for (const MenuItemModel& item : model.items)
        result.append(item.tag);
    return result;
}

QStringList titles(const std::vector<MenuItemModel>& items)
{
    QStringList result;
    for (const MenuItemModel& item : items)
        result.append(item.kind == MenuItemModel::Kind::Separator ? QStringLiteral("-") : item.title);
    return result;
}

// The tag of the one checked item; -1 when none is.
int checkedTag(const std::vector<MenuItemModel>& items)
{
    int found = -1;
    for (const MenuItemModel& item : items) {
        if (item.checked) {
            EXPECT_EQ(found, -1) << "two items are checked";
            found = item.tag;
        }
    }
    return found;
}

} // namespace

class GridContextMenuTest : public gridmenutest::GridMenuTest {};

// Which menu each view gets, and the items that come and go with the selection's size.
TEST_F(GridContextMenuTest, MenuFollowsTheViewAndTheSelection)
{
    const DBFileInfo a = document(QStringLiteral("a"));
    const DBFileInfo b = document(QStringLiteral("b"));
    show({a, b});

    for (KPItemViewType tiles : {KPItemViewTypeMonth, KPItemViewTypeFlag, KPItemViewTypeFileType, KPItemViewTypeAuthor}) {
        settings().setItemViewType(tiles);
        EXPECT_FALSE(menu->collectionViewMenu()) << int(tiles);
        EXPECT_EQ(menu->menu(), nullptr);
    }
    settings().setItemViewType(KPItemViewTypeSafeBox);
    EXPECT_FALSE(menu->collectionViewMenu()) << "no SafeBox menu until the SafeBox gives one";

    settings().setItemViewType(KPItemViewTypeDocuments);
    showNode(T::TrashNode);
    std::optional<MenuModel> trash = menu->collectionViewMenu();
    ASSERT_TRUE(trash);
    EXPECT_EQ(trash->titles(), QStringList{QStringLiteral("Put Back")});
    EXPECT_EQ(trash->items[0].command, GridContextMenu::kPutBackCommand);

    showNode(T::DocumentsNode);
    std::optional<MenuModel> several = menu->collectionViewMenu();
    ASSERT_TRUE(several);
    EXPECT_EQ(several->items[0].title, QStringLiteral("New Folder with Selection (2)"));
    EXPECT_EQ(several->items[0].command, GridContextMenu::kAddFolderFromSelectionCommand);
    EXPECT_EQ(tags(*several).mid(0, 2), (QList<int>{8888, 7777}));
    EXPECT_TRUE(tags(*several).contains(20));
    EXPECT_TRUE(several->findTag(21));
    EXPECT_FALSE(several->findTag(GridContextMenu::RebuildPreviewTag)) << "Ctrl not held";

    // One document selected after several: the selection items are gone.
    grid.selectItemIndexWithSectionIndexSets({KPSectionIndexSet(0, 1)});
    std::optional<MenuModel> one = menu->collectionViewMenu();
    ASSERT_TRUE(one);
    for (int gone : {8888, 7777, 20, 21})
        EXPECT_FALSE(tags(*one).contains(gone)) << gone;

    // Ctrl held as the menu opens brings the rebuild items; the shown menu carries the tags.
    keys.set(platform::kit::Modifier::Command);
    std::unique_ptr<QMenu> shown = menu->menu();
    ASSERT_TRUE(shown);
    const MenuModel read = platform::kit::fromQMenu(shown.get());
    ASSERT_TRUE(read.findTag(GridContextMenu::RebuildPreviewTag));
    EXPECT_EQ(read.findTag(GridContextMenu::RebuildPreviewTag)->command, GridContextMenu::kRebuildPreviewCommand);
}

// Marks show only what every selected document shares; merging wants PDFs only.
TEST_F(GridContextMenuTest, MarksAndMergeFollowTheWholeSelection)
{
    const DBFileInfo a = document(QStringLiteral("a"), QStringLiteral("pdf"), 3, 2);
    const DBFileInfo b = document(QStringLiteral("b"), QStringLiteral("PDF"), 3, 6);
    const DBFileInfo c = document(QStringLiteral("c"), QStringLiteral("txt"), 5, 2);

    QList<KPItemDataPtr> items = show({a, b});
    for (const KPItemDataPtr& item : items)
        item->loadDataContent();
    EXPECT_EQ(checkedTag(GridContextMenu::ratingItems(items)), 3);
    EXPECT_EQ(checkedTag(GridContextMenu::flagItems(items)), -1) << "flags 2 and 6 differ";
    std::optional<MenuModel> shown = menu->collectionViewMenu();
    ASSERT_TRUE(shown);
    const MenuItemModel* merge = shown->findTag(GridContextMenu::MergePDFTag);
    ASSERT_TRUE(merge);
    EXPECT_TRUE(merge->enabled) << "extensions compare in lower case";
    EXPECT_EQ(merge->command, GridContextMenu::kMergePDFCommand);

    items = show({a, c});
    for (const KPItemDataPtr& item : items)
        item->loadDataContent();
    EXPECT_EQ(checkedTag(GridContextMenu::ratingItems(items)), -1);
    EXPECT_EQ(checkedTag(GridContextMenu::flagItems(items)), 2);
    shown = menu->collectionViewMenu();
    ASSERT_TRUE(shown);
    merge = shown->findTag(GridContextMenu::MergePDFTag);
    ASSERT_TRUE(merge);
    EXPECT_FALSE(merge->enabled);
    EXPECT_TRUE(merge->command.isEmpty());
}

// Open With over private XDG folders: the default first, the rest by name, namesakes told
// apart, a type nobody opens, and launching without a shell.
TEST_F(GridContextMenuTest, OpenWithListsTheDesktopsProgramsInOrder)
{
    const QString flatpakData = testsupport::makeTempDir(QStringLiteral("fp")) + QStringLiteral("/flatpak/exports/share");
    qputenv("XDG_DATA_DIRS", qgetenv("XDG_DATA_DIRS") + ':' + flatpakData.toUtf8());
    xdg.writeApp(QStringLiteral("viewer.desktop"), QStringLiteral("Viewer"), QStringLiteral("viewer %F"),
                 QStringLiteral("application/pdf;"));
    xdg.writeApp(QStringLiteral("zed.desktop"), QStringLiteral("Zed"), QStringLiteral("zed %f"),
                 QStringLiteral("application/pdf;"));
    xdg.writeApp(QStringLiteral("okular.desktop"), QStringLiteral("Reader"), QStringLiteral("okular %U"),
                 QStringLiteral("application/pdf;"));
    xdg.writeApp(QStringLiteral("evince.desktop"), QStringLiteral("Reader"), QStringLiteral("evince %U"),
                 QStringLiteral("application/pdf;"));
    xdg.writeApp(QStringLiteral("org.example.Viewer.desktop"), QStringLiteral("Viewer"),
                 QStringLiteral("flatpak run org.example.Viewer @@ %F @@"), QStringLiteral("application/pdf;"), {},
                 flatpakData);
    xdg.writeApp(QStringLiteral("gone.desktop"), QStringLiteral("Gone"), QStringLiteral("gone %f"),
                 QStringLiteral("application/pdf;"), "TryExec=/nonexistent/gone\n");
    xdg.writeApp(QStringLiteral("hidden.desktop"), QStringLiteral("Hidden"), QStringLiteral("hidden %f"),
                 QStringLiteral("application/pdf;"), "NoDisplay=true\n");
    xdg.writeUserMimeApps("[Default Applications]\napplication/pdf=viewer.desktop\n");

    const DBFileInfo pdf = document(QStringLiteral("it's \"odd\"\nname"));
    const QList<KPItemDataPtr> items = show({pdf});
    items[0]->loadDataContent();
    const std::vector<MenuItemModel> openWith = menu->openWithItems(items);
    EXPECT_EQ(titles(openWith), (QStringList{QStringLiteral("Viewer (default) (viewer.desktop)"), QStringLiteral("-"),
                                             QStringLiteral("Reader (evince.desktop)"),
                                             QStringLiteral("Reader (okular.desktop)"),
                                             QStringLiteral("Viewer (Flatpak)"), QStringLiteral("Zed")}));

    // Choosing a program starts it with the file as one argument, whatever the name holds.
    const MenuItemModel& zed = openWith.back();
    ASSERT_TRUE(commands.perform(zed.command, platform::kit::makeSender(zed.tag, zed.data)));
    ASSERT_EQ(launcher.launches.size(), 1);
    EXPECT_EQ(launcher.launches[0], (QStringList{QStringLiteral("zed"), items[0]->filePath()}));

    // A program removed after the menu was built: a clear message, nothing started.
    QFile::remove(zed.data.toString());
    commands.perform(zed.command, platform::kit::makeSender(zed.tag, zed.data));
    EXPECT_EQ(launcher.launches.size(), 1);
    EXPECT_EQ(dialogs.requests().size(), 1);

    // A type no program opens.
    const DBFileInfo odd = document(QStringLiteral("blob"), QStringLiteral("zzqq"));
    const std::vector<MenuItemModel> none = menu->openWithItems(show({odd}));
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0].title, QStringLiteral("None"));
    EXPECT_FALSE(none[0].enabled);
    EXPECT_TRUE(none[0].command.isEmpty());
}

// The actions write the store and tell the window what changed.
TEST_F(GridContextMenuTest, ActionsWriteTheSelectedDocuments)
{
    const DBFileInfo a = document(QStringLiteral("a"));
    const DBFileInfo b = document(QStringLiteral("b"));
    // A record without its metadata row (older libraries have them) gets one for its flag.
    context()->deleteObject(b.metadata().object());
    ASSERT_TRUE(save());
    ASSERT_FALSE(b.metadata());
    QList<KPItemDataPtr> items = show({a, b});

    // Through the Document menu's Flag submenu, refilled as it opens.
    QMenu documentFlags;
    menu->fillSubmenu(&documentFlags, GridContextMenu::FlagTag);
    QAction* five = nullptr;
    for (QAction* action : documentFlags.actions())
        if (!action->isSeparator() && platform::kit::menuItemTag(action) == 5)
            five = action;
    ASSERT_TRUE(five);
    five->trigger();
    EXPECT_EQ(a.metadata().label(), 5);
    EXPECT_EQ(items[1]->label(), 5);
    ASSERT_TRUE(b.metadata());
    EXPECT_EQ(b.metadata().label(), 5);
    EXPECT_TRUE(testsupport::spinUntil([&] { return !context()->hasChanges(); })) << "stored, not only shown";

    QList<QVariant> counts;
    platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        RefreshItemCountNotification, [&](const platform::Notification& note) { counts.append(note.object); });

    // Put back from the Trash: live again, out of the grid, the Trash listed again.
    DBFileInfo(a).setIsTrash(true);
    DBFileInfo(b).setIsTrash(true);
    showNode(T::TrashNode);
    QList<KPNode::Ptr> reshown;
    menu->onSideBarNodeChange = [&](const KPNode::Ptr& node) { reshown.append(node); };
    items = show({a, b}, {1});
    commands.perform(GridContextMenu::kPutBackCommand);
    testsupport::spinUntil([&] { return !counts.isEmpty(); });
    EXPECT_TRUE(a.isTrash());
    EXPECT_FALSE(b.isTrash());
    ASSERT_EQ(counts.size(), 1);
    EXPECT_FALSE(counts[0].isValid()) << "every badge is counted again";
    EXPECT_EQ(reshown.size(), 1);
    EXPECT_EQ(source->dataSource().value(0)->itemCount(), 1);

    // Moving received documents into Uncategorized drops the received mark and lowers the badge.
    counts.clear();
    reshown.clear();
    DBFileInfo(a).setExtendField(DBFileInfo::kExtendReceiveFromDevice);
    DBFileInfo(a).setNode(folderNamed(QStringLiteral("F")));
    showNode(T::ReceivedNode);
    ctx.state.shownNode->setRightNumber(4);
    show({a});
    commands.perform(GridContextMenu::kMoveToCollectionCommand, platform::kit::makeSender(0, QVariant()));
    EXPECT_TRUE(a.extendField().isEmpty());
    EXPECT_FALSE(a.node());
    EXPECT_EQ(ctx.state.shownNode->rightNumber(), 3);
    EXPECT_EQ(reshown.size(), 1);
}

// The rebuild form gets the selected records and, as the program opens it, hangs as a sheet.
TEST_F(GridContextMenuTest, RebuildHandsTheSelectedRecordsToTheSheet)
{
    const DBFileInfo a = document(QStringLiteral("a"));
    const DBFileInfo b = document(QStringLiteral("b"));
    const QList<KPItemDataPtr> items = show({a, b}, {1});
    QList<platform::ObjectID> asked;
    std::function<void()> done;
    menu->openRebuildSheet = [&](const QList<platform::ObjectID>& records, std::function<void()> finished) {
        asked = records;
        done = std::move(finished);
    };
    items[1]->setBNeedReloadResource(false);
    commands.perform(GridContextMenu::kRebuildPreviewCommand);
    EXPECT_EQ(asked, QList<platform::ObjectID>{b.objectID()});
    ASSERT_TRUE(done);
    done();
    EXPECT_TRUE(items[1]->bNeedReloadResource());
}

// The Move submenu mirrors the collection tree; moving out of a listing by folder takes the
// documents out of the grid.
TEST_F(GridContextMenuTest, MoveSubmenuFollowsTheCollectionTree)
{
    DBNode collection = engine->createDBNode();
    collection.setTitle(QStringLiteral("Work"));
    collection.setType(DBNode::Collection);
    DBNode folder = folderNamed(QStringLiteral("R&D"));
    folder.setParent(collection);
    DBNode smart = engine->createDBNode();
    smart.setTitle(QStringLiteral("Smart"));
    smart.setType(DBNode::SmartFolder);
    const DBFileInfo a = document(QStringLiteral("a"));
    const DBFileInfo b = document(QStringLiteral("b"));
    ASSERT_TRUE(save());

    KPSideBarOutlineView view;
    SubSideBarDataSource sub(&view, engine.get());
    sub.initData();
    ASSERT_TRUE(testsupport::spinUntil([&] { return sub.bDataLoaded(); }));
    ctx.subSideBarDataSource = &sub;

    const std::vector<MenuItemModel> move = menu->moveItems();
    QStringList shown;
    for (const MenuItemModel& item : move)
        shown.append(item.kind == MenuItemModel::Kind::Separator ? QStringLiteral("-") : item.title.trimmed());
    EXPECT_EQ(shown, (QStringList{QStringLiteral("Uncategorized"), QStringLiteral("-"), QStringLiteral("Work"),
                                  QStringLiteral("R&D")}));
    EXPECT_FALSE(move[2].enabled) << "a collection holds folders, not documents";
    ASSERT_TRUE(move[3].enabled);

    showNode(T::CollectionsNode);
    show({a, b}, {0});
    QList<QVariant> counts;
    platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        RefreshItemCountNotification, [&](const platform::Notification& note) { counts.append(note.object); });
    commands.perform(move[3].command, platform::kit::makeSender(move[3].tag, move[3].data));
    EXPECT_EQ(a.node().title(), QStringLiteral("R&D"));
    EXPECT_FALSE(b.node());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !counts.isEmpty(); }));
    EXPECT_EQ(source->dataSource().value(0)->itemCount(), 1);
}
