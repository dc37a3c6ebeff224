// The collections and tags side bar: the second outline view of the main window, showing either
// the collection tree (collections, folders, smart folders) or the tag tree (tags and tag
// groups). It loads both trees from the library once, switches between them, keeps expansion
// in the records and the last selection and scroll point in the user defaults, and tells its
// owner what the user selects. Row 0 is always "Uncategorized" or "Untagged", row 1 the header.
//
// The class is split by concern over several files: this one (trees, loading, selection, rows),
// SubSideBarEditing.cpp (adding, renaming, deleting, smart folders), SubSideBarMenu.cpp (context
// menus and the collection-tree menu), SubSideBarDragDrop.cpp (node drags and drops) and
// MergeTagsWindowController.cpp (merging tags). Every change goes to node and record together.
//
// Threads: main thread only, except bDataLoaded, which the window's start-up poll reads from a
// worker.
#pragma once

#include "Platform/Foundation/NotificationCenter.h"
#include "SideBar/KPNode.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class DataBaseEngine;
class DBFileInfo;
class KPCustomThemeObject;
class KPFileSysytemItem;
class KPNodeTreeModel;
class KPSideBarOutlineView;
class QDropEvent;
class QMenu;
class QMimeData;
class QPainter;

// The owner of the side bar; every member is optional.
struct SubSideBarDataSourceDelegate {
    std::function<void(const KPNode::Ptr& node)> onSubSideBarNodeChange;
    std::function<void(const QList<KPNode::Ptr>& nodes)> onSubSideBarNodesChange;
    std::function<void(const KPNode::Ptr& current)> onSubSideBarBeforeNodeWillChange;
    // Documents from the grid were dropped on the node.
    std::function<void(const KPNode::Ptr& target)> onSubSideBarMoveRecordToNode;
    // Delete chosen in the menu: the owner confirms, then calls removeNode or removeNodes.
    std::function<void(const KPNode::Ptr& node)> onSubSideBarRemoveNode;
    std::function<void(const QList<KPNode::Ptr>& nodes)> onSubSideBarRemoveNodes;
    std::function<void(const KPNode::Ptr& node)> onSubSideBarNodeRenameChange;
    std::function<void(const KPNode::Ptr& node)> onSubSideBarNodeFavorite;
};

// The smart-folder editor sheet: given the window, the title and the archived rules, it answers
// (return code, archived rules, title); only return code 1 carries them.
using SmartFolderEditor = std::function<void(QWidget* window, const QString& title, const QByteArray& rules,
                                             std::function<void(int code, const QByteArray& rules, const QString& title)>)>;

// Names of the notifications and keys this side bar posts.
namespace SubSideBarKeys {
inline const QString UpdateLabCenterTitle = QStringLiteral("UpdateLabCenterTitle");
inline const QString AddFilesToLibrary = QStringLiteral("AddFilesToLibrary");
inline const QString BoolImportToDocument = QStringLiteral("BoolImportToDocument");
inline const QString LastSelectedCollectionItem = QStringLiteral("String_LastSelectedCollectionItem");
inline const QString LastSelectedTagItem = QStringLiteral("String_LastSelectedTagItem");
inline const QString CollectionScrollPoint = QStringLiteral("Point_CollectionSideBarViewScrollPoint");
inline const QString TagScrollPoint = QStringLiteral("Point_TagSideBarViewScrollPoint");
// Objects of "RefreshItemCountNotification".
inline const QString RefreshTags = QStringLiteral("Tags");
inline const QString RefreshTag = QStringLiteral("Tag");
inline const QString RefreshCollection = QStringLiteral("Collection");
} // namespace SubSideBarKeys

class SubSideBarDataSource : public QObject {
public:
    static constexpr int kCollectionsMode = 20;
    static constexpr int kTagsMode = 10;
    // A numbered name is tried this many times before a short unique suffix is taken.
    static constexpr int kMaxNumberedNames = 10000;
    // Height of row 0 ("Uncategorized" or "Untagged").
    static constexpr int kFixedRowHeight = 36;

    // Menu tags.
    enum MenuTag {
        NewFolderAtRoot = 1010, NewCollection = 1011, SortCollections = 1012,
        NewTagAtRoot = 4000, NewTagGroup = 4001, SortTagsByName = 3006, SortTagsByCount = 3005,
        RenameTag = 3001, RemoveTagFromAll = 3010, SortLevelByName = 3002, SortLevelByCount = 3003,
        DeleteTag = 3004, DeleteTagGroup = 4004, Favorite = 5555,
        NewSubFolder = 1000, RenameFolder = 1001, SortFolderLevel = 1002, DeleteFolder = 1003,
        EditSmartFolder = 1200, DuplicateSmartFolder = 1210, RenameSmartFolder = 1201, DeleteSmartFolder = 1202,
        NewFolderInCollection = 2000, RenameCollection = 2001, SortCollectionLevel = 2002, DeleteCollection = 2003,
        NewTagGroupWithSelection = 7000, MergeTags = 7001, DeleteSelection = 7002,
    };

