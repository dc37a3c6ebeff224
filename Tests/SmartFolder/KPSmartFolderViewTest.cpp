#include "SmartFolder/KPSmartFolderView.h"
#include "SmartFolder/KPSmartFolderWindowController.h"
#include "SmartFolder/KPSmartDataExport.h"

#include "Controls/KPRatingView.h"
#include "Controls/KPThemeImageButton.h"
#include "Controls/KPTokenEditorView.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/KeyedUnarchiver.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Support/TestSupport.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeManager.h"
#include "Theme/KPThemeObject.h"

#include <QComboBox>
#include <QFontInfo>
#include <QDateEdit>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <gtest/gtest.h>

using namespace SmartFolderRules;

namespace {

SmartFolderChoices testChoices()
{
    SmartFolderChoices c;
    c.collections = [] {
        return QList<SmartFolderChoices::Collection>{{"Work", 7, 0, 1}, {"Drafts", 9, 1, 2}};
    };
    c.sources = [] {
        return QList<SmartFolderChoices::Source>{{"Papers", "/home/u/Papers"}, {"papers", "/home/u/papers"}};
    };
    c.tags = [] { return QStringList{"tag10", "Tag2", "alpha"}; };
    c.authors = [] { return QStringList{"Ann", "Bob"}; };
    c.kinds = [] { return QStringList{"PDF", "Image"}; };
    c.kindName = [](qint64 id) { return id == 5 ? QString("Image") : id == 1 ? QString("PDF") : QString(); };
    c.kindID = [](const QString& name) { return name == "Image" ? qint64(5) : name == "PDF" ? qint64(1) : qint64(0); };
    return c;
}

QVariantMap rule(const QString& title, const QString& op, const QVariant& right)
{
    const SmartField* field = smartFieldForTitle(title);
    return {{"Title", title}, {"Left", field ? field->left : QString("x")}, {"Center", op}, {"Right", right}};
}

class ThemeEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray"))); }
};
const auto* const g_theme = ::testing::AddGlobalTestEnvironment(new ThemeEnvironment);

QImage comparable(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

QImage sideBarPicture(const QString& name)
{
    auto* group = KPThemeObject::customThemeObjectWithName("TopbarSidebarIcon");
    auto* sprite = group ? group->themeObjectWithName<KPMultiSprite>(name) : nullptr;
    return sprite && sprite->normalSprite() ? comparable(sprite->normalSprite()->image()) : QImage();
}

QImage itemPicture(QComboBox* box, int index, const QSize& size)
{
    const QIcon icon = box->itemIcon(index);
    return icon.isNull() ? QImage() : comparable(icon.pixmap(size).toImage());
}

struct SmartFolderRuleView : ::testing::Test {
    KPSmartFolderView view{testChoices()};
    SmartFolderRuleView() { view.resize(600, 2); }
    QStringList titles() const
    {
        QStringList out;
        for (auto* row : view.rowEditors())
            out.append(row->leftStringValue());
        return out;
    }
};

// Every stored value keeps its exact value and type through the rows.
void expectSameVariant(const QVariant& expected, const QVariant& actual, const QString& where)
{
    SCOPED_TRACE(where.toStdString());
    if (expected.typeId() == QMetaType::QVariantMap) {
        ASSERT_EQ(actual.typeId(), QMetaType::QVariantMap);
        const QVariantMap e = expected.toMap(), a = actual.toMap();
        ASSERT_EQ(e.keys(), a.keys());
        for (const QString& key : e.keys())
            expectSameVariant(e[key], a[key], where + "/" + key);
        return;
    }
    if (expected.typeId() == QMetaType::QVariantList) {
        const QVariantList e = expected.toList(), a = actual.toList();
        ASSERT_EQ(e.size(), a.size());
        for (int i = 0; i < e.size(); ++i)
            expectSameVariant(e[i], a[i], where + QString("/%1").arg(i));
        return;
    }
    EXPECT_EQ(expected.typeId(), actual.typeId());
    EXPECT_EQ(expected, actual);
}

} // namespace

