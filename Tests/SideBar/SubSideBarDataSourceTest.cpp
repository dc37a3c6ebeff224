#include "SubSideBarTestSupport.h"

#include "Platform/Foundation/Localization.h"
#include "SideBar/KPSideBarImageCell.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Store/DBHelper.h"
#include "Store/DBSmartFolder.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>

using namespace sidebartest;
using platform::localizedString;
namespace T = SideBarNodeType;

namespace {

class SubSideBarTest : public SubSideBarFixture {};

QString numbered(const QString& key, int n)
{
    QString format = localizedString(key);
    static const QRegularExpression placeholder(QStringLiteral("%(?:l?d|@|1)"));
    const auto match = placeholder.match(format);
    return format.replace(match.capturedStart(), match.capturedLength(), QString::number(n));
}

TEST_F(SubSideBarTest, LoadsBothTreesSwitchesAndKeepsExpansionInTheStore)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    work.setSortID(2);
    DBNode home = addNode(QStringLiteral("Home"), DBNode::Collection);
    home.setSortID(1);
    DBNode invoices = addNode(QStringLiteral("Invoices"), DBNode::Folder, work);
    addNode(QStringLiteral("Old"), DBNode::Folder, work).setIsTrash(true);
    DBTag red = addTag(QStringLiteral("red"));
    red.setSortID(1);
    DBTag blue = addTag(QStringLiteral("blue"));
    blue.setSortID(0);
    DBTag b = addTag(QStringLiteral("b"));
    b.setSortID(2);
    DBTag a = addTag(QStringLiteral("a"));
    a.setSortID(1);
    addTag(QStringLiteral("gone")).setIsTrash(true);
    DBTagGroup letters = addGroup(QStringLiteral("letters"), {b, a});
    letters.setSortID(5);
    save();

    sub = std::make_unique<SubSideBarDataSource>(subView, engine.get());
    sub->initData();
    sub->initData(); // a second request before the load ran changes nothing
    ASSERT_TRUE(testsupport::spinUntil([this] { return sub->bDataLoaded(); }));
    EXPECT_EQ(titles(sub->collectionsRoot()), (QStringList{"Home", "Work"}));
    EXPECT_EQ(titles(node("Work")), QStringList{"Invoices"});
    EXPECT_EQ(titles(sub->tagsRoot()), (QStringList{"blue", "red", "letters"}));
    EXPECT_EQ(titles(node("letters")), (QStringList{"a", "b"}));

    sub->switchByNodeType(SubSideBarDataSource::kCollectionsMode);
    EXPECT_EQ(rows(), (QStringList{localizedString("Uncategorized"), localizedString("COLLECTIONS"), "Home", "Work"}));
    EXPECT_EQ(subView->selectionMode(), QAbstractItemView::SingleSelection);
    // A click on the collection's triangle opens it, and its record keeps that.
    const QRect row = subView->visualRect(sub->model()->indexForNode(node("Work").get()));
    QTest::mouseClick(subView->viewport(), Qt::LeftButton, {},
                      KPSideBarImageCell::triangleButtonRectWithCellFrame(row).center().toPoint());
    EXPECT_TRUE(subView->isNodeExpanded(node("Work").get()));
    EXPECT_TRUE(work.expand());
    sub->switchByNodeType(SubSideBarDataSource::kTagsMode);
    EXPECT_EQ(rows().mid(0, 2), (QStringList{localizedString("Untagged"), localizedString("TAGS")}));
    EXPECT_EQ(subView->selectionMode(), QAbstractItemView::ExtendedSelection);

    // The next run opens Work again from its record.
    sub.reset();
    openSub(SubSideBarDataSource::kCollectionsMode);
    EXPECT_TRUE(subView->isNodeExpanded(node("Work").get()));
    EXPECT_TRUE(rows().contains("Invoices"));
    subView->collapseNode(node("Work").get());
    EXPECT_FALSE(work.expand());
    Q_UNUSED(invoices);
}

