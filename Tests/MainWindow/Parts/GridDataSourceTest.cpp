#include "../../Browser/BrowserLibraryKit.h"
#include "GridTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/CollectionView/KPSectionView.h"
#include "Browser/ItemViews/KPSectionFlagItemView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPNotTitleSectionView.h"
#include "Browser/KPThumbnailLoader.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBTag.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QScrollBar>

using namespace browsertest;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class GridDataSourceTest : public gridtest::GridPartTest {
protected:
    // Sections of documents titled "<section>-<item>", listed in the listed set too.
    QList<QList<KPItemDataPtr>> fill(const std::vector<int>& counts)
    {
        QList<QList<KPItemDataPtr>> made;
        QList<KPItemDataPtr> all;
        source->dataSource().clear();
        for (size_t s = 0; s < counts.size(); ++s) {
            QList<KPItemDataPtr> items;
            for (int i = 0; i < counts[s]; ++i)
                items.append(KPItemData::create(addDocument(QStringLiteral("%1-%2").arg(s).arg(i))));
            source->dataSource().append(KPSectionData::create(QStringLiteral("S%1").arg(s), items));
            made.append(items);
            all += items;
        }
        listed.addSource(all);
        return made;
    }

    // Sections of flag records (no store needed), for the geometry.
    void fillRecords(const std::vector<int>& counts)
    {
        source->dataSource().clear();
        for (size_t s = 0; s < counts.size(); ++s) {
            QList<KPSectionItem> items;
            for (int i = 0; i < counts[s]; ++i)
                items.append(FlagGroupRecord{qint64(s) * 1000 + i, {}});
            source->dataSource().append(KPSectionData::create(QStringLiteral("S%1").arg(s), items));
        }
    }

    QRectF rect(qint64 s) { return source->collectionViewSectionRect(&grid, s); }

};

// ---------------------------------------------------------------------------------------------
// Geometry, in the grid's y-up coordinates

TEST_F(GridDataSourceTest, AnEmptyListingHasNoSectionsAndFillsTheVisibleHeight)
{
    EXPECT_EQ(grid.dataSource(), source.get());
    EXPECT_EQ(grid.delegate(), source.get());
    for (int type : {0, 1, 2, 3, 4, 5, 6}) {
        settings().setItemViewType(KPItemViewType(type));
        EXPECT_EQ(source->collectionViewSectionCount(&grid), 0);
        EXPECT_EQ(source->contentSize(), QSizeF(600, 400)) << "type " << type;
        // Before the first section: a line across the top of the content.
        EXPECT_EQ(rect(-1), QRectF(0, 400, 600, 0));
        EXPECT_EQ(rect(0).height(), 0);
        // A section that is not there counts as expanded and has no views.
        EXPECT_TRUE(source->collectionViewSectionIsExpand(&grid, 0));
        EXPECT_EQ(source->collectionViewItemCount(&grid, 2), 0);
        EXPECT_EQ(source->collectionViewWillDisplaySectionView(&grid, nullptr, 0), nullptr);
    }
    grid.reloadData();
    EXPECT_TRUE(grid.visibleItemViews().isEmpty());
    EXPECT_FALSE(source->itemDataWithSectionIndexSet(std::nullopt));
    EXPECT_FALSE(source->itemDataWithSectionIndexSet(KPSectionIndexSet(0, 0)));
    EXPECT_FALSE(source->itemDataWithSectionIndexSet(KPSectionIndexSet(-1, 0)));
}

