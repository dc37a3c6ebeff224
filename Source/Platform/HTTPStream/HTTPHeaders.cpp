#include "Platform/HTTPStream/HTTPHeaders.h"

namespace platform {

QString HTTPHeaders::value(const QString& name) const
{
    for (const auto& [n, v] : m_fields)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

QStringList HTTPHeaders::values(const QString& name) const
{
    QStringList out;
    for (const auto& [n, v] : m_fields)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            out << v;
    return out;
}

bool HTTPHeaders::contains(const QString& name) const
{
    for (const auto& field : m_fields)
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void HTTPHeaders::set(const QString& name, const QString& value)
{
    for (qsizetype i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].first.compare(name, Qt::CaseInsensitive) == 0) {
            m_fields[i].second = value;
            for (qsizetype j = m_fields.size() - 1; j > i; --j)
                if (m_fields[j].first.compare(name, Qt::CaseInsensitive) == 0)
                    m_fields.removeAt(j);
            return;
        }
    }
    m_fields.append({name, value});
}

void HTTPHeaders::add(const QString& name, const QString& value)
{
    m_fields.append({name, value});
}

void HTTPHeaders::remove(const QString& name)
{
    m_fields.removeIf([&](const QPair<QString, QString>& f) { return f.first.compare(name, Qt::CaseInsensitive) == 0; });
}

} // namespace platform
