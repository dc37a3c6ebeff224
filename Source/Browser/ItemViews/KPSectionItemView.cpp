// Drawing and content of the document item view; the mouse, keys, editors and drags are in
// KPSectionItemViewInteraction.cpp.
#include "Browser/ItemViews/KPSectionItemView.h"

#include "Browser/BrowserText.h"
#include "Browser/ItemViews/BandedPainting.h"
#include "Browser/ItemViews/ItemViewGeometry.h"
#include "Browser/ItemViews/KPSectionItemViewOverLayerToolBar.h"
#include "Browser/KPViewSizeManager.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/ImageSlicing.h"
#include "Platform/Kit/Popover.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPCustomThemeObjectValue.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QLineEdit>
#include <QPainter>
#include <array>
#include <map>

using platform::kit::Canvas;
using platform::kit::TextAttributes;
using itemgeometry::rnd;

namespace {

struct ThemeGroups {
    bool fetched = false;
    KPCustomThemeObject* viewItem = nullptr;
    KPCustomThemeObject* flag = nullptr;
    KPCustomThemeObject* listViewItem = nullptr;
    KPCustomThemeObject* topLayer = nullptr;
    KPCustomThemeObject* fileType = nullptr;
    KPCustomThemeObject* rateIcon = nullptr;
};

// A kind's badge: its label and colour in the theme.
struct FileTypeLook {
    QString label;
    std::optional<QColor> color;
};

struct ClassState {
    ThemeGroups groups;
    // By lower-case extension: finding it walks the theme's kinds, for every item shown.
    QHash<QString, FileTypeLook> fileTypes;
    std::map<QString, QImage> frames;
    QImage strip;
    QImage star;
    std::unique_ptr<ItemViewServices> services;
};

ClassState& state()
{
    static ClassState s;
    return s;
}

const ThemeGroups& groups()
{
    ThemeGroups& g = state().groups;
    if (!g.fetched) {
        g.viewItem = KPThemeObject::customThemeObjectWithName(QStringLiteral("ViewItem"));
        g.flag = KPThemeObject::customThemeObjectWithName(QStringLiteral("Flag"));
        g.listViewItem = KPThemeObject::customThemeObjectWithName(QStringLiteral("ListViewItem"));
        g.topLayer = KPThemeObject::customThemeObjectWithName(QStringLiteral("TopLayer"));
        g.fileType = KPThemeObject::customThemeObjectWithName(QStringLiteral("FileType"));
        g.rateIcon = KPThemeObject::customThemeObjectWithName(QStringLiteral("RateIcon"));
        g.fetched = true;
    }
    return g;
}

std::optional<QColor> colorOf(KPCustomThemeObject* group, const char* name)
{
    if (!group)
        return std::nullopt;
    auto* color = group->themeObjectWithName<KPColor>(QLatin1String(name));
    return color ? color->color() : std::nullopt;
}

QImage imageOf(KPCustomThemeObject* group, const QString& name)
{
    if (!group)
        return {};
    auto* sprite = group->themeObjectWithName<KPSprite>(name);
    return sprite ? sprite->image() : QImage();
}

std::optional<TextAttributes> styleOf(KPCustomThemeObject* group, const char* name)
{
    if (!group)
        return std::nullopt;
    auto* style = group->themeObjectWithName<KPTextStyle>(QLatin1String(name));
    return style ? std::optional<TextAttributes>(style->textAttribute()) : std::nullopt;
}

// Titles and names may be of any length: always shortened at the tail, never wrapped.
TextAttributes oneLine(std::optional<TextAttributes> attrs, Qt::Alignment align = {})
{
    // Not value_or: finding the system font asks the font database, on every frame.
    TextAttributes a = attrs ? std::move(*attrs) : TextAttributes::plain(platform::kit::FontResolver::systemFont(12));
    if (!a.hasParagraphStyle) {
        a.hasParagraphStyle = true;
        a.alignment = align == Qt::AlignHCenter ? 2 : align == Qt::AlignRight ? 1 : 0;
    }
    a.lineBreakMode = 4;
    return a;
}

// Whether two styles draw a text alike: compared field by field, where a key made of them cost
// a few strings per line and frame.
bool drawAlike(const TextAttributes& a, const TextAttributes& b)
{
    const bool sameShadow = a.shadow && b.shadow
        ? a.shadow->color == b.shadow->color && a.shadow->offset == b.shadow->offset && a.shadow->blur == b.shadow->blur
        : !a.shadow && !b.shadow;
    return sameShadow && a.font == b.font && a.colorOrDefault() == b.colorOrDefault()
        && a.hasParagraphStyle == b.hasParagraphStyle && a.alignment == b.alignment && a.lineBreakMode == b.lineBreakMode;
}

// A soft shadow around a rectangle: rings one point wide, fading outwards. Only the rings are
// filled (the thumbnail covers the inside), so every visible item costs few pixels per frame.
void drawSoftShadow(Canvas& canvas, const QRectF& rect, const QColor& color, double blur)
{
    const int rings = int(blur);
    for (int i = 1; i <= rings; ++i) {
        double weight = 0;
        for (int j = i; j <= rings; ++j)
            weight += 0.35 / j;
        QColor c = color;
        c.setAlphaF(std::min(1.0, color.alphaF() * weight));
        const QRectF r = rect.adjusted(-i, -i, i, i);
        for (const QRectF& side : {QRectF(r.x(), r.y(), r.width(), 1), QRectF(r.x(), r.bottom() - 1, r.width(), 1),
                                   QRectF(r.x(), r.y() + 1, 1, r.height() - 2), QRectF(r.right() - 1, r.y() + 1, 1, r.height() - 2)})
            bandedpainting::fillRect(canvas.painter(), canvas.toQtRect(side), c);
    }
}

} // namespace

