#include "SideBar/SubSideBarDataSource.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/ObjectStore/ManagedObject.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarImageCell.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPThemeManager.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QItemSelectionModel>
#include <QHash>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSet>

using platform::localizedString;
namespace T = SideBarNodeType;
namespace K = SubSideBarKeys;

namespace {

const QString kGroup = QStringLiteral("SubSidebar");

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

QString uriOf(const KPNode& node)
{
    switch (node.nodeType()) {
    case T::FolderNode:
    case T::CollectionNode:
        return node.dbNode().URIString();
    case T::TagNode:
        return node.tag().URIString();
    case T::TagGroupNode:
        return node.tagGroup().URIString();
    default:
        return {};
    }
}

// Any row standing for the store record: smart folders too, whose rows the selection restore
// deliberately never finds through uriOf.
KPNode::Ptr nodeOfRecord(const KPNode::Ptr& start, const QString& uri)
{
    if (!start || uri.isEmpty())
        return nullptr;
    if (start->dbNode() && start->dbNode().URIString() == uri)
        return start;
    for (const KPNode::Ptr& child : start->children())
        if (KPNode::Ptr found = nodeOfRecord(child, uri))
            return found;
    return nullptr;
}

// The record a row selection is remembered by: a smart folder's too, although it is never
// found again (the collection tree restores only folders and collections).
QString selectionURIOf(const KPNode& node)
{
    if (node.nodeType() == T::SmartFolderNode)
        return node.dbNode().URIString();
    return uriOf(node);
}

KPNode::Ptr tagNodeFor(const DBTag& tag)
{
    KPNode::Ptr node = KPNode::initWithTitle(tag.name(), T::TagNode);
    node->setData(tag.ref());
    return node;
}

// Selections become what proposeSelection allows, whoever asks for them; a reload's own
// restoring of the selection passes unchanged.
class ProposalSelectionModel final : public QItemSelectionModel {
public:
    ProposalSelectionModel(KPNodeTreeModel* model, KPSideBarOutlineView* view)
        : QItemSelectionModel(model, view), m_nodes(model), m_view(view)
    {
    }
    using QItemSelectionModel::select;
    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override
    {
        if (!m_view || m_nodes->isChangingStructure() || m_view->selectionMode() != QAbstractItemView::ExtendedSelection) {
            m_inRange = false;
            QItemSelectionModel::select(selection, command);
            return;
        }
        // Rows and nodes are mapped once per change, so a large selection costs one walk.
        const std::vector<KPNode*> nodes = m_view->visibleNodes();
        QHash<const KPNode*, int> rowOf;
        rowOf.reserve(int(nodes.size()));
        for (int row = 0; row < int(nodes.size()); ++row)
            rowOf.insert(nodes[row], row);
        const QList<int> current = m_view->selectedRows();
        // A Shift-range replaces the range it extends, so it grows and shrinks against the
        // selection made before the range began.
        if (command.testFlag(Current)) {
            if (!m_inRange) {
                m_rangeBase.clear();
                for (int row : current)
                    m_rangeBase.append(nodes[row]->weak_from_this());
                m_inRange = true;
            }
        } else {
            m_inRange = false;
        }
        QList<int> proposed;
        if (!command.testFlag(Clear)) {
            if (m_inRange) {
                for (const auto& weak : m_rangeBase) {
                    const KPNode::Ptr node = weak.lock();
                    if (const int row = node ? rowOf.value(node.get(), -1) : -1; row >= 0)
                        proposed.append(row);
                }
            } else {
                proposed = current;
            }
        }
        QSet<int> has(proposed.begin(), proposed.end());
        for (const QModelIndex& index : selection.indexes()) {
            const int row = rowOf.value(m_nodes->nodeFromIndex(index), -1);
            if (row < 0)
                continue;
            if (command.testFlag(Toggle) ? has.contains(row) : command.testFlag(Deselect))
                has.remove(row);
            else if (command.testFlag(Toggle) || command.testFlag(Select))
                has.insert(row);
        }
        proposed = QList<int>(has.begin(), has.end());
        std::sort(proposed.begin(), proposed.end());
        const QList<int> rows = SubSideBarDataSource::proposeSelection(current, proposed, [&nodes](int row) {
            const KPNode* node = row >= 0 && row < int(nodes.size()) ? nodes[row] : nullptr;
            return node && node->nodeType() != T::SectionNode;
        });
        const QList<QModelIndex> shown = m_view->visibleIndexes();
        QList<QModelIndex> chosen;
        chosen.reserve(rows.size());
        for (int row : rows) {
            if (row >= 0 && row < shown.size())
                chosen.append(shown[row]);
        }
        QItemSelectionModel::select(KPNodeTreeModel::rangesOf(chosen), ClearAndSelect | Rows);
    }

private:
    KPNodeTreeModel* m_nodes;
    QPointer<KPSideBarOutlineView> m_view;
    QList<std::weak_ptr<KPNode>> m_rangeBase;
    bool m_inRange = false;
};

} // namespace

