// Where the items of a section go, and what a section view keeps when its items go.
#include "Browser/KPCollectionSectionView.h"
#include "Browser/KPDefaultSectionLayoutManager.h"
#include "Browser/KPNotTitleLayoutManager.h"
#include "Browser/KPNotTitleSectionView.h"
#include "BrowserTestSupport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <memory>

using browsertest::SettingsTest;

namespace {

class SectionLayoutTest : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        settings().setItemViewType(KPItemViewTypeGroupedDocuments); // scale 40, every caption: 227 × 254
        titled.setLayoutWidth(800);
        untitled.setLayoutWidth(800);
    }

    KPDefaultSectionLayoutManager titled;
    KPNotTitleLayoutManager untitled;
};

} // namespace

TEST_F(SectionLayoutTest, WorkedExampleOfATitledSectionInIconMode)
{
    EXPECT_EQ(titled.itemViewColWithContainerHeight(), 3);
    const double height = titled.contentHeightWithItemCount(7);
    EXPECT_EQ(height, 823);
    EXPECT_EQ(titled.itemRectOfIndex(0, height), QRectF(34, 538, 227, 254));
    EXPECT_EQ(titled.itemRectOfIndex(1, height).x(), 286);
    EXPECT_EQ(titled.itemRectOfIndex(2, height).x(), 538);
    EXPECT_EQ(titled.itemRectOfIndex(3, height).x(), 34); // a new row
    EXPECT_EQ(titled.itemRectOfIndex(6, height), QRectF(34, 10, 227, 254));

    // An empty section is one row high, header included; without a header it is 26 lower.
    EXPECT_EQ(titled.contentHeightWithItemCount(0), 254 + 15 + 26);
    EXPECT_EQ(untitled.contentHeightWithItemCount(0), 254 + 15);
}

TEST_F(SectionLayoutTest, FixedGapsAndNarrowWidths)
{
    titled.setAutoWSpacing(false);
    const double height = titled.contentHeightWithItemCount(3);
    EXPECT_EQ(titled.itemRectOfIndex(0, height).x(), 20); // left margin plus one gap
    EXPECT_EQ(titled.itemRectOfIndex(1, height).x(), 257);
    EXPECT_EQ(titled.itemRectOfIndex(2, height).x(), 494);

    // Narrower than one item: still one column, every item in its own row, none left of the
    // margin (the spare width is negative, so there is no gap to spread).
    titled.setAutoWSpacing(true);
    for (double width : {200.0, 0.0, -50.0}) {
        titled.setLayoutWidth(width);
        EXPECT_EQ(titled.itemViewColWithContainerHeight(), 1) << width;
        const double h = titled.contentHeightWithItemCount(2);
        EXPECT_EQ(h, 10 + 254 * 2 + 15 + 26);
        EXPECT_EQ(titled.itemRectOfIndex(1, h), QRectF(10, 10, 227, 254)) << width;
    }
}

TEST_F(SectionLayoutTest, ListModeGivesFullWidthRowsWithoutMargins)
{
    settings().setDisplayMode(KPDisplayModeList);
    const double height = untitled.contentHeightWithItemCount(4);
    EXPECT_EQ(height, 200);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(untitled.itemRectOfIndex(i, height), QRectF(0, 150 - 50 * i, 800, 50)) << i;

    EXPECT_EQ(titled.contentHeightWithItemCount(3), 26 + 50 * 3);
    EXPECT_EQ(titled.contentHeightWithItemCount(0), 26);
    EXPECT_EQ(titled.itemRectOfIndex(0, 176), QRectF(0, 100, 800, 50));
}

TEST_F(SectionLayoutTest, TileMarginsComeFromTheItemViewType)
{
    settings().setItemViewType(KPItemViewTypeFlag);
    const double height = untitled.contentHeightWithItemCount(1);
    EXPECT_EQ(height, 132 + 5 + 25);
    EXPECT_EQ(untitled.itemRectOfIndex(0, height).y(), 10); // 25 below the top
    // The base manager answers its fixed sizes whatever the settings say.
    KPSectionContentLayoutManager base;
    base.setLayoutWidth(800);
    EXPECT_EQ(base.itemViewColWithContainerHeight(), 7);
    EXPECT_EQ(base.contentHeightWithItemCount(8), 10 + 200 + 15);
}

TEST(KPCollectionSectionViewTest, TheHeaderOutlivesEveryWayOfClearingTheItems)
{
    QWidget grid;
    QWidget pool;
    auto* section = new KPCollectionSectionView(&grid);
    section->resize(400, 300);
    auto* header = new QWidget;
    header->resize(400, 26);
    section->setHeaderView(header);
    QPointer<QWidget> item1 = new QWidget(section);
    QPointer<QWidget> item2 = new QWidget(section);
    EXPECT_EQ(section->itemViews(), (QList<QWidget*>{item1, item2}));

    EXPECT_EQ(section->takeItemViews(&pool), (QList<QWidget*>{item1, item2}));
    EXPECT_EQ(item1->parentWidget(), &pool);
    EXPECT_TRUE(section->itemViews().isEmpty());
    EXPECT_EQ(header->parentWidget(), section);

    QPointer<QWidget> item3 = new QWidget(section);
    section->clearItemViews();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(item3.isNull());
    EXPECT_EQ(header->parentWidget(), section);

    // Leaving the grid takes the items along, never the header.
    QPointer<KPCollectionSectionView> guard = section;
    QPointer<QWidget> item4 = new QWidget(section);
    QPointer<QWidget> keptHeader = header;
    section->removeFromSuperview();
    EXPECT_EQ(section->parentWidget(), nullptr);
    EXPECT_EQ(keptHeader->parentWidget(), section);
    EXPECT_TRUE(item4.isNull() || item4->parentWidget() != section);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
    EXPECT_TRUE(item4.isNull());
}

TEST(KPCollectionSectionViewTest, TheHeaderIsPinnedToTheTopOfTheVisiblePart)
{
    KPNotTitleSectionView section;
    section.resize(400, 300);
    auto* header = new QWidget;
    header->resize(400, 26);
    section.setHeaderView(header);
    // y-up: the visible part is y 100-200, so the header's bottom goes to 174 (Qt y 100).
    section.trackHeaderViewWithVisibleRect(QRectF(0, 100, 400, 100));
    EXPECT_EQ(header->pos(), QPoint(0, 100));
    // Scrolled past the section's bottom: the header stops there.
    section.trackHeaderViewWithVisibleRect(QRectF(0, -250, 400, 260));
    EXPECT_EQ(header->pos(), QPoint(0, 274));
}
