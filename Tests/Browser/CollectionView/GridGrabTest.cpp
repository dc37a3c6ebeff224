#include "GridTestSupport.h"

#include <QDir>
#include <QVBoxLayout>

using namespace gridtest;

class GridGrab : public GridTest {};

// A window with a grid of titled sections and a selection, grabbed into the build folder
// (collectionview-grab.png, or collectionview-grab-2x.png on a scaled screen, and the same with a
// rubber band as collectionview-band*.png) to be looked at.
TEST_F(GridGrab, WritesTheWindowWithSectionsHeadersAndASelection)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    grid.setParent(&window);
    layout->addWidget(&grid);
    window.resize(720, 520);
    window.show();
    QApplication::processEvents();

    fake = std::make_unique<FakeGrid>(&grid, &titledLayout, true);
    fake->setSections({7, 3, 12});
    const QStringList titles{QStringLiteral("Reports"), QStringLiteral("Invoices"), QStringLiteral("Letters")};
    for (int s = 0; s < 3; ++s)
        fake->sections[s] = KPSectionData::create(titles[s], fake->sections[s]->datas());
    fake->sections[1]->setIsExpand(false);
    fake->configureItem = [](KPCollectionItemView* view, const KPSectionIndexSet& a) {
        static_cast<CountingItemView*>(view)->title = QStringLiteral("Doc %1.%2").arg(a.sectionIndex()).arg(a.itemIndex() + 1);
    };
    grid.reloadData();
    grid.selectItemIndexWithSectionIndexSets({KPSectionIndexSet(0, 1), KPSectionIndexSet(0, 2), KPSectionIndexSet(2, 0)});
    grid.verticalScrollBar()->setValue(60);

    const QImage image = window.grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    const QString path = QDir(QCoreApplication::applicationDirPath())
                             .absoluteFilePath(ratio > 1 ? QStringLiteral("../collectionview-grab-2x.png")
                                                         : QStringLiteral("../collectionview-grab.png"));
    ASSERT_TRUE(image.save(path)) << qPrintable(path);

    // The pinned header of section 0 is at the top, and the selected items are drawn as such.
    EXPECT_EQ(inViewport(grid.sectionViewWithIndex(0)->headerView()).top(), 0);
    const QPoint selected = inViewport(grid.itemViewWithIndexSet(KPSectionIndexSet(0, 1))).bottomLeft() + QPoint(4, -4);
    EXPECT_EQ(image.pixelColor(grid.viewport()->mapTo(&window, selected) * ratio), QColor(40, 110, 220));

    // A rubber band over the lower sections: drawn over them, taking what it covers.
    sendMouse(grid.viewport(), QEvent::MouseButtonPress, QPoint(400, 200), Qt::LeftButton, Qt::LeftButton);
    sendMouse(grid.viewport(), QEvent::MouseMove, QPoint(250, 330), Qt::NoButton, Qt::LeftButton);
    const QImage band = window.grab().toImage();
    ASSERT_TRUE(band.save(QString(path).replace(QStringLiteral("grab"), QStringLiteral("band"))));
    EXPECT_EQ(grid.selectedIndexs().size(), 2);
    const QPoint inside = grid.viewport()->mapTo(&window, QPoint(390, 320)) * ratio;
    const QPoint outside = grid.viewport()->mapTo(&window, QPoint(240, 320)) * ratio;
    EXPECT_NE(band.pixelColor(inside), image.pixelColor(inside));
    EXPECT_EQ(band.pixelColor(outside), image.pixelColor(outside));
    sendMouse(grid.viewport(), QEvent::MouseButtonRelease, QPoint(250, 330), Qt::LeftButton, Qt::NoButton);
    grid.setParent(nullptr);
}
