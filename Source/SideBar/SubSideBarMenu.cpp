// The context menus of the collections and tags side bar, the collection tree as a menu, and
// the drop-target highlight.
#include "SideBar/SubSideBarDataSource.h"

#include "Platform/Foundation/Localization.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"

#include <QMenu>
#include <QPainter>

using platform::localizedString;
namespace T = SideBarNodeType;

namespace {

// An item that carries its tag (data) and the node it was made for; an item without action
// is shown disabled.
QAction* addItem(QMenu& menu, const QString& title, int tag, const KPNode::Ptr& node, bool enabled = true)
{
    QAction* action = menu.addAction(title);
    action->setData(tag);
    action->setProperty("node", QVariant::fromValue(node));
    action->setEnabled(enabled);
    return action;
}

} // namespace

QMenu* SubSideBarDataSource::outlineViewMenuByIndexSet(const std::optional<QList<int>>& rows)
{
    auto menu = std::make_unique<QMenu>();
    const auto item = [&](const QString& key, int tag, const KPNode::Ptr& node = {}, bool enabled = true) {
        addItem(*menu, localizedString(key), tag, node, enabled);
    };
    if (!rows || rows->isEmpty()) {
        if (m_currentNodeType == kCollectionsMode) {
            item(QStringLiteral("New Folder"), NewFolderAtRoot);
            item(QStringLiteral("New Collection"), NewCollection);
            menu->addSeparator();
            item(QStringLiteral("Sort by Title"), SortCollections);
        } else if (m_currentNodeType == kTagsMode) {
            item(QStringLiteral("New Tag"), NewTagAtRoot);
            item(QStringLiteral("New Tag Group"), NewTagGroup);
            menu->addSeparator();
            item(QStringLiteral("Sort by Name"), SortTagsByName);
            item(QStringLiteral("Sort by Count"), SortTagsByCount);
        } else {
            return nullptr;
        }
    } else if (rows->size() == 1) {
        KPNode* raw = m_view ? m_view->nodeAtRow(rows->front()) : nullptr;
        if (!raw || raw == m_untagNode.get() || raw == m_uncollectionNode.get())
            return nullptr;
        const KPNode::Ptr node = raw->shared_from_this();
        m_view->selectNode(raw);
        switch (node->nodeType()) {
        case T::TagGroupNode:
            item(QStringLiteral("New Tag"), NewTagAtRoot, node);
            menu->addSeparator();
            item(QStringLiteral("Rename"), RenameTag, node);
            item(QStringLiteral("Sort by Name"), SortLevelByName, node);
            item(QStringLiteral("Sort by Count"), SortLevelByCount, node);
            menu->addSeparator();
            item(QStringLiteral("Delete Tag Group"), DeleteTagGroup, node);
            break;
        case T::TagNode:
            item(QStringLiteral("Rename"), RenameTag, node);
            item(QStringLiteral("Remove Tag from All Documents..."), RemoveTagFromAll, node, node->rightNumber() != 0);
            menu->addSeparator();
            item(QStringLiteral("Sort by Name"), SortLevelByName, node);
            item(QStringLiteral("Sort by Count"), SortLevelByCount, node);
            menu->addSeparator();
            item(QStringLiteral("Delete Tag..."), DeleteTag, node);
            item(QStringLiteral("Favorite"), Favorite, node);
            break;
        case T::FolderNode:
            item(QStringLiteral("New Folder"), NewSubFolder, node);
            item(QStringLiteral("Rename Folder"), RenameFolder, node);
            item(QStringLiteral("Sort by Title"), SortFolderLevel, node);
            menu->addSeparator();
            item(QStringLiteral("Delete Folder..."), DeleteFolder, node);
            item(QStringLiteral("Favorite"), Favorite, node);
            break;
        case T::SmartFolderNode:
            item(QStringLiteral("Edit Smart Folder"), EditSmartFolder, node);
            item(QStringLiteral("Duplicate Smart Folder"), DuplicateSmartFolder, node);
            menu->addSeparator();
            item(QStringLiteral("Rename"), RenameSmartFolder, node);
            item(QStringLiteral("Delete Smart Folder"), DeleteSmartFolder, node);
            item(QStringLiteral("Favorite"), Favorite, node);
            break;
        case T::CollectionNode:
            item(QStringLiteral("New Folder"), NewFolderInCollection, node);
            item(QStringLiteral("Rename Collection"), RenameCollection, node);
            item(QStringLiteral("Sort by Title"), SortCollectionLevel, node);
            menu->addSeparator();
            item(QStringLiteral("Delete Collection..."), DeleteCollection, node);
            break;
        default:
            return nullptr;
        }
    } else {
        qsizetype n = 0;
        bool group = false;
        const std::vector<KPNode*> shown = m_view ? m_view->visibleNodes() : std::vector<KPNode*>();
        for (int row : *rows) {
            const KPNode* node = row >= 0 && row < int(shown.size()) ? shown[size_t(row)] : nullptr;
            if (!node)
                continue;
            if (node->nodeType() == T::TagGroupNode)
                group = true;
            else
                ++n;
        }
        const bool several = n >= 2 && !group;
        if (several)
            addItem(*menu, QStringLiteral("New Tag Group with Selection (%1)").arg(n), NewTagGroupWithSelection, {});
        addItem(*menu, QStringLiteral("Merge"), MergeTags, {}, several);
        menu->addSeparator();
        addItem(*menu, QStringLiteral("Delete..."), DeleteSelection, {});
    }
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator())
            connect(action, &QAction::triggered, this, [this, tag = action->data().toInt()] { outlineViewItemMenuClick(tag); });
    }
    return menu.release();
}