TEST_F(SmartFolderRuleView, AddFollowsTheFieldTableAndRespectsTheLimits)
{
    view.addRowByType(SmartRowCollection, "Collection");
    view.add(view.rowEditors().first());
    view.add(view.rowEditors().first()); // the separator is skipped
    EXPECT_EQ(titles(), (QStringList{"Collection", "DocumentSource", "Title"}));
    EXPECT_EQ(view.rowEditors()[2]->editorType(), SmartRowText);

    KPSmartFolderView wrap{testChoices()};
    wrap.resize(600, 2);
    wrap.addRowByType(SmartRowDate, "Date Imported");
    wrap.add(nullptr);
    EXPECT_EQ(wrap.rowEditors().last()->leftStringValue(), "Collection");

    while (view.rowEditors().size() < 20)
        view.add(view.rowEditors().first());
    view.add(view.rowEditors().first());
    EXPECT_EQ(view.rowEditors().size(), 20);

    wrap.deleteRow(wrap.rowEditors().first());
    wrap.deleteRow(wrap.rowEditors().first());
    EXPECT_EQ(wrap.rowEditors().size(), 1);
}

TEST_F(SmartFolderRuleView, ThreeRowsAreNinetyTwoHighWithTheSecondLightBlue)
{
    QList<std::pair<int, int>> heights;
    view.setDelegate([&](int h, int d) { heights.append({h, d}); });
    view.addRowByType(SmartRowCollection, "Collection");
    view.add(nullptr);
    view.add(nullptr);
    EXPECT_EQ(view.height(), 92);
    EXPECT_EQ(heights.last(), std::make_pair(92, 30));
    const QImage image = view.grab().toImage();
    EXPECT_EQ(QColor(image.pixel(5, 31 + 15)), QColor(237, 245, 254));
    EXPECT_EQ(QColor(image.pixel(5, 1 + 15)), QColor(Qt::white));
}

TEST_F(SmartFolderRuleView, EveryFieldRoundTripsWithItsValueTypes)
{
    const QDateTime instant = QDateTime::fromMSecsSinceEpoch(1'780'000'123'456, Qt::UTC);
    const QVariantList rows{
        rule("Collection", "==", qint64(9)),
        rule("DocumentSource", "!=", "/home/u/papers"),
        rule("Title", "BEGINSWITH[cd]", "Report 2024"),
        rule("Content", "CONTAINS[cd]", "alpha"),
        rule("File Type", "!=", qint64(5)),
        rule("Size", "<", QVariantMap{{"Size", 1.5}, {"Index", qint64(2)}}),
        rule("Author", "!=", "Bob"),
        rule("Author", "BEGINSWITH[cd]", "An"),
        rule("Label", "==", qint64(4)),
        rule("Rating", ">", qint64(3)),
        rule("Tag", "==", "tag10"),
        rule("Description", "DONTCONTAINS", "draft"),
        rule("From", "CONTAINS[cd]", "example.org"),
        rule("Date Created", "AFTER", QVariantMap{{"Date", instant}}),
        rule("Date Last Modified", "ISLASTWEEK", QVariantMap{{"IsLastWeek", true}}),
        rule("Date Last Opened", "ISINTHELAST", QVariantMap{{"IntValue", qint64(3)}, {"Index", qint64(1)}}),
        rule("Date Imported", "ISTODAY", QVariantMap{{"IsToDay", true}}),
    };
    const QVariantMap stored{{"Operation", false}, {"SmartData", rows}};
    view.setIsAnd(false);
    view.setSmartData(stored);
    ASSERT_EQ(view.rowEditors().size(), rows.size());
    expectSameVariant(stored, view.smartData(), "rules");

    // Through the keyed archive, as a reopened folder reads it.
    const QVariant archived = *platform::KeyedUnarchiver::unarchiveObject(
        *platform::KeyedArchiver::archivedData(view.smartData()));
    KPSmartFolderView reopened{testChoices()};
    reopened.resize(600, 2);
    reopened.setIsAnd(false);
    reopened.setSmartData(archived.toMap());
    expectSameVariant(stored, reopened.smartData(), "reopened");
    EXPECT_EQ(reopened.rowEditors()[15]->countField()->text(), "3");
    EXPECT_TRUE(reopened.rowEditors()[15]->unitPopUp()->isVisibleTo(&reopened));
    EXPECT_FALSE(reopened.rowEditors()[15]->datePicker()->isVisibleTo(&reopened));
}

