#include "SubSideBarTestSupport.h"

#include "Import/KPImportKeys.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/GridDragFormats.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/PasteboardCodec.h"
#include "SideBar/MergeTagsWindowController.h"
#include "SideBar/SideBarDrops.h"
#include "SideBar/SideBarPasteboard.h"
#include "Store/DBHelper.h"
#include "Store/DBSmartFolder.h"

#include <QAction>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

using namespace sidebartest;
using platform::localizedString;
namespace pb = platform::kit::pasteboard;
namespace T = SideBarNodeType;
using S = SubSideBarDataSource;

namespace {

class SubSideBarMenuDropTest : public SubSideBarFixture {
protected:
    // The items' tags, separators left out.
    static QList<int> tagsOf(QMenu* menu)
    {
        QList<int> tags;
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                tags.append(action->data().toInt());
        return tags;
    }
    static QAction* item(QMenu* menu, int tag)
    {
        for (QAction* action : menu->actions())
            if (!action->isSeparator() && action->data().toInt() == tag)
                return action;
        return nullptr;
    }
    std::unique_ptr<QMenu> menuFor(const QStringList& titles)
    {
        QList<int> rows;
        for (const QString& title : titles)
            rows.append(title == "Untagged" ? 0 : rowOf(title));
        return std::unique_ptr<QMenu>(sub->outlineViewMenuByIndexSet(rows));
    }
    QString file(const QString& name)
    {
        const QString path = disk + QLatin1Char('/') + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return path;
    }
    static std::unique_ptr<QMimeData> files(const QStringList& paths)
    {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls.append(QUrl::fromLocalFile(path));
        data->setUrls(urls);
        return data;
    }
    // Documents as the grid drags them out.
    static std::unique_ptr<QMimeData> gridDocuments(const QList<DBFileInfo>& documents)
    {
        pb::GridDragPayload payload;
        for (const DBFileInfo& document : documents) {
            payload.filePaths.append(document.path());
            payload.fileInfoURIs.append(document.URIString());
        }
        return pb::gridDragMimeData(payload);
    }
    // Starts a node drag of the titled nodes; the drag data or nullptr.
    std::unique_ptr<QMimeData> drag(const QStringList& titles)
    {
        QList<KPNode::Ptr> nodes;
        for (const QString& title : titles)
            nodes.append(title == "Untagged" ? sub->untagNode() : node(title));
        return std::unique_ptr<QMimeData>(sub->writeItems(nodes));
    }
    // validateDrop and acceptDrop of data on target at index, as the view would do it.
    bool drop(const QMimeData& data, KPNode::Ptr target, int index = -1, KPNode** retarget = nullptr, int* reindex = nullptr)
    {
        KPNode* raw = target.get();
        if (!sub->validateDrop(data, raw, index))
            return false;
        if (retarget)
            *retarget = raw;
        if (reindex)
            *reindex = index;
        return sub->acceptDrop(data, raw ? raw->shared_from_this() : nullptr, index, false);
    }
};

TEST_F(SubSideBarMenuDropTest, MenusFollowTheRows)
{
    DBTag empty = addTag(QStringLiteral("empty"));
    DBTag used = addTag(QStringLiteral("used"));
    used.setSortID(1);
    DBTag grouped = addTag(QStringLiteral("grouped"));
    DBTagGroup group = addGroup(QStringLiteral("G"), {grouped});
    group.setSortID(2);
    save();
    openSub(S::kTagsMode);
    node("used")->setRightNumber(3);

    EXPECT_EQ(menuFor({"Untagged"}), nullptr);
    auto menu = menuFor({"empty"});
    ASSERT_TRUE(menu);
    EXPECT_FALSE(item(menu.get(), S::RemoveTagFromAll)->isEnabled());
    EXPECT_EQ(sub->selectedNode(), node("empty"));
    EXPECT_TRUE(item(menuFor({"used"}).get(), S::RemoveTagFromAll)->isEnabled());

    menu = menuFor({"empty", "used", "G"});
    EXPECT_EQ(tagsOf(menu.get()), (QList<int>{S::MergeTags, S::DeleteSelection}));
    EXPECT_FALSE(item(menu.get(), S::MergeTags)->isEnabled());
    EXPECT_TRUE(item(menu.get(), S::DeleteSelection)->isEnabled());
    menu = menuFor({"empty", "used"});
    EXPECT_EQ(item(menu.get(), S::NewTagGroupWithSelection)->text(), QStringLiteral("New Tag Group with Selection (2)"));
    EXPECT_TRUE(item(menu.get(), S::MergeTags)->isEnabled());

    sub->switchByNodeType(S::kCollectionsMode);
    EXPECT_EQ(menuFor({localizedString("Uncategorized")}), nullptr);
    EXPECT_EQ(tagsOf(std::unique_ptr<QMenu>(sub->outlineViewMenuByIndexSet(std::nullopt)).get()),
              (QList<int>{S::NewFolderAtRoot, S::NewCollection, S::SortCollections}));
    // Without collections the move menu holds Uncategorized alone.
    QMenu move;
    sub->duplicateMenuWithDataSource(&move, {});
    EXPECT_EQ(move.actions().size(), 1);
}

TEST_F(SubSideBarMenuDropTest, SortingAFolderSortsItsLevelAndTheMoveMenuSkipsSmartFolders)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    DBNode b = addNode(QStringLiteral("b"), DBNode::Folder, work);
    b.setSortID(1);
    DBNode a = addNode(QStringLiteral("a"), DBNode::Folder, work);
    a.setSortID(2);
    addNode(QStringLiteral("z"), DBNode::Folder, b).setSortID(1);
    addNode(QStringLiteral("y"), DBNode::Folder, b).setSortID(2);
    DBSmartFolder smart = DBRecord::insertNewObject<DBSmartFolder>(engine->context());
    smart.setType(DBNode::SmartFolder);
    smart.setTitle(QStringLiteral("smart"));
    smart.setParent(work);
    save();
    openSub(S::kCollectionsMode);
    subView->expandNode(node("Work").get());
    auto menu = menuFor({"b"});
    ASSERT_TRUE(menu);
    item(menu.get(), S::SortFolderLevel)->trigger();
    EXPECT_EQ(titles(node("Work")), (QStringList{"a", "b", "smart"}));
    EXPECT_EQ(titles(node("b")), (QStringList{"z", "y"}));
    EXPECT_EQ(a.sortID(), 1);

