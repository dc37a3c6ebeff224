// Every generated theme answers every name of the catalogue with the right kind of object and
// pictures of the sizes the drawing code expects, at 1x and at 2x. Also writes a contact sheet
// per theme (all pictures on one page) into the build folder for review by eye.
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObjectValue.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPTextStyle.h"
#include "Theme/KPThemeManager.h"
#include "Theme/ThemeCatalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QGuiApplication>
#include <QScreen>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

const std::pair<char, KPSprite* (KPMultiSprite::*)() const> kStates[] = {
    {'N', &KPMultiSprite::normalSprite},       {'O', &KPMultiSprite::overSprite},
    {'D', &KPMultiSprite::downSprite},         {'H', &KPMultiSprite::highlightSprite},
    {'X', &KPMultiSprite::disabledSprite},     {'U', &KPMultiSprite::unactiveSprite},
};

QString where(const QString& theme, const ThemeCatalogueEntry& e)
{
    return QStringLiteral("%1: %2/%3").arg(theme, QLatin1String(e.group ? e.group : "-"), QLatin1String(e.name));
}

void expectImage(const KPSprite* sprite, QSizeF size, qreal scale, const QString& context)
{
    ASSERT_NE(sprite, nullptr) << qPrintable(context);
    EXPECT_EQ(sprite->size(), size) << qPrintable(context);
    EXPECT_EQ(sprite->image().size(), (size * scale).toSize()) << qPrintable(context);
    // Not blank: a picture is more than a stray dot, so it has several fully opaque pixels.
    const QImage img = sprite->image().convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            opaque += qAlpha(img.pixel(x, y)) == 255 ? 1 : 0;
    EXPECT_GT(opaque, 1) << qPrintable(context);
}

// Places every picture of the theme on one page, in catalogue order.
class ContactSheet {
public:
    void add(const QImage& image)
    {
        if (!image.isNull())
            m_images.push_back(image);
    }
    void save(const QString& path) const
    {
        constexpr int kWidth = 900;
        int x = 4, y = 4, row = 0;
        std::vector<QPoint> at;
        for (const QImage& img : m_images) {
            const QSize s = (QSizeF(img.size()) / img.devicePixelRatio()).toSize();
            if (x + s.width() + 4 > kWidth) {
                x = 4;
                y += row + 4;
                row = 0;
            }
            at.emplace_back(x, y);
            x += s.width() + 4;
            row = std::max(row, s.height());
        }
        QImage page(kWidth, y + row + 4, QImage::Format_ARGB32);
        page.fill(QColor(0xee, 0xee, 0xee));
        QPainter p(&page);
        for (size_t i = 0; i < m_images.size(); ++i)
            p.drawImage(at[i], m_images[i]);
        p.end();
        page.save(path);
    }

private:
    std::vector<QImage> m_images;
};

void checkTheme(const QString& theme, bool is2x)
{
    platform::NotificationCenter center;
    KPThemeManager manager(platform::Bundle::mainBundle().resourcePath(), is2x, &center);
    ASSERT_TRUE(manager.updateThemeByName(theme)) << qPrintable(theme);
    const qreal scale = is2x ? 2.0 : 1.0;
    ContactSheet sheet;
    for (const ThemeCatalogueEntry& e : kThemeCatalogue) {
        const QString context = where(theme, e);
        KPThemeObject* object = nullptr;
        if (e.group) {
            KPCustomThemeObject* group = manager.customThemeObjectWithName(QLatin1String(e.group));
            ASSERT_NE(group, nullptr) << qPrintable(context);
            object = group->themeObjectWithName(QLatin1String(e.name));
        } else {
            object = manager.themeObjectWithName(QLatin1String(e.name));
        }
        ASSERT_NE(object, nullptr) << qPrintable(context);
        const QSizeF size(e.width, e.height);
        switch (e.kind) {
        case ThemeKind::Sprite: {
            auto* sprite = dynamic_cast<KPSprite*>(object);
            expectImage(sprite, size, scale, context);
            if (sprite)
                sheet.add(sprite->image());
            break;
        }
        case ThemeKind::MultiSprite: {
            auto* multi = dynamic_cast<KPMultiSprite*>(object);
            ASSERT_NE(multi, nullptr) << qPrintable(context);
            for (const auto& [letter, member] : kStates) {
                KPSprite* state = (multi->*member)();
                if (std::strchr(e.states, letter)) {
                    expectImage(state, size, scale, context + QLatin1Char(' ') + QLatin1Char(letter));
                    if (state)
                        sheet.add(state->image());
                } else {
                    EXPECT_EQ(state, nullptr) << qPrintable(context);
                }
            }
            break;
        }
        case ThemeKind::HorizontalSprite: {
            auto* slices = dynamic_cast<KPHorizontalSprite*>(object);
            ASSERT_NE(slices, nullptr) << qPrintable(context);
            ASSERT_TRUE(slices->leftSprite() && slices->centerSprite() && slices->rightSprite()) << qPrintable(context);
            EXPECT_EQ(slices->leftSprite()->size(), QSizeF(e.capLeft, e.height)) << qPrintable(context);
            EXPECT_EQ(slices->centerSprite()->size(), size) << qPrintable(context);
            EXPECT_EQ(slices->rightSprite()->size(), QSizeF(e.capRight, e.height)) << qPrintable(context);
            sheet.add(slices->leftSprite()->image());
            sheet.add(slices->centerSprite()->image());
            sheet.add(slices->rightSprite()->image());
            break;
        }
        case ThemeKind::Color: {
            auto* color = dynamic_cast<KPColor*>(object);
            ASSERT_NE(color, nullptr) << qPrintable(context);
            EXPECT_TRUE(color->color().has_value()) << qPrintable(context);
            break;
        }
        case ThemeKind::TextStyle: {
            auto* style = dynamic_cast<KPTextStyle*>(object);
            ASSERT_NE(style, nullptr) << qPrintable(context);
            EXPECT_TRUE(style->textAttribute().color.has_value()) << qPrintable(context);
            break;
        }
        case ThemeKind::Number:
        case ThemeKind::Point: {
            auto* value = dynamic_cast<KPCustomThemeObjectValue*>(object);
            ASSERT_NE(value, nullptr) << qPrintable(context);
            EXPECT_TRUE(value->objectValue().isValid()) << qPrintable(context);
            break;
        }
        }
    }
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/../contact-sheets");
    QDir().mkpath(dir);
    sheet.save(QStringLiteral("%1/%2%3.png").arg(dir, theme, is2x ? QStringLiteral("@2x") : QString()));
}

} // namespace

