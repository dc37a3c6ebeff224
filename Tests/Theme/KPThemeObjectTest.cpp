#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPCustomThemeObjectValue.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPTextStyle.h"
#include "Theme/KPThemeResourcer.h"
#include "Theme/ThemeValueText.h"
#include "ThemeFixtures.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace themefixtures;

namespace {

// A sheet of 8 x 8 cells at the given scale, as the fixture files hold.
KPThemeSheet makeSheet(bool is2x)
{
    const int s = is2x ? 2 : 1;
    KPThemeSheet sheet;
    sheet.is2x = is2x;
    sheet.image = QImage(64 * s, 64 * s, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&sheet.image);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            p.fillRect(c * 8 * s, r * 8 * s, 8 * s, 8 * s, cellColor(c, r));
    return sheet;
}

std::unique_ptr<KPThemeObject> make(const QVariantMap& desc, const KPThemeSheet& sheet, const QString& name = QStringLiteral("obj"))
{
    auto made = KPThemeResourcer::makeThemeObject(name, desc, &sheet);
    EXPECT_TRUE(made.has_value());
    (*made)->load();
    return std::move(*made);
}

} // namespace

TEST(KPThemeObject, ZeroWidthSpriteHasNoImageAndLogsOnce)
{
    const KPThemeSheet sheet = makeSheet(false);
    LogCapture log;
    auto sprite = make({{QStringLiteral("Type"), QStringLiteral("Sprite")}, {QStringLiteral("Value"), QStringLiteral("{{0, 0}, {0, 8}}")}},
                       sheet, QStringLiteral("Flat"));
    auto* s = dynamic_cast<KPSprite*>(sprite.get());
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->image().isNull());
    EXPECT_EQ(s->size(), QSizeF(0, 0));
    s->load();
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_EQ(log.lines().first(), QStringLiteral("KPSprite load data error: Flat-{{0, 0}, {0, 8}}"));
}

TEST(KPThemeObject, TwoXCutsDoubledPixelsAndReportsPointSize)
{
    const KPThemeSheet sheet = makeSheet(true);
    auto sprite = make({{QStringLiteral("Type"), QStringLiteral("Sprite")}, {QStringLiteral("Value"), QStringLiteral("{{10, 20}, {30, 40}}")}}, sheet);
    auto* s = dynamic_cast<KPSprite*>(sprite.get());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->image().size(), QSize(60, 80));
    EXPECT_EQ(s->size(), QSizeF(30, 40));
    // Pixel (0,0) of the cut is sheet pixel (20,40): cell column 1, row 2 at 16 px per cell.
    EXPECT_EQ(s->image().pixelColor(0, 0), cellColor(1, 2));
    // A rectangle partly outside is cut to the part inside; wholly outside gives nothing.
    auto partial = make({{QStringLiteral("Type"), QStringLiteral("Sprite")}, {QStringLiteral("Value"), QStringLiteral("{{60, 60}, {10, 10}}")}}, sheet);
    EXPECT_EQ(dynamic_cast<KPSprite*>(partial.get())->image().size(), QSize(8, 8));
    auto outside = make({{QStringLiteral("Type"), QStringLiteral("Sprite")}, {QStringLiteral("Value"), QStringLiteral("{{100, 0}, {8, 8}}")}}, sheet);
    EXPECT_TRUE(dynamic_cast<KPSprite*>(outside.get())->image().isNull());
}

TEST(KPThemeObject, MultiSpriteAndSlicesKeepOnlyTheirGivenParts)
{
    const KPThemeSheet sheet = makeSheet(false);
    auto multi = make({{QStringLiteral("Type"), QStringLiteral("MultiSprite")},
                       {QStringLiteral("Normal"), QStringLiteral("{{0, 0}, {8, 8}}")},
                       {QStringLiteral("Over"), QStringLiteral("{{8, 0}, {8, 8}}")}},
                      sheet);
    auto* m = dynamic_cast<KPMultiSprite*>(multi.get());
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->normalSprite(), nullptr);
    ASSERT_NE(m->overSprite(), nullptr);
    EXPECT_EQ(m->overSprite()->image().pixelColor(0, 0), cellColor(1, 0));
    EXPECT_EQ(m->downSprite(), nullptr);

    auto slices = make({{QStringLiteral("Type"), QStringLiteral("HorizontalSprite")},
                        {QStringLiteral("LeftRect"), QStringLiteral("{{0, 8}, {4, 8}}")},
                        {QStringLiteral("CenterRect"), QStringLiteral("{{4, 8}, {0, 8}}")},
                        {QStringLiteral("RightRect"), QStringLiteral("{{8, 8}, {6, 8}}")},
                        {QStringLiteral("Offset"), QStringLiteral("{3, -2}")}},
                       sheet);
    auto* h = dynamic_cast<KPHorizontalSprite*>(slices.get());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->leftSprite()->size(), QSizeF(4, 8));
    EXPECT_EQ(h->centerSprite(), nullptr);   // an empty cut is simply absent
    EXPECT_EQ(h->rightSprite()->size(), QSizeF(6, 8));
    EXPECT_EQ(h->offset(), QPointF(3, -2));
}

