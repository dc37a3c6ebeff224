// The grid's right-click menu: which menu the current view gets, what it holds for the current
// selection, and the actions of the items built here (open with, flag, move to a collection,
// put back from the Trash, rebuild previews). The menu is made as a MenuModel each time it
// opens, so what it shows always follows the selection and the held keys of that moment;
// the submenus' item lists are public for the menu bar's Document menu, which shows the same.
//
// Open With lists the desktop's programs for the selected files: the default first, marked
// "(default)", then the others by name; programs of one name are told apart by their desktop
// ID, or by "(Flatpak)"/"(Snap)" for entries those export. Programs are started with argument
// lists, never through a shell.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemData.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/MenuModel.h"
#include "Platform/ObjectStore/ObjectID.h"
#include "SideBar/KPNode.h"

#include <QIcon>
#include <QList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct MainWindowContext;
class DataBaseEngine;
class SelectionSharing;
class QMenu;
class QWidget;

namespace platform {
class Workspace;
struct DesktopEntry;
} // namespace platform

class GridContextMenu {
public:
    enum Tag {
        OpenTag = 101,
        OpenWithTag = 102,
        ShowInfoTag = 201,
        RevealTag = 202,
        ShowOriginalTag = 203,
        MoveToTrashTag = 204,
        RatingTag = 301,
        FlagTag = 302,
        MoveToCollectionTag = 401,
        ShareTag = 501,
        SendToTag = 601,
        MultipleSeparatorTag = 20,
        MergePDFTag = 21,
        CopyToSafeBoxTag = 7666,
        RebuildPreviewTag = 7778880,
        RebuildSeparatorTag = 7778881,
        NewFolderFromSelectionTag = 8888,
        NewFolderSeparatorTag = 7777,
    };

    // Commands of the items built here.
    static inline const QString kOpenWithCommand = QStringLiteral("onOpenWithItemClick");
    static inline const QString kFlagCommand = QStringLiteral("onFlagItemClick");
    static inline const QString kMoveToCollectionCommand = QStringLiteral("onMoveToCollectionClick");
    static inline const QString kPutBackCommand = QStringLiteral("onPutBackClick");
    static inline const QString kRebuildPreviewCommand = QStringLiteral("onRebuildPreview");
    // Commands of the window's menu actions the items send.
    static inline const QString kCollectionMenuCommand = QStringLiteral("menuCollectionMenuClick");
    static inline const QString kRatingCommand = QStringLiteral("menuCollectionMenuRatingClick");
    static inline const QString kMergePDFCommand = QStringLiteral("menuMergePDF");
    static inline const QString kCopySafeBoxCommand = QStringLiteral("menuCopySafeBoxClick");
    static inline const QString kAddFolderFromSelectionCommand = QStringLiteral("menuAddFolderFromSelection");

    GridContextMenu(MainWindowContext& ctx, SelectionSharing& sharing);
    ~GridContextMenu();
    GridContextMenu(const GridContextMenu&) = delete;
    GridContextMenu& operator=(const GridContextMenu&) = delete;

    // Answers the grid's menu requests and registers the commands above.
    void install();

    // ---- hooks the window wires ----
    // Shows a main side-bar node's content again (the content switch).
    std::function<void(const KPNode::Ptr& node)> onSideBarNodeChange;
    // Shows a second side-bar node's content again.
    std::function<void(const KPNode::Ptr& node)> onSubSideBarNodeChange;
    // The SafeBox list's menu; none until the SafeBox gives one.
    std::function<std::optional<platform::kit::MenuModel>()> safeBoxMenu;
    // Opens the rebuild sheet for these records; done runs when it has finished. The rebuild
    // window's selection form unless a test sets its own.
    std::function<void(const QList<platform::ObjectID>& records, std::function<void()> done)> openRebuildSheet;
    // The desktop; the shared one unless set.
    platform::Workspace* workspace = nullptr;

    // ---- the menu ----
    // The menu for the current view and selection; none for tile views.
    std::optional<platform::kit::MenuModel> collectionViewMenu() const;
    std::unique_ptr<QMenu> menu(QWidget* parent = nullptr) const;

    // ---- submenus (also the Document menu's) ----
    // Refills a submenu of the Document menu as it opens, for the current selection: tag is that
    // of the context menu's item (Open With, Rating, Flag, Move to Collection, Share).
    void fillSubmenu(QMenu* menu, int tag) const;
    std::vector<platform::kit::MenuItemModel> openWithItems(const QList<KPItemDataPtr>& items) const;
    static std::vector<platform::kit::MenuItemModel> ratingItems(const QList<KPItemDataPtr>& items);
    static std::vector<platform::kit::MenuItemModel> flagItems(const QList<KPItemDataPtr>& items);
    std::vector<platform::kit::MenuItemModel> moveItems() const;

    // What tells two programs of one name apart: "Flatpak", "Snap", else the desktop ID.
    static QString distinction(const platform::DesktopEntry& entry);

    // ---- actions ----
    void onOpenWithItemClick(const QVariant& sender);
    void onFlagItemClick(const QVariant& sender);
    void onMoveToCollectionClick(const QVariant& sender);
    void onPutBackClick(const QVariant& sender = {});
    void onRebuildPreview(const QVariant& sender = {});

    QList<KPItemDataPtr> selectedItems() const;

private:
    DataBaseEngine& store() const;
    platform::Workspace& desktop() const;
    QList<KPSectionIndexSet> selectedIndexs() const;
    int itemViewType() const;
    int shownNodeType() const;
    void redrawSelection() const;
    void post(const QString& name, const QVariant& object) const;
    // Takes the addresses out of the grid with animation, then runs after.
    void removeFromGrid(const QList<KPSectionIndexSet>& indexSets, std::function<void()> after);
    void decorate(QMenu* menu, const std::vector<platform::kit::MenuItemModel>& items, int parentTag) const;
    QIcon iconFor(const platform::kit::MenuItemModel& item, int parentTag) const;

    MainWindowContext& m_ctx;
    SelectionSharing& m_sharing;
    std::vector<platform::kit::CommandDispatcher::Token> m_commands;
};
