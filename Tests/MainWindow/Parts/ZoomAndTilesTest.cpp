#include "GridInteractionFixture.h"

#include "../../Platform/Workspace/WorkspaceTestSupport.h"

#include "Browser/CollectionView/KPSectionView.h"
#include "Browser/ItemViews/KPSectionAuthorItemView.h"
#include "Browser/ItemViews/KPSectionDateItemView.h"
#include "Browser/ItemViews/KPSectionFileTypeItemView.h"
#include "Browser/ItemViews/KPSectionFlagItemView.h"
#include "Browser/ItemViews/KPSectionItemViewOverLayerToolBar.h"
#include "Browser/KPGroupRecords.h"
#include "MainWindow/Parts/ZoomAndTiles.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Workspace/Workspace.h"

#include <QLabel>
#include <QTest>
#include <QWheelEvent>

using namespace gridparttest;
using Address = KPSectionIndexSet;

class ZoomAndTilesTest : public GridPartTest {
protected:
    void SetUp() override
    {
        GridPartTest::SetUp();
        ctx.scheduler = &clock;
        part = std::make_unique<ZoomAndTiles>(ctx);
        part->install();
        part->setZoomSliderValue = [this](double value) { slider << value; };
        part->enterSubLayerChrome = [this] { ++subLayers; };
        part->showPreview = [this] { ++previews; };
        part->setRightPropertyViewExpand = [this](bool expand) { inspector << expand; };
        part->extensionsByKindID = [this](qint64 kind) { return kinds.value(kind); };
    }
    void TearDown() override
    {
        part.reset();
        ctx.scheduler = nullptr;
        GridPartTest::TearDown();
    }

    void magnify(double m) { notes.post(ZoomAndTiles::kMouseMagnifyNotification, m, {{"Magnification", m}}); }
    void wheel(int delta, Qt::KeyboardModifiers mods)
    {
        const QPointF at(100, 100);
        QWheelEvent event(at, grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid->viewport(), &event);
    }
    QStringList listedTitles() const
    {
        QStringList titles;
        for (const KPItemDataPtr& item : listed.dataSource()) {
            item->loadDataContent();
            titles << item->title();
        }
        titles.sort();
        return titles;
    }

    platform::kit::VirtualScheduler clock;
    std::unique_ptr<ZoomAndTiles> part;
    QList<double> slider;
    int subLayers = 0;
    int previews = 0;
    QList<bool> inspector;
    QHash<qint64, QStringList> kinds;
};

// ---------------------------------------------------------------------------------------------
// Zoom

TEST_F(ZoomAndTilesTest, ABurstOfZoomStepsRefreshesThumbnailsOnceAfterTheLast)
{
    auto made = fill({{"A", "B", "C"}});
    select({Address(0, 2)});
    magnify(0.05);
    EXPECT_EQ(settings().itemScale(), 55);
    clock.advance(200);
    wheel(120, Qt::ControlModifier);
    EXPECT_EQ(settings().itemScale(), 65);
    EXPECT_EQ(slider, (QList<double>{55, 65}));
    clock.advance(299);
    EXPECT_EQ(part->thumbRefreshCount(), 0);
    clock.advance(1);
    EXPECT_EQ(part->thumbRefreshCount(), 1);
    EXPECT_TRUE(made[0][0]->bNeedReloadResource());
    // The selection survives the reload.
    EXPECT_EQ(grid->selectedIndexs(), QList<Address>{Address(0, 2)});
    clock.advance(1000);
    EXPECT_EQ(part->thumbRefreshCount(), 1);
}

TEST_F(ZoomAndTilesTest, AStepThatRoundsOrClampsToTheCurrentScaleChangesNothing)
{
    fill({{"A", "B"}});
    select({Address(0, 1)});
    magnify(0.004);
    magnify(-0.0049);
    settings().setItemScale(100);
    magnify(0.3); // already the largest
    settings().setItemScale(25);
    wheel(-360, Qt::ControlModifier); // already the smallest
    magnify(std::nan(""));
    wheel(120, Qt::NoModifier); // a plain wheel scrolls
    clock.advance(1000);
    EXPECT_TRUE(slider.isEmpty());
    EXPECT_EQ(part->thumbRefreshCount(), 0);
    EXPECT_EQ(grid->selectedIndexs(), QList<Address>{Address(0, 1)});

    // Many notches at once are one step, clamped.
    wheel(120 * 40, Qt::ControlModifier);
    EXPECT_EQ(settings().itemScale(), 100);
    EXPECT_EQ(slider, QList<double>{100});
}

