#include "SearchField/KPSTAttachmentCell.h"

#include <QFontMetricsF>
#include <cmath>

namespace {

// Text tokens look like the editor's tag tokens; the other kinds are members of one group.
KPTokenThemedCell::Look lookOf(int type)
{
    switch (type) {
    case SearchTokenText: return {QStringLiteral("TokenCell_Tag"), 3, false, {}};
    case SearchTokenTag: return {QStringLiteral("STAttachmentCell"), 3, false, QStringLiteral("TagCell_")};
    case SearchTokenFileType: return {QStringLiteral("STAttachmentCell"), 3, false, QStringLiteral("FileType_")};
    case SearchTokenAuthor: return {QStringLiteral("STAttachmentCell"), 3, false, QStringLiteral("Author_")};
    default: return {{}, 3, false, {}};
    }
}

} // namespace

KPSTAttachmentCell::KPSTAttachmentCell(const QString& text, int type)
    : KPTokenThemedCell(lookOf(type), QColor(44, 121, 187), 1.0, text), m_type(type)
{
}

QSizeF KPSTAttachmentCell::cellSize() const
{
    const qreal w = QFontMetricsF(textAttributes().font).horizontalAdvance(stringValue());
    return {std::round(std::min(kMaxTextWidth, w) + (m_type == SearchTokenText ? 33.0 : 46.0)), kHeight};
}

void KPSTAttachmentCell::draw(QPainter& painter, const QRectF& frame) const
{
    if (m_type < SearchTokenText || m_type > SearchTokenAuthor)
        return;
    KPTokenThemedCell::draw(painter, frame);
}