ItemViewServices& KPSectionItemView::services()
{
    auto& s = state().services;
    if (!s)
        s = std::make_unique<ItemViewServices>(ItemViewServices::shared());
    return *s;
}

void KPSectionItemView::setServices(ItemViewServices services)
{
    state().services = std::make_unique<ItemViewServices>(std::move(services));
}

void KPSectionItemView::resetTheme()
{
    ClassState& s = state();
    s.frames.clear();
    s.groups = ThemeGroups();
    s.fileTypes.clear();
    s.strip = QImage();
    s.star = QImage();
}

int KPSectionItemView::frameCacheCount()
{
    return int(state().frames.size());
}

KPSectionItemView::KPSectionItemView(QWidget* parent)
    : KPCollectionItemView(parent), m_viewSizeManager(KPViewSizeManager::instance())
{
    setAcceptDrops(true);
}

KPSectionItemView::~KPSectionItemView()
{
    removeTagEditorPopver();
    KPItemData::setShown(m_itemData, false);
}

void KPSectionItemView::setItemData(const KPItemDataPtr& item)
{
    if (item != m_itemData) {
        removeTagEditorPopver();
        removeEditTextField();
        if (m_flagPopover)
            m_flagPopover->close();
        KPItemData::setShown(m_itemData, false);
        KPItemData::setShown(item, true);
    }
    m_itemData = item;
    m_isSafeBoxItem = item && item->isSafeBoxItem();
    if (m_toolBar)
        m_toolBar->setItemData(item);
    update();
}

void KPSectionItemView::loadContent()
{
    if (!m_itemData)
        return;
    m_itemData->loadDataContent();
    QString ext = QFileInfo(m_itemData->filePath()).suffix().toLower();
    if (ext.isEmpty())
        ext = QStringLiteral("unknown");
    auto& looks = state().fileTypes;
    auto look = looks.constFind(ext);
    if (look == looks.cend()) {
        FileTypeLook found;
        bool matched = false;
        if (KPCustomThemeObject* fileType = groups().fileType) {
            for (const auto& [name, object] : fileType->themeDescObject()) {
                if (name.toLower() != ext)
                    continue;
                object->load();
                if (auto* color = dynamic_cast<KPColor*>(object))
                    found.color = color->color();
                found.label = name.toUpper();
                matched = true;
                break;
            }
            if (!matched)
                found.color = colorOf(fileType, "Unknown");
        }
        if (!matched)
            found.label = ext;
        look = looks.insert(ext, found);
    }
    m_fileTypeStr = look->label;
    m_fileTypeColor = look->color;
    if (services().requestThumbnail)
        services().requestThumbnail(m_itemData);
    update();
}

