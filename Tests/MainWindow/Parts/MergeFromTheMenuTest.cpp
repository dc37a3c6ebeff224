// Document › Merge PDF Documents through the whole window over a scratch library, with the real
// merge sheet: two real PDFs selected in Documents become one new document holding every page,
// listed and counted in the Documents badge once the sheet is done.
#include "../MainWindowTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "MainWindow/MainWindowParts.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Store/DBHelper.h"
#include "Utilities/WrittenPdf.h"

#include <QLabel>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>

namespace {

using namespace mainwindowtest;

void writePdf(const QString& path, int pages)
{
    QDir().mkpath(QFileInfo(path).path());
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&writer);
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            writer.newPage();
        painter.drawText(200, 200, QStringLiteral("%1, page %2").arg(QFileInfo(path).fileName()).arg(i + 1));
    }
    painter.end();
}

int pageCount(const QString& path) { return int(WrittenPdf::pageCount(path)); }

using MergeFromTheMenuTest = MainWindowFixture;

} // namespace

TEST_F(MergeFromTheMenuTest, TwoRealPdfsMergedFromTheMenuBecomeOneDocumentWithEveryPageCountedInTheBadge)
{
    const DBFileInfo first = addDocument(QStringLiteral("Invoice"));
    const DBFileInfo second = addDocument(QStringLiteral("Receipt"));
    writePdf(DBHelper::CombinFileAbsolutePath(first), 2);
    writePdf(DBHelper::CombinFileAbsolutePath(second), 3);
    ASSERT_TRUE(save());

    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    const KPNode::Ptr documents = ctx.sideBarDataSource->documentsNode();
    sideBarView().selectNode(documents.get());
    ASSERT_TRUE(testsupport::spinUntil([&] { return ctx.state.shownNode == documents; }));
    ASSERT_TRUE(testsupport::spinUntil([&] { return documents->rightNumber() == 2; })) << documents->rightNumber();
    ctx.collectionView->selectAll();
    ASSERT_EQ(ctx.gridDataSource->itemDatasWithSectionIndexSets(ctx.collectionView->selectedIndexs()).size(), 2);

    ASSERT_TRUE(ctx.commands->perform(QStringLiteral("menuMergePDF")));
    QWidget* sheet = nullptr;
    ASSERT_TRUE(testsupport::spinUntil([&] {
        sheet = c.window()->findChild<QWidget*>(QStringLiteral("MergePDFWindow"));
        return sheet != nullptr;
    })) << "the merge sheet hangs from the window";
    QPushButton* done = nullptr;
    ASSERT_TRUE(testsupport::spinUntil([&] {
        for (QPushButton* button : sheet->findChildren<QPushButton*>()) {
            if (button->isVisible() && button->text() == QStringLiteral("Done"))
                done = button;
        }
        return done != nullptr;
    })) << "the merge ends with its result";
    QLabel* hint = nullptr;
    for (QLabel* label : sheet->findChildren<QLabel*>())
        if (label->isVisible() && label->wordWrap())
            hint = label;
    ASSERT_NE(hint, nullptr);
    EXPECT_FALSE(hint->text().contains(QStringLiteral("failed"))) << hint->text().toStdString();

    // The merged document is in the library with the pages of both, in order.
    const auto merged = engine->queryRecordByName(DBFileInfo::entityName(),
                                                  *platform::Predicate::format(QStringLiteral("title == %@"),
                                                                               {QStringLiteral("Invoice(merge)")}));
    ASSERT_TRUE(merged);
    ASSERT_EQ(merged->size(), 1);
    const QString mergedPath = DBHelper::CombinFileAbsolutePath(DBFileInfo(merged->first()));
    EXPECT_TRUE(mergedPath.startsWith(library + QStringLiteral("/Documents/"))) << mergedPath.toStdString();
    EXPECT_EQ(pageCount(mergedPath), 5);
    EXPECT_EQ(pageCount(DBHelper::CombinFileAbsolutePath(first)), 2) << "the sources stay as they were";

    done->click();
    EXPECT_TRUE(testsupport::spinUntil([&] { return documents->rightNumber() == 3; }))
        << "the Documents badge still says " << documents->rightNumber();
    EXPECT_TRUE(testsupport::spinUntil([&] { return KPDataSourceManager::shareDataSourceManager().dataSource().size() == 3; }));
}
