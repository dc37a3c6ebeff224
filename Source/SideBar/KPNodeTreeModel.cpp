#include "SideBar/KPNodeTreeModel.h"

#include "SideBar/SideBarNodeType.h"

#include <QScopedValueRollback>

KPNodeTreeModel::KPNodeTreeModel(KPNode::Ptr root, QObject* parent)
    : QAbstractItemModel(parent)
    , m_root(std::move(root))
{
}

KPNodeTreeModel::~KPNodeTreeModel() = default;

KPNode* KPNodeTreeModel::nodeFromIndex(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return m_root.get();
    return static_cast<KPNode*>(index.internalPointer());
}

QModelIndex KPNodeTreeModel::indexForNode(const KPNode* node) const
{
    if (!node || node == m_root.get())
        return {};
    // Only nodes whose chain of parents ends at the root are in the tree.
    const KPNode* top = node;
    for (KPNode::Ptr p = node->parent(); p; p = p->parent())
        top = p.get();
    if (top != m_root.get())
        return {};
    const int row = node->indexInParent();
    return row < 0 ? QModelIndex() : createIndex(row, 0, const_cast<KPNode*>(node));
}

QItemSelection KPNodeTreeModel::rangesOf(const QList<QModelIndex>& indexes)
{
    // The order is kept: the first range names the selected node.
    QItemSelection ranges;
    for (qsizetype i = 0; i < indexes.size();) {
        if (!indexes[i].isValid()) {
            ++i;
            continue;
        }
        const QModelIndex parent = indexes[i].parent();
        qsizetype j = i;
        while (j + 1 < indexes.size() && indexes[j + 1].isValid() && indexes[j + 1].row() == indexes[j].row() + 1 &&
               indexes[j + 1].parent() == parent)
            ++j;
        ranges.append(QItemSelectionRange(indexes[i], indexes[j]));
        i = j + 1;
    }
    return ranges;
}

QModelIndex KPNodeTreeModel::parentIndexOf(const KPNode& parent) const
{
    return &parent == m_root.get() ? QModelIndex() : indexForNode(&parent);
}

void KPNodeTreeModel::appendChild(KPNode& parent, const KPNode::Ptr& child)
{
    insertChild(parent, child, int(parent.children().size()));
}

void KPNodeTreeModel::insertChild(KPNode& parent, const KPNode::Ptr& child, int row)
{
    if (!child)
        return;
    // A node still elsewhere in the tree leaves its old place first, announced.
    if (const KPNode::Ptr old = child->parent())
        removeChild(*old, child.get());
    const bool shown = &parent == m_root.get() || indexForNode(&parent).isValid();
    row = std::clamp(row, 0, int(parent.children().size()));
    if (!shown) {
        parent.insertChild(child, row);
        return;
    }
    {
        const QScopedValueRollback changing(m_changing, m_changing + 1);
        beginInsertRows(parentIndexOf(parent), row, row);
        parent.insertChild(child, row);
        endInsertRows();
    }
    Q_EMIT structureChanged();
}

void KPNodeTreeModel::removeChild(KPNode& parent, const KPNode* child)
{
    const int row = parent.indexOfChild(child);
    if (row < 0)
        return;
    const bool shown = &parent == m_root.get() || indexForNode(&parent).isValid();
    if (!shown) {
        parent.removeChild(child);
        return;
    }
    {
        const QScopedValueRollback changing(m_changing, m_changing + 1);
        beginRemoveRows(parentIndexOf(parent), row, row);
        parent.removeChild(child);
        endRemoveRows();
    }
    Q_EMIT structureChanged();
}

void KPNodeTreeModel::removeAllChildren(KPNode& parent)
{
    if (!parent.hasChildren())
        return;
    const bool shown = &parent == m_root.get() || indexForNode(&parent).isValid();
    if (!shown) {
        parent.removeAllChildren();
        return;
    }
    {
        const QScopedValueRollback changing(m_changing, m_changing + 1);
        beginRemoveRows(parentIndexOf(parent), 0, int(parent.children().size()) - 1);
        parent.removeAllChildren();
        endRemoveRows();
    }
    Q_EMIT structureChanged();
}

void KPNodeTreeModel::nodeChanged(const KPNode* node)
{
    const QModelIndex index = indexForNode(node);
    if (index.isValid())
        Q_EMIT dataChanged(index, index);
}

void KPNodeTreeModel::reset(const std::function<void()>& change)
{
    {
        const QScopedValueRollback changing(m_changing, m_changing + 1);
        beginResetModel();
        if (change)
            change();
        endResetModel();
    }
    Q_EMIT structureChanged();
}

QModelIndex KPNodeTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    const KPNode* p = nodeFromIndex(parent);
    if (!p || row >= p->children().size())
        return {};
    return createIndex(row, 0, p->children()[row].get());
}

QModelIndex KPNodeTreeModel::parent(const QModelIndex& child) const
{
    const KPNode* node = child.isValid() ? nodeFromIndex(child) : nullptr;
    if (!node)
        return {};
    const KPNode::Ptr p = node->parent();
    if (!p || p == m_root)
        return {};
    const int row = p->indexInParent();
    return row < 0 ? QModelIndex() : createIndex(row, 0, p.get());
}

int KPNodeTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    const KPNode* p = nodeFromIndex(parent);
    return p ? int(p->children().size()) : 0;
}

int KPNodeTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool KPNodeTreeModel::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

QVariant KPNodeTreeModel::data(const QModelIndex& index, int role) const
{
    const KPNode* node = index.isValid() ? nodeFromIndex(index) : nullptr;
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return node->title();
    case NodeRole:
        return QVariant::fromValue(const_cast<KPNode*>(node)->shared_from_this());
    default:
        return {};
    }
}

bool KPNodeTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    KPNode* node = index.isValid() ? nodeFromIndex(index) : nullptr;
    if (!node || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    // The commit may change the tree; the node stays alive until it is done, and only a node
    // still in the tree is redrawn.
    const KPNode::Ptr keep = node->shared_from_this();
    if (m_commitTitle)
        m_commitTitle(*node, value.toString());
    nodeChanged(node);
    return true;
}

Qt::ItemFlags KPNodeTreeModel::flags(const QModelIndex& index) const
{
    const KPNode* node = index.isValid() ? nodeFromIndex(index) : nullptr;
    if (!node)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled;
    if (node->nodeType() != SideBarNodeType::SectionNode)
        f |= Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (m_isEditable && m_isEditable(*node))
        f |= Qt::ItemIsEditable;
    return f;
}
