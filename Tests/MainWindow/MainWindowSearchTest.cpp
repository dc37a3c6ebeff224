// The searches through the wired window: a smart folder with content rules clicked in the
// collections tree, its store matches listed at once and its full-text hits appended.
#include "MainWindowTestSupport.h"

#include "MainWindow/Parts/SearchCoordinator.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBSmartFolder.h"
#include "Store/KPContextHelper.h"

#include <QCoreApplication>
#include <QTest>

namespace {

using namespace mainwindowtest;

class HeldIndexSearch final : public SearchCoordinator::IndexSearch {
public:
    void start(Progress p) override { progress = std::move(p); }
    void cancel() override { cancelled = true; }
    Progress progress;
    bool cancelled = false;
};

class MainWindowSearchTest : public MainWindowFixture {};

TEST_F(MainWindowSearchTest, ASmartFolderWithContentRulesListsMatchesThenHits)
{
    addDocument(browsertest::DocumentSpec{.title = "Alpha report"});
    addDocument(browsertest::DocumentSpec{.title = "Beta"});
    const DBFileInfo gamma = addDocument(browsertest::DocumentSpec{.title = "Gamma"});
    DBSmartFolder smart = DBRecord::insertNewObject<DBSmartFolder>(context());
    smart.setTitle("Smart");
    smart.setType(DBNode::SmartFolder);
    smart.setData(*platform::KeyedArchiver::archivedData(QVariantMap{
        {"Operation", false},
        {"SmartData", QVariantList{QVariantMap{{"Title", "Title"}, {"Left", "title"}, {"Center", "CONTAINS[cd]"}, {"Right", "report"}},
                                   QVariantMap{{"Title", "Content"}, {"Left", "content"}, {"Center", "CONTAINS[cd]"}, {"Right", "tax"}}}}}));
    ASSERT_TRUE(KPContextHelper::save(context()));

    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    auto* search = dynamic_cast<SearchCoordinator*>(ctx.search);
    ASSERT_NE(search, nullptr);
    std::shared_ptr<HeldIndexSearch> held;
    search->makeValuesSearch = [&held](const QVariantMap&) { return held = std::make_shared<HeldIndexSearch>(); };

    sideBarView().selectNode(ctx.sideBarDataSource->collectionsNode().get());
    KPSideBarOutlineView& subView = *ctx.subSideBarDataSource->sideBarView();
    ASSERT_TRUE(testsupport::spinUntil([&] { return subView.numberOfRows() > 0; }));
    KPNode* row = nullptr;
    for (int i = 0; i < subView.numberOfRows() && !row; ++i) {
        if (subView.nodeAtRow(i) && subView.nodeAtRow(i)->title() == "Smart")
            row = subView.nodeAtRow(i);
    }
    ASSERT_NE(row, nullptr);
    QTest::mouseClick(subView.viewport(), Qt::LeftButton, {}, subView.frameOfRow(subView.rowForNode(row)).center());

    ASSERT_TRUE(held);
    EXPECT_TRUE(row->isBusy());
    auto titles = [] {
        QStringList names;
        for (const KPItemDataPtr& item : KPDataSourceManager::shareDataSourceManager().dataSource())
            names.append(item->data().title());
        names.sort();
        return names;
    };
    EXPECT_EQ(titles(), QStringList({"Alpha report"}));
    held->progress({QVariantMap{{"URI", gamma.URIString()}, {"SKID", 3}}}, false);
    EXPECT_EQ(titles(), QStringList({"Alpha report", "Gamma"}));
    held->progress({}, true);
    EXPECT_FALSE(row->isBusy());
}

} // namespace
