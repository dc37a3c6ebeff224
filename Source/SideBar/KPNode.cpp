#include "SideBar/KPNode.h"

#include "Controls/ProgressIndicatorCellView.h"
#include "Platform/Foundation/NaturalCompare.h"
#include "Platform/ObjectStore/ManagedObject.h"
#include "SideBar/SideBarNodeType.h"

#include <QFileInfo>
#include <algorithm>

KPNode::~KPNode() = default;

KPNode::Ptr KPNode::create()
{
    return std::make_shared<KPNode>(Private());
}

KPNode::Ptr KPNode::initWithDBNode(const DBNode& node)
{
    Ptr n = create();
    n->m_title = node.title();
    n->m_sortID = node.sortID();
    n->m_dbNode = node;
    switch (node.type()) {
    case DBNode::Collection:
        n->m_nodeType = SideBarNodeType::CollectionNode;
        break;
    case DBNode::Folder:
        n->m_nodeType = SideBarNodeType::FolderNode;
        break;
    case DBNode::SmartFolder:
        n->m_nodeType = SideBarNodeType::SmartFolderNode;
        break;
    default:
        break;
    }
    return n;
}

KPNode::Ptr KPNode::initWithTitle(const QString& title, int nodeType)
{
    Ptr n = create();
    n->m_title = title;
    n->m_nodeType = nodeType;
    n->m_isRoot = nodeType == SideBarNodeType::SectionNode;
    return n;
}

KPNode::Ptr KPNode::initWithSubIndexFolder(const QString& path)
{
    Ptr n = create();
    n->m_title = QFileInfo(path).fileName();
    n->m_nodeType = SideBarNodeType::SubIndexFolderNode;
    n->m_data = path;
    return n;
}

void KPNode::adopt(const Ptr& child)
{
    if (Ptr old = child->parent())
        old->removeChild(child.get());
    child->m_parent = weak_from_this();
}

void KPNode::addChild(const Ptr& child)
{
    if (!child || child.get() == this)
        return;
    adopt(child);
    child->m_rowHint = int(m_children.size());
    m_children.append(child);
}

void KPNode::insertChild(const Ptr& child, int index)
{
    if (!child || child.get() == this)
        return;
    adopt(child);
    index = std::clamp(index, 0, int(m_children.size()));
    child->m_rowHint = index;
    m_children.insert(index, child);
}

bool KPNode::removeChild(const KPNode* child)
{
    const int index = indexOfChild(child);
    if (index < 0)
        return false;
    const Ptr keep = m_children.takeAt(index);
    keep->m_parent.reset();
    return true;
}

void KPNode::removeAllChildren()
{
    for (const Ptr& child : std::as_const(m_children))
        child->m_parent.reset();
    m_children.clear();
}

void KPNode::removeFromParentNode()
{
    if (Ptr p = parent())
        p->removeChild(this);
}

int KPNode::indexOfChild(const KPNode* child) const
{
    if (!child)
        return -1;
    const int hint = child->m_rowHint;
    if (hint >= 0 && hint < m_children.size() && m_children[hint].get() == child)
        return hint;
    for (int i = 0; i < m_children.size(); ++i) {
        if (m_children[i].get() == child) {
            child->m_rowHint = i;
            return i;
        }
    }
    return -1;
}

int KPNode::indexInParent() const
{
    const Ptr p = parent();
    return p ? p->indexOfChild(this) : -1;
}

void KPNode::sortChildren(const QString& key)
{
    if (m_children.size() < 2)
        return;
    if (key == kSortTitle) {
        std::stable_sort(m_children.begin(), m_children.end(),
                         [](const Ptr& a, const Ptr& b) { return platform::naturalLess(a->m_title, b->m_title); });
    } else if (key == kSortID) {
        std::stable_sort(m_children.begin(), m_children.end(),
                         [](const Ptr& a, const Ptr& b) { return a->m_sortID < b->m_sortID; });
    } else if (key == kSortRightNumber) {
        std::stable_sort(m_children.begin(), m_children.end(),
                         [](const Ptr& a, const Ptr& b) { return a->m_rightNumber > b->m_rightNumber; });
    }
}

void KPNode::setData(const QVariant& data)
{
    if (m_nodeType == SideBarNodeType::TagGroupNode || m_nodeType == SideBarNodeType::TagNode) {
        if (const auto object = platform::ManagedObject::fromRef(data))
            m_sortID = object->valueForKey(QStringLiteral("sortID")).toLongLong();
    }
    m_data = data;
}

DBIndexFolder KPNode::indexFolder() const
{
    return DBIndexFolder(platform::ManagedObject::fromRef(m_data));
}

DBTag KPNode::tag() const
{
    return DBTag(platform::ManagedObject::fromRef(m_data));
}

DBTagGroup KPNode::tagGroup() const
{
    return DBTagGroup(platform::ManagedObject::fromRef(m_data));
}

QString KPNode::dataString() const
{
    return m_data.typeId() == QMetaType::QString ? m_data.toString() : QString();
}

void KPNode::setupIcon(const QImage& icon, const QImage& highlightIcon)
{
    m_icon = icon;
    m_highlightIcon = highlightIcon;
}

void KPNode::setIsBusy(bool busy)
{
    if (!busy)
        m_spinnerPhase = 0;
    m_isBusy = busy;
}

void KPNode::advanceSpinner()
{
    m_spinnerPhase = (m_spinnerPhase + 1) % ProgressIndicatorCellView::kSpokes;
}