SubSideBarDataSource::SubSideBarDataSource(KPSideBarOutlineView* view, DataBaseEngine* library, QObject* parent)
    : QObject(parent), m_view(view), m_library(library ? library : DataBaseEngine::dataBaseEngine())
{
    m_theme = KPThemeObject::customThemeObjectWithName(kGroup);
    m_rootNode = KPNode::create();
    m_collectionsRoot = KPNode::initWithTitle(localizedString(QStringLiteral("COLLECTIONS")), T::SectionNode);
    m_tagsRoot = KPNode::initWithTitle(localizedString(QStringLiteral("TAGS")), T::SectionNode);
    m_untagNode = KPNode::initWithTitle(localizedString(QStringLiteral("Untagged")), T::TagNode);
    m_uncollectionNode = KPNode::initWithTitle(localizedString(QStringLiteral("Uncategorized")), T::FolderNode);
    for (const KPNode::Ptr& n : {m_collectionsRoot, m_tagsRoot, m_untagNode, m_uncollectionNode})
        decorate(*n);
    m_model = std::make_unique<KPNodeTreeModel>(m_rootNode);
    m_model->setEditableTest([this](const KPNode& node) { return shouldEditNode(node); });
    m_model->setTitleCommit([this](KPNode& node, const QString& text) { commitTitle(node, text); });
    if (view) {
        view->setCustomThemeObject(m_theme);
        // Folders, collections and tag groups open and close by their triangles; the headers
        // stay open.
        view->setIsCoustomDrawTriangle(true);
        view->cell()->setTriangleTest([](const KPNode& node) {
            return node.nodeType() == T::FolderNode || node.nodeType() == T::CollectionNode ||
                   node.nodeType() == T::TagGroupNode;
        });
        view->setNodeModel(m_model.get());
        QItemSelectionModel* old = view->selectionModel();
        view->setSelectionModel(new ProposalSelectionModel(m_model.get(), view));
        if (old)
            old->deleteLater();
        KPSideBarOutlineViewDelegate d;
        d.shouldSelectItem = [this](KPSideBarOutlineView&, KPNode& node) { return shouldSelectItem(node); };
        d.selectionDidChange = [this](KPSideBarOutlineView&) { selectionDidChange(); };
        d.outlineViewMenuByIndexSet = [this](KPSideBarOutlineView&, const std::optional<QList<int>>& rows) {
            return outlineViewMenuByIndexSet(rows);
        };
        d.scrollRectChange = [this](KPSideBarOutlineView&, const QRect& visible) { scrollRectChange(visible); };
        d.onDrawDragging = [this](KPSideBarOutlineView&, QPainter& painter) { onDrawDragging(painter); };
        d.rightButtonClick = [this](KPSideBarOutlineView&, KPNode& node) {
            if (&node == m_collectionsRoot.get())
                addFolderToRoot();
            else if (&node == m_tagsRoot.get())
                addTag();
        };
        d.handleDrop = [this](KPSideBarOutlineView&, QDropEvent& event) { return handleDrop(event); };
        d.writeItems = [this](KPSideBarOutlineView&, const QList<KPNode::Ptr>& nodes) { return writeItems(nodes); };
        view->setOutlineDelegate(std::move(d));
        // The fixed first row stands apart from the tree below it.
        view->cell()->setRowHeightOverride([this](const KPNode& node) {
            return &node == m_untagNode.get() || &node == m_uncollectionNode.get() ? kFixedRowHeight : 0;
        });
        view->setDragEnabled(true);
        view->setAcceptDrops(true);
        view->viewport()->setAcceptDrops(true);
        connect(view, &QTreeView::expanded, this, [this](const QModelIndex& index) {
            if (KPNode* node = m_model->nodeFromIndex(index); node && index.isValid())
                itemExpanded(*node);
        });
        connect(view, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
            if (KPNode* node = m_model->nodeFromIndex(index); node && index.isValid())
                itemCollapsed(*node);
        });
        view->reloadAll();
    }
    auto& center = platform::NotificationCenter::defaultCenter();
    m_tokens.push_back(center.addObserver(KPThemeManager::kThemeChangeNotification,
                                          [this](const platform::Notification&) { onThemeChange(); }));
    m_tokens.push_back(center.addObserver(QStringLiteral("NewTagNotification"), [this](const platform::Notification& n) {
        onNewTagNotification(n.object);
    }));
    m_tokens.push_back(center.addObserver(FavoriteNodeChangeNotification, [this](const platform::Notification& n) {
        // The main side bar renames favourite folders in place; this tree follows.
        const QVariantMap info = n.object.toMap();
        if (info.value(FavoriteChangeInfo::Type).toString() != FavoriteChangeInfo::Rename)
            return;
        const KPNode::Ptr node = nodeOfRecord(m_collectionsRoot, info.value(FavoriteChangeInfo::URI).toString());
        if (node && node->dbNode() && node->title() != node->dbNode().title()) {
            node->setTitle(node->dbNode().title());
            m_model->nodeChanged(node.get());
        }
    }));
}

