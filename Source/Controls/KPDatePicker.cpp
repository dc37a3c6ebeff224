#include "Controls/KPDatePicker.h"

#include "Platform/Kit/FontResolver.h"

#include <QKeyEvent>

QLocale KPDatePicker::displayLocale()
{
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

KPDatePicker::KPDatePicker(QWidget* parent)
    : QDateTimeEdit(parent)
{
    setLocale(displayLocale());
    setDisplayFormat(kDisplayFormat);
    setButtonSymbols(QAbstractSpinBox::NoButtons);
    setCalendarPopup(false);
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setFont(platform::kit::FontResolver::systemFont(12));
    setTimeSpec(Qt::LocalTime);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    setPalette(palette);
    setFocusPolicy(Qt::StrongFocus);
}

void KPDatePicker::beginEditing()
{
    m_armed = true;
}

void KPDatePicker::focusInEvent(QFocusEvent* event)
{
    m_isChange = true;
    QDateTimeEdit::focusInEvent(event);
}

void KPDatePicker::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        m_isChange = true;
        break;
    case Qt::Key_Escape:
        m_isChange = false;
        break;
    default:
        return QDateTimeEdit::keyPressEvent(event);
    }
    // Focus moves to the field that hosts the picker, which ends the edit through focusOut.
    if (QWidget* host = parentWidget())
        host->setFocus(Qt::OtherFocusReason);
    else
        clearFocus();
}

void KPDatePicker::focusOutEvent(QFocusEvent* event)
{
    QDateTimeEdit::focusOutEvent(event);
    if (!m_armed)
        return;
    m_armed = false;
    QVariantMap info{{QStringLiteral("Object"), QVariant::fromValue<QObject*>(this)},
                     {QStringLiteral("IsChange"), m_isChange}};
    const QDateTime value = dateTime();
    if (value.isValid())
        info.insert(QStringLiteral("DateValue"), value.toUTC());
    m_isChange = false;
    update();
    if (onResign)
        onResign(info);
}
