// The token cells: what a token of the token editor holds, how big it is and how it is drawn.
// The plain cell (used when an editor's owner names none) is a red box; the tag, author and
// text-content cells draw the theme's three-slice of their group ("TokenCell_Tag",
// "TokenCell_Author", "TokenCell_TextContent") in the Normal, Over or Down look, with the text
// in white (darker where a theme's token is too pale for white to read), shortened at its tail,
// and a delete button in the right slice.
//
// Cells are plain objects shared by the token's character format; the editor does all mouse
// handling and only sets the two look flags. Geometry is in Qt coordinates of the frame the
// token occupies on its own line (20 points high).
#pragma once

#include "Platform/Kit/TextAttributes.h"

#include <QColor>
#include <QImage>
#include <QMetaType>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <memory>

class QPainter;

class KPTokenAttachmentCell {
public:
    static constexpr qreal kHeight = 20.0;
    static constexpr qreal kMaxTextWidth = 160.0;
    static constexpr qreal kChrome = 33.0;

    KPTokenAttachmentCell();
    explicit KPTokenAttachmentCell(const QString& text);
    virtual ~KPTokenAttachmentCell();
    KPTokenAttachmentCell(const KPTokenAttachmentCell&) = delete;
    KPTokenAttachmentCell& operator=(const KPTokenAttachmentCell&) = delete;

    // The class name, which is also the "Type" of the token on the pasteboard.
    virtual QString className() const { return QStringLiteral("KPTokenAttachmentCell"); }

    const QString& stringValue() const { return m_text; }
    void setStringValue(const QString& text) { m_text = text; }
    const platform::kit::TextAttributes& textAttributes() const { return m_attrs; }

    bool isHighlight() const { return m_highlight; }
    void setIsHighlight(bool on) { m_highlight = on; }
    bool isButtonDeleteDown() const { return m_deleteDown; }
    void setIsButtonDeleteDown(bool on) { m_deleteDown = on; }
    // Cells with a delete button answer its rectangle; the plain cell an empty one.
    virtual QRectF buttonRectByCellFrame(const QRectF& frame) const;

    // (round(min(160, text width) + 33), 20).
    virtual QSizeF cellSize() const;
    // The text as drawn in width: shortened at its tail by whole characters (never inside a
    // surrogate pair or before a combining mark) when it does not fit.
    QString fittedText(qreal width) const;

    // Draws the token into frame (its place on its own line).
    virtual void draw(QPainter& painter, const QRectF& frame) const;
    // The token alone, at cellSize, for the pointer to carry while it is dragged.
    QImage thumbImage(qreal scale = 1.0) const;

protected:
    explicit KPTokenAttachmentCell(platform::kit::TextAttributes attrs, const QString& text);
    // With a valid ground (the colour the token is drawn on), text that would not read on it is
    // drawn darker or lighter until it does.
    void drawText(QPainter& painter, const QRectF& rect, const QColor& ground = QColor()) const;

private:
    platform::kit::TextAttributes m_attrs;
    QString m_text;
    bool m_highlight = false;
    bool m_deleteDown = false;
};

// The themed cells: three slices of a theme group and a delete button.
class KPTokenThemedCell : public KPTokenAttachmentCell {
public:
    struct Look {
        QString group;
        qreal buttonTop;        // the delete button's offset from the frame's top
        bool rightCapFixed21;   // the right slice placed 21 points before the inner end
        QString prefix;         // before the state in the slices' member name ("TagCell_Normal")
    };

    QRectF buttonRectByCellFrame(const QRectF& frame) const override;
    void draw(QPainter& painter, const QRectF& frame) const override;
    // "Normal", "Over" or "Down" (Down wins over Over).
    QString stateName() const;

protected:
    KPTokenThemedCell(Look look, const QColor& shadow, qreal shadowDy, const QString& text);

private:
    Look m_look;
};

class KPTokenTagAttachmentCell : public KPTokenThemedCell {
public:
    KPTokenTagAttachmentCell() : KPTokenTagAttachmentCell(QString()) {}
    explicit KPTokenTagAttachmentCell(const QString& text);
    QString className() const override { return QStringLiteral("KPTokenTagAttachmentCell"); }
};

class KPTokenAuthorAttachmentCell : public KPTokenThemedCell {
public:
    KPTokenAuthorAttachmentCell() : KPTokenAuthorAttachmentCell(QString()) {}
    explicit KPTokenAuthorAttachmentCell(const QString& text);
    QString className() const override { return QStringLiteral("KPTokenAuthorAttachmentCell"); }
};

class KPTokenContentAttachmentCell : public KPTokenThemedCell {
public:
    explicit KPTokenContentAttachmentCell(const QString& text);
    QString className() const override { return QStringLiteral("KPTokenContentAttachmentCell"); }
};

using KPTokenCellPtr = std::shared_ptr<KPTokenAttachmentCell>;
Q_DECLARE_METATYPE(KPTokenCellPtr)
