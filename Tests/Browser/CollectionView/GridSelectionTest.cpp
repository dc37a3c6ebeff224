#include "GridTestSupport.h"

#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Scheduler.h"

#include <QTest>

using namespace gridtest;
using Click = KPCollectionSelection::Click;

namespace {

KPSectionIndexSet at(qint64 s, qint64 i)
{
    return KPSectionIndexSet(s, i);
}

KPCollectionSelection selectionOf(const QList<KPSectionIndexSet>& addresses)
{
    KPCollectionSelection selection;
    selection.assign(addresses);
    return selection;
}

// Sections of 5, 4 and 3 items; whether section 1 is collapsed does not enter the rules.
qint64 counts(qint64 s)
{
    return s == 0 ? 5 : s == 1 ? 4 : s == 2 ? 3 : 0;
}

} // namespace

TEST(GridSelectionRules, ShiftRangesRunInReadingOrderAcrossSectionsBothWays)
{
    KPCollectionSelection forward = selectionOf({at(0, 3)});
    EXPECT_TRUE(forward.applyClick(at(2, 1), Click::Range, counts));
    EXPECT_EQ(forward.list(), (QList<KPSectionIndexSet>{at(0, 3), at(0, 4), at(1, 0), at(1, 1), at(1, 2), at(1, 3),
                                                        at(2, 0), at(2, 1)}));
    EXPECT_EQ(forward.anchor(), at(2, 1));

    KPCollectionSelection backward = selectionOf({at(2, 1)});
    EXPECT_TRUE(backward.applyClick(at(0, 3), Click::Range, counts));
    EXPECT_EQ(backward.list(), (QList<KPSectionIndexSet>{at(2, 1), at(2, 0), at(1, 0), at(1, 1), at(1, 2), at(1, 3),
                                                         at(0, 4), at(0, 3)}));

    // Backwards in one section: 2 up to the anchor, the anchor itself already selected.
    KPCollectionSelection within = selectionOf({at(0, 5)});
    EXPECT_TRUE(within.applyClick(at(0, 2), Click::Range, counts));
    EXPECT_EQ(within.list(), (QList<KPSectionIndexSet>{at(0, 5), at(0, 2), at(0, 3), at(0, 4)}));
    EXPECT_EQ(within.anchor(), at(0, 4));
}

TEST(GridSelectionRules, ClicksThatChangeNothingSayNothing)
{
    KPCollectionSelection s = selectionOf({at(0, 1), at(0, 2), at(1, 0)});
    EXPECT_FALSE(s.applyClick(at(1, 0), Click::Range, counts));        // on the anchor
    EXPECT_FALSE(s.applyClick(std::nullopt, Click::Range, counts));     // on no item
    EXPECT_FALSE(s.applyClick(at(0, 2), Click::Plain, counts));         // a selected one keeps them all
    EXPECT_FALSE(s.applyClick(std::nullopt, Click::Toggle, counts));
    EXPECT_EQ(s.size(), 3);

    EXPECT_TRUE(s.applyClick(at(0, 2), Click::Toggle, counts));
    EXPECT_FALSE(s.contains(at(0, 2)));
    EXPECT_TRUE(s.applyClick(at(0, 2), Click::Toggle, counts));
    EXPECT_EQ(s.anchor(), at(0, 2));

    EXPECT_TRUE(s.applyClick(std::nullopt, Click::Plain, counts));
    EXPECT_TRUE(s.isEmpty());
    EXPECT_TRUE(s.applyClick(at(2, 2), Click::Range, counts));         // Shift with nothing selected
    EXPECT_EQ(s.list(), QList<KPSectionIndexSet>{at(2, 2)});
}

class GridSelection : public GridTest {
protected:
    KPCollectionItemView* item(qint64 s, qint64 i) { return grid.itemViewWithIndexSet(at(s, i)); }
    void click(qint64 s, qint64 i, Qt::KeyboardModifiers mods = {})
    {
        QTest::mouseClick(item(s, i), Qt::LeftButton, mods, QPoint(50, 50));
    }
};

