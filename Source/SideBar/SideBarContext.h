// What the parts of the main side bar share: the services, the outline view and its model,
// the owner's delegate, the theme group and the tree with its fixed nodes, plus the few tree
// operations every part needs. SideBarDataSource owns it; SideBarFavorites and
// SideBarIndexFolders work on it.
//
// Threads: main thread only.
#pragma once

#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "SideBar/KPNode.h"
#include "SideBar/SideBarServices.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class KPCustomThemeObject;
class KPMultiSprite;
class KPNodeTreeModel;
class KPSideBarOutlineView;

// The owner of the main side bar, told what the user selects; every member is optional.
struct SideBarDataSourceDelegate {
    // The user is about to leave the selected node (nullptr when none is selected).
    std::function<void(const KPNode::Ptr& current)> onSideBarBeforeNodeWillChange;
    // The selection changed, or the selected node must be shown again (nullptr: no row).
    std::function<void(const KPNode::Ptr& node)> onSideBarNodeChange;
    // Documents dropped on SafeBox (their file paths), and on Documents while Trash is shown
    // (their object URIs).
    std::function<void(const QStringList& paths)> onSideBarMoveDataToSafeBox;
    std::function<void(const QStringList& uris)> onSideBarPuckback;
};

struct SideBarContext {
    SideBarServices services;
    QPointer<KPSideBarOutlineView> view;
    std::unique_ptr<KPNodeTreeModel> model;
    SideBarDataSourceDelegate delegate;
    KPCustomThemeObject* theme = nullptr; // the "Sidebar" group, or none

    KPNode::Ptr rootNode;
    KPNode::Ptr libraryNode, focusNode;
    KPNode::Ptr documentsNode, tagsNode, collectionsNode, safeBoxNode, trashNode;
    KPNode::Ptr recentNode, flaggedNode, documentDateNode, fileTypeNode, authorNode, receiveNode;
    KPNode::Ptr importingNode;
    KPNode::Ptr shareNode, couldNode, favoritesNode, indexFolderNode, sourceFolderNode;
    KPNode::Ptr iCloudNode;

    SideBarContext();
    ~SideBarContext();

    // The library store's main context (null while no store is open).
    platform::ContextPtr storeContext() const;

    // Shows the optional sections that have entries, in their order, the iCloud node first in
    // SOURCE while it has sources, and reloads the view.
    void updateRootNodeStatus();
    // The same as part of a reload: change runs first, with the rows down.
    void updateRootNodeStatus(const std::function<void()>& change);

    KPNode::Ptr selectedNode() const;
    void reloadNode(const KPNode* node);

    // The row icons of a node type from the theme group, and the row's small button: the
    // INDEX FOLDER header has one, no other row does.
    void decorate(KPNode& node) const;
    // decorate for the node and everything below it.
    void decorateTree(KPNode& node) const;
    // The theme group's icon sprite of a node type, or none.
    KPMultiSprite* iconSprite(int nodeType) const;

    // Every index-folder or source node: INDEX FOLDER's and SOURCE's children (not the iCloud
    // node) and the iCloud node's children.
    QList<KPNode::Ptr> folderNodes() const;
};
