#include "Controls/KPButtonGroups.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "ControlsTestSupport.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPThemeManager.h"

#include <QMenu>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace controlstest;

namespace {

KPCustomThemeObject* navGroup()
{
    return KPThemeObject::customThemeObjectWithName(QStringLiteral("ButtonGroupsItem"));
}

QColor groupColor(const char* name)
{
    return *navGroup()->themeObjectWithName<KPColor>(QLatin1String(name))->color();
}

QVariantMap item(const QString& title, int tag)
{
    return {{QStringLiteral("Title"), title}, {QStringLiteral("Tag"), tag}};
}

} // namespace

TEST(KPHorizontalStretchButton, AutoWidthIsClampedAndCountsTheIcon)
{
    ASSERT_NE(navGroup(), nullptr);
    KPHorizontalStretchButton button(QRect(0, 0, 100, 22));
    button.setCustomThemeObject(navGroup());
    button.setAutoResizeByTitle(true);
    button.setTitle(QStringLiteral("i"));
    EXPECT_EQ(button.width(), KPHorizontalStretchButton::kMinimumAutoWidth);
    button.setTitle(QString(200, QLatin1Char('W')));
    EXPECT_EQ(button.width(), KPHorizontalStretchButton::kMaximumAutoWidth);

    button.setTitle(QStringLiteral("Documents"));
    const int plain = button.width();
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    button.setIcon(icon);
    EXPECT_EQ(button.width(), plain);   // setting the icon alone does not resize
    button.setTitle(QStringLiteral("Documents"));
    EXPECT_EQ(button.width(), plain + 20);
    EXPECT_EQ(button.height(), 22);
}

TEST(KPHorizontalStretchButton, StateBackgroundAndTitleColours)
{
    KPHorizontalStretchButton button(QRect(0, 0, 100, 22));
    EXPECT_FALSE(button.textAttributes().has_value());
    button.setCustomThemeObject(navGroup());
    auto* group = navGroup();
    EXPECT_EQ(button.currentBackground(), group->themeObjectWithName(QStringLiteral("Normal")));
    button.setIsHightlight(true);
    EXPECT_EQ(button.currentBackground(), group->themeObjectWithName(QStringLiteral("Highlight")));
    EXPECT_EQ(button.textAttributes()->color, groupColor("TextSelectedColor"));
    button.setEnabled(false);
    EXPECT_EQ(button.currentBackground(), group->themeObjectWithName(QStringLiteral("Disabled")));
    EXPECT_EQ(button.textAttributes()->color, groupColor("TextDisabledColor"));
    ASSERT_TRUE(button.textAttributes()->shadow.has_value());
    EXPECT_EQ(button.textAttributes()->shadow->offset, QSizeF(0, -1));
    EXPECT_EQ(button.textAttributes()->elideMode(), Qt::ElideRight);
}

TEST(KPHorizontalStretchButton, DisabledSendsNothingAndReleaseOutsideSendsNothing)
{
    KPHorizontalStretchButton button(QRect(0, 0, 60, 22));
    int clicks = 0;
    button.setupTargetAndAction([&](KPHorizontalStretchButton*) { ++clicks; });
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(button.isMouseDown());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(90, 10));
    EXPECT_EQ(clicks, 0);
    button.setEnabled(false);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 0);
    button.setEnabled(true);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 1);
}

TEST(KPHorizontalStretchButton, SettingSuppliesTheLitBackground)
{
    QImage bg(22, 18, QImage::Format_ARGB32_Premultiplied);
    bg.fill(QColor(0, 180, 0));
    const QVariantMap setting{{QStringLiteral("Highlight"), bg},
                              {QStringLiteral("1"), QRectF(0, 0, 10, 18)},
                              {QStringLiteral("2"), QRectF(10, 0, 2, 18)},
                              {QStringLiteral("3"), QRectF(12, 0, 10, 18)}};
    KPHorizontalStretchButton button(QRect(0, 0, 60, 18), setting);
    EXPECT_EQ(pixel(button, QPoint(30, 9)).alpha(), 0);
    button.setIsHightlight(true);
    EXPECT_EQ(pixel(button, QPoint(30, 9)), QColor(0, 180, 0));
    EXPECT_EQ(pixel(button, QPoint(2, 9)), QColor(0, 180, 0));
    EXPECT_EQ(pixel(button, QPoint(57, 9)), QColor(0, 180, 0));
}

