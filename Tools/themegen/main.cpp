// themegen: draws the theme style lists and sprite sheets (and the few other bundle pictures)
// into a resource folder. Run by the build; every picture is vector drawing code, so nothing
// binary lives in the source tree and the output is the same on every run.
//
//   folivo_themegen <resource folder> [<supported-format list>]
#include "FileIcons.h"
#include "PaneIcons.h"
#include "PlistXmlWriter.h"
#include "SheetBuilder.h"

#include <QDir>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <cstdio>

using namespace themegen;

namespace {

const char* const kThemes[] = {"dark", "light", "gray", "blue", "red", "green", "yellow"};

struct StateKey {
    char letter;
    const char* key;
};
constexpr StateKey kStates[] = {{'N', "Normal"},    {'O', "Over"},     {'D', "Down"},
                                {'H', "Highlight"}, {'X', "Disabled"}, {'U', "Unactive"}};

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        std::fprintf(stderr, "themegen: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool writeImage(const QString& path, const QImage& image)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        std::fprintf(stderr, "themegen: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

struct Placed {
    const ThemeCatalogueEntry* entry;
    char state;
    int piece;
};

bool generateTheme(const QString& folder, const QString& name)
{
    const Palette palette = Palette::forTheme(name);
    SheetBuilder sheet;
    std::vector<Placed> placed;
    for (const ThemeCatalogueEntry& e : kThemeCatalogue) {
        if (e.kind == ThemeKind::Sprite) {
            placed.push_back({&e, 0, sheet.addPiece(QSize(e.width, e.height), elementArt(e, 0, palette))});
        } else if (e.kind == ThemeKind::HorizontalSprite) {
            const QSize size(e.capLeft + e.width + e.capRight, e.height);
            placed.push_back({&e, 0, sheet.addPiece(size, elementArt(e, 0, palette))});
        } else if (e.kind == ThemeKind::MultiSprite) {
            for (const char* s = e.states; *s; ++s)
                placed.push_back({&e, *s, sheet.addPiece(QSize(e.width, e.height), elementArt(e, *s, palette))});
        }
    }
    sheet.pack();

    QVariantMap objects;
    QMap<QString, QVariantMap> groups;
    auto store = [&](const ThemeCatalogueEntry& e, const QVariantMap& desc) {
        if (e.group)
            groups[QLatin1String(e.group)].insert(QLatin1String(e.name), desc);
        else
            objects.insert(QLatin1String(e.name), desc);
    };
    auto descOf = [&](const ThemeCatalogueEntry& e) -> QVariantMap {
        QVariantMap d = e.group ? groups.value(QLatin1String(e.group)).value(QLatin1String(e.name)).toMap()
                                : objects.value(QLatin1String(e.name)).toMap();
        return d;
    };
    for (const Placed& p : placed) {
        const ThemeCatalogueEntry& e = *p.entry;
        const QRect r = sheet.rectOf(p.piece);
        QVariantMap d = descOf(e);
        if (e.kind == ThemeKind::Sprite) {
            d = {{QStringLiteral("Type"), QStringLiteral("Sprite")}, {QStringLiteral("Value"), rectText(r)}};
        } else if (e.kind == ThemeKind::HorizontalSprite) {
            d = {{QStringLiteral("Type"), QStringLiteral("HorizontalSprite")},
                 {QStringLiteral("LeftRect"), rectText(QRect(r.x(), r.y(), e.capLeft, e.height))},
                 {QStringLiteral("CenterRect"), rectText(QRect(r.x() + e.capLeft, r.y(), e.width, e.height))},
                 {QStringLiteral("RightRect"), rectText(QRect(r.x() + e.capLeft + e.width, r.y(), e.capRight, e.height))}};
        } else {
            d.insert(QStringLiteral("Type"), QStringLiteral("MultiSprite"));
            for (const StateKey& k : kStates) {
                if (k.letter == p.state)
                    d.insert(QLatin1String(k.key), rectText(r));
            }
        }
        store(e, d);
    }
    for (const ThemeCatalogueEntry& e : kThemeCatalogue) {
        if (e.kind != ThemeKind::Sprite && e.kind != ThemeKind::MultiSprite && e.kind != ThemeKind::HorizontalSprite)
            store(e, valueDescription(e, palette));
    }

    QVariantMap groupMap;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it)
        groupMap.insert(it.key(), it.value());
    const QVariantMap root{{QStringLiteral("ThemeObjects"), objects}, {QStringLiteral("CustomThemeObject"), groupMap}};

    return writeImage(QStringLiteral("%1/%2.png").arg(folder, name), sheet.render(1)) &&
           writeImage(QStringLiteral("%1/%2@2x.png").arg(folder, name), sheet.render(2)) &&
           writeBytes(QStringLiteral("%1/%2.plist").arg(folder, name), xmlPropertyList(root));
}

bool generateViewModeButton(const QString& resources)
{
    QImage image(56, 98, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    drawViewModeSheet(p, Palette::forTheme(QStringLiteral("gray")));
    p.end();
    return writeImage(resources + QStringLiteral("/KPViewModeButton.png"), image);
}

bool generateImportingIcons(const QString& resources)
{
    for (int scale : {1, 2}) {
        QImage image(QSize(168, 168) * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.scale(scale, scale);
        drawImportingIcons(p);
        p.end();
        const QString name = scale == 1 ? QStringLiteral("importing_icons.png") : QStringLiteral("importing_icons2x.png");
        if (!writeImage(resources + QLatin1Char('/') + name, image))
            return false;
    }
    return true;
}

// The flag filter strip of the collection tool bar: its flag squares and lit background.
bool generateFlagFilterImages(const QString& resources)
{
    QImage squares(126, 18, QImage::Format_ARGB32_Premultiplied);
    squares.fill(Qt::transparent);
    QPainter sp(&squares);
    drawFlagFilterSquares(sp);
    sp.end();
    QImage background(22, 18, QImage::Format_ARGB32_Premultiplied);
    background.fill(Qt::transparent);
    QPainter bp(&background);
    drawFilterButtonBackground(bp);
    bp.end();
    return writeImage(resources + QStringLiteral("/flag_images.png"), squares) &&
           writeImage(resources + QStringLiteral("/collection_toolbar_filterbutton_bg.png"), background);
}

// The smart-folder content field's background: a white field in a grey outline with rounded
// ends, 10 x 20 points, cut into a 4-point cap, a 2-point middle and a 4-point cap.
bool generateContentFieldImage(const QString& resources)
{
    for (int scale : {1, 2}) {
        QImage image(QSize(10, 20) * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        p.setPen(QPen(QColor(0x9a, 0x9a, 0x9a), 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(0.5, 0.5, 9, 19), 3.5, 3.5);
        p.end();
        const QString name = scale == 1 ? QStringLiteral("/smartfolder_content_textfiled.png")
                                        : QStringLiteral("/smartfolder_content_textfiled@2x.png");
        if (!writeImage(resources + name, image))
            return false;
    }
    return true;
}

// The separator under each row of the search field's suggestion list: a 300 x 2 point strip,
// a dark hairline over a light one, faded towards both ends so the rows' edges stay soft.
bool generateSearchResultLine(const QString& resources)
{
    for (int scale : {1, 2}) {
        QImage image(QSize(300, 2) * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.scale(scale, scale);
        const auto strip = [&p](qreal y, const QColor& color) {
            QLinearGradient fade(0, 0, 300, 0);
            QColor clear = color;
            clear.setAlpha(0);
            fade.setColorAt(0, clear);
            fade.setColorAt(0.1, color);
            fade.setColorAt(0.9, color);
            fade.setColorAt(1, clear);
            p.fillRect(QRectF(0, y, 300, 1), fade);
        };
        strip(0, QColor(0x6e, 0x6e, 0x6e));
        strip(1, QColor(Qt::white));
        p.end();
        const QString name = scale == 1 ? QStringLiteral("/KPSearchTextEditor_ResultWindowLine.png")
                                        : QStringLiteral("/KPSearchTextEditor_ResultWindowLine@2x.png");
        if (!writeImage(resources + name, image))
            return false;
    }
    return true;
}

// The library folder's own icon: a blue folder holding a white page, 256 x 256.
bool generateLibraryIcon(const QString& resources)
{
    QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath back;
    back.addRoundedRect(QRectF(16, 48, 224, 176), 18, 18);
    back.addRoundedRect(QRectF(16, 32, 96, 40), 12, 12);
    p.fillPath(back.simplified(), QColor(0x3a, 0x7b, 0xd5));
    p.setPen(QPen(QColor(0xb0, 0xb6, 0xbe), 3));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(72, 24, 112, 140), 8, 8);
    p.setPen(QPen(QColor(0x9a, 0xa3, 0xad), 6, Qt::SolidLine, Qt::RoundCap));
    for (int y = 56; y <= 128; y += 24)
        p.drawLine(QPointF(92, y), QPointF(164, y));
    QLinearGradient front(0, 96, 0, 224);
    front.setColorAt(0, QColor(0x5d, 0x9c, 0xec));
    front.setColorAt(1, QColor(0x3a, 0x7b, 0xd5));
    p.setPen(Qt::NoPen);
    p.setBrush(front);
    p.drawRoundedRect(QRectF(16, 96, 224, 128), 18, 18);
    p.end();
    return writeImage(resources + QStringLiteral("/library.png"), image);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: folivo_themegen <resource folder> [<supported-format list>]\n");
        return 2;
    }
    const QString resources = QString::fromLocal8Bit(argv[1]);
    const QString themeFolder = resources + QStringLiteral("/theme");
    if (!QDir().mkpath(themeFolder)) {
        std::fprintf(stderr, "themegen: cannot create %s\n", qPrintable(themeFolder));
        return 1;
    }
    for (const char* theme : kThemes) {
        if (!generateTheme(themeFolder, QLatin1String(theme)))
            return 1;
    }
    const QString supportList = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    return generateViewModeButton(resources) && generateImportingIcons(resources) && generateLibraryIcon(resources) &&
                   generateFlagFilterImages(resources) && generateContentFieldImage(resources) &&
                   generateSearchResultLine(resources) &&
                   generateFileIcons(resources, supportList) &&
                   generatePaneIcons(resources)
               ? 0
               : 1;
}
