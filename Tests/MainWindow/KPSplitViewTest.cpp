#include "MainWindow/KPSplitView.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Support/TestSupport.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(SplitGeometry, CollapseExpandAndTheirEdges)
{
    SplitGeometry g;
    g.minValue = 150;
    g.maxValue = 400;
    g.isExpand = true;
    // Collapsing remembers the kept pane's width; expanding goes back to it.
    EXPECT_EQ(g.collapse(220, 780, 1000), 0);
    EXPECT_FALSE(g.isExpand);
    EXPECT_EQ(g.lastValue, 220);
    EXPECT_EQ(g.expand(1000), 220);
    EXPECT_TRUE(g.isExpand);
    // Nothing remembered: the minimum, whichever pane is kept.
    g.lastValue = 0;
    EXPECT_EQ(g.expand(1000), 150);
    g.masterDividerIndex = 1;
    EXPECT_EQ(g.expand(1000), 850);
    EXPECT_EQ(g.expandWithValue(100, 1000), 850);
    EXPECT_EQ(g.expandWithValue(300, 1000), 700);
    EXPECT_EQ(g.collapse(700, 299, 1000), 1000);
    EXPECT_EQ(g.lastValue, 299);
    // Stacked panes keep and collapse the lower one, by its height.
    SplitGeometry stacked;
    stacked.sideBySide = false;
    stacked.isExpand = true;
    EXPECT_EQ(stacked.collapse(500, 120, 621), 621);
    EXPECT_EQ(stacked.expand(621), 501);
}

TEST(SplitGeometry, ConstraintsAndResizing)
{
    SplitGeometry g;
    g.minValue = 150.3;
    g.maxValue = 400;
    g.isExpand = true;
    EXPECT_EQ(g.constrainMinCoordinate(1000), double(150.3f));
    EXPECT_EQ(g.constrain(90, 1000), double(150.3f));
    EXPECT_EQ(g.constrain(900, 1000), 400);
    EXPECT_EQ(g.constrain(300, 1000), 300);
    // The kept pane keeps its width when the view grows; collapsed it gets none.
    EXPECT_EQ(g.resize(1200, 1, 250), (std::pair<double, double>{250, 949}));
    g.isExpand = false;
    EXPECT_EQ(g.resize(1200, 0, 250), (std::pair<double, double>{0, 1200}));
    // Master 1: the trailing pane is fixed at the minimum from the edge, wherever it is dragged.
    g.isExpand = true;
    g.masterDividerIndex = 1;
    g.minValue = 280;
    for (double proposed : {0.0, 500.0, 719.0, 721.0, 2000.0})
        EXPECT_EQ(g.constrain(proposed, 1000), 720);
    EXPECT_EQ(g.resize(1300, 1, 280), (std::pair<double, double>{1019, 280}));
    // A kept width larger than the view is held inside it.
    EXPECT_EQ(g.resize(200, 1, 280), (std::pair<double, double>{0, 199}));
}

class SplitViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view.addWidget(new QWidget);
        view.addWidget(new QWidget);
        view.resize(1000, 600);
        view.show();
        token = platform::NotificationCenter::defaultCenter().addObserver(
            KPSplitView::kToggledNotification, [this](const platform::Notification& note) {
                if (note.object.value<QObject*>() == &view)
                    ++posts;
            });
    }
    int width(int pane) const { return view.widget(pane)->width(); }

    KPSplitView view;
    platform::ObserverToken token;
    int posts = 0;
};

TEST_F(SplitViewTest, WithoutACollapsiblePaneNothingCollapsesOrPosts)
{
    view.setMinValue(200);
    view.setMaxValue(400);
    view.expandWithValue(250);
    view.collapse();
    EXPECT_EQ(width(0), 250);
    EXPECT_TRUE(view.isExpand());
    view.resize(1200, 600);
    view.toggleCollapse();
    EXPECT_EQ(width(0), 250);
    EXPECT_EQ(posts, 0);
}