TEST(KPHorizontalStretchButton, DelegateMenuTakesThePress)
{
    KPHorizontalStretchButton button(QRect(0, 0, 60, 22));
    int clicks = 0;
    button.setupTargetAndAction([&](KPHorizontalStretchButton*) { ++clicks; });
    QMenu menu;
    menu.addAction(QStringLiteral("One"));
    bool wasDown = false;
    button.setDelegate({[&](KPHorizontalStretchButton* b) -> QMenu* {
        wasDown = b->isMouseDown();
        QTimer::singleShot(0, &menu, &QMenu::close);
        return &menu;
    }});
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(wasDown);
    EXPECT_FALSE(button.isMouseDown());   // cleared when the menu closed
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 0);
    // The next ordinary click is not swallowed.
    button.setDelegate({});
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 1);
}

struct ButtonGroupsTest : ::testing::Test {
    void SetUp() override
    {
        row = std::make_unique<KPButtonGroups>(QRect(0, 0, 400, 30));
        row->setCustomThemeObject(navGroup());
        row->setupButtonGroupsClickAction([this](const QVariantMap& item) { reported << item.value(QStringLiteral("Tag")).toInt(); });
        row->setupDatas({item(QStringLiteral("Name"), 10), item(QStringLiteral("Date"), 20), item(QStringLiteral("Kind"), 30)});
    }
    void click(int index)
    {
        QTest::mouseClick(row->buttons().at(size_t(index)), Qt::LeftButton, {}, QPoint(5, 5));
    }
    std::vector<bool> lit() const
    {
        std::vector<bool> out;
        for (auto* b : row->buttons())
            out.push_back(b->isHightlight());
        return out;
    }

    std::unique_ptr<KPButtonGroups> row;
    QList<int> reported;
};

TEST_F(ButtonGroupsTest, RowIsMeasuredSpacedAndCentred)
{
    const auto& b = row->buttons();
    ASSERT_EQ(b.size(), 3u);
    const int total = b[2]->geometry().right() + 1 - b[0]->x();
    EXPECT_EQ(b[1]->x(), b[0]->x() + b[0]->width() + 8);
    EXPECT_EQ(b[2]->x(), b[1]->x() + b[1]->width() + 8);
    EXPECT_LE(std::abs(b[0]->x() - (400 - total) / 2), 1);
    EXPECT_EQ(b[0]->height(), 22);
    EXPECT_EQ(b[0]->y(), 30 - 22);   // the row's bottom edge
    for (auto* button : b)
        EXPECT_GT(button->width(), 24);
}

TEST_F(ButtonGroupsTest, ClicksReportChangesOnlyAndSelectByTagIsSilent)
{
    click(1);
    click(1);
    EXPECT_EQ(reported, QList<int>({20}));
    EXPECT_EQ(lit(), std::vector<bool>({false, true, false}));

    row->selectByTag(30);
    EXPECT_EQ(row->currentTag(), 30);
    EXPECT_EQ(lit(), std::vector<bool>({false, false, true}));
    EXPECT_EQ(reported, QList<int>({20}));
    click(2);   // the selected one, but the last click was forgotten
    EXPECT_EQ(reported, QList<int>({20, 30}));

    row->selectByTag(99);
    EXPECT_EQ(row->currentTag(), 30);
    EXPECT_EQ(lit(), std::vector<bool>({false, false, true}));
    click(2);
    EXPECT_EQ(reported, QList<int>({20, 30}));
}

TEST_F(ButtonGroupsTest, ThemeSwitchRebuildsKeepingTheClickedPosition)
{
    ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("green")));
    EXPECT_EQ(lit(), std::vector<bool>({true, false, false}));   // nothing clicked yet: the first
    EXPECT_EQ(row->buttons().front()->customThemeObject(), navGroup());
    click(2);
    ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
    EXPECT_EQ(lit(), std::vector<bool>({false, false, true}));
    click(2);
    EXPECT_EQ(reported, QList<int>({30}));   // the rebuilt selection counts as clicked

    row->setupDatas({});
    EXPECT_TRUE(row->buttons().empty());
}
