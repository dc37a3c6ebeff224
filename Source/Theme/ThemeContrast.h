// Readability of drawn text and glyphs: the contrast of two colours as accessibility guidelines
// measure it, and the nearest colour to a wanted one that stands out enough from its ground.
// Header-only so that the theme generator, which links no program library, draws by the same rule.
#pragma once

#include <QColor>
#include <QImage>
#include <algorithm>
#include <cmath>

namespace themecontrast {

// Text and glyphs need this much against what is behind them; a little more is asked of
// colours we choose, so that rounding in gradients and antialiasing keeps them above it.
inline constexpr double kMinimum = 4.5;
inline constexpr double kChosen = 4.7;

inline double relativeLuminance(const QColor& c)
{
    auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

// a moved the fraction t of the way to b.
inline QColor blend(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t), float(a.alphaF()));
}

// 1 (none) to 21 (black on white); alpha is ignored.
inline double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The lower of the contrasts of colour against each ground (a gradient's ends, say).
inline double worstContrast(const QColor& color, std::initializer_list<QColor> grounds)
{
    double worst = 21;
    for (const QColor& ground : grounds)
        worst = std::min(worst, contrastRatio(color, ground));
    return worst;
}

// wanted when it already stands out from every ground; otherwise wanted moved step by step
// towards black or white (whichever the grounds leave more room for) until it does.
inline QColor readableOn(std::initializer_list<QColor> grounds, const QColor& wanted, double minimum = kChosen)
{
    if (worstContrast(wanted, grounds) >= minimum)
        return wanted;
    const QColor target = worstContrast(Qt::black, grounds) >= worstContrast(Qt::white, grounds) ? QColor(Qt::black)
                                                                                                 : QColor(Qt::white);
    constexpr int kSteps = 40;
    for (int step = 1; step <= kSteps; ++step) {
        const QColor moved = blend(wanted, target, double(step) / kSteps);
        if (worstContrast(moved, grounds) >= minimum)
            return moved;
    }
    return target;
}

inline QColor readableOn(const QColor& ground, const QColor& wanted, double minimum = kChosen)
{
    return readableOn({ground}, wanted, minimum);
}

// The mean colour of a picture's opaque pixels: the ground text drawn over that picture meets.
inline QColor averageColor(const QImage& picture, const QColor& fallback)
{
    if (picture.isNull())
        return fallback;
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    double r = 0, g = 0, b = 0, n = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const double a = qAlpha(line[x]) / 255.0;
            r += qRed(line[x]) * a;
            g += qGreen(line[x]) * a;
            b += qBlue(line[x]) * a;
            n += a;
        }
    }
    return n < 1 ? fallback : QColor(int(r / n), int(g / n), int(b / n));
}

} // namespace themecontrast
