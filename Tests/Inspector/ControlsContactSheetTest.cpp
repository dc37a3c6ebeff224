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
#include "Theme/ThemeContrast.h"

#include <QDir>
#include <QHash>
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
QImage sheetFor(DataBaseEngine* engine, qint64 stars = 3)
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
    rating->setRateValue(stars);
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

// The strongest contrast any pixel of area has against the area's most common colour (its
// ground): the text's own colour where a glyph's stem is drawn solid.
double textContrast(const QImage& sheet, QRect area)
{
    const qreal dpr = sheet.devicePixelRatio();
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[sheet.pixel(int(x * dpr), int(y * dpr))];
    QRgb ground = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            most = it.value(), ground = it.key();
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, themecontrast::contrastRatio(QColor(it.key()), QColor(ground)));
    return best;
}

// Whether area differs between two sheets.
bool differs(const QImage& a, const QImage& b, QRect area)
{
    const qreal dpr = a.devicePixelRatio();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (a.pixel(int(x * dpr), int(y * dpr)) != b.pixel(int(x * dpr), int(y * dpr)))
                return true;
    return false;
}

// Every control of the inspector drawn in the light and the dark theme (the sheets are written
// next to the test program for a person to look at): the texts can be read on their fields, and
// a rating of 3 fills the first three stars and only those.
TEST_F(ContactSheetTest, TheControlsReadInBothThemesAndARatingFillsItsStars)
{
    tag(QStringLiteral("Receipts"));
    tag(QStringLiteral("Reports"));
    const QString folder = QStringLiteral(QT_TESTCASE_BUILDDIR);
    for (const QString& theme : {QStringLiteral("gray"), QStringLiteral("dark")}) {
        SCOPED_TRACE(theme.toStdString());
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(theme));
        const QImage sheet = sheetFor(engine.get());
        ASSERT_FALSE(sheet.isNull());
        EXPECT_TRUE(sheet.save(QDir(folder).filePath(QStringLiteral("inspector-controls-%1.png").arg(theme))));
        // The date, the placeholder of an empty date, the title and the path.
        for (const QRect& text : {QRect(12, 12, 190, 20), QRect(12, 42, 60, 20), QRect(12, 128, 190, 20),
                                  QRect(12, 158, 190, 40)})
            EXPECT_GE(textContrast(sheet, text), themecontrast::kMinimum)
                << "unreadable text at " << text.x() << "," << text.y();

        const QImage none = sheetFor(engine.get(), 0);
        const int starsLeft = 10;
        const int pitch = int(KPRatingView::kPitch);
        for (int star = 0; star < KPRatingView::kStarCount; ++star) {
            const QRect cell(starsLeft + star * pitch + 2, 102, pitch - 4, 16);
            EXPECT_EQ(differs(sheet, none, cell), star < 3) << "star " << star + 1;
        }
    }
}

} // namespace
