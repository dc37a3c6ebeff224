#include "Inspector/AutoCompletedViewController.h"
#include "InspectorTestSupport.h"
#include "Platform/Kit/Input.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace platform::kit::keychar;

class AutoCompletedListTest : public inspectortest::InspectorLibraryTest {
protected:
    void SetUp() override
    {
        InspectorLibraryTest::SetUp();
        tags.reset(AutoCompletedViewController::initWithTagModel(engine.get()));
    }
    std::unique_ptr<AutoCompletedViewController> tags;
};

TEST_F(AutoCompletedListTest, NamesMatchByPrefixIgnoringCaseAndAccentsButNeverFromTheTrash)
{
    tag(QStringLiteral("Resume"));
    tag(QStringLiteral("Retro"));
    tag(QStringLiteral("Reserved"), true);
    tag(QStringLiteral("cat"));
    tag(QStringLiteral("c*t"));
    tag(QStringLiteral("50% off"));

    EXPECT_EQ(tags->doSearchValue(QStringLiteral("résumé")), QStringLiteral("Resume"));
    EXPECT_EQ(tags->doSearchValue(QStringLiteral("RE")), QStringLiteral("Resume"));
    EXPECT_EQ(tags->names(), (QStringList{QStringLiteral("Resume"), QStringLiteral("Retro")}));
    // Typed wildcards and quotes are plain text.
    EXPECT_EQ(tags->doSearchValue(QStringLiteral("c*")), QStringLiteral("c*t"));
    EXPECT_EQ(tags->names().size(), 1);
    EXPECT_EQ(tags->doSearchValue(QStringLiteral("50%")), QStringLiteral("50% off"));
    EXPECT_EQ(tags->doSearchValue(QStringLiteral("5%")), std::nullopt);
    EXPECT_EQ(tags->doSearchValue(QStringLiteral("%")), std::nullopt);
    EXPECT_EQ(tags->doSearchValue(QStringLiteral("?")), std::nullopt);
    EXPECT_EQ(tags->doSearchValue(QStringLiteral("'\"")), std::nullopt);
    EXPECT_EQ(tags->doSearchValue(QStringLiteral("zz")), std::nullopt);
    EXPECT_TRUE(tags->names().isEmpty());
    // An empty text lists every live tag, still none from the trash.
    ASSERT_TRUE(tags->doSearchValue(QString()).has_value());
    EXPECT_EQ(tags->names().size(), 5);
    EXPECT_FALSE(tags->names().contains(QStringLiteral("Reserved")));

    std::unique_ptr<AutoCompletedViewController> authors{AutoCompletedViewController::initWithAuthorModel(engine.get())};
    author(QStringLiteral("Émile Zola"));
    author(QStringLiteral("Eve"), true);
    EXPECT_EQ(authors->doSearchValue(QStringLiteral("e")), QStringLiteral("Émile Zola"));
    EXPECT_EQ(authors->names().size(), 1);
}

TEST_F(AutoCompletedListTest, TenRowsAtMostAndTheArrowsStopAtBothEnds)
{
    for (int i = 0; i < 12; ++i)
        tag(QStringLiteral("t%1").arg(i, 2, 10, QLatin1Char('0')));
    ASSERT_EQ(tags->doSearchValue(QStringLiteral("t")), QStringLiteral("t00"));
    EXPECT_EQ(tags->viewSize(), QSize(140, 190));
    EXPECT_EQ(tags->doMoveRecordByKeyCode(UpArrow), QStringLiteral("t00"));
    EXPECT_EQ(tags->doMoveRecordByKeyCode(DownArrow), QStringLiteral("t01"));
    for (int i = 0; i < 20; ++i)
        tags->doMoveRecordByKeyCode(DownArrow);
    EXPECT_EQ(tags->doMoveRecordByKeyCode(DownArrow), QStringLiteral("t11"));
    EXPECT_EQ(tags->selectedRow(), 11);

    ASSERT_EQ(tags->doSearchValue(QStringLiteral("t05")), QStringLiteral("t05"));
    EXPECT_EQ(tags->viewSize(), QSize(140, 19));
    EXPECT_EQ(tags->doSearchValue(QStringLiteral("x")), std::nullopt);
    EXPECT_EQ(tags->viewSize(), QSize(140, 19));
    EXPECT_EQ(tags->doMoveRecordByKeyCode(DownArrow), std::nullopt);
}

TEST_F(AutoCompletedListTest, AClickedRowGoesToTheOwner)
{
    tag(QStringLiteral("alpha"));
    tag(QStringLiteral("beta"));
    QStringList picked;
    tags->setDelegate({[&](const QString& name, AutoCompletedViewController*) { picked << name; }});
    ASSERT_TRUE(tags->doSearchValue(QString()).has_value());
    tags->updateViewSize(tags->viewSize());
    tags->view()->show();
    QWidget* viewport = tags->tableView()->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, 19 + 9));
    EXPECT_EQ(picked, QStringList{QStringLiteral("beta")});
    EXPECT_EQ(tags->tableView()->focusPolicy(), Qt::NoFocus);
}

} // namespace
