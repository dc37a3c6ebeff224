// The whole window over one small library, driven as a user would: every row of both side bars
// clicked, what the grid lists checked against the store, and the badges against the store.
#include "MainWindowTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPItemViewType.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/KPSplitView.h"
#include "MainWindow/MainWindowParts.h"
#include "Platform/Kit/MenuModel.h"
#include "MainWindow/Parts/WindowChrome.h"
#include "MainWindow/MainMenu.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "SideBar/SideBarNotifications.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBHelper.h"
#include "Store/DBIndexFolder.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Store/KPContextHelper.h"
#include "Tools/Sources/IndexFolderType.h"

#include <QCoreApplication>
#include <QDir>
#include <QMenuBar>
#include <QFileInfo>
#include <QScrollBar>
#include <QTest>
#include <set>

namespace {

using namespace mainwindowtest;
namespace T = SideBarNodeType;

class MainWindowMilestoneTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        disk = testsupport::makeTempDir(QStringLiteral("disk"));
        const DBNode work = node(QStringLiteral("Work"), DBNode::Collection);
        const DBNode projects = node(QStringLiteral("Projects"), DBNode::Folder, work);
        const DBNode drafts = node(QStringLiteral("Drafts"), DBNode::Folder, projects);
        node(QStringLiteral("Empty"), DBNode::Folder);

        doc({.title = QStringLiteral("Alpha"), .tags = {QStringLiteral("red")}, .authors = {QStringLiteral("Ann")},
             .label = 2},
            projects);
        doc({.title = QStringLiteral("Beta"), .tags = {QStringLiteral("red"), QStringLiteral("blue")},
             .authors = {QStringLiteral("Bob")}},
            drafts);
        doc({.title = QStringLiteral("Gamma"), .extension = QStringLiteral("txt")});
        DBFileInfo trashed = doc({.title = QStringLiteral("Trashed"), .tags = {QStringLiteral("red")}}, projects);
        trashed.setIsTrash(true);
        DBFileInfo received = doc({.title = QStringLiteral("Gift")});
        received.setExtendField(DBFileInfo::kExtendReceiveFromDevice);

        // An index folder with one document inside and one in a folder whose name only
        // begins like it.
        papers = disk + QStringLiteral("/Papers");
        QDir().mkpath(papers);
        QDir().mkpath(disk + QStringLiteral("/Papers2"));
        auto folder = DBRecord::insertNewObject<DBIndexFolder>(context());
        folder.setPath(papers);
        folder.setType(IndexFolderType::Folder);
        folder.setTitle(QStringLiteral("Papers"));
        indexDoc(papers + QStringLiteral("/Paper.pdf"));
        indexDoc(disk + QStringLiteral("/Papers2/Other.pdf"));
        ASSERT_TRUE(KPContextHelper::save(context()));
    }

    DBNode node(const QString& title, int type, const DBNode& parent = {})
    {
        DBNode n = engine->createDBNode();
        n.setTitle(title);
        n.setType(type);
        if (parent)
            n.setParent(parent);
        return n;
    }

    DBFileInfo doc(browsertest::DocumentFields model, const DBNode& folder = {})
    {
        model.created = model.modified = model.imported = browsertest::localDate(2024, 3, 15, 10, 0);
        DBFileInfo file = addDocument(model);
        if (folder)
            file.setNode(folder);
        return file;
    }

    void indexDoc(const QString& path)
    {
        DBFileInfo file = addDocument(browsertest::DocumentFields{
            .title = QFileInfo(path).completeBaseName(), .isIndex = true, .path = path});
        DBIndexFolderMetadata meta = DBRecord::insertNewObject<DBIndexFolderMetadata>(context());
        meta.setFolderID(DBHelper::folderIDForFilePath(path));
        meta.setFileInfo(file);
    }

    static QStringList listedTitles()
    {
        QStringList names;
        for (const KPItemDataPtr& item : KPDataSourceManager::shareDataSourceManager().dataSource())
            names.append(item->data().title());
        names.sort();
        return names;
    }

    // Clicks the row of node in view, scrolled into sight first.
    static void click(KPSideBarOutlineView& view, const KPNode* node)
    {
        const int row = view.rowForNode(node);
        ASSERT_GE(row, 0) << qPrintable(node->title());
        QRect frame = view.frameOfRow(row);
        if (!view.viewport()->rect().contains(frame.center())) {
            view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() + frame.center().y() -
                                               view.viewport()->height() / 2);
            frame = view.frameOfRow(row);
        }
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, frame.center());
    }

    static qint64 itemCount(KPCollectionView& grid)
    {
        qint64 n = 0;
        for (qint64 section = 0; section < grid.sectionCount(); ++section)
            n += grid.itemCountWithSectionIndex(section);
        return n;
    }

    QString disk;
    QString papers;
};

