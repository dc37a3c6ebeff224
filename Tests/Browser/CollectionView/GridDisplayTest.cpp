#include "GridTestSupport.h"

#include <QTest>

using namespace gridtest;

namespace {

// Rows 110 apart and 1,000 high, one column in a narrow grid: a list taller than any widget.
class TallRowsLayout : public KPSectionContentLayoutManager {
public:
    QSizeF itemViewSize() const override { return {100, 1000}; }
};

} // namespace

class GridDisplay : public GridTest {};

TEST_F(GridDisplay, ContentOfNoHeightShowsNothingAndShortContentFillsTheViewport)
{
    FakeGrid& f = make({2}, true);
    // Short content: as tall as the viewport, section 0 at its top, the first row under the header.
    EXPECT_EQ(grid.frameUp().height(), 400);
    KPCollectionSectionView* section = grid.sectionViewWithIndex(0);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(inViewport(section).top(), 0);
    ASSERT_NE(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 0)), nullptr);
    EXPECT_EQ(inViewport(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 0))).top(), 26 + 10 - 5);

    f.sections.clear();
    f.extraHeight = -400;   // the delegate now answers a content height of 0
    grid.reloadData();
    EXPECT_TRUE(grid.frameUp().isEmpty());
    EXPECT_TRUE(grid.visibleSectionViews().isEmpty());
    EXPECT_FALSE(grid.itemIndexSetWithPoint(QPointF(50, 50)));
}

TEST_F(GridDisplay, PartnersThatAnswerNothingShowNothing)
{
    struct Silent : KPCollectionViewDataSource, KPCollectionViewDelegate {
        qint64 collectionViewItemCount(KPCollectionView*, qint64) override { return 0; }
        std::optional<KPSectionItem> collectionViewSectionItemObject(KPCollectionView*, const KPSectionIndexSet&) override
        {
            return std::nullopt;
        }
        QRectF collectionViewSectionRect(KPCollectionView*, qint64) override { return {}; }
        std::optional<KPCollectionItemView*> collectionViewWillDisplayItemView(KPCollectionView*, KPCollectionItemView*,
                                                                               const KPSectionIndexSet&) override
        {
            return std::nullopt;
        }
    } silent;
    grid.show();
    grid.setDataSource(&silent);
    grid.setDelegate(&silent);
    grid.reloadData();
    grid.selectAll();
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseClick(grid.viewport(), Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_TRUE(grid.frameUp().isEmpty());
    EXPECT_TRUE(grid.selectedIndexs().isEmpty());
    EXPECT_TRUE(grid.visibleItemViews().isEmpty());
}

TEST_F(GridDisplay, ADelegateWithoutItemViewsShowsNoSectionEither)
{
    FakeGrid& f = make({4, 4}, true);
    ASSERT_FALSE(grid.visibleItemViews().isEmpty());
    f.answersItemViews = false;
    grid.setDelegate(&f);   // a new delegate is asked afresh
    grid.reloadData();
    EXPECT_TRUE(grid.visibleSectionViews().isEmpty());
    EXPECT_TRUE(grid.visibleItemViews().isEmpty());
    grid.verticalScrollBar()->setValue(50);
    EXPECT_TRUE(grid.visibleSectionViews().isEmpty());
}

TEST_F(GridDisplay, MissingViewsAndVanishedSectionsLeaveOnlyTheirOwnPlaceEmpty)
{
    FakeGrid& f = make({3, 3, 3}, true);
    f.noViewForSections = {1};
    f.noViewForItems = {KPSectionIndexSet(0, 1)};
    const int constructedBefore = CountingItemView::constructed;
    grid.reloadData();
    EXPECT_NE(grid.sectionViewWithIndex(0), nullptr);
    EXPECT_EQ(grid.sectionViewWithIndex(1), nullptr);
    EXPECT_NE(grid.sectionViewWithIndex(2), nullptr);
    EXPECT_EQ(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 1)), nullptr);
    EXPECT_NE(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 2)), nullptr);
    // The view taken for the empty place went back to the pool and served the next item.
    EXPECT_EQ(CountingItemView::constructed - constructedBefore, int(grid.visibleItemViews().size()));

    // A selection of addresses that no longer exist survives a relayout without views.
    grid.selectItemIndexWithSectionIndexSets({KPSectionIndexSet(2, 2), KPSectionIndexSet(0, 0)});
    f.sections.resize(1);
    grid.updateLayout();
    EXPECT_EQ(grid.sectionViewWithIndex(2), nullptr);
    EXPECT_EQ(grid.itemViewWithIndexSet(KPSectionIndexSet(2, 2)), nullptr);
    EXPECT_EQ(grid.visibleSectionViews().size(), 1);
}