TEST_F(GridDataSourceTest, TitledSectionsStackDownFromTheTopAndCollapsedOnesKeepOnlyTheirHeader)
{
    fillRecords({40, 7, 25});
    source->dataSource()[1]->setIsExpand(false);
    for (int type : {1, 2, 4}) {
        for (KPDisplayMode mode : {KPDisplayModeIcon, KPDisplayModeList}) {
            settings().setItemViewType(KPItemViewType(type));
            settings().setDisplayMode(mode);
            KPSectionContentLayoutManager* layout = source->layoutManager();
            ASSERT_NE(layout, nullptr);
            EXPECT_EQ(layout->layoutWidth(), 600);
            EXPECT_EQ(layout->sectionHeaderViewHeight(), 26);
            const double h0 = layout->contentHeightWithItemCount(40);
            const double h2 = layout->contentHeightWithItemCount(25);
            const double total = h0 + 26 + h2;
            ASSERT_GT(total, 400) << "the sections must be taller than the view for this test";
            EXPECT_EQ(source->contentSize(), QSizeF(600, total));

            EXPECT_EQ(rect(0), QRectF(0, total - h0, 600, h0)) << "type " << type << " mode " << mode;
            EXPECT_EQ(rect(1), QRectF(0, total - h0 - 26, 600, 26));
            EXPECT_EQ(rect(2), QRectF(0, 0, 600, h2));
            EXPECT_FALSE(source->collectionViewSectionIsExpand(&grid, 1));
        }
    }
    // Items added to a section after the rectangles were asked for: asked again, they are new.
    for (int i = 0; i < 30; ++i)
        source->dataSource()[0]->datas().append(FlagGroupRecord{9000 + i, {}});
    const double grown = source->layoutManager()->contentHeightWithItemCount(70);
    EXPECT_EQ(rect(0).height(), grown);
    EXPECT_EQ(rect(1).y(), source->contentSize().height() - grown - 26);

    // Collapsing everything leaves three headers at the top of a view-high content.
    settings().setItemViewType(KPItemViewTypeGroupedDocuments);
    for (const KPSectionDataPtr& section : source->dataSource())
        section->setIsExpand(false);
    EXPECT_EQ(source->contentSize().height(), 400);
    EXPECT_EQ(rect(0), QRectF(0, 374, 600, 26));
    EXPECT_EQ(rect(2), QRectF(0, 322, 600, 26));
}

TEST_F(GridDataSourceTest, UntitledTypesMeasureOnlyTheFirstSection)
{
    fillRecords({300, 50});
    for (int type : {0, 3, 5, 6}) {
        settings().setItemViewType(KPItemViewType(type));
        KPSectionContentLayoutManager* layout = source->layoutManager();
        ASSERT_NE(layout, nullptr);
        EXPECT_EQ(layout->sectionHeaderViewHeight(), 0);
        const double h0 = layout->contentHeightWithItemCount(300);
        ASSERT_GT(h0, 400);
        EXPECT_EQ(source->contentSize().height(), h0) << "type " << type;
        EXPECT_EQ(rect(0), QRectF(0, 0, 600, h0));
        // Collapsing does not shrink the one untitled section's content.
        source->dataSource()[0]->setIsExpand(false);
        EXPECT_EQ(source->contentSize().height(), h0);
        source->dataSource()[0]->setIsExpand(true);
    }
    // A view type without a layout has no height of its own.
    settings().setItemViewType(KPItemViewType(9));
    EXPECT_EQ(source->layoutManager(), nullptr);
    EXPECT_EQ(source->contentSize(), QSizeF(600, 400));
    EXPECT_EQ(rect(0).height(), 0);
}

// ---------------------------------------------------------------------------------------------
// Addresses and removal

TEST_F(GridDataSourceTest, ItemsHandedOutHaveTheirDisplayValuesAndAddressesFindThem)
{
    const auto made = fill({2, 3});
    ASSERT_FALSE(made[1][2]->bLoadedDataContent());
    const std::optional<KPSectionItem> item = source->itemDataWithSectionIndexSet(KPSectionIndexSet(1, 2));
    ASSERT_TRUE(item);
    // Handing out loads nothing (a Select All of thousands would load them all); reading does.
    EXPECT_FALSE(item->itemData()->bLoadedDataContent());
    EXPECT_EQ(item->itemData()->title(), QStringLiteral("1-2"));
    EXPECT_TRUE(item->itemData()->bLoadedDataContent());

    // In the given order, skipping addresses that hold nothing.
    const QList<KPItemDataPtr> items = source->itemDatasWithSectionIndexSets(
        {KPSectionIndexSet(1, 0), KPSectionIndexSet(5, 0), KPSectionIndexSet(0, 7), KPSectionIndexSet(0, 1)});
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0], made[1][0]);
    EXPECT_EQ(items[1], made[0][1]);
    EXPECT_EQ(items[1]->title(), QStringLiteral("0-1"));

    // Another display model of the same document is found at the document's address.
    EXPECT_EQ(source->indexSetWithItemData(KPItemData::create(made[1][1]->data())), KPSectionIndexSet(1, 1));
    EXPECT_FALSE(source->indexSetWithItemData(KPItemData::create(addDocument(QStringLiteral("elsewhere")))));
    EXPECT_FALSE(source->indexSetWithItemData(KPItemDataPtr()));
}

