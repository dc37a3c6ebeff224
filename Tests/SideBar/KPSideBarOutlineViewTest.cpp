#include "SideBarTestSupport.h"

#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/HeartBeat.h"
#include "Platform/Kit/Scheduler.h"
#include "SideBar/KPSideBarImageCell.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPThemeObject.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QScrollBar>
#include <QTest>

namespace {

using namespace sidebartest;
namespace T = SideBarNodeType;
using G = KPSideBarCellGeometry;

// A small side-bar tree made by hand, shown in an offscreen view with a recording delegate.
class OutlineViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = KPNode::create();
        library = section(QStringLiteral("LIBRARY"));
        documents = entry(library, QStringLiteral("Documents"), T::DocumentsNode);
        trash = entry(library, QStringLiteral("Trash"), T::TrashNode);
        folders = section(QStringLiteral("INDEX FOLDER"));
        indexFolder = entry(folders, QStringLiteral("Papers"), T::IndexFolderNode);
        sub = entry(indexFolder, QStringLiteral("2019"), T::SubIndexFolderNode);
        entry(sub, QStringLiteral("March"), T::SubIndexFolderNode);
        favorites = section(QStringLiteral("FAVORITES"));
        favorite = entry(favorites, QStringLiteral("Invoices"), T::FolderNode);

        model = std::make_unique<KPNodeTreeModel>(root);
        window.resize(240, 400);
        view = new KPSideBarOutlineView(&window);
        view->setGeometry(0, 0, 240, 400);
        view->setCustomThemeObject(KPThemeObject::customThemeObjectWithName(QStringLiteral("Sidebar")));
        view->setIsCoustomDrawTriangle(true);
        view->setNodeModel(model.get());
        KPSideBarOutlineViewDelegate d;
        d.shouldSelectItem = [this](KPSideBarOutlineView&, KPNode& node) {
            asked.append(node.title());
            return node.nodeType() != T::SectionNode;
        };
        d.selectionDidChange = [this](KPSideBarOutlineView& v) {
            reported.append(v.selectedNode() ? v.selectedNode()->title() : QStringLiteral("-"));
        };
        d.outlineViewMenuByIndexSet = [this](KPSideBarOutlineView& v, const std::optional<QList<int>>& rows) -> QMenu* {
            const QString name = rows ? v.nodeAtRow(rows->first())->title() : QStringLiteral("off rows");
            menusAsked.append(name);
            rowsAsked.append(rows.value_or(QList<int>{}));
            auto* menu = new QMenu;
            menu->addAction(name);
            return menu;
        };
        d.scrollRectChange = [this](KPSideBarOutlineView&, const QRect& rect) { restReports.append(rect); };
        view->setOutlineDelegate(d);
        view->setMenuPresenter([this](QMenu* menu, const QPoint&) {
            shownMenus.append(menu->actions().first()->text());
            delete menu;
        });
        view->expandAll();
        window.show();
    }

    KPNode::Ptr section(const QString& title)
    {
        auto node = KPNode::initWithTitle(title, T::SectionNode);
        root->addChild(node);
        return node;
    }
    KPNode::Ptr entry(const KPNode::Ptr& parent, const QString& title, int type)
    {
        auto node = KPNode::initWithTitle(title, type);
        parent->addChild(node);
        return node;
    }
    QPoint centreOf(const KPNode::Ptr& node) const { return view->visualRect(model->indexForNode(node.get())).center(); }
    // The viewport's pixels inside a rectangle of its coordinates, at any screen scale.
    QImage grab(const QRectF& rect)
    {
        const QImage image = view->viewport()->grab().toImage();
        const qreal scale = image.devicePixelRatio();
        return image.copy(QRectF(rect.topLeft() * scale, rect.size() * scale).toAlignedRect());
    }

    KPNode::Ptr root, library, documents, trash, folders, indexFolder, sub, favorites, favorite;
    std::unique_ptr<KPNodeTreeModel> model;
    QWidget window;
    KPSideBarOutlineView* view = nullptr;
    QStringList asked, reported, menusAsked, shownMenus;
    QList<QRect> restReports;
    QList<QList<int>> rowsAsked;
};