void SubSideBarDataSource::sortLevel(const KPNode::Ptr& level, const QString& key)
{
    if (!level)
        return;
    reload([&] {
        level->sortChildren(key);
        updateNodeSort();
    });
}

void SubSideBarDataSource::outlineViewItemMenuClick(int tag)
{
    const KPNode::Ptr selected = selectedNode();
    auto editSelected = [&] {
        if (selected && m_view)
            static_cast<QAbstractItemView*>(m_view.data())->edit(m_model->indexForNode(selected.get()));
    };
    switch (tag) {
    case DeleteFolder:
    case DeleteCollection:
    case DeleteTag:
    case DeleteTagGroup:
        if (selected && m_delegate.onSubSideBarRemoveNode)
            m_delegate.onSubSideBarRemoveNode(selected);
        break;
    case RemoveTagFromAll:
        removeNodeOnly(selected);
        break;
    case RenameFolder:
    case RenameCollection:
    case RenameTag:
    case RenameSmartFolder:
        editSelected();
        break;
    case NewFolderAtRoot:
        addFolderToRoot();
        break;
    case NewCollection:
        addCollection();
        break;
    case SortCollections:
        sortLevel(m_collectionsRoot, KPNode::kSortTitle);
        break;
    case NewSubFolder:
    case NewFolderInCollection:
        addFolder();
        break;
    case SortFolderLevel:
    case SortCollectionLevel:
    case SortLevelByName:
        if (selected)
            sortLevel(selected->parent(), KPNode::kSortTitle);
        break;
    case SortLevelByCount:
        if (selected)
            sortLevel(selected->parent(), KPNode::kSortRightNumber);
        break;
    case SortTagsByName:
        sortLevel(m_tagsRoot, KPNode::kSortTitle);
        break;
    case SortTagsByCount:
        sortLevel(m_tagsRoot, KPNode::kSortRightNumber);
        break;
    case NewTagAtRoot:
        addTag();
        break;
    case NewTagGroup:
        addTagGroup();
        break;
    case NewTagGroupWithSelection:
        addTagGroupFromSelection();
        break;
    case MergeTags:
        mergeSelectedTags();
        break;
    case DeleteSelection:
        if (m_delegate.onSubSideBarRemoveNodes)
            m_delegate.onSubSideBarRemoveNodes(selectedNodes());
        break;
    case EditSmartFolder:
        editSmartFolder(selected);
        break;
    case DeleteSmartFolder:
        deleteSmartFolder(selected);
        break;
    case DuplicateSmartFolder:
        duplicateSmartFolder(selected);
        break;
    case Favorite:
        if (selected && m_delegate.onSubSideBarNodeFavorite)
            m_delegate.onSubSideBarNodeFavorite(selected);
        break;
    default:
        break;
    }
}

void SubSideBarDataSource::duplicateMenuWithDataSource(QMenu* menu,
                                                       const std::function<void(const DBNode&)>& action) const
{
    if (!menu)
        return;
    menu->clear();
    auto iconOf = [&](const QString& name) {
        KPMultiSprite* sprite = m_theme ? m_theme->themeObjectWithName<KPMultiSprite>(name) : nullptr;
        return sprite && sprite->normalSprite() ? QIcon(QPixmap::fromImage(sprite->normalSprite()->image())) : QIcon();
    };
    const QIcon folderIcon = iconOf(QStringLiteral("SubSidebarIcon-Folder"));
    const QIcon collectionIcon = iconOf(QStringLiteral("SubSidebarIcon-Collection"));
    QAction* uncategorized = menu->addAction(folderIcon, m_uncollectionNode->title());
    connect(uncategorized, &QAction::triggered, menu, [action] {
        if (action)
            action(DBNode());
    });
    QAction* separator = menu->addSeparator();
    const std::function<void(const KPNode&, int)> walk = [&](const KPNode& level, int depth) {
        for (const KPNode::Ptr& child : level.children()) {
            if (child->nodeType() == T::SmartFolderNode)
                continue;
            // Indentation by depth, as a leading run of spaces.
            const QString title = QString(depth * 4, QLatin1Char(' ')) + child->title();
            const bool folder = child->nodeType() == T::FolderNode;
            QAction* item = menu->addAction(folder ? folderIcon : collectionIcon, title);
            item->setProperty("indentationLevel", depth);
            item->setData(child->dbNode().ref());
            item->setEnabled(folder);
            if (folder) {
                const DBNode record = child->dbNode();
                connect(item, &QAction::triggered, menu, [action, record] {
                    if (action)
                        action(record);
                });
            }
            walk(*child, depth + 1);
        }
    };
    walk(*m_collectionsRoot, 0);
    if (menu->actions().size() == 2)
        menu->removeAction(separator);
}

void SubSideBarDataSource::onDrawDragging(QPainter& painter) const
{
    if (!m_view)
        return;
    painter.save();
    const QColor fill(198, 208, 222);
    // Only the rows on screen are painted, each found from the one above it.
    const int bottom = m_view->viewport()->height();
    for (QModelIndex i = m_view->indexAt(QPoint(0, 0)); i.isValid(); i = m_view->indexBelow(i)) {
        const QRect frame = m_view->visualRect(i);
        if (frame.top() > bottom)
            break;
        const KPNode* node = m_model->nodeFromIndex(i);
        const int type = node ? node->nodeType() : -1;
        if (type == T::CollectionNode || type == T::FolderNode || type == T::TagNode || type == T::TagGroupNode)
            painter.fillRect(QRect(0, frame.y(), m_view->viewport()->width(), frame.height()), fill);
    }
    painter.restore();
}
