#include "ThemeArt.h"

#include "Glyphs.h"
#include "Theme/ThemeContrast.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRandomGenerator>
#include <cmath>
#include <cstring>

namespace themegen {

namespace {


// The flag colours by flag number 1-7; 0 is "no flag".
const QColor kFlagColors[8] = {QColor(0x9a, 0x9a, 0x9a), QColor(0xe8, 0x4c, 0x3d), QColor(0xf0, 0x93, 0x2b),
                               QColor(0xf1, 0xc4, 0x0f), QColor(0x4c, 0xb8, 0x5c), QColor(0x3a, 0x8e, 0xdb),
                               QColor(0x9b, 0x59, 0xb6), QColor(0x7f, 0x8c, 0x8d)};

Glyph glyphFor(const char* name)
{
    struct Rule {
        const char* part;
        Glyph glyph;
    };
    // First match wins, so the more specific parts come first.
    static const Rule rules[] = {
        {"TagGroup", Glyph::TagGroup},       {"IndexFolder", Glyph::IndexFolder}, {"SmartFolder", Glyph::SmartFolder},
        {"FolderNotFound", Glyph::Question}, {"DocumentDate", Glyph::Calendar},   {"Document", Glyph::Document},
        {"Collection", Glyph::Collection},   {"Tag", Glyph::Tag},                 {"Folder", Glyph::Folder},
        {"Project", Glyph::Briefcase},       {"Import", Glyph::Import},           {"Safebox", Glyph::Lock},
        {"SafeBoxLock", Glyph::Lock},        {"SafeBoxSetting", Glyph::Gear},     {"Trash", Glyph::Trash},
        {"Recent", Glyph::Clock},            {"Flag", Glyph::Flag},               {"FileType", Glyph::PageCorner},
        {"Author", Glyph::Person},           {"iCloud", Glyph::Cloud},            {"Receive", Glyph::Inbox},
        {"Stop", Glyph::Stop},               {"Add", Glyph::Plus},                {"Delete", Glyph::Minus},
        {"Clear", Glyph::Cross},             {"Info", Glyph::Info},               {"QuickLook", Glyph::Eye},
        {"ShowInFinder", Glyph::Reveal},     {"Merge", Glyph::Merge},             {"Share", Glyph::Share},
        {"Ascending", Glyph::ArrowUp},       {"Descending", Glyph::ArrowDown},    {"IconView", Glyph::Grid},
        {"ListView", Glyph::List},           {"HideSideBar", Glyph::SidebarToggle}, {"ShowSideBar", Glyph::SidebarToggle},
        {"ShowHideProperty", Glyph::InspectorToggle}, {"More", Glyph::More},      {"Date", Glyph::Calendar},
        {"Desc", Glyph::Document},           {"Rate", Glyph::Star},               {"Checker", Glyph::Check},
    };
    for (const Rule& r : rules) {
        if (has(name, r.part))
            return r.glyph;
    }
    return Glyph::Document;
}

QColor iconColor(char state, const Palette& pal)
{
    switch (state) {
    case 'O': return pal.iconOver;
    case 'D': return pal.iconDown;
    case 'H': return pal.iconHighlight;
    case 'X':
    case 'U': return pal.iconDisabled;
    default: return pal.icon;
    }
}

void verticalGradient(QPainter& p, const QRectF& r, const QColor& top, const QColor& bottom, qreal radius = 0)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r, radius, radius);
    p.restore();
}

