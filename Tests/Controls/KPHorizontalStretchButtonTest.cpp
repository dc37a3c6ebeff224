#include "Controls/KPButtonGroups.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "ControlsTestSupport.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPThemeManager.h"

#include <QMenu>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <limits>

using namespace controlstest;

namespace {

KPCustomThemeObject* navGroup()
{
    return KPThemeObject::customThemeObjectWithName(QStringLiteral("ButtonGroupsItem"));
}

QVariantMap item(const QString& title, int tag)
{
    return {{QStringLiteral("Title"), title}, {QStringLiteral("Tag"), tag}};
}

// Every title the program puts on themed stretch buttons: the group-by and recent-filter rows
// with the sort and display titles, and the two navigation buttons with their own groups.
const char* const kRowTitles[] = {"Title", "Updated", "Size", "Kind", "From", "Date", "Rating",
                                  "Import", "Last Open", "Last Modified"};
struct NavButton {
    const char* group;
    QRect frame;
    const char* title;
};
const NavButton kNavButtons[] = {{"LibraryNavButton", QRect(41, 3, 200, 32), "Library"},
                                 {"BackNavButton", QRect(48, 6, 200, 25), "Back"}};

// How far apart two pixels are: the sum of their channel differences.
int distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)) +
           std::abs(qAlpha(a) - qAlpha(b));
}

// The pixels a title adds to its button: the button drawn with its title less the same button
// drawn without it, channel by channel.
QImage titleLayer(KPHorizontalStretchButton& button, qreal scale)
{
    const bool autoResize = button.autoResizeByTitle();
    button.setAutoResizeByTitle(false);
    const QString title = button.title();
    const QImage with = render(button, scale).convertToFormat(QImage::Format_ARGB32);
    button.setTitle(QString());
    const QImage without = render(button, scale).convertToFormat(QImage::Format_ARGB32);
    button.setTitle(title);
    button.setAutoResizeByTitle(autoResize);
    QImage layer(with.size(), QImage::Format_ARGB32);
    for (int y = 0; y < with.height(); ++y) {
        for (int x = 0; x < with.width(); ++x) {
            const QRgb a = with.pixel(x, y), b = without.pixel(x, y);
            layer.setPixel(x, y, qRgba(std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                       std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))));
        }
    }
    return layer;
}

// Whether the button shows its whole title: the title's pixels must be those of the same title
// in the same kind of button with room to spare, wherever that one centres it. An ellipsis, a
// clipped last letter or a missing title all differ.
::testing::AssertionResult drawsTitleWhole(KPHorizontalStretchButton& button, qreal scale)
{
    constexpr int kRoom = 40;
    KPHorizontalStretchButton roomy(QRect(0, 0, button.width() + kRoom, button.height()));
    roomy.setCustomThemeObject(button.customThemeObject());
    roomy.setTitle(button.title());
    const QImage shown = titleLayer(button, scale);
    const QImage whole = titleLayer(roomy, scale);
    long mass = 0;
    for (int y = 0; y < whole.height(); ++y)
        for (int x = 0; x < whole.width(); ++x)
            mass += distance(whole.pixel(x, y), 0);
    long best = std::numeric_limits<long>::max();
    for (int shift = 0; shift <= int(kRoom * scale); ++shift) {
        long diff = 0;
        for (int y = 0; y < whole.height(); ++y) {
            for (int x = 0; x < whole.width(); ++x) {
                const int sx = x - shift;
                diff += distance(sx >= 0 && sx < shown.width() ? shown.pixel(sx, y) : 0, whole.pixel(x, y));
            }
        }
        best = std::min(best, diff);
    }
    if (mass > 0 && best * 50 <= mass)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << '"' << qPrintable(button.title()) << "\" at " << scale << "x in "
                                         << button.width() << " points: " << best << " of " << mass << " differ";
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

TEST(KPHorizontalStretchButton, EveryTitleIsDrawnWholeInEveryThemeAt1xAnd2x)
{
    KPThemeManager* manager = KPThemeManager::themeManager();
    QVariantList items;
    for (const char* title : kRowTitles)
        items << item(QLatin1String(title), int(items.size()));
    for (const QString& theme : KPThemeManager::themeNames()) {
        ASSERT_TRUE(manager->updateThemeByName(theme)) << qPrintable(theme);
        for (const qreal scale : {1.0, 2.0}) {
            SCOPED_TRACE(qPrintable(QStringLiteral("%1 at %2x").arg(theme).arg(scale)));
            KPButtonGroups row(QRect(0, 0, 900, 30));
            row.setCustomThemeObject(navGroup());
            row.setupDatas(items);
            for (KPHorizontalStretchButton* button : row.buttons())
                EXPECT_TRUE(drawsTitleWhole(*button, scale));
            for (const NavButton& nav : kNavButtons) {
                KPHorizontalStretchButton button(nav.frame);
                button.setCustomThemeObject(KPThemeObject::customThemeObjectWithName(QLatin1String(nav.group)));
                button.setAutoResizeByTitle(true);
                button.setTitle(QLatin1String(nav.title));
                EXPECT_TRUE(drawsTitleWhole(button, scale));
                // The window names its buttons before the theme dresses them, and a theme switch
                // dresses them again: the width follows the new insets and font.
                KPHorizontalStretchButton named(nav.frame);
                named.setAutoResizeByTitle(true);
                named.setTitle(QLatin1String(nav.title));
                named.setCustomThemeObject(KPThemeObject::customThemeObjectWithName(QLatin1String(nav.group)));
                EXPECT_TRUE(drawsTitleWhole(named, scale)) << nav.title << " named first";
            }
        }
    }
    ASSERT_TRUE(manager->updateThemeByName(KPThemeManager::kDefaultThemeName));
}

TEST(KPHorizontalStretchButton, ReleaseOutsideSendsNothingAndDisabledStillSends)
{
    KPHorizontalStretchButton button(QRect(0, 0, 60, 22));
    int clicks = 0;
    button.setupTargetAndAction([&](KPHorizontalStretchButton*) { ++clicks; });
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(button.isMouseDown());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(90, 10));
    EXPECT_EQ(clicks, 0);
    // The enabled flag changes only the look; the owner decides what a click then means.
    button.setEnabled(false);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 1);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(90, 10));
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
