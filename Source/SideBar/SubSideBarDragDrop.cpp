// Node drags of the collections and tags side bar and every drop it takes.
#include "SideBar/SubSideBarDataSource.h"

#include "Import/KPImportKeys.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "SideBar/SideBarPasteboard.h"

#include <QDropEvent>
#include <QMimeData>

namespace T = SideBarNodeType;
namespace P = sidebarpasteboard;

namespace {

bool isBelow(const KPNode* node, const KPNode* ancestor)
{
    for (KPNode::Ptr p = node ? node->parent() : nullptr; p; p = p->parent()) {
        if (p.get() == ancestor)
            return true;
    }
    return false;
}

bool isCollectionKind(int type)
{
    return type == T::FolderNode || type == T::SmartFolderNode || type == T::CollectionNode;
}

} // namespace

QMimeData* SubSideBarDataSource::writeItems(const QList<KPNode::Ptr>& nodes)
{
    m_bDropDragMutil = nodes.size() > 1;
    m_dropDragingNodes.clear();
    m_dropDragingNode.reset();
    if (nodes.isEmpty() || nodes.contains(m_untagNode) || nodes.contains(m_uncollectionNode))
        return nullptr;
    const int first = nodes.front()->nodeType();
    if (!isCollectionKind(first) && first != T::TagNode && first != T::TagGroupNode)
        return nullptr;
    m_dropDragingNodes = nodes;
    m_dropDragingNode = nodes.front();
    QList<DBTag> tags;
    for (const KPNode::Ptr& node : nodes) {
        if (node->nodeType() == T::TagNode)
            tags.append(node->tag());
    }
    return P::nodeDragData(this, tags, m_currentNodeType == kTagsMode);
}

std::pair<KPNode*, int> SubSideBarDataSource::dropTargetAt(const QPoint& pos) const
{
    if (!m_view)
        return {nullptr, -1};
    const QModelIndex index = m_view->indexAt(pos);
    KPNode* node = index.isValid() ? m_model->nodeFromIndex(index) : nullptr;
    if (!node)
        return {nullptr, -1};
    const KPNode::Ptr parent = node->parent();
    // Top-level rows (the fixed row and the header) only take drops on themselves.
    if (!parent || parent == m_rootNode)
        return {node, -1};
    const QRect rect = m_view->visualRect(index);
    const int edge = std::max(2, rect.height() / 4);
    if (pos.y() < rect.top() + edge)
        return {parent.get(), node->indexInParent()};
    if (pos.y() >= rect.bottom() - edge && !(node->hasChildren() && m_view->isNodeExpanded(node)))
        return {parent.get(), node->indexInParent() + 1};
    return {node, -1};
}

