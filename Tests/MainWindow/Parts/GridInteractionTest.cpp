#include "GridInteractionFixture.h"

#include "Browser/KPGroupRecords.h"
#include "Controls/KPThemeImageButton.h"
#include "MainWindow/Parts/GridInteraction.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/Input.h"
#include "Platform/Kit/Scheduler.h"
#include "SideBar/SideBarNodeType.h"

#include <QLineEdit>
#include <QTest>

using namespace gridparttest;
namespace keychar = platform::kit::keychar;
using Address = KPSectionIndexSet;

// ---------------------------------------------------------------------------------------------
// Arrow navigation as a pure function

namespace {

GridInteraction::NavigationShape shape(const std::vector<qint64>& counts, qint64 columns, bool list = false)
{
    GridInteraction::NavigationShape s;
    s.sectionCount = qint64(counts.size());
    s.itemCount = [counts](qint64 i) { return i >= 0 && i < qint64(counts.size()) ? counts[size_t(i)] : 0; };
    s.columnCount = [columns](qint64) { return columns; };
    s.oneItemPerRow = list;
    return s;
}

std::optional<Address> go(const QList<Address>& from, char16_t key, const GridInteraction::NavigationShape& s)
{
    return GridInteraction::navigationTarget(from, key, s);
}

} // namespace

TEST(GridNavigation, EdgesOfTheListingKeepTheSelection)
{
    const auto s = shape({7, 5}, 3);
    EXPECT_EQ(go({Address(1, 4)}, keychar::DownArrow, s), Address(1, 4));
    EXPECT_EQ(go({Address(1, 4)}, keychar::RightArrow, s), Address(1, 4));
    EXPECT_EQ(go({Address(0, 0)}, keychar::UpArrow, s), Address(0, 0));
    EXPECT_EQ(go({Address(0, 0)}, keychar::LeftArrow, s), Address(0, 0));
    // A last row that is not full: Down from its first column stays too.
    EXPECT_EQ(go({Address(1, 3)}, keychar::DownArrow, s), Address(1, 3));
    // Nothing selected, or a key that is no arrow: no move at all.
    EXPECT_EQ(go({}, keychar::DownArrow, s), std::nullopt);
    EXPECT_EQ(go({Address(0, 0)}, u'a', s), std::nullopt);
    EXPECT_EQ(go({Address(0, 0)}, keychar::DownArrow, shape({}, 3)), std::nullopt);
}

TEST(GridNavigation, UpFromTheFirstRowLandsInThePreviousSectionsLastRow)
{
    // 7 items in rows of 3: the last row holds item 6 only.
    const auto s = shape({7, 9}, 3);
    for (qint64 column : {0, 1, 2})
        EXPECT_EQ(go({Address(1, column)}, keychar::UpArrow, s), Address(0, 6)) << "column " << column;
    // A full last row keeps the column.
    const auto full = shape({6, 9}, 3);
    EXPECT_EQ(go({Address(1, 2)}, keychar::UpArrow, full), Address(0, 5));
    EXPECT_EQ(go({Address(1, 1)}, keychar::UpArrow, full), Address(0, 4));
    // Inside a section Up and Down move by a row.
    EXPECT_EQ(go({Address(1, 4)}, keychar::UpArrow, s), Address(1, 1));
    EXPECT_EQ(go({Address(0, 2)}, keychar::DownArrow, s), Address(0, 5));
    // Down out of a section keeps the column when the next section is wide enough.
    EXPECT_EQ(go({Address(0, 5)}, keychar::DownArrow, s), Address(1, 2));
    EXPECT_EQ(go({Address(0, 5)}, keychar::DownArrow, shape({7, 1}, 3)), Address(1, 0));
}

TEST(GridNavigation, EmptySectionsAreStepsOverNotDeadEnds)
{
    const auto s = shape({2, 0, 3}, 3);
    EXPECT_EQ(go({Address(2, 0)}, keychar::LeftArrow, s), Address(0, 1));
    EXPECT_EQ(go({Address(0, 1)}, keychar::RightArrow, s), Address(2, 0));
    EXPECT_EQ(go({Address(2, 1)}, keychar::UpArrow, s), Address(0, 1));
    EXPECT_EQ(go({Address(0, 1)}, keychar::DownArrow, s), Address(2, 1));
}

