// The end of a move into the SafeBox in the whole window over a scratch library: the moved
// documents fade out of the Documents grid while the save lists the node again, and exactly
// they leave it; the Documents badge counts what is left.
#include "../MainWindowTestSupport.h"

#include "Browser/CollectionView/KPCollectionItemView.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "MainWindow/MainWindowParts.h"
#include "MainWindow/Parts/GridDataSource.h"

#include <QAbstractAnimation>

namespace {

using namespace mainwindowtest;
using SafeBoxMoveInTheWindowTest = MainWindowFixture;

QStringList listedTitles(MainWindowContext& ctx)
{
    QStringList names;
    for (const KPSectionDataPtr& section : ctx.gridDataSource->dataSource())
        for (const KPSectionItem& item : section->datas())
            if (KPItemDataPtr document = item.itemData())
                names.append(document->data().title());
    names.sort();
    return names;
}

} // namespace

TEST_F(SafeBoxMoveInTheWindowTest, AMovedDocumentAloneLeavesTheDocumentsListAndTheBadgeCountsWhatIsLeft)
{
    for (const char* title : {"Alpha", "Beta", "Gamma", "Delta"})
        addDocument(QString::fromLatin1(title));
    ASSERT_TRUE(save());
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    const KPNode::Ptr documents = ctx.sideBarDataSource->documentsNode();
    sideBarView().selectNode(documents.get());
    ASSERT_TRUE(testsupport::spinUntil([&] { return ctx.state.shownNode == documents; }));
    ASSERT_TRUE(testsupport::spinUntil([&] { return documents->rightNumber() == 4; })) << documents->rightNumber();
    // Drawn (Alpha comes first), so the moved one fades out rather than going at once.
    ASSERT_TRUE(testsupport::spinUntil([&] { return !ctx.collectionView->visibleItemViews().isEmpty(); }));

    KPItemDataPtr alpha;
    for (const KPSectionDataPtr& section : ctx.gridDataSource->dataSource())
        for (const KPSectionItem& item : section->datas())
            if (item.itemData() && item.itemData()->data().title() == QStringLiteral("Alpha"))
                alpha = item.itemData();
    ASSERT_TRUE(alpha);
    // What the copy sheet hands back after a move of Alpha.
    c.parts().sideBarRequests.safeBoxCopyFinished({alpha}, true);

    // The fade has ended (its animation goes with it) and Alpha has left the list.
    ASSERT_TRUE(testsupport::spinUntil([&] {
        return ctx.collectionView->findChildren<QAbstractAnimation*>().isEmpty() && !listedTitles(ctx).contains(QStringLiteral("Alpha"));
    }));
    EXPECT_EQ(listedTitles(ctx), (QStringList{QStringLiteral("Beta"), QStringLiteral("Delta"), QStringLiteral("Gamma")}))
        << "the list lost a document that was not moved";
    EXPECT_TRUE(testsupport::spinUntil([&] { return documents->rightNumber() == 3; }))
        << "the Documents badge still says " << documents->rightNumber();
}