TEST(KPThemeObject, TextStyleDefaultsAndAttributes)
{
    const KPThemeSheet sheet;
    auto plain = make({{QStringLiteral("Type"), QStringLiteral("TextStyle")}, {QStringLiteral("FontName"), QStringLiteral("NoSuchFontAnywhere")},
                       {QStringLiteral("FontShadowSet"), QStringLiteral("{1, -1}")}},
                      sheet);
    auto* t = dynamic_cast<KPTextStyle*>(plain.get());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->fontSize(), 12.0);
    const auto& attrs = t->textAttribute();
    EXPECT_FALSE(attrs.shadow.has_value());   // an offset alone makes no shadow
    EXPECT_FALSE(attrs.color.has_value());

    auto styled = make({{QStringLiteral("Type"), QStringLiteral("TextStyle")}, {QStringLiteral("FontSize"), QStringLiteral("0")},
                        {QStringLiteral("FontColor"), QStringLiteral("0x00FF00")}, {QStringLiteral("FontShadowColor"), QStringLiteral("000000")},
                        {QStringLiteral("FontShadowSet"), QStringLiteral("{0, -1}")}, {QStringLiteral("FontShadowBlur"), 2},
                        {QStringLiteral("FontAlignment"), 2}, {QStringLiteral("FontLineBreak"), 5}},
                       sheet);
    auto* s = dynamic_cast<KPTextStyle*>(styled.get());
    const auto& a = s->textAttribute();
    EXPECT_EQ(s->fontSize(), 12.0);   // "0" written as text still means the default
    EXPECT_EQ(a.color, QColor(0, 255, 0));
    EXPECT_TRUE(a.hasParagraphStyle);
    EXPECT_EQ(a.horizontalAlignment(), Qt::AlignHCenter);
    EXPECT_EQ(a.elideMode(), Qt::ElideMiddle);
    ASSERT_TRUE(a.shadow.has_value());
    EXPECT_EQ(a.shadow->offset, QSizeF(0, -1));
    EXPECT_EQ(a.shadow->blur, 2.0);
}

TEST(KPThemeObject, CustomValuesAndGroups)
{
    const KPThemeSheet sheet;
    auto rectNoValue = make({{QStringLiteral("Type"), QStringLiteral("Rect")}}, sheet);
    EXPECT_FALSE(dynamic_cast<KPCustomThemeObjectValue*>(rectNoValue.get())->objectValue().isValid());
    auto point = make({{QStringLiteral("Type"), QStringLiteral("Point")}, {QStringLiteral("Value"), QStringLiteral("{10, 20}")}}, sheet);
    EXPECT_EQ(dynamic_cast<KPCustomThemeObjectValue*>(point.get())->objectValue().toPointF(), QPointF(10, 20));
    auto other = make({{QStringLiteral("Type"), QStringLiteral("Weird")}, {QStringLiteral("Value"), 3}}, sheet);
    EXPECT_FALSE(dynamic_cast<KPCustomThemeObjectValue*>(other.get())->objectValue().isValid());

    auto group = KPThemeResourcer::makeCustomThemeObject(
        QStringLiteral("G"), QVariantMap{{QStringLiteral("c"), QVariantMap{{QStringLiteral("Type"), QStringLiteral("Color")}, {QStringLiteral("Value"), QStringLiteral("FF8000")}}}},
        &sheet);
    ASSERT_TRUE(group && *group);
    EXPECT_EQ((*group)->themeObjectWithName(QStringLiteral("missing")), nullptr);
    auto* c = (*group)->themeObjectWithName<KPColor>(QStringLiteral("c"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->color(), QColor(255, 128, 0));
}

TEST(ThemeValueText, ColoursAndGeometryReadLikeThePlatform)
{
    EXPECT_EQ(themeColorFromString(QStringLiteral("336699")), QColor(0x33, 0x66, 0x99));
    EXPECT_EQ(themeColorFromString(QStringLiteral("0xFFFFFF")), QColor(255, 255, 255));
    EXPECT_EQ(themeColorFromString(QStringLiteral("#FFFFFF")), QColor(0, 0, 0));      // no leading digit
    EXPECT_EQ(themeColorFromString(QStringLiteral("ff")), QColor(0, 0, 255));
    EXPECT_EQ(themeColorFromString(QStringLiteral("12zz")), QColor(0, 0, 0x12));      // stops at 'z'
    EXPECT_FALSE(themeColorFromString(QString()).has_value());
    EXPECT_FALSE(themeColorFromValue(QVariant()).has_value());

    EXPECT_EQ(themeRectFromString(QStringLiteral("{{1.5, -2}, {3, 4}}")), QRectF(1.5, -2, 3, 4));
    EXPECT_EQ(themeRectFromString(QStringLiteral("nonsense")), QRectF());
    EXPECT_EQ(themePointFromString(QStringLiteral("{7}")), QPointF(7, 0));
    EXPECT_EQ(themeSizeFromString(QStringLiteral("{0, -1}")), QSizeF(0, -1));
}
