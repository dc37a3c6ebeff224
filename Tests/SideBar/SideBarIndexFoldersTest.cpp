#include "SideBarTestSupport.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/FileEvents/FileEventStream.h"
#include "Platform/Kit/Sheet.h"
#include "Store/DBFileInfo.h"
#include "IndexFolder/IFFileItem.h"
#include "IndexFolder/KPFileNode.h"

#include <QPushButton>
#include <QUrl>
#include <algorithm>

namespace {

using namespace sidebartest;
namespace T = SideBarNodeType;

// Index folders on real scratch folders, synced by the real manager.
class SideBarIndexFoldersTest : public SideBarFixture {
protected:
    void SetUp() override
    {
        SideBarFixture::SetUp();
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const QString& name : {IndexFolderSyncStartNotification, IndexFolderSyncFinishedNotification}) {
            tokens.push_back(center.addObserver(name, [this, name](const platform::Notification& note) {
                syncReports.append(name + ' ' + DBIndexFolder(platform::ManagedObject::fromRef(note.object)).path());
            }));
        }
    }

    QString put(const QString& relative)
    {
        const QString path = disk + '/' + relative;
        testsupport::writeFile(path, "%PDF-1.4 not really");
        return path;
    }
    QString folder(const QString& relative)
    {
        const QString path = disk + '/' + relative;
        QDir().mkpath(path);
        return path;
    }
    // Adds a folder the way the menu command does: by notification.
    KPNode::Ptr add(const QString& path, const QString& type = IndexFolderType::Folder)
    {
        platform::NotificationCenter::defaultCenter().post(
            AddIndexFolderNotification,
            QVariantMap{{IndexFolderDicInfo::Path, QUrl::fromLocalFile(path)},
                        {IndexFolderDicInfo::Title, QFileInfo(path).fileName()},
                        {IndexFolderDicInfo::Type, type}});
        for (const KPNode::Ptr& node : source->indexFolderNode()->children() + source->sourceFolderNode()->children()) {
            if (node->indexFolder().path() == path)
                return node;
        }
        return nullptr;
    }
    int reports(const QString& name, const QString& path) const { return int(syncReports.count(name + ' ' + path)); }
    void waitSynced(const QString& path, int passes = 1)
    {
        ASSERT_TRUE(testsupport::spinUntil([&] { return reports(IndexFolderSyncFinishedNotification, path) >= passes; }, 180000))
            << qPrintable(path);
    }
    QStringList watched() const
    {
        QStringList paths = listener->eventStream() ? listener->eventStream()->paths() : QStringList();
        paths.sort();
        return paths;
    }
    QStringList liveDocuments()
    {
        auto predicate = platform::Predicate::format(QStringLiteral("isIndex == YES && isTrash == NO && isNeedDelete == NO"));
        auto found = engine->queryRecordByName(DBFileInfo::entityName(), *predicate);
        QStringList paths;
        for (const DBFileInfo& file : DBRecord::recordsOf<DBFileInfo>(found ? *found : QList<platform::ManagedObjectPtr>()))
            paths.append(file.path());
        paths.sort();
        return paths;
    }

    // Files the index-folder store still counts as present.
    qsizetype liveRows()
    {
        auto predicate = platform::Predicate::format(QStringLiteral("isRemove == NO"));
        return indexStore->queryRecordByName(IFFileItem::kEntityName, *predicate).size();
    }

    QStringList syncReports;
};

TEST_F(SideBarIndexFoldersTest, OnlyOutermostFoldersAreSyncedAndWatched)
{
    open();
    const QString foo = folder(QStringLiteral("a/foo"));
    const QString inner = folder(QStringLiteral("a/foo/inner"));
    const QString foobar = folder(QStringLiteral("a/foobar"));
    const QString shared = put(QStringLiteral("a/foo/inner/report.pdf"));
    put(QStringLiteral("a/foobar/other.pdf"));

    ASSERT_TRUE(add(foo));
    waitSynced(foo);
    // Inside an existing folder: shown, neither synced nor watched.
    const KPNode::Ptr innerNode = add(inner);
    ASSERT_TRUE(innerNode);
    EXPECT_EQ(manager->syncerForPath(inner), nullptr);
    // A name that merely starts like another folder's is a folder of its own.
    ASSERT_TRUE(add(foobar));
    EXPECT_NE(manager->syncerForPath(foobar), nullptr);
    waitSynced(foobar);
    EXPECT_EQ(reports(IndexFolderSyncStartNotification, inner), 0);
    EXPECT_EQ(watched(), (QStringList{foo, foobar}));
    EXPECT_EQ(source->indexFolders().indexFolderByPath(inner).path(), foo);
    EXPECT_EQ(source->indexFolders().indexFolderByPath(foobar + QStringLiteral("/x")).path(), foobar);
    EXPECT_FALSE(source->indexFolders().indexFolderByPath(disk + QStringLiteral("/a/fo")));
    EXPECT_EQ(liveDocuments().count(shared), 1);
    // Adding the same folder again changes nothing.
    EXPECT_EQ(add(foo), source->indexFolderNode()->children().first());
    EXPECT_EQ(source->indexFolderNode()->children().size(), 3);
}

