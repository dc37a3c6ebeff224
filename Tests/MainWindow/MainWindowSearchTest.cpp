// The searches through the wired window: a smart folder with content rules clicked in the
// collections tree, its store matches listed at once and its full-text hits appended.
#include "MainWindowTestSupport.h"

#include "Controls/KPThemeImageButton.h"
#include "Controls/KPTokenEditorView.h"
#include "Controls/VQTitlebarView.h"
#include "MainWindow/Parts/SearchCoordinator.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "SearchField/KPSearchTextEditor.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBSmartFolder.h"
#include "Store/KPContextHelper.h"
#include "SearchField/SearchResultViewController.h"
#include "Store/DBTag.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPropertyAnimation>
#include <QTest>
#include <algorithm>

namespace {

using namespace mainwindowtest;

class HeldIndexSearch final : public SearchCoordinator::IndexSearch {
public:
    void start(Progress p) override { progress = std::move(p); }
    void cancel() override { cancelled = true; }
    Progress progress;
    bool cancelled = false;
};

class MainWindowSearchTest : public MainWindowFixture {
protected:
    // The window open, active and wide enough for the title bar's menus and field.
    KPSearchTextEditor& openWithField(int width = 1200)
    {
        MainWindowController& c = open();
        c.window()->resize(width, 800);
        c.window()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(c.window()));
        QCoreApplication::processEvents();
        auto* search = dynamic_cast<SearchCoordinator*>(c.context().search);
        EXPECT_NE(search, nullptr);
        return *search->searchField();
    }
    static QStringList titles()
    {
        QStringList names;
        for (const KPItemDataPtr& item : KPDataSourceManager::shareDataSourceManager().dataSource())
            names.append(item->data().title());
        names.sort();
        return names;
    }
    QMenuBar* menuBar() { return controller->window()->titleBarView()->findChild<QMenuBar*>(); }
    // The field's move to its new width has ended.
    static void settle(const KPSearchTextEditor& field)
    {
        EXPECT_TRUE(testsupport::spinUntil([&] {
            const auto moves = field.findChildren<QPropertyAnimation*>(Qt::FindDirectChildrenOnly);
            return std::none_of(moves.begin(), moves.end(),
                                [](const QPropertyAnimation* m) { return m->state() == QAbstractAnimation::Running; });
        })) << "the search field never came to rest";
    }
};

