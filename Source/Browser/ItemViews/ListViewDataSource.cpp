#include "Browser/ItemViews/ListViewDataSource.h"

namespace {
// Internal ids: 0 for a group row, section + 1 for a document row of that section.
constexpr quintptr kGroupId = 0;
} // namespace

ListViewDataSource::ListViewDataSource(QObject* parent) : QAbstractItemModel(parent)
{
}

void ListViewDataSource::setDelegate(Provider provider)
{
    m_provider = std::move(provider);
    reload();
}

void ListViewDataSource::reload()
{
    beginResetModel();
    m_sections = m_provider ? m_provider() : QList<KPSectionDataPtr>();
    m_sections.removeAll(nullptr);
    m_items.clear();
    for (const KPSectionDataPtr& section : m_sections)
        m_items.append(section->itemDatas());
    endResetModel();
}

QModelIndex ListViewDataSource::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < m_sections.size() ? createIndex(row, 0, kGroupId) : QModelIndex();
    if (parent.internalId() != kGroupId || parent.row() >= m_items.size() || row >= m_items[parent.row()].size())
        return {};
    return createIndex(row, 0, quintptr(parent.row()) + 1);
}

QModelIndex ListViewDataSource::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == kGroupId)
        return {};
    return createIndex(int(child.internalId() - 1), 0, kGroupId);
}

int ListViewDataSource::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(m_sections.size());
    if (parent.column() != 0 || parent.internalId() != kGroupId)
        return 0;
    return int(m_items.value(parent.row()).size());
}

int ListViewDataSource::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant ListViewDataSource::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (index.internalId() == kGroupId) {
        if (role == Qt::DisplayRole)
            return m_sections[index.row()]->title();
        return {};
    }
    const KPItemDataPtr& item = m_items[int(index.internalId() - 1)][index.row()];
    if (role == Qt::DisplayRole)
        return item->data() ? QVariant(item->data().title()) : QVariant(item->title());
    if (role == kItemDataRole)
        return QVariant::fromValue(item);
    return {};
}

Qt::ItemFlags ListViewDataSource::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return index.internalId() == kGroupId ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
