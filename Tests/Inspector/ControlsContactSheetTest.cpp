#include "Controls/KPCoustomStyleLabel.h"
#include "Controls/KPDBFolderEditor.h"
#include "Controls/KPDateTextFiledExtend.h"
#include "Controls/KPRatingView.h"
#include "Controls/KPTextEditorView.h"
#include "Controls/KPTokenEditorView.h"
#include "Controls/KPWrapStyleLabel.h"
#include "Inspector/AutoCompletedViewController.h"
#include "Inspector/AutoCompletedWindow.h"
#include "InspectorTestSupport.h"
#include "Inspector/TagEditorViewController.h"
#include "Platform/Kit/FontResolver.h"
#include "Theme/KPThemeManager.h"

#include <QDir>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class ContactSheetTest : public inspectortest::InspectorLibraryTest {
protected:
    void TearDown() override
    {
        KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray"));
        InspectorLibraryTest::TearDown();
    }
};

// Every control of the inspector drawn once, hovered where hovering changes the look; the sheet
// is written next to the test program for a person to look at, and each control must have
// drawn something.
QImage sheetFor(DataBaseEngine* engine)
{
    QWidget page;
    page.resize(480, 360);
    page.setAutoFillBackground(true);
    page.setPalette(QColor(236, 238, 240));
    auto* date = new KPDateTextFiledExtend(QRect(10, 10, 200, 24), &page);
    date->setDate(QDateTime(QDate(2013, 3, 7), QTime(21, 5), Qt::LocalTime).toUTC());
    auto* nilDate = new KPDateTextFiledExtend(QRect(10, 40, 200, 24), &page);
    nilDate->setNilValueString(QStringLiteral("--"));
    auto* folder = new KPDBFolderEditor(QRect(10, 70, 200, 23), &page);
    folder->setTitle(QStringLiteral("Collections / Reports"));
    QEnterEvent over(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(folder, &over);
    auto* rating = new KPRatingView(QRect(10, 100, 90, 20), &page);
    rating->setRateValue(3);
    auto* label = new KPCoustomStyleLabel(QRect(10, 126, 200, 24), &page);
    label->setTitle(QStringLiteral("Annual report 2013.pdf"));
    auto* wrap = new KPWrapStyleLabel(QRect(10, 156, 200, 44), &page);
    wrap->setTitle(QStringLiteral("/home/user/Documents/Projects/Annual reports/2013/final version.pdf"));
    auto* text = new KPTextEditorView(QRect(10, 204, 200, 48), &page);
    text->setPlaceHolderString(QStringLiteral("Add a description"));
    auto* tags = TagEditorViewController::documentTagEditor({QStringLiteral("work"), QStringLiteral("2013")}, {}, {});
    tags->setParent(&page);
    tags->move(240, 10);
    auto* import = TagEditorViewController::initWithImportTagMode();
    import->setParent(&page);
    import->move(240, 190);
    std::unique_ptr<AutoCompletedViewController> list{AutoCompletedViewController::initWithTagModel(engine)};
    list->doSearchValue(QString());
    auto* completion = new AutoCompletedWindow(list.get());
    completion->setParent(&page);
    completion->resize(list->viewSize() + QSize(4, 4));
    list->updateViewSize(list->viewSize());
    completion->move(10, 270);
    completion->show();
    page.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&page));
    QImage image = page.grab().toImage();
    delete completion;
    return image;
}

TEST_F(ContactSheetTest, TheControlsDrawInTwoThemes)
{
    tag(QStringLiteral("Receipts"));
    tag(QStringLiteral("Reports"));
    const QString folder = QStringLiteral(QT_TESTCASE_BUILDDIR);
    for (const QString& theme : {QStringLiteral("gray"), QStringLiteral("dark")}) {
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(theme));
        const QImage sheet = sheetFor(engine.get());
        ASSERT_FALSE(sheet.isNull());
        EXPECT_TRUE(sheet.save(QDir(folder).filePath(QStringLiteral("inspector-controls-%1.png").arg(theme))));
        // The rating's stars and the dates' text left ink on the page's plain background.
        const QColor background = sheet.pixelColor(470, 250);
        auto inked = [&](QRect area) {
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    if (sheet.pixelColor(x * sheet.devicePixelRatio(), y * sheet.devicePixelRatio()) != background)
                        return true;
            return false;
        };
        EXPECT_TRUE(inked(QRect(10, 100, 90, 20))) << qPrintable(theme);
        EXPECT_TRUE(inked(QRect(14, 12, 150, 18))) << qPrintable(theme);
        EXPECT_TRUE(inked(QRect(14, 42, 40, 18))) << qPrintable(theme);
    }
}

} // namespace