TEST_F(SmartFolderRuleView, EditedControlsGiveTheirRules)
{
    auto* date = view.addRowByType(SmartRowDate, "Date Created");
    date->centerButton()->setCurrentIndex(date->centerButton()->findData("ISINTHELAST"));
    date->centerButton()->activated(date->centerButton()->currentIndex());
    date->countField()->setText("3");
    date->unitPopUp()->setCurrentIndex(1);
    expectSameVariant(QVariantMap{{"IntValue", qint64(3)}, {"Index", qint64(1)}}, date->smartData()["Right"], "date");

    auto* tag = view.addRowByType(SmartRowTag, "Tag");
    EXPECT_EQ(tag->smartData()["Right"], QVariant(QString()));
    EXPECT_EQ(tag->smartData()["Center"], "==");
    // Natural, case-insensitive order after the first item and a separator.
    EXPECT_EQ(tag->valuePopUp()->itemText(2), "alpha");
    EXPECT_EQ(tag->valuePopUp()->itemText(3), "Tag2");
    EXPECT_EQ(tag->valuePopUp()->itemText(4), "tag10");

    // Two codes that share a display text stay apart: the code travels with the item.
    auto* rating = view.addRowByType(SmartRowRating, "Rating");
    rating->centerButton()->setItemText(0, "same");
    rating->centerButton()->setItemText(1, "same");
    rating->centerButton()->setCurrentIndex(1);
    EXPECT_EQ(rating->smartData()["Center"], "<");

    // Changing the field replaces the row in place.
    auto* title = view.rowEditors()[1];
    view.changeRowFromTitle("Size", title);
    ASSERT_EQ(view.rowEditors().size(), 3);
    EXPECT_EQ(view.rowEditors()[1]->editorType(), SmartRowSize);
    EXPECT_EQ(view.rowEditors()[1]->tag(), 1);
}

// A key missing from the English table reaches the user as the key itself ("DocumentSource",
// "UnTag"); keys the program spells its own way must read as English.
TEST_F(SmartFolderRuleView, EveryTextTheEditorShowsComesFromTheEnglishTable)
{
    const auto read = platform::PropertyList::readFile(platform::Bundle::mainBundle().resourcePath()
                                                       + "/en.lproj/Localizable.strings");
    ASSERT_TRUE(read.has_value());
    const QVariantMap english = read->toMap();
    QList<std::pair<QString, QString>> shown; // key, text on screen
    auto firstItem = [&](KPSmartRowEditor* row, const QString& key) {
        shown.append({key, row->valuePopUp()->itemText(0)});
    };
    for (const SmartField& field : smartFields()) {
        if (field.title == "-")
            continue;
        KPSmartRowEditor* row = view.addRowByType(field.type, field.title);
        for (int i = 0; i < row->leftButton()->count(); ++i) {
            const QString title = row->leftButton()->itemData(i).toString();
            if (!title.isEmpty())
                shown.append({fieldDisplayKey(title), row->leftButton()->itemText(i)});
        }
        for (int i = 0; i < row->centerButton()->count(); ++i) {
            const QString code = row->centerButton()->itemData(i).toString();
            if (!code.isEmpty())
                shown.append({operatorDisplayKey(code), row->centerButton()->itemText(i)});
        }
        switch (field.type) {
        case SmartRowDate:
            for (int i = 0; i < 3; ++i)
                shown.append({QStringList{"DaysStr", "WeeksStr", "MonthsStr"}[i], row->unitPopUp()->itemText(i)});
            break;
        case SmartRowTag: firstItem(row, "UnTag"); break;
        case SmartRowAuthor:
        case SmartRowLabel: firstItem(row, "None"); break;
        case SmartRowCollection: firstItem(row, "UnCollection"); break;
        case SmartRowDocumentSource: firstItem(row, "Documents"); break;
        default: break;
        }
    }
    ASSERT_GT(shown.size(), 40);
    const QRegularExpression words("^[A-Z]?[a-z]+( [A-Z]?[a-z]+)*$");
    const QStringList misspelt{"is yerterday", "Date Last Modifited"};
    for (const auto& [key, text] : shown) {
        SCOPED_TRACE(key.toStdString());
        EXPECT_TRUE(english.contains(key));
        EXPECT_EQ(text, english.value(key).toString());
        if (!words.match(key).hasMatch() || misspelt.contains(key))
            EXPECT_NE(text, key);
    }
}