// Buttons of tool bars: a rounded plate that shows for over, down and highlight.
void plateButton(QPainter& p, const QSizeF& s, char state, const char* name, const Palette& pal, bool onToolBar)
{
    const QRectF r(0.5, 0.5, s.width() - 1, s.height() - 1);
    QColor plate;
    if (state == 'O')
        plate = QColor(255, 255, 255, 45);
    else if (state == 'D')
        plate = QColor(0, 0, 0, 60);
    else if (state == 'H')
        plate = QColor(0, 0, 0, 45);
    if (plate.isValid()) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(plate);
        p.drawRoundedRect(r, 4, 4);
        p.restore();
    }
    // The glyph grid is 16 points; a box of whole multiples of 8 at a whole-point origin keeps
    // its lines on the pixel grid, so the 1x pictures stay crisp instead of half-covered grey.
    const qreal g = std::max(8.0, std::round(std::min(s.width(), s.height()) * 0.7 / 8) * 8);
    const QRectF box(std::floor((s.width() - g) / 2), std::floor((s.height() - g) / 2), g, g);
    // The tool bar's buttons sit on its light plate, not on the title bar: the pane's icon colour
    // reads there, and a lit button keeps its glyph on the darker plate.
    QColor c = onToolBar && state == 'H' ? pal.icon : iconColor(state, pal);
    if (onToolBar && (state == 'X' || state == 'U')) {
        c = pal.icon;
        c.setAlpha(110);
    }
    drawGlyph(p, glyphFor(name), box, c);
}

// Round buttons: a disc with a glyph (add, delete, stop, clear, knob).
void discButton(QPainter& p, const QSizeF& s, char state, Glyph glyph, const Palette& pal)
{
    const qreal d = std::min(s.width(), s.height()) - 1;
    const QRectF r((s.width() - d) / 2, (s.height() - d) / 2, d, d);
    QColor disc = pal.dark ? QColor(0x6a, 0x6a, 0x6a) : mix(pal.accent, Qt::white, 0.35);
    if (state == 'O')
        disc = disc.lighter(115);
    else if (state == 'D')
        disc = disc.darker(125);
    else if (state == 'H')
        disc = pal.selection;
    else if (state == 'X' || state == 'U')
        disc = QColor(0xb0, 0xb0, 0xb0);
    verticalGradient(p, r, disc.lighter(110), disc.darker(108), d / 2);
    // White reads on the darker discs; on the others the glyph darkens well past the bare
    // minimum, since its thin strokes lose some ink to antialiasing at 1x. A disabled disc keeps
    // its faint white glyph.
    constexpr double kThinGlyph = 7.0;
    const QColor ink = (state == 'X' || state == 'U')
                           ? QColor(Qt::white)
                           : themecontrast::readableOn({disc.lighter(110), disc.darker(108)}, Qt::white, kThinGlyph);
    if (glyph != Glyph::None)
        drawGlyph(p, glyph, r.adjusted(d * 0.2, d * 0.2, -d * 0.2, -d * 0.2), ink);
}

void windowButton(QPainter& p, const QSizeF& s, char state, const char* name, const Palette& pal)
{
    QColor c = has(name, "Close") ? QColor(0xfc, 0x5f, 0x57) : has(name, "Min") ? QColor(0xfd, 0xbc, 0x2e) : QColor(0x28, 0xc8, 0x41);
    if (state == 'U')
        c = pal.dark ? QColor(0x5a, 0x5a, 0x5a) : QColor(0xc8, 0xc8, 0xc8);
    if (state == 'D')
        c = c.darker(125);
    const QRectF r(1, 2, 12, 12);
    verticalGradient(p, r, c.lighter(108), c.darker(108), 6);
    if (state == 'O' || state == 'D') {
        const Glyph g = has(name, "Close") ? Glyph::Cross : has(name, "Min") ? Glyph::Minus : Glyph::Plus;
        drawGlyph(p, g, r.adjusted(2.5, 2.5, -2.5, -2.5), QColor(0, 0, 0, 140));
    }
}

// A pill across the whole three-slice piece; the slices cut it into caps and middle.
void pill(QPainter& p, const QSizeF& s, const QColor& top, const QColor& bottom, const QColor& stroke, qreal radius)
{
    const QRectF r(0.5, 0.5, s.width() - 1, s.height() - 1);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setBrush(g);
    p.setPen(stroke.isValid() ? QPen(stroke, 1) : QPen(Qt::NoPen));
    p.drawRoundedRect(r, radius, radius);
    p.restore();
}