TEST_F(MainWindowSearchTest, FindTypesIntoTheFieldAndEscapeLeavesTheSearch)
{
    addDocument(browsertest::DocumentFields{.title = "Work paper", .tags = {"work"}});
    addDocument(browsertest::DocumentFields{.title = "Holiday", .tags = {"home"}});
    ASSERT_TRUE(KPContextHelper::save(context()));
    KPSearchTextEditor& field = openWithField();
    MainWindowContext& ctx = controller->context();
    const QRect idle = field.geometry();

    ASSERT_TRUE(ctx.commands->perform("menuSearchClick"));
    EXPECT_TRUE(field.textView()->hasFocus());
    EXPECT_TRUE(ctx.state.searchTextEditoring);
    settle(field);
    EXPECT_GT(field.width(), idle.width());
    EXPECT_EQ(field.geometry().right(), idle.right());
    ASSERT_TRUE(menuBar() && menuBar()->isVisible());
    EXPECT_GT(field.x(), menuBar()->geometry().right());
    // Grown over the title bar's centred icon, the field hides it rather than leave its rim showing.
    auto* bar = static_cast<VQTitlebarView*>(controller->window()->titleBarView());
    ASSERT_TRUE(field.geometry().intersects(bar->titleIconRect()));
    EXPECT_TRUE(bar->isTitleIconHidden());

    QTest::keyClicks(field.textView(), "#work");
    QTest::keyClick(field.textView(), Qt::Key_Return);
    EXPECT_EQ(titles(), QStringList({"Work paper"}));
    // The bottom bar counts what the search found.
    QStringList counts;
    for (const QLabel* label : controller->window()->findChildren<QLabel*>()) {
        if (label->isVisible() && label->text().contains("found"))
            counts.append(label->text());
    }
    EXPECT_EQ(counts, QStringList({"1 document found"}));

    // Another node while searching gives the field back.
    sideBarView().selectNode(ctx.sideBarDataSource->collectionsNode().get());
    EXPECT_TRUE(field.isEmpty());
    EXPECT_FALSE(ctx.state.searchTextEditoring);
    settle(field);
    EXPECT_EQ(field.geometry(), idle);
    EXPECT_FALSE(bar->isTitleIconHidden());

    // Search again, then Escape three times: typed text, tokens, the search itself.
    field.textView()->setFocus();
    QTest::keyClicks(field.textView(), "#home");
    QTest::keyClick(field.textView(), Qt::Key_Return);
    EXPECT_EQ(titles(), QStringList({"Holiday"}));
    EXPECT_EQ(selected(), ctx.sideBarDataSource->documentsNode().get());
    QTest::keyClicks(field.textView(), "x");
    QTest::keyClick(field.textView(), Qt::Key_Escape);
    QTest::keyClick(field.textView(), Qt::Key_Escape);
    EXPECT_TRUE(field.isEmpty());
    EXPECT_EQ(titles(), QStringList({"Holiday", "Work paper"}));
    // The field keeps the keyboard, and its width for what is typed next.
    EXPECT_TRUE(field.textView()->hasFocus());
    EXPECT_TRUE(ctx.state.searchTextEditoring);
    settle(field);
    EXPECT_GT(field.width(), idle.width());
    QTest::keyClick(field.textView(), Qt::Key_Escape);
    EXPECT_FALSE(field.textView()->hasFocus());
    EXPECT_TRUE(ctx.state.globleSearchLastString.isEmpty());
    EXPECT_EQ(selected(), ctx.sideBarDataSource->documentsNode().get());
    settle(field);
    EXPECT_EQ(field.geometry(), idle);
}

TEST_F(MainWindowSearchTest, SuggestionsCompleteInlineAndLeaveTheKeyboardInTheField)
{
    addDocument(browsertest::DocumentFields{.title = "Work paper", .tags = {"Work"}});
    addDocument(browsertest::DocumentFields{.title = "Other", .tags = {"wine"}});
    addDocument(browsertest::DocumentFields{.title = "Forest", .tags = {"woods"}, .authors = {"Wolfe", "Woolf"}});
    ASSERT_TRUE(KPContextHelper::save(context()));
    KPSearchTextEditor& field = openWithField();
    // Trashed while the window is open: the start's purge has passed, so they are in the store.
    tagNamed("woods").setIsTrash(true);
    authorNamed("Woolf").setIsTrash(true);
    ASSERT_TRUE(KPContextHelper::save(context()));
    auto* search = dynamic_cast<SearchCoordinator*>(controller->context().search);
    field.textView()->setFocus();

    QTest::keyClicks(field.textView(), "#wo");
    ASSERT_NE(search->searchResultController(), nullptr);
    EXPECT_TRUE(field.textView()->hasFocus());
    EXPECT_EQ(field.textView()->toPlainText(), "#work");
    EXPECT_EQ(field.textView()->textCursor().selectedText(), "rk");
    // The trashed tag is not offered.
    EXPECT_EQ(search->searchResultController()->rowCount(), 2);

    // A deletion does not complete again.
    QTest::keyClick(field.textView(), Qt::Key_Backspace);
    EXPECT_EQ(field.textView()->toPlainText(), "#wo");

    QTest::keyClicks(field.textView(), "r");
    QTest::keyClick(field.textView(), Qt::Key_Return);
    EXPECT_EQ(field.searchValues(), QVariantList({SearchTokenValue::make(SearchTokenTag, "work")}));
    EXPECT_EQ(titles(), QStringList({"Work paper"}));
    EXPECT_EQ(search->searchResultController(), nullptr);

    // A word without prefix takes the kind of the selected suggestion.
    QTest::keyClicks(field.textView(), "wi");
    ASSERT_NE(search->searchResultController(), nullptr);
    EXPECT_EQ(search->searchResultController()->selectedRowDataType(), "#");
    QTest::keyClick(field.textView(), Qt::Key_Return);
    EXPECT_EQ(field.searchValues().last(), SearchTokenValue::make(SearchTokenTag, "wine"));
    EXPECT_EQ(titles(), QStringList());

    // Nor is the trashed author.
    QTest::keyClicks(field.textView(), "@wo");
    ASSERT_NE(search->searchResultController(), nullptr);
    EXPECT_EQ(search->searchResultController()->rowCount(), 2); // the typed text and Wolfe

    // A tab lists the whole of its kind, and still nothing in the Trash.
    SearchResultViewController* list = search->searchResultController();
    const auto shown = [list] {
        QStringList names;
        for (int row = 0; row < list->rowCount(); ++row)
            names << list->rowTitle(row);
        names.sort(Qt::CaseInsensitive);
        return names;
    };
    QTest::mouseClick(list->tabButton(SearchResultViewController::Tags), Qt::LeftButton);
    EXPECT_EQ(shown(), QStringList({"wine", "Work"}));
    QTest::mouseClick(list->tabButton(SearchResultViewController::Authors), Qt::LeftButton);
    EXPECT_EQ(shown(), QStringList({"Wolfe"}));
}

