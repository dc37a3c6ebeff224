// Adding, renaming and deleting in the collections and tags side bar, and its smart folders.
#include "SideBar/SubSideBarDataSource.h"

#include "Import/KPFileSysytemItem.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Foundation/TextFolding.h"
#include "Platform/Kit/Alert.h"
#include "Platform/ObjectStore/ManagedObject.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Store/DBSmartFolder.h"
#include "Store/DataBaseEngine.h"

#include <QRegularExpression>
#include <QUuid>

using platform::localizedString;
namespace T = SideBarNodeType;
namespace K = SubSideBarKeys;

namespace {

constexpr auto kCD = platform::FoldOptions::CaseAndDiacriticInsensitive;

// A localised numbered name: its one integer placeholder replaced by number.
QString numberedName(const QString& key, int number)
{
    static const QRegularExpression placeholder(QStringLiteral("%(?:l?d|@|1)"));
    QString format = localizedString(key);
    const auto match = placeholder.match(format);
    if (!match.hasMatch())
        return format + QLatin1Char(' ') + QString::number(number);
    return format.replace(match.capturedStart(), match.capturedLength(), QString::number(number));
}

bool sameLowerCase(const QString& a, const QString& b)
{
    return a.toLower() == b.toLower();
}

// The record of an import's folder on the main context (imports make theirs elsewhere).
DBNode onMainContext(const QVariant& value, const platform::ContextPtr& main)
{
    platform::ManagedObjectPtr object = platform::ManagedObject::fromRef(value);
    if (!object && value.canConvert<platform::ObjectID>() && main)
        object = main->existingObjectWithID(value.value<platform::ObjectID>());
    if (object && main && object->managedObjectContext() != main) {
        if (const auto other = object->managedObjectContext())
            (void)other->obtainPermanentIDsForObjects({object});
        object = main->existingObjectWithID(object->objectID());
    }
    return DBNode(object);
}

QList<const KPNode*> subtreeOf(const KPNode& node)
{
    QList<const KPNode*> nodes{&node};
    for (const KPNode::Ptr& child : node.children())
        nodes += subtreeOf(*child);
    return nodes;
}

} // namespace

// ---- names ----

QString SubSideBarDataSource::uniqueName(const QString& first, const std::function<QString(int)>& numbered,
                                         const std::function<bool(const QString&)>& taken)
{
    if (!taken(first))
        return first;
    for (int i = 2; i < kMaxNumberedNames + 2; ++i) {
        const QString name = numbered(i);
        if (!taken(name))
            return name;
    }
    for (;;) {
        const QString name = first + QLatin1Char(' ') + QUuid::createUuid().toString(QUuid::Id128).left(6);
        if (!taken(name))
            return name;
    }
}

QString SubSideBarDataSource::newSubFolderNameByNode(const KPNode* node) const
{
    const KPNode& parent = node ? *node : *m_collectionsRoot;
    return uniqueName(
        localizedString(QStringLiteral("UntitledFolder")),
        [](int i) { return numberedName(QStringLiteral("AUntitledFolder"), i); },
        [&](const QString& name) {
            return std::any_of(parent.children().begin(), parent.children().end(),
                               [&](const KPNode::Ptr& c) { return sameLowerCase(c->title(), name); });
        });
}

bool SubSideBarDataSource::isTagNameTaken(const QString& name) const
{
    return m_library && m_library->tagNamed(name);
}

bool SubSideBarDataSource::isGroupNameTaken(const QString& name, const KPNode* except) const
{
    auto groups = m_library ? m_library->queryRecordByName(DBTagGroup::entityName(),
                                                          *platform::Predicate::format(QStringLiteral("isTrash == NO")))
                            : platform::Result<QList<platform::ManagedObjectPtr>>();
    for (const DBTagGroup& group : DBRecord::recordsOf<DBTagGroup>(groups ? *groups : QList<platform::ManagedObjectPtr>())) {
        if ((!except || group != except->tagGroup()) && platform::equalsFolded(group.name(), name, kCD))
            return true;
    }
    return false;
}

