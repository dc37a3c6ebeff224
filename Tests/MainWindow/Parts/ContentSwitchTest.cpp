#include "MainWindow/Parts/ContentSwitch.h"

#include "../../Browser/BrowserLibraryKit.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPSortFunctions.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/KPSplitView.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "SideBar/SideBarNodeType.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBIndexFolder.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Store/DBHelper.h"
#include "Store/DBSmartFolder.h"
#include "Store/KPContextHelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QWidget>
#include <optional>

namespace {

namespace T = SideBarNodeType;
using platform::kit::RecordingDialogService;

class FakeSearch : public SearchHooks {
public:
    struct Search {
        KPNode::Ptr node;
        QVariantMap queryValues;
        QString predicate;
    };
    void doSearchBySmartFolderNode(const KPNode::Ptr& node, const QVariantMap& queryValues,
                                   const QString& predicate) override
    {
        searches.append({node, queryValues, predicate});
    }
    void resetSearchField() override { ++resets; }
    QString smartStringFromData(const QVariantMap&) const override { return predicate; }

    QString predicate;
    QList<Search> searches;
    int resets = 0;
};

class FakeSafeBox : public SafeBoxPane {
public:
    QString safeBoxAttactPath() const override { return attached; }
    void showSetupView(bool setupMode) override { told.append(setupMode ? "setup" : "login"); }
    void loadSafeBoxDataSource() override { told.append("list"); }

    QString attached;
    QStringList told;
};

class ContentSwitchTest : public browsertest::BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        KPDataSourceSortManager::resetForTesting();
        listed().removeAllObjects();
        platform::UserDefaults::standardUserDefaults().removeObjectForKey(ContentSwitch::kSubLeftSideBarWidthKey);

        center.resize(800, 600);
        center.show();
        grid = new KPCollectionView(&center);
        subBar = new QWidget;
        split.addWidget(subBar);
        split.addWidget(new QWidget);
        split.setCanCollapseIndex(0);
        split.setMinValue(120);
        split.setMaxValue(400);
        split.resize(1000, 600);
        split.show();
        split.expandWithValue(210);

        ctx.centerView = &center;
        ctx.subSplitView = &split;
        ctx.subSideBarView = subBar;
        ctx.collectionView = grid;
        ctx.store = engine.get();
        ctx.dataSourceManager = &listed();
        ctx.sortManager = &KPDataSourceSortManager::shareDataSourceSortManager();
        ctx.viewSizeManager = &settings();
        ctx.notifications = &platform::NotificationCenter::defaultCenter();
        ctx.dialogs = &dialogs;
        ctx.appMenu = &menu;
        ctx.search = &search;
        ctx.safeBox = &safeBox;
        gridSource = std::make_unique<GridDataSource>(ctx);
        ctx.gridDataSource = gridSource.get();
        content = std::make_unique<ContentSwitch>(ctx);
        content->buttonsChanged = [this](const ContentButtons& buttons) { shownButtons = buttons; };

        titleToken = platform::NotificationCenter::defaultCenter().addObserver(
            ContentSwitch::kUpdateLabCenterTitle, [this](const platform::Notification& note) {
                titles.append(note.object.isValid() ? note.object.toString() : QStringLiteral("<nil>"));
            });
    }

    void TearDown() override
    {
        content.reset();
        gridSource.reset();
        BrowserLibraryTest::TearDown();
    }

    static KPDataSourceManager& listed() { return KPDataSourceManager::shareDataSourceManager(); }

    // Titles of the listed documents, sorted.
    static QStringList listedTitles()
    {
        QStringList names;
        for (const KPItemDataPtr& item : listed().dataSource())
            names.append(item->data().title());
        names.sort();
        return names;
    }

    DBFileInfo document(const QString& title, const QStringList& tags = {}, const DBNode& folder = {})
    {
        DBFileInfo file = addDocument(browsertest::DocumentFields{.title = title, .tags = tags});
        if (folder)
            file.setNode(folder);
        return file;
    }

    DBFileInfo indexDocument(const QString& path)
    {
        DBFileInfo file = addDocument(browsertest::DocumentFields{
            .title = QFileInfo(path).completeBaseName(), .isIndex = true, .path = path});
        DBIndexFolderMetadata meta = DBRecord::insertNewObject<DBIndexFolderMetadata>(context());
        meta.setFolderID(DBHelper::folderIDForFilePath(path));
        meta.setFileInfo(file);
        return file;
    }

    static KPNode::Ptr mainNode(int type, const QString& title = QStringLiteral("Node"))
    {
        return KPNode::initWithTitle(title, type);
    }

    KPNode::Ptr tagNode(const QString& name)
    {
        KPNode::Ptr node = KPNode::initWithTitle(name, T::TagNode);
        node->setData(tagNamed(name).ref());
        return node;
    }

    KPNode::Ptr smartFolder(const QVariant& rules)
    {
        DBSmartFolder record = DBRecord::insertNewObject<DBSmartFolder>(context());
        record.setTitle(QStringLiteral("Smart"));
        record.setType(DBNode::SmartFolder);
        if (rules.typeId() == QMetaType::QByteArray)
            record.setData(rules.toByteArray());
        else
            record.setData(*platform::KeyedArchiver::archivedData(rules));
        return KPNode::initWithDBNode(DBNode(record.object()));
    }

    static QVariantMap rule(const QString& left, const QString& right)
    {
        return {{"Left", left}, {"Center", "contains"}, {"Right", right}, {"Title", left}};
    }

    QWidget center;
    KPCollectionView* grid = nullptr;
    KPSplitView split;
    QWidget* subBar = nullptr;
    MainWindowContext ctx;
    RecordingDialogService dialogs;
    AppMenuController menu;
    FakeSearch search;
    FakeSafeBox safeBox;
    std::unique_ptr<GridDataSource> gridSource;
    std::unique_ptr<ContentSwitch> content;
    ContentButtons shownButtons;
    QStringList titles;
    platform::ObserverToken titleToken;
};

