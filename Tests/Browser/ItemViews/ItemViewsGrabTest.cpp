#include "ItemViewTestSupport.h"

#include "Browser/ItemViews/KPSectionItemViewOverLayerToolBar.h"
#include "Browser/ItemViews/ItemViewGeometry.h"
#include "Platform/Kit/Scheduler.h"

#include <QDir>

using namespace itemtest;

class ItemViewsGrab : public ItemViewTest {};

// A grid of a small library with real item views, in icon mode (a selection, tags, stars, a flag,
// the hover bar) and in list mode, grabbed into the build folder (itemviews-icons.png and
// itemviews-list.png, "-2x" on a scaled screen) to be looked at.
TEST_F(ItemViewsGrab, WritesTheGridInIconAndListMode)
{
    platform::kit::VirtualScheduler clock;
    using browsertest::DocumentSpec;
    const QList<KPItemDataPtr> items{
        document(DocumentSpec{.title = QStringLiteral("Quarterly report 2014 for the board of directors"), .tags = {QStringLiteral("work"), QStringLiteral("finance")}, .size = 3400000, .label = 2, .rate = 4}, QSize(600, 800)),
        document(DocumentSpec{.title = QStringLiteral("Holiday photos"), .extension = QStringLiteral("jpg"), .tags = {QStringLiteral("family")}, .size = 1536, .label = 5, .rate = 2}, QSize(800, 500)),
        document(DocumentSpec{.title = QStringLiteral("Résumé – 履歴書"), .extension = QStringLiteral("docx"), .size = 500, .rate = 5}, QSize(400, 560)),
        document(DocumentSpec{.title = QStringLiteral("notes"), .extension = QStringLiteral("txt"), .tags = {QStringLiteral("ideas")}}, QSize()),
        document(DocumentSpec{.title = QStringLiteral("Invoice 0042"), .tags = {QStringLiteral("tax")}, .size = 88000, .label = 7, .rate = 1}, QSize(500, 700)),
    };
    showGrid(items, 760, 560);
    grid->selectItemIndexWithSectionIndexSets({KPSectionIndexSet(0, 2)});
    KPSectionItemView* hovered = itemView(0);
    ASSERT_NE(hovered, nullptr);
    paint(hovered);
    hovered->mouseEntered(hovered->actualFrameRect().center());
    clock.advance(KPSectionItemViewOverLayerToolBar::kFadeMs);

    const auto save = [&](const QString& name) {
        const QImage image = grid->grab().toImage();
        const QString path = QDir(QCoreApplication::applicationDirPath())
                                 .absoluteFilePath(QStringLiteral("../itemviews-%1%2.png").arg(name, image.devicePixelRatio() > 1 ? QStringLiteral("-2x") : QString()));
        EXPECT_TRUE(image.save(path)) << qPrintable(path);
        return image;
    };
    save(QStringLiteral("icons"));

    // The hover bar sits inside the frame of the hovered item, and every title lies inside its
    // item.
    KPSectionItemViewOverLayerToolBar* bar = hovered->overLayerToolBar();
    ASSERT_TRUE(bar && bar->isVisible());
    EXPECT_TRUE(QRect(QPoint(0, 0), hovered->size()).contains(bar->geometry()));
    for (KPCollectionItemView* view : grid->visibleItemViews()) {
        auto* item = static_cast<KPSectionItemView*>(view);
        const QRectF box(0, 0, item->width(), item->height());
        EXPECT_TRUE(box.contains(item->actualTextRect())) << qPrintable(item->itemData()->title());
    }

    hovered->mouseExited();
    settings().setDisplayMode(KPDisplayModeList);
    grid->reloadData();
    grid->selectItemIndexWithSectionIndexSets({KPSectionIndexSet(0, 1)});
    QApplication::processEvents();
    save(QStringLiteral("list"));
    for (KPCollectionItemView* view : grid->visibleItemViews()) {
        auto* row = static_cast<KPSectionItemView*>(view);
        EXPECT_LE(row->actualTextRect().right(), itemgeometry::listColumns(row->width()).titleWidth + 100);
    }
}
