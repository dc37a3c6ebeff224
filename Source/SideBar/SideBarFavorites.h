// The main side bar's title edits, context menu and favourites.
//
// - Titles of folders, smart folders and collections are edited in place. A folder's new title
//   must differ, ignoring case, from every live folder beside it in the collection tree (its
//   own old title included, so a change of case alone is refused); a taken name is refused in
//   a sheet. Each accepted rename is saved and posted as a "FavoriteNodeChange" Rename, so the
//   collections side bar and every other favourite of the same object follow.
// - The context menu: Empty Trash on Trash, Unfavorite on favourites, Reveal and Remove… on
//   index folders and sources, Reveal on their sub-folders; nothing elsewhere.
// - Favourites are DBFavorite rows naming their object by URI. Unfavouriting marks the rows of
//   exactly that URI (never a pattern); a favourite whose object is gone or trashed is not
//   shown but its row stays.
//
// Threads: main thread only.
#pragma once

#include "SideBar/SideBarContext.h"

#include "Platform/Foundation/NotificationCenter.h"

#include <QList>
#include <QVariantMap>
#include <memory>
#include <optional>

class QMenu;

class SideBarFavorites {
public:
    // Tags of the context-menu items.
    static constexpr int kEmptyTrashTag = 9001;
    static constexpr int kUnfavoriteTag = 2010;
    static constexpr int kRevealTag = 1400;
    static constexpr int kRemoveTag = 1401;

    explicit SideBarFavorites(SideBarContext& context);
    ~SideBarFavorites();
    SideBarFavorites(const SideBarFavorites&) = delete;
    SideBarFavorites& operator=(const SideBarFavorites&) = delete;

    // The favourites of the store, under FAVORITES (part of the side bar's load).
    void loadFavorites(const platform::ContextPtr& context);

    bool shouldEditNode(const KPNode& node) const;
    // The text the user typed for the node's title.
    void commitTitle(KPNode& node, const QString& text);

    // The menu for the row at the first of rows, or nullptr; the caller owns it.
    QMenu* outlineViewMenuByIndexSet(const std::optional<QList<int>>& rows);
    // Performs a menu item on the selected row.
    void outlineViewItemMenuClick(int tag);

    // Stores a node of the collections/tags side bar (a tag, folder or smart folder) as a
    // favourite, shows its copy and selects it.
    void favoriteNode(const KPNode::Ptr& node);
    // Copies the node's badge count to its favourite.
    void refreshFavoriteByNode(const KPNode* node);
    void onFavoriteNodeChange(const QVariantMap& info);

private:
    void unfavorite(const KPNode::Ptr& node);
    // Takes favourite nodes away; FAVORITES goes when it is left empty.
    void removeFavorites(const QList<KPNode::Ptr>& nodes);
    bool isFolderTitleTaken(const KPNode& node, const QString& title) const;
    void showNameTaken(const QString& title) const;
    // The URI text of the object a favourite node stands for; empty when it has none.
    static QString objectURIOf(const KPNode& node);
    void save() const;

    SideBarContext& m_ctx;
    platform::ObserverToken m_changeToken;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