// The room a pop-up gives its title, as the style lays it out.
static int titleRoom(QComboBox* box)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = false;
    option.frame = true;
    return box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width();
}

// No field, operator or unit title is cut off, and the value controls, pushed right by the
// wider pop-ups, neither cover them nor run under the delete button.
TEST_F(SmartFolderRuleView, PopUpTitlesShowWholeAndTheRowKeepsItsOrder)
{
    for (const SmartField& field : smartFields()) {
        if (field.title != "-")
            view.addRowByType(field.type, field.title);
    }
    view.show();
    const QImage grab = view.grab().toImage();
    ASSERT_FALSE(grab.isNull());
    for (KPSmartRowEditor* row : view.rowEditors()) {
        SCOPED_TRACE(row->leftStringValue().toStdString());
        for (QComboBox* box : {row->leftButton(), row->centerButton(), row->unitPopUp()}) {
            if (!box)
                continue;
            for (int i = 0; i < box->count(); ++i) {
                const QString text = box->itemText(i);
                EXPECT_LE(box->fontMetrics().horizontalAdvance(text), titleRoom(box)) << text.toStdString();
            }
        }
        EXPECT_LE(row->leftButton()->geometry().right(), row->centerButton()->x());
        for (QWidget* value : row->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (value == row->leftButton() || value == row->centerButton() || value == static_cast<QWidget*>(row->addButton())
                || value == static_cast<QWidget*>(row->deleteButton()))
                continue;
            EXPECT_GT(value->x(), row->centerButton()->geometry().right()) << value->metaObject()->className();
            EXPECT_LT(value->geometry().right(), row->deleteButton()->x()) << value->metaObject()->className();
        }
    }
}

// In the small system font the field titles fit the field pop-up's own width and the operators
// theirs but for the pop-up's arrow, so the rows keep their frames and the sheet its width.
TEST_F(SmartFolderRuleView, TheFieldAndOperatorPopUpsKeepTheirWidthsInTheSmallFont)
{
    for (const SmartField& field : smartFields()) {
        if (field.title != "-")
            view.addRowByType(field.type, field.title);
    }
    for (KPSmartRowEditor* row : view.rowEditors()) {
        SCOPED_TRACE(row->leftStringValue().toStdString());
        EXPECT_EQ(row->leftButton()->width(), 126);
        EXPECT_NEAR(row->centerButton()->width(), 115, 2);
        EXPECT_EQ(QFontInfo(row->leftButton()->font()).pixelSize(), 11);
    }
}