void stretchButton(QPainter& p, const QSizeF& s, const char* state, const Palette& pal)
{
    QColor base = pal.dark ? QColor(0x55, 0x55, 0x55) : mix(pal.accent, Qt::white, 0.25);
    // One title colour (the title bar's ink) is drawn on every state but the disabled one: each
    // plate keeps its distance from it, the lit one a little more so it still looks lit.
    constexpr double kPlate = 5.2, kLitPlate = 7.0;
    base = themecontrast::readableOn({pal.onTitle}, base, kPlate);
    if (is(state, "Over"))
        base = themecontrast::readableOn({pal.onTitle}, base.lighter(112), kPlate);
    else if (is(state, "Down"))
        base = themecontrast::readableOn({pal.onTitle}, base.darker(125), kPlate);
    else if (is(state, "Highlight"))
        base = themecontrast::readableOn({pal.onTitle}, pal.dark ? QColor(0x2e, 0x2e, 0x2e) : pal.accent.darker(130), kLitPlate);
    else if (is(state, "Disabled"))
        base = mix(base, QColor(0xb0, 0xb0, 0xb0), 0.6);
    // The navigation buttons are taller than the 22-point pill; the button draws its background
    // over its whole height and centres the title in it, so the pill is centred in the picture.
    const qreal h = std::min<qreal>(s.height(), 22);
    p.save();
    p.translate(0, std::floor((s.height() - h) / 2));
    pill(p, QSizeF(s.width(), h), base.lighter(108), base.darker(106), base.darker(140), 5);
    p.restore();
}

void tokenCell(QPainter& p, const QSizeF& s, const char* group, const char* state, int rightCap, const Palette& pal)
{
    QColor base = has(group, "Author") ? QColor(0xd9, 0xb8, 0x7a) : has(group, "TextContent") ? QColor(0xc4, 0xc4, 0xc4)
                                                                                                 : mix(pal.accent, Qt::white, 0.45);
    if (is(state, "Over"))
        base = base.lighter(110);
    else if (is(state, "Down"))
        base = base.darker(120);
    pill(p, s, base, base.darker(105), base.darker(135), s.height() / 2 - 1);
    // The delete glyph sits at x 7-21 of the right slice.
    const qreal glyphTop = has(group, "TextContent") ? 1 : 3;
    drawGlyph(p, Glyph::Cross, QRectF(s.width() - rightCap + 7, glyphTop, 14, 14), QColor(0, 0, 0, 150));
}

void stripeTile(QPainter& p, const QSizeF& s, const Palette& pal)
{
    const QColor base = pal.dark ? QColor(0x5c, 0x8c, 0xc4) : pal.selection;
    p.fillRect(QRectF(QPointF(0, 0), s), base);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(base.lighter(135));
    // Diagonal bands with a period of the tile width, drawn three times so they wrap.
    for (int k = -1; k <= 1; ++k) {
        const qreal x = k * s.width();
        p.drawPolygon(QPolygonF({QPointF(x, s.height()), QPointF(x + 6, s.height()), QPointF(x + 6 + s.height(), 0),
                                 QPointF(x + s.height(), 0)}));
    }
    p.restore();
}

void flagIcon(QPainter& p, const QSizeF& s, int flag, bool wide)
{
    // The visible tab is the right half of the picture.
    const qreal half = s.width() / 2;
    // The empty flag is only an outline: half a point in, so its one-point line covers whole pixels.
    const QRectF tab = flag == 0 ? QRectF(half + 1.5, 1.5, half - 3, s.height() - 3) : QRectF(half + 1, 1, half - 2, s.height() - 2);
    QPainterPath path;
    path.moveTo(tab.left(), tab.top());
    path.lineTo(tab.right(), tab.top());
    path.lineTo(tab.right() - tab.width() * 0.3, tab.center().y());
    path.lineTo(tab.right(), tab.bottom());
    path.lineTo(tab.left(), tab.bottom());
    path.closeSubpath();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (flag == 0) {
        p.setPen(QPen(QColor(0x9a, 0x9a, 0x9a), 1, Qt::DashLine));
        p.drawPath(path);
    } else {
        p.setPen(QPen(kFlagColors[flag].darker(130), 1));
        p.setBrush(kFlagColors[flag]);
        p.drawPath(path);
        if (wide) {
            p.setPen(Qt::NoPen);
            p.setBrush(kFlagColors[flag].lighter(130));
            p.drawRect(QRectF(2, s.height() * 0.3, half - 3, s.height() * 0.4));
        }
    }
    p.restore();
}

} // namespace

