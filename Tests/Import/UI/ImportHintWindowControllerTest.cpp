#include "Import/UI/ImportHintWindowController.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Support/TestSupport.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableWidget>
#include <gtest/gtest.h>

TEST(ImportHintWindowControllerTest, LostFilesAreListedWithBothCounts)
{
    const QStringList lost{QStringLiteral("/a/notes.xyz"), QStringLiteral("/b/full.jpg")};
    QPointer<ImportHintWindowController> controller = new ImportHintWindowController(lost, 1);
    const auto& o = controller->outlets();
    EXPECT_EQ(o.content->currentWidget(), o.firstView);
    const QString shown = o.importHintTextFiled->text();
    EXPECT_TRUE(shown.contains(QStringLiteral("1 File "))) << qPrintable(shown);
    EXPECT_TRUE(shown.contains(QStringLiteral("2 Files"))) << qPrintable(shown);
    ASSERT_EQ(o.tableView->rowCount(), 2);
    EXPECT_EQ(o.tableView->item(1, 0)->text(), lost[1]);
    EXPECT_TRUE(o.window->isSizeGripEnabled());
    controller->showWindow();
    controller->outlets().okButton->click(); // the window closes and takes its controller along
    EXPECT_TRUE(testsupport::spinUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return controller.isNull();
    }));
}

TEST(ImportHintWindowControllerTest, NothingLostShowsTheShortNoteWithoutWindowButtons)
{
    auto* controller = new ImportHintWindowController({}, 3);
    const auto& o = controller->outlets();
    EXPECT_EQ(o.content->currentWidget(), o.secondView);
    EXPECT_TRUE(o.importHintTextFiled2->text().contains(QStringLiteral("3 Files "))) << qPrintable(o.importHintTextFiled2->text());
    EXPECT_FALSE(o.window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(o.window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(o.window->windowTitle().isEmpty());
    EXPECT_FALSE(o.window->isSizeGripEnabled());
    EXPECT_TRUE(ImportHintWindowController::importedText(1).contains(QStringLiteral("1 File ")));
    delete o.window;
}

TEST(ImportHintWindowControllerTest, TheCheckBoxStoresTheSettingInverted)
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    auto* controller = new ImportHintWindowController({}, 1);
    controller->outlets().checkBox2->setChecked(true);
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("Bool_ShowImportedHint")));
    controller->outlets().checkBox2->setChecked(false);
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool_ShowImportedHint")));
    controller->outlets().okButton2->click();
}

TEST(ImportHintWindowControllerTest, DoubleClickFitsTheColumnToTheLongestPath)
{
    const QString longest = QStringLiteral("/a/very/long/path/that/would/not/fit/in/the/default/column/width/file.xyz");
    auto* controller = new ImportHintWindowController({QStringLiteral("/s.xyz"), longest}, 0);
    QTableWidget* table = controller->outlets().tableView;
    table->setColumnWidth(0, 20);
    controller->tableViewDoubleAction();
    EXPECT_GE(table->columnWidth(0), QFontMetrics(table->font()).horizontalAdvance(longest) + 10);
    EXPECT_TRUE(table->selectionModel()->selectedRows().isEmpty()) << "the measuring selection is undone";

    table->selectRow(0); // a selection measures only the selected rows
    controller->tableViewDoubleAction();
    EXPECT_LT(table->columnWidth(0), QFontMetrics(table->font()).horizontalAdvance(longest));
    delete controller->window();
}
