#include "Controls/KPSlider.h"
#include "ControlsTestSupport.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

// The main window's zoom slider: 170 wide, range 25-100.
struct SliderTest : ::testing::Test {
    void SetUp() override
    {
        slider = std::make_unique<KPSlider>(QRect(0, 0, 170, 20), 1);
        slider->setMinValue(25);
        slider->setMaxValue(100);
        slider->setDelegate({[this](double v) { told << v; }});
    }
    // y-up 10 is the slider's middle; Qt's y is the same here (height 20).
    void click(double x) { QTest::mouseClick(slider.get(), Qt::LeftButton, {}, QPoint(int(x), 10)); }

    std::unique_ptr<KPSlider> slider;
    QList<double> told;
};

// The first and last column within [from, to) where two renders differ; (-1, -1) for none.
std::pair<int, int> differingColumns(const QImage& a, const QImage& b, int from, int to)
{
    std::pair<int, int> found{-1, -1};
    for (int x = from; x < to; ++x) {
        for (int y = 0; y < a.height(); ++y) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                found = {found.first < 0 ? x : found.first, x};
                break;
            }
        }
    }
    return found;
}

// The first and last column of the knob picture that hold any ink.
std::pair<int, int> inkColumns(const QImage& image)
{
    QImage clear(image.size(), image.format());
    clear.fill(Qt::transparent);
    return differingColumns(image, clear, 0, image.width());
}

} // namespace

TEST_F(SliderTest, ClicksJumpTheKnobAndReportChangesOnce)
{
    click(69);
    EXPECT_EQ(slider->currentValue(), 53);
    click(69);
    EXPECT_EQ(told, QList<double>({53}));
    click(2);
    EXPECT_EQ(slider->currentValue(), 25);
    click(169);
    EXPECT_EQ(slider->currentValue(), 100);
    EXPECT_DOUBLE_EQ(slider->sliderButtonX(), 151.0);
    EXPECT_EQ(told, QList<double>({53, 25, 100}));
}

TEST_F(SliderTest, TheKnobIsDrawnWhereTheValuePutsIt)
{
    ASSERT_NE(slider->knobSprite(), nullptr);
    const auto ink = inkColumns(slider->knobSprite()->image().convertToFormat(QImage::Format_ARGB32));
    ASSERT_GE(ink.first, 0);
    // The knob's pixels: what changes against the same slider with its knob at the far end.
    const auto knobPixels = [&] {
        const QImage shown = controlstest::render(*slider);
        const double value = slider->currentValue();
        const bool leftHalf = slider->sliderButtonX() < 85;
        slider->setCurrentValue(leftHalf ? 100 : 25);
        const QImage away = controlstest::render(*slider);
        slider->setCurrentValue(value);
        return differingColumns(shown, away, leftHalf ? 0 : 85, leftHalf ? 85 : 170);
    };
    const auto expectKnobAt = [&](double centre) {
        const auto [left, right] = knobPixels();
        EXPECT_NEAR(left, centre - 8 + ink.first, 1) << centre;
        EXPECT_NEAR(right, centre - 8 + ink.second, 1) << centre;
    };
    for (const double value : {25.0, 45.0, 80.0, 100.0}) {
        slider->setCurrentValue(value);
        expectKnobAt((value - 25) / 75 * 132 + 19);
    }
    // A click jumps the knob under the pointer (x 69 gives 53, whose place is x 68.3).
    click(69);
    expectKnobAt((53.0 - 25) / 75 * 132 + 19);
}

TEST_F(SliderTest, SettingTheValueClampsAndTellsNobody)
{
    slider->setCurrentValue(500);
    EXPECT_EQ(slider->currentValue(), 100);
    slider->setCurrentValue(40);
    slider->setMinValue(60);
    EXPECT_EQ(slider->currentValue(), 60);
    EXPECT_DOUBLE_EQ(slider->sliderButtonX(), 19.0);   // the knob back at the start
    EXPECT_TRUE(told.isEmpty());
    EXPECT_EQ(slider->lastValue(), 0);
}

TEST_F(SliderTest, DragsFollowOnlyPressesOnTheKnob)
{
    slider->setCurrentValue(60);
    const int knob = int(slider->sliderButtonX()) + 2;   // inside the hit rectangle
    QTest::mousePress(slider.get(), Qt::LeftButton, {}, QPoint(knob, 10));
    EXPECT_TRUE(slider->isMouseDown());
    EXPECT_EQ(slider->knobSprite(), KPThemeObject::customThemeObjectWithName(QStringLiteral("ZoomSlider"))
                                        ->themeObjectWithName<KPMultiSprite>(QStringLiteral("SlideButton"))
                                        ->highlightSprite());
    QTest::mouseRelease(slider.get(), Qt::LeftButton, {}, QPoint(knob, 10));
    EXPECT_TRUE(told.isEmpty());   // a press on the knob alone sends nothing

    QTest::mousePress(slider.get(), Qt::LeftButton, {}, QPoint(knob, 10));
    controlstest::move(*slider, QPoint(19, 10), true);
    EXPECT_EQ(told, QList<double>({25}));
    QTest::mouseRelease(slider.get(), Qt::LeftButton, {}, QPoint(19, 10));

    // A press off the knob jumps, but its drag moves nothing.
    told.clear();
    QTest::mousePress(slider.get(), Qt::LeftButton, {}, QPoint(100, 10));
    controlstest::move(*slider, QPoint(140, 10), true);
    QTest::mouseRelease(slider.get(), Qt::LeftButton, {}, QPoint(140, 10));
    EXPECT_EQ(told.size(), 1);
}

TEST(KPSlider, EmptyRangeKeepsTheKnobAtTheStart)
{
    KPSlider slider(QRect(0, 0, 170, 20), 1);
    slider.setMaxValue(0);
    EXPECT_DOUBLE_EQ(slider.sliderButtonX(), 19.0);
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(slider.currentValue(), 0);
    EXPECT_FALSE(std::isnan(slider.sliderButtonX()));
    controlstest::render(slider);
}

TEST(KPSlider, ATinySliderHasNoTravel)
{
    KPSlider slider(QRect(0, 0, 20, 20), 1);
    EXPECT_EQ(slider.countPixel(), -18);
    slider.setCurrentValue(50);
    EXPECT_FALSE(std::isnan(slider.sliderButtonX()));
}