void drawFlagFilterSquares(QPainter& p)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    for (int flag = 1; flag <= 7; ++flag) {
        const QRectF square(18 * (flag - 1) + 4, 4, 10, 10);
        p.setPen(QPen(kFlagColors[flag].darker(130), 1));
        p.setBrush(kFlagColors[flag]);
        p.drawRoundedRect(square.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    }
    p.restore();
}

void drawFilterButtonBackground(QPainter& p)
{
    // A pill whose round ends are the two 10-point caps; the 2-point middle stretches.
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x8a, 0x94, 0xa0), 1));
    p.setBrush(QColor(0xd4, 0xda, 0xe1));
    p.drawRoundedRect(QRectF(0.5, 0.5, 21, 17), 8.5, 8.5);
    p.restore();
}

namespace {

// The nine-part item frame as one picture; each piece draws its window of it.
constexpr qreal kFrameCorner = 10;
constexpr qreal kFrameEdge = 2;
void itemFrame(QPainter& p, const Palette& pal)
{
    const qreal full = kFrameCorner * 2 + kFrameEdge;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 4; i >= 1; --i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 14 * i));
        p.drawRoundedRect(QRectF(5 - i, 5 - i + 1, full - 10 + 2 * i, full - 10 + 2 * i), 3 + i, 3 + i);
    }
    p.setBrush(pal.dark ? QColor(0x44, 0x44, 0x44) : Qt::white);
    p.setPen(QPen(pal.dark ? QColor(0x55, 0x55, 0x55) : QColor(0xd0, 0xd0, 0xd0), 1));
    p.drawRoundedRect(QRectF(5.5, 5.5, full - 11, full - 11), 3, 3);
    p.restore();
}

void framePiece(QPainter& p, const char* name, const Palette& pal)
{
    const int index = name[0] - '1';
    const qreal offsets[3] = {0, kFrameCorner, kFrameCorner + kFrameEdge};
    p.translate(-offsets[index % 3], -offsets[index / 3]);
    itemFrame(p, pal);
}

void pagePicture(QPainter& p, const QSizeF& s, bool dashed, const Palette& pal)
{
    const QRectF r(s.width() * 0.08, s.height() * 0.05, s.width() * 0.84, s.height() * 0.9);
    const qreal corner = r.width() * 0.25;
    QPainterPath page;
    page.moveTo(r.topLeft());
    page.lineTo(r.right() - corner, r.top());
    page.lineTo(r.right(), r.top() + corner);
    page.lineTo(r.bottomRight());
    page.lineTo(r.bottomLeft());
    page.closeSubpath();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(pal.mutedText, dashed ? 2 : 1.2, dashed ? Qt::DashLine : Qt::SolidLine));
    p.setBrush(dashed ? QColor(Qt::transparent) : (pal.dark ? QColor(0x50, 0x50, 0x50) : QColor(0xfb, 0xfb, 0xfb)));
    p.drawPath(page);
    p.drawPolyline(QPolygonF({QPointF(r.right() - corner, r.top()), QPointF(r.right() - corner, r.top() + corner),
                              QPointF(r.right(), r.top() + corner)}));
    p.restore();
}

