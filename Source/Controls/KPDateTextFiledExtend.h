// A date shown as plain text that turns into a date picker in place when clicked. When the
// picker closes, the field hands the outcome to its delegate, which decides whether to store
// it; the field itself shows only what setDate() gave it, so it never shows a date that was
// not stored. A field without a date ignores the pointer; so does one whose owner made it
// read-only (a date the system cannot change), which then explains why in its tooltip.
// Main thread only.
#pragma once

#include "Platform/Kit/TextAttributes.h"

#include <QDateTime>
#include <QVariantMap>
#include <QWidget>
#include <functional>
#include <optional>

class KPDatePicker;
class KPDateTextFiledExtend;

struct KPDateTextFiledExtendDelegate {
    // The picker's report plus "Self": this field.
    std::function<void(const QVariantMap& info)> onDateTextFiledExtendChange;
};

class KPDateTextFiledExtend : public QWidget {
public:
    explicit KPDateTextFiledExtend(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPDateTextFiledExtend() override;

    // None shows nilValueString(). The date is shown in local time.
    void setDate(const std::optional<QDateTime>& date);
    // The picker's date (UTC), none while the field shows no date.
    std::optional<QDateTime> date() const;
    QString nilValueString() const { return m_nilValueString; }
    void setNilValueString(const QString& text);
    void setDelegate(KPDateTextFiledExtendDelegate delegate) { m_delegate = std::move(delegate); }
    // A read-only field keeps showing its date but never opens the picker.
    void setReadOnly(bool readOnly, const QString& why = {});
    bool isReadOnly() const { return m_readOnly; }

    // The text shown while the picker is hidden.
    QString dateStringValue() const { return m_hasDate ? m_dateStringValue : m_nilValueString; }
    bool isEditing() const { return m_editing; }
    bool isMouseIn() const { return m_mouseIn; }
    KPDatePicker* editTextFiled() const { return m_picker; }
    // The picker's rectangle, y-up: (2, 2) with the field's width and height 20.
    QRectF editTextFiledRect() const;

    static QString formattedDate(const QDateTime& date);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool acceptsPointer() const;
    void onPickerResign(const QVariantMap& info);

    KPDatePicker* m_picker = nullptr;
    QString m_dateStringValue;
    QString m_nilValueString;
    platform::kit::TextAttributes m_textStyle;
    bool m_hasDate = false;
    bool m_mouseIn = false;
    bool m_editing = false;
    bool m_readOnly = false;
    KPDateTextFiledExtendDelegate m_delegate;
};