// The flag items show their flag's colour (the right half of its sprite), the collection and
// source items the side bar's pictures, and the row's add and delete buttons are the theme's.
TEST_F(SmartFolderRuleView, PopUpItemsCarryTheirPicturesAndTheRowButtonsAreThemed)
{
    KPSmartRowEditor* label = view.addRowByType(SmartRowLabel, "Label");
    auto* flags = KPThemeObject::customThemeObjectWithName("Flag");
    ASSERT_NE(flags, nullptr);
    ASSERT_EQ(label->valuePopUp()->count(), 8);
    for (int i = 0; i < label->valuePopUp()->count(); ++i) {
        const int flag = label->valuePopUp()->itemData(i).toInt();
        SCOPED_TRACE(flag);
        const QImage sprite = comparable(flags->themeObjectWithName<KPSprite>(QString::number(flag))->image());
        ASSERT_EQ(sprite.size(), QSize(32, 20));
        EXPECT_EQ(itemPicture(label->valuePopUp(), i, QSize(16, 20)), sprite.copy(16, 0, 16, 20));
    }

    const QImage folder = sideBarPicture("TopbarSidebarIcon-Folder");
    const QImage collection = sideBarPicture("TopbarSidebarIcon-Collection");
    ASSERT_FALSE(folder.isNull());
    ASSERT_NE(folder, collection);
    QComboBox* nodes = view.addRowByType(SmartRowCollection, "Collection")->valuePopUp();
    EXPECT_EQ(itemPicture(nodes, 0, QSize(20, 20)), folder);
    EXPECT_EQ(itemPicture(nodes, nodes->findData(qint64(7)), QSize(20, 20)), collection); // a collection
    EXPECT_EQ(itemPicture(nodes, nodes->findData(qint64(9)), QSize(20, 20)), folder);     // a folder in it
    QComboBox* sources = view.addRowByType(SmartRowDocumentSource, "DocumentSource")->valuePopUp();
    EXPECT_EQ(itemPicture(sources, 0, QSize(20, 20)), sideBarPicture("TopbarSidebarIcon-Document"));
    EXPECT_EQ(itemPicture(sources, sources->findData("/home/u/Papers"), QSize(20, 20)),
              sideBarPicture("TopbarSidebarIcon-IndexFolder"));

    KPSmartRowEditor* row = view.rowEditors().first();
    auto* add = dynamic_cast<KPThemeImageButton*>(row->findChild<QWidget*>("SmartRowEditor_AddButton"));
    auto* remove = dynamic_cast<KPThemeImageButton*>(row->findChild<QWidget*>("SmartRowEditor_DeleteButton"));
    ASSERT_NE(add, nullptr);
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(add->multiSprite(), KPThemeObject::themeObjectWithName<KPMultiSprite>("SmartRowEditor_AddButton"));
    EXPECT_EQ(remove->multiSprite(), KPThemeObject::themeObjectWithName<KPMultiSprite>("SmartRowEditor_DeleteButton"));
    EXPECT_NE(add->multiSprite(), nullptr);
    view.show();
    QTest::mouseClick(add, Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_EQ(view.rowEditors().size(), 4);
    QTest::mouseClick(remove, Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_EQ(view.rowEditors().size(), 3);
    EXPECT_FALSE(view.rowEditors().contains(row));
}

// The content row is a white field with rounded ends on either row colour, one line high, whose
// words are content tokens, typed or stored.
TEST_F(SmartFolderRuleView, ContentWordsAreContentTokensInTheirOwnField)
{
    view.addRowByType(SmartRowText, "Title");
    KPSmartRowEditor* row = view.addRowByType(SmartRowContent, "Content"); // the blue row
    row->setRightValues(QString("alpha,beta"));
    view.show();
    KPTokenEditorView* field = row->tokenField();
    QTest::keyClicks(field->textView(), "gamma,");
    ASSERT_TRUE(testsupport::spinUntil([&] { return field->cells().size() == 3; }));
    for (const auto& cell : field->cells())
        EXPECT_EQ(cell->className(), "KPTokenContentAttachmentCell");
    EXPECT_EQ(row->smartData()["Right"], "alpha,beta,gamma");

    field->setTokenString("x");
    const QImage grab = row->grab().toImage();
    const QPoint origin = field->geometry().topLeft();
    const QColor inside = grab.pixelColor(origin + QPoint(field->width() - 12, 10));
    const QColor end = grab.pixelColor(origin + QPoint(0, 10));
    EXPECT_EQ(inside, QColor(Qt::white)) << "the field, not the row's blue";
    EXPECT_LT(end.lightness(), 200) << "the field's outline at its left end";
    EXPECT_FALSE(field->textView()->verticalScrollBar()->isVisible());
}

TEST_F(SmartFolderRuleView, StoredValuesNoLongerOfferedAreKeptOrFallBack)
{
    view.setSmartData({{"SmartData", QVariantList{rule("Tag", "==", "trashed"), rule("Collection", "==", qint64(404)),
                                                  rule("Rating", "==", "not a number"), rule("Nonsense", "ZZZ", 1)}}});
    const QVariantList rows = view.smartData()["SmartData"].toList();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0].toMap()["Right"], "trashed");
    EXPECT_EQ(rows[1].toMap()["Right"], qint64(404)) << "a deleted collection stays the rule's until changed";
    EXPECT_EQ(rows[2].toMap()["Right"], qint64(0));
    EXPECT_EQ(rows[3].toMap()["Title"], "Nonsense");
    EXPECT_EQ(view.rowEditors()[3]->editorType(), SmartRowText);

    KPSmartFolderView many{testChoices()};
    many.resize(600, 2);
    QVariantList lots;
    for (int i = 0; i < 25; ++i)
        lots.append(rule("Title", "==", QString::number(i)));
    many.setSmartData({{"SmartData", lots}});
    EXPECT_EQ(many.rowEditors().size(), 20);
}