// The main side bar's fixed entries over one library: what each lists, in which item view
// type, with which buttons and which title.
TEST_F(ContentSwitchTest, MainEntriesListTheirDocuments)
{
    document(QStringLiteral("Alpha"), {QStringLiteral("A")});
    DBFileInfo old = document(QStringLiteral("Old"), {QStringLiteral("A")});
    old.setIsTrash(true);
    DBFileInfo gone = document(QStringLiteral("Gone"));
    gone.setIsTrash(true);
    gone.setIsNeedDelete(true);
    document(QStringLiteral("Gift")).setExtendField(DBFileInfo::kExtendReceiveFromDevice);
    ASSERT_TRUE(save());

    struct Case {
        int type;
        QStringList listed;
        KPItemViewType viewType;
        bool groupButtons;
        bool centerTitleShown;
    };
    const QList<Case> cases{
        {T::DocumentsNode, {"Alpha", "Gift"}, KPItemViewTypeGroupedDocuments, true, false},
        {T::TrashNode, {"Old"}, KPItemViewTypeDocuments, false, true},
        {T::ReceivedNode, {"Gift"}, KPItemViewTypeGroupedDocuments, false, true},
        {T::ImportingNode, {}, KPItemViewTypeGroupedDocuments, false, false},
        {T::SectionNode, {}, KPItemViewTypeGroupedDocuments, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const KPNode::Ptr node = mainNode(c.type, QStringLiteral("Title %1").arg(c.type));
        content->onSideBarNodeChange(node);
        EXPECT_EQ(listedTitles(), c.listed);
        EXPECT_EQ(settings().itemViewType(), c.viewType);
        EXPECT_EQ(shownButtons.groupButtons, c.groupButtons);
        EXPECT_EQ(shownButtons.centerTitleShown, c.centerTitleShown);
        EXPECT_EQ(shownButtons.navigationTitle, node->title());
        EXPECT_TRUE(shownButtons.viewModeButton);
        EXPECT_EQ(titles.last(), node->title());
        EXPECT_EQ(ctx.state.shownNode, node);
    }

    // Recent and Flagged leave the title as it is.
    content->onSideBarNodeChange(mainNode(T::RecentNode));
    EXPECT_EQ(titles.last(), "<nil>");
    EXPECT_TRUE(shownButtons.recentButtons);
    // No row selected any more: nothing is listed.
    content->onSideBarNodeChange(mainNode(T::DocumentsNode));
    content->onSideBarNodeChange(nullptr);
    EXPECT_TRUE(listedTitles().isEmpty());
    EXPECT_EQ(ctx.state.shownNode, nullptr);
}

// Flagged, File Type, Author and Document Date show tiles: icon mode, nothing selectable and
// no list view; the listings afterwards get back the mode the user had chosen.
TEST_F(ContentSwitchTest, TilesForceIconModeWithoutSelectionUntilAListingIsShown)
{
    document(QStringLiteral("Alpha"));
    ASSERT_TRUE(save());
    settings().setDisplayMode(KPDisplayModeList);
    ctx.state.lastInnerDisplayMode = KPDisplayModeList;

    for (int type : {T::FlaggedNode, T::FileTypeNode, T::AuthorNode, T::DocumentDateNode}) {
        SCOPED_TRACE(type);
        content->onSideBarNodeChange(mainNode(type));
        EXPECT_EQ(settings().displayMode(), KPDisplayModeIcon);
        EXPECT_FALSE(grid->allowSelection());
        EXPECT_FALSE(grid->allowRegionSelection());
        EXPECT_FALSE(grid->allowShiftSelection());
        EXPECT_FALSE(menu.bEnabledListView());
        EXPECT_FALSE(shownButtons.viewModeButton);
    }
    EXPECT_EQ(settings().itemViewType(), KPItemViewTypeMonth);

    content->onSideBarNodeChange(mainNode(T::DocumentsNode));
    EXPECT_EQ(settings().displayMode(), KPDisplayModeList);
    EXPECT_TRUE(grid->allowSelection());
    EXPECT_TRUE(menu.bEnabledListView());
    EXPECT_TRUE(shownButtons.viewModeButton);
}

// The second side bar opens for Tags and Collections only; leaving it keeps its width for the
// next start. Importing closes it too but keeps its panel over the grid.
TEST_F(ContentSwitchTest, SecondSideBarAndImportPanel)
{
    int panels = 0;
    content->makeImportPanel = [&] {
        ++panels;
        return new QWidget;
    };
    content->onSideBarNodeChange(mainNode(T::DocumentsNode));
    EXPECT_FALSE(split.isExpand());
    EXPECT_EQ(platform::UserDefaults::standardUserDefaults().doubleForKey(ContentSwitch::kSubLeftSideBarWidthKey), 210);

    content->onSideBarNodeChange(mainNode(T::TagsNode));
    EXPECT_TRUE(split.isExpand());
    EXPECT_TRUE(shownButtons.groupButtons);
    content->onSideBarNodeChange(mainNode(T::CollectionsNode));
    EXPECT_TRUE(split.isExpand());

    content->onSideBarNodeChange(mainNode(T::ImportingNode));
    EXPECT_FALSE(split.isExpand());
    ASSERT_NE(content->importPanel(), nullptr);
    EXPECT_EQ(content->importPanel()->parentWidget(), &center);
    EXPECT_EQ(content->importPanel()->geometry(), center.rect());

    content->onSideBarNodeChange(mainNode(T::ImportingNode));
    EXPECT_NE(content->importPanel(), nullptr);
    content->onSideBarNodeChange(mainNode(T::TrashNode));
    EXPECT_EQ(content->importPanel(), nullptr);
    content->onSideBarNodeChange(mainNode(T::ImportingNode));
    EXPECT_EQ(panels, 1);
}

// An empty library on Documents shows the empty-library view over the whole document area;
// any other node, or Documents once something is there, takes it away.
TEST_F(ContentSwitchTest, EmptyLibraryView)
{
    content->onSideBarNodeChange(mainNode(T::DocumentsNode));
    QPointer<QWidget> empty = content->noDocumentView();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->parentWidget(), &center);
    EXPECT_EQ(empty->geometry(), center.rect());

    content->onSideBarNodeChange(mainNode(T::TrashNode));
    EXPECT_EQ(content->noDocumentView(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(empty.isNull());

    document(QStringLiteral("Alpha"));
    ASSERT_TRUE(save());
    content->onSideBarNodeChange(mainNode(T::DocumentsNode));
    EXPECT_EQ(content->noDocumentView(), nullptr);
}

// Received groups by creation date whatever the node's settings say, keeps the node's display
// mode, and leaves the user's own sort order alone.
TEST_F(ContentSwitchTest, ReceivedGroupsByCreationDate)
{
    document(QStringLiteral("Gift")).setExtendField(DBFileInfo::kExtendReceiveFromDevice);
    ASSERT_TRUE(save());
    auto& sort = KPDataSourceSortManager::shareDataSourceSortManager();
    sort.setGroupSortType(KPGroupSortTypeTitle);
    sort.setFileSortType(3);
    sort.setFileAscending(false);

    const KPNode::Ptr received = mainNode(T::ReceivedNode, QStringLiteral("Received"));
    content->onSideBarNodeChange(received);
    EXPECT_EQ(sort.groupSortType(), KPGroupSortTypeDateCreated);
    EXPECT_EQ(sort.fileSortType(), 3);
    EXPECT_FALSE(sort.fileAscending());
    EXPECT_EQ(listedTitles(), QStringList{"Gift"});
    EXPECT_FALSE(gridSource->dataSource().isEmpty());

    // Saved in list mode and by title: shown again in list mode, still by creation date.
    settings().setDisplayMode(KPDisplayModeList);
    sort.setGroupSortType(KPGroupSortTypeTitle);
    content->onSideBarBeforeNodeWillChange(received);
    settings().setDisplayMode(KPDisplayModeIcon);
    content->onSideBarNodeChange(mainNode(T::TrashNode));
    content->onSideBarNodeChange(received);
    EXPECT_EQ(settings().displayMode(), KPDisplayModeList);
    EXPECT_EQ(sort.groupSortType(), KPGroupSortTypeDateCreated);
}

// The collections and tags side bar: tags, tag groups, Untagged, folders with sub-folders,
// Uncategorized and several tags at once. Trashed documents never show.
TEST_F(ContentSwitchTest, CollectionsAndTagsListings)
{
    DBNode folder = folderNamed(QStringLiteral("F"));
    DBNode sub = folderNamed(QStringLiteral("S"));
    sub.setParent(folder);
    document(QStringLiteral("Alpha"), {QStringLiteral("A")}, folder);
    document(QStringLiteral("Beta"), {QStringLiteral("A"), QStringLiteral("B")}, sub);
    document(QStringLiteral("Gamma"));
    document(QStringLiteral("Delta"), {QStringLiteral("B")});
    document(QStringLiteral("Old"), {QStringLiteral("A")}, folder).setIsTrash(true);
    ASSERT_TRUE(save());

    content->onSideBarNodeChange(mainNode(T::TagsNode, QStringLiteral("Tags")));
    content->onSubSideBarNodeChange(tagNode(QStringLiteral("A")));
    EXPECT_EQ(listedTitles(), (QStringList{"Alpha", "Beta"}));

    // Switching trees shows nothing of the tag until the other tree answers.
    content->onSideBarNodeChange(mainNode(T::CollectionsNode, QStringLiteral("Collections")));
    EXPECT_TRUE(listedTitles().isEmpty());

    KPNode::Ptr untagged = KPNode::initWithTitle(QStringLiteral("Untagged"), T::TagNode);
    content->onSubSideBarNodeChange(untagged);
    EXPECT_EQ(listedTitles(), QStringList{"Gamma"});

    KPNode::Ptr group = KPNode::initWithTitle(QStringLiteral("Group"), T::TagGroupNode);
    group->addChild(tagNode(QStringLiteral("A")));
    group->addChild(tagNode(QStringLiteral("B")));
    content->onSubSideBarNodeChange(group);
    EXPECT_EQ(listedTitles(), (QStringList{"Alpha", "Beta", "Delta"}));

    // A folder lists what its sub-folders hold too.
    KPNode::Ptr folderNode = KPNode::initWithDBNode(folder);
    folderNode->addChild(KPNode::initWithDBNode(sub));
    content->onSubSideBarNodeChange(folderNode);
    EXPECT_EQ(listedTitles(), (QStringList{"Alpha", "Beta"}));
    KPNode::Ptr uncategorized = KPNode::initWithTitle(QStringLiteral("Uncategorized"), T::FolderNode);
    content->onSubSideBarNodeChange(uncategorized);
    EXPECT_EQ(listedTitles(), (QStringList{"Delta", "Gamma"}));
    content->onSubSideBarNodeChange(nullptr);
    EXPECT_TRUE(listedTitles().isEmpty());
    EXPECT_TRUE(gridSource->dataSource().isEmpty());

    // Several tags: each document once, the names joined.
    content->onSubSideBarNodesChange({tagNode(QStringLiteral("A")), tagNode(QStringLiteral("B"))});
    EXPECT_EQ(titles.last(), "A & B");
    EXPECT_EQ(listedTitles(), (QStringList{"Alpha", "Beta", "Delta"}));
    content->onSubSideBarNodesChange({tagNode(QStringLiteral("B")), untagged});
    EXPECT_EQ(titles.last(), "B");
    content->reshowSelected();
    EXPECT_EQ(titles.last(), "B");
    EXPECT_EQ(listedTitles(), (QStringList{"Beta", "Delta"}));

    // A tag deleted since the side bar was built lists nothing.
    KPNode::Ptr stale = tagNode(QStringLiteral("B"));
    context()->deleteObject(stale->tag().object());
    content->onSubSideBarNodeChange(stale);
    EXPECT_TRUE(listedTitles().isEmpty());
    ASSERT_TRUE(save());
    content->onSubSideBarNodeChange(stale);
    EXPECT_TRUE(listedTitles().isEmpty());
    KPNode::Ptr goneFolder = KPNode::initWithDBNode(sub);
    context()->deleteObject(sub.object());
    ASSERT_TRUE(save());
    content->onSubSideBarNodeChange(goneFolder);
    EXPECT_TRUE(listedTitles().isEmpty());
}

// Index folders list what lies below their path by whole components; a folder that is gone or
// cannot be read lists nothing and says which of the two it is.
TEST_F(ContentSwitchTest, IndexFoldersByWholeComponents)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("index"));
    QDir(root).mkpath(QStringLiteral("foo/sub"));
    QDir(root).mkpath(QStringLiteral("foobar"));
    indexDocument(root + QStringLiteral("/foo/one.pdf"));
    indexDocument(root + QStringLiteral("/foo/sub/two.pdf"));
    indexDocument(root + QStringLiteral("/foobar/three.pdf"));
    document(QStringLiteral("Stored"));
    DBIndexFolder folder = DBRecord::insertNewObject<DBIndexFolder>(context());
    folder.setPath(root + QStringLiteral("/foo"));
    folder.setTitle(QStringLiteral("foo"));
    ASSERT_TRUE(save());

    KPNode::Ptr node = KPNode::initWithTitle(QStringLiteral("foo"), T::IndexFolderNode);
    node->setData(folder.ref());
    content->onSideBarNodeChange(node);
    EXPECT_EQ(listedTitles(), (QStringList{"one", "two"}));
    EXPECT_EQ(dialogs.count(RecordingDialogService::Kind::Alert), 0);
    EXPECT_TRUE(shownButtons.groupButtons);

    // The same with a trailing separator, and for a sub-folder.
    folder.setPath(root + QStringLiteral("/foo/"));
    content->onSideBarNodeChange(node);
    EXPECT_EQ(listedTitles(), (QStringList{"one", "two"}));
    content->onSideBarNodeChange(KPNode::initWithSubIndexFolder(root + QStringLiteral("/foo/sub")));
    EXPECT_EQ(listedTitles(), QStringList{"two"});

    // The iCloud entry and allFileInfosByIndexNode: each folder's own documents, down the tree.
    KPNode::Ptr cloud = KPNode::initWithTitle(QStringLiteral("iCloud"), T::ICloudNode);
    cloud->addChild(node);
    node->addChild(KPNode::initWithSubIndexFolder(root + QStringLiteral("/foo/sub")));
    content->onSideBarNodeChange(cloud);
    EXPECT_EQ(listedTitles(), (QStringList{"one", "two"}));

    // Gone: "can not be found".
    folder.setPath(root + QStringLiteral("/missing"));
    node->setBoolShowWarning(true);
    content->onSideBarNodeChange(node);
    EXPECT_TRUE(listedTitles().isEmpty());
    ASSERT_EQ(dialogs.count(RecordingDialogService::Kind::Alert), 1);
    EXPECT_EQ(dialogs.last(RecordingDialogService::Kind::Alert).messageText, ContentSwitch::kFolderNotFoundText);

    // There but unreadable (the side bar does not mark it): "can not be accessed".
    folder.setPath(root + QStringLiteral("/foo"));
    node->setBoolShowWarning(false);
    content->folderAccess = [](const QString&) { return ContentSwitch::FolderAccess::Unreadable; };
    content->onSideBarNodeChange(node);
    EXPECT_TRUE(listedTitles().isEmpty());
    ASSERT_EQ(dialogs.count(RecordingDialogService::Kind::Alert), 2);
    EXPECT_EQ(dialogs.last(RecordingDialogService::Kind::Alert).messageText, ContentSwitch::kFolderNotAccessibleText);

    EXPECT_EQ(ContentSwitch::fileSystemFolderAccess(root + "/foo"), ContentSwitch::FolderAccess::Readable);
    EXPECT_EQ(ContentSwitch::fileSystemFolderAccess(root + "/nothing"), ContentSwitch::FolderAccess::Missing);
    EXPECT_EQ(ContentSwitch::fileSystemFolderAccess(root + "/foo/one.pdf"), ContentSwitch::FolderAccess::Missing);
}