TEST_F(OutlineViewTest, ModelStaysConsistentThroughEveryKindOfChange)
{
    QStringList failures;
    static QStringList* sink = nullptr;
    sink = &failures;
    const auto previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type != QtDebugMsg && QByteArray(context.category).startsWith("qt.modeltest"))
            sink->append(text);
    });
    {
        QAbstractItemModelTester tester(model.get(), QAbstractItemModelTester::FailureReportingMode::Warning);
        model->appendChild(*library, KPNode::initWithTitle(QStringLiteral("Importing"), T::ImportingNode));
        model->insertChild(*root, KPNode::initWithTitle(QStringLiteral("SOURCE"), T::SectionNode), 1);
        // Moving a node announces its removal and its insertion.
        model->appendChild(*favorites, trash);
        model->removeChild(*indexFolder, sub.get());
        model->removeChild(*library, sub.get()); // not a child there: nothing
        model->removeAllChildren(*favorites);
        model->reset([&] { indexFolder->addChild(sub); });
        // A section not in the tree changes silently.
        auto detached = KPNode::initWithTitle(QStringLiteral("SHARED"), T::SectionNode);
        model->appendChild(*detached, KPNode::initWithTitle(QStringLiteral("x"), T::DocumentsNode));
        EXPECT_FALSE(model->indexForNode(detached->children().first().get()).isValid());
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(failures.isEmpty()) << failures.join('\n').toStdString();
    EXPECT_FALSE(model->flags(model->indexForNode(library.get())) & Qt::ItemIsSelectable);
    EXPECT_TRUE(model->flags(model->indexForNode(documents.get())) & Qt::ItemIsSelectable);
}

TEST_F(OutlineViewTest, ReloadKeepsSelectionAndExpansionWithoutTellingTheDelegate)
{
    view->selectNode(sub.get());
    EXPECT_EQ(reported, QStringList{QStringLiteral("2019")});
    view->collapseNode(favorites.get());
    view->reloadAll([&] {
        // Rows shift above the selected one: a row number would now name another node.
        library->insertChild(KPNode::initWithTitle(QStringLiteral("Importing"), T::ImportingNode), 0);
    });
    EXPECT_EQ(view->selectedNode(), sub.get());
    EXPECT_TRUE(view->isNodeExpanded(indexFolder.get()));
    EXPECT_TRUE(view->isNodeExpanded(sub.get()));
    EXPECT_FALSE(view->isNodeExpanded(favorites.get()));
    EXPECT_EQ(reported.size(), 1);
    EXPECT_TRUE(asked.isEmpty());

    // A row left open inside a closed one opens with it again after a reload.
    view->collapseNode(indexFolder.get());
    view->reloadAll();
    EXPECT_FALSE(view->isNodeExpanded(indexFolder.get()));
    view->expandNode(indexFolder.get());
    EXPECT_TRUE(view->isNodeExpanded(sub.get()));
    EXPECT_EQ(view->selectedNode(), sub.get());

    // A reload that takes the selected node away does report, once.
    view->reloadAll([&] { indexFolder->removeAllChildren(); });
    EXPECT_EQ(view->selectedNode(), nullptr);
    EXPECT_EQ(reported, (QStringList{QStringLiteral("2019"), QStringLiteral("-")}));
    // So does a step-by-step removal.
    view->selectNode(favorite.get());
    model->removeChild(*favorites, favorite.get());
    EXPECT_EQ(reported.last(), QStringLiteral("-"));
    EXPECT_EQ(reported.size(), 4);
}

TEST_F(OutlineViewTest, ReloadKeepsAWholeMultipleSelectionOrReportsWhatItLost)
{
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->selectNode(trash.get());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, centreOf(favorite));
    ASSERT_EQ(view->selectedRows().size(), 2);
    reported.clear();
    view->reloadAll([&] { library->insertChild(KPNode::initWithTitle(QStringLiteral("Importing"), T::ImportingNode), 0); });
    EXPECT_EQ(view->selectedRows(), (QList<int>{view->rowForNode(trash.get()), view->rowForNode(favorite.get())}));
    EXPECT_TRUE(reported.isEmpty());

    // Losing the second node keeps the first one selected but is still a change to report.
    view->reloadAll([&] { favorites->removeAllChildren(); });
    EXPECT_EQ(view->selectedRows(), QList<int>{view->rowForNode(trash.get())});
    EXPECT_EQ(reported, QStringList{QStringLiteral("Trash")});
}

TEST_F(OutlineViewTest, RowsCountOnlyWhatIsShown)
{
    // LIBRARY, Documents, Trash, INDEX FOLDER, Papers, 2019, March, FAVORITES, Invoices.
    EXPECT_EQ(view->numberOfRows(), 9);
    EXPECT_EQ(view->rowForNode(favorite.get()), 8);
    view->collapseNode(library.get());
    view->collapseNode(sub.get());
    EXPECT_EQ(view->numberOfRows(), 6);
    EXPECT_EQ(view->rowForNode(indexFolder.get()), 2);
    EXPECT_EQ(view->nodeAtRow(5), favorite.get());
    EXPECT_EQ(view->rowForNode(trash.get()), -1); // inside a collapsed section
    EXPECT_EQ(view->nodeAtRow(6), nullptr);
    EXPECT_EQ(view->nodeAtRow(-1), nullptr);
}