TEST_F(GridDataSourceTest, RemovingAddressesRemovesThoseItemsAndTheSectionsLeftEmpty)
{
    const auto made = fill({4, 2, 3});
    source->removeItemDataWithIndexSets({
        KPSectionIndexSet(0, 3), KPSectionIndexSet(0, 0), KPSectionIndexSet(0, 0), // out of order, repeated
        KPSectionIndexSet(1, 1), KPSectionIndexSet(1, 0),                         // all of section 1
        KPSectionIndexSet(2, 9), KPSectionIndexSet(7, 0), KPSectionIndexSet(-1, 0), // nothing there
    });
    ASSERT_EQ(source->dataSource().size(), 2);
    EXPECT_EQ(source->dataSource()[0]->title(), QStringLiteral("S0"));
    EXPECT_EQ(source->dataSource()[0]->itemDatas(), (QList<KPItemDataPtr>{made[0][1], made[0][2]}));
    EXPECT_EQ(source->dataSource()[1]->title(), QStringLiteral("S2"));
    EXPECT_EQ(source->dataSource()[1]->itemCount(), 3);

    // The listed set loses exactly the removed documents.
    EXPECT_EQ(listed.dataSource().size(), 5);
    for (const KPItemDataPtr& gone : {made[0][0], made[0][3], made[1][0], made[1][1]})
        EXPECT_FALSE(listed.dataSource().contains(gone));
    EXPECT_TRUE(listed.dataSource().contains(made[0][1]));

    source->removeItemDataWithIndexSets({});
    EXPECT_EQ(source->dataSource().size(), 2);
}

// ---------------------------------------------------------------------------------------------
// Per-node memory

TEST_F(GridDataSourceTest, NodesOfOneTitleShareTheirViewSettingsAndScrollPosition)
{
    const KPNode::Ptr folder = KPNode::initWithTitle(QStringLiteral("Reports"), 8);
    const KPNode::Ptr tag = KPNode::initWithTitle(QStringLiteral("Reports"), 12);
    const KPNode::Ptr other = KPNode::initWithTitle(QStringLiteral("Letters"), 8);

    settings().setDisplayMode(KPDisplayModeList);
    sort.setGroupSortType(5);
    sort.setGroupAscending(false);
    sort.setFileSortType(3);
    sort.setFileAscending(false);
    source->saveSortInfoWithNode(folder.get());
    source->saveSortInfoWithNode(nullptr);

    const QVariantMap saved{{GridDataSource::kDisplayModeKey, 2}, {GridDataSource::kGroupTypeKey, 5},
                            {GridDataSource::kGroupAscendingKey, false}, {GridDataSource::kFileTypeKey, 3},
                            {GridDataSource::kFileAscendingKey, false}};
    EXPECT_EQ(source->sortInfoWithNode(tag.get()), saved);
    EXPECT_FALSE(source->sortInfoWithNode(other.get()));
    EXPECT_FALSE(source->sortInfoWithNode(nullptr));

    // Scroll memory: a position saved for one node is where its namesake opens.
    settings().setDisplayMode(KPDisplayModeIcon);
    settings().setItemViewType(KPItemViewTypeDocuments);
    fillRecords({400});
    grid.reloadData();
    grid.verticalScrollBar()->setValue(700);
    source->saveScrollFrameWithNode(folder.get());
    grid.scrollToTop();
    source->scrollFrameWithNode(other.get());
    EXPECT_EQ(grid.verticalScrollBar()->value(), 0);
    source->scrollFrameWithNode(tag.get());
    EXPECT_EQ(grid.verticalScrollBar()->value(), 700);

    // A namesake listing more documents opens at the same distance from the top, not from the
    // bottom: the top of one listing stays the top of the other.
    grid.scrollToTop();
    source->saveScrollFrameWithNode(other.get());
    source->saveScrollFrameWithNode(folder.get());
    fillRecords({1200});
    grid.reloadData();
    grid.verticalScrollBar()->setValue(2000);
    source->scrollFrameWithNode(tag.get());
    EXPECT_EQ(grid.verticalScrollBar()->value(), 0);
    fillRecords({400});
    grid.reloadData();
    grid.verticalScrollBar()->setValue(700);
    source->saveScrollFrameWithNode(folder.get());
    fillRecords({1200});
    grid.reloadData();
    source->scrollFrameWithNode(tag.get());
    EXPECT_EQ(grid.verticalScrollBar()->value(), 700);
}

