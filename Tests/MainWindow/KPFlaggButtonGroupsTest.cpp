#include "Controls/KPHorizontalStretchButton.h"
#include "MainWindow/KPFlaggButtonGroups.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

QList<int> lit(const KPFlaggButtonGroups& group)
{
    QList<int> on;
    for (size_t i = 0; i < group.buttons().size(); ++i)
        if (group.buttons()[i]->isHightlight())
            on.append(int(i));
    return on;
}

TEST(KPFlaggButtonGroups, ReportsAChosenButtonOnce)
{
    KPFlaggButtonGroups group(QRect(0, 0, 500, 24));
    QList<int> reports;
    group.setupButtonGroupsClickAction([&](int index) { reports.append(index); });
    ASSERT_EQ(group.buttons().size(), 8u);
    EXPECT_EQ(group.buttons()[0]->title(), QStringLiteral("All"));
    for (size_t i = 1; i < 8; ++i) {
        EXPECT_EQ(group.buttons()[i]->size(), QSize(36, 18));
        EXPECT_EQ(group.buttons()[i]->icon().size(), QSize(18, 18));
    }

    group.selectByIndex(8);
    group.selectByIndex(-1);
    EXPECT_TRUE(lit(group).isEmpty());
    group.selectByIndex(3);
    EXPECT_EQ(lit(group), QList<int>{3});
    EXPECT_TRUE(reports.isEmpty());
    // Selecting is silent and changes no memory of clicks: a click on 3 still reports.
    const auto click = [&](int i) { QTest::mouseClick(group.buttons()[i], Qt::LeftButton, {}, QPoint(5, 5)); };
    click(3);
    click(3);
    click(0);
    EXPECT_EQ(reports, (QList<int>{3, 0}));
    EXPECT_EQ(lit(group), QList<int>{0});
}

} // namespace