// A faint, fixed-seed grain so backgrounds are not flat; deterministic across runs.
void grain(QPainter& p, const QSizeF& s, quint32 seed)
{
    QRandomGenerator rng(seed);
    p.save();
    for (int i = 0; i < int(s.width() * s.height() / 6); ++i) {
        const int a = int(rng.bounded(10));
        p.fillRect(QRectF(rng.bounded(s.width()), rng.bounded(s.height()), 1, 1),
                   rng.bounded(2) ? QColor(255, 255, 255, a) : QColor(0, 0, 0, a));
    }
    p.restore();
}

DrawFn spriteArt(const ThemeCatalogueEntry& e, const Palette& pal)
{
    const char* g = e.group;
    const char* n = e.name;
    if (is(g, "ImportingProgressBar"))
        return [pal](QPainter& p, const QSizeF& s) { stripeTile(p, s, pal); };
    if (is(g, "Flag") || is(g, "FlagView")) {
        const int flag = n[0] - '0';
        const bool wide = is(g, "FlagView");
        return [flag, wide](QPainter& p, const QSizeF& s) { flagIcon(p, s, flag, wide); };
    }
    if (is(g, "ViewItemFrame"))
        return [pal, n](QPainter& p, const QSizeF&) { framePiece(p, n, pal); };
    if (is(n, "blank_document") || is(n, "NoSelectionIcon")) {
        const bool dashed = is(n, "NoSelectionIcon");
        return [pal, dashed](QPainter& p, const QSizeF& s) { pagePicture(p, s, dashed, pal); };
    }
    if (is(n, "Rate") || is(n, "Rate_None")) {
        const bool filled = is(n, "Rate");
        return [pal, filled](QPainter& p, const QSizeF& s) {
            drawGlyph(p, filled ? Glyph::Star : Glyph::StarOutline, QRectF(QPointF(0, 0), s),
                      filled ? QColor(0xf0, 0xb4, 0x2b) : pal.mutedText);
        };
    }
    if (has(n, "Triangle")) {
        const Glyph glyph = has(n, "Expand") ? Glyph::TriangleRight : Glyph::TriangleDown;
        return [pal, glyph](QPainter& p, const QSizeF& s) { drawGlyph(p, glyph, QRectF(QPointF(0, 0), s), pal.mutedText); };
    }
    if (is(g, "ZoomSlider")) {
        // Drawn on the slider's own 11-point grid: the 16-point glyphs scaled this small would
        // thin their lines below a pixel.
        const bool large = is(n, "Right_icon");
        return [pal, large](QPainter& p, const QSizeF& s) {
            p.save();
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(pal.icon, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
            p.setBrush(Qt::NoBrush);
            if (large) {
                p.drawRect(QRectF(0.5, 0.5, s.width() - 1, s.height() - 1));
                p.drawPolyline(QPolygonF({QPointF(0.5, 8.5), QPointF(3.5, 5.5), QPointF(6.5, 8.5), QPointF(10.5, 4.5)}));
            } else {
                p.drawRect(QRectF(3.5, 3.5, 4, 4));
            }
            p.restore();
        };
    }
    if (is(n, "TitleIcon"))
        return [pal](QPainter& p, const QSizeF& s) {
            discButton(p, s, 'N', Glyph::Collection, pal);
        };
    if (is(n, "DefaultIcon"))
        return [pal](QPainter& p, const QSizeF& s) {
            verticalGradient(p, QRectF(QPointF(4, 4), s - QSizeF(8, 8)), pal.sidebarItemBg, pal.panelBg, s.width() / 2 - 4);
            drawGlyph(p, Glyph::Person, QRectF(s.width() * 0.2, s.height() * 0.2, s.width() * 0.6, s.height() * 0.6), pal.mutedText);
        };
    // The tile draws this card 10 points up, so its top 10 points fall outside the tile, and
    // writes the count across the card's lower edge: the card starts below the cut and ends above
    // the count, which then stands on the grid's ground.
    if (is(n, "AuthorBG"))
        return [pal](QPainter& p, const QSizeF& s) {
            const QRectF r(3, 13, s.width() - 6, s.height() - 13 - 14);
            verticalGradient(p, r.translated(0, 1), QColor(0, 0, 0, 40), QColor(0, 0, 0, 40), 6);
            verticalGradient(p, r, pal.dark ? QColor(0x48, 0x48, 0x48) : Qt::white, pal.panelBg, 6);
        };
    if (is(g, "SectionDateItemView") && is(n, "BGImage"))
        return [pal](QPainter& p, const QSizeF& s) {
            const QRectF r(QPointF(3, 3), s - QSizeF(6, 6));
            verticalGradient(p, r.translated(0, 1), QColor(0, 0, 0, 40), QColor(0, 0, 0, 40), 6);
            verticalGradient(p, r, pal.dark ? QColor(0x48, 0x48, 0x48) : Qt::white, pal.panelBg, 6);
        };
    if (is(g, "SectionView") && is(n, "BGImage"))
        return [pal](QPainter& p, const QSizeF& s) {
            verticalGradient(p, QRectF(QPointF(0, 0), s), pal.panelBg.lighter(104), pal.panelBg.darker(104));
            p.fillRect(QRectF(0, s.height() - 1, s.width(), 1), pal.line);
        };
    if (is(n, "IconChecker") || is(n, "learnMoreImage") || is(n, "FolderNotFoundIcon") || has(n, "_Icon"))
        return [pal, n](QPainter& p, const QSizeF& s) {
            const Glyph glyph = is(n, "learnMoreImage") ? Glyph::Reveal : glyphFor(n);
            drawGlyph(p, glyph, QRectF(QPointF(0, 0), s), is(n, "IconChecker") ? pal.selection : pal.icon);
        };
    if (is(n, "PropertyViewLine"))
        return [pal](QPainter& p, const QSizeF& s) { p.fillRect(QRectF(0, 0, s.width(), 1), pal.line); };
    // Bars and panel backgrounds: a soft vertical gradient with grain.
    const bool titleLike = has(n, "ToolBar") || has(n, "TopBar") || is(n, "MSToolBarBG");
    return [pal, titleLike, e](QPainter& p, const QSizeF& s) {
        const QRectF r(QPointF(0, 0), s);
        if (titleLike)
            verticalGradient(p, r, pal.panelBg.lighter(103), pal.panelBg.darker(106));
        else
            p.fillRect(r, has(e.name, "CenterView") ? pal.contentBg : pal.panelBg);
        grain(p, s, quint32(qHash(QByteArray(e.name))));
        if (titleLike)
            p.fillRect(QRectF(0, 0, s.width(), 1), pal.line.lighter(130));
    };
}

} // namespace