    QMenu move;
    DBNode picked;
    sub->duplicateMenuWithDataSource(&move, [&](const DBNode& n) { picked = n; });
    QStringList shown;
    for (QAction* action : move.actions())
        shown.append(action->isSeparator() ? "-" : action->text().trimmed() + (action->isEnabled() ? "" : "(off)"));
    EXPECT_EQ(shown, (QStringList{localizedString("Uncategorized"), "-", "Work(off)", "a", "b", "z", "y"}));
    move.actions().at(4)->trigger();
    EXPECT_EQ(picked, b);
}

TEST_F(SubSideBarMenuDropTest, NodeDragsCarryTagsAndMoveTags)
{
    DBTag top = addTag(QStringLiteral("top"));
    DBTag t1 = addTag(QStringLiteral("t1"));
    DBTag t2 = addTag(QStringLiteral("t2"));
    t2.setSortID(1);
    DBTag t3 = addTag(QStringLiteral("t3"));
    t3.setSortID(2);
    DBTagGroup group = addGroup(QStringLiteral("G"), {t1, t2, t3});
    group.setSortID(1);
    DBTag g2tag = addTag(QStringLiteral("in2"));
    DBTagGroup g2 = addGroup(QStringLiteral("G2"), {g2tag});
    g2.setSortID(2);
    save();
    openSub(S::kTagsMode);

    EXPECT_EQ(drag({"Untagged"}), nullptr);
    EXPECT_EQ(drag({"t1", "Untagged"}), nullptr);
    auto data = drag({"t1", "G2", "top"});
    ASSERT_TRUE(data);
    EXPECT_EQ(sidebarpasteboard::tagNodeString({t1, top}), data->data(pb::kDragDropTagNode));
    EXPECT_EQ(QString::fromUtf8(data->data(pb::kDragDropTagNode)), t1.URIString() + "," + top.URIString());
    // What the grid's items read back from it.
    EXPECT_EQ(pb::readTagNodeURIs(*data), (QStringList{t1.URIString(), top.URIString()}));

    // Three tags out of a group onto the header: after the last top-level node, no group.
    data = drag({"t1", "t2", "t3"});
    ASSERT_TRUE(drop(*data, sub->tagsRoot()));
    EXPECT_EQ(titles(sub->tagsRoot()), (QStringList{"top", "G", "G2", "t1", "t2", "t3"}));
    EXPECT_FALSE(t1.group());
    EXPECT_EQ(t3.sortID(), 5);
    EXPECT_TRUE(posted.contains(RefreshItemCountNotification + " Collection"));

    // One tag dropped on a tag inside a group takes that tag's place in the group.
    data = drag({"top"});
    KPNode* target = nullptr;
    int index = -2;
    ASSERT_TRUE(drop(*data, node("in2"), -1, &target, &index));
    EXPECT_EQ(target, node("G2").get());
    EXPECT_EQ(index, 0);
    EXPECT_EQ(titles(node("G2")), (QStringList{"top", "in2"}));
    EXPECT_EQ(top.group(), g2);

    // A drag of another side bar, or of the other tree, is not ours.
    auto foreign = std::make_unique<QMimeData>();
    foreign->setData(pb::kDragDropSideBarNode, "1:2");
    KPNode* raw = sub->tagsRoot().get();
    EXPECT_FALSE(sub->validateDrop(*foreign, raw, index));
    data = drag({"G2"});
    for (const KPNode::Ptr& refused : {sub->untagNode(), node("G"), node("in2")}) {
        raw = refused.get();
        index = -1;
        EXPECT_FALSE(sub->validateDrop(*data, raw, index)) << refused->title().toStdString();
    }
}