// A smart folder with content rules shows nothing until the full-text search brings its hits;
// hits of a folder no longer shown are dropped. Without content rules it queries the store.
TEST_F(ContentSwitchTest, SmartFoldersSearchOrQuery)
{
    DBFileInfo alpha = document(QStringLiteral("Alpha"));
    document(QStringLiteral("Beta"));
    ASSERT_TRUE(save());
    search.predicate = QStringLiteral("isTrash == NO && title BEGINSWITH \"Al\"");

    KPNode::Ptr withContent = smartFolder(QVariantMap{
        {"Operation", true},
        {"SmartData", QVariantList{rule("content", "invoice"), rule("title", "Al")}},
    });
    content->onSideBarNodeChange(mainNode(T::DocumentsNode));
    ASSERT_FALSE(listedTitles().isEmpty());
    content->onSideBarNodeChange(withContent);
    EXPECT_TRUE(listedTitles().isEmpty());
    EXPECT_TRUE(gridSource->dataSource().isEmpty());
    ASSERT_EQ(search.searches.size(), 1);
    EXPECT_EQ(search.searches[0].node, withContent);
    EXPECT_EQ(search.searches[0].queryValues.value("Operation"), QVariant(true));
    EXPECT_EQ(search.searches[0].queryValues.value("Value").toStringList(), QStringList{"invoice"});
    EXPECT_EQ(search.searches[0].predicate, search.predicate);

    content->showSmartFolderHits(withContent, {KPItemData::create(alpha)});
    EXPECT_EQ(listedTitles(), QStringList{"Alpha"});
    EXPECT_FALSE(gridSource->dataSource().isEmpty());

    content->onSideBarNodeChange(mainNode(T::TrashNode));
    content->showSmartFolderHits(withContent, {KPItemData::create(alpha)});
    EXPECT_TRUE(listedTitles().isEmpty());

    // No content rule: the store's answer to the rules, from either side bar.
    KPNode::Ptr byTitle = smartFolder(QVariantMap{{"Operation", true}, {"SmartData", QVariantList{rule("title", "Al")}}});
    content->onSubSideBarNodeChange(byTitle);
    EXPECT_EQ(listedTitles(), QStringList{"Alpha"});
    EXPECT_EQ(search.searches.size(), 1);
    // Rules that make no predicate list nothing, not the whole library.
    search.predicate.clear();
    content->onSubSideBarNodeChange(byTitle);
    EXPECT_TRUE(listedTitles().isEmpty());
}