// ---------------------------------------------------------------------------------------------
// Views and redraws

TEST_F(GridDataSourceTest, EachViewTypeShowsItsOwnViewsFilledFromTheItems)
{
    const auto made = fill({3, 2});
    settings().setDisplayMode(KPDisplayModeList); // short rows: both sections on screen
    settings().setItemViewType(KPItemViewTypeGroupedDocuments);
    grid.reloadData();
    auto* header = dynamic_cast<KPSectionView*>(grid.sectionViewWithIndex(1));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->sectionData(), source->dataSource()[1]);
    auto* item = dynamic_cast<KPSectionItemView*>(grid.itemViewWithIndexSet(KPSectionIndexSet(1, 1)));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->itemData(), made[1][1]);
    EXPECT_EQ(item->itemIndex(), 1);
    EXPECT_TRUE(thumbnailRequests.contains(made[1][1]));

    // Flag tiles in untitled sections; the views of the old type are not reused for them.
    source->dataSource().clear();
    source->dataSource().append(KPSectionData::create(QString(), QList<KPSectionItem>{FlagGroupRecord{2, {}}, FlagGroupRecord{5, {}}}));
    settings().setItemViewType(KPItemViewTypeFlag);
    grid.reloadData();
    EXPECT_NE(dynamic_cast<KPNotTitleSectionView*>(grid.sectionViewWithIndex(0)), nullptr);
    auto* flag = dynamic_cast<KPSectionFlagItemView*>(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 1)));
    ASSERT_NE(flag, nullptr);
    ASSERT_TRUE(flag->itemData());
    EXPECT_EQ(flag->itemData()->label, 5);

    // Items of another kind than the view type shows leave their places empty, and the grid
    // keeps showing the items that fit.
    source->dataSource()[0]->datas().prepend(made[0][0]);
    grid.reloadData();
    EXPECT_EQ(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 0)), nullptr);
    EXPECT_NE(dynamic_cast<KPSectionFlagItemView*>(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 2))), nullptr);
}