TEST_F(GridSelection, ClicksOnItemsFollowTheModifiers)
{
    FakeGrid& f = make({5, 4, 3}, true);
    grid.selectItemIndexWithSectionIndexSets({at(0, 1), at(0, 2), at(1, 0)});
    f.selectionReports = 0;

    click(0, 2);
    EXPECT_EQ(grid.selectedIndexs().size(), 3);
    EXPECT_EQ(f.selectionReports, 0);

    click(0, 2, Qt::ControlModifier);
    EXPECT_FALSE(grid.selectedIndexs().contains(at(0, 2)));
    EXPECT_FALSE(item(0, 2)->selected());
    EXPECT_EQ(f.selectionReports, 1);

    click(1, 0, Qt::ShiftModifier);    // the anchor
    EXPECT_EQ(f.selectionReports, 1);
    click(2, 1, Qt::ShiftModifier);
    EXPECT_EQ(grid.selectedIndexs().mid(2), (QList<KPSectionIndexSet>{at(1, 1), at(1, 2), at(1, 3), at(2, 0), at(2, 1)}));
    EXPECT_TRUE(item(2, 1)->selected());

    click(0, 4);
    EXPECT_EQ(grid.selectedIndexs(), QList<KPSectionIndexSet>{at(0, 4)});
    EXPECT_FALSE(item(2, 1)->selected());
}

TEST_F(GridSelection, RightClicksSelectAndReportBeforeTheMenuOrClearWithoutOne)
{
    FakeGrid& f = make({5, 4}, true);
    grid.selectItemIndexWithSectionIndexSets({at(0, 0), at(0, 1), at(0, 2)});
    f.selectionReports = 0;

    // Meta-click is the right click; on an unselected item it becomes the selection first.
    QTest::mouseClick(item(0, 4), Qt::LeftButton, Qt::MetaModifier, QPoint(50, 50));
    EXPECT_EQ(grid.selectedIndexs(), QList<KPSectionIndexSet>{at(0, 4)});
    EXPECT_EQ(f.reportsBeforeMenu, 1);
    EXPECT_EQ(f.selectionAtMenu, QList<KPSectionIndexSet>{at(0, 4)});
    ASSERT_TRUE(f.lastMenu);
    EXPECT_TRUE(f.lastMenu->isVisible());
    EXPECT_EQ(f.lastMenu->font(), platform::kit::FontResolver::systemFont(11));
    f.lastMenu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(f.lastMenu);

    // Within a multiple selection the selection stays and is not reported again.
    grid.selectItemIndexWithSectionIndexSets({at(0, 0), at(1, 1)});
    f.selectionReports = 0;
    QTest::mouseClick(item(1, 1), Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_EQ(grid.selectedIndexs().size(), 2);
    EXPECT_EQ(f.selectionReports, 0);
    EXPECT_EQ(f.menuRequests, 2);
    f.lastMenu->close();

    // The background: cleared, told, no menu.
    QTest::mouseClick(grid.viewport(), Qt::RightButton, {}, QPoint(3, 390));
    EXPECT_TRUE(grid.selectedIndexs().isEmpty());
    EXPECT_EQ(f.selectionReports, 1);
    EXPECT_EQ(f.menuRequests, 2);
}

TEST_F(GridSelection, EscapeClearsAndIsPassedOnWhileCtrlAStops)
{
    FakeGrid& f = make({5, 4}, true);
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(grid.selectedIndexs().size(), 9);
    EXPECT_EQ(f.selectionReports, 2);   // the reload, then Ctrl+A
    EXPECT_EQ(f.keyDowns, 0);
    EXPECT_TRUE(item(1, 3)->selected());

    QTest::keyClick(&grid, Qt::Key_Escape);
    EXPECT_TRUE(grid.selectedIndexs().isEmpty());
    EXPECT_EQ(f.selectionReports, 3);
    EXPECT_EQ(f.keyDowns, 1);
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(f.keyDowns, 2);
}

TEST_F(GridSelection, ADisabledGridIgnoresClicksKeysAndTheWheel)
{
    FakeGrid& f = make({200});
    grid.setEnabled(false);
    f.selectionReports = 0;
    QTest::mouseClick(grid.viewport(), Qt::RightButton, {}, QPoint(3, 390));
    QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);
    QWheelEvent wheel(QPointF(100, 100), grid.viewport()->mapToGlobal(QPointF(100, 100)), {}, QPoint(0, -240),
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid.viewport(), &wheel);
    EXPECT_EQ(scrollTop(), 0);
    EXPECT_FALSE(grid.verticalScrollBar()->isEnabled());
    EXPECT_TRUE(grid.selectedIndexs().isEmpty());
    EXPECT_EQ(f.keyDowns + f.selectionReports + f.menuRequests, 0);
    grid.setEnabled(true);
    QApplication::sendEvent(grid.viewport(), &wheel);
    EXPECT_GT(scrollTop(), 0);
}