bool KPSectionItemView::isIconMode() const
{
    return m_viewSizeManager.displayMode() == KPDisplayModeIcon;
}

QRectF KPSectionItemView::frameRect() const
{
    return itemgeometry::iconFrameRect(m_viewSizeManager.itemImageSize(), boundsUp());
}

std::optional<TextAttributes> KPSectionItemView::textAttribute() const
{
    const auto mode = m_viewSizeManager.displayMode();
    if (mode == KPDisplayModeIcon)
        return styleOf(groups().viewItem, "item-title");
    if (mode == KPDisplayModeList)
        return styleOf(groups().listViewItem, selected() || m_isDragDroping ? "Text-Selected" : "Text");
    return std::nullopt;
}

std::optional<TextAttributes> KPSectionItemView::tagTextAttribute() const
{
    const auto mode = m_viewSizeManager.displayMode();
    if (mode == KPDisplayModeIcon)
        return styleOf(groups().viewItem, "item-tag");
    if (mode == KPDisplayModeList)
        return styleOf(groups().listViewItem, selected() ? "TagText-Selected" : "TagText");
    return std::nullopt;
}

void KPSectionItemView::setSelected(bool selected)
{
    if (selected == this->selected())
        return;
    KPCollectionItemView::setSelected(selected);
    if (m_toolBar) {
        m_toolBar->setIsSelected(selected);
        m_toolBar->setItemData(m_itemData);
    }
}

void KPSectionItemView::viewDidMoveToSuperview()
{
    m_isUnvisible = parentWidget() == nullptr;
    if (m_isUnvisible)
        m_isMouseIn = false;
}

// ---------------------------------------------------------------------------------------------
// Drawing

void KPSectionItemView::paintEvent(QPaintEvent*)
{
    if (m_isUnvisible || !m_itemData)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Canvas canvas(painter, height());
    if (isIconMode())
        drawIconMode(canvas, m_isSafeBoxItem);
    else
        drawListViewMode(canvas);
}

// One line of text hanging from the top of rect. The recorded rectangles keep their given
// heights, but a style whose line is taller than the rectangle must not lose its descenders.
void KPSectionItemView::drawLine(Canvas& canvas, LineSlot slot, const QRectF& rect, const QString& text,
                                 const TextAttributes& attrs)
{
    if (text.isEmpty() || rect.width() <= 0)
        return;
    const double h = std::max(rect.height(), std::ceil(lineSize(slot, text, attrs).height()));
    const QRectF box(rect.x(), rect.y() + rect.height() - h, rect.width(), h);
    // Room around the box for the shadow's offset and blur.
    constexpr double m = 3;
    const qreal dpr = devicePixelRatioF();
    LineImage& line = m_lines[slot];
    if (line.image.isNull() || line.text != text || line.size != box.size() || line.dpr != dpr || !drawAlike(line.attrs, attrs)) {
        line.image = Canvas::paintedImage(box.size() + QSizeF(2 * m, 2 * m), dpr, [&](Canvas& c) {
            c.drawText(QRectF(m, m, box.width(), h), text, attrs);
        });
        line.text = text;
        line.size = box.size();
        line.dpr = dpr;
        line.attrs = attrs;
    }
    canvas.drawImage(box.adjusted(-m, -m, m, m), line.image);
}

QSizeF KPSectionItemView::lineSize(LineSlot slot, const QString& text, const TextAttributes& attrs)
{
    LineSize& line = m_lineSizes[slot];
    if (line.text != text || line.font != attrs.font || line.size.isEmpty()) {
        line = {text, attrs.font, platform::kit::textSize(text, attrs)};
    }
    return line.size;
}

void KPSectionItemView::drawFlag(Canvas& canvas, const QRectF& clip)
{
    const qint64 label = m_itemData->label();
    QImage flag;
    if (label >= 1 && label <= 7)
        flag = imageOf(groups().flag, QString::number(label));
    else if (m_isMouseIn)
        flag = imageOf(groups().flag, QStringLiteral("0"));
    if (flag.isNull())
        return;
    canvas.save();
    canvas.clipRect(clip);
    canvas.drawImage(QRectF(clip.x() - 16, clip.y(), 32, 20), flag);
    canvas.restore();
}

