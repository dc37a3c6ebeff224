#include "SideBarRequestsFixture.h"

#include <QCoreApplication>

using namespace sidebartest;
using platform::kit::Alert;
using platform::kit::RecordingDialogService;

using SideBarRequestsTest = SideBarRequestsFixture;

TEST_F(SideBarRequestsTest, DocumentsDroppedOnTheirOwnFolderStayAndOnAnotherLeaveTheGridThenRecount)
{
    showAndSelectAll(QStringLiteral("A"));
    ASSERT_EQ(listedCount(), 2);
    requests->onSubSideBarMoveRecordToNode(node(QStringLiteral("A")));
    runAnimations();
    EXPECT_EQ(d1.node(), folderA);
    EXPECT_EQ(listedCount(), 2) << "nothing leaves the grid";
    EXPECT_TRUE(recounts.isEmpty());

    requests->onSubSideBarMoveRecordToNode(node(QStringLiteral("B")));
    EXPECT_EQ(d1.node(), folderB);
    EXPECT_EQ(d2.node(), folderB);
    EXPECT_TRUE(recounts.isEmpty()) << "the recount waits for the removal";
    runAnimations();
    EXPECT_EQ(recounts, QStringList{QStringLiteral("<nil>")});
    EXPECT_EQ(listedCount(), 0) << "A is shown again, now empty";
    EXPECT_TRUE(folderB.files().contains(d1));
}

TEST_F(SideBarRequestsTest, DroppedOnACollectionTheDocumentsGetANewFolderThere)
{
    showAndSelectAll(QStringLiteral("B"));
    const int before = int(node(QStringLiteral("Work"))->children().size());
    requests->onSubSideBarMoveRecordToNode(node(QStringLiteral("Work")));
    const KPNode::Ptr collection = node(QStringLiteral("Work"));
    ASSERT_EQ(int(collection->children().size()), before + 1);
    EXPECT_NE(d3.node(), folderB);
    EXPECT_EQ(d3.node().parent(), work);
}

TEST_F(SideBarRequestsTest, ATagDropAddsTheTagAndUntaggedClearsAllWithTheFileAttributesRewritten)
{
    showAndSelectAll(QStringLiteral("A"));
    ASSERT_TRUE(tagNode(QStringLiteral("blue")));
    requests->onSubSideBarMoveRecordToNode(tagNode(QStringLiteral("blue")));
    EXPECT_TRUE(d1.tags().contains(blue));
    EXPECT_TRUE(d2.tags().contains(blue));
    EXPECT_TRUE(fileTags(d2).contains(QStringLiteral("blue")));
    EXPECT_EQ(recounts.size(), 1);

    requests->onSubSideBarMoveRecordToNode(sub->untagNode());
    EXPECT_TRUE(d1.tags().isEmpty());
    EXPECT_FALSE(fileTags(d1).contains(QStringLiteral("red")));
    EXPECT_FALSE(fileTags(d1).contains(QStringLiteral("blue")));
    EXPECT_EQ(d3.tags().size(), 2) << "only the selection changes";
}