TEST_F(SideBarIndexFoldersTest, AnOuterFolderAddedLaterTakesOverWithoutImportingTwice)
{
    open();
    const QString outer = folder(QStringLiteral("Work"));
    const QString inner = folder(QStringLiteral("Work/Projects"));
    const QString file = put(QStringLiteral("Work/Projects/plan.pdf"));
    put(QStringLiteral("Work/notes.pdf"));
    ASSERT_TRUE(add(inner));
    waitSynced(inner);
    EXPECT_EQ(watched(), QStringList{inner});
    ASSERT_TRUE(add(outer));
    waitSynced(outer);
    EXPECT_EQ(watched(), QStringList{outer});
    // The inner folder's earlier registration stays.
    const auto listeners = listener->listenerByPath(inner + QStringLiteral("/x"));
    EXPECT_EQ(listeners.count(&source->indexFolders()), 2);
    EXPECT_EQ(liveDocuments(), (QStringList{file, outer + QStringLiteral("/notes.pdf")}));
    // A change inside goes to the outer folder's sync.
    EXPECT_EQ(source->indexFolders().indexFolderByPath(inner).path(), outer);
}

TEST_F(SideBarIndexFoldersTest, ChangesOnDiskAreSyncedThroughTheOutermostFolder)
{
    open();
    const QString outer = folder(QStringLiteral("Shelf"));
    const QString inner = folder(QStringLiteral("Shelf/Box"));
    ASSERT_TRUE(add(outer));
    waitSynced(outer);
    ASSERT_TRUE(add(inner));
    ASSERT_TRUE(testsupport::spinUntil([&] { return listener->eventStream() && listener->eventStream()->isWatching(); }));
    // A new file inside the nested folder reaches the library once, through the outer sync.
    const QString added = put(QStringLiteral("Shelf/Box/new.pdf"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return liveDocuments().contains(added); }, 120000));
    waitSynced(outer, 2);
    EXPECT_EQ(liveDocuments().count(added), 1);
    EXPECT_EQ(reports(IndexFolderSyncStartNotification, inner), 0);
}

TEST_F(SideBarIndexFoldersTest, RemovalMatchesTheExactPathOnly)
{
    open();
    const QString what = folder(QStringLiteral("x/What?"));
    const QString whats = folder(QStringLiteral("x/Whats"));
    const KPNode::Ptr whatNode = add(what);
    ASSERT_TRUE(add(whats));
    waitSynced(what);
    waitSynced(whats);
    const int recounts = count(RefreshItemCountNotification);

    platform::NotificationCenter::defaultCenter().post(RemoveIndexFolderNotification, disk + QStringLiteral("/x/Nothing"));
    EXPECT_EQ(source->indexFolderNode()->children().size(), 2);
    EXPECT_EQ(count(RefreshItemCountNotification), recounts);

    platform::NotificationCenter::defaultCenter().post(RemoveIndexFolderNotification, what);
    EXPECT_EQ(titles(source->indexFolderNode()), QStringList{"Whats"});
    EXPECT_EQ(watched(), QStringList{whats});
    EXPECT_EQ(count(RefreshItemCountNotification), recounts + 1);
    EXPECT_FALSE(listener->listenerByPath(what).contains(&source->indexFolders()));

    // What its syncer still reports is ignored.
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(IndexFolderSyncStartNotification, whatNode->indexFolder().ref());
    center.post(IndexFolderSyncNodeGeneratorFinishedNotification,
                QVariantMap{{IndexFolderTreeInfo::IndexFolder, whatNode->indexFolder().ref()},
                            {IndexFolderTreeInfo::FileNode, QVariant::fromValue(std::make_shared<KPFileNode>(what, 0))}});
    center.post(IndexFolderSyncFinishedNotification, whatNode->indexFolder().ref());
    EXPECT_EQ(count(RefreshItemCountNotification), recounts + 1);
    EXPECT_FALSE(whatNode->isBusy());
}