void KPSectionItemView::drawStars(Canvas& canvas, const QPointF& at)
{
    ClassState& s = state();
    const qreal dpr = devicePixelRatioF();
    KPCustomThemeObject* rate = groups().rateIcon;
    if (s.strip.isNull()) {
        const QImage none = imageOf(rate, QStringLiteral("Rate_None"));
        s.strip = Canvas::paintedImage(QSizeF(78, 14), dpr, [&](Canvas& c) {
            for (int i = 0; i < 5 && !none.isNull(); ++i)
                c.drawImage(QRectF(16 * i, 0, 14, 14), none);
        });
    }
    if (s.star.isNull()) {
        const QImage full = imageOf(rate, QStringLiteral("Rate"));
        s.star = Canvas::paintedImage(QSizeF(14, 14), dpr, [&](Canvas& c) {
            if (!full.isNull())
                c.drawImage(QRectF(0, 0, 14, 14), full);
        });
    }
    m_actualRateRect = QRectF(at.x(), at.y(), 78, 14);
    if (m_isMouseIn)
        canvas.drawImage(m_actualRateRect, s.strip);
    for (qint64 i = 1; i <= std::min<qint64>(m_itemData->rate(), 5); ++i)
        canvas.drawImage(QRectF(at.x() + 16 * (i - 1), at.y(), 14, 14), s.star);
}

void KPSectionItemView::drawThumbnail(Canvas& canvas, const QRectF& rect, const char* shadowGroup)
{
    KPCustomThemeObject* group = qstrcmp(shadowGroup, "ListViewItem") == 0 ? groups().listViewItem : groups().viewItem;
    if (auto shadow = colorOf(group, "ImageShadowColor"))
        drawSoftShadow(canvas, rect, *shadow, 3);
    bandedpainting::drawImage(canvas.painter(), canvas.toQtRect(rect), m_itemData->sourceImage());
}