// Smart-folder rules come from bytes anyone may have edited: whatever they hold, the grid
// shows nothing and the search is not started.
TEST_F(ContentSwitchTest, HostileSmartFolderRules)
{
    document(QStringLiteral("Alpha"));
    ASSERT_TRUE(save());
    search.predicate = QStringLiteral("isTrash == NO");
    const QByteArray list = *platform::KeyedArchiver::archivedData(QVariantList{rule("content", "x")});
    QByteArray truncated = *platform::KeyedArchiver::archivedData(
        QVariantMap{{"SmartData", QVariantList{rule("content", "x")}}});
    truncated.chop(truncated.size() / 2);
    for (const QByteArray& bytes : {QByteArray(), QByteArray("bplist00\xff\xff\xff"), QByteArray(4096, '\0'), list,
                                    truncated}) {
        content->onSideBarNodeChange(mainNode(T::DocumentsNode));
        content->onSideBarNodeChange(smartFolder(bytes));
        EXPECT_TRUE(listedTitles().isEmpty());
    }
    EXPECT_TRUE(search.searches.isEmpty());

    // Rows of the wrong shape are no content rules; a broken predicate lists nothing.
    search.predicate = QStringLiteral("title ==");
    content->onSideBarNodeChange(smartFolder(QVariantMap{{"SmartData", QVariantList{"content", 7, QVariantList{}}}}));
    EXPECT_TRUE(listedTitles().isEmpty());
    EXPECT_TRUE(search.searches.isEmpty());
    // A smart folder without its record.
    content->onSideBarNodeChange(mainNode(T::SmartFolderNode));
    EXPECT_TRUE(listedTitles().isEmpty());
}

