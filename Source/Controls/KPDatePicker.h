// The in-place date editor of a date field: a frameless text-only date and time editor. When
// it loses the focus it reports once whether the user confirmed the change: Return or Enter
// confirm, Escape discards, and losing focus any other way (a click elsewhere) confirms.
// Main thread only.
#pragma once

#include <QDateTimeEdit>
#include <QVariantMap>
#include <functional>

class KPDatePicker : public QDateTimeEdit {
public:
    // The one date format of the inspector, in English whatever the user's locale.
    static inline const QString kDisplayFormat = QStringLiteral("M/d/yyyy hh:mm AP");
    static QLocale displayLocale();

    explicit KPDatePicker(QWidget* parent = nullptr);

    bool isChange() const { return m_isChange; }
    // Arms the picker for one editing session: the next focus loss reports.
    void beginEditing();

    // {"Object": the picker, "IsChange": bool, "DateValue": the date (UTC), absent without one}.
    std::function<void(const QVariantMap& info)> onResign;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_isChange = false;
    bool m_armed = false;
};