void KPSectionItemView::drawIconMode(Canvas& canvas, bool safeBox)
{
    const ThemeGroups& g = groups();
    const QRectF bounds = boundsUp();
    const QRectF f = frameRect();
    // Parts not drawn this time leave no hit zone behind (a view reused for another item, or a
    // caption switched off since the last draw).
    if (!m_viewSizeManager.isShowTitle())
        m_actualTextRect = QRectF();
    if (safeBox || !m_viewSizeManager.isShowRating())
        m_actualRateRect = QRectF();
    if (safeBox || !m_viewSizeManager.isShowTags())
        m_actualTagRect = QRectF();

    // 1. The frame, drawn once per size.
    const qreal dpr = devicePixelRatioF();
    QString key = QString::asprintf("%f-%f", f.width(), f.height());
    if (dpr != 1)
        key += QStringLiteral("@%1").arg(dpr);
    auto& frames = state().frames;
    auto cached = frames.find(key);
    if (cached == frames.end() && f.width() > 0 && f.height() > 0) {
        KPCustomThemeObject* pieces = KPThemeObject::customThemeObjectWithName(QStringLiteral("ViewItemFrame"));
        std::array<QImage, 9> parts;
        for (int i = 0; i < 9; ++i)
            parts[i] = imageOf(pieces, QString::number(i + 1));
        cached = frames.emplace(key, Canvas::paintedImage(f.size(), dpr, [&](Canvas& c) {
                           platform::kit::drawNinePart(c, QRectF(QPointF(0, 0), f.size()), parts);
                       })).first;
    }
    m_actualFrameRect = f;

    // 3. The flag hanging out to the right of the frame.
    if (!safeBox)
        drawFlag(canvas, QRectF(f.right() - 1, f.bottom() - 26, 16, 20));
    // 4.
    if (cached != frames.end())
        bandedpainting::drawImage(canvas.painter(), canvas.toQtRect(f), cached->second);

    // 5. Selection outline.
    if (selected() || (m_isDragDroping && !safeBox)) {
        const QPainterPath outline = Canvas::roundRectPath(f, 4);
        const QColor color = colorOf(g.viewItem, "FrameColor").value_or(QColor(Qt::yellow));
        if (auto glow = colorOf(g.viewItem, "FrameShadowColor")) {
            for (int i = 3; i >= 1; --i) {
                QColor c = *glow;
                c.setAlphaF(glow->alphaF() * 0.3);
                canvas.strokePath(outline, QPen(c, 4 + 2 * i));
            }
        }
        canvas.strokePath(outline, QPen(color, 4));
    }

    // 6. Thumbnail.
    if (m_itemData->bLoadedResource() && !m_itemData->sourceImage().isNull()) {
        m_actualImageRect = itemgeometry::iconThumbnailRect(m_itemData->imageOriginalSize(), f);
        drawThumbnail(canvas, m_actualImageRect, "ViewItem");
    }

    // 7. Title.
    QString title = m_itemData->title();
    const QString ext = QFileInfo(m_itemData->filePath()).suffix();
    if (m_viewSizeManager.isShowExtension() && !ext.isEmpty())
        title = QStringLiteral("%1.%2").arg(title, ext);
    const QSizeF imageSize = m_viewSizeManager.itemImageSize();
    const double y0 = bounds.height() - imageSize.height() + bounds.y() + 2;
    const TextAttributes titleAttrs = oneLine(textAttribute(), Qt::AlignHCenter);
    if (m_viewSizeManager.isShowTitle()) {
        double w = lineSize(TitleLine, title, titleAttrs).width();
        if (w + 16 >= imageSize.width())
            w = imageSize.width() - 16;
        w = std::max(40.0, std::ceil(w));
        m_actualTextRect = QRectF(rnd((f.width() - w) / 2) + f.x(), y0 - 17, w, 17);
        if (!m_editor)
            drawLine(canvas, TitleLine, m_actualTextRect, title, titleAttrs);
    }
    if (safeBox) {
        // 10 below.
    } else {
        // 8. Stars.
        if (m_viewSizeManager.isShowRating()) {
            const double y = m_viewSizeManager.isShowTitle() ? m_actualTextRect.y() - 16 : y0 - 14;
            drawStars(canvas, QPointF(rnd(f.width() * 0.5 - 39 + f.x()), y));
        }
        // 9. Tag line, or its invisible click zone.
        if (m_viewSizeManager.isShowTags()) {
            QString tags = m_itemData->tagString();
            if (tags.isEmpty() && m_isMouseIn)
                tags = browsertext::text(QStringLiteral("add tags"));
            if (!tags.isEmpty()) {
                const TextAttributes tagAttrs = oneLine(tagTextAttribute(), Qt::AlignHCenter);
                const double w = std::min(f.width(), std::ceil(lineSize(TagLine, tags, tagAttrs).width()));
                m_actualTagRect = QRectF(rnd((f.width() - w) / 2) + f.x(), bounds.y() + 2, w, 14);
                drawLine(canvas, TagLine, m_actualTagRect, tags, tagAttrs);
            } else {
                m_actualTagRect = QRectF(rnd((f.width() - 50) * 0.5) + f.x(), bounds.y() + 2, 50, 14);
            }
        }
    }

    // 10. File-type badge over a veil.
    if (selected() && m_fileTypeColor && !m_fileTypeStr.isEmpty()) {
        double alpha = 1.0;
        if (g.topLayer) {
            if (auto* value = g.topLayer->themeObjectWithName<KPCustomThemeObjectValue>(QStringLiteral("BGAlpha"))) {
                if (value->objectValue().isValid())
                    alpha = value->objectValue().toDouble();
            }
        }
        if (auto veil = colorOf(g.topLayer, "BGColor")) {
            canvas.setOpacity(alpha);
            canvas.fillPath(Canvas::roundRectPath(f.adjusted(2, 2, -2, -2), 4), *veil);
            canvas.setOpacity(1);
        }
        TextAttributes label = TextAttributes::plain(
            platform::kit::FontResolver::fontNamed(QStringLiteral("OpenSans"), 14).value_or(platform::kit::FontResolver::systemFont(14)));
        label.color = QColor(Qt::white);
        label.hasParagraphStyle = true;
        label.alignment = 2;
        label.lineBreakMode = 4;
        label.shadow = platform::kit::TextShadow{QColor(0x6d, 0x6d, 0x6d), QSizeF(0, -1), std::nullopt};
        const double w = std::ceil(platform::kit::textSize(m_fileTypeStr, label).width());
        const double hb = bounds.height();
        canvas.fillPath(Canvas::roundRectPath(QRectF(16, hb - 36, w + 20, 20), 3), *m_fileTypeColor);
        const double textH = platform::kit::textSize(m_fileTypeStr, label).height();
        canvas.drawText(QRectF(16, hb - 36 + (20 - textH) / 2, w + 20, textH), m_fileTypeStr, label);
    }
}

