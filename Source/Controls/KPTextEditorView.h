// A multi-line plain-text editor with a placeholder, a vertical scroll bar, line spacing 4 and
// delegate callbacks. Return inserts a line break and reports a change; Escape is swallowed
// so that it never reaches a window or popover that would close on it.
// Main thread only.
#pragma once

#include "Platform/Kit/TextAttributes.h"

#include <QPlainTextEdit>
#include <QPointF>
#include <QWidget>
#include <functional>

class KPTextEditorView;

struct KPTextEditorViewDelegate {
    std::function<void(QPlainTextEdit*)> onTextEditorViewTextDidChange;
    std::function<void(QPlainTextEdit*)> onTextEditorViewTextDidDone;
};

class KPTextEditorTextView : public QPlainTextEdit {
public:
    explicit KPTextEditorTextView(KPTextEditorView* editor);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    KPTextEditorView* m_editor;
};

class KPTextEditorView : public QWidget {
public:
    static constexpr qreal kLineSpacing = 4;

    explicit KPTextEditorView(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPTextEditorView() override;

    QPlainTextEdit* textView() const { return m_textView; }
    void setTextFont(const QFont& font);
    QFont textFont() const { return m_textFont; }
    void setTextColor(const QColor& color);
    QColor textColor() const { return m_textColor; }
    // Nothing is reported.
    void setStringValue(const QString& text);
    QString stringValue() const;
    void setPlaceHolderString(const QString& text);
    QString placeHolderString() const { return m_placeHolder; }
    // textOff shifts the placeholder (its "TextOff").
    void setPlaceHolderTextAttrible(const platform::kit::TextAttributes& attrs, QPointF textOff = {});
    void setDelegate(KPTextEditorViewDelegate delegate) { m_delegate = std::move(delegate); }

    // The bounds size for an empty text, else (width, lines × the tallest line's height).
    QSizeF textSize() const;
    // Where the placeholder is drawn, y-down in the text view's viewport; empty while the
    // text is not empty or there is no placeholder.
    QRectF placeHolderRect() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class KPTextEditorTextView;
    void applyTypingStyle();
    void textDidChange();
    void drawPlaceHolder(QPainter& painter);

    KPTextEditorTextView* m_textView = nullptr;
    QFont m_textFont;
    QColor m_textColor;
    QString m_placeHolder;
    platform::kit::TextAttributes m_placeHolderAttrs;
    QPointF m_placeHolderOff;
    bool m_silent = false;
    KPTextEditorViewDelegate m_delegate;
};
