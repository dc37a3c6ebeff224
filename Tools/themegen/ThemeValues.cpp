// Colours, text styles and plain values of the generated themes.
#include "ThemeArt.h"

#include <cstring>

namespace themegen {

namespace {


QVariantMap color(const QColor& c)
{
    return {{QStringLiteral("Type"), QStringLiteral("Color")}, {QStringLiteral("Value"), hexText(c)}};
}

// Text-style numbering of the style lists.
enum Align { Left = 0, Right = 1, Center = 2 };
enum Break { Words = 0, Clip = 2, Tail = 4, Middle = 5 };

QVariantMap text(const char* font, double size, const QColor& c, int align = Left, int lineBreak = Tail,
                 const QColor& shadow = QColor())
{
    QVariantMap d{{QStringLiteral("Type"), QStringLiteral("TextStyle")},
                  {QStringLiteral("FontName"), QLatin1String(font)},
                  {QStringLiteral("FontSize"), size},
                  {QStringLiteral("FontColor"), hexText(c)},
                  {QStringLiteral("FontAlignment"), align},
                  {QStringLiteral("FontLineBreak"), lineBreak}};
    if (shadow.isValid()) {
        d.insert(QStringLiteral("FontShadowColor"), hexText(shadow));
        d.insert(QStringLiteral("FontShadowSet"), QStringLiteral("{0, -1}"));
        d.insert(QStringLiteral("FontShadowBlur"), 1.0);
    }
    return d;
}

QColor colorFor(const char* g, const char* n, const Palette& pal)
{
    if (is(g, "FileType"))
        return fileTypeColor(n);
    if (is(n, "TextSelectedColor") || is(n, "TextNumberColor"))
        return pal.onTitle == QColor(Qt::white) ? QColor(Qt::white) : QColor(0x11, 0x11, 0x11);
    if (is(n, "TextDisabledColor"))
        return QColor(0x9a, 0x9a, 0x9a);
    // Dark selected text gets a light shadow; a black one would smear it.
    if (is(n, "TextSelectedShadowColor"))
        return pal.onTitle == QColor(Qt::white) ? QColor(Qt::black) : QColor(Qt::white);
    if (has(n, "ShadowColor") || is(g, "TopLayer"))
        return Qt::black;
    if (is(n, "SelectFrameColor") || is(n, "ItemSelectedBackground") || (is(n, "FrameColor") && is(g, "ViewItem")) ||
        is(n, "ItemBackgroundColor"))
        return pal.selection;
    if (is(n, "SelectFrameFillColor"))
        return mix(pal.selection, Qt::white, 0.7);
    if (is(n, "StartColor"))
        return pal.titleStart;
    if (is(n, "EndColor"))
        return pal.titleEnd;
    if (is(n, "TopLineColor"))
        return pal.titleTopLine;
    if (is(n, "BottomLineColor"))
        return pal.titleBottomLine;
    // The list rows' alternating fills end in "LineColor" too: they are fills, not lines.
    if (is(n, "SingleLineColor") || is(n, "PropertyViewInfoContentBGColor"))
        return pal.contentBg;
    if (is(n, "DoubleLineColor"))
        return pal.panelBg;
    if (has(n, "RightLineColor") || has(n, "LineColor") || is(n, "FrameColor"))
        return pal.line;
    if (is(n, "BackgroundColor"))
        return pal.sidebarBg;
    // Count badges carry white numbers.
    if (is(n, "ItemNumberBGColor") || is(n, "TextNumberBGColor"))
        return themecontrast::readableOn({Qt::white}, pal.mutedText, 5.0);
    if (is(n, "PlaceholdFontColor"))
        return pal.mutedText;
    if (is(n, "ItemNumberSelectedBGColor"))
        return Qt::white;
    if (has(n, "BGColor"))
        return pal.panelBg;
    return pal.text;
}

QVariantMap textStyleFor(const char* g, const char* n, const Palette& pal)
{
    const QColor white(Qt::white);
    if (is(g, "ButtonGroupsItem") || is(g, "LibraryNavButton") || is(g, "BackNavButton"))
        return text("OpenSans", 12, pal.onTitle, Center, Tail, pal.onTitle == white ? QColor(0, 0, 0) : QColor(0xff, 0xff, 0xff));
    // The centre title sits on the tool bar above the grid, not on the title bar.
    if (is(n, "CenterTitleTextField"))
        return text("OpenSans-Bold", 13, pal.text, Center, Tail);
    // Under the author card, on the grid's ground.
    if (is(g, "AuthorView"))
        return text("OpenSans-Bold", 11, pal.mutedText, Center, Tail);
    if (is(g, "NoDocumentView")) {
        if (is(n, "NoDocumentText"))
            return text("OpenSans-Bold", 18, pal.mutedText, Center, Tail);
        if (is(n, "NoDocumentDescText"))
            return text("OpenSans", 13, pal.mutedText, Center, Words);
        return text("OpenSans", 12, is(n, "LearnMoreMouseInText") ? pal.selection.darker(130) : pal.selection, Center, Tail);
    }
    if (is(g, "SectionDateItemView"))
        return is(n, "MonthFont") ? text("OpenSans-Semibold", 14, pal.text, Center) : text("OpenSans", 11, pal.mutedText, Center);
    if (is(g, "SectionView"))
        return text("OpenSans-Bold", 12, pal.text);
    if (is(g, "ViewItem"))
        return is(n, "item-title") ? text("OpenSans", 12, pal.text, Center, Middle) : text("OpenSans", 10, pal.mutedText, Center);
    if (is(g, "FlagView"))
        return is(n, "TextFont") ? text("OpenSans", 12, pal.text, Center) : text("OpenSans", 11, pal.mutedText, Center);
    if (has(n, "-Selected"))
        return text(has(n, "Number") ? "OpenSans-Bold" : "OpenSans", has(n, "Number") ? 10 : 12,
                    has(n, "Number") ? pal.selection : white, has(n, "Number") ? Center : Left);
    if (has(n, "Number"))
        return text("OpenSans-Bold", 10, white, Center);
    if (is(n, "SectionFont"))
        return text("OpenSans-Bold", 11, pal.mutedText);
    if (is(n, "TagText"))
        return text("OpenSans", 11, pal.mutedText);
    if (is(n, "PropertyCenterTextField"))
        return text("OpenSans", 12, pal.text, Center);
    return text("OpenSans", 12, pal.text);
}

} // namespace

QColor fileTypeColor(const char* ext)
{
    struct Family {
        const char* exts;
        QColor color;
    };
    static const Family families[] = {
        {" pdf ", QColor(0xd9, 0x3b, 0x30)},
        {" doc docx rtf rtfd pages odt txt md ", QColor(0x2f, 0x6f, 0xc6)},
        {" xls xlsx numbers csv ods ", QColor(0x2e, 0x9a, 0x4e)},
        {" ppt pptx key odp ", QColor(0xe6, 0x7e, 0x22)},
        {" jpg jpeg png gif tif tiff bmp psd ", QColor(0x8e, 0x44, 0xad)},
        {" html htm xml json ", QColor(0x16, 0xa0, 0x85)},
        {" eml emlx ", QColor(0xc9, 0xa2, 0x27)},
        {" epub mobi azw3 djvu chm ", QColor(0x8b, 0x5e, 0x3c)},
    };
    const QByteArray key = " " + QByteArray(ext) + " ";
    for (const Family& f : families) {
        if (std::strstr(f.exts, key.constData()))
            return f.color;
    }
    return QColor(0x8a, 0x8a, 0x8a);
}

QVariantMap valueDescription(const ThemeCatalogueEntry& e, const Palette& pal)
{
    const char* g = e.group;
    const char* n = e.name;
    switch (e.kind) {
    case ThemeKind::Color:
        return color(colorFor(g, n, pal));
    case ThemeKind::TextStyle:
        return textStyleFor(g, n, pal);
    case ThemeKind::Number: {
        QVariant value = 24;
        if (is(n, "DrawNoise"))
            value = true;
        else if (is(n, "BGAlpha"))
            value = 0.5;
        return {{QStringLiteral("Type"), QStringLiteral("Number")}, {QStringLiteral("Value"), value}};
    }
    case ThemeKind::Point: {
        const QString value = is(n, "AddButtonOffset") ? QStringLiteral("{0, 0}") : QStringLiteral("{10, 10}");
        return {{QStringLiteral("Type"), QStringLiteral("Point")}, {QStringLiteral("Value"), value}};
    }
    default:
        return {};
    }
}

} // namespace themegen
