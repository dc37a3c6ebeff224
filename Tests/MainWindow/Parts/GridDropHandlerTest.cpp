#include "../../SideBar/SubSideBarTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/KPImportDraggingView.h"
#include "Import/KPImportKeys.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDropHandler.h"
#include "MainWindow/Parts/ImportFlow.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/Scheduler.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

using namespace sidebartest;
namespace K = KPImportKeys;

namespace {

class GridDropHandlerTest : public SubSideBarFixture {
protected:
    void SetUp() override
    {
        SubSideBarFixture::SetUp();
        open();
        center.resize(800, 600);
        center.show();
        grid = new KPCollectionView(&center);
        grid->setGeometry(0, 0, 800, 600);
        ctx.centerView = &center;
        ctx.collectionView = grid;
        ctx.sideBarDataSource = source.get();
        ctx.notifications = &platform::NotificationCenter::defaultCenter();
        ctx.scheduler = &scheduler;
        handler = std::make_unique<GridDropHandler>(ctx);
        handler->previews = [](const QString&, const QSize& box) {
            QImage image(box, QImage::Format_ARGB32);
            image.fill(Qt::gray);
            return image;
        };
        handler->askImportTags = [this](QWidget*, GridDropHandler::TagAnswer answer) { tagAnswer = std::move(answer); };
    }
    void TearDown() override
    {
        handler.reset();
        SubSideBarFixture::TearDown();
    }

    std::unique_ptr<QMimeData> files(int count, bool fromGrid = false)
    {
        auto mime = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (int i = 0; i < count; ++i)
            urls.append(QUrl::fromLocalFile(disk + QStringLiteral("/f%1.pdf").arg(i)));
        mime->setUrls(urls);
        if (fromGrid)
            mime->setData(platform::kit::pasteboard::kDragResourceItemsToNode, {});
        return mime;
    }
    // A point over icon (0 or 1) of the overlay, or away from both (-1), in the grid's
    // coordinates (the overlay lies over the grid at the same origin).
    QPointF pointOver(int icon) const
    {
        if (icon < 0)
            return {5, 5};
        const QRectF up = handler->draggingView()->dragIconByIndex(icon);
        return {up.center().x(), handler->draggingView()->height() - up.center().y()};
    }
    // Enters, moves over icon and drops, with modifiers at the drop.
    void dropOn(int icon, const QMimeData& mime, Qt::KeyboardModifiers modifiers = {})
    {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        handler->draggingEnter(&enter);
        ASSERT_TRUE(handler->draggingView());
        QDragMoveEvent move(pointOver(icon).toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, {});
        handler->draggingUpdated(&move);
        QDropEvent drop(pointOver(icon), Qt::CopyAction, &mime, Qt::LeftButton, modifiers);
        ASSERT_TRUE(handler->performDragOperation(&drop));
        handler->concludeDragOperation(&drop);
    }

    platform::kit::VirtualScheduler scheduler;
    QWidget center;
    KPCollectionView* grid = nullptr;
    MainWindowContext ctx;
    std::unique_ptr<GridDropHandler> handler;
    GridDropHandler::TagAnswer tagAnswer;
};

} // namespace

TEST_F(GridDropHandlerTest, TheGridsOwnDocumentsAreRefusedAndTheGridComesBackOnLeave)
{
    auto mime = files(2, true);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    EXPECT_EQ(handler->draggingEnter(&enter), Qt::IgnoreAction);
    EXPECT_FALSE(grid->enabled()) << "no selection or scrolling under a drag";
    QDragMoveEvent move(QPoint(100, 100), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    EXPECT_EQ(handler->draggingUpdated(&move), Qt::IgnoreAction);
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    EXPECT_FALSE(handler->performDragOperation(&drop)) << "dropped back on the grid, they are not imported again";
    EXPECT_TRUE(grid->enabled());

    handler->draggingEnter(&enter);
    handler->draggingExited();
    EXPECT_TRUE(grid->enabled());
    EXPECT_FALSE(handler->draggingView());
    EXPECT_TRUE(imports.isEmpty());
}

TEST_F(GridDropHandlerTest, APlainDropImportsIntoTheLibraryOrTheChosenCollectionAndShiftMoves)
{
    view->selectNode(source->documentsNode().get());
    auto mime = files(2);
    dropOn(-1, *mime);
    ASSERT_EQ(imports.size(), 1);
    EXPECT_EQ(imports[0].value(K::Paths).toStringList().size(), 2);
    EXPECT_TRUE(imports[0].value(ImportFlow::kBoolImportToDocument).toBool());
    EXPECT_FALSE(imports[0].value(K::CMD).toBool());
    EXPECT_FALSE(handler->draggingView());
    EXPECT_TRUE(grid->enabled());

    view->selectNode(source->collectionsNode().get());
    dropOn(-1, *mime, Qt::ShiftModifier);
    ASSERT_EQ(imports.size(), 2);
    EXPECT_FALSE(imports[1].value(ImportFlow::kBoolImportToDocument).toBool());
    EXPECT_TRUE(imports[1].value(K::CMD).toBool()) << "Shift at the drop moves the files";

    // The new-folder icon.
    dropOn(1, *mime);
    ASSERT_EQ(imports.size(), 3);
    EXPECT_TRUE(imports[2].value(K::DoNewFolderAction).toBool());
    EXPECT_FALSE(imports[2].value(K::NewFolderName).toString().isEmpty());

    // A drop carrying no local file imports nothing.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.invalid/a.pdf"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &web, Qt::LeftButton, {});
    EXPECT_EQ(handler->draggingEnter(&enter), Qt::IgnoreAction);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &web, Qt::LeftButton, {});
    EXPECT_FALSE(handler->performDragOperation(&drop));
    EXPECT_EQ(imports.size(), 3);
}