SubSideBarDataSource::~SubSideBarDataSource()
{
    if (m_view) {
        m_view->setOutlineDelegate({});
        m_view->cell()->setRowHeightOverride({});
        m_view->cell()->setTriangleTest({});
        m_view->setNodeModel(nullptr);
    }
}

// ---- shared helpers ----

void SubSideBarDataSource::reload(const std::function<void()>& change)
{
    const QScopedValueRollback restoring(m_restoring, true);
    if (m_view)
        m_view->reloadAll(change);
    else
        m_model->reset(change);
}

void SubSideBarDataSource::save()
{
    if (m_library && m_library->context())
        KPContextHelper::save(m_library->context());
}

void SubSideBarDataSource::post(const QString& name, const QVariant& object) const
{
    platform::NotificationCenter::defaultCenter().post(name, object);
}

void SubSideBarDataSource::decorate(KPNode& node) const
{
    QString name;
    switch (node.nodeType()) {
    case T::TagNode: name = QStringLiteral("SubSidebarIcon-Tag"); break;
    case T::TagGroupNode: name = QStringLiteral("SubSidebarIcon-TagGroup"); break;
    case T::CollectionNode: name = QStringLiteral("SubSidebarIcon-Collection"); break;
    case T::FolderNode: name = QStringLiteral("SubSidebarIcon-Folder"); break;
    case T::SmartFolderNode: name = QStringLiteral("SubSidebarIcon-SmartFolder"); break;
    default: break;
    }
    if (KPMultiSprite* sprite = m_theme && !name.isEmpty() ? m_theme->themeObjectWithName<KPMultiSprite>(name) : nullptr) {
        const QImage normal = sprite->normalSprite() ? sprite->normalSprite()->image() : QImage();
        const QImage lit = sprite->highlightSprite() ? sprite->highlightSprite()->image() : normal;
        node.setupIcon(normal, lit);
        node.setThemeIcon(sprite);
    }
    const bool header = &node == m_collectionsRoot.get() || &node == m_tagsRoot.get();
    node.setBoolShowRightButton(header);
    node.setRightButtonSprite(header && m_theme ? m_theme->themeObjectWithName<KPMultiSprite>(QStringLiteral("CellAddButton"))
                                                : nullptr);
}

