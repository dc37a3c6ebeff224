#include "ItemViewTestSupport.h"

#include "Browser/ItemViews/KPFlagPickerView.h"
#include "Browser/ItemViews/KPImportDraggingView.h"
#include "Browser/ItemViews/KPSectionAuthorItemView.h"
#include "Browser/ItemViews/KPSectionDateItemView.h"
#include "Browser/ItemViews/KPSectionFileTypeItemView.h"
#include "Browser/ItemViews/KPSectionFlagItemView.h"
#include "Browser/ItemViews/KPSectionItemViewOverLayerToolBar.h"
#include "Browser/ItemViews/SortViewSettingController.h"
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
    using browsertest::DocumentFields;
    const QList<KPItemDataPtr> items{
        document(DocumentFields{.title = QStringLiteral("Quarterly report 2014 for the board of directors"), .tags = {QStringLiteral("work"), QStringLiteral("finance")}, .size = 3400000, .label = 2, .rate = 4}, QSize(600, 800)),
        document(DocumentFields{.title = QStringLiteral("Holiday photos"), .extension = QStringLiteral("jpg"), .tags = {QStringLiteral("family")}, .size = 1536, .label = 5, .rate = 2}, QSize(800, 500)),
        document(DocumentFields{.title = QStringLiteral("Résumé – 履歴書"), .extension = QStringLiteral("docx"), .size = 500, .rate = 5}, QSize(400, 560)),
        document(DocumentFields{.title = QStringLiteral("notes"), .extension = QStringLiteral("txt"), .tags = {QStringLiteral("ideas")}}, QSize()),
        document(DocumentFields{.title = QStringLiteral("Invoice 0042"), .tags = {QStringLiteral("tax")}, .size = 88000, .label = 7, .rate = 1}, QSize(500, 700)),
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

// The pieces around the items side by side (itemviews-parts.png): the view-options popover,
// the flag picker with a hovered row, the import overlay and the four group tiles.
TEST_F(ItemViewsGrab, WritesThePopoversOverlayAndTiles)
{
    platform::kit::VirtualScheduler clock;
    QWidget board;
    board.resize(1000, 560);
    board.setAutoFillBackground(true);
    board.setPalette(QPalette(QColor(236, 236, 238)));

    SortViewSettingController sort;
    QWidget* sortView = sort.takeView();
    sortView->setParent(&board);
    sortView->move(10, 10);
    sortView->setAutoFillBackground(true);
    sortView->setPalette(QPalette(Qt::white));

    auto* picker = new KPFlagPickerView({}, &board);
    picker->move(230, 10);
    picker->setAutoFillBackground(true);
    picker->setPalette(QPalette(Qt::white));
    picker->showLayerByLabelIndex(3);
    QMouseEvent move(QEvent::MouseMove, QPointF(40, 30), picker->mapToGlobal(QPointF(40, 30)), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(picker, &move);
    clock.advance(KPFlagPickerView::kSlideMs);

    auto* overlay = new KPImportDraggingView(&board);
    overlay->setGeometry(390, 10, 600, 300);
    overlay->trackMousePoint(overlay->dragIconByIndex(1).center());

    auto* month = new KPSectionDateItemView(&board);
    month->setGeometry(10, 400, 120, 140);
    month->setItemData(MonthGroupRecord{QStringLiteral("2014"), QStringLiteral("3"), {document(QStringLiteral("March"), QSize())}});
    auto* flag = new KPSectionFlagItemView(&board);
    flag->setGeometry(150, 400, 120, 132);
    flag->setItemData(FlagGroupRecord{2, {}});
    auto* kind = new KPSectionFileTypeItemView(&board);
    kind->setGeometry(290, 380, 140, 160);
    kind->setItemData(FileTypeGroupRecord{1, 12});
    auto* author = new KPSectionAuthorItemView(&board);
    author->setGeometry(450, 330, 166, 210);
    authorNamed(QStringLiteral("Ada Lovelace"));
    author->setAuthor(authorNamed(QStringLiteral("Ada Lovelace")));

    board.show();
    QApplication::processEvents();
    const QImage image = board.grab().toImage();
    const QString path = QDir(QCoreApplication::applicationDirPath())
                             .absoluteFilePath(QStringLiteral("../itemviews-parts%1.png").arg(image.devicePixelRatio() > 1 ? QStringLiteral("-2x") : QString()));
    EXPECT_TRUE(image.save(path)) << qPrintable(path);
    EXPECT_TRUE(overlay->geometry().contains(overlay->mapTo(&board, platform::kit::toQt(overlay->dragIconByIndex(1), overlay->height()).toRect().topLeft())));
}
