#include "SideBar/SideBarFavorites.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/Workspace/Workspace.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DBFavorite.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QMenu>

using platform::localizedString;
namespace T = SideBarNodeType;

namespace {

std::optional<platform::Predicate> where(const QString& format, const QVariantList& arguments = {})
{
    auto predicate = platform::Predicate::format(format, arguments);
    if (!predicate)
        return std::nullopt;
    return *predicate;
}

bool isFavoriteType(int type)
{
    return type == T::TagNode || type == T::FolderNode || type == T::SmartFolderNode;
}

} // namespace

SideBarFavorites::SideBarFavorites(SideBarContext& context)
    : m_ctx(context)
{
    m_changeToken = platform::NotificationCenter::defaultCenter().addObserver(
        FavoriteNodeChangeNotification,
        [this](const platform::Notification& note) { onFavoriteNodeChange(note.object.toMap()); });
}

SideBarFavorites::~SideBarFavorites() = default;

QString SideBarFavorites::objectURIOf(const KPNode& node)
{
    switch (node.nodeType()) {
    case T::TagNode:
        return node.tag().URIString();
    case T::FolderNode:
    case T::SmartFolderNode:
    case T::CollectionNode:
        return node.dbNode().URIString();
    default:
        return {};
    }
}

void SideBarFavorites::save() const
{
    if (const platform::ContextPtr context = m_ctx.storeContext())
        KPContextHelper::save(context);
}

// ---- loading ----

void SideBarFavorites::loadFavorites(const platform::ContextPtr& context)
{
    DataBaseEngine* library = m_ctx.services.library;
    const auto live = where(QStringLiteral("isNeedDelete == NO"));
    if (!library || !context || !live)
        return;
    const auto found = library->queryRecordByName(DBFavorite::entityName(), *live,
                                                  platform::SortDescriptor(QStringLiteral("sortID")), context);
    if (!found)
        return;
    const platform::CoordinatorPtr& coordinator = context->persistentStoreCoordinator();
    for (const DBFavorite& favorite : DBRecord::recordsOf<DBFavorite>(*found)) {
        const platform::ObjectID id = coordinator ? coordinator->managedObjectIDForURIRepresentation(favorite.dataURI())
                                                  : platform::ObjectID();
        const platform::ManagedObjectPtr object = id.isNull() ? nullptr : context->existingObjectWithID(id);
        // Gone or trashed: not shown, and the favourite is kept.
        if (!object || object->valueForKey(QStringLiteral("isTrash")).toBool())
            continue;
        KPNode::Ptr node;
        if (favorite.dataType() == DBFavorite::kDataTypeTag) {
            const DBTag tag(object);
            if (!tag)
                continue;
            node = KPNode::initWithTitle(tag.name(), T::TagNode);
            node->setData(tag.ref());
        } else if (favorite.dataType() == DBFavorite::kDataTypeNode) {
            const DBNode dbNode(object);
            if (!dbNode)
                continue;
            node = KPNode::initWithDBNode(dbNode);
        } else {
            continue;
        }
        m_ctx.decorate(*node);
        m_ctx.favoritesNode->addChild(node);
    }
}

// ---- titles ----

bool SideBarFavorites::shouldEditNode(const KPNode& node) const
{
    return T::isTitleEditable(node.nodeType());
}

