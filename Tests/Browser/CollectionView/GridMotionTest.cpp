#include "GridTestSupport.h"

#include "Browser/CollectionView/KPSwipeTracker.h"
#include "Platform/Kit/Scheduler.h"

#include <QGraphicsOpacityEffect>
#include <QMimeData>
#include <QTest>
#include <QUrl>

using namespace gridtest;

namespace {

KPSectionIndexSet at(qint64 s, qint64 i)
{
    return KPSectionIndexSet(s, i);
}

std::optional<int> swipe(const QHash<int, float>& from, const QHash<int, float>& to)
{
    KPSwipeTracker tracker;
    tracker.begin(from);
    return tracker.end(to);
}

} // namespace

class GridMotion : public GridTest {};

TEST_F(GridMotion, SwipesNeedTwoFingersMovingThreeTenthsTogether)
{
    EXPECT_FALSE(swipe({{1, 0.1f}, {2, 0.2f}}, {{1, 0.245f}, {2, 0.345f}}));   // 0.29
    EXPECT_EQ(swipe({{1, 0.0f}, {2, 0.0f}}, {{1, 0.15f}, {2, 0.15f}}), KPCollectionViewDelegate::kSwipeRight);
    EXPECT_EQ(swipe({{1, 0.5f}, {2, 0.5f}}, {{1, 0.3f}, {2, 0.35f}}), KPCollectionViewDelegate::kSwipeLeft);
    EXPECT_FALSE(swipe({{1, 0.0f}}, {{1, 0.9f}}));
    EXPECT_FALSE(swipe({{1, 0.0f}, {2, 0.0f}}, {{1, 0.9f}, {3, 0.9f}}));   // one touch is new

    FakeGrid& f = make({3});
    QTest::mouseClick(grid.viewport(), Qt::BackButton, {}, QPoint(3, 390));
    QTest::mouseClick(grid.viewport(), Qt::ForwardButton, {}, QPoint(3, 390));
    EXPECT_EQ(f.swipes, (QList<int>{KPCollectionViewDelegate::kSwipeRight, KPCollectionViewDelegate::kSwipeLeft}));
}

TEST_F(GridMotion, ARelayoutKeepsTheDistanceFromTheTopWhateverTheHeight)
{
    FakeGrid& f = make({200});
    grid.verticalScrollBar()->setValue(1000);
    const QList<KPSectionIndexSet> shown = grid.visibleItemIndexSets();
    const double y = grid.visibleRect().y();

    f.extraHeight = 500;
    grid.updateLayout();
    EXPECT_EQ(scrollTop(), 1000);
    EXPECT_EQ(grid.visibleRect().y(), y + 500);
    EXPECT_EQ(grid.visibleItemIndexSets(), shown);

    f.extraHeight = -300;   // and shorter
    grid.updateLayout();
    EXPECT_EQ(scrollTop(), 1000);
    EXPECT_EQ(grid.visibleItemIndexSets(), shown);
    EXPECT_NE(grid.itemViewWithIndexSet(shown.first()), nullptr);
}

