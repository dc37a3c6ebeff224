// What the side bars ask of the window besides showing content: documents selected in the grid
// dropped on a folder, collection, tag or Untagged; deleting nodes (asking first when they hold
// documents); a renamed tag; a new favourite; documents dropped on the SafeBox; trashed
// documents put back.
//
// Whether a node holds documents is read from the badges while they are shown; with badges off
// they are not counted, so the store is asked instead and a folder that holds documents is
// never deleted without a question. A put back posts the recount, so the Trash and Documents
// badges follow.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemData.h"
#include "SideBar/KPNode.h"

#include <QList>
#include <QVariant>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class ContentSwitch;
class DBNode;
struct MainWindowContext;
struct SideBarDataSourceDelegate;
struct SubSideBarDataSourceDelegate;

class SideBarRequests {
public:
    // Copies or moves documents into the SafeBox mounted at target; done gets the documents
    // copied and whether it was a move.
    using SafeBoxCopier = std::function<void(const QString& target, const QList<KPItemDataPtr>& sources,
                                             std::function<void(const QList<KPItemDataPtr>& copied, bool move)> done)>;

    SideBarRequests(MainWindowContext& ctx, ContentSwitch& content);
    ~SideBarRequests();
    SideBarRequests(const SideBarRequests&) = delete;
    SideBarRequests& operator=(const SideBarRequests&) = delete;

    // The SafeBox's copy sheet; empty until a SafeBox exists, and such drops are refused.
    SafeBoxCopier copyToSafeBox;

    // Fills the side bars' delegate members this part answers.
    void fillDelegates(SubSideBarDataSourceDelegate& sub, SideBarDataSourceDelegate& main);

    // ---- the collections and tags side bar ----
    void onSubSideBarMoveRecordToNode(const KPNode::Ptr& target);
    void onSubSideBarRemoveNode(const KPNode::Ptr& node);
    void onSubSideBarRemoveNodes(const QList<KPNode::Ptr>& nodes);
    void onSubSideBarNodeRenameChange(const KPNode::Ptr& node);
    void onSubSideBarNodeFavorite(const KPNode::Ptr& node);

    // ---- the main side bar ----
    void onSideBarMoveDataToSafeBox();
    void onSideBarPuckback(const QStringList& uris);
    // The SafeBox copy's end: a move takes the copied documents out of the library.
    void safeBoxCopyFinished(const QList<KPItemDataPtr>& copied, bool move);

    // The grid's selected documents.
    static QList<KPItemDataPtr> selectedItems(const MainWindowContext& ctx);
    // Puts the selected documents in folder (nil: none) and saves; those that changed folder
    // leave the grid with its animation, then the second side bar's node is shown again (while
    // Tags or Collections is) and the recount is posted with recountObject. Nothing changed:
    // nothing removed, no recount.
    static void moveSelectionToFolder(MainWindowContext& ctx, ContentSwitch& content, const DBNode& folder,
                                      const QVariant& recountObject);

    // Whether deleting node must ask: it, or something below it, holds live documents.
    bool holdsDocuments(const KPNode::Ptr& node) const;

private:
    QList<KPItemDataPtr> selectedItems() const { return selectedItems(m_ctx); }
    void moveToFolder(const KPNode::Ptr& target);
    void tagSelection(const KPNode::Ptr& target);
    static void removeFromGrid(MainWindowContext& ctx, const QList<KPItemDataPtr>& items, std::function<void()> done);
    void postRecount();
    qint64 documentCount(const KPNode::Ptr& node) const;

    MainWindowContext& m_ctx;
    ContentSwitch& m_content;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