TEST(GeneratedThemes, EveryCatalogueNameResolvesAt1xAnd2x)
{
    for (const QString& theme : KPThemeManager::themeNames()) {
        checkTheme(theme, false);
        checkTheme(theme, true);
    }
}

TEST(GeneratedThemes, FixedGeometryTheDrawingCodeReliesOn)
{
    platform::NotificationCenter center;
    KPThemeManager manager(platform::Bundle::mainBundle().resourcePath(), false, &center);
    ASSERT_TRUE(manager.updateThemeByName(QStringLiteral("gray")));
    // Token cells: the delete glyph lives in the 21-point right slice, x 7-21.
    auto* token = manager.customThemeObjectWithName(QStringLiteral("TokenCell_Tag"))->themeObjectWithName<KPHorizontalSprite>(QStringLiteral("Normal"));
    ASSERT_NE(token, nullptr);
    const QImage right = token->rightSprite()->image();
    EXPECT_EQ(right.width(), 21);
    EXPECT_NE(right.pixelColor(14, 10), right.pixelColor(3, 10));
    // The flag tab is the right half; the left half stays empty.
    auto* flag = manager.customThemeObjectWithName(QStringLiteral("Flag"))->themeObjectWithName<KPSprite>(QStringLiteral("3"));
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(qAlpha(flag->image().pixel(4, 10)), 0);
    EXPECT_GT(qAlpha(flag->image().pixel(22, 10)), 0);
    // The default theme is offered and the bundle holds the view-mode picture sheet.
    EXPECT_TRUE(KPThemeManager::themeNames().contains(KPThemeManager::kDefaultThemeName));
    const QImage modes(platform::Bundle::mainBundle().pathForResource(QStringLiteral("KPViewModeButton"), QStringLiteral("png")));
    EXPECT_EQ(modes.size(), QSize(56, 98));
    const platform::Bundle& bundle = platform::Bundle::mainBundle();
    EXPECT_EQ(QImage(bundle.pathForResource(QStringLiteral("importing_icons"), QStringLiteral("png"))).size(), QSize(168, 168));
    EXPECT_EQ(QImage(bundle.pathForResource(QStringLiteral("importing_icons2x"), QStringLiteral("png"))).size(), QSize(336, 336));
    EXPECT_FALSE(QImage(bundle.pathForResource(QStringLiteral("-1"), QStringLiteral("png"), QStringLiteral("fileicon"))).isNull());
    EXPECT_EQ(QImage(bundle.pathForResource(QStringLiteral("-1@2x"), QStringLiteral("png"), QStringLiteral("fileicon"))).size(), QSize(200, 200));
}

// A kind tile shows nothing but its icon and a count: kinds of one group (the image formats, the
// office documents) must not share a picture, at either scale.
TEST(GeneratedThemes, KindIconsOfOneGroupDiffer)
{
    const platform::Bundle& bundle = platform::Bundle::mainBundle();
    for (const QString& suffix : {QString(), QStringLiteral("@2x")}) {
        QHash<QByteArray, QString> seen;
        for (int kind = 1; kind <= 400; ++kind) {
            const QString path = bundle.pathForResource(QString::number(kind) + suffix, QStringLiteral("png"), QStringLiteral("fileicon"));
            if (path.isEmpty())
                continue;
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(path);
            const QImage image = QImage::fromData(file.readAll());
            ASSERT_FALSE(image.isNull()) << qPrintable(path);
            const QByteArray pixels(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
            const QString twin = seen.value(pixels);
            EXPECT_TRUE(twin.isEmpty()) << qPrintable(path) << " looks like " << qPrintable(twin);
            seen.insert(pixels, path);
        }
        EXPECT_GT(seen.size(), 20) << "kind icons" << qPrintable(suffix);
    }
}

// Also run by CTest with QT_SCALE_FACTOR=2, where the shared manager must pick the 2x sheets.
TEST(SharedThemeManager, ScaleComesFromThePrimaryScreen)
{
    KPThemeManager* shared = KPThemeManager::themeManager();
    const bool expected2x = QGuiApplication::primaryScreen()->devicePixelRatio() >= 2.0;
    EXPECT_EQ(shared->is2x(), expected2x);
    RecordProperty("is2x", shared->is2x() ? "yes" : "no");
    ASSERT_TRUE(shared->updateThemeByName(KPThemeManager::kDefaultThemeName));
    auto* icon = KPThemeObject::themeObjectWithName<KPSprite>(QStringLiteral("TitleIcon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->image().devicePixelRatio(), expected2x ? 2.0 : 1.0);
    EXPECT_EQ(icon->size(), QSizeF(28, 28));
}