TEST_F(SubSideBarTest, RestoresTheSavedSelectionOrFallsBackToRowZero)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    DBNode folder = addNode(QStringLiteral("Invoices"), DBNode::Folder);
    DBSmartFolder smart = DBRecord::insertNewObject<DBSmartFolder>(engine->context());
    smart.setType(DBNode::SmartFolder);
    smart.setTitle(QStringLiteral("Smart"));
    save();
    openSub(SubSideBarDataSource::kCollectionsMode);
    subView->selectNode(node("Invoices").get());
    EXPECT_EQ(platform::UserDefaults::standardUserDefaults().stringForKey(SubSideBarKeys::LastSelectedCollectionItem),
              folder.URIString());
    sub->scrollRectChange(QRect(0, 12, 100, 100));
    EXPECT_EQ(platform::UserDefaults::standardUserDefaults().stringForKey(SubSideBarKeys::CollectionScrollPoint),
              QStringLiteral("{0, 12}"));

    sub.reset();
    openSub(SubSideBarDataSource::kCollectionsMode);
    EXPECT_EQ(sub->selectedNode(), node("Invoices"));
    EXPECT_EQ(subTold.last(), QStringLiteral("change:Invoices"));

    // Deleted meanwhile: row 0.
    folder.setIsTrash(true);
    save();
    sub.reset();
    openSub(SubSideBarDataSource::kCollectionsMode);
    EXPECT_EQ(sub->selectedNode(), sub->uncollectionNode());

    // A smart folder is remembered but never found again.
    subView->selectNode(node("Smart").get());
    sub.reset();
    openSub(SubSideBarDataSource::kCollectionsMode);
    EXPECT_EQ(sub->selectedNode(), sub->uncollectionNode());
    Q_UNUSED(work);
}

TEST_F(SubSideBarTest, AnEmptyTagTreeShowsUntagged)
{
    openSub(SubSideBarDataSource::kTagsMode);
    EXPECT_EQ(sub->selectedNode(), sub->untagNode());
    EXPECT_EQ(subTold.last(), QStringLiteral("change:") + localizedString("Untagged"));
    // A tag made elsewhere joins at the end, and the header opens.
    DBTag fresh = addTag(QStringLiteral("fresh"));
    addDocument(QStringLiteral("doc"), {fresh});
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("NewTagNotification"), QVariantList{fresh.ref()});
    EXPECT_EQ(titles(sub->tagsRoot()), QStringList{"fresh"});
    EXPECT_EQ(node("fresh")->rightNumber(), 1);
    EXPECT_TRUE(subView->isNodeExpanded(sub->tagsRoot().get()));
}

TEST_F(SubSideBarTest, SeveralRowsReportTheirTagsOnceInRowOrder)
{
    DBTag t1 = addTag(QStringLiteral("t1"));
    DBTag t2 = addTag(QStringLiteral("t2"));
    DBTag t3 = addTag(QStringLiteral("t3"));
    t3.setSortID(9);
    DBTagGroup group = addGroup(QStringLiteral("G"), {t1, t2});
    group.setExpand(true);
    save();
    openSub(SubSideBarDataSource::kTagsMode);
    ASSERT_EQ(rows().mid(2), (QStringList{"G", "t1", "t2", "t3"}));
    QItemSelection selection;
    for (const char* title : {"G", "t1", "t3"}) {
        const QModelIndex index = sub->model()->indexForNode(node(title).get());
        selection.select(index, index);
    }
    subView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(subTold.last(), QStringLiteral("nodes:t1,t2,t3"));

    // Collapsing the group that holds the selection selects the group.
    subView->selectNode(node("t2").get());
    subView->collapseNode(node("G").get());
    EXPECT_EQ(sub->selectedNode(), node("G"));
    EXPECT_FALSE(group.expand());
}

