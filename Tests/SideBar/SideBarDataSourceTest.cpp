#include "SideBarTestSupport.h"

#include "Platform/Kit/Alert.h"
#include "Platform/Kit/CommandDispatcher.h"

#include <QMenu>
#include <QTest>

namespace {

using namespace sidebartest;
namespace T = SideBarNodeType;

class SideBarDataSourceTest : public SideBarFixture {
protected:
    QPoint centreOf(const KPNode::Ptr& node) const
    {
        return view->visualRect(source->model()->indexForNode(node.get())).center();
    }
    QStringList menuOf(const KPNode::Ptr& node)
    {
        const int row = view->rowForNode(node.get());
        std::unique_ptr<QMenu> menu(source->favorites().outlineViewMenuByIndexSet(QList<int>{row}));
        if (!menu)
            return {QStringLiteral("(none)")};
        QStringList items;
        for (QAction* action : menu->actions())
            items.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        return items;
    }
};

TEST_F(SideBarDataSourceTest, AnEmptyLibraryShowsTheFixedSectionsOnly)
{
    open();
    EXPECT_EQ(sections(), (QStringList{"LIBRARY", "FOCUS"}));
    EXPECT_EQ(titles(source->libraryNode()), (QStringList{"Documents", "Tags", "Collections", "SafeBox", "Trash"}));
    EXPECT_EQ(titles(source->focusNode()),
              (QStringList{"Recent", "Flagged", "Document Date", "File Type", "Author", "Received"}));
    EXPECT_TRUE(view->isNodeExpanded(source->libraryNode().get()));
    EXPECT_EQ(source->lastSelectedInfo(), (QVariantMap{{"Name", "LIBRARY"}, {"DataIndexValue", qint64(-1)}}));

    // Headers are never selected; the user's clicks on rows are announced before they land.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centreOf(source->documentsNode()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centreOf(source->focusNode()), 1000);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centreOf(source->trashNode()), 1000);
    EXPECT_EQ(told, (QStringList{"before:-", "change:Documents", "before:Documents", "change:Trash"}));
    EXPECT_EQ(source->lastSelectedInfo(), (QVariantMap{{"Name", "LIBRARY"}, {"DataIndexValue", qint64(5)}}));
    source->reloadSelectNode();
    EXPECT_EQ(told.last(), QStringLiteral("change:Trash"));

    // Importing shows once however often it is asked for, and goes again.
    source->showImportingNode(true);
    source->showImportingNode(true);
    EXPECT_EQ(titles(source->libraryNode()).count(QStringLiteral("Importing")), 1);
    EXPECT_TRUE(source->importingNode()->isBusy());
    source->showImportingNode(false);
    EXPECT_FALSE(titles(source->libraryNode()).contains(QStringLiteral("Importing")));
    EXPECT_EQ(view->selectedNode(), source->trashNode().get());
}

TEST_F(SideBarDataSourceTest, FavouritesWhoseObjectIsGoneOrTrashedAreHiddenAndKept)
{
    const DBNode collection = addNode(QStringLiteral("Work"), DBNode::Collection);
    const DBNode folder = addNode(QStringLiteral("Invoices"), DBNode::Folder, collection);
    DBNode trashed = addNode(QStringLiteral("Old"), DBNode::Folder, collection);
    trashed.setIsTrash(true);
    const DBNode smart = addNode(QStringLiteral("Big PDFs"), DBNode::SmartFolder);
    const DBTag tag = addTag(QStringLiteral("urgent"));
    DBNode deleted = addNode(QStringLiteral("Deleted"), DBNode::Folder, collection);
    for (const DBRecord& r : {DBRecord(folder), DBRecord(trashed), DBRecord(smart), DBRecord(deleted)})
        addFavorite(r, DBFavorite::kDataTypeNode);
    addFavorite(tag, DBFavorite::kDataTypeTag);
    addFavorite(tag, 3); // a kind no favourite has
    save();
    engine->context()->deleteObject(deleted.object());
    save();

    open();
    EXPECT_EQ(sections(), (QStringList{"LIBRARY", "FOCUS", "FAVORITES"}));
    EXPECT_EQ(titles(source->favoritesNode()), (QStringList{"Invoices", "Big PDFs", "urgent"}));
    EXPECT_EQ(favorites().size(), 6);
    const auto kids = source->favoritesNode()->children();
    EXPECT_EQ(kids[0]->nodeType(), T::FolderNode);
    EXPECT_EQ(kids[1]->nodeType(), T::SmartFolderNode);
    EXPECT_EQ(kids[2]->nodeType(), T::TagNode);
    EXPECT_FALSE(kids[0]->icon().isNull());

    view->selectNode(kids[1].get());
    EXPECT_EQ(source->lastSelectedInfo(),
              (QVariantMap{{"Name", "SMARTFOLDER"}, {"DataIndexValue", QVariant::fromValue(smart.nodeID())}}));
}

TEST_F(SideBarDataSourceTest, RenamingAFolderFavouriteChecksItsRealSiblings)
{
    const DBNode collection = addNode(QStringLiteral("Work"), DBNode::Collection);
    DBNode folder = addNode(QStringLiteral("Invoices"), DBNode::Folder, collection);
    addNode(QStringLiteral("Receipts"), DBNode::Folder, collection);
    DBNode trashed = addNode(QStringLiteral("Archive"), DBNode::Folder, collection);
    trashed.setIsTrash(true);
    addNode(QStringLiteral("Taxes"), DBNode::Folder, addNode(QStringLiteral("Home"), DBNode::Collection));
    addFavorite(folder, DBFavorite::kDataTypeNode);
    addFavorite(folder, DBFavorite::kDataTypeNode); // favoured twice
    save();
    open();
    QStringList alerts;
    platform::kit::Alert::setPresenterForTesting([&](const platform::kit::Alert& a) {
        alerts.append(a.messageText());
        return 1;
    });
    const KPNode::Ptr node = source->favoritesNode()->children().first();
    KPNodeTreeModel& model = *source->model();
    const QModelIndex index = model.indexForNode(node.get());
    ASSERT_TRUE(model.flags(index) & Qt::ItemIsEditable);
    EXPECT_FALSE(model.flags(model.indexForNode(source->trashNode().get())) & Qt::ItemIsEditable);

    for (const char* same : {"  Invoices \n", " ", "receipts", "INVOICES"})
        model.setData(index, QString::fromUtf8(same));
    EXPECT_EQ(folder.title(), QStringLiteral("Invoices"));
    EXPECT_EQ(count(FavoriteNodeChangeNotification), 0);
    // Only the taken names were refused, each with the sheet.
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_TRUE(alerts.first().contains(QStringLiteral("\"receipts\"")));

    // A trashed folder or one in another collection does not hold a name.
    model.setData(index, QStringLiteral("  archive "));
    EXPECT_EQ(folder.title(), QStringLiteral("archive"));
    model.setData(index, QStringLiteral("Taxes"));
    EXPECT_EQ(folder.title(), QStringLiteral("Taxes"));
    EXPECT_EQ(count(FavoriteNodeChangeNotification), 2);
    // Every favourite of the folder follows.
    EXPECT_EQ(titles(source->favoritesNode()), (QStringList{"Taxes", "Taxes"}));
    platform::kit::Alert::setPresenterForTesting({});
}

TEST_F(SideBarDataSourceTest, MenusAndWhatTheirItemsDo)
{
    const DBNode folder = addNode(QStringLiteral("Invoices"), DBNode::Folder, addNode(QStringLiteral("W"), DBNode::Collection));
    const DBTag tag = addTag(QStringLiteral("urgent"));
    addFavorite(folder, DBFavorite::kDataTypeNode);
    addFavorite(folder, DBFavorite::kDataTypeNode);
    addFavorite(tag, DBFavorite::kDataTypeTag);
    const QString papers = disk + QStringLiteral("/Papers");
    DBIndexFolder papersRow = addIndexFolderRow(papers);
    save();
    // No file manager is known: the folder is opened with xdg-open.
    qputenv("XDG_DATA_DIRS", testsupport::makeTempDir(QStringLiteral("xdg")).toUtf8());
    open();
    const KPNode::Ptr indexFolder = source->indexFolderNode()->children().first();
    ASSERT_TRUE(testsupport::spinUntil([&] { return count(RefreshItemCountNotification) > 0; }));
    auto sub = KPNode::initWithSubIndexFolder(papers + QStringLiteral("/2019"));
    source->model()->appendChild(*indexFolder, sub);
    view->expandNode(indexFolder.get());

    EXPECT_EQ(menuOf(source->trashNode()), QStringList{"Empty Trash"});
    EXPECT_EQ(menuOf(source->favoritesNode()->children().first()), QStringList{"Unfavorite"});
    EXPECT_EQ(menuOf(indexFolder), (QStringList{"Show in File Manager", "-", "Remove..."}));
    EXPECT_EQ(menuOf(sub), QStringList{"Show in File Manager"});
    EXPECT_EQ(menuOf(source->documentsNode()), QStringList{"(none)"});
    EXPECT_EQ(menuOf(source->libraryNode()), QStringList{"(none)"});

    // Empty Trash goes to whoever answers it; when nobody does, the hook hears of it.
    auto& commands = platform::kit::CommandDispatcher::shared();
    QStringList unanswered;
    commands.setUnansweredHook([&](const QString& name) { unanswered.append(name); });
    view->selectNode(source->trashNode().get());
    source->favorites().outlineViewItemMenuClick(SideBarFavorites::kEmptyTrashTag);
    EXPECT_EQ(unanswered, QStringList{MenuEmptyTrashCommand});
    int emptied = 0;
    {
        auto token = commands.add(MenuEmptyTrashCommand, [&](const QVariant&) { ++emptied; });
        source->favorites().outlineViewItemMenuClick(SideBarFavorites::kEmptyTrashTag);
    }
    EXPECT_EQ(emptied, 1);
    commands.setUnansweredHook({});

    // Reveal shows the folder in the file manager. An index folder is no row to come back to.
    view->selectNode(indexFolder.get());
    EXPECT_TRUE(source->lastSelectedInfo().isEmpty());
    source->favorites().outlineViewItemMenuClick(SideBarFavorites::kRevealTag);
    ASSERT_FALSE(launcher.launches.isEmpty());
    EXPECT_TRUE(launcher.launches.last().contains(papers));

    // Remove… asks first; only a confirmed removal takes the folder away.
    QStringList asked;
    int answer = 0;
    remover = [&](const QString& path, const QString& title, QWidget* w, std::function<void(int)> done) {
        asked.append(path + '|' + title);
        EXPECT_EQ(w, view->window());
        // A confirmed removal has written the library change before it answers.
        if (answer == 1) {
            papersRow.setIsTrash(true);
            save();
        }
        done(answer);
    };
    source->favorites().outlineViewItemMenuClick(SideBarFavorites::kRemoveTag);
    EXPECT_EQ(asked, QStringList{papers + QStringLiteral("|Papers")});
    EXPECT_EQ(count(RemoveIndexFolderNotification), 0);
    EXPECT_EQ(source->indexFolderNode()->children().size(), 1);
    answer = 1;
    source->favorites().outlineViewItemMenuClick(SideBarFavorites::kRemoveTag);
    EXPECT_EQ(count(RemoveIndexFolderNotification), 1);
    EXPECT_FALSE(sections().contains(QStringLiteral("INDEX FOLDER")));
    // The selected folder went: Documents stands in for it.
    EXPECT_EQ(view->selectedNode(), source->documentsNode().get());
    EXPECT_EQ(told.last(), QStringLiteral("change:Documents"));

    // Unfavourite marks exactly the object's favourites and takes every copy away; the last
    // one takes the section with it.
    view->selectNode(source->favoritesNode()->children().first().get());
    source->favorites().outlineViewItemMenuClick(SideBarFavorites::kUnfavoriteTag);
    EXPECT_EQ(titles(source->favoritesNode()), QStringList{"urgent"});
    int marked = 0;
    for (const DBFavorite& f : favorites())
        marked += f.isNeedDelete() ? 1 : 0;
    EXPECT_EQ(marked, 2);
    view->selectNode(source->favoritesNode()->children().first().get());
    source->favorites().outlineViewItemMenuClick(SideBarFavorites::kUnfavoriteTag);
    EXPECT_EQ(sections(), (QStringList{"LIBRARY", "FOCUS"}));
    reopen();
    EXPECT_EQ(sections(), (QStringList{"LIBRARY", "FOCUS"}));
}

TEST_F(SideBarDataSourceTest, FavouritesFromTheCollectionsSideBarStayInStep)
{
    const DBNode folder = addNode(QStringLiteral("Invoices"), DBNode::Folder, addNode(QStringLiteral("W"), DBNode::Collection));
    DBTag tag = addTag(QStringLiteral("urgent"));
    save();
    open();
    auto folderNode = KPNode::initWithDBNode(folder);
    folderNode->setRightNumber(12);
    auto tagNode = KPNode::initWithTitle(tag.name(), T::TagNode);
    tagNode->setData(tag.ref());

    source->favorites().favoriteNode(folderNode);
    source->favorites().favoriteNode(tagNode);
    EXPECT_EQ(sections().last(), QStringLiteral("FAVORITES"));
    EXPECT_EQ(titles(source->favoritesNode()), (QStringList{"Invoices", "urgent"}));
    EXPECT_EQ(source->favoritesNode()->children().first()->rightNumber(), 12);
    // The new favourite is selected, which the owner hears.
    EXPECT_EQ(told.last(), QStringLiteral("change:urgent"));
    ASSERT_EQ(favorites().size(), 2);
    EXPECT_EQ(favorites().first().dataURI(), folder.URIString());

    folderNode->setRightNumber(30);
    source->favorites().refreshFavoriteByNode(folderNode.get());
    EXPECT_EQ(source->favoritesNode()->children().first()->rightNumber(), 30);

    // Renamed and deleted elsewhere.
    tag.setName(QStringLiteral("later"));
    platform::NotificationCenter::defaultCenter().post(
        FavoriteNodeChangeNotification, QVariantMap{{"Type", "Rename"}, {"URI", tag.URIString()}});
    EXPECT_EQ(titles(source->favoritesNode()), (QStringList{"Invoices", "later"}));
    for (const DBRecord& gone : {DBRecord(tag), DBRecord(folder)})
        platform::NotificationCenter::defaultCenter().post(
            FavoriteNodeChangeNotification, QVariantMap{{"Type", "Remove"}, {"URI", gone.URIString()}});
    EXPECT_EQ(sections(), (QStringList{"LIBRARY", "FOCUS"}));
    EXPECT_EQ(view->selectedNode(), source->documentsNode().get());
}

TEST_F(SideBarDataSourceTest, NavigationMenuMirrorsTheVisibleSections)
{
    open();
    std::unique_ptr<QMenu> menu(source->duplicateMenuWithDataSource());
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 2 + 5 + 6);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("LIBRARY"));
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_EQ(actions[5]->data().value<KPNode::Ptr>(), source->trashNode());
    EXPECT_FALSE(actions[5]->icon().isNull());
    actions[5]->trigger();
    EXPECT_EQ(view->selectedNode(), source->trashNode().get());
    EXPECT_EQ(told.last(), QStringLiteral("change:Trash"));
}

} // namespace