DrawFn elementArt(const ThemeCatalogueEntry& e, char state, const Palette& pal)
{
    const char* g = e.group;
    const char* n = e.name;
    switch (e.kind) {
    case ThemeKind::Sprite:
        return spriteArt(e, pal);
    case ThemeKind::HorizontalSprite: {
        if (is(g, "ButtonGroupsItem") || is(g, "LibraryNavButton") || is(g, "BackNavButton"))
            return [pal, n](QPainter& p, const QSizeF& s) { stretchButton(p, s, n, pal); };
        if (has(g, "TokenCell_") || is(g, "STAttachmentCell")) {
            const int right = e.capRight;
            return [pal, g, n, right](QPainter& p, const QSizeF& s) {
                const char* kind = is(g, "STAttachmentCell") ? n : g;
                const char* st = std::strchr(n, '_') ? std::strchr(n, '_') + 1 : n;
                if (is(g, "STAttachmentCell"))
                    tokenCell(p, s, has(kind, "Author") ? "Author" : has(kind, "FileType") ? "TextContent" : "Tag", st, right, pal);
                else
                    tokenCell(p, s, kind, st, right, pal);
            };
        }
        if (is(g, "ImportingProgressBar")) {
            const bool fill = is(n, "fillBG");
            return [pal, fill](QPainter& p, const QSizeF& s) {
                const QColor c = fill ? (pal.dark ? QColor(0x5c, 0x8c, 0xc4) : pal.selection) : (pal.dark ? QColor(0x1e, 0x1e, 0x1e) : QColor(0xdc, 0xdc, 0xdc));
                pill(p, s, c.lighter(108), c.darker(108), c.darker(130), s.height() / 2 - 0.5);
            };
        }
        if (is(g, "ZoomSlider"))
            return [pal](QPainter& p, const QSizeF& s) {
                verticalGradient(p, QRectF(0, s.height() / 2 - 1.5, s.width(), 3), pal.icon.darker(110), pal.icon, 1.5);
            };
        // Search field, inspector combo and name field backgrounds.
        const bool highlight = has(n, "Highlight");
        const bool magnifier = is(g, "Search");
        return [pal, highlight, magnifier](QPainter& p, const QSizeF& s) {
            const QColor fill = pal.dark ? QColor(0x3a, 0x3a, 0x3a) : Qt::white;
            pill(p, s, fill, fill, highlight ? pal.selection : pal.line.lighter(150), std::min<qreal>(s.height() / 2 - 1, 6));
            // The search field's magnifier lives in its left cap, the area a press on it answers.
            if (magnifier) {
                const QColor ink = themecontrast::readableOn(fill, highlight ? pal.selection : pal.icon);
                drawGlyph(p, Glyph::Magnifier, QRectF(9, (s.height() - 16) / 2, 16, 16), ink);
            }
        };
    }
    case ThemeKind::MultiSprite: {
        if (is(g, "MainWindow"))
            return [pal, n, state](QPainter& p, const QSizeF& s) { windowButton(p, s, state, n, pal); };
        if (is(g, "Sidebar") || is(g, "SubSidebar") || is(g, "TopbarSidebarIcon")) {
            if (is(n, "CellAddButton"))
                return [pal, state](QPainter& p, const QSizeF& s) { discButton(p, s, state, Glyph::Plus, pal); };
            // A side-bar row's lit icon sits on the selection fill, beside the selected title
            // (white): in the selection colour it would vanish.
            const QColor lit = is(g, "TopbarSidebarIcon") ? pal.iconHighlight : QColor(Qt::white);
            return [pal, n, state, lit](QPainter& p, const QSizeF& s) {
                drawGlyph(p, glyphFor(n), QRectF(QPointF(0, 0), s), state == 'H' ? lit : pal.icon);
            };
        }
        if (is(n, "SlideButton"))
            return [pal, state](QPainter& p, const QSizeF& s) { discButton(p, s, state == 'H' ? 'D' : 'N', Glyph::None, pal); };
        if (has(n, "SmartRowEditor") || has(n, "Stop") || has(n, "ClearButton") || has(n, "MoreButton"))
            return [pal, n, state](QPainter& p, const QSizeF& s) { discButton(p, s, state, glyphFor(n), pal); };
        // The suggestion list's kinds: lit, the glyph is white, for it stands on the list's blue
        // (a lit tab's background, the selected row).
        if (is(g, "Search") && has(n, "SearchPanel_") && state == 'H')
            return [pal, n](QPainter& p, const QSizeF& s) {
                Palette lit = pal;
                lit.icon = Qt::white;
                plateButton(p, s, 'N', n, lit, false);
            };
        const bool onToolBar = is(g, "Topbar");
        return [pal, n, state, onToolBar](QPainter& p, const QSizeF& s) { plateButton(p, s, state, n, pal, onToolBar); };
    }
    default:
        return {};
    }
}