const QStringList kLive{"Alpha", "Beta", "Gamma", "Gift", "Other", "Paper"};

TEST_F(MainWindowMilestoneTest, EveryNodeOfBothSideBarsShowsItsDocuments)
{
    MainWindowController& c = open();
    c.window()->resize(1200, 1100);
    QCoreApplication::processEvents();
    MainWindowContext& ctx = c.context();
    SideBarDataSource& bar = *ctx.sideBarDataSource;
    KPSideBarOutlineView& view = sideBarView();
    KPViewSizeManager& sizes = KPViewSizeManager::instance();

    // Opened on Documents.
    EXPECT_EQ(selected(), bar.documentsNode().get());
    EXPECT_EQ(listedTitles(), kLive);
    EXPECT_GT(ctx.collectionView->sectionCount(), 0);

    std::set<int> seen;
    for (int row = 0; row < view.numberOfRows(); ++row) {
        KPNode* node = view.nodeAtRow(row);
        if (!node || node->nodeType() == T::SectionNode)
            continue;
        const QString what = QStringLiteral("%1 (type %2)").arg(node->title()).arg(node->nodeType());
        SCOPED_TRACE(what.toStdString());
        click(view, node);
        ASSERT_EQ(selected(), node);
        seen.insert(node->nodeType());
        const bool secondBarOpen = ctx.subSplitView->isExpand();
        switch (node->nodeType()) {
        case T::DocumentsNode:
            EXPECT_EQ(listedTitles(), kLive);
            break;
        case T::TrashNode:
            EXPECT_EQ(listedTitles(), QStringList{"Trashed"});
            break;
        case T::ReceivedNode:
            EXPECT_EQ(listedTitles(), QStringList{"Gift"});
            break;
        case T::IndexFolderNode:
            // By whole path components: "Papers2" is not inside "Papers".
            EXPECT_EQ(listedTitles(), QStringList{"Paper"});
            break;
        case T::RecentNode:
            for (const QString& title : listedTitles())
                EXPECT_TRUE(kLive.contains(title)) << qPrintable(title);
            break;
        case T::FlaggedNode:
        case T::FileTypeNode:
        case T::AuthorNode:
        case T::DocumentDateNode:
            // Tiles: nothing to select, one tile per group at least.
            EXPECT_NE(sizes.itemViewType(), KPItemViewTypeDocuments);
            EXPECT_FALSE(ctx.collectionView->allowSelection());
            EXPECT_GT(itemCount(*ctx.collectionView), 0);
            break;
        case T::TagsNode:
        case T::CollectionsNode: {
            EXPECT_TRUE(secondBarOpen);
            // The second bar selects its first row and the grid follows it: documents without
            // a tag, or without a folder.
            ASSERT_TRUE(testsupport::spinUntil([&] { return ctx.subSideBarDataSource->selectedNode() != nullptr; }));
            const QStringList expected = node->nodeType() == T::TagsNode
                                             ? QStringList{"Gamma", "Gift", "Other", "Paper"}
                                             : QStringList{"Gamma", "Gift", "Other", "Paper"};
            EXPECT_EQ(listedTitles(), expected);
            break;
        }
        case T::SafeBoxNode:
            EXPECT_TRUE(listedTitles().isEmpty());
            break;
        default:
            break;
        }
        if (node->nodeType() != T::TagsNode && node->nodeType() != T::CollectionsNode) {
            EXPECT_FALSE(secondBarOpen);
        }
    }
    for (int type : {T::DocumentsNode, T::TrashNode, T::TagsNode, T::CollectionsNode, T::IndexFolderNode,
                     T::FlaggedNode, T::AuthorNode})
        EXPECT_TRUE(seen.count(type)) << type;
}

