// Header fields of an HTTP message in the order they were given. Names compare without regard
// to case, as HTTP says; a repeated field keeps every value (Set-Cookie needs them apart).
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace platform {

class HTTPHeaders {
public:
    // The first value of the field, or a null string.
    QString value(const QString& name) const;
    // Every value of the field, in order.
    QStringList values(const QString& name) const;
    bool contains(const QString& name) const;
    // Replaces every value of the field with one (keeping the first one's place).
    void set(const QString& name, const QString& value);
    void add(const QString& name, const QString& value);
    void remove(const QString& name);
    // Continues the last field's value (a folded header line).
    void appendToLast(const QString& more)
    {
        if (!m_fields.isEmpty())
            m_fields.last().second += more;
    }
    void clear() { m_fields.clear(); }

    bool isEmpty() const { return m_fields.isEmpty(); }
    qsizetype size() const { return m_fields.size(); }
    const QList<QPair<QString, QString>>& fields() const { return m_fields; }

    bool operator==(const HTTPHeaders& other) const = default;

private:
    QList<QPair<QString, QString>> m_fields;
};

} // namespace platform