void SubSideBarDataSource::nameTaken(const QString& name) const
{
    QString message = localizedString(QStringLiteral("The name \"%@\" is already taken. Plase choose a different name."));
    message.replace(QStringLiteral("%@"), name);
    const auto alert = platform::kit::Alert::withMessage(message, localizedString(QStringLiteral("OK")));
    if (m_view)
        alert.beginSheet(m_view->window(), [](int) {});
}

// ---- adding ----

KPNode::Ptr SubSideBarDataSource::parentForNewFolder() const
{
    const KPNode::Ptr selected = selectedNode();
    if (selected && selected != m_uncollectionNode &&
        (selected->nodeType() == T::FolderNode || selected->nodeType() == T::CollectionNode))
        return selected;
    return m_collectionsRoot;
}

void SubSideBarDataSource::selectAndEdit(const KPNode::Ptr& node, const KPNode::Ptr& parent)
{
    if (!m_view)
        return;
    m_view->expandNode(parent.get());
    m_view->selectNode(node.get());
    const QModelIndex index = m_model->indexForNode(node.get());
    if (index.isValid())
        static_cast<QAbstractItemView*>(m_view.data())->edit(index);
}

KPNode::Ptr SubSideBarDataSource::insertCollectionNode(const DBNode& record, const KPNode::Ptr& parent)
{
    KPNode::Ptr node = KPNode::initWithDBNode(record);
    decorate(*node);
    reload([&] {
        parent->addChild(node);
        recursiveCreateDataByNode(*node);
        decorateTree(*node);
        updateNodeSort();
    });
    return node;
}

// A new collection-tree record under parent, holding files, shown through insert.
static KPNode::Ptr addCollectionRecord(DataBaseEngine* library, const KPNode::Ptr& parent,
                                       const QString& title, int type, const QList<DBFileInfo>& files,
                                       const std::function<KPNode::Ptr(const DBNode&)>& insert)
{
    const platform::ContextPtr context = library ? library->context() : nullptr;
    if (!context)
        return nullptr;
    DBNode record = library->createDBNode(context);
    record.setType(type);
    record.setParent(parent->dbNode());
    record.setTitle(title);
    for (DBFileInfo file : files)
        file.setNode(record);
    return insert(record);
}

KPNode::Ptr SubSideBarDataSource::addFolderByNode(const KPNode::Ptr& parent, const QList<DBFileInfo>& files)
{
    if (!parent)
        return nullptr;
    KPNode::Ptr node = addCollectionRecord(m_library, parent, newSubFolderNameByNode(parent.get()), DBNode::Folder,
                                           files, [&](const DBNode& r) { return insertCollectionNode(r, parent); });
    if (!node)
        return nullptr;
    save();
    selectAndEdit(node, parent);
    post(RefreshItemCountNotification);
    return node;
}

KPNode::Ptr SubSideBarDataSource::addFolder()
{
    const KPNode::Ptr parent = parentForNewFolder();
    KPNode::Ptr node = addCollectionRecord(m_library, parent, newSubFolderNameByNode(parent.get()), DBNode::Folder,
                                           {}, [&](const DBNode& r) { return insertCollectionNode(r, parent); });
    if (node) {
        save();
        selectAndEdit(node, parent);
    }
    return node;
}

KPNode::Ptr SubSideBarDataSource::addFolderToRoot()
{
    KPNode::Ptr node = addCollectionRecord(m_library, m_collectionsRoot, newSubFolderNameByNode(nullptr),
                                           DBNode::Folder, {},
                                           [&](const DBNode& r) { return insertCollectionNode(r, m_collectionsRoot); });
    if (node) {
        save();
        selectAndEdit(node, m_collectionsRoot);
    }
    return node;
}

KPNode::Ptr SubSideBarDataSource::addFolderFromSelection(const QList<DBFileInfo>& files)
{
    return addFolderByNode(m_collectionsRoot, files);
}

KPNode::Ptr SubSideBarDataSource::addCollection()
{
    const QString name = uniqueName(
        localizedString(QStringLiteral("UntitledCollection")),
        [](int i) { return numberedName(QStringLiteral("AUntitledCollection"), i); },
        [&](const QString& n) {
            return std::any_of(m_collectionsRoot->children().begin(), m_collectionsRoot->children().end(),
                               [&](const KPNode::Ptr& c) { return sameLowerCase(c->title(), n); });
        });
    KPNode::Ptr node = addCollectionRecord(m_library, m_collectionsRoot, name, DBNode::Collection, {},
                                           [&](const DBNode& r) { return insertCollectionNode(r, m_collectionsRoot); });
    if (node) {
        save();
        selectAndEdit(node, m_collectionsRoot);
    }
    return node;
}