TEST(GridNavigation, AMultipleSelectionStartsFromTheFirstOrLastInGridOrder)
{
    const auto s = shape({6, 6, 6}, 3);
    // Given in no order and across sections.
    const QList<Address> spread{Address(2, 1), Address(0, 4), Address(1, 0), Address(0, 3)};
    EXPECT_EQ(go(spread, keychar::UpArrow, s), Address(0, 0));    // from (0, 3)
    EXPECT_EQ(go(spread, keychar::LeftArrow, s), Address(0, 2));  // from (0, 3)
    EXPECT_EQ(go(spread, keychar::DownArrow, s), Address(2, 4));  // from (2, 1)
    EXPECT_EQ(go(spread, keychar::RightArrow, s), Address(2, 2)); // from (2, 1)
}

TEST(GridNavigation, AddressesOfVanishedDocumentsAreNoStartingPoint)
{
    const auto s = shape({4, 2}, 3);
    // Only addresses still in the listing count; the move never leaves the listing.
    EXPECT_EQ(go({Address(0, 9), Address(0, 1)}, keychar::DownArrow, s), Address(1, 1));
    EXPECT_EQ(go({Address(5, 0), Address(1, 1)}, keychar::RightArrow, s), Address(1, 1));
    EXPECT_EQ(go({Address(0, 7)}, keychar::UpArrow, s), std::nullopt);
    EXPECT_EQ(go({Address(-1, 0)}, keychar::LeftArrow, s), std::nullopt);
}

TEST(GridNavigation, OneItemPerRowMovesOneByOne)
{
    const auto s = shape({3, 2}, 1, true);
    EXPECT_EQ(go({Address(0, 2)}, keychar::DownArrow, s), Address(1, 0));
    EXPECT_EQ(go({Address(1, 0)}, keychar::UpArrow, s), Address(0, 2));
    EXPECT_EQ(go({Address(1, 1)}, keychar::DownArrow, s), Address(1, 1));
}

// ---------------------------------------------------------------------------------------------
// Keys on the grid

class GridInteractionTest : public GridPartTest {
protected:
    void SetUp() override
    {
        GridPartTest::SetUp();
        part = std::make_unique<GridInteraction>(ctx);
        part->install();
        part->togglePreview = [this] { ++previews; };
        part->countTextChanged = [this](const QString& text, bool shown) {
            labelText = text;
            labelShown = shown;
        };
    }
    void TearDown() override
    {
        part.reset();
        GridPartTest::TearDown();
    }

    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {})
    {
        QKeyEvent press(QEvent::KeyPress, k, mods, text);
        QApplication::sendEvent(grid, &press);
    }
    void type(const QString& text)
    {
        for (QChar c : text)
            QTest::keyClick(grid, c.toLatin1());
    }
    int shownCount() const
    {
        int n = 0;
        for (const KPSectionDataPtr& section : source->dataSource())
            n += int(section->itemCount());
        return n;
    }

    std::unique_ptr<GridInteraction> part;
    int previews = 0;
    QString labelText;
    bool labelShown = false;
};

TEST_F(GridInteractionTest, ReturnAndSpaceActOnlyOnASelection)
{
    fill({{"Alpha", "Beta"}});
    QTest::keyClick(grid, Qt::Key_Return);
    QTest::keyClick(grid, Qt::Key_Space);
    EXPECT_EQ(grid->findChild<QLineEdit*>(), nullptr);
    EXPECT_EQ(previews, 0);

    select({Address(0, 1)});
    QTest::keyClick(grid, Qt::Key_Space);
    EXPECT_EQ(previews, 1);
    QTest::keyClick(grid, Qt::Key_Return);
    QLineEdit* editor = grid->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), QStringLiteral("Beta"));
}

TEST_F(GridInteractionTest, ReturnAndLettersOnTilesDoNothing)
{
    settings().setItemViewType(KPItemViewTypeFlag);
    source->dataSource() = {KPSectionData::create(QString(), QList<KPSectionItem>{FlagGroupRecord{1, {}}, FlagGroupRecord{2, {}}})};
    grid->reloadData();
    select({Address(0, 0)});
    QTest::keyClick(grid, Qt::Key_Return);
    type("ab");
    EXPECT_EQ(grid->findChild<QLineEdit*>(), nullptr);
    EXPECT_TRUE(ctx.state.searchTitleKeyDownCharStr.isEmpty());
    // Arrows still move over the tiles.
    QTest::keyClick(grid, Qt::Key_Right);
    EXPECT_EQ(grid->selectedIndexs(), QList<Address>{Address(0, 1)});
}

