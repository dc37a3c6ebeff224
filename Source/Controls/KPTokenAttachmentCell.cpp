#include "Controls/KPTokenAttachmentCell.h"

#include "Platform/Kit/FontResolver.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeManager.h"
#include "Theme/ThemeContrast.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <cmath>

using platform::kit::FontResolver;
using platform::kit::TextAttributes;
using platform::kit::TextShadow;

namespace {

// White system 11, left aligned, cut at the tail, with a coloured hard shadow.
TextAttributes themedAttributes(const QColor& shadow, qreal shadowDy)
{
    TextAttributes attrs;
    attrs.font = FontResolver::systemFont(11);
    attrs.color = QColor(Qt::white);
    attrs.hasParagraphStyle = true;
    attrs.alignment = 0;
    attrs.lineBreakMode = 4;
    attrs.shadow = TextShadow{shadow, QSizeF(0, shadowDy), std::nullopt};
    return attrs;
}

void drawSprite(QPainter& painter, const KPSprite* sprite, qreal x, qreal y, qreal width)
{
    if (!sprite || sprite->image().isNull() || width <= 0)
        return;
    painter.drawImage(QRectF(x, y, width, sprite->size().height()), sprite->image());
}

// The mean colour of a token's centre slice, worked out once per picture: tokens are drawn on
// every repaint of their editor, and the picture only changes with the theme.
QColor groundOf(const QImage& centre)
{
    static QHash<qint64, QColor> grounds;
    const auto found = grounds.constFind(centre.cacheKey());
    if (found != grounds.cend())
        return *found;
    const QColor ground = themecontrast::averageColor(centre, QColor());
    grounds.insert(centre.cacheKey(), ground);
    return ground;
}

qreal spriteWidth(const KPSprite* sprite)
{
    return sprite ? sprite->size().width() : 0.0;
}

} // namespace

KPTokenAttachmentCell::KPTokenAttachmentCell() : KPTokenAttachmentCell(QString()) {}

// A plain cell has no attributes of its own; it measures with the standard 12-point face.
KPTokenAttachmentCell::KPTokenAttachmentCell(const QString& text)
    : KPTokenAttachmentCell(TextAttributes::plain(FontResolver::systemFont(12)), text)
{
}

KPTokenAttachmentCell::KPTokenAttachmentCell(TextAttributes attrs, const QString& text)
    : m_attrs(std::move(attrs)), m_text(text)
{
}

KPTokenAttachmentCell::~KPTokenAttachmentCell() = default;

QRectF KPTokenAttachmentCell::buttonRectByCellFrame(const QRectF&) const
{
    return {};
}

QSizeF KPTokenAttachmentCell::cellSize() const
{
    const qreal w = QFontMetricsF(m_attrs.font).horizontalAdvance(m_text);
    return {std::round(std::min(kMaxTextWidth, w) + kChrome), kHeight};
}

QString KPTokenAttachmentCell::fittedText(qreal width) const
{
    return QFontMetricsF(m_attrs.font).elidedText(m_text, Qt::ElideRight, std::max<qreal>(0, width));
}

void KPTokenAttachmentCell::drawText(QPainter& painter, const QRectF& rect, const QColor& ground) const
{
    if (rect.width() <= 0)
        return;
    const QString text = fittedText(rect.width());
    painter.save();
    painter.setFont(m_attrs.font);
    const Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    const QColor wanted = m_attrs.colorOrDefault();
    if (ground.isValid()) {
        // A theme's pale token would leave white text unreadable: the text darkens until it reads,
        // and a shadow meant for white text would then only smear it.
        const QColor readable = themecontrast::readableOn(ground, wanted);
        if (readable != wanted) {
            painter.setPen(readable);
            painter.drawText(rect, align, text);
            painter.restore();
            return;
        }
    }
    if (m_attrs.shadow) {
        painter.setPen(m_attrs.shadow->color);
        // The shadow's offset is y-up.
        painter.drawText(rect.translated(m_attrs.shadow->offset.width(), -m_attrs.shadow->offset.height()), align, text);
    }
    painter.setPen(m_attrs.colorOrDefault());
    painter.drawText(rect, align, text);
    painter.restore();
}

void KPTokenAttachmentCell::draw(QPainter& painter, const QRectF& frame) const
{
    const QRectF box = frame.adjusted(2, 1, -2, -1);
    painter.fillRect(box, QColor(255, 0, 0));
    drawText(painter, box);
}

QImage KPTokenAttachmentCell::thumbImage(qreal scale) const
{
    const QSizeF size = cellSize();
    QImage image((size * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    draw(painter, QRectF(QPointF(0, 0), size));
    return image;
}

KPTokenThemedCell::KPTokenThemedCell(Look look, const QColor& shadow, qreal shadowDy, const QString& text)
    : KPTokenAttachmentCell(themedAttributes(shadow, shadowDy), text), m_look(std::move(look))
{
}

QRectF KPTokenThemedCell::buttonRectByCellFrame(const QRectF& frame) const
{
    return {frame.right() - 17, frame.y() + m_look.buttonTop, 14, 14};
}

QString KPTokenThemedCell::stateName() const
{
    if (isButtonDeleteDown())
        return QStringLiteral("Down");
    return isHighlight() ? QStringLiteral("Over") : QStringLiteral("Normal");
}

void KPTokenThemedCell::draw(QPainter& painter, const QRectF& frame) const
{
    const QRectF inner(frame.x() + 3, frame.y(), frame.width() - 6, frame.height());
    // Looked up on every draw, so a theme switch shows at the next repaint. A missing group,
    // member or slice draws nothing of its own; the text is drawn all the same.
    const KPCustomThemeObject* group = KPThemeManager::themeManager()->customThemeObjectWithName(m_look.group);
    const auto* slices = group ? group->themeObjectWithName<KPHorizontalSprite>(m_look.prefix + stateName()) : nullptr;
    QColor ground;
    if (slices) {
        const KPSprite* left = slices->leftSprite();
        const KPSprite* centre = slices->centerSprite();
        const KPSprite* right = slices->rightSprite();
        const qreal lw = spriteWidth(left);
        const qreal rw = spriteWidth(right);
        const qreal rightX = inner.right() - (m_look.rightCapFixed21 ? 21.0 : rw);
        drawSprite(painter, left, inner.x(), frame.y(), lw);
        drawSprite(painter, right, rightX, frame.y(), rw);
        drawSprite(painter, centre, inner.x() + lw, frame.y(), inner.width() - (lw + rw));
        if (centre)
            ground = groundOf(centre->image());
    }
    const qreal th = QFontMetricsF(textAttributes().font).height();
    // Clear of the left cap and of the delete button in the right one.
    drawText(painter, QRectF(inner.x() + 6, frame.y() + std::round((frame.height() - th) / 2), inner.width() - 25, th), ground);
}

KPTokenTagAttachmentCell::KPTokenTagAttachmentCell(const QString& text)
    : KPTokenThemedCell({QStringLiteral("TokenCell_Tag"), 3, false, {}}, QColor(44, 121, 187), 1.0, text)
{
}

KPTokenAuthorAttachmentCell::KPTokenAuthorAttachmentCell(const QString& text)
    : KPTokenThemedCell({QStringLiteral("TokenCell_Author"), 3, true, {}}, QColor(96, 96, 96), -1.0, text)
{
}

KPTokenContentAttachmentCell::KPTokenContentAttachmentCell(const QString& text)
    : KPTokenThemedCell({QStringLiteral("TokenCell_TextContent"), 1, false, {}}, QColor(44, 121, 187), 1.0, text)
{
}