TEST_F(SideBarIndexFoldersTest, RemovingAFolderInsideAnotherLeavesTheOuterDocuments)
{
    open();
    const QString outer = folder(QStringLiteral("Outer"));
    const QString inner = folder(QStringLiteral("Outer/Inner"));
    const QString file = put(QStringLiteral("Outer/Inner/kept.pdf"));
    ASSERT_TRUE(add(outer));
    waitSynced(outer);
    ASSERT_TRUE(add(inner));
    const qsizetype rows = liveRows();
    EXPECT_EQ(rows, 1);
    platform::NotificationCenter::defaultCenter().post(RemoveIndexFolderNotification, inner);
    EXPECT_EQ(titles(source->indexFolderNode()), QStringList{"Outer"});
    EXPECT_EQ(watched(), QStringList{outer});
    EXPECT_EQ(liveDocuments(), QStringList{file});
    EXPECT_EQ(liveRows(), rows);
    EXPECT_EQ(reports(IndexFolderSyncStartNotification, inner), 0);
}

TEST_F(SideBarIndexFoldersTest, RemovingAnOuterFolderThroughItsSheetKeepsTheNestedOne)
{
    remover = SideBarServices::removalSheet(stores());
    window->show();
    open();
    const QString outer = folder(QStringLiteral("Desk"));
    const QString inner = folder(QStringLiteral("Desk/Tray"));
    put(QStringLiteral("Desk/a.pdf"));
    const QString kept = put(QStringLiteral("Desk/Tray/t.pdf"));
    const KPNode::Ptr outerNode = add(outer);
    waitSynced(outer);
    ASSERT_TRUE(add(inner));
    ASSERT_EQ(liveRows(), 2);

    view->selectNode(outerNode.get());
    source->favorites().outlineViewItemMenuClick(SideBarFavorites::kRemoveTag);
    platform::kit::Sheet* sheet = platform::kit::Sheet::shownSheet(window.get());
    ASSERT_TRUE(sheet);
    QPushButton* remove = nullptr;
    for (QPushButton* button : sheet->content()->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Remove"))
            remove = button;
    }
    ASSERT_TRUE(remove);
    remove->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return count(RemoveIndexFolderNotification) == 1; }));
    EXPECT_EQ(titles(source->indexFolderNode()), QStringList{"Tray"});
    EXPECT_EQ(watched(), QStringList{inner});
    // Nothing covers the nested folder any more: it syncs on its own, and keeps what it holds.
    waitSynced(inner);
    EXPECT_EQ(liveDocuments(), QStringList{kept});
    EXPECT_EQ(liveRows(), 1);
}

