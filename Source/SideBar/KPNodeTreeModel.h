// A side-bar tree as a Qt item model: one column, each index pointing at its KPNode, the
// root's children as top-level rows. The tree belongs to the side bar's data source; it changes
// the tree only through the calls below (or rebuilds it and calls reset()), so that every view
// over the model hears of each change and no index outlives its node.
//
// Section headers (type 1) are never selectable. Whether a title may be edited and what an
// edit does are the data source's to decide, through the two hooks.
//
// Threads: main thread only.
#pragma once

#include "SideBar/KPNode.h"

#include <QAbstractItemModel>
#include <QItemSelection>
#include <functional>

class KPNodeTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // The node behind an index, for views and delegates.
    static constexpr int NodeRole = Qt::UserRole + 1;

    explicit KPNodeTreeModel(KPNode::Ptr root, QObject* parent = nullptr);
    ~KPNodeTreeModel() override;

    const KPNode::Ptr& rootNode() const { return m_root; }
    // The node of an index; the root for an invalid index.
    KPNode* nodeFromIndex(const QModelIndex& index) const;
    // The rows as a selection, each run of rows that follow one another in the list and in their
    // parent joined into one range: a selection model compares selections range by range, so a
    // range per row makes selecting thousands of rows quadratic.
    static QItemSelection rangesOf(const QList<QModelIndex>& indexes);
    // The index of a node in this tree; invalid for the root, null or a node outside the tree.
    QModelIndex indexForNode(const KPNode* node) const;

    // ---- changes of the tree ----
    void appendChild(KPNode& parent, const KPNode::Ptr& child);
    void insertChild(KPNode& parent, const KPNode::Ptr& child, int row);
    // Nothing when child is not a child of parent.
    void removeChild(KPNode& parent, const KPNode* child);
    void removeAllChildren(KPNode& parent);
    // The node's row must be drawn again (title, badge, state).
    void nodeChanged(const KPNode* node);
    // Everything may have changed: views forget their indexes. change, when given, runs
    // between the announcement and the end, so it may rebuild any part of the tree.
    void reset(const std::function<void()>& change = {});
    // True while a change is under way (views use it to tell their own selection changes from
    // those the change causes).
    bool isChangingStructure() const { return m_changing > 0; }

    // ---- hooks of the owner ----
    void setEditableTest(std::function<bool(const KPNode&)> test) { m_isEditable = std::move(test); }
    // Called with the text the user typed; the owner decides what it changes.
    void setTitleCommit(std::function<void(KPNode&, const QString&)> commit) { m_commitTitle = std::move(commit); }

    // ---- QAbstractItemModel ----
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    // After each change made through the calls above.
    void structureChanged();

private:
    QModelIndex parentIndexOf(const KPNode& parent) const;

    KPNode::Ptr m_root;
    int m_changing = 0;
    std::function<bool(const KPNode&)> m_isEditable;
    std::function<void(KPNode&, const QString&)> m_commitTitle;
};
