#include "../../Browser/BrowserLibraryKit.h"
#include "GridTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/QuickLookController.h"
#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/Input.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTest>

using namespace browsertest;
using platform::PreviewKind;
using platform::PreviewPanel;
namespace keychar = platform::kit::keychar;

class QuickLookControllerTest : public gridtest::GridPartTest {
protected:
    void SetUp() override
    {
        GridPartTest::SetUp();
        settings().setDisplayMode(KPDisplayModeIcon);
        settings().setItemViewType(KPItemViewTypeDocuments);
        ctx.gridDataSource = source.get();
        quickLook = std::make_unique<QuickLookController>(ctx);
    }

    void TearDown() override
    {
        quickLook.reset();
        GridPartTest::TearDown();
    }

    // Sections of text documents titled "<section>-<item>", each with its file on disk.
    QList<QList<KPItemDataPtr>> fill(const std::vector<int>& counts)
    {
        QList<QList<KPItemDataPtr>> made;
        QList<KPItemDataPtr> all;
        for (size_t s = 0; s < counts.size(); ++s) {
            QList<KPItemDataPtr> items;
            for (int i = 0; i < counts[s]; ++i) {
                const QString title = QStringLiteral("%1-%2").arg(s).arg(i);
                KPItemDataPtr item = KPItemData::create(addDocument(DocumentFields{.title = title, .extension = "txt"}));
                testsupport::writeFile(item->previewItemURL().toLocalFile(), "text of " + title.toUtf8());
                items.append(item);
            }
            source->dataSource().append(KPSectionData::create(QStringLiteral("S%1").arg(s), items));
            made.append(items);
            all += items;
        }
        listed.addSource(all);
        grid.reloadData();
        QApplication::processEvents();
        return made;
    }

    PreviewPanel& panel() { return *quickLook->previewPanel(); }
    bool shows(const QString& title)
    {
        return panel().windowTitle() == title && !panel().isLoading() && panel().shownKind() == PreviewKind::Text
               && panel().textView()->toPlainText() == "text of " + title;
    }

    platform::kit::AnimationPolicy instant{platform::kit::AnimationPolicy::Mode::Instant};
    platform::kit::AnimationPolicy::Scope instantScope{instant};
    std::unique_ptr<QuickLookController> quickLook;
};

TEST_F(QuickLookControllerTest, NothingSelectedGivesNoItemsAndTheToggleOpensAndCloses)
{
    fill({3});
    EXPECT_EQ(quickLook->numberOfPreviewItemsInPreviewPanel(nullptr), 0);
    EXPECT_EQ(quickLook->previewItemAtIndex(0), nullptr);

    quickLook->togglePreview();
    EXPECT_TRUE(panel().isOpen());
    EXPECT_TRUE(ctx.state.isPreviewing);
    EXPECT_EQ(panel().numberOfItems(), 0);
    EXPECT_FALSE(panel().shownKind().has_value());

    quickLook->togglePreview();
    EXPECT_FALSE(panel().isOpen());
    EXPECT_FALSE(ctx.state.isPreviewing);
    // Closed, the window no longer follows the grid.
    grid.selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 1));
    quickLook->selectionChanged();
    EXPECT_EQ(panel().numberOfItems(), 0);
}

TEST_F(QuickLookControllerTest, ItemsAreTheSelectionInGridOrderAndRememberTheirAddress)
{
    const auto made = fill({3, 2});
    grid.selectItemIndexWithSectionIndexSets({KPSectionIndexSet(1, 1), KPSectionIndexSet(0, 2), KPSectionIndexSet(1, 0)});
    ASSERT_EQ(quickLook->numberOfPreviewItemsInPreviewPanel(nullptr), 3);
    EXPECT_EQ(quickLook->previewItemAtIndex(0), made[0][2]);
    EXPECT_EQ(made[0][2]->quickLookIndexSet(), KPSectionIndexSet(0, 2));
    EXPECT_EQ(quickLook->previewItemAtIndex(2), made[1][1]);
    EXPECT_EQ(made[1][1]->quickLookIndexSet(), KPSectionIndexSet(1, 1));
    EXPECT_EQ(quickLook->previewItemAtIndex(3), nullptr);
    EXPECT_EQ(quickLook->previewItemAtIndex(-1), nullptr);

    // The documents vanish from under the selection: no items, no crash.
    source->dataSource().clear();
    EXPECT_EQ(quickLook->previewItemAtIndex(0), nullptr);
    EXPECT_FALSE(quickLook->previewPanelPreviewItemAtIndex(nullptr, 0).has_value());
}