// Showing the shown node again gives the same listing, the second bar's node included, and
// the SafeBox entry asks for the right view.
TEST_F(ContentSwitchTest, ReshowAndSafeBox)
{
    document(QStringLiteral("Alpha"), {QStringLiteral("A")});
    document(QStringLiteral("Gamma"));
    ASSERT_TRUE(save());
    content->reshowSelected();
    EXPECT_TRUE(titles.isEmpty());

    content->onSideBarNodeChange(mainNode(T::DocumentsNode));
    const QStringList documents = listedTitles();
    content->reshowSelected();
    EXPECT_EQ(listedTitles(), documents);

    content->onSideBarNodeChange(mainNode(T::TagsNode));
    content->onSubSideBarNodeChange(KPNode::initWithTitle(QStringLiteral("Untagged"), T::TagNode));
    content->reshowSelected();
    content->reshowSelected();
    EXPECT_EQ(listedTitles(), QStringList{"Gamma"});
    EXPECT_TRUE(split.isExpand());

    // No SafeBox file yet: set-up; a file but nothing attached: log-in; attached: its listing.
    const KPNode::Ptr box = mainNode(T::SafeBoxNode);
    content->onSideBarNodeChange(box);
    EXPECT_EQ(safeBox.told, QStringList{"setup"});
    EXPECT_TRUE(listedTitles().isEmpty());
    testsupport::writeFile(files->safeBoxFile(), "box");
    content->onSideBarNodeChange(box);
    safeBox.attached = QStringLiteral("/mnt/box");
    content->onSideBarNodeChange(box);
    EXPECT_EQ(safeBox.told, (QStringList{"setup", "login", "list"}));
}

} // namespace