TEST_F(GridDisplay, CollapsingASectionDropsItsItemViewsAndTheirSelection)
{
    FakeGrid& f = make({3, 3, 3}, true);
    grid.selectItemIndexWithSectionIndexSets({KPSectionIndexSet(1, 1), KPSectionIndexSet(2, 0)});
    f.sections[1]->setIsExpand(false);
    grid.updateLayout();
    for (KPCollectionItemView* item : grid.visibleItemViews())
        EXPECT_NE(item->gridAddress()->sectionIndex(), 1);
    EXPECT_NE(grid.sectionViewWithIndex(1), nullptr);
    EXPECT_NE(grid.sectionViewWithIndex(1)->headerView(), nullptr);
    EXPECT_EQ(grid.selectedIndexs(), QList<KPSectionIndexSet>{KPSectionIndexSet(2, 0)});
    EXPECT_TRUE(grid.itemViewWithIndexSet(KPSectionIndexSet(2, 0))->selected());
    EXPECT_EQ(*grid.sectionRect(1), QRectF(0, grid.sectionRect(2)->top() + grid.sectionRect(2)->height(), 600, 26));
}

TEST_F(GridDisplay, PoolsKeepFiftyOneViewsOldestFirstAndDiscardTheRest)
{
    QWidget holder;
    KPReusePool pool(&holder);
    QList<QPointer<CountingItemView>> views;
    for (int i = 0; i < 52; ++i)
        views.append(pool.dequeue<CountingItemView>());
    for (const auto& view : views)
        pool.recycle(view);
    EXPECT_EQ(pool.count(typeid(CountingItemView)), 51);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(views.last().isNull());
    EXPECT_EQ(pool.dequeue<CountingItemView>(), views.first().data());
    // A class that never had a pool keeps nothing.
    QPointer<KPSectionView> stray = new KPSectionView(&holder);
    pool.recycle(stray);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(stray.isNull());
}

TEST_F(GridDisplay, PointsHitItemsNotTheGapsBetweenThem)
{
    make({10});
    const QRectF first = grid.itemRectWithSectionIndexSet(KPSectionIndexSet(0, 0));
    const QRectF second = grid.itemRectWithSectionIndexSet(KPSectionIndexSet(0, 1));
    ASSERT_GT(second.x(), first.right());
    EXPECT_EQ(grid.itemIndexSetWithPoint(first.center()), KPSectionIndexSet(0, 0));
    EXPECT_EQ(grid.itemIndexSetWithPoint(first.topLeft()), KPSectionIndexSet(0, 0));
    EXPECT_FALSE(grid.itemIndexSetWithPoint(QPointF(first.right(), first.center().y())));
    EXPECT_FALSE(grid.itemIndexSetWithPoint(QPointF((first.right() + second.x()) / 2, first.center().y())));
    EXPECT_TRUE(grid.itemIndexsWithRect(QRectF(first.right() + 1, first.y(), second.x() - first.right() - 2, 10)).isEmpty());
}

