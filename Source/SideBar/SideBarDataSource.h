// The main side bar: the tree of the left-most outline view of the main window and what it
// tells its owner. The LIBRARY and FOCUS sections are fixed; FAVORITES, INDEX FOLDER and SOURCE
// (and SHARED and COULD, which nothing fills) are shown only while they have entries, and are
// filled from the library store once, just after creation, so the first display shows the fixed
// sections only. The owner learns which node the user selects and decides what it shows.
//
// The parts: this class builds the tree, loads it, keeps the sections tidy, gives rows their
// icons, carries the selection protocol and the Importing entry, and makes the navigation menu
// and the last-selection record. SideBarFavorites does the title edits, the context menu and
// the favourites; SideBarIndexFolders the index folders and sources after loading.
//
// Threads: main thread only, except bDataLoaded, which the window's start-up poll reads from
// a worker.
#pragma once

#include "SideBar/SideBarContext.h"

#include "Platform/Foundation/NotificationCenter.h"

#include <QImage>
#include <QObject>
#include <QVariantMap>
#include <atomic>
#include <memory>

class QAction;
class QMenu;
class SideBarDrops;
class SideBarFavorites;
class SideBarIndexFolders;

class SideBarDataSource : public QObject {
public:
    // Builds the fixed tree, takes over the view (theme group, own triangles, model, delegate)
    // and queues the load from the store on the main queue.
    explicit SideBarDataSource(KPSideBarOutlineView* view, SideBarServices services = SideBarServices::shared(),
                               QObject* parent = nullptr);
    ~SideBarDataSource() override;

    void setDelegate(SideBarDataSourceDelegate delegate) { m_ctx.delegate = std::move(delegate); }
    const SideBarDataSourceDelegate& delegate() const { return m_ctx.delegate; }

    // True once the load from the store has finished; never false again.
    bool bDataLoaded() const { return m_bDataLoaded.load(); }
    // Called once on the main thread when the load has finished, also when it could not read
    // the store (the failure is logged and the fixed sections stay).
    void setLoadedCallback(std::function<void()> loaded) { m_loaded = std::move(loaded); }

    KPSideBarOutlineView* sideBarView() const { return m_ctx.view; }
    KPNodeTreeModel* model() const { return m_ctx.model.get(); }
    SideBarFavorites& favorites() { return *m_favorites; }
    SideBarIndexFolders& indexFolders() { return *m_indexFolders; }
    SideBarDrops& drops() { return *m_drops; }

    // ---- nodes ----
    const KPNode::Ptr& rootNode() const { return m_ctx.rootNode; }
    const KPNode::Ptr& libraryNode() const { return m_ctx.libraryNode; }
    const KPNode::Ptr& focusNode() const { return m_ctx.focusNode; }
    const KPNode::Ptr& documentsNode() const { return m_ctx.documentsNode; }
    const KPNode::Ptr& tagsNode() const { return m_ctx.tagsNode; }
    const KPNode::Ptr& collectionsNode() const { return m_ctx.collectionsNode; }
    const KPNode::Ptr& safeBoxNode() const { return m_ctx.safeBoxNode; }
    const KPNode::Ptr& trashNode() const { return m_ctx.trashNode; }
    const KPNode::Ptr& recentNode() const { return m_ctx.recentNode; }
    const KPNode::Ptr& receiveNode() const { return m_ctx.receiveNode; }
    const KPNode::Ptr& importingNode() const { return m_ctx.importingNode; }
    const KPNode::Ptr& favoritesNode() const { return m_ctx.favoritesNode; }
    const KPNode::Ptr& indexFolderNode() const { return m_ctx.indexFolderNode; }
    const KPNode::Ptr& sourceFolderNode() const { return m_ctx.sourceFolderNode; }
    const KPNode::Ptr& iCloudNode() const { return m_ctx.iCloudNode; }
    const KPNode::Ptr& shareNode() const { return m_ctx.shareNode; }
    const KPNode::Ptr& couldNode() const { return m_ctx.couldNode; }

    // ---- sections and rows ----
    void updateRootNodeStatus() { m_ctx.updateRootNodeStatus(); }
    // Shows the Importing entry (busy, once) at the end of LIBRARY, or takes it away.
    void showImportingNode(bool show);
    // Full-text indexing started or ended: nothing to show.
    void showIndexingNode(bool) {}
    // Tells the owner the selected node again.
    void reloadSelectNode();
    // LastSelectedLibraryInfo of the selected row; empty (nil) for an index folder, source or
    // sub-folder.
    QVariantMap lastSelectedInfo() const;
    // The tree as a menu for the title bar's navigation button: each visible section header
    // (no action) followed by its direct children; picking one selects its node. The caller
    // owns the menu.
    QMenu* duplicateMenuWithDataSource();
    // The title-bar icon of a node type, or a null image.
    static QImage imageWithNodeType(int nodeType);
    // Security-scoped folder access has no counterpart here: nothing to end.
    void appWillExit() {}
    QStringList indexFolderURLs() const { return {}; }

    // The view's delegate answers (public for the tests that drive them directly).
    bool shouldSelectItem(KPNode& node);
    void selectionDidChange();

private:
    void buildFixedTree();
    KPNode::Ptr makeEntry(const QString& key, int nodeType);
    void initData();
    void load();
    void loadFavorites(const platform::ContextPtr& context);
    void onThemeChange();
    void onNavMenuChange(QAction* action);
    void onRightButton(KPNode& node);

    SideBarContext m_ctx;
    std::unique_ptr<SideBarFavorites> m_favorites;
    std::unique_ptr<SideBarIndexFolders> m_indexFolders;
    std::unique_ptr<SideBarDrops> m_drops;
    std::atomic<bool> m_bDataLoaded{false};
    std::function<void()> m_loaded;
    platform::ObserverToken m_themeToken;
};