bool SubSideBarDataSource::validateDrop(const QMimeData& data, KPNode*& target, int& index) const
{
    const auto tagLevelOf = [&](KPNode* tag) {
        // A tag's row inside its group, or a top-level tag's (and Untagged's) in TAGS.
        const KPNode::Ptr parent = tag->parent();
        if (parent && parent->nodeType() == T::TagGroupNode)
            return std::pair<KPNode*, int>{parent.get(), tag->indexInParent()};
        return std::pair<KPNode*, int>{m_tagsRoot.get(), parent == m_tagsRoot ? tag->indexInParent() : 0};
    };
    if (P::hasGridDocuments(data)) {
        if (!target || target == m_untagNode.get() || target == m_uncollectionNode.get())
            return false;
        const int type = target->nodeType();
        if (type != T::FolderNode && type != T::CollectionNode && type != T::TagNode)
            return false;
        index = -1;
        return true;
    }
    if (data.hasUrls()) {
        if (!P::hasImportableFiles(data))
            return false;
        if (!target)
            return true;
        if (!SideBarNodeType::acceptsDroppedFiles(target->nodeType()))
            return false;
        index = -1;
        return true;
    }
    if (!P::isNodeDragOf(data, this) || m_dropDragingNodes.isEmpty() || !target)
        return false;
    if (target->nodeType() == T::SmartFolderNode || target == m_rootNode.get())
        return false;
    // Nodes stay in their own tree.
    const bool collectionTarget = target == m_collectionsRoot.get() || target == m_uncollectionNode.get() ||
                                  isBelow(target, m_collectionsRoot.get());
    const bool draggedCollection = isCollectionKind(m_dropDragingNodes.front()->nodeType());
    if (collectionTarget != draggedCollection)
        return false;
    const KPNode::Ptr& d = m_dropDragingNodes.front();
    const bool anyTag = std::any_of(m_dropDragingNodes.begin(), m_dropDragingNodes.end(),
                                    [](const KPNode::Ptr& n) { return n->nodeType() == T::TagNode; });
    const auto isTag = [](const KPNode* n) { return n->nodeType() == T::TagNode; };
    const auto inGroup = [](const KPNode* n) {
        const KPNode::Ptr p = n->parent();
        return p && p->nodeType() == T::TagGroupNode;
    };
    if (m_bDropDragMutil && anyTag) {
        if (isTag(target) && index == -1)
            std::tie(target, index) = tagLevelOf(target);
        return true;
    }
    if (m_bDropDragMutil && index == -1) {
        if (target->nodeType() == T::TagGroupNode || (isTag(target) && inGroup(target)) || target == m_untagNode.get())
            return false;
        if (isTag(target))
            std::tie(target, index) = tagLevelOf(target);
        return true;
    }
    switch (d->nodeType()) {
    case T::CollectionNode:
    case T::FolderNode:
    case T::SmartFolderNode:
        if (d->nodeType() == T::CollectionNode &&
            (target->nodeType() == T::FolderNode || target->nodeType() == T::CollectionNode))
            return false;
        // Uncategorized is no container: the record would become a top-level one.
        if (target == m_uncollectionNode.get() || target == d.get() || isBelow(target, d.get()))
            return false;
        return true;
    case T::TagNode:
        if (isTag(target) && index == -1)
            std::tie(target, index) = tagLevelOf(target);
        return true;
    case T::TagGroupNode:
        if (target == d.get() || target->nodeType() == T::TagGroupNode || isBelow(target, d.get()) ||
            (isTag(target) && inGroup(target)) || target == m_untagNode.get())
            return false;
        if (index != -1)
            return target == m_tagsRoot.get();
        if (target == m_tagsRoot.get())
            index = 0;
        else if (isTag(target))
            std::tie(target, index) = tagLevelOf(target);
        return true;
    default:
        return false;
    }
}

bool SubSideBarDataSource::acceptDrop(const QMimeData& data, const KPNode::Ptr& target, int index, bool shiftHeld)
{
    if (P::hasGridDocuments(data)) {
        if (!target || !m_delegate.onSubSideBarMoveRecordToNode)
            return false;
        const int type = target->nodeType();
        if (type != T::FolderNode && type != T::CollectionNode && type != T::TagNode)
            return false;
        m_delegate.onSubSideBarMoveRecordToNode(target);
        return true;
    }
    if (data.hasUrls()) {
        acceptFiles(P::filePaths(data), target, shiftHeld);
        return true;
    }
    if (!P::isNodeDragOf(data, this) || m_dropDragingNodes.isEmpty() || !target)
        return false;
    if (!m_bDropDragMutil)
        return moveOneNode(m_dropDragingNodes.front(), target, index);
    return moveSeveralNodes(target, index);
}

void SubSideBarDataSource::acceptFiles(const QStringList& paths, const KPNode::Ptr& target, bool shiftHeld)
{
    namespace I = KPImportKeys;
    QVariantMap options{{I::CMD, shiftHeld ? 1 : 0}, {I::Paths, paths}};
    if (!target) {
        options.insert(I::NewFolderName, newSubFolderNameByNode(nullptr));
        options.insert(SubSideBarKeys::BoolImportToDocument, true);
    } else if (target != m_untagNode && target != m_uncollectionNode) {
        if (target->nodeType() == T::TagNode && target->tag())
            options.insert(I::NewTags, QStringList{target->title()});
        if ((target->nodeType() == T::CollectionNode || target->nodeType() == T::FolderNode) && target->dbNode())
            options.insert(I::DBNode, target->dbNode().ref());
        if (target->nodeType() == T::CollectionNode)
            options.insert(I::NewFolderName, newSubFolderNameByNode(target.get()));
    }
    post(SubSideBarKeys::AddFilesToLibrary, options);
}

