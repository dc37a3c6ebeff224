#include "Platform/Kit/TextAttributes.h"

#include <QFontMetricsF>

namespace platform::kit {

namespace {
enum LineBreak { WordWrap = 0, CharWrap = 1, Clip = 2, TruncateHead = 3, TruncateTail = 4, TruncateMiddle = 5 };
}

Qt::Alignment TextAttributes::horizontalAlignment() const
{
    switch (alignment) {
    case 1: return Qt::AlignRight;
    case 2: return Qt::AlignHCenter;
    case 3: return Qt::AlignJustify;
    default: return Qt::AlignLeft;   // left and natural (left-to-right text)
    }
}

Qt::TextElideMode TextAttributes::elideMode() const
{
    switch (lineBreakMode) {
    case TruncateHead: return Qt::ElideLeft;
    case TruncateTail: return Qt::ElideRight;
    case TruncateMiddle: return Qt::ElideMiddle;
    default: return Qt::ElideNone;
    }
}

bool TextAttributes::wraps() const
{
    return lineBreakMode == WordWrap || lineBreakMode == CharWrap;
}

QSizeF textSize(const QString& text, const TextAttributes& attrs)
{
    const QFontMetricsF fm(attrs.font);
    return QSizeF(fm.horizontalAdvance(text), fm.height());
}

QString fittedText(const QString& text, const TextAttributes& attrs, qreal width)
{
    const Qt::TextElideMode mode = attrs.elideMode();
    if (mode == Qt::ElideNone)
        return text;
    return QFontMetricsF(attrs.font).elidedText(text, mode, width);
}

} // namespace platform::kit