TEST_F(SubSideBarTest, RangesShrinkCtrlClicksDeselectAndASecondLoadAddsNothing)
{
    for (int i = 1; i <= 4; ++i)
        addTag(QStringLiteral("t%1").arg(i)).setSortID(i);
    save();
    openSub(SubSideBarDataSource::kTagsMode);
    const QStringList shown = rows();
    const auto click = [this](const char* title, Qt::KeyboardModifiers modifiers) {
        QTest::mouseClick(subView->viewport(), Qt::LeftButton, modifiers,
                          subView->visualRect(sub->model()->indexForNode(node(title).get())).center());
    };
    const auto selectedTitles = [this] {
        QStringList titles;
        for (const KPNode::Ptr& n : sub->selectedNodes())
            titles.append(n->title());
        return titles;
    };
    click("t1", {});
    click("t4", Qt::ShiftModifier);
    EXPECT_EQ(selectedTitles(), (QStringList{"t1", "t2", "t3", "t4"}));
    click("t2", Qt::ShiftModifier);
    EXPECT_EQ(selectedTitles(), (QStringList{"t1", "t2"}));
    click("t4", Qt::ControlModifier);
    EXPECT_EQ(selectedTitles(), (QStringList{"t1", "t2", "t4"}));
    click("t1", Qt::ControlModifier);
    EXPECT_EQ(selectedTitles(), (QStringList{"t2", "t4"}));
    EXPECT_EQ(subTold.last(), QStringLiteral("nodes:t2,t4"));

    bool loadedAgain = false;
    sub->setLoadedCallback([&] { loadedAgain = true; });
    sub->initData();
    ASSERT_TRUE(testsupport::spinUntil([&] { return loadedAgain; }));
    EXPECT_EQ(rows(), shown);
}

TEST(SubSideBarProposal, UntaggedNeverJoinsASelection)
{
    const auto selectable = [](int row) { return row != 1; }; // row 1: the header
    using S = SubSideBarDataSource;
    EXPECT_EQ(S::proposeSelection({3}, {4}, selectable), QList<int>{4});
    EXPECT_EQ(S::proposeSelection({3}, {1}, selectable), QList<int>{3}); // the header keeps the old row
    EXPECT_EQ(S::proposeSelection({3, 4}, {0, 3, 4}, selectable), QList<int>{0}); // shift-click on Untagged
    EXPECT_EQ(S::proposeSelection({0}, {0, 3}, selectable), QList<int>{3});
    EXPECT_EQ(S::proposeSelection({3}, {1, 2, 3}, selectable), (QList<int>{2, 3}));
}

TEST_F(SubSideBarTest, NewNamesAreNumberedAndBounded)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    addNode(localizedString("UntitledFolder"), DBNode::Folder, work);
    addNode(numbered("AUntitledFolder", 2).toUpper(), DBNode::Folder, work);
    save();
    openSub(SubSideBarDataSource::kCollectionsMode);
    subView->selectNode(node("Work").get());
    const KPNode::Ptr added = sub->addFolder();
    ASSERT_TRUE(added);
    EXPECT_EQ(added->title(), numbered("AUntitledFolder", 3));
    EXPECT_EQ(added->dbNode().parent(), work);
    EXPECT_EQ(added->dbNode().sortID(), 3);

    // A localisation without a working placeholder cannot make the search run for ever.
    int tries = 0;
    const QString name = SubSideBarDataSource::uniqueName(
        "x", [](int) { return QStringLiteral("x"); }, [&](const QString& n) { return ++tries, n == "x"; });
    EXPECT_TRUE(name.startsWith("x "));
    EXPECT_LE(tries, SubSideBarDataSource::kMaxNumberedNames + 3);
}

