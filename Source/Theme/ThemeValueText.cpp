#include "Theme/ThemeValueText.h"

#include <QRegularExpression>
#include <array>

namespace {

template <size_t N>
std::array<double, N> numbersIn(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("[-+]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][-+]?\\d+)?"));
    std::array<double, N> out{};
    size_t i = 0;
    auto it = number.globalMatch(text);
    while (i < N && it.hasNext())
        out[i++] = it.next().captured(0).toDouble();
    return out;
}

} // namespace

QRectF themeRectFromString(const QString& text)
{
    const auto n = numbersIn<4>(text);
    return QRectF(n[0], n[1], n[2], n[3]);
}

QPointF themePointFromString(const QString& text)
{
    const auto n = numbersIn<2>(text);
    return QPointF(n[0], n[1]);
}

QSizeF themeSizeFromString(const QString& text)
{
    const auto n = numbersIn<2>(text);
    return QSizeF(n[0], n[1]);
}

std::optional<QColor> themeColorFromString(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    QStringView digits(text);
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    quint64 value = 0;
    for (const QChar c : digits) {
        const int d = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
        if (d < 0)
            break;
        // A 32-bit scanner saturates; only the low 24 bits are used either way.
        value = std::min<quint64>(value * 16 + quint64(d), 0xFFFFFFFFull);
    }
    return QColor(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF));
}

std::optional<QColor> themeColorFromValue(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    return themeColorFromString(value.toString());
}
