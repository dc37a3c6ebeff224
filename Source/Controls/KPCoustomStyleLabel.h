// A label drawn in a theme text style that, when its owner allows, turns into a one-line text
// field on click. The label never changes its own title: an edit that ends with a new text is
// handed to the owner, which sets the title when it accepts the change. Return ends an edit
// and reports; Escape ends it and reports nothing, so the old title stays.
// Main thread only.
#pragma once

#include "Platform/Kit/TextAttributes.h"

#include <QPointF>
#include <QWidget>
#include <functional>

class KPCoustomStyleLabel;
class QLineEdit;

// Every member is optional; a missing one is "not answered".
struct KPCoustomStyleLabelDelegate {
    // The background while the pointer is over an editable label or while it is edited.
    std::function<void(KPCoustomStyleLabel*, QPainter&)> onCoustomStyleLableMouseInDrawRectBG;
    std::function<void(KPCoustomStyleLabel*, QPainter&)> onCoustomStyleLableDrawRectBG;
    // Whether an edit may start now; not answered counts as no.
    std::function<bool(KPCoustomStyleLabel*)> onCoustomStyleShouldEdit;
    std::function<void(KPCoustomStyleLabel*, const QString& newValue)> onCoustomStyleLableValueChange;
};

class KPCoustomStyleLabel : public QWidget {
public:
    explicit KPCoustomStyleLabel(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPCoustomStyleLabel() override;

    QString title() const { return m_title; }
    void setTitle(const QString& title);
    QString placeholderTitle() const { return m_placeholderTitle; }
    void setPlaceholderTitle(const QString& title) { m_placeholderTitle = title; }
    const platform::kit::TextAttributes& textStyle() const { return m_textStyle; }
    void setTextStyle(const platform::kit::TextAttributes& style);
    QPointF textOff() const { return m_textOff; }
    void setTextOff(QPointF off);
    bool boolSupportEdit() const { return m_supportEdit; }
    void setBoolSupportEdit(bool support);
    void setDelegate(KPCoustomStyleLabelDelegate delegate) { m_delegate = std::move(delegate); }

    bool isEditing() const { return m_editing; }
    // Starts an edit on text instead of the title, all of it selected (a refused edit handed
    // back for correcting). Left as it is, it is not reported again when focus moves away, as
    // the owner has said why it refused it; Return reports it again.
    void beginEditing(const QString& text);
    // Ends an edit in progress; report hands a changed text to the owner first, as Return does.
    // The owner ends the edit this way before the label comes to stand for something else.
    void endEditing(bool report);
    bool isMouseIn() const { return m_mouseIn; }
    // The edit field, made the first time editing is enabled (null before).
    QLineEdit* editField() const { return m_field; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool shouldEdit();
    void openField(const QString& text, Qt::FocusReason reason);
    // Where the title stands, y-down, for a text of height h.
    QRectF titleRect(qreal width) const;

    QString m_title;
    QString m_placeholderTitle;
    platform::kit::TextAttributes m_textStyle;
    QPointF m_textOff;
    bool m_supportEdit = false;
    bool m_mouseIn = false;
    bool m_editing = false;
    QString m_handedBack; // the text beginEditing started with; null for an edit from a click
    QLineEdit* m_field = nullptr;
    KPCoustomStyleLabelDelegate m_delegate;
};