void KPSectionItemView::drawListViewMode(Canvas& canvas)
{
    const ThemeGroups& g = groups();
    const QRectF b = boundsUp();
    const bool lit = selected() || (m_isDragDroping && !m_isSafeBoxItem);

    // 1. Background.
    std::optional<QColor> fill;
    if (g.listViewItem) {
        fill = lit ? colorOf(g.listViewItem, "ItemSelectedBackground")
                   : colorOf(g.listViewItem, m_itemIndex % 2 != 0 ? "SingleLineColor" : "DoubleLineColor");
    } else {
        fill = selected() ? QColor(15, 138, 241) : m_itemIndex % 2 != 0 ? QColor(200, 205, 214) : QColor(215, 218, 222);
    }
    if (fill)
        canvas.fillRect(lit ? QRectF(b.x(), b.y() + 1, b.width(), b.height() - 1) : b, *fill);

    // 2. Thumbnail.
    if (m_itemData->bLoadedResource() && !m_itemData->sourceImage().isNull()) {
        m_actualImageRect = itemgeometry::listThumbnailRect(m_itemData->imageOriginalSize());
        drawThumbnail(canvas, m_actualImageRect, "ListViewItem");
    }

    // 3. Columns.
    const auto cols = itemgeometry::listColumns(b.width());
    const TextAttributes titleAttrs = oneLine(textAttribute());
    const TextAttributes otherAttrs = oneLine(tagTextAttribute());

    // 4. Title.
    const QString title = m_itemData->title();
    double w = std::ceil(lineSize(TitleLine, title, titleAttrs).width());
    if (w + 16 >= cols.titleWidth)
        w = cols.titleWidth - 16;
    m_actualTextRect = QRectF(100, 14, w, 17);
    // The other columns hang from y 28 in a smaller font; the title, drawn from the top of its
    // taller rectangle, would sit higher than them. It is drawn on their baseline instead.
    const double baseline = 28 - QFontMetricsF(otherAttrs.font).ascent();
    const double titleTop = baseline + QFontMetricsF(titleAttrs.font).ascent();
    if (!m_editor)
        drawLine(canvas, TitleLine, QRectF(100, titleTop - 17, w, 17), title, titleAttrs);

    // 5. Tags.
    QString tags = m_itemData->tagString();
    if (tags.isEmpty() && m_isMouseIn && !m_isSafeBoxItem)
        tags = browsertext::text(QStringLiteral("add tags"));
    if (!tags.isEmpty()) {
        m_actualTagRect = QRectF(cols.titleWidth + 120, 14,
                                 std::min(cols.tagWidth, std::ceil(lineSize(TagLine, tags, otherAttrs).width())), 14);
        drawLine(canvas, TagLine, m_actualTagRect, tags, otherAttrs);
    }

    // 6. Stars.
    drawStars(canvas, QPointF(cols.x - 12, 14));

    // 7–9. Kind, date, size.
    const QString ext = QFileInfo(m_itemData->filePath()).suffix().toUpper();
    drawLine(canvas, KindLine, QRectF(cols.x + 88, 14, 60, 14), ext.isEmpty() ? QStringLiteral("UNKNOWN") : ext, otherAttrs);
    drawLine(canvas, DateLine, QRectF(cols.x + 158, 14, 110, 14), m_itemData->dateModifiedString(), otherAttrs);
    QString size = itemgeometry::fileSizeText(m_itemData->fileSize());
    if (size.isEmpty())
        size = browsertext::text(QStringLiteral("Unknown"));
    TextAttributes sizeAttrs = otherAttrs;
    sizeAttrs.alignment = 1;
    drawLine(canvas, SizeLine, QRectF(cols.x + 278, 14, 70, 14), size, sizeAttrs);

    // 10. The flag near the left edge: clear of the divider the grid's edge meets.
    constexpr double kFlagInset = 4;
    if (!m_isSafeBoxItem)
        drawFlag(canvas, QRectF(kFlagInset, 14, 16, 20));
}
