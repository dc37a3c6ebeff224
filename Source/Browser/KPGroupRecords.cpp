#include "Browser/KPGroupRecords.h"

namespace {
QVariantList itemList(const QList<KPItemDataPtr>& items)
{
    QVariantList list;
    list.reserve(items.size());
    for (const KPItemDataPtr& item : items)
        list.append(QVariant::fromValue(item));
    return list;
}
} // namespace

QVariantMap MonthGroupRecord::toVariantMap() const
{
    return {{QStringLiteral("Year"), year}, {QStringLiteral("Month"), month}, {QStringLiteral("Items"), itemList(items)}};
}

QVariantMap FlagGroupRecord::toVariantMap() const
{
    return {{QStringLiteral("Label"), label}, {QStringLiteral("Items"), itemList(items)}};
}

QVariantMap FileTypeGroupRecord::toVariantMap() const
{
    return {{QStringLiteral("ID"), kindID}, {QStringLiteral("ItemCount"), itemCount}};
}
