#include "MainWindow/Parts/SearchCoordinator.h"

#include "MainWindow/MainWindowState.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "SearchField/SearchQuery.h"
#include "SideBarRequestsFixture.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBSmartFolder.h"

namespace {

using namespace sidebartest;

// A full-text search whose batches the test sends, also after a cancel (the coordinator must
// hear only the search it holds).
class FakeIndexSearch final : public SearchCoordinator::IndexSearch {
public:
    void start(Progress p) override { progress = std::move(p); }
    void cancel() override { cancelled = true; }
    void batch(const QVariantList& hits) { progress(hits, false); }
    void finish() { progress({}, true); }

    QString query;
    QVariantMap values;
    Progress progress;
    bool cancelled = false;
};

class SearchCoordinatorTest : public SideBarRequestsFixture {
protected:
    void SetUp() override
    {
        SideBarRequestsFixture::SetUp();
        search = std::make_unique<SearchCoordinator>(ctx);
        ctx.search = search.get();
        search->makeQuerySearch = [this](const QString& query) {
            auto fake = std::make_shared<FakeIndexSearch>();
            fake->query = query;
            searches.append(fake);
            return fake;
        };
        search->makeValuesSearch = [this](const QVariantMap& values) {
            auto fake = std::make_shared<FakeIndexSearch>();
            fake->values = values;
            searches.append(fake);
            return fake;
        };
        search->addIndexRecord = [this](const QVariantMap& record) { records.append(record); };
        search->showMainNode = [this](const KPNode::Ptr& node) { content->onSideBarNodeChange(node); };
        search->appendSmartFolderItems = [this](const KPNode::Ptr& node, const QList<KPItemDataPtr>& items) {
            content->appendSmartFolderHits(node, items);
        };
        // The side bar's selection reaches the real content switch, as in the window.
        SideBarDataSourceDelegate d;
        d.onSideBarNodeChange = [this](const KPNode::Ptr& node) { content->onSideBarNodeChange(node); };
        source->setDelegate(d);
        view->selectNode(source->documentsNode().get());
    }

    void TearDown() override
    {
        ctx.search = nullptr;
        search.reset();
        SideBarRequestsFixture::TearDown();
    }

    DBFileInfo doc(const QString& title, const QList<DBTag>& tags = {}, const QString& comment = {})
    {
        DBFileInfo file = addDocument(title, tags);
        DBFileInfoMetadata meta = DBRecord::insertNewObject<DBFileInfoMetadata>(engine->context());
        meta.setComment(comment);
        file.setMetadata(meta);
        return file;
    }

    void type(const QVariantList& tokens) { search->onSearchTextEditorDidChange(tokens); }
    static QVariantMap text(const QString& v) { return SearchTokenValue::make(SearchTokenText, v); }
    static QVariantMap tagToken(const QString& v) { return SearchTokenValue::make(SearchTokenTag, v); }

    static QVariantMap hit(const DBFileInfo& file, int skid) { return {{"URI", file.URIString()}, {"SKID", skid}}; }
    static QVariantMap staleHit(int skid)
    {
        return {{"URI", QStringLiteral("x-folivo-store://nowhere/DBFileInfo/p999999")}, {"SKID", skid}};
    }

    static QStringList listed()
    {
        QStringList titles;
        for (const KPItemDataPtr& item : KPDataSourceManager::shareDataSourceManager().dataSource())
            titles.append(item->data().title());
        titles.sort();
        return titles;
    }

    KPNode::Ptr smartFolder(const QString& title, bool all, const QVariantList& rows)
    {
        DBSmartFolder record = DBRecord::insertNewObject<DBSmartFolder>(engine->context());
        record.setTitle(title);
        record.setType(DBNode::SmartFolder);
        record.setData(*platform::KeyedArchiver::archivedData(QVariantMap{{"Operation", all}, {"SmartData", rows}}));
        return KPNode::initWithDBNode(DBNode(record.object()));
    }
    static QVariantMap contentRule(const QString& words)
    {
        return {{"Title", "Content"}, {"Left", "content"}, {"Center", "CONTAINS[cd]"}, {"Right", words}};
    }
    static QVariantMap titleRule(const QString& words)
    {
        return {{"Title", "Title"}, {"Left", "title"}, {"Center", "CONTAINS[cd]"}, {"Right", words}};
    }