TEST_F(SubSideBarTest, RenamesCompareNamesNotPatterns)
{
    DBTag draft = addTag(QStringLiteral("Draft"));
    addTag(QStringLiteral("drafts"));
    addTag(QStringLiteral("apple"));
    DBTag inGroup = addTag(QStringLiteral("Ünder"));
    addGroup(QStringLiteral("G"), {inGroup});
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    DBNode folder = addNode(QStringLiteral("Invoices"), DBNode::Folder, work);
    addNode(QStringLiteral("Receipts"), DBNode::Folder, work);
    DBSmartFolder smart = DBRecord::insertNewObject<DBSmartFolder>(engine->context());
    smart.setType(DBNode::SmartFolder);
    smart.setTitle(QStringLiteral("Recent"));
    smart.setParent(work);
    save();
    openSub(SubSideBarDataSource::kTagsMode);

    sub->commitTitle(*node("Draft"), QStringLiteral("draft"));
    EXPECT_EQ(draft.name(), QStringLiteral("draft"));
    EXPECT_EQ(subTold.last(), QStringLiteral("rename:draft"));
    sub->commitTitle(*node("draft"), QStringLiteral("draft?"));
    EXPECT_EQ(draft.name(), QStringLiteral("draft?"));
    sub->commitTitle(*node("draft?"), QStringLiteral("a*"));
    EXPECT_EQ(draft.name(), QStringLiteral("a*"));
    sub->commitTitle(*node("a*"), QStringLiteral("under")); // another live tag, other accents, in a group
    ASSERT_TRUE(testsupport::spinUntil([this] { return !alerts.isEmpty(); }));
    EXPECT_EQ(draft.name(), QStringLiteral("a*"));
    EXPECT_EQ(count(FavoriteNodeChangeNotification), 3);

    sub->switchByNodeType(SubSideBarDataSource::kCollectionsMode);
    sub->commitTitle(*node("Invoices"), QStringLiteral("recent")); // only sibling folders count
    EXPECT_EQ(folder.title(), QStringLiteral("recent"));
    sub->commitTitle(*node("recent"), QStringLiteral("RECEIPTS "));
    ASSERT_TRUE(testsupport::spinUntil([this] { return alerts.size() == 2; }));
    EXPECT_EQ(folder.title(), QStringLiteral("recent"));

    // A smart folder renamed through its favourite in the main side bar takes the title here too.
    smart.setTitle(QStringLiteral("Latest"));
    platform::NotificationCenter::defaultCenter().post(
        FavoriteNodeChangeNotification,
        QVariantMap{{FavoriteChangeInfo::Type, FavoriteChangeInfo::Rename}, {FavoriteChangeInfo::URI, smart.URIString()}});
    EXPECT_TRUE(node(QStringLiteral("Latest")));
}

TEST_F(SubSideBarTest, DeletingTrashesTheSubtreeAndTellsTheFavourites)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    DBNode top = addNode(QStringLiteral("Top"), DBNode::Folder, work);
    DBNode inner = addNode(QStringLiteral("Inner"), DBNode::Folder, top);
    DBFileInfo deep = addDocument(QStringLiteral("deep"), {}, inner);
    DBFileInfo other = addDocument(QStringLiteral("other"), {}, work);
    DBTag first = addTag(QStringLiteral("first"));
    DBTag second = addTag(QStringLiteral("second"));
    second.setSortID(1);
    DBFileInfo tagged = addDocument(QStringLiteral("tagged"), {first, second});
    DBHelper::writeMetaDataInfoByTags(tagged);
    save();
    openSub(SubSideBarDataSource::kCollectionsMode);
    posted.clear();
    sub->removeNode(node("Top"));
    EXPECT_TRUE(top.isTrash());
    EXPECT_TRUE(inner.isTrash());
    EXPECT_TRUE(deep.isTrash());
    EXPECT_FALSE(other.isTrash());
    EXPECT_EQ(count(FavoriteNodeChangeNotification), 2);
    EXPECT_EQ(titles(node("Work")), QStringList{});

    sub->switchByNodeType(SubSideBarDataSource::kTagsMode);
    ASSERT_TRUE(fileTags(tagged).contains("first"));
    sub->removeNode(node("first"));
    EXPECT_EQ(sub->selectedNode(), sub->untagNode()); // not the header above it
    EXPECT_TRUE(first.isTrash());
    EXPECT_EQ(tagged.tags(), QList<DBTag>{second});
    EXPECT_FALSE(fileTags(tagged).contains("first"));
    EXPECT_TRUE(fileTags(tagged).contains("second"));
}