TEST_F(GridMotion, RemovalFadesTheVisibleItemsThenReloadsAndAlwaysCompletes)
{
    platform::kit::VirtualScheduler clock;
    FakeGrid& f = make({200});
    grid.verticalScrollBar()->setValue(500);

    // None of them on screen: completed at once, the position kept.
    bool completed = false;
    grid.removeItemWithIndexSets({at(0, 190), at(0, 199)}, [&] {
        completed = true;
        f.sections[0]->datas().remove(190, 10);
    });
    EXPECT_TRUE(completed);
    EXPECT_EQ(scrollTop(), 500);
    EXPECT_EQ(grid.itemCountWithSectionIndex(0), 190);

    const KPSectionIndexSet first = grid.visibleItemIndexSets().first();
    QPointer<KPCollectionItemView> fading = grid.itemViewWithIndexSet(first);
    completed = false;
    const int reports = f.selectionReports;
    grid.removeItemWithIndexSets({first, at(0, 180)}, [&] {
        completed = true;
        f.sections[0]->datas().removeAt(first.itemIndex());
    });
    EXPECT_FALSE(completed);
    clock.advance(KPCollectionView::kAnimationMs / 2);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(fading->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_GT(effect->opacity(), 0.2);
    EXPECT_LT(effect->opacity(), 0.8);
    clock.advance(KPCollectionView::kAnimationMs);
    EXPECT_TRUE(completed);
    EXPECT_EQ(f.selectionReports, reports + 1);
    EXPECT_EQ(scrollTop(), 500);
    EXPECT_EQ(grid.itemCountWithSectionIndex(0), 189);
    for (KPCollectionItemView* item : grid.visibleItemViews())
        EXPECT_EQ(item->graphicsEffect(), nullptr);
}

TEST_F(GridMotion, ReorderingMovesTheViewsToTheirNewPlaces)
{
    platform::kit::VirtualScheduler clock;
    FakeGrid& f = make({6});
    QList<QPointer<KPCollectionItemView>> before;
    for (int i = 0; i < 6; ++i)
        before.append(grid.itemViewWithIndexSet(at(0, i)));
    const QRectF firstPlace = before[0]->frameUp();
    const QRectF lastPlace = before[5]->frameUp();

    bool completed = false;
    grid.refreshSectionItemPositionWithIndexSets(
        {at(0, 0), at(0, 3)}, [&](qint64 s) { std::reverse(f.sections[s]->datas().begin(), f.sections[s]->datas().end()); },
        [&] { completed = true; });
    EXPECT_EQ(grid.itemViewWithIndexSet(at(0, 5)), before[0]);
    clock.advance(KPCollectionView::kAnimationMs / 2);
    EXPECT_FALSE(completed);
    EXPECT_NE(before[0]->frameUp(), firstPlace);
    EXPECT_NE(before[0]->frameUp(), lastPlace);
    clock.advance(KPCollectionView::kAnimationMs);
    EXPECT_TRUE(completed);
    EXPECT_EQ(before[0]->frameUp(), lastPlace);
    EXPECT_EQ(before[5]->frameUp(), firstPlace);
    const QRectF r = grid.itemRectWithSectionIndexSet(at(0, 5));
    EXPECT_EQ(QPointF(inViewport(before[0]).topLeft()), grid.viewportPointFromContent(QPointF(r.x(), r.y() + r.height())));
    EXPECT_EQ(grid.visibleItemViews().size(), 6);
}

TEST_F(GridMotion, FileDropsReachTheDelegateAndOtherDropsDoNot)
{
    FakeGrid& f = make({3});
    QWidget* port = grid.viewport();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.pdf"))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(port, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDragMoveEvent move(QPoint(60, 60), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(port, &move);
    EXPECT_TRUE(move.isAccepted());
    QDropEvent drop(QPointF(60, 60), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(port, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(f.drags, (QStringList{QStringLiteral("enter"), QStringLiteral("perform"), QStringLiteral("conclude")}));

    f.drags.clear();
    QMimeData text;
    text.setText(QStringLiteral("not a file"));
    QDragEnterEvent textEnter(QPoint(50, 50), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(port, &textEnter);
    EXPECT_FALSE(textEnter.isAccepted());
    QDropEvent textDrop(QPointF(60, 60), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(port, &textDrop);
    EXPECT_TRUE(f.drags.isEmpty());

    // The grid switched off by the window during a drag still hears it leave.
    grid.setEnabled(false);
    QApplication::sendEvent(port, &enter);
    QDragLeaveEvent leave;
    QApplication::sendEvent(port, &leave);
    EXPECT_EQ(f.drags, (QStringList{QStringLiteral("enter"), QStringLiteral("exit")}));
}