    std::unique_ptr<SearchCoordinator> search;
    QList<std::shared_ptr<FakeIndexSearch>> searches;
    QList<QVariantMap> records;
};

TEST_F(SearchCoordinatorTest, StoreMatchesAtOnceThenFullTextHitsOnceEach)
{
    const DBFileInfo report = doc("annual report");
    const DBFileInfo notes = doc("notes", {}, "the report of May");
    const DBFileInfo scan = doc("scan");
    doc("old report").setIsTrash(true);
    DBFileInfo trashedScan = doc("trashed scan");
    trashedScan.setIsTrash(true);
    save(); // hits name stored documents

    type({text("report")});
    EXPECT_EQ(listed(), QStringList({"annual report", "notes"}));
    ASSERT_EQ(searches.size(), 1);
    EXPECT_EQ(searches[0]->query, "report");
    EXPECT_TRUE(ctx.state.searchTextEditoring);
    EXPECT_FALSE(ctx.state.globleSearchLastString.isEmpty());

    searches[0]->batch({hit(report, 1), hit(scan, 2), hit(trashedScan, 3), staleHit(4), staleHit(5)});
    EXPECT_EQ(listed(), QStringList({"annual report", "notes", "scan"}));
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0], (QVariantMap{{"Type", "Delete"}, {"DocumentID", 4}}));
    EXPECT_EQ(records[1].value("DocumentID"), 5);
    searches[0]->finish();
    EXPECT_FALSE(search->hasGlobalSearch());

    // The same tokens again: nothing is searched again.
    type({text("report")});
    EXPECT_EQ(searches.size(), 1);
    EXPECT_EQ(listed(), QStringList({"annual report", "notes", "scan"}));
}

TEST_F(SearchCoordinatorTest, TokenValuesAreTextNotQuerySyntax)
{
    doc("a\\b");
    doc("ab");
    doc("say \"hi\" 50%");
    const DBTag work = addTag("work"), wine = addTag("Wine"), home = addTag("home");
    const DBFileInfo atWork = doc("at work", {work});
    doc("with wine", {wine});
    doc("at home", {home});
    doc("star", {addTag("w*x")});
    save();

    type({text("a\\b")});
    EXPECT_EQ(listed(), QStringList({"a\\b"}));
    type({text("\"hi\" 50%")});
    EXPECT_EQ(listed(), QStringList({"say \"hi\" 50%"}));
    EXPECT_EQ(searches.last()->query, "\" hi  50%\"");

    // A tag token compares whole names with wildcards; alone, it needs no full-text search.
    const int before = searches.size();
    type({tagToken("w*")});
    EXPECT_EQ(listed(), QStringList({"at work", "star", "with wine"}));
    EXPECT_EQ(searches.size(), before);
    type({tagToken("WORK")});
    EXPECT_EQ(listed(), QStringList({"at work"}));

    // Text and tag tokens: the store needs both; full-text hits need the tag.
    type({text("annual report"), text("tax"), tagToken("home")});
    EXPECT_EQ(searches.last()->query, "\"annual report\" tax");
    EXPECT_EQ(listed(), QStringList());
    searches.last()->batch({hit(atWork, 1)});
    EXPECT_EQ(listed(), QStringList());

    // Empty values and unknown kinds add nothing.
    type({text(""), SearchTokenValue::make(SearchTokenType(9), "x"), tagToken("work")});
    EXPECT_EQ(listed(), QStringList({"at work"}));
}

TEST_F(SearchCoordinatorTest, EmptyingTheFieldShowsDocumentsOnce)
{
    doc("report");
    type({text("report")});
    const auto running = searches.last();
    type({});
    EXPECT_TRUE(running->cancelled);
    EXPECT_FALSE(search->hasGlobalSearch());
    EXPECT_TRUE(ctx.state.globleSearchLastString.isEmpty());
    EXPECT_FALSE(ctx.state.searchTextEditoring);
    EXPECT_EQ(ctx.state.shownNode, source->documentsNode());
    EXPECT_EQ(listed().size(), 4); // d1, d2, d3 and report

    // A second empty change does nothing, even with another listing shown.
    KPDataSourceManager::shareDataSourceManager().removeAllObjects();
    type({});
    EXPECT_TRUE(listed().isEmpty());
}