// ---------------------------------------------------------------------------------------------
// Tiles

TEST_F(ZoomAndTilesTest, MonthAndFlagTilesListTheirGroupsDocuments)
{
    settings().setItemViewType(KPItemViewTypeMonth);
    ctx.state.lastInnerDisplayMode = KPDisplayModeList;
    const QList<KPItemDataPtr> month{KPItemData::create(addDocument("March A")), KPItemData::create(addDocument("March B"))};
    notes.post(KPSectionDateItemView::kClickNotification, MonthGroupRecord{"2024", "03", month}.toVariantMap());
    EXPECT_EQ(subLayers, 1);
    EXPECT_EQ(settings().itemViewType(), KPItemViewTypeGroupedDocuments);
    EXPECT_EQ(settings().displayMode(), KPDisplayModeList);
    EXPECT_EQ(listedTitles(), (QStringList{"March A", "March B"}));
    EXPECT_FALSE(source->dataSource().isEmpty());

    settings().setItemViewType(KPItemViewTypeFlag);
    const QList<KPItemDataPtr> red{KPItemData::create(addDocument("Red"))};
    notes.post(KPSectionFlagItemView::kClickNotification, FlagGroupRecord{2, red}.toVariantMap());
    EXPECT_EQ(listedTitles(), QStringList{"Red"});

    // A record without documents switches the bar and leaves the grid alone.
    notes.post(KPSectionFlagItemView::kClickNotification, FlagGroupRecord{3, {}}.toVariantMap());
    EXPECT_EQ(subLayers, 3);
    EXPECT_EQ(listedTitles(), QStringList{"Red"});
}

TEST_F(ZoomAndTilesTest, KindTileQueriesByExtensionOutsideTheTrash)
{
    addDocument({.title = "Paper", .extension = "PDF"});
    addDocument({.title = "Scan", .extension = "pdf"});
    DBFileInfo trashed = addDocument({.title = "Old", .extension = "pdf"});
    trashed.setIsTrash(true);
    addDocument({.title = "Quoted", .extension = "a\"b"});
    addDocument({.title = "Star", .extension = "xyz"});
    addDocument({.title = "Note", .extension = "txt"});
    kinds[1] = {"pdf"};
    kinds[2] = {"a\"b", "*"};
    kinds[3] = {};
    settings().setItemViewType(KPItemViewTypeFileType);

    notes.post(KPSectionFileTypeItemView::kClickNotification, FileTypeGroupRecord{1, 2}.toVariantMap());
    EXPECT_EQ(listedTitles(), (QStringList{"Paper", "Scan"}));

    // Quotes and wildcards in an extension match only themselves.
    notes.post(KPSectionFileTypeItemView::kClickNotification, FileTypeGroupRecord{2, 1}.toVariantMap());
    EXPECT_EQ(listedTitles(), QStringList{"Quoted"});

    // A kind without extensions switches the bar but keeps the grid.
    const QList<KPSectionDataPtr> before = source->dataSource();
    settings().setItemViewType(KPItemViewTypeFileType);
    notes.post(KPSectionFileTypeItemView::kClickNotification, FileTypeGroupRecord{3, 0}.toVariantMap());
    EXPECT_EQ(subLayers, 3);
    EXPECT_EQ(source->dataSource(), before);
    EXPECT_EQ(settings().itemViewType(), KPItemViewTypeFileType);
    EXPECT_EQ(listedTitles(), QStringList{"Quoted"});
}

TEST_F(ZoomAndTilesTest, AuthorTileLeavesTrashedDocumentsOut)
{
    addDocument({.title = "Kept", .authors = {"Ann"}});
    DBFileInfo trashed = addDocument({.title = "Binned", .authors = {"Ann"}});
    trashed.setIsTrash(true);
    addDocument({.title = "Other", .authors = {"Bo"}});
    settings().setItemViewType(KPItemViewTypeAuthor);
    notes.post(KPSectionAuthorItemView::kClickNotification, authorNamed("Ann").ref());
    EXPECT_EQ(listedTitles(), QStringList{"Kept"});
    // Something that is no author changes nothing but the bar.
    notes.post(KPSectionAuthorItemView::kClickNotification, QStringLiteral("Ann"));
    EXPECT_EQ(listedTitles(), QStringList{"Kept"});
}

