#include "GridTestSupport.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"

#include <QTest>

using namespace gridtest;

namespace {

QImage render(QWidget* widget, qreal ratio = 1.0)
{
    QImage image(widget->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget->render(&image);
    return image;
}

QColor sectionColor(const char* name)
{
    auto* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("SectionView"));
    auto* color = group ? group->themeObjectWithName<KPColor>(QLatin1String(name)) : nullptr;
    return color && color->color() ? *color->color() : QColor();
}

} // namespace

class SectionHeader : public GridTest {
protected:
    QWidget* header(qint64 s) { return grid.sectionViewWithIndex(s)->headerView(); }
    // y-up in the header, as the header's own drawing and hit test measure it.
    void clickHeader(qint64 s, QPointF up) { QTest::mouseClick(header(s), Qt::LeftButton, {}, QPoint(int(up.x()), 26 - int(up.y()))); }
};

TEST_F(SectionHeader, TheTriangleTogglesTheSectionAndElsewhereTheHeaderAnnouncesItself)
{
    FakeGrid& f = make({7, 3}, true);
    KPSectionDataPtr posted;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        KPSectionView::kSectionHeaderViewDoubleClickNotification,
        [&](const platform::Notification& n) { posted = n.object.value<KPSectionDataPtr>(); });
    const int reports = f.selectionReports;

    clickHeader(0, QPointF(10, 10));
    EXPECT_FALSE(f.sections[0]->isExpand());
    EXPECT_EQ(grid.sectionRect(0)->height(), 26);
    EXPECT_EQ(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 0)), nullptr);
    EXPECT_EQ(f.selectionReports, reports + 1);   // the relayout reports
    EXPECT_FALSE(posted);

    clickHeader(0, QPointF(10, 10));
    EXPECT_TRUE(f.sections[0]->isExpand());
    EXPECT_NE(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 0)), nullptr);

    clickHeader(1, QPointF(100, 10));
    EXPECT_EQ(posted, f.sections[1]);
    EXPECT_TRUE(f.sections[1]->isExpand());

    // Closing a section deselects all of its items, also those scrolled out of sight; a later
    // trash or tag must not act on them.
    FakeGrid& tall = make({400, 3}, true);
    grid.selectItemIndexWithSectionIndexSets({KPSectionIndexSet(0, 0), KPSectionIndexSet(0, 399), KPSectionIndexSet(1, 1)});
    ASSERT_EQ(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 399)), nullptr) << "off screen";
    clickHeader(0, QPointF(10, 10));
    EXPECT_FALSE(tall.sections[0]->isExpand());
    EXPECT_EQ(grid.selectedIndexs(), QList<KPSectionIndexSet>{KPSectionIndexSet(1, 1)});

    // A right click on a header is the grid's: it clears the selection.
    grid.selectItemIndexWithSectionIndexSet(KPSectionIndexSet(1, 1));
    QTest::mouseClick(header(1), Qt::RightButton, {}, QPoint(100, 10));
    EXPECT_TRUE(grid.selectedIndexs().isEmpty());
}

TEST_F(SectionHeader, TheBadgeCountsTheItemsAndIsLeftOutForNone)
{
    make({7, 0, 1}, true);
    const QColor fill = sectionColor("TextNumberBGColor");
    ASSERT_TRUE(fill.isValid());
    const auto badgeEdge = [&](qint64 s) { return render(header(s)).pixelColor(header(s)->width() - 14, 14); };
    EXPECT_EQ(badgeEdge(0), fill);
    EXPECT_EQ(badgeEdge(2), fill);
    EXPECT_NE(badgeEdge(1), fill);
    // The number is drawn: "7" and "1" give different badges.
    const QRect badge(header(0)->width() - 40, 6, 28, 16);
    EXPECT_NE(render(header(0)).copy(badge), render(header(2)).copy(badge));
}

TEST_F(SectionHeader, BackgroundsAreCachedPerHeightAndPixelRatioNotPerWidth)
{
    make({3, 3}, true, 600);
    KPSectionView::resetTheme();
    render(header(0));
    header(1)->resize(333, 26);
    render(header(1));
    EXPECT_EQ(KPSectionView::backgroundCacheCount(), 1);
    render(header(1), 2.0);
    EXPECT_EQ(KPSectionView::backgroundCacheCount(), 2);
    const QImage before = render(header(0));

    ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("dark")));
    KPSectionView::resetTheme();
    EXPECT_EQ(KPSectionView::backgroundCacheCount(), 0);
    EXPECT_NE(render(header(0)), before);
    EXPECT_EQ(KPSectionView::backgroundCacheCount(), 1);
}

TEST_F(SectionHeader, AHeaderStaysPinnedWhenOnlyItsSectionsHeightChanges)
{
    FakeGrid& f = make({40, 10}, true);
    grid.verticalScrollBar()->setValue(300);
    ASSERT_EQ(inViewport(header(0)).top(), 0);
    for (int i = 0; i < 10; ++i)
        f.sections[0]->datas().append(FlagGroupRecord{900 + i, {}});
    grid.updateLayout();
    EXPECT_EQ(scrollTop(), 300);
    EXPECT_EQ(inViewport(header(0)).top(), 0);
    EXPECT_EQ(header(0)->width(), 600);
}