TEST_F(SideBarIndexFoldersTest, SyncShowsTheSubFolderTreeWithItsCounts)
{
    open();
    const QString root = folder(QStringLiteral("Papers"));
    for (const char* f : {"Papers/r1.pdf", "Papers/r2.pdf", "Papers/a/a1.pdf", "Papers/a/deep/d1.pdf",
                          "Papers/a/deep/d2.pdf", "Papers/a/deep/d3.pdf"})
        put(QLatin1String(f));
    folder(QStringLiteral("Papers/b"));
    const KPNode::Ptr node = add(root);
    ASSERT_TRUE(node);
    view->selectNode(node.get());
    told.clear();
    waitSynced(root);
    QStringList children = titles(node);
    children.sort();
    EXPECT_EQ(children, (QStringList{"a", "b"}));
    const KPNode::Ptr a = childTitled(node, QStringLiteral("a"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->rightNumber(), 1);
    EXPECT_EQ(a->dataString(), root + QStringLiteral("/a"));
    EXPECT_EQ(childTitled(a, QStringLiteral("deep"))->rightNumber(), 3);
    EXPECT_EQ(childTitled(node, QStringLiteral("b"))->rightNumber(), 0);
    EXPECT_EQ(node->rightNumber(), 2);
    EXPECT_FALSE(node->isBusy());
    // The selected folder is shown afresh and the counts are made again.
    EXPECT_EQ(told, QStringList{"change:Papers"});
    EXPECT_GE(posted.count(RefreshItemCountNotification + QStringLiteral(" IndexFolder")), 1);
    // Sub-folders are rows of their own.
    view->expandNode(node.get());
    EXPECT_EQ(view->rowForNode(a.get()), view->rowForNode(node.get()) + 1);

    // The next pass (any change on disk starts one) keeps an opened and selected sub-folder
    // where the user left it, and shows its listing afresh rather than jumping to Documents.
    view->expandNode(a.get());
    view->selectNode(a.get());
    told.clear();
    put(QStringLiteral("Papers/a/a2.pdf"));
    source->indexFolders().directoryWasChange(root + QStringLiteral("/a"));
    waitSynced(root, 2);
    EXPECT_EQ(view->selectedNode(), a.get());
    EXPECT_TRUE(view->isNodeExpanded(a.get()));
    ASSERT_FALSE(told.isEmpty());
    EXPECT_EQ(told.count(QStringLiteral("change:a")), told.size()) << qPrintable(told.join(','));
}

TEST_F(SideBarIndexFoldersTest, StartSkipsMissingFoldersAndWhatTheyHold)
{
    const QString present = folder(QStringLiteral("Present"));
    const QString nested = folder(QStringLiteral("Present/Nested"));
    const QString missing = disk + QStringLiteral("/Missing");
    const QString insideMissing = missing + QStringLiteral("/Inner");
    const QString lower = folder(QStringLiteral("docs"));
    const QString upper = folder(QStringLiteral("Docs"));
    for (const QString& p : {present, nested, lower, upper})
        addIndexFolderRow(p);
    addIndexFolderRow(missing, IndexFolderType::Folder, false);
    addIndexFolderRow(insideMissing, IndexFolderType::Folder, false);
    save();
    open();
    const auto nodes = source->indexFolderNode()->children();
    ASSERT_EQ(nodes.size(), 6);
    for (const KPNode::Ptr& n : nodes)
        EXPECT_EQ(n->boolShowWarning(), n->indexFolder().path().startsWith(missing)) << qPrintable(n->title());
    // Folders differing only in case are two folders.
    EXPECT_EQ(watched(), (QStringList{upper, present, lower}));
    for (const QString& p : {present, lower, upper})
        EXPECT_NE(manager->syncerForPath(p), nullptr) << qPrintable(p);
    for (const QString& p : {nested, missing, insideMissing})
        EXPECT_EQ(manager->syncerForPath(p), nullptr) << qPrintable(p);
    for (const QString& p : {present, lower, upper})
        waitSynced(p);
}

TEST_F(SideBarIndexFoldersTest, SourcesAndTheirTrees)
{
    // Only iCloud sources: SOURCE holds the iCloud node alone.
    const DBIndexFolder stream = addIndexFolderRow(folder(QStringLiteral("Photo Stream")), IndexFolderType::iCloud);
    const DBIndexFolder docs = addIndexFolderRow(folder(QStringLiteral("iDocs")), IndexFolderType::iCloud);
    save();
    open();
    EXPECT_EQ(sections().last(), QStringLiteral("SOURCE"));
    EXPECT_EQ(titles(source->sourceFolderNode()), QStringList{"iCloud"});
    EXPECT_EQ(titles(source->iCloudNode()), (QStringList{"Photo Stream", "iDocs"}));

    const auto tree = [](const QString& path, int folders) {
        auto root = std::make_shared<KPFileNode>(path, 0);
        root->setListing(KPFileNode::Listing::Listed, 0);
        for (int i = 0; i < folders; ++i)
            root->addFolder(std::make_shared<KPFileNode>(path + QStringLiteral("/f%1").arg(i), 0));
        return root;
    };
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const DBIndexFolder& f : {stream, docs})
        center.post(IndexFolderSyncNodeGeneratorFinishedNotification,
                    QVariantMap{{IndexFolderTreeInfo::IndexFolder, f.ref()},
                                {IndexFolderTreeInfo::FileNode, QVariant::fromValue(tree(f.path(), 3000))}});
    const KPNode::Ptr streamNode = source->iCloudNode()->children().first();
    const KPNode::Ptr docsNode = source->iCloudNode()->children().last();
    EXPECT_FALSE(streamNode->hasChildren());
    ASSERT_EQ(docsNode->children().size(), 3000);
    view->expandNode(source->iCloudNode().get());
    view->expandNode(docsNode.get());
    EXPECT_EQ(view->nodeAtRow(view->rowForNode(docsNode.get()) + 3000), docsNode->children().last().get());

    // A folder the sync found gone shows the warning.
    auto gone = std::make_shared<KPFileNode>(docs.path(), 0);
    gone->setListing(KPFileNode::Listing::Missing, 2);
    center.post(IndexFolderSyncNodeGeneratorFinishedNotification,
                QVariantMap{{IndexFolderTreeInfo::IndexFolder, docs.ref()}, {IndexFolderTreeInfo::FileNode, QVariant::fromValue(gone)}});
    EXPECT_TRUE(docsNode->boolShowWarning());
    EXPECT_FALSE(docsNode->hasChildren());
}

} // namespace
