#include "Controls/KPCoustomStyleLabel.h"
#include "Controls/KPRatingView.h"
#include "Support/TestSupport.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

TEST(KPRatingView, RatingFollowsThePointerAndIsReportedOnceAtTheRelease)
{
    EXPECT_EQ(KPRatingView::ratingByPoint({0, 5}), 0);
    EXPECT_EQ(KPRatingView::ratingByPoint({0.5, 5}), 1);
    EXPECT_EQ(KPRatingView::ratingByPoint({16, 5}), 1);
    EXPECT_EQ(KPRatingView::ratingByPoint({40, 500}), 3);
    EXPECT_EQ(KPRatingView::ratingByPoint({80, 5}), 5);
    EXPECT_EQ(KPRatingView::ratingByPoint({1e9, 5}), 5);
    EXPECT_EQ(KPRatingView::ratingByPoint({-1e9, 5}), 0);

    KPRatingView view(QRect(0, 0, 90, 20));
    QList<qint64> told;
    view.setDelegate({[&](KPRatingView* v) { told << v->rateValue(); }});
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(40, 10));
    EXPECT_EQ(told, QList<qint64>{3});

    // A drag far to the left ends at 0, far to the right at 5; moves alone report nothing.
    told.clear();
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(40, 10));
    QMouseEvent left(QEvent::MouseMove, QPointF(-300, 10), view.mapToGlobal(QPointF(-300, 10)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &left);
    EXPECT_EQ(view.rateValue(), 0);
    EXPECT_TRUE(told.isEmpty());
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(-300, 10));
    EXPECT_EQ(told, QList<qint64>{0});
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(5, 10));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(3000, 10));
    EXPECT_EQ(told.last(), 5);
}

TEST(KPRatingView, SettingTheSameValueDoesNotRepaint)
{
    KPRatingView view(QRect(0, 0, 90, 20));
    view.setRateValue(2);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    PaintCounter counter;
    view.installEventFilter(&counter);
    view.setRateValue(2);
    view.setRateValue(-4);   // clamped to 0: a change
    ASSERT_TRUE(testsupport::spinUntil([&] { return counter.paints > 0; }));
    const int after = counter.paints;
    view.setRateValue(0);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, after);
}

struct EditableLabelTest : ::testing::Test {
    void SetUp() override
    {
        window.resize(300, 60);
        label = new KPCoustomStyleLabel(QRect(10, 10, 200, 30), &window);
        label->setTitle(QStringLiteral("Report"));
        label->setBoolSupportEdit(true);
        KPCoustomStyleLabelDelegate delegate;
        delegate.onCoustomStyleShouldEdit = [this](KPCoustomStyleLabel*) { return allow; };
        delegate.onCoustomStyleLableValueChange = [this](KPCoustomStyleLabel*, const QString& v) { changes << v; };
        label->setDelegate(delegate);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void startEdit() { QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(20, 15)); }

    QWidget window;
    KPCoustomStyleLabel* label = nullptr;
    bool allow = true;
    QStringList changes;
};

TEST_F(EditableLabelTest, OnlyAChangedTextConfirmedWithReturnIsReported)
{
    startEdit();
    ASSERT_TRUE(label->isEditing());
    QLineEdit* field = label->editField();
    ASSERT_TRUE(field->isVisible());
    EXPECT_EQ(field->text(), QStringLiteral("Report"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(label->isEditing());
    EXPECT_TRUE(changes.isEmpty());

    startEdit();
    field->setText(QStringLiteral("Draft"));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(label->isEditing());
    EXPECT_TRUE(changes.isEmpty());

    startEdit();
    field->setText(QStringLiteral("Final"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(changes, QStringList{QStringLiteral("Final")});
    // The owner sets the title; the label does not.
    EXPECT_EQ(label->title(), QStringLiteral("Report"));
}

TEST_F(EditableLabelTest, AnOwnerThatRefusesOrDoesNotAnswerKeepsTheFieldHidden)
{
    allow = false;
    startEdit();
    EXPECT_FALSE(label->isEditing());
    EXPECT_TRUE(label->editField()->isHidden());

    label->setDelegate({});
    startEdit();
    EXPECT_FALSE(label->isEditing());
    EXPECT_TRUE(label->editField()->isHidden());
}

} // namespace
