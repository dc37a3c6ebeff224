#include "Import/UI/ImportHintWindowController.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Support/TestSupport.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
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