KPNode::Ptr SubSideBarDataSource::addTag()
{
    const platform::ContextPtr context = m_library ? m_library->context() : nullptr;
    if (!context)
        return nullptr;
    const KPNode::Ptr selected = selectedNode();
    const KPNode::Ptr parent = selected && selected->nodeType() == T::TagGroupNode ? selected : m_tagsRoot;
    const QString name = uniqueName(
        localizedString(QStringLiteral("untitled tag")),
        [](int i) { return numberedName(QStringLiteral("untitled tag %d"), i); },
        [&](const QString& n) {
            for (const KPNode::Ptr& c : m_tagsRoot->children()) {
                if (c->nodeType() == T::TagNode && platform::equalsFolded(c->title(), n, kCD))
                    return true;
                for (const KPNode::Ptr& t : c->children())
                    if (platform::equalsFolded(t->title(), n, kCD))
                        return true;
            }
            return false;
        });
    DBTag tag = m_library->createTagByContext(name, context);
    if (parent != m_tagsRoot)
        tag.setGroup(parent->tagGroup());
    save();
    return showNewTagNode(name, T::TagNode, tag.ref(), parent);
}

KPNode::Ptr SubSideBarDataSource::showNewTagNode(const QString& title, int type, const QVariant& record,
                                                 const KPNode::Ptr& parent)
{
    KPNode::Ptr node = KPNode::initWithTitle(title, type);
    node->setData(record);
    decorate(*node);
    reload([&] {
        parent->addChild(node);
        if (m_currentNodeType == kTagsMode && !m_rootNode->children().contains(m_tagsRoot))
            m_rootNode->addChild(m_tagsRoot);
        updateNodeSort();
    });
    selectAndEdit(node, parent);
    return node;
}

static QString uniqueGroupName(const KPNode& tagsRoot)
{
    return SubSideBarDataSource::uniqueName(
        localizedString(QStringLiteral("untitled group")),
        [](int i) { return numberedName(QStringLiteral("untitled group %d"), i); },
        [&](const QString& n) {
            return std::any_of(tagsRoot.children().begin(), tagsRoot.children().end(), [&](const KPNode::Ptr& c) {
                return c->nodeType() == T::TagGroupNode && platform::equalsFolded(c->title(), n, kCD);
            });
        });
}

KPNode::Ptr SubSideBarDataSource::addTagGroup()
{
    const platform::ContextPtr context = m_library ? m_library->context() : nullptr;
    if (!context)
        return nullptr;
    const QString name = uniqueGroupName(*m_tagsRoot);
    const DBTagGroup group = m_library->createTagGroup(name, context);
    save();
    return showNewTagNode(name, T::TagGroupNode, group.ref(), m_tagsRoot);
}

KPNode::Ptr SubSideBarDataSource::addTagGroupFromSelection()
{
    const platform::ContextPtr context = m_library ? m_library->context() : nullptr;
    if (!context)
        return nullptr;
    QList<KPNode::Ptr> taken;
    for (const KPNode::Ptr& node : selectedNodes()) {
        if (node->nodeType() == T::TagNode && node != m_untagNode)
            taken.append(node);
    }
    const QString name = uniqueGroupName(*m_tagsRoot);
    const DBTagGroup group = m_library->createTagGroup(name, context);
    KPNode::Ptr groupNode = KPNode::initWithTitle(name, T::TagGroupNode);
    groupNode->setData(group.ref());
    decorate(*groupNode);
    reload([&] {
        m_tagsRoot->addChild(groupNode);
        for (const KPNode::Ptr& node : taken) {
            groupNode->addChild(node);
            if (DBTag tag = node->tag())
                tag.setGroup(group);
        }
        updateNodeSort();
    });
    save();
    if (m_view)
        m_view->expandNode(groupNode.get());
    selectAndEdit(groupNode, m_tagsRoot);
    return groupNode;
}

