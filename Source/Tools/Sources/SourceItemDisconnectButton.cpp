#include "Tools/Sources/SourceItemDisconnectButton.h"

#include "Platform/Foundation/Localization.h"
#include "Utilities/ImageHelpers.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

SourceItemDisconnectButton::SourceItemDisconnectButton(const QRect& frame, QWidget* parent)
    : QWidget(parent)
    , m_normalImage(imageFromResource(QStringLiteral("btn_Connected.tiff")))
    , m_mouseOverImage(imageFromResource(QStringLiteral("btn_Disconnect.tiff")))
{
    if (frame.isValid())
        setGeometry(frame);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

QSize SourceItemDisconnectButton::sizeHint() const
{
    return m_normalImage.isNull() ? QSize(88, 26) : m_normalImage.size();
}

void SourceItemDisconnectButton::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    if (QGuiApplication::applicationState() != Qt::ApplicationActive)
        return;
    m_bMouseIn = true;
    update();
}

void SourceItemDisconnectButton::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    m_bMouseIn = false;
    update();
}

void SourceItemDisconnectButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QImage& image = m_bMouseIn ? m_mouseOverImage : m_normalImage;
    if (!image.isNull()) {
        painter.drawImage(QRectF(rect()), image);
        return;
    }
    // No image: a plain rounded button that says what a press does.
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(m_bMouseIn ? QColor(190, 60, 50) : QColor(120, 120, 120));
    painter.setBrush(m_bMouseIn ? QColor(250, 235, 233) : QColor(244, 244, 244));
    painter.drawRoundedRect(box, 4, 4);
    painter.drawText(rect(), Qt::AlignCenter,
                     platform::localizedString(m_bMouseIn ? QStringLiteral("Disconnect") : QStringLiteral("Connected")));
}

void SourceItemDisconnectButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    send();
}

void SourceItemDisconnectButton::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        send();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SourceItemDisconnectButton::send()
{
    if (m_action)
        m_action(this);
}