// Typing at once after entering the field opens the suggestions while the field still widens:
// they end under the field's magnifier, not where the field was when they opened.
TEST_F(MainWindowSearchTest, SuggestionsOpenedWhileTheFieldWidensEndUnderIt)
{
    addDocument(browsertest::DocumentFields{.title = "Work paper", .tags = {"Work"}});
    ASSERT_TRUE(KPContextHelper::save(context()));
    KPSearchTextEditor& field = openWithField();
    auto* search = dynamic_cast<SearchCoordinator*>(controller->context().search);
    const int idleX = field.x();
    field.textView()->setFocus();
    QTest::keyClicks(field.textView(), "#w");
    ASSERT_NE(search->searchResultController(), nullptr);
    settle(field);
    ASSERT_LT(field.x(), idleX - 100) << "the field did not widen";
    QWidget* window = field.window();
    QWidget* frame = search->searchResultController();
    while (frame->parentWidget() && frame->parentWidget() != window)
        frame = frame->parentWidget();
    const int magnifier = field.mapTo(window, QPoint(18, 0)).x();
    EXPECT_LT(std::abs(frame->geometry().center().x() - magnifier), 40)
        << "the suggestions stand at " << frame->geometry().center().x() << ", the magnifier at " << magnifier;
}

TEST_F(MainWindowSearchTest, TheFieldInUseNeverCoversTheMenuBar)
{
    for (int width : {700, 1600}) {
        SCOPED_TRACE(width);
        KPSearchTextEditor& field = openWithField(width);
        const QRect idle = field.geometry();
        EXPECT_EQ(idle.width(), 240);
        field.textView()->setFocus();
        QCoreApplication::processEvents();
        settle(field);
        const QRect inUse = field.geometry();
        EXPECT_EQ(inUse.right(), idle.right());
        EXPECT_GE(inUse.width(), idle.width());
        ASSERT_TRUE(menuBar() && menuBar()->isVisible());
        EXPECT_GT(inUse.x(), menuBar()->geometry().right());
        controller.reset();
    }
}

TEST_F(MainWindowSearchTest, ASmartFolderWithContentRulesListsMatchesThenHits)
{
    addDocument(browsertest::DocumentFields{.title = "Alpha report"});
    addDocument(browsertest::DocumentFields{.title = "Beta"});
    const DBFileInfo gamma = addDocument(browsertest::DocumentFields{.title = "Gamma"});
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