bool SubSideBarDataSource::moveOneNode(const KPNode::Ptr& d, const KPNode::Ptr& target, int index)
{
    const KPNode::Ptr parent = d->parent();
    const auto nameTakenIn = [&] {
        if (d->nodeType() == T::SmartFolderNode)
            return false;
        const QString title = d->title().toLower();
        return std::any_of(target->children().begin(), target->children().end(), [&](const KPNode::Ptr& c) {
            return c != d && c->title().toLower() == title;
        });
    };
    if (index < 0 && parent == target)
        return true;
    if (target == parent && d->indexInParent() == index)
        return true;
    if (target != parent && nameTakenIn()) {
        nameTaken(d->title());
        return false;
    }
    reload([&] {
        if (index < 0) {
            target->addChild(d);
        } else if (target == parent) {
            const int old = d->indexInParent();
            target->removeChild(d.get());
            target->insertChild(d, old < index ? index - 1 : index);
        } else {
            d->removeFromParentNode();
            target->insertChild(d, index);
        }
        if (d->nodeType() == T::FolderNode || d->nodeType() == T::SmartFolderNode) {
            DBNode record = d->dbNode();
            record.setParent(target->dbNode());
        } else if (DBTag tag = d->tag(); tag && d->nodeType() == T::TagNode) {
            tag.setGroup(target->nodeType() == T::TagGroupNode ? target->tagGroup() : DBTagGroup());
        }
        updateNodeSort();
    });
    save();
    if (m_view) {
        m_view->expandNode(target.get());
        m_view->selectNode(d.get());
    }
    m_dropDragingNode.reset();
    post(RefreshItemCountNotification, SubSideBarKeys::RefreshCollection);
    return true;
}

bool SubSideBarDataSource::moveSeveralNodes(const KPNode::Ptr& target, int index)
{
    QList<KPNode::Ptr> tags, groups;
    for (const KPNode::Ptr& node : m_dropDragingNodes) {
        if (node->nodeType() == T::TagNode && node != m_untagNode)
            tags.append(node);
        else if (node->nodeType() == T::TagGroupNode)
            groups.append(node);
    }
    const QList<KPNode::Ptr> moved = tags.isEmpty() ? groups : tags;
    const bool intoGroup = target->nodeType() == T::TagGroupNode;
    if (moved.isEmpty() || (target != m_tagsRoot && !intoGroup) || (tags.isEmpty() && target != m_tagsRoot))
        return false;
    reload([&] {
        const auto& children = target->children();
        const int count = int(children.size());
        // The anchor's row; a moved anchor keeps its old one.
        KPNode::Ptr anchor;
        int anchorIndex = 0;
        if (count > 0 && !(intoGroup && index < 0)) {
            anchorIndex = index >= 0 && index < count ? index : count - 1;
            anchor = children.at(anchorIndex);
        }
        for (const KPNode::Ptr& node : moved)
            node->removeFromParentNode();
        int at;
        if (intoGroup && index < 0)
            at = int(target->children().size());
        else if (anchor && anchor->parent() == target)
            at = target->indexOfChild(anchor.get()) + (intoGroup ? 0 : 1);
        else
            at = std::min<int>(anchorIndex, int(target->children().size()));
        for (const KPNode::Ptr& node : moved) {
            target->insertChild(node, at++);
            if (DBTag tag = node->tag(); tag && node->nodeType() == T::TagNode)
                tag.setGroup(intoGroup ? target->tagGroup() : DBTagGroup());
        }
        updateNodeSort();
    });
    save();
    if (m_view) {
        if (intoGroup)
            m_view->expandNode(target.get());
        QItemSelection selection;
        for (const KPNode::Ptr& node : moved) {
            const QModelIndex i = m_model->indexForNode(node.get());
            selection.select(i, i);
        }
        m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    post(RefreshItemCountNotification, SubSideBarKeys::RefreshCollection);
    return true;
}

bool SubSideBarDataSource::handleDrop(QDropEvent& event)
{
    const QMimeData* data = event.mimeData();
    if (!data)
        return false;
    auto [raw, index] = dropTargetAt(event.position().toPoint());
    if (!validateDrop(*data, raw, index))
        return false;
    if (event.type() != QEvent::Drop)
        return true;
    const KPNode::Ptr target = raw ? raw->shared_from_this() : nullptr;
    return acceptDrop(*data, target, index, event.modifiers().testFlag(Qt::ShiftModifier));
}