void SubSideBarDataSource::decorateTree(KPNode& node) const
{
    decorate(node);
    for (const KPNode::Ptr& child : node.children())
        decorateTree(*child);
}

void SubSideBarDataSource::onThemeChange()
{
    const QString name = m_theme ? m_theme->themeObjectName() : kGroup;
    m_theme = KPThemeObject::customThemeObjectWithName(name);
    for (const KPNode::Ptr& n : {m_collectionsRoot, m_tagsRoot, m_untagNode, m_uncollectionNode})
        decorateTree(*n);
    if (m_view) {
        m_view->setCustomThemeObject(m_theme);
        m_view->viewport()->update();
    }
}

KPNode::Ptr SubSideBarDataSource::selectedNode() const
{
    KPNode* node = m_view ? m_view->selectedNode() : nullptr;
    return node ? node->shared_from_this() : nullptr;
}

QList<KPNode::Ptr> SubSideBarDataSource::selectedNodes() const
{
    QList<KPNode::Ptr> nodes;
    if (!m_view)
        return nodes;
    for (KPNode* node : m_view->selectedNodes())
        nodes.append(node->shared_from_this());
    return nodes;
}

void SubSideBarDataSource::selectRow(int row)
{
    if (m_view)
        m_view->selectNode(m_view->nodeAtRow(row));
}

// ---- loading ----

void SubSideBarDataSource::initData()
{
    if (m_loadingData)
        return;
    m_loadingData = true;
    QPointer<SubSideBarDataSource> self(this);
    platform::Dispatch::main([self] {
        if (self)
            self->load();
    });
}

void SubSideBarDataSource::load()
{
    const platform::ContextPtr context = m_library ? m_library->context() : nullptr;
    reload([&] {
        // A second load reads the store afresh; the trees of the first must not stay beside it.
        m_tagsRoot->removeAllChildren();
        m_collectionsRoot->removeAllChildren();
        if (!context) {
            KPLogLogMessage(QStringLiteral("Collections side bar: no library store is open; the trees stay empty"));
            return;
        }
        auto query = [&](const QString& entity, const QString& format, std::optional<platform::SortDescriptor> sort = {}) {
            auto predicate = platform::Predicate::format(format);
            auto records = predicate ? m_library->queryRecordByName(entity, *predicate, sort, context)
                                     : platform::Result<QList<platform::ManagedObjectPtr>>();
            if (!records)
                KPLogLogMessage(QStringLiteral("Collections side bar: reading %1 failed: %2")
                                    .arg(entity, records.error().toString()));
            return records ? *records : QList<platform::ManagedObjectPtr>();
        };
        for (const DBTag& tag : DBRecord::recordsOf<DBTag>(query(DBTag::entityName(), QStringLiteral("group == nil && isTrash == NO"))))
            m_tagsRoot->addChild(tagNodeFor(tag));
        for (const DBTagGroup& group : DBRecord::recordsOf<DBTagGroup>(query(DBTagGroup::entityName(), QStringLiteral("isTrash == NO")))) {
            KPNode::Ptr node = KPNode::initWithTitle(group.name(), T::TagGroupNode);
            node->setData(group.ref());
            for (const DBTag& tag : group.tags()) {
                if (!tag.isTrash())
                    node->addChild(tagNodeFor(tag));
            }
            node->sortChildren(KPNode::kSortID);
            m_tagsRoot->addChild(node);
        }
        const auto nodes = DBRecord::recordsOf<DBNode>(
            query(DBNode::entityName(), QStringLiteral("parent == nil && (type == 1 || type == 2 || type == 3) && isTrash == NO"),
                  platform::SortDescriptor(QStringLiteral("sortID"), true)));
        for (const DBNode& record : nodes) {
            KPNode::Ptr node = KPNode::initWithDBNode(record);
            m_collectionsRoot->addChild(node);
            recursiveCreateDataByNode(*node);
        }
        m_tagsRoot->sortChildren(KPNode::kSortID);
        m_collectionsRoot->sortChildren(KPNode::kSortID);
        decorateTree(*m_tagsRoot);
        decorateTree(*m_collectionsRoot);
        if (m_currentNodeType == kCollectionsMode && !m_rootNode->children().contains(m_collectionsRoot))
            m_rootNode->addChild(m_collectionsRoot);
        if (m_currentNodeType == kTagsMode && !m_rootNode->children().contains(m_tagsRoot))
            m_rootNode->addChild(m_tagsRoot);
    });
    if (m_view && m_currentNodeType == kCollectionsMode)
        m_view->expandNode(m_collectionsRoot.get());
    if (m_view && m_currentNodeType == kTagsMode)
        m_view->expandNode(m_tagsRoot.get());
    m_loadingData = false;
    m_bDataLoaded = true;
    if (m_loaded)
        m_loaded();
}