// Scrolling recycles the item views and lets the models scrolled past drop their values: every
// view on screen shows its own document's current values, also after they were read again.
TEST_F(GridDataSourceTest, ScrolledViewsShowTheirOwnDocumentsValuesWhileHiddenModelsUnload)
{
    KPItemData::setKeptHiddenValuesForTesting(30);
    struct Restore {
        ~Restore() { KPItemData::setKeptHiddenValuesForTesting(KPItemData::kKeptHiddenValues); }
    } restore;
    QList<KPItemDataPtr> items;
    for (int i = 0; i < 300; ++i)
        items.append(KPItemData::create(addDocument(DocumentFields{
            .title = QStringLiteral("doc %1").arg(i), .tags = {QStringLiteral("t%1").arg(i % 7)}, .rate = i % 6})));
    source->dataSource() = {KPSectionData::create(QString(), items)};
    listed.addSource(items);
    settings().setDisplayMode(KPDisplayModeList);
    settings().setItemViewType(KPItemViewTypeDocuments);
    grid.reloadData();
    items[0]->setSourceImage(QImage(8, 8, QImage::Format_ARGB32));
    items[0]->setBLoadedResource(true);
    items[0]->setBNeedReloadResource(false);
    const auto checkShown = [&] {
        const QList<KPSectionIndexSet> shown = grid.visibleItemIndexSets();
        ASSERT_FALSE(shown.isEmpty());
        for (const KPSectionIndexSet& at : shown) {
            auto* view = dynamic_cast<KPSectionItemView*>(grid.itemViewWithIndexSet(at));
            ASSERT_NE(view, nullptr);
            ASSERT_EQ(view->itemData(), items[at.itemIndex()]) << at.itemIndex();
            const DBFileInfo record = view->itemData()->data();
            QStringList tags;
            for (const DBTag& tag : record.tags())
                tags.append(tag.name());
            EXPECT_EQ(view->itemData()->title(), record.title());
            EXPECT_EQ(view->itemData()->rate(), record.metadata().rate()) << qPrintable(record.title());
            EXPECT_EQ(view->itemData()->tagString(), tags.join(QStringLiteral(", ")));
        }
    };
    const auto scrollThrough = [&](int from, int to) {
        QScrollBar* bar = grid.verticalScrollBar();
        const int step = std::max(1, grid.viewport()->height() / 2) * (to > from ? 1 : -1);
        for (int y = from; to > from ? y <= to : y >= to; y += step) {
            bar->setValue(y);
            QApplication::processEvents();
            ASSERT_NO_FATAL_FAILURE(checkShown());
        }
    };
    ASSERT_NO_FATAL_FAILURE(scrollThrough(0, grid.verticalScrollBar()->maximum()));
    const auto loaded = std::count_if(items.begin(), items.end(), [](const KPItemDataPtr& item) { return item->bLoadedDataContent(); });
    EXPECT_LT(loaded, 150) << "the models scrolled past gave their values back";
    EXPECT_FALSE(items[0]->bLoadedDataContent());
    EXPECT_TRUE(items[0]->sourceImage().isNull()) << "and their thumbnails, asked for again when shown";
    EXPECT_TRUE(items[0]->bNeedReloadResource());

    // Changed while unloaded: read again as the record is now.
    DBFileInfoMetadata(items[0]->data().metadata()).setRate(5);
    DBFileInfo(items[1]->data()).setTitle(QStringLiteral("renamed"));
    ASSERT_NO_FATAL_FAILURE(scrollThrough(grid.verticalScrollBar()->maximum(), 0));
    EXPECT_EQ(items[0]->rate(), 5);
    EXPECT_EQ(items[1]->title(), QStringLiteral("renamed"));
}

TEST_F(GridDataSourceTest, ALoadedThumbnailRedrawsTheItemShowingIt)
{
    const auto made = fill({6});
    settings().setDisplayMode(KPDisplayModeList);
    settings().setItemViewType(KPItemViewTypeDocuments);
    grid.reloadData();
    QApplication::processEvents();
    KPCollectionItemView* target = grid.itemViewWithIndexSet(KPSectionIndexSet(0, 4));
    KPCollectionItemView* neighbour = grid.itemViewWithIndexSet(KPSectionIndexSet(0, 3));
    ASSERT_NE(target, nullptr);
    ASSERT_NE(neighbour, nullptr);
    PaintCounter targetPaints, neighbourPaints;
    target->installEventFilter(&targetPaints);
    neighbour->installEventFilter(&neighbourPaints);

    // Another display model of the same document, as the loader delivers it.
    center.post(KPThumbnailLoader::kGraphicResourceDidLoadNotification,
                QVariant::fromValue(KPItemData::create(made[0][4]->data())));
    EXPECT_TRUE(testsupport::spinUntil([&] { return targetPaints.count > 0; }));
    EXPECT_EQ(neighbourPaints.count, 0);

    // A document the grid does not show, or no document at all, redraws nothing.
    center.post(KPThumbnailLoader::kGraphicResourceDidLoadNotification,
                QVariant::fromValue(KPItemData::create(addDocument(QStringLiteral("hidden")))));
    center.post(KPThumbnailLoader::kGraphicResourceDidLoadNotification, QVariant());
    const int before = targetPaints.count;
    QApplication::processEvents();
    EXPECT_EQ(targetPaints.count, before);
    EXPECT_EQ(neighbourPaints.count, 0);
}

TEST_F(GridDataSourceTest, TheGridIsReleasedWhenTheDataSourceGoes)
{
    fill({3});
    grid.reloadData();
    source.reset();
    EXPECT_EQ(grid.dataSource(), nullptr);
    EXPECT_EQ(grid.delegate(), nullptr);
    // Nothing asks the destroyed object any more.
    grid.reloadData();
    center.post(KPThumbnailLoader::kGraphicResourceDidLoadNotification, QVariant());
    EXPECT_TRUE(grid.visibleItemViews().isEmpty());
}
