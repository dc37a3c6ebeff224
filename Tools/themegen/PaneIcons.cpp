#include "PaneIcons.h"

#include "Glyphs.h"

#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainterPath>
#include <QSaveFile>
#include <cstdio>

namespace themegen {

namespace {

struct PaneIcon {
    const char* name;
    Glyph glyph;
    QColor color;
};

const PaneIcon kPaneIcons[] = {
    {"general", Glyph::Gear, QColor(0x7b, 0x86, 0x93)},    {"sources", Glyph::Cloud, QColor(0x3a, 0x98, 0xdb)},
    {"flags", Glyph::Flag, QColor(0xed, 0x6f, 0x70)},      {"format", Glyph::Document, QColor(0x41, 0xa1, 0x85)},
    {"advanced", Glyph::Briefcase, QColor(0x8e, 0x6c, 0xc8)}, {"devices", Glyph::Share, QColor(0xe2, 0xa6, 0x3c)},
};

QImage paneIcon(const PaneIcon& icon, int scale)
{
    QImage image(QSize(kPaneIconSize, kPaneIconSize) * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    const QRectF tile(2, 2, kPaneIconSize - 4, kPaneIconSize - 4);
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    fill.setColorAt(0, icon.color.lighter(118));
    fill.setColorAt(1, icon.color);
    QPainterPath shape;
    shape.addRoundedRect(tile, 6, 6);
    p.fillPath(shape, fill);
    drawGlyph(p, icon.glyph, tile.adjusted(6, 6, -6, -6), Qt::white);
    p.end();
    return image;
}

} // namespace

bool generatePaneIcons(const QString& resources)
{
    const QString folder = resources + QStringLiteral("/preferences");
    if (!QDir().mkpath(folder))
        return false;
    for (const PaneIcon& icon : kPaneIcons) {
        for (int scale : {1, 2}) {
            const QString path = QStringLiteral("%1/%2%3.png").arg(folder, QLatin1String(icon.name),
                                                                   scale == 2 ? QStringLiteral("@2x") : QString());
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || !paneIcon(icon, scale).save(&file, "PNG") || !file.commit()) {
                std::fprintf(stderr, "themegen: cannot write %s\n", qPrintable(path));
                return false;
            }
        }
    }
    return true;
}

} // namespace themegen