void SubSideBarDataSource::recursiveCreateDataByNode(KPNode& node)
{
    if (!node.dbNode())
        return;
    for (const DBNode& child : node.dbNode().children()) {
        if (child.isTrash())
            continue;
        KPNode::Ptr childNode = KPNode::initWithDBNode(child);
        if (childNode->nodeType() == T::RootNode)
            continue;
        decorate(*childNode);
        node.addChild(childNode);
        recursiveCreateDataByNode(*childNode);
    }
    node.sortChildren(KPNode::kSortID);
}

KPNode::Ptr SubSideBarDataSource::foundNodeByURI(const KPNode::Ptr& start, const QString& uri)
{
    if (!start || uri.isEmpty())
        return nullptr;
    if (uriOf(*start) == uri)
        return start;
    for (const KPNode::Ptr& child : start->children()) {
        if (KPNode::Ptr found = foundNodeByURI(child, uri))
            return found;
    }
    return nullptr;
}

void SubSideBarDataSource::updateNodeSort()
{
    const std::function<void(KPNode&)> collections = [&](KPNode& level) {
        for (int i = 0; i < level.children().size(); ++i) {
            KPNode& child = *level.children().at(i);
            if (DBNode record = child.dbNode())
                record.setSortID(i + 1);
            child.setSortID(i + 1);
            collections(child);
        }
    };
    collections(*m_collectionsRoot);
    const std::function<void(KPNode&)> tags = [&](KPNode& level) {
        for (int i = 0; i < level.children().size(); ++i) {
            KPNode& child = *level.children().at(i);
            if (child.nodeType() == T::TagNode) {
                if (DBTag tag = child.tag())
                    tag.setSortID(i);
            } else if (child.nodeType() == T::TagGroupNode) {
                if (DBTagGroup group = child.tagGroup())
                    group.setSortID(i);
                tags(child);
            } else {
                continue;
            }
            // The record keeps i, the node i + 1: the next load sorts by the record only.
            child.setSortID(i + 1);
        }
    };
    tags(*m_tagsRoot);
}

// ---- switching ----

void SubSideBarDataSource::showHeader(const KPNode::Ptr& header, const KPNode::Ptr& fixedRow)
{
    reload([&] {
        m_rootNode->removeAllChildren();
        m_rootNode->addChild(fixedRow);
        m_rootNode->addChild(header);
    });
    if (m_view)
        m_view->expandNode(header.get());
}