KPNode::Ptr SubSideBarDataSource::parentNodeOfRecord(const DBNode& parent) const
{
    if (!parent)
        return m_collectionsRoot;
    const std::function<KPNode::Ptr(const KPNode::Ptr&)> find = [&](const KPNode::Ptr& node) -> KPNode::Ptr {
        if (node->dbNode() == parent)
            return node;
        for (const KPNode::Ptr& child : node->children())
            if (KPNode::Ptr found = find(child))
                return found;
        return nullptr;
    };
    const KPNode::Ptr found = find(m_collectionsRoot);
    return found ? found : m_collectionsRoot;
}

KPNode::Ptr SubSideBarDataSource::newFolderFromDBNode(const DBNode& node, const DBNode& parent)
{
    const platform::ContextPtr main = m_library ? m_library->context() : nullptr;
    const DBNode record = onMainContext(node.ref(), main);
    if (!record)
        return nullptr;
    const KPNode::Ptr parentNode = parentNodeOfRecord(onMainContext(parent.ref(), main));
    KPNode::Ptr created = insertCollectionNode(record, parentNode);
    selectAndEdit(created, parentNode);
    return created;
}

KPNode::Ptr SubSideBarDataSource::newFolderFromFileSystemItem(const KPFileSysytemItem& item, const DBNode& parent)
{
    const platform::ContextPtr main = m_library ? m_library->context() : nullptr;
    const KPNode::Ptr parentNode = parentNodeOfRecord(onMainContext(parent.ref(), main));
    QList<DBNode> records;
    if (!item.items().isEmpty()) {
        records.append(onMainContext(item.dataObj(), main));
    } else {
        for (const auto& child : item.children())
            records.append(onMainContext(child->dataObj(), main));
    }
    KPNode::Ptr last;
    reload([&] {
        for (const DBNode& record : records) {
            if (!record)
                continue;
            last = KPNode::initWithDBNode(record);
            parentNode->addChild(last);
            recursiveCreateDataByNode(*last);
            decorateTree(*last);
        }
        updateNodeSort();
    });
    if (m_view)
        m_view->expandNode(parentNode.get());
    return item.items().isEmpty() ? parentNode : last;
}

// ---- renaming ----

void SubSideBarDataSource::commitTitle(KPNode& node, const QString& text)
{
    const QString title = text.trimmed();
    if (title.isEmpty() || title == node.title())
        return;
    const KPNode::Ptr keep = node.shared_from_this();
    const KPNode::Ptr parent = node.parent();
    auto siblingTaken = [&](int type) {
        if (!parent)
            return false;
        return std::any_of(parent->children().begin(), parent->children().end(), [&](const KPNode::Ptr& c) {
            return c.get() != &node && c->nodeType() == type && sameLowerCase(c->title(), title);
        });
    };
    auto renameRecord = [&](bool favorite) {
        DBNode record = node.dbNode();
        node.setTitle(title);
        record.setTitle(title);
        save();
        if (favorite)
            post(FavoriteNodeChangeNotification,
                 QVariantMap{{FavoriteChangeInfo::Type, FavoriteChangeInfo::Rename}, {FavoriteChangeInfo::URI, record.URIString()}});
    };
    switch (node.nodeType()) {
    case T::FolderNode:
        if (!node.dbNode())
            return;
        if (siblingTaken(T::FolderNode))
            return nameTaken(title);
        return renameRecord(true);
    case T::CollectionNode:
        if (!node.dbNode())
            return;
        if (siblingTaken(T::CollectionNode))
            return nameTaken(title);
        return renameRecord(false);
    case T::SmartFolderNode:
        if (node.dbNode())
            renameRecord(true);
        return;
    case T::TagNode: {
        DBTag tag = node.tag();
        if (!tag)
            return;
        const DBTag other = platform::equalsFolded(title, node.title(), kCD) ? DBTag() : m_library->tagNamed(title);
        if (other && other != tag)
            return nameTaken(title);
        node.setTitle(title);
        tag.setName(title);
        save();
        if (m_delegate.onSubSideBarNodeRenameChange)
            m_delegate.onSubSideBarNodeRenameChange(keep);
        post(FavoriteNodeChangeNotification,
             QVariantMap{{FavoriteChangeInfo::Type, FavoriteChangeInfo::Rename}, {FavoriteChangeInfo::URI, tag.URIString()}});
        return;
    }
    case T::TagGroupNode: {
        DBTagGroup group = node.tagGroup();
        if (!group)
            return;
        if (isGroupNameTaken(title, &node))
            return nameTaken(title);
        node.setTitle(title);
        group.setName(title);
        save();
        return;
    }
    default:
        return;
    }
}

