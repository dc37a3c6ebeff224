// A multi-line label that wraps its text in its bounds; the last line that fits carries the
// rest of the text, shortened by the style's line-break mode. It can act as a link: the
// pointer becomes a hand over it, and a click runs the link action. The text is always laid
// out in the bounds, so a partial repaint draws the lines exactly where a full one does.
// Main thread only.
#pragma once

#include "Platform/Kit/TextAttributes.h"

#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>

class KPWrapStyleLabel : public QWidget {
public:
    explicit KPWrapStyleLabel(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPWrapStyleLabel() override;

    QString title() const { return m_title; }
    // Null is kept as the empty text.
    void setTitle(const QString& title);
    const platform::kit::TextAttributes& textStyle() const { return m_textStyle; }
    void setTextStyle(const platform::kit::TextAttributes& style);
    void setLinkTextStyle(std::optional<platform::kit::TextAttributes> style) { m_linkTextStyle = std::move(style); }
    bool isLink() const { return m_isLink; }
    void setIsLink(bool link);
    void setupLinkAction(std::function<void(KPWrapStyleLabel*)> action) { m_linkAction = std::move(action); }
    bool isMouseIn() const { return m_mouseIn; }

    struct Line {
        QRectF rect;   // y-down, in the label
        QString text;  // the whole rest of the title on the last line that fits
    };
    // The lines as drawn in the current bounds.
    QList<Line> layoutLines() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    const platform::kit::TextAttributes& currentStyle() const;

    QString m_title;
    platform::kit::TextAttributes m_textStyle;
    std::optional<platform::kit::TextAttributes> m_linkTextStyle;
    bool m_isLink = false;
    bool m_mouseIn = false;
    std::function<void(KPWrapStyleLabel*)> m_linkAction;
};
