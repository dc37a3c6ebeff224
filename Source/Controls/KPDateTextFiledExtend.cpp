#include "Controls/KPDateTextFiledExtend.h"

#include "Controls/KPDatePicker.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/FontResolver.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

KPDateTextFiledExtend::KPDateTextFiledExtend(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
    m_textStyle.font = platform::kit::FontResolver::systemFont(12);
    m_textStyle.color = QColor(73, 83, 95);
    m_textStyle.hasParagraphStyle = true;
    m_textStyle.alignment = 0;
    m_textStyle.lineBreakMode = 4;
    m_textStyle.shadow = platform::kit::TextShadow{QColor(240, 240, 240), QSizeF(0, -1), std::nullopt};
    // The field takes the focus the picker gives up, which is how the picker's edit ends.
    setFocusPolicy(Qt::ClickFocus);
    m_picker = new KPDatePicker(this);
    m_picker->onResign = [this](const QVariantMap& info) { onPickerResign(info); };
    m_picker->hide();
    setMouseTracking(true);
}

KPDateTextFiledExtend::~KPDateTextFiledExtend()
{
    // The picker is destroyed with the field; a focus loss on the way must not call back.
    m_picker->onResign = nullptr;
}

QString KPDateTextFiledExtend::formattedDate(const QDateTime& date)
{
    return KPDatePicker::displayLocale().toString(date.toLocalTime(), KPDatePicker::kDisplayFormat);
}

void KPDateTextFiledExtend::setDate(const std::optional<QDateTime>& date)
{
    m_hasDate = date && date->isValid();
    if (m_hasDate) {
        m_picker->setDateTime(date->toLocalTime());
        m_dateStringValue = formattedDate(*date);
    } else {
        m_dateStringValue.clear();
        m_mouseIn = false;
    }
    update();
}

std::optional<QDateTime> KPDateTextFiledExtend::date() const
{
    if (!m_hasDate)
        return std::nullopt;
    return m_picker->dateTime().toUTC();
}

void KPDateTextFiledExtend::setNilValueString(const QString& text)
{
    m_nilValueString = text;
    update();
}

void KPDateTextFiledExtend::setReadOnly(bool readOnly, const QString& why)
{
    m_readOnly = readOnly;
    setToolTip(readOnly ? why : QString());
    if (readOnly)
        m_mouseIn = false;
    update();
}

QRectF KPDateTextFiledExtend::editTextFiledRect() const
{
    return QRectF(2, 2, width(), 20);
}

void KPDateTextFiledExtend::resizeEvent(QResizeEvent*)
{
    // One point lower than its rectangle, as the picker's text sits higher than drawn text.
    m_picker->setGeometry(platform::kit::toQt(editTextFiledRect().translated(0, -1), height()).toAlignedRect());
}

bool KPDateTextFiledExtend::acceptsPointer() const
{
    return isEnabled() && m_hasDate && !m_readOnly;
}

void KPDateTextFiledExtend::paintEvent(QPaintEvent*)
{
    if (!isEnabled())
        return;
    QPainter painter(this);
    platform::kit::Canvas canvas(painter, height());
    if (m_editing || m_mouseIn) {
        const QRectF box(2, 2, width() - 4, height() - 4);
        // A soft shadow under the box, then the box and its hairline outline.
        canvas.fillRect(box.translated(0, -1), QColor(0, 0, 0, 40));
        canvas.fillRect(box, Qt::white);
        painter.setRenderHint(QPainter::Antialiasing, false);
        canvas.strokeRect(box.adjusted(0.5, 0.5, -0.5, -0.5), QColor::fromRgbF(0.667, 0.667, 0.667));
    }
    if (m_picker->isHidden())
        canvas.drawText(QRectF(4, 2, width(), 18), dateStringValue(), m_textStyle);
}

void KPDateTextFiledExtend::mousePressEvent(QMouseEvent* event)
{
    if (!acceptsPointer() || m_editing)
        return QWidget::mousePressEvent(event);
    m_editing = true;
    update();
    m_picker->show();
    m_picker->beginEditing();
    m_picker->setFocus(Qt::MouseFocusReason);
    // The same press lands on the picker, so the click picks the date element under it.
    const QPointF at = m_picker->mapFrom(this, event->position());
    QMouseEvent press(QEvent::MouseButtonPress, at, event->globalPosition(), event->button(), event->buttons(),
                      event->modifiers());
    QApplication::sendEvent(m_picker, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, event->globalPosition(), event->button(), Qt::NoButton,
                        event->modifiers());
    QApplication::sendEvent(m_picker, &release);
}

void KPDateTextFiledExtend::enterEvent(QEnterEvent*)
{
    if (!acceptsPointer())
        return;
    m_mouseIn = true;
    setCursor(Qt::IBeamCursor);
    update();
}

void KPDateTextFiledExtend::leaveEvent(QEvent*)
{
    if (!acceptsPointer() && !m_mouseIn)
        return;
    m_mouseIn = false;
    unsetCursor();
    update();
}

void KPDateTextFiledExtend::onPickerResign(const QVariantMap& info)
{
    m_editing = false;
    m_picker->hide();
    update();
    QVariantMap forwarded = info;
    forwarded.insert(QStringLiteral("Self"), QVariant::fromValue<QObject*>(this));
    if (m_delegate.onDateTextFiledExtendChange)
        m_delegate.onDateTextFiledExtendChange(forwarded);
}