TEST_F(GridSelection, TheRubberBandReplacesTheSelectionAndScrollsPastTheEdge)
{
    platform::kit::VirtualScheduler clock;
    FakeGrid& f = make({200});   // 5 columns from x 23, rows 110 apart
    grid.selectItemIndexWithSectionIndexSet(at(0, 150));
    grid.scrollToTop();
    QWidget* port = grid.viewport();

    sendMouse(port, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(grid.selectedIndexs().isEmpty());
    sendMouse(port, QEvent::MouseMove, QPoint(300, 150), Qt::NoButton, Qt::LeftButton);
    ASSERT_NE(grid.rubberBandView(), nullptr);
    QSet<KPSectionIndexSet> taken(grid.selectedIndexs().begin(), grid.selectedIndexs().end());
    EXPECT_EQ(taken, (QSet<KPSectionIndexSet>{at(0, 0), at(0, 1), at(0, 2), at(0, 5), at(0, 6), at(0, 7)}));
    EXPECT_TRUE(item(0, 6)->selected());
    EXPECT_FALSE(item(0, 3)->selected());

    // Held below the viewport, the content scrolls on the scheduler's ticks and the band grows.
    const int reports = f.selectionReports;
    sendMouse(port, QEvent::MouseMove, QPoint(300, 420), Qt::NoButton, Qt::LeftButton);
    clock.advance(10 * KPCollectionView::kAutoscrollIntervalMs);
    EXPECT_EQ(scrollTop(), 10 * 20);
    EXPECT_TRUE(grid.selectedIndexs().contains(at(0, 27)));
    EXPECT_GT(f.selectionReports, reports);
    const int top = scrollTop();
    sendMouse(port, QEvent::MouseMove, QPoint(300, 200), Qt::NoButton, Qt::LeftButton);
    clock.advance(10 * KPCollectionView::kAutoscrollIntervalMs);
    EXPECT_EQ(scrollTop(), top);

    sendMouse(port, QEvent::MouseButtonRelease, QPoint(300, 200), Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(grid.isRegionSelecting());
    EXPECT_EQ(grid.rubberBandView(), nullptr);
    EXPECT_FALSE(grid.selectedIndexs().isEmpty());
}

TEST_F(GridSelection, HoverEntersAndLeavesOnlyItemsThatAskForIt)
{
    make({200});
    auto* first = static_cast<CountingItemView*>(item(0, 0));
    auto* second = static_cast<CountingItemView*>(item(0, 1));
    const QPoint inFirst = inViewport(first).center();
    sendMouse(grid.viewport(), QEvent::MouseMove, inFirst, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(first->hovered);
    sendMouse(grid.viewport(), QEvent::MouseMove, inViewport(second).center(), Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(first->hovered);
    EXPECT_TRUE(second->hovered);
    sendMouse(grid.viewport(), QEvent::MouseMove, QPoint(3, 3), Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(second->hovered);

    // A hovered view scrolled away goes to the pool unlit.
    sendMouse(grid.viewport(), QEvent::MouseMove, inFirst, Qt::NoButton, Qt::NoButton);
    ASSERT_TRUE(first->hovered);
    grid.verticalScrollBar()->setValue(1500);
    EXPECT_NE(first->gridAddress(), std::optional<KPSectionIndexSet>(at(0, 0)));   // reused elsewhere
    EXPECT_FALSE(first->hovered);
}