// The shown listing follows edits of the documents without a switch: once per burst, the grid
// keeping the documents that were selected, and a recount that changes nothing rebuilds nothing.
TEST_F(ContentSwitchTest, SeveralShownTagsFollowEditsAndKeepTheSelectedDocuments)
{
    document(QStringLiteral("a"), {QStringLiteral("A")});
    DBFileInfo b = document(QStringLiteral("b"), {QStringLiteral("B")});
    document(QStringLiteral("c"), {QStringLiteral("A"), QStringLiteral("B")});
    ASSERT_TRUE(KPContextHelper::save(context()));
    content->install();
    ctx.state.shownNode = mainNode(T::TagsNode);
    content->onSubSideBarNodesChange({tagNode(QStringLiteral("A")), tagNode(QStringLiteral("B"))});
    ASSERT_EQ(listedTitles(), (QStringList{"a", "b", "c"}));
    const auto selectedTitles = [&] {
        QStringList names;
        for (const KPItemDataPtr& item : gridSource->itemDatasWithSectionIndexSets(grid->selectedIndexs()))
            names.append(item->data().title());
        return names;
    };
    for (qsizetype i = 0; i < gridSource->dataSource()[0]->datas().size(); ++i)
        if (gridSource->dataSource()[0]->datas()[i].itemData()->data().title() == QStringLiteral("c"))
            grid->selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, i));
    ASSERT_EQ(selectedTitles(), QStringList{"c"});

    const KPSectionDataPtr shownSection = gridSource->dataSource()[0];
    for (int i = 0; i < 3; ++i)
        platform::NotificationCenter::defaultCenter().post(QStringLiteral("RefreshItemCountNotification"), QStringLiteral("Tags"));
    QCoreApplication::processEvents();
    EXPECT_EQ(gridSource->dataSource()[0], shownSection) << "nothing changed, nothing rebuilt";

    b.setTags({});
    ASSERT_TRUE(KPContextHelper::save(context()));
    EXPECT_TRUE(testsupport::spinUntil([&] { return listedTitles() == QStringList{"a", "c"}; }));
    EXPECT_EQ(selectedTitles(), QStringList{"c"});
    EXPECT_EQ(titles.last(), "A & B");
}

