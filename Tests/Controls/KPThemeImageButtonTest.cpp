#include "Controls/KPThemeImageButton.h"
#include "ControlsTestSupport.h"
#include "Support/TestSupport.h"
#include "Theme/KPThemeManager.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace controlstest;

namespace {

constexpr QPoint kInside(10, 10);
constexpr QPoint kOutside(40, 10);

struct ButtonTest : ::testing::Test {
    void SetUp() override
    {
        button = std::make_unique<KPThemeImageButton>(QRect(0, 0, 20, 20));
        button->setupAction([this](KPThemeImageButton* b) {
            EXPECT_EQ(b, button.get());
            ++actions;
        });
    }
    // The colour shown at the button's centre.
    QColor shown() { return pixel(*button, kInside); }

    std::unique_ptr<KPThemeImageButton> button;
    int actions = 0;
};

} // namespace

TEST_F(ButtonTest, StatePrecedenceOnTheRenderedButton)
{
    auto sprite = solidMultiSprite("NODHX");
    button->setMultiSprite(sprite.get());
    EXPECT_EQ(shown(), kNormal);
    enter(*button, kInside);
    EXPECT_EQ(shown(), kOver);

    QTest::mousePress(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_EQ(shown(), kDown);
    move(*button, kOutside, true);
    EXPECT_EQ(shown(), kNormal);   // pressed but outside
    move(*button, kInside, true);
    EXPECT_EQ(shown(), kDown);

    button->setIsHighlight(true);
    EXPECT_EQ(shown(), kHighlight);   // highlight beats pressed
    button->setEnabled(false);
    EXPECT_EQ(shown(), kDisabled);    // disabled beats everything
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_EQ(actions, 1);            // and changes nothing else
}

TEST_F(ButtonTest, DisabledOnlyChangesTheDrawing)
{
    auto sprite = solidMultiSprite("ND");
    button->setMultiSprite(sprite.get());
    button->setEnabled(false);
    const QColor faded = shown();
    EXPECT_NEAR(faded.alpha(), int(0.3 * 255), 2);
    EXPECT_NEAR(faded.red(), kNormal.red(), 3) << "the normal picture, faded";
    EXPECT_EQ(faded.blue(), 0);

    // Owners rely on a disabled button still tracking the mouse and sending its action.
    QTest::mouseClick(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_EQ(actions, 1);
    QTest::mousePress(button.get(), Qt::LeftButton, {}, kInside);
    move(*button, kOutside, true);
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, kOutside);
    EXPECT_EQ(actions, 1);

    auto withDisabled = solidMultiSprite("NX");
    button->setMultiSprite(withDisabled.get());
    EXPECT_EQ(shown(), kDisabled);
    QTest::mouseClick(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_EQ(actions, 2);
}

TEST_F(ButtonTest, OnlyAReleaseInsideWithoutAMenuActs)
{
    auto sprite = solidMultiSprite("ND");
    button->setMultiSprite(sprite.get());
    QTest::mousePress(button.get(), Qt::LeftButton, {}, kInside);
    move(*button, kOutside, true);
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, kOutside);
    EXPECT_EQ(actions, 0);

    QMenu menu;
    button->setPopupMenu(&menu);
    QTest::mousePress(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_EQ(shown(), kDown);   // the press still shows
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_EQ(actions, 0);

    button->setPopupMenu(nullptr);
    QTest::mouseClick(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_EQ(actions, 1);
}

TEST_F(ButtonTest, PressBlockTakesThePressAndNoActionFollows)
{
    auto sprite = solidMultiSprite("ND");
    button->setMultiSprite(sprite.get());
    int blocks = 0;
    button->setupCoustomPopupMenuBlock([&](KPThemeImageButton* b, QMouseEvent* e) {
        ++blocks;
        EXPECT_EQ(b, button.get());
        EXPECT_EQ(e->position().toPoint(), kInside);
    });
    QTest::mouseClick(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_EQ(blocks, 1);
    EXPECT_EQ(actions, 0);
    EXPECT_EQ(shown(), kNormal);
}

TEST_F(ButtonTest, AQuickClickKeepsItsPressedLookBriefly)
{
    auto sprite = solidMultiSprite("ND");
    button->setMultiSprite(sprite.get());
    QTest::mouseClick(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(shown(), kDown);
    EXPECT_TRUE(testsupport::spinUntil([&] { return shown() == kNormal; }));
}

TEST_F(ButtonTest, OverStateNeedsATrackingArea)
{
    auto plain = solidMultiSprite("ND");
    button->setMultiSprite(plain.get());
    EXPECT_FALSE(button->hasTrackingArea());
    enter(*button, kInside);
    EXPECT_EQ(shown(), kNormal);

    auto hover = solidMultiSprite("NO");
    button->setMultiSprite(hover.get());
    EXPECT_TRUE(button->hasTrackingArea());
    enter(*button, kInside);
    EXPECT_EQ(shown(), kOver);
    leave(*button);
    EXPECT_EQ(shown(), kNormal);
    // A release ends the over look until the pointer enters again.
    enter(*button, kInside);
    QTest::mouseClick(button.get(), Qt::LeftButton, {}, kInside);
    EXPECT_FALSE(button->isMouseEnter());
}

TEST_F(ButtonTest, BackgroundHookRunsFirstAndItsBrushFillsASpritelessButton)
{
    QRectF drawn;
    button->setupDrawBGAction([&](KPThemeImageButton*, QPainter& p, const QRectF& r) {
        drawn = r;
        p.setBrush(QColor(1, 2, 3));
    });
    EXPECT_EQ(shown(), QColor(1, 2, 3));
    EXPECT_EQ(drawn, QRectF(0, 0, 20, 20));

    // Over a sprite the hook's drawing stays underneath.
    auto sprite = solidMultiSprite("N");
    button->setMultiSprite(sprite.get());
    EXPECT_EQ(shown(), kNormal);

    button->setupDrawBGAction({});
    button->setMultiSprite(nullptr);
    EXPECT_EQ(shown().alpha(), 0);   // no hook, no brush: nothing drawn
}

TEST(KPThemeImageButtonTheme, ThemeSwitchRefetchesTopLevelSpriteByName)
{
    KPThemeManager* manager = KPThemeManager::themeManager();
    KPThemeImageButton button(QRect(0, 0, 26, 22));
    auto* gray = KPThemeObject::themeObjectWithName<KPMultiSprite>(QStringLiteral("BottomAddButton"));
    ASSERT_NE(gray, nullptr);
    button.setMultiSprite(gray);
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("blue")));
    EXPECT_NE(button.multiSprite(), gray);
    EXPECT_EQ(button.multiSprite(), KPThemeObject::themeObjectWithName<KPMultiSprite>(QStringLiteral("BottomAddButton")));
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("gray")));
    EXPECT_EQ(button.multiSprite(), gray);

    // A group member has no top-level namesake: the button is left without a sprite.
    auto member = solidMultiSprite("N", QStringLiteral("Info"));
    button.setMultiSprite(member.get());
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("blue")));
    EXPECT_EQ(button.multiSprite(), nullptr);
    ASSERT_TRUE(manager->updateThemeByName(QStringLiteral("gray")));
    EXPECT_EQ(button.multiSprite(), nullptr);

    // Buttons made and dropped do not stay registered.
    const int before = manager->themeObjectCount();
    for (int i = 0; i < 20; ++i)
        KPThemeImageButton temporary;
    EXPECT_EQ(manager->themeObjectCount(), before);
}
