#include "Palette.h"

namespace themegen {

namespace {

struct Swatch {
    const char* name;
    int r, g, b;
};
// The preferences' theme swatches.
constexpr Swatch kSwatches[] = {
    {"gray", 111, 125, 140}, {"dark", 73, 73, 73},    {"light", 203, 211, 211}, {"blue", 58, 152, 219},
    {"red", 237, 111, 112},  {"green", 65, 161, 133}, {"yellow", 226, 198, 112},
};

// Above this luminance text on the accent is dark rather than white.
constexpr qreal kLightAccentLuminance = 0.6;

using themecontrast::readableOn;

// Text and glyphs keep a readable contrast on every ground they are drawn on; where an accent
// leaves too little, the ground or the ink moves (grounds of the bars away from their ink, inks of
// the panes away from their grounds) as little as that takes.
void makeReadable(Palette& p)
{
    constexpr double kPlate = 5.0; // gradients drawn from a colour reach a little either side of it
    p.titleStart = readableOn({p.onTitle}, p.titleStart, kPlate);
    p.titleEnd = readableOn({p.onTitle}, p.titleEnd, kPlate);
    p.selection = readableOn({p.selectedText}, p.selection, kPlate);
    p.iconHighlight = p.selection;
    const std::initializer_list<QColor> panes{p.sidebarBg, p.sidebarItemBg, p.contentBg, p.panelBg,
                                              p.panelBg.lighter(103), p.panelBg.darker(106)};
    p.text = readableOn(panes, p.text);
    p.mutedText = readableOn(panes, p.mutedText);
    p.icon = readableOn(panes, p.icon);
    p.iconOver = readableOn(panes, p.iconOver);
    p.iconDown = readableOn(panes, p.iconDown);
}

} // namespace

QColor mix(const QColor& a, const QColor& b, qreal t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t), float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

qreal luminance(const QColor& c)
{
    return 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF();
}

QString hexText(const QColor& c)
{
    return QStringLiteral("%1%2%3")
        .arg(c.red(), 2, 16, QLatin1Char('0'))
        .arg(c.green(), 2, 16, QLatin1Char('0'))
        .arg(c.blue(), 2, 16, QLatin1Char('0'))
        .toUpper();
}

Palette Palette::forTheme(const QString& name)
{
    Palette p;
    p.name = name;
    p.accent = QColor(111, 125, 140);
    for (const Swatch& s : kSwatches) {
        if (name == QLatin1String(s.name))
            p.accent = QColor(s.r, s.g, s.b);
    }
    p.dark = name == QLatin1String("dark");
    const bool lightAccent = luminance(p.accent) > kLightAccentLuminance;
    const QColor white(Qt::white);
    const QColor black(Qt::black);

    p.titleStart = p.accent.lighter(112);
    p.titleEnd = p.accent.darker(118);
    p.titleTopLine = p.accent.lighter(135);
    p.titleBottomLine = p.accent.darker(150);
    p.onTitle = lightAccent ? QColor(0x33, 0x33, 0x33) : white;

    if (p.dark) {
        p.sidebarBg = QColor(0x30, 0x30, 0x30);
        p.sidebarItemBg = QColor(0x3a, 0x3a, 0x3a);
        p.contentBg = QColor(0x26, 0x26, 0x26);
        p.panelBg = QColor(0x2c, 0x2c, 0x2c);
        p.line = QColor(0x1a, 0x1a, 0x1a);
        p.text = QColor(0xe2, 0xe2, 0xe2);
        p.mutedText = QColor(0x98, 0x98, 0x98);
        p.selection = QColor(0x4f, 0x78, 0xa8);
    } else {
        p.sidebarBg = mix(p.accent, white, 0.86);
        p.sidebarItemBg = mix(p.accent, white, 0.78);
        p.contentBg = mix(p.accent, white, 0.95);
        p.panelBg = mix(p.accent, white, 0.90);
        p.line = mix(p.accent, black, 0.25);
        p.text = QColor(0x33, 0x33, 0x33);
        p.mutedText = QColor(0x7a, 0x7a, 0x7a);
        p.selection = lightAccent ? p.accent.darker(140) : p.accent;
    }
    p.selectedText = white;
    p.icon = p.dark ? QColor(0xb8, 0xb8, 0xb8) : mix(p.accent, black, 0.45);
    p.iconOver = p.dark ? QColor(0xe8, 0xe8, 0xe8) : p.icon.lighter(130);
    p.iconDown = p.dark ? QColor(0x80, 0x80, 0x80) : p.icon.darker(140);
    p.iconHighlight = p.selection;
    p.iconDisabled = QColor(0x9e, 0x9e, 0x9e, 0xa0);
    makeReadable(p);
    return p;
}

} // namespace themegen