// A save that changes only what listed documents show (a rating, a date) updates their models
// where they stand; one that may change the listing or the grouping key lists again.
TEST_F(ContentSwitchTest, ValueEditsShowInPlaceAndListingChangesListAgain)
{
    const QDateTime longAgo = QDateTime::currentDateTimeUtc().addYears(-3);
    for (const QString& title : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})
        addDocument(browsertest::DocumentFields{.title = title, .modified = longAgo});
    ASSERT_TRUE(KPContextHelper::save(context()));
    content->install();
    KPDataSourceSortManager& sort = *ctx.sortManager;
    sort.setGroupSortType(KPGroupSortTypeTitle);
    sort.setFileSortType(KPFileSortTypeTitle);
    const KPNode::Ptr documents = mainNode(T::DocumentsNode);
    ctx.state.shownNode = documents;
    content->onSideBarNodeChange(documents);
    ASSERT_EQ(listedTitles(), (QStringList{"a", "b", "c"}));
    const auto shownItem = [&](const QString& title) -> KPItemDataPtr {
        for (const KPSectionDataPtr& section : gridSource->dataSource())
            for (const KPItemDataPtr& item : section->itemDatas())
                if (item->data().title() == title)
                    return item;
        return nullptr;
    };
    const auto sectionOf = [&](const QString& title) {
        for (const KPSectionDataPtr& section : gridSource->dataSource())
            for (const KPItemDataPtr& item : section->itemDatas())
                if (item->data().title() == title)
                    return section->title();
        return QStringLiteral("<none>");
    };
    for (const KPItemDataPtr& item : listed().dataSource())
        item->loadDataContent();
    const KPItemDataPtr b = shownItem(QStringLiteral("b"));
    const KPSectionDataPtr sectionB = gridSource->dataSource()[1];
    DBFileInfoMetadata metadata = b->data().metadata();

    // Grouped by letter and sorted by title: a rating and a date move nothing.
    metadata.setRate(4);
    const QDateTime now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    metadata.setDateModified(now);
    ASSERT_TRUE(KPContextHelper::save(context()));
    ASSERT_TRUE(testsupport::spinUntil([&] { return b->rate() == 4; }));
    EXPECT_EQ(b->dateModified(), now);
    EXPECT_EQ(shownItem(QStringLiteral("b")), b) << "updated in place, not listed again";
    EXPECT_EQ(gridSource->dataSource()[1], sectionB);

    // Grouped by modification date, the same kind of edit moves the document to its section.
    sort.setGroupSortType(KPGroupSortTypeDateModified);
    content->reshowSelected();
    ASSERT_EQ(sectionOf(QStringLiteral("a")), QStringLiteral("Earlier"));
    DBFileInfoMetadata(shownItem(QStringLiteral("a"))->data().metadata()).setDateModified(now);
    ASSERT_TRUE(KPContextHelper::save(context()));
    EXPECT_TRUE(testsupport::spinUntil([&] { return sectionOf(QStringLiteral("a")) == QStringLiteral("Today"); }));

    // A document leaving the listing, and a rating saved with a new document: listed again.
    DBFileInfo c = shownItem(QStringLiteral("c"))->data();
    c.setIsTrash(true);
    ASSERT_TRUE(KPContextHelper::save(context()));
    EXPECT_TRUE(testsupport::spinUntil([&] { return listedTitles() == QStringList{"a", "b"}; }));
    DBFileInfoMetadata(shownItem(QStringLiteral("a"))->data().metadata()).setRate(2);
    addDocument(browsertest::DocumentFields{.title = QStringLiteral("d")});
    ASSERT_TRUE(KPContextHelper::save(context()));
    EXPECT_TRUE(testsupport::spinUntil([&] { return listedTitles() == QStringList{"a", "b", "d"}; }));
    shownItem(QStringLiteral("a"))->loadDataContent();
    EXPECT_EQ(shownItem(QStringLiteral("a"))->rate(), 2);
}