TEST_F(OutlineViewTest, BadgeTitleAndTriangleGeometry)
{
    const QRectF frame(24, 100, 200, 24);
    EXPECT_EQ(G::badgeRect(frame, frame.right(), 7).width(), 20);   // one digit
    EXPECT_EQ(G::badgeRect(frame, frame.right(), 12).width(), 20);
    EXPECT_EQ(G::badgeRect(frame, frame.right(), 19.4).width(), 27);
    EXPECT_EQ(G::badgeRect(frame, frame.right(), 7).right(), frame.right() - 4);
    EXPECT_EQ(G::triangleRect(frame), QRectF(18, 107, 10, 10));
    EXPECT_EQ(G::warningRect(frame, frame.right()).right(), frame.right() - 4);

    // The title stops before whatever the right end shows, and takes all the room otherwise.
    KPSideBarImageCell* cell = view->cell();
    auto node = KPNode::initWithTitle(QStringLiteral("A rather long folder name that will not fit"), T::FolderNode);
    const qreal plain = cell->titleRectForNode(*node, frame).right();
    EXPECT_EQ(plain, frame.right() - 2);
    node->setRightNumber(7);
    const QRectF withBadge = cell->titleRectForNode(*node, frame);
    EXPECT_LE(withBadge.right(), cell->badgeRectForNumber(7, frame, false).left());
    node->setRightNumber(0);
    node->setBoolShowWarning(true);
    EXPECT_LE(cell->titleRectForNode(*node, frame).right(), G::warningRect(frame, frame.right()).left());
    node->setBoolShowWarning(false);
    node->setIsBusy(true);
    EXPECT_LE(cell->titleRectForNode(*node, frame).right(), G::spinnerRect(frame, frame.right()).left());
    node->setIsBusy(false);
    // A header's count stands left of its "+", and the title left of both.
    node->setBoolShowRightButton(true);
    node->setRightNumber(42);
    const QRectF button = G::rightButtonRect(frame, frame.right());
    const QRectF badge = cell->badgeRectForNode(*node, frame, false);
    EXPECT_LT(badge.right(), button.left());
    EXPECT_LE(cell->titleRectForNode(*node, frame).right(), badge.left());
}

TEST_F(OutlineViewTest, BadgeShowsOnlyForAPositiveCountAndNothingElse)
{
    using RightEnd = KPSideBarImageCell::RightEnd;
    auto node = KPNode::initWithTitle(QStringLiteral("x"), T::FolderNode);
    EXPECT_EQ(KPSideBarImageCell::rightEndOf(*node), RightEnd::None);
    node->setRightNumber(-3);
    EXPECT_EQ(KPSideBarImageCell::rightEndOf(*node), RightEnd::None);
    node->setRightNumber(3);
    EXPECT_EQ(KPSideBarImageCell::rightEndOf(*node), RightEnd::Badge);
    node->setIsBusy(true);
    EXPECT_EQ(KPSideBarImageCell::rightEndOf(*node), RightEnd::Spinner);
    node->setBoolShowWarning(true);
    EXPECT_EQ(KPSideBarImageCell::rightEndOf(*node), RightEnd::Warning);
    node->setIsBusy(false);
    node->setBoolShowWarning(false);
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setBool(false, QStringLiteral("Bool_ShowSideBarItemCount"));
    KPSideBarImageCell::updateDrawNumberCount();
    EXPECT_EQ(KPSideBarImageCell::rightEndOf(*node), RightEnd::None);
    defaults.removeObjectForKey(QStringLiteral("Bool_ShowSideBarItemCount"));
    KPSideBarImageCell::updateDrawNumberCount();
    EXPECT_EQ(KPSideBarImageCell::rightEndOf(*node), RightEnd::Badge);

    // Drawn: the badge's place differs from an empty row's only while it shows.
    const QRectF frame = view->visualRect(model->indexForNode(documents.get()));
    const QRectF place = view->cell()->badgeRectForNumber(3, frame, false);
    // Left of the spinner, less the pixel its antialiased spokes may touch.
    const QRectF beside(place.topLeft(), QPointF(G::spinnerRect(frame, frame.right()).left() - 1, place.bottom()));
    const QImage empty = grab(place);
    const QImage emptyBeside = grab(beside);
    documents->setRightNumber(3);
    view->reloadItem(documents.get());
    EXPECT_NE(grab(place), empty);
    documents->setIsBusy(true);
    view->reloadItem(documents.get());
    EXPECT_EQ(grab(beside), emptyBeside);
}