void SubSideBarDataSource::switchByNodeType(int nodeType)
{
    if (nodeType != kCollectionsMode && nodeType != kTagsMode)
        return;
    m_currentNodeType = nodeType;
    const bool tags = nodeType == kTagsMode;
    if (m_view)
        m_view->setSelectionMode(tags ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    const KPNode::Ptr header = tags ? m_tagsRoot : m_collectionsRoot;
    showHeader(header, tags ? m_untagNode : m_uncollectionNode);
    if (m_view) {
        const QScopedValueRollback restoring(m_restoring, true);
        const std::function<void(const KPNode&)> expandSaved = [&](const KPNode& level) {
            for (const KPNode::Ptr& child : level.children()) {
                const bool expand = child->nodeType() == T::TagGroupNode ? child->tagGroup().expand()
                                                                         : (!tags && child->dbNode().expand());
                if (expand)
                    m_view->expandNode(child.get());
                if (!tags)
                    expandSaved(*child);
            }
        };
        expandSaved(*header);
    }
    const QString saved = defaults().stringForKey(tags ? K::LastSelectedTagItem : K::LastSelectedCollectionItem);
    const KPNode::Ptr found = foundNodeByURI(header, saved);
    const int row = found && m_view ? m_view->rowForNode(found.get()) : -1;
    selectRow(row > 0 ? row : 0);
    const QString point = defaults().stringForKey(tags ? K::TagScrollPoint : K::CollectionScrollPoint);
    static const QRegularExpression pattern(QStringLiteral(R"(^\{\s*(-?[\d.]+)\s*,\s*(-?[\d.]+)\s*\}$)"));
    if (const auto match = pattern.match(point); match.hasMatch() && m_view)
        m_view->verticalScrollBar()->setValue(int(match.captured(2).toDouble()));
    if (!header->hasChildren()) {
        if (!tags)
            selectRow(0);
        else if (m_delegate.onSubSideBarNodeChange)
            m_delegate.onSubSideBarNodeChange(m_untagNode);
    }
}

// ---- selection ----

bool SubSideBarDataSource::shouldSelectItem(KPNode& node)
{
    if (node.nodeType() == T::SectionNode)
        return false;
    if (m_delegate.onSubSideBarBeforeNodeWillChange)
        m_delegate.onSubSideBarBeforeNodeWillChange(selectedNode());
    return true;
}

QList<int> SubSideBarDataSource::proposeSelection(const QList<int>& current, const QList<int>& proposed,
                                                  const std::function<bool(int)>& isSelectable)
{
    if (proposed.size() == 1)
        return isSelectable(proposed.front()) ? proposed : current;
    if (proposed.contains(0) && !current.contains(0))
        return {0};
    QList<int> rows;
    for (int row : proposed) {
        if (row != 0 && isSelectable(row))
            rows.append(row);
    }
    return rows;
}

void SubSideBarDataSource::selectionDidChange()
{
    const QList<KPNode::Ptr> nodes = selectedNodes();
    if (nodes.isEmpty()) {
        if (m_delegate.onSubSideBarNodeChange)
            m_delegate.onSubSideBarNodeChange(nullptr);
        post(K::UpdateLabCenterTitle);
        return;
    }
    if (nodes.size() == 1) {
        const KPNode::Ptr& node = nodes.front();
        if (m_delegate.onSubSideBarNodeChange)
            m_delegate.onSubSideBarNodeChange(node);
        const QString key = m_currentNodeType == kTagsMode ? K::LastSelectedTagItem : K::LastSelectedCollectionItem;
        const QString uri = selectionURIOf(*node);
        if (uri.isEmpty())
            defaults().removeObjectForKey(key);
        else
            defaults().setObject(uri, key);
        post(K::UpdateLabCenterTitle, node->title());
        return;
    }
    if (!m_delegate.onSubSideBarNodesChange)
        return;
    QList<KPNode::Ptr> tags;
    for (const KPNode::Ptr& node : nodes) {
        if (node->nodeType() == T::TagGroupNode) {
            for (const KPNode::Ptr& child : node->children()) {
                if (!tags.contains(child))
                    tags.append(child);
            }
        } else if (node->nodeType() == T::TagNode && !tags.contains(node)) {
            tags.append(node);
        }
    }
    m_delegate.onSubSideBarNodesChange(tags);
}

void SubSideBarDataSource::reloadSelectNode()
{
    if (m_delegate.onSubSideBarNodeChange)
        m_delegate.onSubSideBarNodeChange(selectedNode());
}

void SubSideBarDataSource::scrollRectChange(const QRect& visible)
{
    const QString key = m_currentNodeType == kTagsMode ? K::TagScrollPoint : K::CollectionScrollPoint;
    defaults().setObject(QStringLiteral("{%1, %2}").arg(visible.x()).arg(visible.y()), key);
    defaults().synchronize();
}

void SubSideBarDataSource::storeExpansion(KPNode& node, bool expanded)
{
    if (m_restoring)
        return;
    const int type = node.nodeType();
    if (DBNode record = node.dbNode(); record && (type == T::FolderNode || type == T::CollectionNode)) {
        if (record.expand() != expanded) {
            record.setExpand(expanded);
            save();
        }
    } else if (DBTagGroup group = node.tagGroup(); group && type == T::TagGroupNode && group.expand() != expanded) {
        group.setExpand(expanded);
        save();
    }
}

void SubSideBarDataSource::itemExpanded(KPNode& node)
{
    storeExpansion(node, true);
}

void SubSideBarDataSource::itemCollapsed(KPNode& node)
{
    if (m_restoring)
        return;
    storeExpansion(node, false);
    const KPNode::Ptr selected = selectedNode();
    if (!selected || selected.get() == &node)
        return;
    for (KPNode::Ptr p = selected->parent(); p; p = p->parent()) {
        if (p.get() == &node) {
            m_view->selectNode(&node);
            return;
        }
    }
}

bool SubSideBarDataSource::shouldEditNode(const KPNode& node) const
{
    if (&node == m_untagNode.get() || &node == m_uncollectionNode.get())
        return false;
    switch (node.nodeType()) {
    case T::TagGroupNode:
    case T::TagNode:
    case T::FolderNode:
    case T::SmartFolderNode:
    case T::CollectionNode:
        return true;
    default:
        return false;
    }
}

void SubSideBarDataSource::onNewTagNotification(const QVariant& object)
{
    const QVariantList list = object.toList();
    const platform::ContextPtr context = m_library ? m_library->context() : nullptr;
    if (list.isEmpty() || !context)
        return;
    const bool hadChildren = m_tagsRoot->hasChildren();
    QList<KPNode::Ptr> added;
    for (const QVariant& value : list) {
        platform::ManagedObjectPtr object = platform::ManagedObject::fromRef(value);
        if (object && object->managedObjectContext() != context)
            object = context->existingObjectWithID(object->objectID());
        else if (!object && value.canConvert<platform::ObjectID>())
            object = context->existingObjectWithID(value.value<platform::ObjectID>());
        const DBTag tag(object);
        if (!tag || foundNodeByURI(m_tagsRoot, tag.URIString()))
            continue;
        KPNode::Ptr node = tagNodeFor(tag);
        node->setRightNumber(tag.fileInfos().size());
        decorate(*node);
        added.append(node);
    }
    if (added.isEmpty())
        return;
    reload([&] {
        for (const KPNode::Ptr& node : added)
            m_tagsRoot->addChild(node);
        updateNodeSort();
        if (m_currentNodeType == kTagsMode && !m_rootNode->children().contains(m_tagsRoot))
            m_rootNode->addChild(m_tagsRoot);
    });
    if (!hadChildren && m_view)
        m_view->expandNode(m_tagsRoot.get());
}
