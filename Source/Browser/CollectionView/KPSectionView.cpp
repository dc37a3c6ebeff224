#include "Browser/CollectionView/KPSectionView.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/KPSectionContentLayoutManager.h"
#include "Controls/KPCoustomDrawBGView.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"

#include <QFontMetricsF>
#include <QHash>
#include <QMouseEvent>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <cmath>

namespace {

constexpr double kTileWidth = 50;

// The header theme, fetched on first use and by resetTheme.
struct HeaderTheme {
    bool fetched = false;
    KPCustomThemeObject* group = nullptr;
    KPSprite* triangleExpand = nullptr;
    KPSprite* triangleCollapse = nullptr;
};

HeaderTheme& headerTheme()
{
    static HeaderTheme theme;
    if (!theme.fetched) {
        theme.fetched = true;
        theme.group = KPThemeObject::customThemeObjectWithName(QStringLiteral("SectionView"));
        if (theme.group) {
            theme.triangleExpand = theme.group->themeObjectWithName<KPSprite>(QStringLiteral("SectionViewTriangleExpand"));
            theme.triangleCollapse = theme.group->themeObjectWithName<KPSprite>(QStringLiteral("SectionViewTriangleCollapse"));
        }
    }
    return theme;
}

QHash<QString, QImage>& backgroundCache()
{
    static QHash<QString, QImage> cache;
    return cache;
}

// The background sprite scaled into one 50 × height tile at the pixel ratio; null without art.
QImage backgroundTile(double height, qreal ratio)
{
    const QString key = QStringLiteral("%1-%2").arg(height, 0, 'f', 6).arg(ratio, 0, 'f', 6);
    auto& cache = backgroundCache();
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    const HeaderTheme& theme = headerTheme();
    auto* sprite = theme.group ? theme.group->themeObjectWithName<KPSprite>(QStringLiteral("BGImage")) : nullptr;
    if (!sprite || sprite->image().isNull() || height <= 0)
        return {};
    QImage tile(int(std::ceil(kTileWidth * ratio)), int(std::ceil(height * ratio)), QImage::Format_ARGB32_Premultiplied);
    tile.setDevicePixelRatio(ratio);
    tile.fill(Qt::transparent);
    {
        QPainter p(&tile);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(0, 0, kTileWidth, height), sprite->image());
    }
    cache.insert(key, tile);
    return tile;
}

QColor memberColor(const KPCustomThemeObject* group, const char* name, const QColor& fallback)
{
    if (!group)
        return fallback;
    auto* color = group->themeObjectWithName<KPColor>(QLatin1String(name));
    return color && color->color() ? *color->color() : fallback;
}

} // namespace

KPSectionView::KPSectionView(QWidget* parent)
    : KPCollectionSectionView(parent)
{
}

KPSectionView::~KPSectionView() = default;

void KPSectionView::setSectionData(KPSectionDataPtr data)
{
    m_sectionData = std::move(data);
    if (headerView())
        headerView()->update();
}

void KPSectionView::loadContent()
{
    if (m_bLoadContent)
        return;
    const double height = layoutManager() ? layoutManager()->sectionHeaderViewHeight() : kDefaultHeaderHeight;
    auto* header = new KPCoustomDrawBGView(QRect(0, 0, 0, int(height)));
    header->resize(0, int(height));
    header->setDrawBackgroudWithSelector([this](KPCoustomDrawBGView* view, QPainter& painter, const QRectF&) {
        onDrawBG(view, painter);
    });
    header->setMouseEventSelector([this](QEvent* event) { onMouseEvent(event); });
    setHeaderView(header);
    m_bLoadContent = true;
}

void KPSectionView::resetTheme()
{
    backgroundCache().clear();
    headerTheme() = HeaderTheme();
}

int KPSectionView::backgroundCacheCount()
{
    return int(backgroundCache().size());
}

void KPSectionView::onDrawBG(KPCoustomDrawBGView* view, QPainter& painter)
{
    if (view != headerView())
        return;
    const HeaderTheme& theme = headerTheme();
    const double w = view->width();
    const double h = view->height();
    platform::kit::Canvas canvas(painter, h);
    const QRectF bounds(0, 0, w, h);

    // The engine's device is where the pixels go (a window's backing store, or the image a
    // render() targets), which can be denser than the widget itself.
    const QPaintDevice* target = painter.paintEngine() && painter.paintEngine()->paintDevice()
        ? painter.paintEngine()->paintDevice()
        : painter.device();
    const qreal ratio = target ? target->devicePixelRatioF() : 1.0;
    if (const QImage tile = backgroundTile(h, ratio); !tile.isNull())
        canvas.drawTiled(bounds, tile, QSizeF(kTileWidth, h));

    if (m_sectionData && !m_sectionData->title().isEmpty()) {
        platform::kit::TextAttributes attrs;
        if (auto* style = theme.group ? theme.group->themeObjectWithName<KPTextStyle>(QStringLiteral("Text")) : nullptr)
            attrs = style->textAttribute();
        canvas.drawText(QRectF(bounds.x() + 20, 2, w - 16, 20), m_sectionData->title(), attrs);
    }

    const bool expanded = !m_sectionData || m_sectionData->isExpand();
    if (KPSprite* triangle = expanded ? theme.triangleCollapse : theme.triangleExpand; triangle && !triangle->image().isNull())
        canvas.drawImage(kTriangleRect, triangle->image());

    const qint64 count = m_sectionData ? m_sectionData->itemCount() : 0;
    if (count < 1)
        return;
    const QString number = QString::number(count);
    QFont font = platform::kit::FontResolver::fontNamed(QStringLiteral("LucidaGrande"), 10)
                     .value_or(platform::kit::FontResolver::systemFont(10));
    const double tw = std::round(QFontMetricsF(font).horizontalAdvance(number));
    const QColor fill = memberColor(theme.group, "TextNumberBGColor", Qt::black);
    const QColor ink = memberColor(theme.group, "TextNumberColor", Qt::white);
    const QRectF badge(w - (tw + 16 + 12), bounds.y() + h - 16 - 6, tw + 16, 16);
    canvas.fillPath(platform::kit::Canvas::roundRectPath(badge, 3), fill);
    platform::kit::TextAttributes numberAttrs = platform::kit::TextAttributes::plain(font);
    numberAttrs.color = ink;
    numberAttrs.hasParagraphStyle = true;
    numberAttrs.alignment = 2;
    canvas.drawText(QRectF(w - (tw + 28), bounds.y() + h - 24, tw + 16, 16), number, numberAttrs);
}

void KPSectionView::onMouseEvent(QEvent* event)
{
    if (event->type() != QEvent::MouseButtonPress)
        return;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton || (mouse->modifiers() & Qt::MetaModifier)) {
        // Right clicks belong to the grid (they clear its selection).
        event->ignore();
        return;
    }
    QWidget* header = headerView();
    if (!header || !m_sectionData)
        return;
    const QPointF up(mouse->position().x(), header->height() - mouse->position().y());
    if (kTriangleRect.contains(up)) {
        m_sectionData->setIsExpand(!m_sectionData->isExpand());
        header->update();
        if (auto* grid = qobject_cast<KPCollectionView*>(collectionView())) {
            if (!m_sectionData->isExpand())
                grid->sectionViewDidCollapse(this);
            grid->updateLayout();
        }
        return;
    }
    platform::NotificationCenter::defaultCenter().post(kSectionHeaderViewDoubleClickNotification,
                                                       QVariant::fromValue(m_sectionData));
}