TEST_F(SubSideBarMenuDropTest, CollectionMovesKeepTheTreeSound)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    DBNode home = addNode(QStringLiteral("Home"), DBNode::Collection);
    home.setSortID(1);
    DBNode folder = addNode(QStringLiteral("Recent"), DBNode::Folder, work);
    DBNode inner = addNode(QStringLiteral("Inner"), DBNode::Folder, folder);
    DBSmartFolder smart = DBRecord::insertNewObject<DBSmartFolder>(engine->context());
    smart.setType(DBNode::SmartFolder);
    smart.setTitle(QStringLiteral("RECENT"));
    smart.setParent(home);
    save();
    openSub(S::kCollectionsMode);

    auto data = drag({"Recent"});
    ASSERT_TRUE(data);
    EXPECT_FALSE(data->hasFormat(pb::kDragDropTagNode));
    int index = -1;
    for (const KPNode::Ptr& refused : {node("RECENT"), node("Recent"), node("Inner"), sub->uncollectionNode()}) {
        KPNode* raw = refused.get();
        EXPECT_FALSE(sub->validateDrop(*data, raw, index)) << refused->title().toStdString();
    }
    // Home holds a smart folder of the same name: the alert, and nothing moves.
    EXPECT_FALSE(drop(*data, node("Home")));
    ASSERT_TRUE(testsupport::spinUntil([this] { return alerts.size() == 1; }));
    EXPECT_EQ(folder.parent(), work);

    data = drag({"Home"});
    KPNode* raw = node("Work").get();
    EXPECT_FALSE(sub->validateDrop(*data, raw, index));
    // Reordered among the collections, and stored at once.
    ASSERT_TRUE(drop(*data, sub->collectionsRoot(), 0));
    EXPECT_EQ(titles(sub->collectionsRoot()), (QStringList{"Home", "Work"}));
    EXPECT_FALSE(engine->context()->hasChanges());

    data = drag({"Recent"});
    ASSERT_TRUE(drop(*data, sub->collectionsRoot()));
    EXPECT_FALSE(folder.parent());
    EXPECT_EQ(inner.parent(), folder);
}