// Emptying the trash marks its documents for deletion, then deletes them fifty at a time, each
// turn saved. No listing but the Trash holds documents of the trash, and none holds those
// marked for deletion: another shown listing is not listed again for the marks nor for each turn
// (at a large library each took half a second), and a shown Trash ends with what stays in it.
TEST_F(ContentSwitchTest, EmptyingTheTrashListsOnlyAShownTrashAgain)
{
    document(QStringLiteral("kept"));
    document(QStringLiteral("also kept"));
    document(QStringLiteral("stays in the trash")).setIsTrash(true);
    DBFileInfo restored = document(QStringLiteral("restored"));
    restored.setIsTrash(true);
    const auto trashed = [&](const QString& prefix) {
        QList<DBFileInfo> files;
        for (int i = 0; i < 200; ++i) {
            files.append(document(QStringLiteral("%1 %2").arg(prefix).arg(i)));
            files.last().setIsTrash(true);
        }
        return files;
    };
    const QList<DBFileInfo> first = trashed(QStringLiteral("first"));
    const QList<DBFileInfo> second = trashed(QStringLiteral("second"));
    ASSERT_TRUE(KPContextHelper::save(context()));
    drainMainQueue(); // the opening's purge, of nothing
    // With something to remove beside the records, the purge deletes them in turns.
    DataBaseEngine::setLeftoverRemover([](const QList<DataBaseEngine::DocumentLeftovers>&) { return true; });
    struct RemoverReset {
        ~RemoverReset() { DataBaseEngine::setLeftoverRemover({}); }
    } resetRemover;
    content->install();
    int listings = 0;
    gridSource->actions.reloaded = [&listings] { ++listings; };
    const auto settle = [] {
        for (int i = 0; i < 3; ++i)
            drainMainQueue();
    };
    int listingsForMarks = 0;
    // As the empty-trash sheet ends: the marks saved, then the purge.
    const auto empty = [&](const QList<DBFileInfo>& files) {
        QList<platform::ObjectID> ids;
        for (DBFileInfo file : files) {
            file.setIsNeedDelete(true);
            ids.append(file.objectID());
        }
        listings = 0;
        ASSERT_TRUE(KPContextHelper::save(context()));
        settle();
        listingsForMarks = std::exchange(listings, 0);
        std::optional<int> deleted;
        engine->purgeDocuments(ids, [&deleted](int count) { deleted = count; });
        ASSERT_TRUE(testsupport::spinUntil([&deleted] { return deleted.has_value(); }));
        settle();
        EXPECT_EQ(deleted.value_or(0), 200);
    };

    const KPNode::Ptr documents = mainNode(T::DocumentsNode);
    ctx.state.shownNode = documents;
    content->onSideBarNodeChange(documents);
    ASSERT_EQ(listedTitles(), (QStringList{"also kept", "kept"}));
    empty(first);
    EXPECT_EQ(listingsForMarks, 0) << "listed again for documents of the trash";
    EXPECT_LE(listings, 1) << "listed again for each turn of the purge";
    EXPECT_EQ(listedTitles(), (QStringList{"also kept", "kept"}));
    // A document taken out of the trash is not listed yet, and is then.
    restored.setIsTrash(false);
    ASSERT_TRUE(KPContextHelper::save(context()));
    EXPECT_TRUE(testsupport::spinUntil([&] { return listedTitles() == QStringList{"also kept", "kept", "restored"}; }));

    const KPNode::Ptr trash = mainNode(T::TrashNode);
    ctx.state.shownNode = trash;
    content->onSideBarNodeChange(trash);
    ASSERT_EQ(listedTitles().size(), 201);
    empty(second);
    EXPECT_LE(listings, 1) << "listed again for each turn of the purge";
    EXPECT_EQ(listedTitles(), QStringList{"stays in the trash"});
    EXPECT_EQ(engine->countByObject(DBFileInfo::entityName()), 4);
}