TEST_F(GridDropHandlerTest, TheTagIconStacksUpToThreePreviewsThenAsksForTagsAfterASecond)
{
    // An empty library's view covers the grid: the stack and its popover must lie above it.
    QWidget cover(&center);
    cover.setGeometry(grid->geometry());
    cover.show();
    auto five = files(5);
    dropOn(0, *five, Qt::ShiftModifier);
    ASSERT_TRUE(handler->thumbStackView());
    const QRect stackArea = handler->thumbStackView()->geometry();
    EXPECT_TRUE(grid->geometry().contains(stackArea.center())) << "the stack lies over the grid";
    // Siblings stack in the order of their parent's children, the last on top.
    const QObjectList order = center.children();
    EXPECT_GT(order.indexOf(handler->thumbStackView()), order.indexOf(&cover)) << "the stack is hidden under the cover";
    ASSERT_TRUE(testsupport::spinUntil([&] { return handler->thumbStackView()->cardCount() == 3; }));
    KPThumbStackView* stack = handler->thumbStackView();
    EXPECT_EQ(stack->rotationOf(0), 0);
    EXPECT_EQ(stack->rotationOf(1), KPThumbStackView::kTurnDegrees);
    EXPECT_EQ(stack->rotationOf(2), -KPThumbStackView::kTurnDegrees);
    EXPECT_EQ(stack->paintOrder(), (QList<int>{1, 0, 2}));
    EXPECT_TRUE(handler->draggingView()) << "the overlay stays while the tags are chosen";

    scheduler.advance(GridDropHandler::kTagPopoverDelayMs - 1);
    EXPECT_FALSE(tagAnswer);
    scheduler.advance(1);
    ASSERT_TRUE(tagAnswer);
    // The cards have fallen into view.
    EXPECT_GT(stack->cardRect(0).top(), 0);
    tagAnswer(1, {QStringLiteral("red"), QStringLiteral("blue")});
    ASSERT_EQ(imports.size(), 1);
    EXPECT_EQ(imports[0].value(K::NewTags).toStringList(), (QStringList{QStringLiteral("red"), QStringLiteral("blue")}));
    EXPECT_EQ(imports[0].value(K::Paths).toStringList().size(), 5);
    EXPECT_TRUE(imports[0].value(K::CMD).toBool());
    EXPECT_FALSE(handler->draggingView());

    // One file: one card, straight. Cancelled: nothing imported.
    tagAnswer = {};
    auto one = files(1);
    dropOn(0, *one);
    ASSERT_TRUE(testsupport::spinUntil([&] { return handler->thumbStackView() && handler->thumbStackView()->cardCount() == 1; }));
    EXPECT_EQ(handler->thumbStackView()->rotationOf(0), 0);
    scheduler.advance(GridDropHandler::kTagPopoverDelayMs);
    ASSERT_TRUE(tagAnswer);
    tagAnswer(0, {QStringLiteral("red")});
    EXPECT_EQ(imports.size(), 1);
    EXPECT_FALSE(handler->draggingView());

    // Import pressed without typing a tag: the files come in, untagged.
    tagAnswer = {};
    auto untagged = files(2);
    dropOn(0, *untagged);
    scheduler.advance(GridDropHandler::kTagPopoverDelayMs);
    ASSERT_TRUE(tagAnswer);
    tagAnswer(1, {});
    ASSERT_EQ(imports.size(), 2);
    EXPECT_EQ(imports[1].value(K::Paths).toStringList().size(), 2);
    EXPECT_TRUE(imports[1].value(K::NewTags).toStringList().isEmpty());
    EXPECT_FALSE(imports[1].value(K::CMD).toBool());
}