TEST_F(GridDisplay, ScrollingAnItemIntoViewMovesTheLeastDistance)
{
    make({200});   // 5 columns, 40 rows of 110
    grid.scrollItemWithSectionIndexSet(KPSectionIndexSet(0, 7));
    EXPECT_EQ(scrollTop(), 0);
    const QRectF low = grid.itemRectWithSectionIndexSet(KPSectionIndexSet(0, 102));
    grid.scrollItemWithSectionIndexSet(KPSectionIndexSet(0, 102));
    EXPECT_EQ(grid.visibleRect().y(), low.y());
    EXPECT_NE(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 102)), nullptr);
    EXPECT_EQ(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 7)), nullptr);
    const QRectF high = grid.itemRectWithSectionIndexSet(KPSectionIndexSet(0, 50));
    grid.scrollItemWithSectionIndexSet(KPSectionIndexSet(0, 50));
    EXPECT_EQ(grid.visibleRect().top() + grid.visibleRect().height(), high.y() + high.height());
}

TEST_F(GridDisplay, ReloadEmptiesTheSelectionAndReportsOnce)
{
    FakeGrid& f = make({20});
    grid.selectItemIndexWithSectionIndexSets({KPSectionIndexSet(0, 1), KPSectionIndexSet(0, 2)});
    f.selectionReports = 0;
    grid.reloadData();
    EXPECT_EQ(f.selectionReports, 1);
    EXPECT_TRUE(grid.selectedIndexs().isEmpty());
    EXPECT_FALSE(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 1))->selected());
}

TEST_F(GridDisplay, HeadersPinToTheTopUntilTheirSectionPushesThemOut)
{
    make({30, 30}, true);   // section 0: 6 rows, 26 + 15 + 6 × 100 + 5 × 10 = 691 high
    grid.verticalScrollBar()->setValue(300);
    QWidget* header = grid.sectionViewWithIndex(0)->headerView();
    EXPECT_EQ(inViewport(header).top(), 0);
    EXPECT_EQ(inViewport(grid.sectionViewWithIndex(1)->headerView()).top(), 691 - 300);
    // 10 points of section 0 left on screen: its header rides up with the section's bottom.
    grid.verticalScrollBar()->setValue(681);
    EXPECT_EQ(inViewport(header).bottom() + 1, 10);
}

TEST_F(GridDisplay, TheEndOfAListTallerThanAnyWidgetIsPlacedExactly)
{
    TallRowsLayout tall;
    make({17000}, false, 200, 400, &tall);   // 17,000 rows of 1,010: over 16,777,215 pixels
    ASSERT_GT(grid.frameUp().height(), 16777215);
    grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->maximum());
    KPCollectionItemView* last = grid.itemViewWithIndexSet(KPSectionIndexSet(0, 16999));
    ASSERT_NE(last, nullptr);
    // The layouts end the last row twice the bottom margin above the section's bottom.
    EXPECT_EQ(inViewport(last).bottom() + 1, 400 - 2 * 5);
    EXPECT_EQ(inViewport(last).height(), 1000);
    EXPECT_LE(grid.sectionViewWithIndex(0)->height(), 400);
    EXPECT_EQ(grid.visibleItemViews().size(), 1);
}

TEST_F(GridDisplay, ScrollingWithWarmPoolsMakesNoViews)
{
    make({2000}, false, 600, 400);
    const int visibleAtOnce = grid.visibleItemViews().size();
    const auto sweep = [&] {
        const int step = grid.viewport()->height() / 4;
        for (int top = 0; top <= grid.verticalScrollBar()->maximum(); top += step) {
            grid.verticalScrollBar()->setValue(top);
            EXPECT_EQ(grid.visibleItemViews().size(), grid.visibleItemIndexSets().size());
        }
        grid.verticalScrollBar()->setValue(0);
    };
    sweep();
    const int afterFirstSweep = CountingItemView::constructed;
    EXPECT_LT(afterFirstSweep, 2 * visibleAtOnce);
    sweep();
    EXPECT_EQ(CountingItemView::constructed, afterFirstSweep);
}
