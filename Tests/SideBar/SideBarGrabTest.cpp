#include "SideBarTestSupport.h"

#include "SideBar/KPSideBarImageCell.h"

#include <QCoreApplication>
#include <QUrl>

namespace {

using namespace sidebartest;

class SideBarGrabTest : public SideBarFixture {};

// The whole side bar over a small library, written to the build folder for a look, and
// checked for titles cut short.
TEST_F(SideBarGrabTest, FullSideBarDrawsEveryTitleWhole)
{
    const QString papers = disk + QStringLiteral("/Papers");
    for (const char* f : {"/r1.pdf", "/2019/March/m1.pdf", "/2019/March/m2.pdf", "/2020/x.pdf"})
        testsupport::writeFile(papers + QLatin1String(f), "%PDF-1.4 not really");
    const QString scores = disk + QStringLiteral("/Scores");
    testsupport::writeFile(scores + QStringLiteral("/Bach/bwv1.pdf"), "%PDF-1.4 not really");
    addIndexFolderRow(papers);
    addIndexFolderRow(scores);
    addIndexFolderRow(disk + QStringLiteral("/Old Drive"), IndexFolderType::Folder, false);
    const DBNode folder = addNode(QStringLiteral("Invoices"), DBNode::Folder, addNode(QStringLiteral("W"), DBNode::Collection));
    addFavorite(folder, DBFavorite::kDataTypeNode);
    addFavorite(addTag(QStringLiteral("urgent")), DBFavorite::kDataTypeTag);
    save();
    window->show();
    open();
    const KPNode::Ptr papersNode = childTitled(source->indexFolderNode(), QStringLiteral("Papers"));
    ASSERT_TRUE(papersNode);
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return papersNode->hasChildren() && !papersNode->isBusy() &&
               !childTitled(source->indexFolderNode(), QStringLiteral("Scores"))->isBusy();
    }, 180000));

    source->documentsNode()->setRightNumber(1234);
    source->trashNode()->setRightNumber(3);
    source->favoritesNode()->children().last()->setRightNumber(7);
    source->showImportingNode(true);
    const KPNode::Ptr y2019 = childTitled(papersNode, QStringLiteral("2019"));
    ASSERT_TRUE(y2019);
    view->expandNode(papersNode.get());
    view->expandNode(y2019.get());
    const KPNode::Ptr march = childTitled(y2019, QStringLiteral("March"));
    view->selectNode(march.get());
    EXPECT_EQ(march->rightNumber(), 2);

    // A reload keeps what is open and what is selected.
    source->updateRootNodeStatus();
    EXPECT_EQ(view->selectedNode(), march.get());
    EXPECT_TRUE(view->isNodeExpanded(y2019.get()));
    EXPECT_TRUE(view->isNodeExpanded(source->favoritesNode().get()));

    const bool scaled = window->devicePixelRatioF() > 1;
    const QImage image = window->grab().toImage();
    const QString out = QCoreApplication::applicationDirPath() +
                        (scaled ? QStringLiteral("/../sidebar-grab@2x.png") : QStringLiteral("/../sidebar-grab.png"));
    EXPECT_TRUE(image.save(out));
    EXPECT_EQ(image.size(), window->size() * window->devicePixelRatioF());

    // Every row's title fits the room its row leaves it.
    KPSideBarImageCell* cell = view->cell();
    for (int row = 0; row < view->numberOfRows(); ++row) {
        const KPNode* node = view->nodeAtRow(row);
        const QRectF frame = view->frameOfRow(row);
        const QRectF title = cell->titleRectForNode(*node, frame);
        const auto attrs = cell->titleAttributes(*node, view->selectedNode() == node);
        EXPECT_LE(platform::kit::textSize(node->title(), attrs).width() + KPSideBarCellGeometry::kTitleHeadIndent,
                  title.width())
            << qPrintable(node->title());
        EXPECT_LE(title.right(), frame.right());
    }
    source->showImportingNode(false);
}

} // namespace
