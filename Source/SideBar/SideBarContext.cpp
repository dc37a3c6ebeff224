#include "SideBar/SideBarContext.h"

#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "Store/DataBaseEngine.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"

namespace {

// The row icon of each node type in the "Sidebar" group.
QString iconNameOf(int type)
{
    namespace T = SideBarNodeType;
    switch (type) {
    case T::DocumentsNode:
        return QStringLiteral("SidebarIcon-Document");
    case T::TagsNode:
    case T::TagNode:
        return QStringLiteral("SidebarIcon-Tag");
    case T::CollectionsNode:
        return QStringLiteral("SidebarIcon-Collection");
    case T::SafeBoxNode:
        return QStringLiteral("SidebarIcon-Safebox");
    case T::TrashNode:
        return QStringLiteral("SidebarIcon-Trash");
    case T::RecentNode:
        return QStringLiteral("SidebarIcon-Recent");
    case T::FlaggedNode:
        return QStringLiteral("SidebarIcon-Flagged");
    case T::DocumentDateNode:
        return QStringLiteral("SidebarIcon-DocumentDate");
    case T::FileTypeNode:
        return QStringLiteral("SidebarIcon-FileType");
    case T::AuthorNode:
        return QStringLiteral("SidebarIcon-Author");
    case T::ReceivedNode:
        return QStringLiteral("SidebarIcon-Receive");
    case T::FolderNode:
    case T::SubIndexFolderNode:
        return QStringLiteral("SidebarIcon-Folder");
    case T::IndexFolderNode:
        return QStringLiteral("SidebarIcon-IndexFolder");
    case T::CollectionNode:
        return QStringLiteral("SidebarIcon-Project");
    case T::ImportingNode:
    case T::ImportingOldNode:
        return QStringLiteral("SidebarIcon-Import");
    case T::SmartFolderNode:
        return QStringLiteral("SidebarIcon-SmartFolder");
    case T::ICloudNode:
        return QStringLiteral("SidebarIcon-iCloud");
    default:
        return {};
    }
}

} // namespace

SideBarContext::SideBarContext() = default;
SideBarContext::~SideBarContext() = default;

platform::ContextPtr SideBarContext::storeContext() const
{
    return services.library ? services.library->context() : platform::ContextPtr();
}

void SideBarContext::updateRootNodeStatus()
{
    updateRootNodeStatus({});
}

void SideBarContext::updateRootNodeStatus(const std::function<void()>& change)
{
    const auto rebuild = [this, &change] {
        if (change)
            change();
        for (const KPNode::Ptr& section : {shareNode, couldNode, indexFolderNode, favoritesNode, sourceFolderNode})
            rootNode->removeChild(section.get());
        sourceFolderNode->removeChild(iCloudNode.get());
        for (const KPNode::Ptr& section : {shareNode, couldNode, favoritesNode, indexFolderNode}) {
            if (section->hasChildren())
                rootNode->addChild(section);
        }
        if (iCloudNode->hasChildren())
            sourceFolderNode->insertChild(iCloudNode, 0);
        if (sourceFolderNode->hasChildren())
            rootNode->addChild(sourceFolderNode);
    };
    if (view)
        view->reloadAll(rebuild);
    else
        model->reset(rebuild);
}

KPNode::Ptr SideBarContext::selectedNode() const
{
    KPNode* node = view ? view->selectedNode() : nullptr;
    return node ? node->shared_from_this() : KPNode::Ptr();
}

void SideBarContext::reloadNode(const KPNode* node)
{
    if (view)
        view->reloadItem(node);
    else
        model->nodeChanged(node);
}

KPMultiSprite* SideBarContext::iconSprite(int nodeType) const
{
    const QString name = iconNameOf(nodeType);
    return theme && !name.isEmpty() ? theme->themeObjectWithName<KPMultiSprite>(name) : nullptr;
}

void SideBarContext::decorate(KPNode& node) const
{
    if (KPMultiSprite* sprite = iconSprite(node.nodeType())) {
        const QImage normal = sprite->normalSprite() ? sprite->normalSprite()->image() : QImage();
        const QImage lit = sprite->highlightSprite() ? sprite->highlightSprite()->image() : normal;
        node.setupIcon(normal, lit);
        node.setThemeIcon(sprite);
    }
    const bool button = &node == indexFolderNode.get();
    node.setBoolShowRightButton(button);
    node.setRightButtonSprite(button && theme ? theme->themeObjectWithName<KPMultiSprite>(QStringLiteral("CellAddButton"))
                                              : nullptr);
}

void SideBarContext::decorateTree(KPNode& node) const
{
    decorate(node);
    for (const KPNode::Ptr& child : node.children())
        decorateTree(*child);
}

QList<KPNode::Ptr> SideBarContext::folderNodes() const
{
    QList<KPNode::Ptr> nodes;
    for (const KPNode::Ptr& node : indexFolderNode->children())
        nodes.append(node);
    for (const KPNode::Ptr& node : sourceFolderNode->children()) {
        if (node != iCloudNode)
            nodes.append(node);
    }
    for (const KPNode::Ptr& node : iCloudNode->children())
        nodes.append(node);
    return nodes;
}