TEST_F(OutlineViewTest, ATreeWithoutThemeGroupUsesTheBuiltInLook)
{
    view->setCustomThemeObject(nullptr);
    view->reloadAll();
    view->expandAll();
    documents->setRightNumber(4);
    view->selectNode(documents.get());
    EXPECT_EQ(view->visualRect(model->indexForNode(library.get())).height(), KPSideBarImageCell::kSectionRowHeight);
    EXPECT_EQ(view->visualRect(model->indexForNode(documents.get())).height(), KPSideBarImageCell::kDefaultRowHeight);
    EXPECT_EQ(view->cell()->numberFill(true), KPSideBarImageCell::kSelectedBadgeFill);
    // The selected row is still told from the others.
    const QRectF row = view->visualRect(model->indexForNode(documents.get()));
    EXPECT_NE(grab(QRectF(row.right() - 40, row.y(), 1, 1)).pixelColor(0, 0),
              grab(QRectF(row.right() - 40, row.y() + row.height(), 1, 1)).pixelColor(0, 0));
}

TEST_F(OutlineViewTest, TrianglesOnlyOnIndexFolderRowsWithChildren)
{
    // The part of the triangle left of the row's frame, where nothing else is drawn.
    const auto triangleOf = [&](const KPNode::Ptr& node) {
        const QRectF frame = view->visualRect(model->indexForNode(node.get()));
        const QRectF triangle = G::triangleRect(frame);
        return grab(QRectF(triangle.topLeft(), QPointF(frame.left(), triangle.bottom())));
    };
    const auto blank = [&](const KPNode::Ptr& node) {
        const QImage img = triangleOf(node);
        const QColor bg = view->backgroundColor();
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixelColor(x, y) != bg)
                    return false;
        return true;
    };
    EXPECT_FALSE(blank(indexFolder));
    EXPECT_FALSE(blank(sub));
    favorite->addChild(KPNode::initWithTitle(QStringLiteral("inner"), T::FolderNode));
    model->reset();
    view->expandAll();
    EXPECT_TRUE(blank(favorite)); // a folder, not an index folder
    const QImage expanded = triangleOf(indexFolder);
    view->collapseNode(indexFolder.get());
    EXPECT_NE(triangleOf(indexFolder), expanded);
    model->reset([&] { indexFolder->removeAllChildren(); });
    view->expandAll();
    EXPECT_TRUE(blank(indexFolder));

    // A click on the triangle opens and closes the row; beside it, it only selects.
    model->reset([&] { indexFolder->addChild(sub); });
    view->expandAll();
    const QRectF frame = view->visualRect(model->indexForNode(indexFolder.get()));
    const QPoint onTriangle = G::triangleRect(frame).center().toPoint();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, onTriangle);
    EXPECT_FALSE(view->isNodeExpanded(indexFolder.get()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, onTriangle, 1000);
    EXPECT_TRUE(view->isNodeExpanded(indexFolder.get()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, frame.center().toPoint(), 1000);
    EXPECT_TRUE(view->isNodeExpanded(indexFolder.get()));
    EXPECT_EQ(view->selectedNode(), indexFolder.get());
}

TEST_F(OutlineViewTest, HoverDimsTheWarningOfTheRowUnderTheMouse)
{
    trash->setBoolShowWarning(true);
    const QRectF frame = view->visualRect(model->indexForNode(trash.get()));
    const QRectF warning = G::warningRect(frame, frame.right());
    const QImage plain = grab(warning);
    QTest::mouseMove(view->viewport(), centreOf(trash));
    EXPECT_TRUE(trash->boolShowWarningIn());
    EXPECT_EQ(view->lastMovedNode(), trash.get());
    EXPECT_NE(grab(warning), plain);
    QTest::mouseMove(view->viewport(), centreOf(documents));
    EXPECT_FALSE(trash->boolShowWarningIn());
    EXPECT_TRUE(documents->boolShowWarningIn());
    EXPECT_EQ(grab(warning), plain);
}

TEST_F(OutlineViewTest, ContextMenusFollowTheSelectionRules)
{
    view->selectNode(documents.get());
    reported.clear();
    // A header refuses to be selected: no menu, selection unchanged.
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, centreOf(folders));
    EXPECT_TRUE(shownMenus.isEmpty());
    EXPECT_EQ(view->selectedNode(), documents.get());

    // A Meta-click is a right click: the row is selected and its menu shown.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::MetaModifier, centreOf(trash));
    EXPECT_EQ(shownMenus, QStringList{QStringLiteral("Trash")});
    EXPECT_EQ(view->selectedNode(), trash.get());
    EXPECT_EQ(reported, QStringList{QStringLiteral("Trash")});

    // Ctrl-click keeps its selection meaning: no menu.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, centreOf(favorite));
    EXPECT_EQ(shownMenus.size(), 1);
    EXPECT_EQ(view->selectedNode(), favorite.get());

    // Off the rows the menu is asked without rows.
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, QPoint(100, 390));
    EXPECT_EQ(menusAsked.last(), QStringLiteral("off rows"));

    // Clicking a header leaves the selection alone; the user's selections are asked first.
    asked.clear();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centreOf(library));
    EXPECT_EQ(view->selectedNode(), favorite.get());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centreOf(documents));
    EXPECT_EQ(asked, (QStringList{QStringLiteral("Documents")}));
    EXPECT_EQ(view->selectedNode(), documents.get());
}