TEST_F(SplitViewTest, CollapsingHidesTheDividerAndExpandingRestoresTheWidth)
{
    view.setCanCollapseIndex(0);
    view.setMinValue(200);
    view.setMaxValue(400);
    view.expandWithValue(260);
    EXPECT_EQ(view.handleWidth(), 1);
    EXPECT_EQ(width(0), 260);
    EXPECT_EQ(view.leftViewWidth(), 260);
    const int before = posts;
    view.collapse();
    EXPECT_EQ(view.handleWidth(), 0);
    EXPECT_EQ(width(0), 0);
    EXPECT_FALSE(view.isExpand());
    EXPECT_GT(posts, before);
    // Resizing a collapsed view keeps the pane collapsed, and says so.
    view.resize(900, 600);
    EXPECT_EQ(width(0), 0);
    view.expand();
    EXPECT_EQ(width(0), 260);
    EXPECT_EQ(view.handleWidth(), 1);
    EXPECT_TRUE(view.isExpand());
    // The kept pane keeps its width when the window grows.
    view.resize(1400, 600);
    EXPECT_EQ(width(0), 260);
    EXPECT_EQ(width(1), 1400 - 260 - 1);
}

// Where the other pane needs room, the kept pane gives way down to its minimum, and takes its
// width back when the room returns; a drag stops where the other pane's room begins.
TEST_F(SplitViewTest, TheKeptPaneGivesWayToTheOtherPanesMinimumAndTakesItsWidthBack)
{
    view.setCanCollapseIndex(0);
    view.setMinValue(120);
    view.setMaxValue(400);
    view.expandWithValue(300);
    EXPECT_EQ(width(0), 300);
    view.setOtherMinimum(800);
    EXPECT_EQ(width(0), 1000 - 1 - 800);
    view.resize(800, 600);
    EXPECT_EQ(width(0), 120) << "never below its minimum";
    view.resize(1400, 600);
    EXPECT_EQ(width(0), 300);
    EXPECT_EQ(view.keptExtent(), 300);
    // Collapsed while giving way, it comes back at the width it was given.
    view.resize(1000, 600);
    view.collapse();
    view.resize(1400, 600);
    view.expand();
    EXPECT_EQ(width(0), 300);
    view.resize(1100, 600);
    view.dragDividerTo(390);
    EXPECT_EQ(width(0), 1100 - 1 - 800);
    view.resize(1400, 600);
    EXPECT_EQ(width(0), 1100 - 1 - 800) << "a drag keeps what it got";
    // The other pane asks for nothing: the kept pane keeps its width as before.
    view.setOtherMinimum(0);
    view.resize(500, 600);
    EXPECT_EQ(width(0), 299);
}

TEST(SplitGeometry, TheKeptPaneGivesWayDownToItsMinimum)
{
    SplitGeometry g;
    g.minValue = 120;
    g.isExpand = true;
    g.otherMinimum = 433;
    EXPECT_EQ(g.keptWithin(200, 999), 200);
    EXPECT_EQ(g.keptWithin(200, 600), 167);
    EXPECT_EQ(g.keptWithin(200, 500), 120);
    EXPECT_EQ(g.keptWithin(200, 100), 100) << "never wider than the view";
    EXPECT_EQ(g.resize(600, 1, 200), (std::pair<double, double>{166, 433}));
    g.masterDividerIndex = 1;
    EXPECT_EQ(g.resize(600, 1, 200), (std::pair<double, double>{433, 166}));
}

TEST_F(SplitViewTest, AFixedTrailingPaneIgnoresDrags)
{
    view.setMasterDividerIndex(1);
    view.setMinValue(280);
    view.expandWithValue(280);
    EXPECT_EQ(width(1), 280);
    QSplitterHandle* handle = view.handle(1);
    const QPoint middle = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, middle);
    QTest::mouseMove(handle, middle - QPoint(200, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, middle - QPoint(200, 0));
    EXPECT_EQ(width(1), 280);
    view.resize(1300, 600);
    EXPECT_EQ(width(1), 280);
}

} // namespace
