#include "Browser/KPSectionData.h"

KPItemDataPtr KPSectionItem::itemData() const
{
    const KPItemDataPtr* item = std::get_if<KPItemDataPtr>(&m_value);
    return item ? *item : KPItemDataPtr();
}

bool operator==(const KPSectionItem& a, const KPSectionItem& b)
{
    if (a.m_value.index() != b.m_value.index())
        return false;
    if (const KPItemDataPtr* item = std::get_if<KPItemDataPtr>(&a.m_value))
        return KPItemDataEqual()(*item, std::get<KPItemDataPtr>(b.m_value));
    if (const MonthGroupRecord* month = a.monthGroup())
        return *month == *b.monthGroup();
    if (const FlagGroupRecord* flag = a.flagGroup())
        return *flag == *b.flagGroup();
    return a.m_value == b.m_value;
}

KPSectionData::KPSectionData(const QString& title, QList<KPSectionItem> datas)
    : m_title(title)
    , m_datas(std::move(datas))
{
}

KPSectionDataPtr KPSectionData::create(const QString& title, const QList<KPItemDataPtr>& items)
{
    QList<KPSectionItem> datas;
    datas.reserve(items.size());
    for (const KPItemDataPtr& item : items)
        datas.append(item);
    return create(title, std::move(datas));
}

const KPSectionItem* KPSectionData::itemDataWithIndex(qint64 index) const
{
    if (index < 0 || index >= m_datas.size())
        return nullptr;
    return &m_datas[qsizetype(index)];
}

KPItemDataPtr KPSectionData::itemAt(qint64 index) const
{
    const KPSectionItem* item = itemDataWithIndex(index);
    return item ? item->itemData() : KPItemDataPtr();
}

qint64 KPSectionData::itemIndexWithData(const KPSectionItem& item) const
{
    const qsizetype index = m_datas.indexOf(item);
    return index < 0 ? kNotFound : qint64(index);
}

QList<KPItemDataPtr> KPSectionData::itemDatas() const
{
    QList<KPItemDataPtr> items;
    items.reserve(m_datas.size());
    for (const KPSectionItem& entry : m_datas) {
        if (KPItemDataPtr item = entry.itemData())
            items.append(std::move(item));
    }
    return items;
}