TEST_F(SubSideBarMenuDropTest, FilesAndDocumentsDroppedOnTheBar)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    addNode(localizedString("UntitledFolder"), DBNode::Folder, work);
    DBTag tag = addTag(QStringLiteral("tag"));
    DBFileInfo document = addDocument(QStringLiteral("doc"));
    save();
    openSub(S::kCollectionsMode);
    const QString pdf = file("a.pdf");

    // Shift at the drop asks for the sources to go; a collection gets a new folder.
    auto data = files({pdf});
    const QRect row = subView->visualRect(sub->model()->indexForNode(node("Work").get()));
    QDropEvent event(QPointF(row.center()), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::ShiftModifier);
    ASSERT_TRUE(sub->handleDrop(event));
    ASSERT_EQ(imports.size(), 1);
    EXPECT_EQ(imports[0].value(KPImportKeys::CMD).toInt(), 1);
    EXPECT_EQ(imports[0].value(KPImportKeys::Paths).toStringList(), QStringList{pdf});
    EXPECT_EQ(imports[0].value(KPImportKeys::NewFolderName).toString(), sub->newSubFolderNameByNode(node("Work").get()));
    EXPECT_NE(imports[0].value(KPImportKeys::NewFolderName).toString(), localizedString("UntitledFolder"));

    // A drag moving over the view is asked the same rules, and imports nothing yet.
    const auto moveOver = [&](QMimeData* moved) {
        QDragEnterEvent enter(row.center(), Qt::CopyAction, moved, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(subView->viewport(), &enter);
        QDragMoveEvent over(row.center(), Qt::CopyAction, moved, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(subView->viewport(), &over);
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(subView->viewport(), &leave);
        return over.isAccepted();
    };
    EXPECT_TRUE(moveOver(data.get()));
    auto unsupported = files({file("notes.unsupported-kind")});
    EXPECT_FALSE(moveOver(unsupported.get()));
    EXPECT_EQ(imports.size(), 1);

    ASSERT_TRUE(drop(*data, nullptr));
    EXPECT_EQ(imports[1].value(KPImportKeys::CMD).toInt(), 0);
    EXPECT_TRUE(imports[1].value(SubSideBarKeys::BoolImportToDocument).toBool());
    EXPECT_EQ(imports[1].value(KPImportKeys::NewFolderName).toString(), localizedString("UntitledFolder"));
    ASSERT_TRUE(drop(*data, sub->uncollectionNode()));
    EXPECT_EQ(imports[2].keys(), (QStringList{KPImportKeys::CMD, KPImportKeys::Paths}));
    EXPECT_FALSE(drop(*unsupported, nullptr));

    auto documents = gridDocuments({document});
    EXPECT_FALSE(drop(*documents, sub->uncollectionNode()));
    EXPECT_TRUE(drop(*documents, node("Work"), 0));
    EXPECT_EQ(subTold.last(), QStringLiteral("move:Work"));

    sub->switchByNodeType(S::kTagsMode);
    ASSERT_TRUE(drop(*data, node("tag")));
    EXPECT_EQ(imports.last().value(KPImportKeys::NewTags).toStringList(), QStringList{"tag"});
    Q_UNUSED(tag);
}

TEST_F(SubSideBarMenuDropTest, TheMainSideBarTakesPutBacksAndImports)
{
    DBFileInfo document = addDocument(QStringLiteral("doc"));
    save();
    QString safeBox;
    SideBarServices s = services();
    s.safeBoxDisk = [&] { return safeBox; };
    source = std::make_unique<SideBarDataSource>(view, s);
    QStringList toSafeBox, putBack;
    SideBarDataSourceDelegate d;
    d.onSideBarMoveDataToSafeBox = [&](const QStringList& paths) { toSafeBox = paths; };
    d.onSideBarPuckback = [&](const QStringList& uris) { putBack = uris; };
    source->setDelegate(d);
    ASSERT_TRUE(testsupport::spinUntil([this] { return source->bDataLoaded(); }));
    SideBarDrops& drops = source->drops();
    auto documents = gridDocuments({document});

    view->selectNode(source->documentsNode().get());
    EXPECT_FALSE(drops.acceptDrop(*documents, source->documentsNode().get(), false));
    view->selectNode(source->trashNode().get());
    EXPECT_TRUE(drops.acceptDrop(*documents, source->documentsNode().get(), false));
    EXPECT_EQ(putBack, QStringList{document.URIString()});

    EXPECT_FALSE(drops.acceptDrop(*documents, source->safeBoxNode().get(), false));
    safeBox = disk;
    EXPECT_TRUE(drops.acceptDrop(*documents, source->safeBoxNode().get(), false));
    EXPECT_EQ(toSafeBox, QStringList{document.path()});

    EXPECT_FALSE(drops.validateDrop(*files({file("x.unsupported-kind")}), source->documentsNode().get()));
    EXPECT_FALSE(drops.validateDrop(*files({file("b.pdf")}), source->trashNode().get()));
    EXPECT_TRUE(drops.acceptDrop(*files({file("b.pdf")}), nullptr, true));
    ASSERT_EQ(imports.size(), 1);
    EXPECT_EQ(imports[0].value(KPImportKeys::CMD).toInt(), 1);
    EXPECT_EQ(imports[0].value(KPImportKeys::LastSelectNode).value<KPNode::Ptr>(), source->trashNode());
}

TEST_F(SubSideBarMenuDropTest, MergingTagsMakesOneTopLevelTag)
{
    DBTag apple = addTag(QStringLiteral("Apple"));
    DBTag grouped = addTag(QStringLiteral("grouped"));
    addGroup(QStringLiteral("G"), {grouped}).setSortID(1);
    addTag(QStringLiteral("old")).setIsTrash(true);
    DBFileInfo both = addDocument(QStringLiteral("both"), {apple, grouped});
    DBFileInfo one = addDocument(QStringLiteral("one"), {grouped});
    DBHelper::writeMetaDataInfoByTags(both);
    save();
    openSub(S::kTagsMode);

    EXPECT_FALSE(sub->isMergeNameFree(QString()));
    EXPECT_FALSE(sub->isMergeNameFree(QStringLiteral("aPPLE")));
    EXPECT_FALSE(sub->isMergeNameFree(QStringLiteral("ápple")));
    EXPECT_TRUE(sub->isMergeNameFree(QStringLiteral("old")));
    EXPECT_TRUE(sub->isMergeNameFree(QStringLiteral("   ")));
    EXPECT_TRUE(sub->isMergeNameFree(QStringLiteral("a*")));
    EXPECT_TRUE(sub->isMergeNameFree(QStringLiteral("*")));

    // The sheet: OK follows the name test, and OK hands the name over.
    auto* sheet = new MergeTagsWindowController([this](const QString& n) { return sub->isMergeNameFree(n); });
    QString answered;
    sheet->beginSheedModelForWindow(window.get(), [&](int code, const QString& n) { answered = code == 1 ? n : "-"; });
    EXPECT_FALSE(sheet->defaultButton()->isEnabled());
    sheet->txtValue()->setText(QStringLiteral("apple"));
    EXPECT_FALSE(sheet->defaultButton()->isEnabled());
    sheet->txtValue()->setText(QStringLiteral("fruit"));
    EXPECT_TRUE(sheet->defaultButton()->isEnabled());
    sheet->onBtnOKClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !answered.isEmpty(); }));
    EXPECT_EQ(answered, QStringLiteral("fruit"));

    posted.clear();
    sub->mergeTags({node("Apple"), node("grouped")}, QStringLiteral("fruit"));
    EXPECT_EQ(titles(sub->tagsRoot()), (QStringList{"G", "fruit"}));
    EXPECT_EQ(titles(node("G")), QStringList{});
    EXPECT_TRUE(apple.isTrash());
    EXPECT_TRUE(grouped.isTrash());
    ASSERT_EQ(both.tags().size(), 1);
    EXPECT_EQ(both.tags().front().name(), QStringLiteral("fruit"));
    EXPECT_FALSE(both.tags().front().group());
    EXPECT_EQ(one.tags(), both.tags());
    EXPECT_EQ(sub->selectedNode(), node("fruit"));
    EXPECT_TRUE(fileTags(both).contains("fruit"));
    EXPECT_FALSE(fileTags(both).contains("Apple"));
    EXPECT_EQ(count(FavoriteNodeChangeNotification), 2);
    EXPECT_TRUE(posted.contains(RefreshItemCountNotification + " Tag"));
}

} // namespace
