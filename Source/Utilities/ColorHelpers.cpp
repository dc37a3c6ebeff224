#include "Utilities/ColorHelpers.h"

namespace {

// Like a hexadecimal scanner into an unsigned 32-bit value: too many digits saturate.
quint32 scanHex(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X'))
        i += 2;
    quint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const int digit = (c >= u'0' && c <= u'9') ? c - u'0'
            : (c >= u'a' && c <= u'f')             ? c - u'a' + 10
            : (c >= u'A' && c <= u'F')             ? c - u'A' + 10
                                                   : -1;
        if (digit < 0)
            break;
        value = qMin<quint64>(value * 16 + quint64(digit), 0xFFFFFFFFull);
    }
    return quint32(value);
}

QColor colorOfValue(quint32 value)
{
    return QColor::fromRgbF(float(((value >> 16) & 0xFF) / 255.0), float(((value >> 8) & 0xFF) / 255.0),
                            float((value & 0xFF) / 255.0), 1.0f);
}

} // namespace

QColor colorFromHexString(const QString& text)
{
    if (text.isEmpty())
        return QColor::fromRgbF(0, 0, 0, 1);
    return colorOfValue(scanHex(text));
}

std::optional<QColor> colorFromString(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    return colorOfValue(scanHex(text));
}

QColor toCGColor(const QColor& color)
{
    return color;
}
