// The menu bar's commands on the documents selected in the grid (the Document menu, the grid's
// context menu and the action bar): open, preview, show in the file manager, the Trash, merging,
// rating, the SafeBox and emptying the Trash. Each is registered under its command name in the
// window's CommandDispatcher, where every item and button that offers it reaches it.
//
// "Show in Folder" and "Show Original File" name every selected file in one request to the file
// manager, so many documents open one window rather than one each; files that no longer exist
// are left out, and with none left nothing opens.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemData.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "SideBar/KPNode.h"
#include "Store/DBNode.h"
#include "Store/DBTag.h"

#include <QList>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

struct MainWindowContext;
class QWidget;

namespace platform {
class Workspace;
}

class DocumentMenuActions {
public:
    // menuCollectionMenuClick's tags (the grid's context menu items).
    enum CollectionMenuTag {
        OpenTag = 101,
        ShowInfoTag = 201,
        RevealTag = 202,
        ShowOriginalTag = 203,
        MoveToTrashTag = 204,
        TrashFromSendToTag = 601,
    };

    explicit DocumentMenuActions(MainWindowContext& ctx);
    ~DocumentMenuActions();
    DocumentMenuActions(const DocumentMenuActions&) = delete;
    DocumentMenuActions& operator=(const DocumentMenuActions&) = delete;

    // Registers every command in ctx.commands; the registrations end with this object.
    void install();

    // ---- hooks the window wires ----
    // Shows a main side-bar node's content again (the content switch).
    std::function<void(const KPNode::Ptr& node)> onSideBarNodeChange;
    // Brings the preview window up for the selection.
    std::function<void()> showPreview;
    // Expands or collapses the inspector pane.
    std::function<void(bool expand)> setInspectorExpanded;
    // Gives the selected documents a rating, stored and drawn.
    std::function<void(int rate)> rateSelection;
    // Copies (or moves) the selection into the open SafeBox; false when this build has no such
    // sheet.
    std::function<bool()> copySelectionToSafeBox;

    // ---- services (the program's unless a test sets its own) ----
    platform::Workspace* workspace = nullptr;
    // Begins the merge sheet for paths into folder (null: none) with tags; done runs when the
    // user finishes after the result was shown.
    std::function<void(const QStringList& paths, const DBNode& folder, const QList<DBTag>& tags, std::function<void()> done)>
        openMergeSheet;
    // Begins the empty-trash sheet; closed runs once when it has ended.
    std::function<void(std::function<void()> closed)> openEmptyTrashSheet;

    // ---- commands ----
    void menuOpen();
    void menuQuickLook();
    void menuRevealInFinder();
    void menuShowOriginalFile();
    void menuMoveToTrash();
    void menuMergePDF();
    void menuCopySafeBoxClick();
    void menuDeleteSafeBoxFile();
    void menuCollectionMenuClick(const QVariant& sender);
    void menuCollectionMenuRatingClick(const QVariant& sender);
    void menuEmptyTrash();

    // Whether the SafeBox's delete sheet exists (its item is offered only then).
    bool canDeleteSafeBoxFiles() const;

private:
    QList<KPItemDataPtr> selectedItems() const;
    platform::Workspace& desktop() const;
    int itemViewType() const;
    KPNode::Ptr selectedMainNode() const;
    void showInfo();
    // One request to the file manager for the paths that still exist.
    void reveal(const QStringList& paths);
    void post(const QString& name, const QVariant& object) const;

    MainWindowContext& m_ctx;
    std::vector<platform::kit::CommandDispatcher::Token> m_commands;
    // Completions of sheets check this before coming back to an object that may have gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
