#include "Import/KPFileSysytemItem.h"

KPFileSysytemItem::KPFileSysytemItem(const QString& path)
    : m_path(path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    m_title = (slash < 0 || trimmed.size() == 1) ? trimmed : trimmed.mid(slash + 1);
}

void KPFileSysytemItem::addChildren(std::shared_ptr<KPFileSysytemItem> child)
{
    if (child)
        m_children.push_back(std::move(child));
}