TEST_F(MainWindowMilestoneTest, EveryTagAndFolderOfTheSecondSideBarShowsItsDocuments)
{
    MainWindowController& c = open();
    c.window()->resize(1200, 1100);
    QCoreApplication::processEvents();
    MainWindowContext& ctx = c.context();
    SubSideBarDataSource& sub = *ctx.subSideBarDataSource;
    KPSideBarOutlineView& subView = *sub.sideBarView();

    const QHash<QString, QStringList> expected{
        // Tags (trashed documents never listed).
        {QStringLiteral("Untagged"), {"Gamma", "Gift", "Other", "Paper"}},
        {QStringLiteral("red"), {"Alpha", "Beta"}},
        {QStringLiteral("blue"), {"Beta"}},
        // Collections and folders, each with what lies below it.
        {QStringLiteral("Uncategorized"), {"Gamma", "Gift", "Other", "Paper"}},
        {QStringLiteral("Work"), {"Alpha", "Beta"}},
        {QStringLiteral("Projects"), {"Alpha", "Beta"}},
        {QStringLiteral("Drafts"), {"Beta"}},
        {QStringLiteral("Empty"), {}},
    };
    QStringList clicked;
    for (const KPNode::Ptr& header : {ctx.sideBarDataSource->tagsNode(), ctx.sideBarDataSource->collectionsNode()}) {
        click(sideBarView(), header.get());
        ASSERT_TRUE(testsupport::spinUntil([&] { return sub.selectedNode() != nullptr; }));
        for (int row = 0; row < subView.numberOfRows(); ++row) {
            KPNode* node = subView.nodeAtRow(row);
            if (node && node->hasChildren())
                subView.expandNode(node);
            if (!node || !expected.contains(node->title()))
                continue;
            SCOPED_TRACE(node->title().toStdString());
            click(subView, node);
            EXPECT_EQ(sub.selectedNode().get(), node);
            EXPECT_EQ(listedTitles(), expected.value(node->title()));
            clicked.append(node->title());
        }
    }
    clicked.sort();
    QStringList all = expected.keys();
    all.sort();
    EXPECT_EQ(clicked, all);
}

TEST_F(MainWindowMilestoneTest, BadgesMatchTheStore)
{
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    SideBarDataSource& bar = *ctx.sideBarDataSource;
    // The count posted at the restore arrives in the background.
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return bar.documentsNode()->rightNumber() == kLive.size() && bar.trashNode()->rightNumber() == 1;
    }));
    EXPECT_TRUE(ctx.appMenu->bEmptyTrash());
    if (bar.receiveNode()) {
        EXPECT_EQ(bar.receiveNode()->rightNumber(), 1);
    }
    for (const KPNode::Ptr& folder : bar.indexFolderNode()->children())
        EXPECT_EQ(folder->rightNumber(), 1) << qPrintable(folder->title());

    SubSideBarDataSource& sub = *ctx.subSideBarDataSource;
    const QHash<QString, qint64> tagCounts{{QStringLiteral("red"), 2}, {QStringLiteral("blue"), 1}};
    for (const KPNode::Ptr& tag : sub.tagsRoot()->children()) {
        if (tagCounts.contains(tag->title())) {
            EXPECT_EQ(tag->rightNumber(), tagCounts.value(tag->title())) << qPrintable(tag->title());
        }
    }
    // A document trashed after the first count: the next count follows the store.
    DBFileInfo gamma = DBRecord::recordsOf<DBFileInfo>(
                           engine->queryRecordByName(DBFileInfo::entityName(),
                                                     *platform::Predicate::format(QStringLiteral("title == 'Gamma'")))
                               .value_or(QList<platform::ManagedObjectPtr>()))
                           .value(0);
    ASSERT_TRUE(gamma);
    gamma.setIsTrash(true);
    ctx.notifications->post(RefreshItemCountNotification, QStringLiteral("All"));
    EXPECT_TRUE(testsupport::spinUntil([&] {
        return bar.documentsNode()->rightNumber() == kLive.size() - 1 && bar.trashNode()->rightNumber() == 2;
    }));
}

// The window at its opening size, written to the build folder for a look and checked for panes
// cut or out of place: the side bar, the grid and the bottom bar all inside the window, the
// grid showing its items.
TEST_F(MainWindowMilestoneTest, WindowDrawsItsPanesWhole)
{
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    QWidget& window = *c.window();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !ctx.collectionView->visibleItemViews().isEmpty(); }));
    const QRect inWindow = window.rect();
    for (QWidget* pane : {ctx.sideBarView.data(), ctx.centerView.data(), static_cast<QWidget*>(ctx.collectionView)}) {
        const QRect r(pane->mapTo(&window, QPoint()), pane->size());
        EXPECT_TRUE(inWindow.contains(r)) << qPrintable(pane->objectName());
        EXPECT_GT(r.width(), 100) << qPrintable(pane->objectName());
    }
    // Under the 40-point bar, and side by side.
    EXPECT_GE(ctx.sideBarView->mapTo(&window, QPoint()).y(), 40);
    EXPECT_EQ(ctx.centerView->mapTo(&window, QPoint()).x(), ctx.sideBarView->width() + 1);

    const bool scaled = window.devicePixelRatioF() > 1;
    const QImage image = window.grab().toImage();
    EXPECT_EQ(image.size(), window.size() * window.devicePixelRatioF());
    // The divider right of the side bar is one line, not the wider strip it is grabbed by.
    const double dpr = window.devicePixelRatioF();
    const int divider = ctx.sideBarView->width();
    const int y = int(ctx.centerView->mapTo(&window, QPoint(0, ctx.centerView->height() / 2)).y() * dpr);
    EXPECT_NE(image.pixel(int((divider + 1) * dpr), y), image.pixel(int(divider * dpr), y));
    image.save(QCoreApplication::applicationDirPath() +
               (scaled ? QStringLiteral("/../mainwindow-grab@2x.png") : QStringLiteral("/../mainwindow-grab.png")));
}

