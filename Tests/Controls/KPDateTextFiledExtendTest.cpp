#include "Controls/KPDatePicker.h"
#include "Controls/KPDateTextFiledExtend.h"
#include "Support/TestSupport.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Two date fields on one shown, active window, each recording what it hands its delegate.
struct DateFieldTest : ::testing::Test {
    void SetUp() override
    {
        window.resize(300, 120);
        created = new KPDateTextFiledExtend(QRect(10, 10, 200, 24), &window);
        modified = new KPDateTextFiledExtend(QRect(10, 50, 200, 24), &window);
        other = new QLineEdit(&window);
        other->setGeometry(10, 90, 100, 20);
        for (auto* field : {created, modified}) {
            field->setNilValueString(QStringLiteral("--"));
            field->setDelegate({[this](const QVariantMap& info) { reports << info; }});
        }
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    void click(KPDateTextFiledExtend* field) { QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(30, 12)); }
    static QObject* objectAt(const QVariantMap& info, const char* key)
    {
        return info.value(QLatin1String(key)).value<QObject*>();
    }

    QWidget window;
    KPDateTextFiledExtend* created = nullptr;
    KPDateTextFiledExtend* modified = nullptr;
    QLineEdit* other = nullptr;
    QList<QVariantMap> reports;
};

TEST_F(DateFieldTest, AFieldWithoutADateShowsItsNilTextAndIgnoresThePointer)
{
    created->setDate(std::nullopt);
    EXPECT_EQ(created->dateStringValue(), QStringLiteral("--"));
    QEnterEvent enter(QPointF(30, 12), QPointF(40, 22), created->mapToGlobal(QPointF(30, 12)));
    QApplication::sendEvent(created, &enter);
    EXPECT_FALSE(created->isMouseIn());
    click(created);
    EXPECT_FALSE(created->isEditing());
    EXPECT_TRUE(created->editTextFiled()->isHidden());
    EXPECT_FALSE(created->date().has_value());
}

TEST_F(DateFieldTest, DatesReadMonthFirstWithATwelveHourClockInEveryLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QDateTime evening(QDate(2013, 3, 7), QTime(21, 5), Qt::LocalTime);
    created->setDate(evening.toUTC());
    EXPECT_EQ(created->dateStringValue(), QStringLiteral("3/7/2013 09:05 PM"));
    EXPECT_EQ(created->date(), evening.toUTC());
    QLocale::setDefault(before);
}

TEST_F(DateFieldTest, EscapeDiscardsReturnConfirmsAndOnlyTheClickedFieldReports)
{
    const QDateTime date = QDateTime(QDate(2013, 3, 7), QTime(21, 5), Qt::LocalTime).toUTC();
    created->setDate(date);
    modified->setDate(date);

    click(created);
    ASSERT_TRUE(created->isEditing());
    KPDatePicker* picker = created->editTextFiled();
    ASSERT_TRUE(picker->isVisible());
    ASSERT_TRUE(testsupport::spinUntil([&] { return picker->hasFocus(); }));
    QTest::keyClick(picker, Qt::Key_Up);
    QTest::keyClick(picker, Qt::Key_Escape);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_FALSE(reports[0].value(QStringLiteral("IsChange")).toBool());
    EXPECT_EQ(objectAt(reports[0], "Self"), created);
    EXPECT_EQ(objectAt(reports[0], "Object"), picker);
    EXPECT_TRUE(reports[0].contains(QStringLiteral("DateValue")));
    EXPECT_FALSE(created->isEditing());
    EXPECT_TRUE(picker->isHidden());
    // The field shows only what its owner gives it, never the picked date.
    EXPECT_EQ(created->dateStringValue(), QStringLiteral("3/7/2013 09:05 PM"));
    EXPECT_FALSE(modified->isEditing());

    reports.clear();
    click(created);
    ASSERT_TRUE(testsupport::spinUntil([&] { return picker->hasFocus(); }));
    QTest::keyClick(picker, Qt::Key_Return);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].value(QStringLiteral("IsChange")).toBool());

    // Leaving by a click elsewhere confirms too; the other field stays quiet throughout.
    reports.clear();
    click(modified);
    ASSERT_TRUE(testsupport::spinUntil([&] { return modified->editTextFiled()->hasFocus(); }));
    other->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !reports.isEmpty(); }));
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(objectAt(reports[0], "Self"), modified);
    EXPECT_TRUE(reports[0].value(QStringLiteral("IsChange")).toBool());
}

TEST_F(DateFieldTest, AReadOnlyFieldShowsItsDateButNeverOpensThePicker)
{
    created->setDate(QDateTime::currentDateTimeUtc());
    created->setReadOnly(true, QStringLiteral("why"));
    QEnterEvent enter(QPointF(30, 12), QPointF(40, 22), created->mapToGlobal(QPointF(30, 12)));
    QApplication::sendEvent(created, &enter);
    click(created);
    EXPECT_FALSE(created->isMouseIn());
    EXPECT_FALSE(created->isEditing());
    EXPECT_EQ(created->toolTip(), QStringLiteral("why"));
    EXPECT_NE(created->dateStringValue(), QStringLiteral("--"));
}

} // namespace