TEST_F(ZoomAndTilesTest, TheGroupSlidesInOverASnapshotThatGoesAfterwards)
{
    platform::kit::AnimationPolicy animated;
    ctx.animation = &animated;
    fill({{"Tile"}});
    const QList<KPItemDataPtr> month{KPItemData::create(addDocument("In March"))};
    notes.post(KPSectionDateItemView::kClickNotification, MonthGroupRecord{"2024", "03", month}.toVariantMap());
    ASSERT_NE(part->cacheCollectionImageView(), nullptr);
    EXPECT_GT(grid->x(), 0);
    clock.advance(ZoomAndTiles::kSlideMs + 50);
    EXPECT_EQ(part->cacheCollectionImageView(), nullptr);
    EXPECT_EQ(grid->pos(), QPoint(0, 0));

    // A second tile while sliding ends the first slide cleanly.
    notes.post(KPSectionDateItemView::kClickNotification, MonthGroupRecord{"2024", "03", month}.toVariantMap());
    clock.advance(100);
    notes.post(KPSectionDateItemView::kClickNotification, MonthGroupRecord{"2024", "03", month}.toVariantMap());
    clock.advance(ZoomAndTiles::kSlideMs + 50);
    EXPECT_EQ(grid->pos(), QPoint(0, 0));
    EXPECT_EQ(part->cacheCollectionImageView(), nullptr);
    ctx.animation = &instant;
}

// ---------------------------------------------------------------------------------------------
// Hover buttons and headers

TEST_F(ZoomAndTilesTest, HoverButtonsSelectTheirItemAndAct)
{
    auto made = fill({{"A", "B"}});
    const QString folder = testsupport::makeTempDir(QStringLiteral("reveal"));
    const QString path = folder + QStringLiteral("/B.pdf");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    made[0][1]->setFilePath(path);
    testsupport::RecordingLauncher launcher;
    launcher.findable << QStringLiteral("xdg-open");
    platform::Workspace workspace(launcher);
    part->workspace = &workspace;

    auto click = [&](const KPItemDataPtr& item, int button) {
        notes.post(KPSectionItemViewOverLayerToolBar::kButtonClickNotification,
                   QVariantMap{{"ItemData", QVariant::fromValue(item)}, {"ButtonIndex", button}});
    };
    click(made[0][1], 0);
    EXPECT_EQ(inspector, QList<bool>{true});
    EXPECT_EQ(grid->selectedIndexs(), QList<Address>{Address(0, 1)});
    ASSERT_EQ(pane.shown.size(), 0); // the selection part is not installed here

    select({});
    click(made[0][0], 1);
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(grid->selectedIndexs(), QList<Address>{Address(0, 0)});

    click(made[0][1], 2);
    EXPECT_EQ(grid->selectedIndexs(), QList<Address>{Address(0, 1)});
    ASSERT_EQ(launcher.launches.size(), 1);
    EXPECT_TRUE(launcher.launches.first().contains(folder)) << launcher.launches.first().join(' ').toStdString();

    // An item no longer listed does nothing at all.
    const KPItemDataPtr gone = KPItemData::create(addDocument("Gone"));
    for (int button : {0, 1, 2})
        click(gone, button);
    EXPECT_EQ(inspector.size(), 1);
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(launcher.launches.size(), 1);
    EXPECT_EQ(grid->selectedIndexs(), QList<Address>{Address(0, 1)});
}

TEST_F(ZoomAndTilesTest, HeaderDoubleClickSelectsItsWholeSection)
{
    fill({{"A"}, {"B", "C", "D"}});
    notes.post(KPSectionView::kSectionHeaderViewDoubleClickNotification, QVariant::fromValue(source->dataSource()[1]));
    EXPECT_EQ(grid->selectedIndexs(), (QList<Address>{Address(1, 0), Address(1, 1), Address(1, 2)}));
    // A section that is no longer shown selects nothing.
    select({});
    notes.post(KPSectionView::kSectionHeaderViewDoubleClickNotification,
               QVariant::fromValue(KPSectionData::create(QStringLiteral("S1"), QList<KPItemDataPtr>{})));
    EXPECT_TRUE(grid->selectedIndexs().isEmpty());
}