TEST_F(OutlineViewTest, ARightClickInsideAMultipleSelectionAsksForAllOfIt)
{
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->selectNode(documents.get());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, centreOf(trash));
    const QList<int> both{view->rowForNode(documents.get()), view->rowForNode(trash.get())};
    ASSERT_EQ(view->selectedRows(), both);

    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, centreOf(trash));
    EXPECT_EQ(view->selectedRows(), both);
    EXPECT_EQ(rowsAsked.last(), both);
    // The menu key asks for the same whole selection.
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint());
    QCoreApplication::sendEvent(view->viewport(), &key);
    EXPECT_EQ(rowsAsked.last(), both);
    EXPECT_EQ(shownMenus.size(), 2);

    // Outside the selection the clicked row alone is selected and asked for.
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, centreOf(favorite));
    EXPECT_EQ(view->selectedNode(), favorite.get());
    EXPECT_EQ(rowsAsked.last(), QList<int>{view->rowForNode(favorite.get())});
}

TEST_F(OutlineViewTest, BusyRowsSpinOnTheBeatUntilTheyStop)
{
    platform::kit::VirtualScheduler clock;
    auto& beat = platform::kit::HeartBeat::shared();
    EXPECT_FALSE(beat.contains(view));
    trash->setIsBusy(true);
    view->reloadItem(trash.get());
    EXPECT_TRUE(beat.contains(view));
    // Half a turn a half second.
    clock.advance(500);
    EXPECT_EQ(trash->spinnerPhase(), 6);
    // A busy row hidden in a collapsed section needs no beat; it spins again when shown.
    view->collapseNode(library.get());
    clock.advance(200);
    EXPECT_FALSE(beat.contains(view));
    view->expandNode(library.get());
    EXPECT_TRUE(beat.contains(view));
    trash->setIsBusy(false);
    clock.advance(200);
    EXPECT_FALSE(beat.contains(view));
    EXPECT_EQ(trash->spinnerPhase(), 0);
}

TEST_F(OutlineViewTest, ScrollingReportsOnceItHasRestedForAThirdOfASecond)
{
    platform::kit::VirtualScheduler clock;
    view->setGeometry(0, 0, 240, 90);
    for (int i = 0; i < 30; ++i)
        model->appendChild(*favorites, KPNode::initWithTitle(QStringLiteral("f%1").arg(i), T::FolderNode));
    QCoreApplication::processEvents();
    ASSERT_GT(view->verticalScrollBar()->maximum(), 0);
    view->verticalScrollBar()->setValue(40);
    clock.advance(200);
    view->verticalScrollBar()->setValue(80);
    clock.advance(299);
    EXPECT_TRUE(restReports.isEmpty());
    clock.advance(1);
    ASSERT_EQ(restReports.size(), 1);
    EXPECT_EQ(restReports.first().y(), 80);
    clock.advance(1000);
    EXPECT_EQ(restReports.size(), 1);

    // A view whose rows all fit does not report.
    restReports.clear();
    view->setGeometry(0, 0, 240, 2000);
    QCoreApplication::processEvents();
    view->verticalScrollBar()->setValue(10);
    clock.advance(1000);
    EXPECT_TRUE(restReports.isEmpty());
}

} // namespace
