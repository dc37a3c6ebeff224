// The attributes a piece of text is drawn with: font, colour, alignment, line-break mode and an
// optional shadow. Alignment and line-break keep the numbering the theme files store (0 left,
// 1 right, 2 centre, 3 justified, 4 natural; 0 words, 1 characters, 2 clip, 3 head, 4 tail,
// 5 middle) and are turned into Qt flags only when drawing, so a style read from a file can be
// compared and tested by its stored numbers.
#pragma once

#include <QColor>
#include <QFont>
#include <QSizeF>
#include <QString>
#include <Qt>
#include <optional>

namespace platform::kit {

struct TextShadow {
    QColor color;
    QSizeF offset;               // y-up: a negative height puts the shadow below the text
    std::optional<qreal> blur;   // radius in points; none draws a hard shadow
};

struct TextAttributes {
    QFont font;
    std::optional<QColor> color;             // none draws in the standard text colour
    bool hasParagraphStyle = false;          // false: alignment and line break are defaults
    int alignment = 0;
    int lineBreakMode = 0;
    std::optional<TextShadow> shadow;

    Qt::Alignment horizontalAlignment() const;
    // Elide mode for the truncating line-break modes, Qt::ElideNone for the others.
    Qt::TextElideMode elideMode() const;
    // Wrapping modes (words, characters) lay text out on several lines.
    bool wraps() const;
    QColor colorOrDefault() const { return color.value_or(QColor(Qt::black)); }

    // Just a font: default colour, alignment and line break, no shadow.
    static TextAttributes plain(const QFont& font)
    {
        TextAttributes attrs;
        attrs.font = font;
        return attrs;
    }
};

// The size one line of text takes with these attributes (width of the advance, font height).
QSizeF textSize(const QString& text, const TextAttributes& attrs);

// Text shortened to fit width according to the attributes' line-break mode.
QString fittedText(const QString& text, const TextAttributes& attrs, qreal width);

} // namespace platform::kit
