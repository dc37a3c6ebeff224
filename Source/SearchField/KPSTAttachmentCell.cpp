#include "SearchField/KPSTAttachmentCell.h"

#include "Platform/Kit/FontResolver.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeManager.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

namespace {

platform::kit::TextAttributes tokenAttributes()
{
    platform::kit::TextAttributes attrs;
    attrs.font = platform::kit::FontResolver::systemFont(11);
    attrs.color = QColor(Qt::white);
    attrs.hasParagraphStyle = true;
    attrs.alignment = 0;
    attrs.lineBreakMode = 4;
    attrs.shadow = platform::kit::TextShadow{QColor(44, 121, 187), QSizeF(0, 1), std::nullopt};
    return attrs;
}

void drawSlice(QPainter& painter, const KPSprite* sprite, qreal x, qreal y, qreal width)
{
    if (sprite && !sprite->image().isNull() && width > 0)
        painter.drawImage(QRectF(x, y, width, sprite->size().height()), sprite->image());
}

qreal sliceWidth(const KPSprite* sprite)
{
    return sprite ? sprite->size().width() : 0.0;
}

} // namespace

KPSTAttachmentCell::KPSTAttachmentCell(const QString& text, int type)
    : KPTokenAttachmentCell(tokenAttributes(), text), m_type(type)
{
}

QSizeF KPSTAttachmentCell::cellSize() const
{
    const qreal w = QFontMetricsF(textAttributes().font).horizontalAdvance(stringValue());
    return {std::round(std::min(kMaxTextWidth, w) + (m_type == SearchTokenText ? 33.0 : 46.0)), kHeight};
}

QRectF KPSTAttachmentCell::buttonRectByCellFrame(const QRectF& frame) const
{
    return {frame.right() - 17, frame.y() + 3, 14, 14};
}

void KPSTAttachmentCell::draw(QPainter& painter, const QRectF& frame) const
{
    QString group = QStringLiteral("STAttachmentCell");
    QString prefix;
    switch (m_type) {
    case SearchTokenText: group = QStringLiteral("TokenCell_Tag"); break;
    case SearchTokenTag: prefix = QStringLiteral("TagCell_"); break;
    case SearchTokenFileType: prefix = QStringLiteral("FileType_"); break;
    case SearchTokenAuthor: prefix = QStringLiteral("Author_"); break;
    default: return;
    }
    const QString state = isButtonDeleteDown() ? QStringLiteral("Down") : isHighlight() ? QStringLiteral("Over") : QStringLiteral("Normal");
    const qreal x = std::round(frame.x()) + 3;
    const qreal width = frame.width() - 6;
    const KPCustomThemeObject* theme = KPThemeManager::themeManager()->customThemeObjectWithName(group);
    const auto* slices = theme ? theme->themeObjectWithName<KPHorizontalSprite>(prefix + state) : nullptr;
    qreal lw = 0, rw = 0;
    if (slices) {
        lw = sliceWidth(slices->leftSprite());
        rw = sliceWidth(slices->rightSprite());
        drawSlice(painter, slices->leftSprite(), x, frame.y(), lw);
        drawSlice(painter, slices->rightSprite(), x + width - rw, frame.y(), rw);
        drawSlice(painter, slices->centerSprite(), x + lw, frame.y(), width - lw - rw);
    }
    const qreal th = QFontMetricsF(textAttributes().font).height();
    // Clear of the left cap and of the delete button in the right one.
    drawText(painter, QRectF(x + 6, frame.y() + std::round((frame.height() - th) / 2), width - 25, th));
}