// --- the sheet ---

namespace {

struct SmartFolderSheet : ::testing::Test {
    platform::kit::RecordingDialogService dialogs;
    QWidget window;
    SmartFolderSheet()
    {
        window.resize(900, 700);
        window.show();
    }
    struct Outcome {
        int code = -1;
        QByteArray rules;
        QString title;
    };
    KPSmartFolderWindowController* open(Outcome& outcome, const QByteArray& archive, const QString& title = {})
    {
        dialogs.scriptSheetShown();
        auto* controller = new KPSmartFolderWindowController(testChoices());
        controller->beginSheetWithWindow(&window, dialogs, [&outcome](int code, const QByteArray& r, const QString& t) {
            outcome = {code, r, t};
        });
        controller->setTitle(title);
        controller->setSmartData(archive);
        return controller;
    }
};

} // namespace

TEST_F(SmartFolderSheet, NewFolderCancelGivesNothingAndRowsResizeTheSheet)
{
    Outcome outcome;
    auto* controller = open(outcome, {});
    EXPECT_EQ(controller->nameField()->text(), "untitled smart folder");
    ASSERT_EQ(controller->smartFolderView()->rowEditors().size(), 1);
    EXPECT_EQ(controller->smartFolderView()->rowEditors()[0]->leftStringValue(), "Collection");
    const int height = controller->content()->height();
    controller->smartFolderView()->add(nullptr);
    EXPECT_EQ(controller->content()->height(), height + 30);
    controller->smartFolderView()->deleteRow(controller->smartFolderView()->rowEditors()[1]);
    EXPECT_EQ(controller->content()->height(), height);
    controller->btnCancelClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return outcome.code != -1; }));
    EXPECT_EQ(outcome.code, 0);
    EXPECT_TRUE(outcome.rules.isEmpty());
    EXPECT_TRUE(outcome.title.isNull());
}

TEST_F(SmartFolderSheet, AnyModeAndNameGateTheAnswer)
{
    Outcome outcome;
    auto* controller = open(outcome, {});
    controller->nameField()->setText("   ");
    EXPECT_FALSE(controller->okButton()->isEnabled());
    controller->nameField()->setText("Reading");
    controller->modeButton()->setCurrentIndex(1);
    controller->modeButton()->activated(1);
    controller->okButton()->click();
    ASSERT_TRUE(testsupport::spinUntil([&] { return outcome.code != -1; }));
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.title, "Reading");
    const QVariantMap rules = platform::KeyedUnarchiver::unarchiveObject(outcome.rules)->toMap();
    EXPECT_EQ(rules["Operation"], false);
    EXPECT_EQ(rules["SmartData"].toList().size(), 1);
}

TEST_F(SmartFolderSheet, EmptyNameDisablesOKAtOpeningAndUnchangedRulesComeBackExactly)
{
    const QVariantMap stored{{"Operation", false},
                             {"SmartData", QVariantList{rule("Tag", "!=", "alpha"), rule("Rating", ">", qint64(2))}}};
    const QByteArray archive = *platform::KeyedArchiver::archivedData(stored);
    Outcome outcome;
    auto* controller = open(outcome, archive, QString(""));
    EXPECT_FALSE(controller->okButton()->isEnabled());
    controller->nameField()->setText("Kept");
    EXPECT_EQ(controller->modeButton()->currentIndex(), 1);
    controller->btnOKClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return outcome.code != -1; }));
    expectSameVariant(stored, *platform::KeyedUnarchiver::unarchiveObject(outcome.rules), "unchanged");
}