TEST_F(SideBarRequestsTest, DeletingAsksOnlyWhenSomethingBelowHoldsDocumentsAndCountsWhenBadgesAreOff)
{
    // Badges on: an empty folder goes at once.
    requests->onSubSideBarRemoveNode(node(QStringLiteral("Empty")));
    EXPECT_TRUE(dialogs.requests().isEmpty());
    EXPECT_FALSE(node(QStringLiteral("Empty")));

    // The collection holds documents only in its folders: asked; cancelled, it stays.
    node(QStringLiteral("A"))->setRightNumber(2);
    dialogs.scriptAlert(Alert::kAlternateReturn);
    requests->onSubSideBarRemoveNode(node(QStringLiteral("Work")));
    ASSERT_EQ(dialogs.requests().size(), 1);
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.requests().last().answered; }));
    EXPECT_TRUE(node(QStringLiteral("Work")));

    // Tags with badges 0, 0 and 2: one question for all of them.
    const QList<KPNode::Ptr> tags{tagNode(QStringLiteral("red")), tagNode(QStringLiteral("blue"))};
    tags[1]->setRightNumber(2);
    dialogs.scriptAlert(Alert::kDefaultReturn);
    requests->onSubSideBarRemoveNodes(tags);
    ASSERT_EQ(dialogs.requests().size(), 2);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !tagNode(QStringLiteral("blue")); }));
    EXPECT_FALSE(tagNode(QStringLiteral("red")));

    // Badges off: the stale 0 of a folder with documents does not count; the store does.
    platform::UserDefaults::standardUserDefaults().setBool(false, BadgeRecountDriver::kShowItemCountKey);
    node(QStringLiteral("A"))->setRightNumber(0);
    EXPECT_TRUE(requests->holdsDocuments(node(QStringLiteral("A"))));
    EXPECT_TRUE(requests->holdsDocuments(node(QStringLiteral("Work"))));
    dialogs.scriptAlert(Alert::kAlternateReturn);
    requests->onSubSideBarRemoveNode(node(QStringLiteral("A")));
    EXPECT_EQ(dialogs.requests().size(), 3);
}

TEST_F(SideBarRequestsTest, PutBackRestoresTheDocumentsStillThereAndRecounts)
{
    d1.setIsTrash(true);
    d2.setIsTrash(true);
    save();
    view->selectNode(source->trashNode().get());
    requests->onSideBarPuckback({d1.URIString(), QStringLiteral("x-folivo-store://gone/DBFileInfo/p99999"),
                                 QStringLiteral("not a uri")});
    EXPECT_FALSE(d1.isTrash());
    EXPECT_TRUE(d2.isTrash());
    EXPECT_EQ(recounts, QStringList{QStringLiteral("<nil>")});
}

TEST_F(SideBarRequestsTest, TheSafeBoxTakesDropsOnlyWhenOpenAndAMoveMarksTheDocumentsForDeletion)
{
    showAndSelectAll(QStringLiteral("A"));
    int asked = 0;
    requests->copyToSafeBox = [&](const QString&, const QList<KPItemDataPtr>& sources, auto done) {
        ++asked;
        done(sources.mid(0, 1), copyMoves);
    };
    requests->onSideBarMoveDataToSafeBox();
    EXPECT_EQ(asked, 0) << "no SafeBox open";

    safeBox.attached = disk;
    requests->onSideBarMoveDataToSafeBox();
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(d1.isTrash() || d2.isTrash()) << "a copy leaves the library as it was";
    EXPECT_EQ(safeBox.refreshes, 1);

    copyMoves = true;
    requests->onSideBarMoveDataToSafeBox();
    runAnimations();
    const int moved = int(d1.isTrash()) + int(d2.isTrash());
    EXPECT_EQ(moved, 1) << "only what was copied";
    EXPECT_TRUE(d1.isNeedDelete() || d2.isNeedDelete());
    EXPECT_EQ(listedCount(), 1);
}

TEST_F(SideBarRequestsTest, AMoveIntoTheSafeBoxTakesTheMovedDocumentsOutOfTheLibraryAndRecounts)
{
    content->install();
    view->selectNode(source->documentsNode().get());
    content->onSideBarNodeChange(source->documentsNode());
    ASSERT_EQ(listedCount(), 3);
    grid->selectAll();
    safeBox.attached = QStringLiteral("/run/box");
    QList<KPItemDataPtr> moved;
    requests->copyToSafeBox = [&](const QString&, const QList<KPItemDataPtr>& sources, auto done) {
        moved = sources.mid(0, 1);
        done(moved, true);
    };
    requests->onSideBarMoveDataToSafeBox();
    ASSERT_EQ(moved.size(), 1);
    EXPECT_TRUE(moved.first()->data().isDeleted()) << "the record leaves the library with the move";
    EXPECT_TRUE(recounts.contains(QStringLiteral("<nil>"))) << "the Documents badge is counted again";
    ASSERT_TRUE(testsupport::spinUntil([&] { return listedCount() == 2; }));
    runAnimations();
    QCoreApplication::processEvents();
    EXPECT_EQ(listedCount(), 2);
}