// ---- deleting ----

void SubSideBarDataSource::untagDocuments(const DBTag& tag)
{
    DBTag t = tag;
    for (DBFileInfo file : tag.fileInfos()) {
        file.removeTagsObject(t);
        DBHelper::writeMetaDataInfoByTags(file);
    }
}

void SubSideBarDataSource::trashTag(const DBTag& tag, bool notifyFavorites)
{
    DBTag t = tag;
    t.setIsTrash(true);
    untagDocuments(tag);
    if (notifyFavorites)
        post(FavoriteNodeChangeNotification,
             QVariantMap{{FavoriteChangeInfo::Type, FavoriteChangeInfo::Remove}, {FavoriteChangeInfo::URI, tag.URIString()}});
}

void SubSideBarDataSource::trashCollectionSubtree(const KPNode& node)
{
    for (const KPNode* n : subtreeOf(node)) {
        DBNode record = n->dbNode();
        if (!record)
            continue;
        record.setIsTrash(true);
        if (n->nodeType() == T::FolderNode) {
            for (DBFileInfo file : record.files())
                file.setIsTrash(true);
        }
        if (n->nodeType() == T::FolderNode || n->nodeType() == T::SmartFolderNode)
            post(FavoriteNodeChangeNotification,
                 QVariantMap{{FavoriteChangeInfo::Type, FavoriteChangeInfo::Remove}, {FavoriteChangeInfo::URI, record.URIString()}});
    }
}

void SubSideBarDataSource::moveSelectionAfterRemoval(int oldRow)
{
    const int row = oldRow - 1;
    selectRow(row <= 1 ? 0 : row);
}

void SubSideBarDataSource::removeNode(const KPNode::Ptr& node)
{
    if (!node)
        return;
    const int row = m_view ? m_view->rowForNode(node.get()) : -1;
    const int type = node->nodeType();
    bool tags = false;
    if (type == T::FolderNode || type == T::CollectionNode || type == T::SmartFolderNode) {
        trashCollectionSubtree(*node);
    } else if (type == T::TagNode && node->tag()) {
        trashTag(node->tag(), true);
        tags = true;
    } else if (type == T::TagGroupNode && node->tagGroup()) {
        DBTagGroup group = node->tagGroup();
        group.setIsTrash(true);
        for (const DBTag& tag : group.tags())
            trashTag(tag, true);
        tags = true;
    }
    save();
    reload([&] { node->removeFromParentNode(); });
    moveSelectionAfterRemoval(row);
    post(RefreshItemCountNotification, tags ? QVariant(K::RefreshTags) : QVariant());
}

void SubSideBarDataSource::removeNodes(const QList<KPNode::Ptr>& nodes)
{
    if (nodes.isEmpty())
        return;
    QList<KPNode::Ptr> removed;
    for (const KPNode::Ptr& node : nodes) {
        if (node->nodeType() == T::TagNode && node->tag()) {
            trashTag(node->tag(), true);
        } else if (node->nodeType() == T::TagGroupNode && node->tagGroup()) {
            DBTagGroup group = node->tagGroup();
            group.setIsTrash(true);
            for (const DBTag& tag : group.tags())
                trashTag(tag, true);
        } else {
            continue;
        }
        removed.append(node);
    }
    save();
    reload([&] {
        for (const KPNode::Ptr& node : removed)
            node->removeFromParentNode();
    });
    selectRow(0);
    post(RefreshItemCountNotification, K::RefreshTags);
}