bool SideBarFavorites::isFolderTitleTaken(const KPNode& node, const QString& title) const
{
    // The folders beside it in the collection tree, itself included.
    const DBNode parent = node.dbNode().parent();
    QList<DBNode> siblings;
    if (parent) {
        siblings = parent.children();
    } else if (DataBaseEngine* library = m_ctx.services.library) {
        if (const auto top = where(QStringLiteral("parent == nil && type == %d"), {int(DBNode::Folder)})) {
            if (auto found = library->queryRecordByName(DBNode::entityName(), *top, std::nullopt, m_ctx.storeContext()))
                siblings = DBRecord::recordsOf<DBNode>(*found);
        }
    }
    for (const DBNode& sibling : siblings) {
        if (sibling.type() == DBNode::Folder && !sibling.isTrash() &&
            sibling.title().compare(title, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void SideBarFavorites::showNameTaken(const QString& title) const
{
    QString message = localizedString(QStringLiteral("The name \"%@\" is already taken. Plase choose a different name."));
    message.replace(QStringLiteral("%@"), title);
    const auto alert = platform::kit::Alert::withMessage(message, localizedString(QStringLiteral("OK")));
    if (m_ctx.view)
        alert.beginSheet(m_ctx.view->window(), [](int) {});
}

void SideBarFavorites::commitTitle(KPNode& node, const QString& text)
{
    const QString title = text.trimmed();
    if (title.isEmpty() || title == node.title())
        return;
    DBNode dbNode = node.dbNode();
    switch (node.nodeType()) {
    case T::FolderNode:
        if (!dbNode)
            return;
        if (isFolderTitleTaken(node, title)) {
            showNameTaken(title);
            return;
        }
        break;
    case T::SmartFolderNode:
    case T::CollectionNode:
        if (!dbNode)
            return;
        break;
    default:
        return;
    }
    node.setTitle(title);
    dbNode.setTitle(title);
    save();
    // The collections side bar and other favourites of the object take the new title.
    platform::NotificationCenter::defaultCenter().post(
        FavoriteNodeChangeNotification,
        QVariantMap{{FavoriteChangeInfo::Type, FavoriteChangeInfo::Rename}, {FavoriteChangeInfo::URI, dbNode.URIString()}});
}

// ---- context menu ----

QMenu* SideBarFavorites::outlineViewMenuByIndexSet(const std::optional<QList<int>>& rows)
{
    if (!rows || rows->isEmpty() || !m_ctx.view)
        return nullptr;
    const KPNode* node = m_ctx.view->nodeAtRow(rows->first());
    if (!node)
        return nullptr;
    QList<std::pair<QString, int>> items;
    switch (node->nodeType()) {
    case T::TrashNode:
        items = {{QStringLiteral("Empty Trash"), kEmptyTrashTag}};
        break;
    case T::TagNode:
    case T::FolderNode:
    case T::SmartFolderNode:
        items = {{QStringLiteral("Unfavorite"), kUnfavoriteTag}};
        break;
    case T::IndexFolderNode:
        items = {{QStringLiteral("Reveal in Finder"), kRevealTag}, {QString(), 0}, {QStringLiteral("Remove..."), kRemoveTag}};
        break;
    case T::SubIndexFolderNode:
        items = {{QStringLiteral("Reveal in Finder"), kRevealTag}};
        break;
    default:
        return nullptr;
    }
    auto* menu = new QMenu;
    for (const auto& [key, tag] : items) {
        if (key.isEmpty()) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(localizedString(key));
        action->setData(tag);
        // The menu may outlive the side bar that made it.
        QObject::connect(action, &QAction::triggered, action, [this, tag = tag, alive = std::weak_ptr<int>(m_alive)] {
            if (alive.lock())
                outlineViewItemMenuClick(tag);
        });
    }
    return menu;
}

void SideBarFavorites::outlineViewItemMenuClick(int tag)
{
    const KPNode::Ptr node = m_ctx.selectedNode();
    if (!node)
        return;
    switch (tag) {
    case kEmptyTrashTag:
        platform::kit::CommandDispatcher::shared().perform(MenuEmptyTrashCommand, tag);
        break;
    case kRevealTag: {
        const QString path = node->nodeType() == T::IndexFolderNode      ? node->indexFolder().path()
                             : node->nodeType() == T::SubIndexFolderNode ? node->dataString()
                                                                         : QString();
        if (path.isEmpty() || !m_ctx.services.workspace)
            break;
        if (const auto shown = m_ctx.services.workspace->selectFile(path); !shown)
            KPLogLogMessage(QStringLiteral("Side bar: cannot show %1: %2").arg(path, shown.error().message));
        break;
    }
    case kRemoveTag: {
        if (node->nodeType() != T::IndexFolderNode)
            break;
        const QString path = node->indexFolder().path();
        if (!m_ctx.services.removeDocumentSource) {
            KPLogLogMessage(QStringLiteral("Side bar: no way to remove the source %1").arg(path));
            break;
        }
        // The removal has written the library change when it answers 1; the side bar then takes
        // the node away on the notification.
        m_ctx.services.removeDocumentSource(path, node->title(), m_ctx.view ? m_ctx.view->window() : nullptr,
                                            [path](int result) {
                                                if (result == 1)
                                                    platform::NotificationCenter::defaultCenter().post(
                                                        RemoveIndexFolderNotification, path);
                                            });
        break;
    }
    case kUnfavoriteTag:
        unfavorite(node);
        break;
    default:
        break;
    }
}

// ---- favourites ----

void SideBarFavorites::unfavorite(const KPNode::Ptr& node)
{
    if (!isFavoriteType(node->nodeType()))
        return;
    const QString uri = objectURIOf(*node);
    const platform::ContextPtr context = m_ctx.storeContext();
    if (uri.isEmpty() || !context || !m_ctx.services.library)
        return;
    // Exactly this object's favourites: a URI is no pattern.
    if (const auto match = where(QStringLiteral("isNeedDelete == NO && dataURI == %@"), {uri})) {
        if (auto found = m_ctx.services.library->queryRecordByName(DBFavorite::entityName(), *match, std::nullopt, context)) {
            for (DBFavorite favorite : DBRecord::recordsOf<DBFavorite>(*found))
                favorite.setIsNeedDelete(true);
            save();
        }
    }
    // Every copy of it goes, since none of its favourites is left.
    QList<KPNode::Ptr> copies;
    for (const KPNode::Ptr& child : m_ctx.favoritesNode->children()) {
        if (objectURIOf(*child) == uri)
            copies.append(child);
    }
    removeFavorites(copies);
}

void SideBarFavorites::removeFavorites(const QList<KPNode::Ptr>& nodes)
{
    KPNode& favorites = *m_ctx.favoritesNode;
    int left = int(favorites.children().size());
    for (const KPNode::Ptr& node : nodes)
        left -= favorites.indexOfChild(node.get()) >= 0 ? 1 : 0;
    if (left == 0) {
        m_ctx.updateRootNodeStatus([&] {
            for (const KPNode::Ptr& node : nodes)
                favorites.removeChild(node.get());
        });
        return;
    }
    for (const KPNode::Ptr& node : nodes)
        m_ctx.model->removeChild(favorites, node.get());
}

void SideBarFavorites::favoriteNode(const KPNode::Ptr& node)
{
    if (!node || !isFavoriteType(node->nodeType()))
        return;
    const bool isTag = node->nodeType() == T::TagNode;
    const DBRecord object = isTag ? DBRecord(node->tag()) : DBRecord(node->dbNode());
    const platform::ContextPtr context = m_ctx.storeContext();
    if (!object || !context)
        return;
    // A URI kept in the store must be the record's lasting one.
    (void)context->obtainPermanentIDsForObjects({object.object()});
    DBFavorite favorite = DBRecord::insertNewObject<DBFavorite>(context);
    favorite.setDataType(isTag ? DBFavorite::kDataTypeTag : DBFavorite::kDataTypeNode);
    favorite.setDataURI(object.URIString());
    save();

    KPNode::Ptr copy;
    if (isTag) {
        copy = KPNode::initWithTitle(node->title(), T::TagNode);
        copy->setData(node->data());
    } else {
        copy = KPNode::initWithDBNode(node->dbNode());
    }
    copy->setRightNumber(node->rightNumber());
    m_ctx.decorate(*copy);
    m_ctx.updateRootNodeStatus([&] { m_ctx.favoritesNode->addChild(copy); });
    if (m_ctx.view) {
        m_ctx.view->expandNode(m_ctx.favoritesNode.get());
        m_ctx.view->selectNode(copy.get());
    }
}

void SideBarFavorites::refreshFavoriteByNode(const KPNode* node)
{
    if (!node || !m_ctx.favoritesNode->hasChildren())
        return;
    const int type = node->nodeType();
    if ((type != T::TagNode || !node->tag()) && (type != T::FolderNode || !node->dbNode()))
        return;
    const QString uri = objectURIOf(*node);
    for (const KPNode::Ptr& child : m_ctx.favoritesNode->children()) {
        if (child->nodeType() == type && objectURIOf(*child) == uri) {
            child->setRightNumber(node->rightNumber());
            m_ctx.reloadNode(child.get());
            return;
        }
    }
}

void SideBarFavorites::onFavoriteNodeChange(const QVariantMap& info)
{
    const QString uri = info.value(FavoriteChangeInfo::URI).toString();
    if (uri.isEmpty())
        return;
    QList<KPNode::Ptr> matches;
    for (const KPNode::Ptr& child : m_ctx.favoritesNode->children()) {
        if (isFavoriteType(child->nodeType()) && objectURIOf(*child) == uri)
            matches.append(child);
    }
    if (matches.isEmpty())
        return;
    const QString type = info.value(FavoriteChangeInfo::Type).toString();
    if (type == FavoriteChangeInfo::Rename) {
        for (const KPNode::Ptr& match : std::as_const(matches)) {
            match->setTitle(match->nodeType() == T::TagNode ? match->tag().name() : match->dbNode().title());
            m_ctx.reloadNode(match.get());
        }
    } else if (type == FavoriteChangeInfo::Remove) {
        removeFavorites(matches);
    }
}