TEST_F(SubSideBarTest, RemovingATagFromAllDocumentsKeepsTheTag)
{
    DBTag tag = addTag(QStringLiteral("tag"));
    DBFileInfo one = addDocument(QStringLiteral("one"), {tag});
    save();
    openSub(SubSideBarDataSource::kTagsMode);
    node("tag")->setRightNumber(1);
    sub->untagNode()->setRightNumber(4);
    alertAnswer = platform::kit::Alert::kAlternateReturn;
    sub->removeNodeOnly(node("tag"));
    ASSERT_TRUE(testsupport::spinUntil([this] { return alerts.size() == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(one.tags().size(), 1);
    alertAnswer = platform::kit::Alert::kDefaultReturn;
    posted.clear();
    sub->removeNodeOnly(node("tag"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return one.tags().isEmpty(); }));
    EXPECT_FALSE(tag.isTrash());
    EXPECT_EQ(node("tag")->rightNumber(), 0);
    EXPECT_EQ(sub->untagNode()->rightNumber(), 5);
    EXPECT_TRUE(posted.contains(RefreshItemCountNotification + QStringLiteral(" Tags")));
}

TEST_F(SubSideBarTest, SmartFoldersThroughTheEditor)
{
    DBNode work = addNode(QStringLiteral("Work"), DBNode::Collection);
    save();
    openSub(SubSideBarDataSource::kCollectionsMode);
    subView->selectNode(node("Work").get());
    const KPNode::Ptr smart = sub->newSmartFolder(QStringLiteral("PDFs"), QByteArray("rules"));
    ASSERT_TRUE(smart);
    EXPECT_EQ(smart->dbNode().parent(), work);
    EXPECT_EQ(sub->selectedNode(), smart);

    sub->duplicateSmartFolder(smart); // from a selected smart folder: to the top level
    EXPECT_EQ(titles(sub->collectionsRoot()), (QStringList{"Work", "PDFs"}));
    EXPECT_EQ(DBSmartFolder(sub->collectionsRoot()->children().last()->dbNode().object()).data(), QByteArray("rules"));

    QString shownTitle;
    sub->setSmartFolderEditor([&](QWidget*, const QString& title, const QByteArray&, auto done) {
        shownTitle = title;
        done(1, QByteArray("new rules"), QStringLiteral("Scans"));
    });
    posted.clear();
    sub->editSmartFolder(smart);
    EXPECT_EQ(shownTitle, QStringLiteral("PDFs"));
    EXPECT_EQ(smart->title(), QStringLiteral("Scans"));
    EXPECT_EQ(DBSmartFolder(smart->dbNode().object()).data(), QByteArray("new rules"));
    EXPECT_EQ(count(FavoriteNodeChangeNotification), 1);

    sub->deleteSmartFolder(smart);
    ASSERT_TRUE(testsupport::spinUntil([&] { return smart->dbNode().isTrash(); }));
    EXPECT_EQ(titles(node("Work")), QStringList{});
}

} // namespace

namespace {

TEST_F(SubSideBarTest, NewTagsAndGroupsFromTheSelection)
{
    DBTag first = addTag(QStringLiteral("UNTITLED TAG"));
    DBTag other = addTag(QStringLiteral("other"));
    other.setSortID(1);
    addGroup(QStringLiteral("G"), {addTag(QStringLiteral("untitled tag 2"))}).setSortID(2);
    save();
    openSub(SubSideBarDataSource::kTagsMode);
    // Names inside groups count too.
    const KPNode::Ptr tag = sub->addTag();
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->title(), QStringLiteral("untitled tag 3"));
    EXPECT_EQ(sub->tagsRoot()->children().last(), tag);
    EXPECT_TRUE(engine->tagNamed(QStringLiteral("untitled tag 3")));

    QItemSelection selection;
    for (const char* title : {"UNTITLED TAG", "other"}) {
        const QModelIndex index = sub->model()->indexForNode(node(title).get());
        selection.select(index, index);
    }
    subView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const KPNode::Ptr group = sub->addTagGroupFromSelection();
    ASSERT_TRUE(group);
    EXPECT_EQ(group->title(), QStringLiteral("untitled group"));
    EXPECT_EQ(titles(group), (QStringList{"UNTITLED TAG", "other"}));
    EXPECT_EQ(first.group(), group->tagGroup());
    EXPECT_EQ(other.group(), group->tagGroup());
    EXPECT_EQ(titles(sub->tagsRoot()), (QStringList{"G", "untitled tag 3", "untitled group"}));
}

} // namespace