void SubSideBarDataSource::removeNodeOnly(const KPNode::Ptr& node)
{
    if (!node || node->nodeType() != T::TagNode || !node->tag())
        return;
    const auto alert = platform::kit::Alert::withMessage(
        localizedString(QStringLiteral("Do you want to remove this tag from all documents?")),
        localizedString(QStringLiteral("Remove")), localizedString(QStringLiteral("Cancel")), {},
        localizedString(QStringLiteral("All the tagged documents will still remain in Folivo.")));
    std::weak_ptr<int> alive = m_alive;
    auto done = [this, alive, node](int code) {
        if (alive.expired() || code != platform::kit::Alert::kDefaultReturn)
            return;
        untagDocuments(node->tag());
        save();
        m_untagNode->setRightNumber(m_untagNode->rightNumber() + node->rightNumber());
        node->setRightNumber(0);
        reload();
        if (m_delegate.onSubSideBarNodeChange)
            m_delegate.onSubSideBarNodeChange(node);
        // Documents that keep other tags are not untagged: the recount puts Untagged right.
        post(RefreshItemCountNotification, K::RefreshTags);
    };
    if (m_view)
        alert.beginSheet(m_view->window(), done);
}

// ---- smart folders ----

KPNode::Ptr SubSideBarDataSource::newSmartFolder(const QString& title, const QByteArray& rules)
{
    const platform::ContextPtr context = m_library ? m_library->context() : nullptr;
    if (!context)
        return nullptr;
    const KPNode::Ptr parent = parentForNewFolder();
    DBSmartFolder record = DBRecord::insertNewObject<DBSmartFolder>(context);
    record.setNodeID(platform::stringHash(record.URIString()));
    record.setType(DBNode::SmartFolder);
    record.setParent(parent->dbNode());
    record.setTitle(title);
    record.setData(rules);
    save();
    KPNode::Ptr node = KPNode::initWithDBNode(record);
    decorate(*node);
    reload([&] { parent->addChild(node); });
    if (m_view) {
        m_view->expandNode(parent.get());
        m_view->selectNode(node.get());
    }
    return node;
}

void SubSideBarDataSource::editSmartFolder(const KPNode::Ptr& node)
{
    if (!node || node->nodeType() != T::SmartFolderNode || !m_smartFolderEditor)
        return;
    std::weak_ptr<int> alive = m_alive;
    m_smartFolderEditor(m_view ? m_view->window() : nullptr, node->title(), DBSmartFolder(node->dbNode().object()).data(),
                        [this, alive, node](int code, const QByteArray& rules, const QString& title) {
                            if (alive.expired() || code != 1)
                                return;
                            DBSmartFolder record(node->dbNode().object());
                            const bool renamed = node->title() != title;
                            node->setTitle(title);
                            record.setData(rules);
                            record.setTitle(title);
                            save();
                            reload();
                            if (renamed)
                                post(FavoriteNodeChangeNotification,
                                     QVariantMap{{FavoriteChangeInfo::Type, FavoriteChangeInfo::Rename},
                                                 {FavoriteChangeInfo::URI, record.URIString()}});
                            reloadSelectNode();
                        });
}

void SubSideBarDataSource::duplicateSmartFolder(const KPNode::Ptr& node)
{
    if (node && node->nodeType() == T::SmartFolderNode)
        newSmartFolder(node->title(), DBSmartFolder(node->dbNode().object()).data());
}

void SubSideBarDataSource::deleteSmartFolder(const KPNode::Ptr& node)
{
    if (!node || node->nodeType() != T::SmartFolderNode)
        return;
    QString message = localizedString(QStringLiteral("Do you want to delete the Smart Folder \"%@\"?"));
    message.replace(QStringLiteral("%@"), node->title());
    const auto alert = platform::kit::Alert::withMessage(
        message, localizedString(QStringLiteral("Delete")), localizedString(QStringLiteral("Cancel")), {},
        localizedString(QStringLiteral("Deleting a Smart Folder removes it but does not delete its contents. This action cannot be undo.")));
    std::weak_ptr<int> alive = m_alive;
    auto done = [this, alive, node](int code) {
        if (alive.expired() || code != platform::kit::Alert::kDefaultReturn)
            return;
        trashCollectionSubtree(*node);
        save();
        reload([&] { node->removeFromParentNode(); });
    };
    if (m_view)
        alert.beginSheet(m_view->window(), done);
}