    // Takes over the view (model, theme group, delegate); the trees load with initData.
    explicit SubSideBarDataSource(KPSideBarOutlineView* view, DataBaseEngine* library = nullptr,
                                  QObject* parent = nullptr);
    ~SubSideBarDataSource() override;

    void setDelegate(SubSideBarDataSourceDelegate delegate) { m_delegate = std::move(delegate); }
    void setSmartFolderEditor(SmartFolderEditor editor) { m_smartFolderEditor = std::move(editor); }
    bool bDataLoaded() const { return m_bDataLoaded.load(); }
    // Called once on the main thread when the load has finished, also when it could not read
    // the store (the failure is logged and the trees stay empty).
    void setLoadedCallback(std::function<void()> loaded) { m_loaded = std::move(loaded); }
    int currentNodeType() const { return m_currentNodeType; }

    KPSideBarOutlineView* sideBarView() const { return m_view; }
    KPNodeTreeModel* model() const { return m_model.get(); }
    const KPNode::Ptr& rootNode() const { return m_rootNode; }
    const KPNode::Ptr& collectionsRoot() const { return m_collectionsRoot; }
    const KPNode::Ptr& tagsRoot() const { return m_tagsRoot; }
    const KPNode::Ptr& untagNode() const { return m_untagNode; }
    const KPNode::Ptr& uncollectionNode() const { return m_uncollectionNode; }

    // ---- trees, loading, selection ----
    // Queues the load on the main queue; a second call before it has run does nothing.
    void initData();
    void switchByNodeType(int nodeType);
    void recursiveCreateDataByNode(KPNode& node);
    // The first folder, collection, tag or tag group below start (itself included) whose record
    // has the URI text; smart folders never match.
    static KPNode::Ptr foundNodeByURI(const KPNode::Ptr& start, const QString& uri);
    void updateNodeSort();
    void reloadSelectNode();
    KPNode::Ptr selectedNode() const;
    // The nodes of the selected rows, in row order.
    QList<KPNode::Ptr> selectedNodes() const;

    // The view's questions and reports (public for the tests that drive them directly).
    bool shouldSelectItem(KPNode& node);
    void selectionDidChange();
    void scrollRectChange(const QRect& visible);
    void itemExpanded(KPNode& node);
    void itemCollapsed(KPNode& node);
    void onNewTagNotification(const QVariant& tags);
    bool shouldEditNode(const KPNode& node) const;
    // Which rows a proposed selection becomes: one row is taken when selectable (else the
    // current rows stay); several lose the headers and row 0, unless row 0 is newly proposed,
    // which then stands alone.
    static QList<int> proposeSelection(const QList<int>& current, const QList<int>& proposed,
                                       const std::function<bool(int row)>& isSelectable);

    // ---- adding, renaming, deleting ----
    // The first of first, numbered(2), numbered(3), … that taken refuses (bounded; then a short
    // unique suffix).
    static QString uniqueName(const QString& first, const std::function<QString(int)>& numbered,
                              const std::function<bool(const QString&)>& taken);
    QString newSubFolderNameByNode(const KPNode* node) const;
    KPNode::Ptr addFolder();
    KPNode::Ptr addFolderToRoot();
    KPNode::Ptr addFolderFromSelection(const QList<DBFileInfo>& files);
    KPNode::Ptr addFolderByNode(const KPNode::Ptr& parent, const QList<DBFileInfo>& files);
    KPNode::Ptr addCollection();
    KPNode::Ptr addTag();
    KPNode::Ptr addTagGroup();
    KPNode::Ptr addTagGroupFromSelection();
    KPNode::Ptr newSmartFolder(const QString& title, const QByteArray& rules);
    KPNode::Ptr newFolderFromDBNode(const DBNode& node, const DBNode& parent);
    KPNode::Ptr newFolderFromFileSystemItem(const KPFileSysytemItem& item, const DBNode& parent);
    void commitTitle(KPNode& node, const QString& text);
    void removeNode(const KPNode::Ptr& node);
    void removeNodes(const QList<KPNode::Ptr>& nodes);
    // Asks first; on "Remove" the tag leaves every document but stays itself.
    void removeNodeOnly(const KPNode::Ptr& node);
    void editSmartFolder(const KPNode::Ptr& node);
    void duplicateSmartFolder(const KPNode::Ptr& node);
    // Asks first.
    void deleteSmartFolder(const KPNode::Ptr& node);