// Confirming a sheet nobody touched must not change which documents the folder lists: a
// source folder that is no longer indexed and a set stored without "Operation" included.
TEST_F(SmartFolderSheet, UnchangedStaleSourceAndMissingModeKeepWhatTheFolderLists)
{
    const QVariantList rows{rule("DocumentSource", "==", "/home/u/Gone"), rule("Rating", ">", qint64(2))};
    const QVariantMap stored{{"SmartData", rows}};
    KPSmartDataExport::Environment env;
    env.now = QDateTime::currentDateTimeUtc();
    const QString before = KPSmartDataExport::smartStringFromData(stored, env);
    ASSERT_TRUE(before.contains(" OR ")) << before.toStdString();

    Outcome outcome;
    auto* controller = open(outcome, *platform::KeyedArchiver::archivedData(stored), "Gone");
    EXPECT_EQ(controller->modeButton()->currentIndex(), 1) << "opens as it translates: any rule";
    QComboBox* source = controller->smartFolderView()->rowEditors()[0]->valuePopUp();
    EXPECT_TRUE(source->currentText().contains("/home/u/Gone")) << source->currentText().toStdString();
    EXPECT_NE(source->currentText(), "/home/u/Gone") << "shown as missing, not as a folder still indexed";
    controller->btnOKClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return outcome.code != -1; }));
    const QVariantMap saved = platform::KeyedUnarchiver::unarchiveObject(outcome.rules)->toMap();
    expectSameVariant(rows, saved["SmartData"], "rows");
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(saved, env), before);
}

// Values the controls cannot show as stored (a deleted collection, a kind no longer listed, a size
// finer than two decimals) come back as stored from an untouched sheet, and as shown once edited.
TEST_F(SmartFolderSheet, UnchangedRulesSaveTheirStoredValuesAndEditedOnesWhatIsShown)
{
    const QVariantList rows{rule("Collection", "==", qint64(404)), rule("File Type", "==", qint64(999)),
                            rule("Size", ">", QVariantMap{{"Size", 1.005}, {"Index", qint64(1)}})};
    const QVariantMap stored{{"Operation", true}, {"SmartData", rows}};
    const QByteArray archive = *platform::KeyedArchiver::archivedData(stored);
    Outcome untouched;
    auto* controller = open(untouched, archive, "Kept");
    controller->btnOKClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return untouched.code != -1; }));
    expectSameVariant(rows, platform::KeyedUnarchiver::unarchiveObject(untouched.rules)->toMap()["SmartData"], "rows");

    Outcome edited;
    controller = open(edited, archive, "Edited");
    const QList<KPSmartRowEditor*> editors = controller->smartFolderView()->rowEditors();
    editors[0]->valuePopUp()->setCurrentIndex(editors[0]->valuePopUp()->findData(qint64(7)));
    editors[1]->valuePopUp()->setCurrentIndex(editors[1]->valuePopUp()->findText("Image"));
    editors[2]->textField()->setText(QLocale().toString(2.5, 'f', 2));
    editors[2]->centerButton()->setCurrentIndex(0);
    controller->btnOKClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return edited.code != -1; }));
    const QVariantList saved = platform::KeyedUnarchiver::unarchiveObject(edited.rules)->toMap()["SmartData"].toList();
    ASSERT_EQ(saved.size(), 3);
    EXPECT_EQ(saved[0].toMap()["Right"], qint64(7));
    EXPECT_EQ(saved[1].toMap()["Right"], qint64(5));
    EXPECT_EQ(saved[2].toMap()["Right"].toMap()["Size"], 2.5);
}

TEST_F(SmartFolderSheet, UnreadableRulesOpenWithOneRowAndSayWhy)
{
    Outcome outcome;
    auto* controller = open(outcome, QByteArray("not an archive"), "Old folder");
    EXPECT_EQ(controller->nameField()->text(), "Old folder");
    EXPECT_EQ(controller->smartFolderView()->rowEditors().size(), 1);
    EXPECT_TRUE(controller->unreadableLine()->isVisibleTo(controller->content()));
    EXPECT_FALSE(controller->unreadableLine()->text().isEmpty());
    controller->btnCancelClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return outcome.code != -1; }));
    EXPECT_EQ(outcome.code, 0);
}