TEST_F(GridInteractionTest, TypeToFindAcceptsLowerCaseDigitsAndBraceOnly)
{
    fill({{"Report", "{draft}", "Notes 2024", "report B"}});
    key(Qt::Key_BraceLeft, Qt::ShiftModifier, QStringLiteral("{"));
    EXPECT_EQ(ctx.state.searchTitleKeyDownCharStr, QStringLiteral("{"));
    EXPECT_EQ(shownCount(), 1);
    key(Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
    EXPECT_TRUE(ctx.state.searchTitleKeyDownCharStr.isEmpty());
    EXPECT_EQ(shownCount(), 4);

    // Upper case, punctuation and Ctrl+letter are no search.
    key(Qt::Key_R, Qt::ShiftModifier, QStringLiteral("R"));
    key(Qt::Key_Period, Qt::NoModifier, QStringLiteral("."));
    key(Qt::Key_R, Qt::ControlModifier, QStringLiteral("r"));
    EXPECT_TRUE(ctx.state.searchTitleKeyDownCharStr.isEmpty());
    EXPECT_EQ(shownCount(), 4);

    type("2024");
    EXPECT_EQ(ctx.state.searchTitleKeyDownCharStr, QStringLiteral("2024"));
    EXPECT_EQ(shownCount(), 1);
}

TEST_F(GridInteractionTest, TypeToFindSelectsTheFirstMatchAndDeletesBackToTheFullList)
{
    fill({{"Alpha", "Beta", "Gamma", "Alphabet"}});
    type("alp");
    EXPECT_EQ(shownCount(), 2);
    ASSERT_EQ(grid->selectedIndexs().size(), 1);
    EXPECT_TRUE(source->itemDataWithSectionIndexSet(grid->selectedIndexs().first())->itemData()->title().startsWith("Alpha"));
    EXPECT_EQ(labelText, QStringLiteral("1 of 4 selected"));

    // Backspace and Forward Delete both take the last character back.
    QTest::keyClick(grid, Qt::Key_Backspace);
    EXPECT_EQ(ctx.state.searchTitleKeyDownCharStr, QStringLiteral("al"));
    QTest::keyClick(grid, Qt::Key_Delete);
    EXPECT_EQ(ctx.state.searchTitleKeyDownCharStr, QStringLiteral("a"));
    EXPECT_EQ(shownCount(), 4); // every title holds an "a"
    type("x");
    EXPECT_EQ(shownCount(), 0);
    EXPECT_TRUE(grid->selectedIndexs().isEmpty());
    QTest::keyClick(grid, Qt::Key_Backspace);
    QTest::keyClick(grid, Qt::Key_Backspace);
    EXPECT_TRUE(ctx.state.searchTitleKeyDownCharStr.isEmpty());
    EXPECT_EQ(shownCount(), 4);
    // Delete with nothing typed changes nothing.
    QTest::keyClick(grid, Qt::Key_Backspace);
    EXPECT_TRUE(ctx.state.searchTitleKeyDownCharStr.isEmpty());
    EXPECT_EQ(shownCount(), 4);
}

// A document taken out of the grid during a search (moved to the Trash) stays out when the
// search widens again, and the rest of the listing comes back.
TEST_F(GridInteractionTest, TypeToFindWidensOverTheListingAsItIsNow)
{
    const QList<QList<KPItemDataPtr>> made = fill({{"report one", "report two", "rose"}});
    type("rep");
    ASSERT_EQ(shownCount(), 2);
    // Out of the shown section and the listing, as moving it to the Trash does.
    QList<KPSectionItem>& shownItems = source->dataSource().first()->datas();
    shownItems.removeIf([&](const KPSectionItem& item) { return item.itemData() == made[0][0]; });
    listed.removeSource({made[0][0]});
    grid->reloadData();
    QTest::keyClick(grid, Qt::Key_Backspace);
    QTest::keyClick(grid, Qt::Key_Backspace);
    EXPECT_EQ(ctx.state.searchTitleKeyDownCharStr, QStringLiteral("r"));
    EXPECT_EQ(shownCount(), 2) << "report two and rose, never the document that left";
    for (const KPSectionDataPtr& section : source->dataSource())
        for (const KPSectionItem& item : section->datas())
            EXPECT_NE(item.itemData(), made[0][0]);
    key(Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
    EXPECT_EQ(shownCount(), 2);
}

// A new listing's titles are folded a slice at a time while nobody types, so that the first
// key finds them ready; a key before the last slice folds the rest itself.
TEST_F(GridInteractionTest, ANewListingsTitlesAreFoldedInSlicesBeforeTheFirstKey)
{
    platform::kit::VirtualScheduler clock;
    ctx.scheduler = &clock;
    QStringList titles;
    for (int i = 0; i < 4500; ++i)
        titles << QStringLiteral("doc %1").arg(i);
    fill({titles});
    source->reloadData();
    EXPECT_EQ(part->titleFinder().indexedCount(), 0);
    clock.advance(GridInteraction::kTitlePrepareDelayMs);
    EXPECT_EQ(part->titleFinder().indexedCount(), GridInteraction::kTitlesPerSlice);
    EXPECT_FALSE(part->titleFinder().isCurrent(source->dataSource()));
    // A key before the last slice folds the rest itself.
    type("4499");
    EXPECT_EQ(shownCount(), 1);
    EXPECT_EQ(part->titleFinder().indexedCount(), 4500);
    key(Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
    EXPECT_EQ(shownCount(), 4500);

    // Another listing, folded slice by slice while nobody types.
    fill({titles.mid(0, 4100)});
    source->reloadData();
    clock.advance(GridInteraction::kTitlePrepareDelayMs);
    EXPECT_EQ(part->titleFinder().indexedCount(), GridInteraction::kTitlesPerSlice);
    for (int slice = 0; slice < 2; ++slice)
        clock.advance(GridInteraction::kTitleSliceGapMs);
    EXPECT_EQ(part->titleFinder().indexedCount(), 4100);
    EXPECT_TRUE(part->titleFinder().isCurrent(source->dataSource()));
    type("4099");
    EXPECT_EQ(shownCount(), 1);
    ctx.scheduler = nullptr;
}

TEST_F(GridInteractionTest, TheSearchOverlayFadesAfterThePauseInVirtualTime)
{
    platform::kit::VirtualScheduler clock;
    platform::kit::AnimationPolicy animated;
    ctx.scheduler = &clock;
    ctx.animation = &animated;
    fill({{"Alpha", "Beta"}});
    type("a");
    ASSERT_NE(part->searchTitleWindowContentView(), nullptr);
    EXPECT_EQ(part->searchTitleOpacity(), 1.0);
    clock.advance(700);
    type("l"); // a new key restarts the pause
    clock.advance(700);
    EXPECT_EQ(part->searchTitleOpacity(), 1.0);
    clock.advance(100); // the pause is over: the fade starts
    clock.advance(GridInteraction::kSearchTitleFadeMs + 50);
    EXPECT_EQ(part->searchTitleOpacity(), 0.0);
    // It comes back whole on the next key, the fade of the last pause forgotten.
    type("p");
    EXPECT_EQ(part->searchTitleOpacity(), 1.0);
    clock.advance(400);
    EXPECT_EQ(part->searchTitleOpacity(), 1.0);
    ctx.scheduler = nullptr;
}

TEST_F(GridInteractionTest, KeysWithNothingListedDoNothing)
{
    fill({});
    for (Qt::Key k : {Qt::Key_Return, Qt::Key_Space, Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right,
                      Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Escape})
        QTest::keyClick(grid, k);
    EXPECT_EQ(previews, 0);
    type("q");
    EXPECT_EQ(ctx.state.searchTitleKeyDownCharStr, QStringLiteral("q"));
    EXPECT_TRUE(grid->selectedIndexs().isEmpty());
}

TEST_F(GridInteractionTest, ArrowsOnTheGridUseItsColumns)
{
    QStringList titles;
    for (int i = 0; i < 20; ++i)
        titles << QStringLiteral("Doc %1").arg(i);
    fill({titles});
    select({Address(0, 0)});
    QTest::keyClick(grid, Qt::Key_Down);
    ASSERT_EQ(grid->selectedIndexs().size(), 1);
    const qint64 columns = grid->selectedIndexs().first().itemIndex();
    EXPECT_GT(columns, 1); // 800 points hold several icons in a row
    QTest::keyClick(grid, Qt::Key_Right);
    EXPECT_EQ(grid->selectedIndexs().first(), Address(0, columns + 1));
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(grid->selectedIndexs().first(), Address(0, 1));
}

// ---------------------------------------------------------------------------------------------
// Selection change

TEST_F(GridInteractionTest, MenuStatesAndInspectorFollowTheSelection)
{
    fill({{"A", "B", "C"}});
    select({Address(0, 1)});
    EXPECT_TRUE(menu.bHasFileSelected());
    EXPECT_TRUE(menu.bMoveToTrash());
    EXPECT_TRUE(menu.bNewFolderFromSelection());
    ASSERT_EQ(pane.shown.size(), 1);
    EXPECT_EQ(pane.shown.first()->title(), QStringLiteral("B"));
    EXPECT_EQ(pane.refreshCount, 0);

    ctx.state.inspectorExpanded = true;
    select({});
    EXPECT_FALSE(menu.bHasFileSelected());
    EXPECT_FALSE(menu.bMoveToTrash());
    EXPECT_TRUE(pane.shown.isEmpty());
    EXPECT_EQ(pane.refreshCount, 1);

    // In the Trash nothing can be moved there again.
    ctx.state.shownNode = KPNode::initWithTitle(QStringLiteral("Trash"), SideBarNodeType::TrashNode);
    select({Address(0, 0), Address(0, 1)});
    EXPECT_TRUE(menu.bHasFileSelected());
    EXPECT_FALSE(menu.bMoveToTrash());
    EXPECT_EQ(part->actionContentView(), nullptr);
}

TEST_F(GridInteractionTest, TheActionBarShowsOverTwoOrMoreAndMergesOnlyPdfs)
{
    auto made = fill({{"A", "B"}});
    const QList<KPItemDataPtr> word{KPItemData::create(addDocument({.title = "W", .extension = "docx"}))};
    made.append(word);
    source->dataSource().append(KPSectionData::create(QStringLiteral("S1"), word));
    listed.appendSource(word);
    grid->reloadData();

    select({Address(0, 0)});
    EXPECT_EQ(part->actionContentView(), nullptr);

    select({Address(0, 0), Address(0, 1)});
    QWidget* bar = part->actionContentView();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->parentWidget(), &center);
    EXPECT_EQ(bar->geometry(), QRect(267, 600 - 28 - 50, 266, 50));
    EXPECT_EQ(bar->findChildren<KPThemeImageButton*>().size(), 5);
    ASSERT_NE(part->actionWindowMergeButton(), nullptr);
    EXPECT_TRUE(part->actionWindowMergeButton()->enabled());
    EXPECT_TRUE(menu.bCanMerge());

    select({Address(0, 0), Address(1, 0)});
    EXPECT_FALSE(part->actionWindowMergeButton()->enabled());
    EXPECT_FALSE(menu.bCanMerge());

    // A resize keeps it centred.
    center.resize(1000, 700);
    part->updateActionWindowPosition();
    EXPECT_EQ(part->actionContentView()->geometry(), QRect(367, 700 - 28 - 50, 266, 50));

    // Telling PDFs apart reads no model's display values: selecting hundreds out of sight
    // leaves them unloaded.
    QList<KPItemDataPtr> pdfs;
    for (int i = 0; i < 300; ++i)
        pdfs.append(KPItemData::create(addDocument({.title = QStringLiteral("P%1").arg(i)})));
    source->dataSource().append(KPSectionData::create(QStringLiteral("S2"), pdfs));
    listed.appendSource(pdfs);
    grid->reloadData();
    QList<Address> many;
    for (int i = 0; i < pdfs.size(); ++i)
        many.append(Address(2, i));
    select(many);
    EXPECT_TRUE(part->actionWindowMergeButton()->enabled());
    EXPECT_FALSE(pdfs.last()->bLoadedDataContent());

    select({});
    EXPECT_EQ(part->actionContentView(), nullptr);
}

TEST_F(GridInteractionTest, CountTextGroupsThousandsAndCountsAuthors)
{
    QList<KPItemDataPtr> many;
    for (int i = 0; i < 1234; ++i)
        many.append(KPItemData::create(addDocument(QStringLiteral("D%1").arg(i))));
    listed.addSource(many);
    source->dataSource() = {KPSectionData::create(QString(), many)};
    grid->reloadData();
    select({});
    EXPECT_EQ(labelText, QStringLiteral("1,234 documents"));
    EXPECT_TRUE(labelShown);
    select({Address(0, 0), Address(0, 5)});
    EXPECT_EQ(labelText, QStringLiteral("2 of 1234 selected"));
    select(QList<Address>{});
    ctx.state.globleSearchLastString = QStringLiteral("tax");
    part->collectionViewItemDidSelected();
    EXPECT_EQ(labelText, QStringLiteral("1,234 documents found"));
    ctx.state.globleSearchLastString.clear();

    listed.addSource({many.first()});
    part->collectionViewItemDidSelected();
    EXPECT_EQ(labelText, QStringLiteral("1 document"));
    listed.removeAllObjects();
    part->collectionViewItemDidSelected();
    EXPECT_FALSE(labelShown);

    // The author view counts the authors of its last section, shown even with no documents.
    settings().setItemViewType(KPItemViewTypeAuthor);
    source->dataSource() = {KPSectionData::create(QString(), QList<KPSectionItem>{authorNamed("Ann"), authorNamed("Bo")})};
    part->collectionViewItemDidSelected();
    EXPECT_EQ(labelText, QStringLiteral("2 authors"));
    EXPECT_TRUE(labelShown);
    source->dataSource() = {KPSectionData::create(QString(), QList<KPSectionItem>{authorNamed("Ann")})};
    part->collectionViewItemDidSelected();
    EXPECT_EQ(labelText, QStringLiteral("1 author"));
}

TEST_F(GridInteractionTest, APlainClickOnOneOfSeveralSelectedSelectsItAloneAtTheRelease)
{
    // After Select All, a click and a Ctrl+click: the status, the drawn selection and what the
    // commands act on must be the one item the user sees, not the whole library.
    fill({{"A", "B", "C", "D"}});
    const auto view = [&](qint64 i) { return dynamic_cast<KPSectionItemView*>(grid->itemViewWithIndexSet(Address(0, i))); };
    const auto click = [&](qint64 i, Qt::KeyboardModifiers mods = {}) {
        KPSectionItemView* v = view(i);
        ASSERT_NE(v, nullptr);
        const QPoint at = platform::kit::toQt(v->actualFrameRect(), v->height()).center().toPoint();
        QTest::mouseClick(v, Qt::LeftButton, mods, at);
    };
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(labelText, QStringLiteral("4 of 4 selected"));

    // Pressed, the selection stays whole, so that a drag carries all of it.
    KPSectionItemView* b = view(1);
    const QPoint at = platform::kit::toQt(b->actualFrameRect(), b->height()).center().toPoint();
    QTest::mousePress(b, Qt::LeftButton, {}, at);
    EXPECT_EQ(grid->selectedIndexs().size(), 4);
    QTest::mouseRelease(b, Qt::LeftButton, {}, at);
    EXPECT_EQ(grid->selectedIndexs(), QList<Address>{Address(0, 1)});
    EXPECT_EQ(labelText, QStringLiteral("1 of 4 selected"));
    EXPECT_TRUE(view(1)->selected());
    EXPECT_FALSE(view(0)->selected());
    EXPECT_FALSE(view(3)->selected());

    click(3, Qt::ControlModifier);
    EXPECT_EQ(grid->selectedIndexs(), (QList<Address>{Address(0, 1), Address(0, 3)}));
    EXPECT_EQ(labelText, QStringLiteral("2 of 4 selected"));
    ASSERT_EQ(pane.shown.size(), 2);
    EXPECT_EQ(pane.shown.at(0)->title(), QStringLiteral("B"));
    EXPECT_EQ(pane.shown.at(1)->title(), QStringLiteral("D"));
    EXPECT_EQ(source->itemDatasWithSectionIndexSets(grid->selectedIndexs()).size(), 2);

    // A Ctrl+click on a selected item only takes it out; nothing waits for its release.
    click(3, Qt::ControlModifier);
    EXPECT_EQ(grid->selectedIndexs(), QList<Address>{Address(0, 1)});
    EXPECT_EQ(labelText, QStringLiteral("1 of 4 selected"));
}