void drawViewModeSheet(QPainter& p, const Palette& pal)
{
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(0, i * 25);
        const QSizeF s(56, 23);
        const QColor base = pal.dark ? QColor(0x55, 0x55, 0x55) : mix(pal.accent, Qt::white, 0.3);
        pill(p, s, base.lighter(108), base.darker(106), base.darker(140), 5);
        // Picture i lights the left segment (0, 2) or the right one (1, 3); 2 and 3 pressed.
        const QRectF lit = (i % 2 == 0) ? QRectF(1, 1, 27, 21) : QRectF(28, 1, 27, 21);
        p.fillRect(lit, i >= 2 ? QColor(0, 0, 0, 70) : QColor(0, 0, 0, 40));
        p.fillRect(QRectF(28, 3, 1, 17), base.darker(140));
        const QColor ink = themecontrast::readableOn({base.lighter(108), base.darker(140)}, pal.onTitle);
        drawGlyph(p, Glyph::Grid, QRectF(7, 4, 15, 15), ink);
        drawGlyph(p, Glyph::List, QRectF(34, 4, 15, 15), ink);
        p.restore();
    }
}

void drawFileIcon(QPainter& p, const QSizeF& s, const QColor& color, const QString& group, const QString& label)
{
    const Palette neutral = Palette::forTheme(QStringLiteral("light"));
    pagePicture(p, s, false, neutral);
    // A coloured band across the lower page says the kind; a glyph says its group.
    const QRectF band(s.width() * 0.08, s.height() * 0.62, s.width() * 0.84, s.height() * 0.18);
    p.fillRect(band, color);
    // Kinds of one group share the glyph and often the colour: the label on the band tells them apart.
    if (!label.isEmpty()) {
        const QString text = label.toUpper();
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setBold(true);
        font.setPixelSize(int(band.height() * 0.72));
        const qreal room = band.width() - 8;
        while (font.pixelSize() > 6 && QFontMetricsF(font).horizontalAdvance(text) > room)
            font.setPixelSize(font.pixelSize() - 1);
        p.save();
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setFont(font);
        // Whichever of white and near-black reads better on the band.
        const QColor light(Qt::white), dark(0x22, 0x22, 0x22);
        p.setPen(themecontrast::contrastRatio(color, light) >= themecontrast::contrastRatio(color, dark) ? light : dark);
        p.drawText(band, Qt::AlignCenter, QFontMetricsF(font).elidedText(text, Qt::ElideRight, room));
        p.restore();
    }
    Glyph glyph = Glyph::Document;
    if (group.contains(QLatin1String("Image"), Qt::CaseInsensitive))
        glyph = Glyph::ImageLarge;
    else if (group.contains(QLatin1String("Web"), Qt::CaseInsensitive) || group.contains(QLatin1String("Mail"), Qt::CaseInsensitive))
        glyph = Glyph::Share;
    else if (group.isEmpty())
        glyph = Glyph::Question;
    drawGlyph(p, glyph, QRectF(s.width() * 0.3, s.height() * 0.18, s.width() * 0.4, s.width() * 0.4), color.darker(120));
}

void drawImportingIcons(QPainter& p)
{
    // The overlay's highlight blue.
    const QColor highlight(17, 179, 254);
    constexpr qreal kIcon = 84;
    for (int row = 0; row < 2; ++row) {
        for (int i = 0; i < 2; ++i) {
            const QRectF tile(i * kIcon + 6, row * kIcon + 6, kIcon - 12, kIcon - 12);
            const QColor edge = row ? highlight : QColor(255, 255, 255, 200);
            p.save();
            p.setRenderHint(QPainter::Antialiasing);
            p.setBrush(row ? QColor(17, 179, 254, 70) : QColor(255, 255, 255, 30));
            p.setPen(QPen(edge, 3, Qt::DashLine));
            p.drawRoundedRect(tile, 12, 12);
            p.restore();
            const QRectF glyph = tile.adjusted(18, 18, -18, -18);
            drawGlyph(p, i == 0 ? Glyph::Tag : Glyph::Folder, glyph, edge);
            if (i == 1)
                drawGlyph(p, Glyph::Plus, QRectF(glyph.right() - 14, glyph.bottom() - 14, 18, 18), edge);
        }
    }
}

} // namespace themegen
