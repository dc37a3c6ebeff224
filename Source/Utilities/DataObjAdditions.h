// One extra value carried by a menu item or a text: the node, path or record a menu entry or a
// string stands for. Once set, the value can be replaced but not cleared (setting nothing is
// ignored), so a stale caller passing an empty value never drops another caller's object.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

// Menu items (any QObject, usually a QAction) keep the value in the dynamic property "DataObj".
void setDataObj(QObject* item, const QVariant& object);
QVariant dataObj(const QObject* item);

// A text with its extra value; the value lives as long as the text object.
class DataObjString {
public:
    DataObjString() = default;
    DataObjString(const QString& text) : m_text(text) {}

    const QString& text() const { return m_text; }
    operator const QString&() const { return m_text; }

    void setDataObj(const QVariant& object)
    {
        if (object.isValid())
            m_dataObj = object;
    }
    const QVariant& dataObj() const { return m_dataObj; }

private:
    QString m_text;
    QVariant m_dataObj;
};
