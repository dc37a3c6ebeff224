#include "Controls/KPCoustomStyleLabel.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <cmath>

KPCoustomStyleLabel::KPCoustomStyleLabel(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
    m_textStyle.font = QApplication::font();
}

KPCoustomStyleLabel::~KPCoustomStyleLabel() = default;

void KPCoustomStyleLabel::setTitle(const QString& title)
{
    m_title = title;
    update();
}

void KPCoustomStyleLabel::setTextStyle(const platform::kit::TextAttributes& style)
{
    m_textStyle = style;
    update();
}

void KPCoustomStyleLabel::setTextOff(QPointF off)
{
    m_textOff = off;
    update();
}

void KPCoustomStyleLabel::setBoolSupportEdit(bool support)
{
    m_supportEdit = support;
    setFocusPolicy(support ? Qt::ClickFocus : Qt::NoFocus);
    if (!support || m_field)
        return;
    m_field = new QLineEdit(this);
    m_field->setFrame(false);
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);
    // No background: the owner's edit background shows through.
    QPalette palette = m_field->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    m_field->setPalette(palette);
    m_field->setAutoFillBackground(false);
    m_field->installEventFilter(this);
    m_field->hide();
}

bool KPCoustomStyleLabel::shouldEdit()
{
    return m_delegate.onCoustomStyleShouldEdit && m_delegate.onCoustomStyleShouldEdit(this);
}

QRectF KPCoustomStyleLabel::titleRect(qreal width) const
{
    const qreal h = platform::kit::textSize(m_title.isEmpty() ? QStringLiteral(" ") : m_title, m_textStyle).height();
    const QRectF up(m_textOff.x(), std::round((height() - h) / 2) + m_textOff.y(), width, h);
    return platform::kit::toQt(up, height());
}

void KPCoustomStyleLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if ((m_supportEdit && m_mouseIn) || m_editing) {
        if (m_delegate.onCoustomStyleLableMouseInDrawRectBG)
            m_delegate.onCoustomStyleLableMouseInDrawRectBG(this, painter);
    } else if (m_delegate.onCoustomStyleLableDrawRectBG) {
        m_delegate.onCoustomStyleLableDrawRectBG(this, painter);
    }
    if (m_title.isEmpty() || m_editing)
        return;
    platform::kit::Canvas canvas(painter, height());
    canvas.drawText(platform::kit::toUp(titleRect(width()), height()), m_title, m_textStyle);
}

void KPCoustomStyleLabel::openField(const QString& text, Qt::FocusReason reason)
{
    m_editing = true;
    update();
    m_field->setGeometry(titleRect(width() - 4).toAlignedRect());
    m_field->setFont(m_textStyle.font);
    m_field->setText(text);
    m_field->show();
    m_field->setFocus(reason);
}

void KPCoustomStyleLabel::beginEditing(const QString& text)
{
    if (!m_supportEdit || !m_field || m_editing || !shouldEdit())
        return;
    m_handedBack = text;
    openField(text, Qt::OtherFocusReason);
    // All of it selected, its start in sight.
    m_field->setSelection(int(text.size()), -int(text.size()));
}

void KPCoustomStyleLabel::mousePressEvent(QMouseEvent* event)
{
    if (!m_supportEdit || !m_field || m_editing || !shouldEdit())
        return QWidget::mousePressEvent(event);
    m_handedBack = QString();
    openField(m_title, Qt::MouseFocusReason);
    // The same press lands in the field, so the caret goes where the user clicked.
    const QPointF at = m_field->mapFrom(this, event->position());
    QMouseEvent press(QEvent::MouseButtonPress, at, event->globalPosition(), event->button(), event->buttons(),
                      event->modifiers());
    QApplication::sendEvent(m_field, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, event->globalPosition(), event->button(), Qt::NoButton,
                        event->modifiers());
    QApplication::sendEvent(m_field, &release);
}

void KPCoustomStyleLabel::enterEvent(QEnterEvent*)
{
    m_mouseIn = true;
    if (m_supportEdit && shouldEdit())
        setCursor(Qt::IBeamCursor);
    update();
}

void KPCoustomStyleLabel::leaveEvent(QEvent*)
{
    m_mouseIn = false;
    unsetCursor();
    update();
}

bool KPCoustomStyleLabel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_field || !m_editing)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            endEditing(true);
            return true;
        }
        if (key == Qt::Key_Escape) {
            endEditing(false);
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        endEditing(m_handedBack.isNull() || m_field->text() != m_handedBack);
    }
    return QWidget::eventFilter(watched, event);
}

void KPCoustomStyleLabel::endEditing(bool report)
{
    if (!m_editing)
        return;
    // Cleared first: hiding the focused field sends a focus-out that must not end it twice.
    m_editing = false;
    const QString text = m_field->text();
    m_field->hide();
    if (report && text != m_title && m_delegate.onCoustomStyleLableValueChange)
        m_delegate.onCoustomStyleLableValueChange(this, text);
    m_mouseIn = false;
    update();
}