    // ---- menus ----
    // The context menu for rows (nullopt: no row); nullptr for none. The caller owns it.
    QMenu* outlineViewMenuByIndexSet(const std::optional<QList<int>>& rows);
    void outlineViewItemMenuClick(int tag);
    // Fills menu with the collection tree for moving documents: "Uncategorized", then every
    // folder (picked through action with its record; nil for Uncategorized) and collection
    // (shown, not pickable), indented by depth.
    void duplicateMenuWithDataSource(QMenu* menu, const std::function<void(const DBNode&)>& action) const;
    void onDrawDragging(QPainter& painter) const;

    // ---- merging tags ----
    // Opens the merge sheet for the selected tags.
    void mergeSelectedTags();
    // Whether name may be the merged tag's: not empty, and no live tag has it.
    bool isMergeNameFree(const QString& name) const;
    void mergeTags(const QList<KPNode::Ptr>& nodes, const QString& name);

    // ---- drags and drops ----
    // Starts a node drag of nodes: the data to drag, or nullptr when they may not be dragged.
    QMimeData* writeItems(const QList<KPNode::Ptr>& nodes);
    const QList<KPNode::Ptr>& dropDragingNodes() const { return m_dropDragingNodes; }
    // A drop on target (nullptr: the empty area) at child index (-1: on the node).
    bool validateDrop(const QMimeData& data, KPNode*& target, int& index) const;
    bool acceptDrop(const QMimeData& data, const KPNode::Ptr& target, int index, bool shiftHeld);
    // The drop target of a viewport point: (node, child index), -1 meaning on the node.
    std::pair<KPNode*, int> dropTargetAt(const QPoint& pos) const;
    bool handleDrop(QDropEvent& event);

private:
    // Rebuilds the rows after change (run with the rows down).
    void reload(const std::function<void()>& change = {});
    void save();
    void post(const QString& name, const QVariant& object = {}) const;
    void decorate(KPNode& node) const;
    void decorateTree(KPNode& node) const;
    void onThemeChange();
    // Writes a folder's, collection's or tag group's open state into its record.
    void storeExpansion(KPNode& node, bool expanded);
    void load();
    void showHeader(const KPNode::Ptr& header, const KPNode::Ptr& fixedRow);
    void selectRow(int row);
    void selectAndEdit(const KPNode::Ptr& node, const KPNode::Ptr& parent);
    void nameTaken(const QString& name) const;
    void moveSelectionAfterRemoval(int oldRow);
    // Marks records of the subtree as trashed; the favourites hear of each folder and smart
    // folder.
    void trashCollectionSubtree(const KPNode& node);
    void untagDocuments(const DBTag& tag);
    void trashTag(const DBTag& tag, bool notifyFavorites);
    KPNode::Ptr parentForNewFolder() const;
    // Shows a new tag or tag group under parent (TAGS shown in tags mode) and edits its title.
    KPNode::Ptr showNewTagNode(const QString& title, int type, const QVariant& record, const KPNode::Ptr& parent);
    KPNode::Ptr insertCollectionNode(const DBNode& record, const KPNode::Ptr& parent);
    KPNode::Ptr parentNodeOfRecord(const DBNode& parent) const;
    bool isTagNameTaken(const QString& name) const;
    bool isGroupNameTaken(const QString& name, const KPNode* except) const;
    void sortLevel(const KPNode::Ptr& level, const QString& key);
    bool moveOneNode(const KPNode::Ptr& node, const KPNode::Ptr& target, int index);
    bool moveSeveralNodes(const KPNode::Ptr& target, int index);
    void acceptFiles(const QStringList& paths, const KPNode::Ptr& target, bool shiftHeld);

    QPointer<KPSideBarOutlineView> m_view;
    DataBaseEngine* m_library = nullptr;
    std::unique_ptr<KPNodeTreeModel> m_model;
    KPCustomThemeObject* m_theme = nullptr;
    SubSideBarDataSourceDelegate m_delegate;
    SmartFolderEditor m_smartFolderEditor;
    std::atomic<bool> m_bDataLoaded{false};
    std::function<void()> m_loaded;
    bool m_loadingData = false;
    int m_currentNodeType = 0;
    KPNode::Ptr m_rootNode, m_collectionsRoot, m_tagsRoot, m_untagNode, m_uncollectionNode;
    // Drag state: the dragged nodes, in drag order.
    bool m_bDropDragMutil = false;
    QList<KPNode::Ptr> m_dropDragingNodes;
    std::weak_ptr<KPNode> m_dropDragingNode;
    // Set while a switch restores expansion, so the records are not written back.
    bool m_restoring = false;
    std::vector<platform::ObserverToken> m_tokens;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