TEST_F(QuickLookControllerTest, TheWindowFollowsTheSelectionAndItsArrowsMoveIt)
{
    fill({2, 2});
    grid.selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 1));
    quickLook->togglePreview();
    ASSERT_TRUE(testsupport::spinUntil([&] { return shows("0-1"); }));

    // Right in the window moves the grid to the next document (into the next section) and the
    // window with it.
    QTest::keyClick(&panel(), Qt::Key_Right);
    EXPECT_EQ(grid.selectedIndexs(), (QList<KPSectionIndexSet>{KPSectionIndexSet(1, 0)}));
    ASSERT_TRUE(testsupport::spinUntil([&] { return shows("1-0"); }));
    QTest::keyClick(panel().textView(), Qt::Key_Down);
    QTest::keyClick(panel().textView(), Qt::Key_Down);
    EXPECT_EQ(grid.selectedIndexs(), (QList<KPSectionIndexSet>{KPSectionIndexSet(1, 1)})) << "the last stays";
    ASSERT_TRUE(testsupport::spinUntil([&] { return shows("1-1"); }));

    // A selection made in the grid is followed.
    grid.selectItemIndexWithSectionIndexSet(KPSectionIndexSet(0, 0));
    quickLook->selectionChanged();
    ASSERT_TRUE(testsupport::spinUntil([&] { return shows("0-0"); }));
    QTest::keyClick(&panel(), Qt::Key_Up);
    EXPECT_EQ(grid.selectedIndexs(), (QList<KPSectionIndexSet>{KPSectionIndexSet(0, 0)})) << "the first stays";

    // The grid's own navigation, once wired, takes the arrows instead; other keys stay the
    // window's.
    QList<char16_t> asked;
    quickLook->navigationByArrowKey = [&](char16_t c) { asked.append(c); };
    QTest::keyClick(&panel(), Qt::Key_Left);
    QTest::keyClick(&panel(), Qt::Key_A);
    EXPECT_EQ(asked, (QList<char16_t>{keychar::LeftArrow}));
    EXPECT_TRUE(panel().isOpen());

    QTest::keyClick(&panel(), Qt::Key_Space);
    EXPECT_FALSE(ctx.state.isPreviewing);
}

TEST_F(QuickLookControllerTest, TheWindowZoomsOnlyFromAWhollyVisibleThumbnail)
{
    const auto made = fill({60});
    QImage thumb(120, 90, QImage::Format_RGB32);
    thumb.fill(Qt::darkGreen);
    for (const KPItemDataPtr& item : made[0]) {
        item->setSourceImage(thumb);
        item->setImageOriginalSize(thumb.size());
        item->setBLoadedResource(true);
        item->setBNeedReloadResource(false);
    }
    grid.reloadData();
    QApplication::processEvents();

    const KPSectionIndexSet first(0, 0);
    auto* view = dynamic_cast<KPSectionItemView*>(grid.itemViewWithIndexSet(first));
    ASSERT_NE(view, nullptr);
    view->repaint();
    ASSERT_FALSE(view->actualImageRect().isEmpty());
    grid.selectItemIndexWithSectionIndexSet(first);
    const KPItemDataPtr item = quickLook->previewItemAtIndex(0);
    ASSERT_EQ(item, made[0][0]);

    const QRect frame = quickLook->sourceFrameOnScreenForPreviewItem(item);
    ASSERT_FALSE(frame.isNull());
    EXPECT_EQ(frame.size(), view->actualImageRect().size().toSize());
    EXPECT_TRUE(QRect(view->mapToGlobal(QPoint(0, 0)), view->size()).contains(frame));
    EXPECT_EQ(quickLook->previewPanelTransitionImageForPreviewItem(nullptr, 0), thumb);

    // Scrolled so that the top edge cuts the thumbnail: no rectangle to zoom from.
    const QRectF itemRect = grid.itemRectWithSectionIndexSet(first);
    const QRectF image = view->actualImageRect().translated(itemRect.x(), itemRect.y());
    grid.scrollToPoint(QPointF(0, image.center().y() - grid.visibleRect().height()));
    QApplication::processEvents();
    ASSERT_TRUE(grid.visibleRect().intersects(image));
    EXPECT_TRUE(quickLook->sourceFrameOnScreenForPreviewItem(item).isNull());

    // Scrolled out of view entirely: its view is gone, still no rectangle.
    grid.scrollToPoint(QPointF(0, 0));
    QApplication::processEvents();
    EXPECT_TRUE(quickLook->sourceFrameOnScreenForPreviewItem(item).isNull());
    EXPECT_TRUE(quickLook->sourceFrameOnScreenForPreviewItem(nullptr).isNull());
}