// The parts are wired to the window and to each other: the menu bar sits in the title bar, a
// selection reaches the menus, Space opens the preview of the selection and closes it again, and
// the grid has a context menu and takes drops.
TEST_F(MainWindowMilestoneTest, TheWindowAnswersThroughItsParts)
{
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !ctx.collectionView->visibleItemViews().isEmpty(); }));

    auto* menuBar = c.window()->titleBarView()->findChild<QMenuBar*>();
    ASSERT_TRUE(menuBar);
    QStringList menus;
    for (QAction* a : menuBar->actions())
        menus << a->text();
    EXPECT_TRUE(menus.contains(QStringLiteral("File"))) << qPrintable(menus.join(u','));
    EXPECT_LE(menuBar->geometry().right(), c.window()->width() / 2 + 100);

    EXPECT_FALSE(ctx.appMenu->bHasFileSelected());
    ctx.collectionView->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 0));
    ctx.collectionView->doCollectionViewItemSelectedNotify();
    EXPECT_TRUE(ctx.appMenu->bHasFileSelected());
    EXPECT_TRUE(ctx.appMenu->bMoveToTrash());

    ctx.collectionView->setFocus();
    QTest::keyClick(ctx.collectionView, Qt::Key_Space);
    EXPECT_TRUE(testsupport::spinUntil([&] { return ctx.state.isPreviewing; }));
    c.parts().quickLook.togglePreview();
    EXPECT_TRUE(testsupport::spinUntil([&] { return !ctx.state.isPreviewing; }));

    GridActions& actions = ctx.gridDataSource->actions;
    ASSERT_TRUE(actions.menu);
    const std::unique_ptr<QMenu> menu = actions.menu(KPSectionIndexSet(0, 0));
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->actions().isEmpty());
    EXPECT_TRUE(actions.draggingEnter && actions.performDragOperation);
}

// The view-mode button's menu shows the display mode and both sort orders as they are, and its
// items change them like the View menu's.
TEST_F(MainWindowMilestoneTest, ViewModeMenuFollowsAndChangesTheSettings)
{
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    QMenu* menu = c.parts().chrome.btnViewModeMenu();
    ASSERT_TRUE(menu);
    auto item = [](const QMenu* in, int tag) -> QAction* {
        for (QAction* a : in->actions())
            if (!a->isSeparator() && platform::kit::menuItemTag(a) == tag)
                return a;
        return nullptr;
    };
    QAction* icons = item(menu, WindowChrome::kViewModeMenuIconTag);
    QAction* list = item(menu, WindowChrome::kViewModeMenuListTag);
    ASSERT_TRUE(icons && list);
    EXPECT_TRUE(icons->isChecked());
    EXPECT_FALSE(list->isChecked());

    list->trigger();
    EXPECT_EQ(ctx.viewSizeManager->displayMode(), KPDisplayModeList);
    EXPECT_TRUE(list->isChecked());
    EXPECT_FALSE(icons->isChecked());
    // The View menu follows the same change.
    EXPECT_TRUE(ctx.appMenu->itemListView()->isChecked());

    QMenu* sortBy = item(menu, WindowChrome::kViewModeMenuSortTag)->menu();
    QMenu* orderBy = item(menu, WindowChrome::kViewModeMenuOrderTag)->menu();
    ASSERT_TRUE(sortBy && orderBy);
    item(sortBy, 2)->trigger();
    EXPECT_EQ(ctx.sortManager->fileSortType(), 2);
    EXPECT_TRUE(item(sortBy, 2)->isChecked());
    EXPECT_FALSE(item(sortBy, 1)->isChecked());
    const bool ascending = ctx.sortManager->groupAscending();
    item(orderBy, ascending ? mainmenu::kDescendingTag : mainmenu::kAscendingTag)->trigger();
    EXPECT_EQ(ctx.sortManager->groupAscending(), !ascending);
    EXPECT_EQ(item(orderBy, mainmenu::kAscendingTag)->isChecked(), !ascending);
    item(menu, WindowChrome::kViewModeMenuIconTag)->trigger();
    EXPECT_EQ(ctx.viewSizeManager->displayMode(), KPDisplayModeIcon);
}

} // namespace