TEST_F(SearchCoordinatorTest, SearchingFromACollectionSelectsDocumentsAndKeepsTheField)
{
    doc("report");
    view->selectNode(source->collectionsNode().get());
    ASSERT_EQ(ctx.state.shownNode, source->collectionsNode());
    type({text("report")});
    EXPECT_EQ(view->selectedNode(), source->documentsNode().get());
    EXPECT_TRUE(ctx.state.searchTextEditoring);
    EXPECT_FALSE(ctx.state.globleSearchLastString.isEmpty());
    EXPECT_EQ(listed(), QStringList({"report"}));
    ASSERT_EQ(searches.size(), 1);
    EXPECT_FALSE(searches[0]->cancelled);

    // Any other node leaves the search: its later batches change nothing.
    const DBFileInfo late = doc("late");
    save();
    view->selectNode(source->collectionsNode().get());
    EXPECT_TRUE(searches[0]->cancelled);
    EXPECT_FALSE(ctx.state.searchTextEditoring);
    EXPECT_TRUE(ctx.state.globleSearchLastString.isEmpty());
    // The collections listing may hold every document, "late" among them: start from an empty
    // listing so that a batch taken after all would show.
    KPDataSourceManager::shareDataSourceManager().removeAllObjects();
    searches[0]->batch({hit(late, 1)});
    searches[0]->finish();
    EXPECT_TRUE(listed().isEmpty()) << qPrintable(listed().join(", "));
}

TEST_F(SearchCoordinatorTest, SmartFolderAllTakesOnlyHitsThatPassItsRules)
{
    const DBFileInfo report = doc("report");
    const DBFileInfo notes = doc("notes");
    DBFileInfo gone = doc("gone report");
    gone.setIsTrash(true);
    save();
    const KPNode::Ptr folder = smartFolder("All", true, {titleRule("rep"), contentRule("tax,annual report")});
    content->onSideBarNodeChange(folder);
    ASSERT_EQ(searches.size(), 1);
    EXPECT_EQ(searches[0]->values.value("Value"), QVariantList({"tax,annual report"}));
    EXPECT_TRUE(folder->isBusy());
    EXPECT_TRUE(listed().isEmpty());

    searches[0]->batch({hit(report, 1), hit(notes, 2), hit(gone, 3), staleHit(4)});
    EXPECT_EQ(listed(), QStringList({"report"}));
    EXPECT_EQ(records.size(), 1);
    searches[0]->finish();
    EXPECT_FALSE(folder->isBusy());
    EXPECT_FALSE(search->hasSmartFolderSearch());
}

TEST_F(SearchCoordinatorTest, SmartFolderAnyListsStoreMatchesThenAppendsHits)
{
    const DBFileInfo notes = doc("notes");
    doc("report");
    doc("trashed").setIsTrash(true);
    save();
    const KPNode::Ptr contentOnly = smartFolder("Content only", false, {contentRule("tax")});
    content->onSideBarNodeChange(contentOnly);
    EXPECT_EQ(listed(), QStringList({"d1", "d2", "d3", "notes", "report"}));

    const KPNode::Ptr titled = smartFolder("Any", false, {titleRule("rep"), contentRule("tax")});
    content->onSideBarNodeChange(titled);
    EXPECT_EQ(listed(), QStringList({"report"}));
    searches.last()->batch({hit(notes, 1)});
    EXPECT_EQ(listed(), QStringList({"notes", "report"}));
}

TEST_F(SearchCoordinatorTest, OnlyTheLatestSmartFolderSearchIsHeard)
{
    const DBFileInfo report = doc("report");
    save();
    const KPNode::Ptr a = smartFolder("A", true, {contentRule("x")});
    const KPNode::Ptr b = smartFolder("B", true, {contentRule("y")});
    content->onSideBarNodeChange(a);
    content->onSideBarNodeChange(b);
    ASSERT_EQ(searches.size(), 2);
    EXPECT_TRUE(searches[0]->cancelled);
    EXPECT_FALSE(a->isBusy());
    EXPECT_TRUE(b->isBusy());

    searches[0]->batch({hit(report, 1)});
    searches[0]->finish();
    EXPECT_TRUE(b->isBusy());
    EXPECT_TRUE(search->hasSmartFolderSearch());
    EXPECT_TRUE(listed().isEmpty());

    // The same folder again: the old search's last call leaves the new one's mark alone.
    content->onSideBarNodeChange(b);
    searches[1]->finish();
    EXPECT_TRUE(b->isBusy());

    // A global search stops it and frees the row.
    type({text("report")});
    EXPECT_TRUE(searches[2]->cancelled);
    EXPECT_FALSE(b->isBusy());
    EXPECT_FALSE(search->hasSmartFolderSearch());
    EXPECT_EQ(listed(), QStringList({"report"}));
}

} // namespace
