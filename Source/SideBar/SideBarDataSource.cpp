#include "SideBar/SideBarDataSource.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarImageCell.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDrops.h"
#include "SideBar/SideBarFavorites.h"
#include "SideBar/SideBarIndexFolders.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPThemeManager.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QMenu>
#include <QPointer>

using platform::localizedString;
namespace T = SideBarNodeType;

namespace {

const QString kSidebarGroup = QStringLiteral("Sidebar");

} // namespace

SideBarDataSource::SideBarDataSource(KPSideBarOutlineView* view, SideBarServices services, QObject* parent)
    : QObject(parent)
{
    m_ctx.services = std::move(services);
    m_ctx.view = view;
    m_ctx.theme = KPThemeObject::customThemeObjectWithName(kSidebarGroup);
    buildFixedTree();
    m_ctx.model = std::make_unique<KPNodeTreeModel>(m_ctx.rootNode);
    m_favorites = std::make_unique<SideBarFavorites>(m_ctx);
    m_indexFolders = std::make_unique<SideBarIndexFolders>(m_ctx);
    m_drops = std::make_unique<SideBarDrops>(m_ctx);

    KPNodeTreeModel& model = *m_ctx.model;
    model.setEditableTest([this](const KPNode& node) { return m_favorites->shouldEditNode(node); });
    model.setTitleCommit([this](KPNode& node, const QString& text) { m_favorites->commitTitle(node, text); });
    if (view) {
        view->setCustomThemeObject(m_ctx.theme);
        view->setIsCoustomDrawTriangle(true);
        view->setNodeModel(&model);
        KPSideBarOutlineViewDelegate d;
        d.shouldSelectItem = [this](KPSideBarOutlineView&, KPNode& node) { return shouldSelectItem(node); };
        d.selectionDidChange = [this](KPSideBarOutlineView&) { selectionDidChange(); };
        d.outlineViewMenuByIndexSet = [this](KPSideBarOutlineView&, const std::optional<QList<int>>& rows) {
            return m_favorites->outlineViewMenuByIndexSet(rows);
        };
        d.rightButtonClick = [this](KPSideBarOutlineView&, KPNode& node) { onRightButton(node); };
        // The main side bar draws nothing over a drag.
        d.onDrawDragging = [](KPSideBarOutlineView&, QPainter&) {};
        d.handleDrop = [this](KPSideBarOutlineView&, QDropEvent& event) { return m_drops->handleDrop(event); };
        view->setOutlineDelegate(std::move(d));
        view->setAcceptDrops(true);
        view->viewport()->setAcceptDrops(true);
        view->reloadAll();
        view->expandNode(m_ctx.libraryNode.get());
        view->expandNode(m_ctx.focusNode.get());
    }
    m_themeToken = platform::NotificationCenter::defaultCenter().addObserver(
        KPThemeManager::kThemeChangeNotification, [this](const platform::Notification&) { onThemeChange(); });
    initData();
}

SideBarDataSource::~SideBarDataSource()
{
    if (m_ctx.view) {
        m_ctx.view->setOutlineDelegate({});
        m_ctx.view->setNodeModel(nullptr);
    }
}

KPNode::Ptr SideBarDataSource::makeEntry(const QString& key, int nodeType)
{
    KPNode::Ptr node = KPNode::initWithTitle(localizedString(key), nodeType);
    m_ctx.decorate(*node);
    return node;
}

void SideBarDataSource::buildFixedTree()
{
    SideBarContext& c = m_ctx;
    c.rootNode = KPNode::create();
    c.libraryNode = makeEntry(QStringLiteral("LIBRARY"), T::SectionNode);
    c.rootNode->addChild(c.libraryNode);
    c.documentsNode = makeEntry(QStringLiteral("Documents"), T::DocumentsNode);
    c.tagsNode = makeEntry(QStringLiteral("Tags"), T::TagsNode);
    c.collectionsNode = makeEntry(QStringLiteral("Collections"), T::CollectionsNode);
    c.safeBoxNode = makeEntry(QStringLiteral("SafeBox"), T::SafeBoxNode);
    c.trashNode = makeEntry(QStringLiteral("Trash"), T::TrashNode);
    for (const KPNode::Ptr& n : {c.documentsNode, c.tagsNode, c.collectionsNode, c.safeBoxNode, c.trashNode})
        c.libraryNode->addChild(n);

    c.focusNode = makeEntry(QStringLiteral("FOCUS"), T::SectionNode);
    c.rootNode->addChild(c.focusNode);
    c.recentNode = makeEntry(QStringLiteral("Recent"), T::RecentNode);
    c.flaggedNode = makeEntry(QStringLiteral("Flagged"), T::FlaggedNode);
    c.documentDateNode = makeEntry(QStringLiteral("Document Date"), T::DocumentDateNode);
    c.fileTypeNode = makeEntry(QStringLiteral("File Type"), T::FileTypeNode);
    c.authorNode = makeEntry(QStringLiteral("Author"), T::AuthorNode);
    c.receiveNode = makeEntry(QStringLiteral("Received"), T::ReceivedNode);
    for (const KPNode::Ptr& n : {c.recentNode, c.flaggedNode, c.documentDateNode, c.fileTypeNode, c.authorNode, c.receiveNode})
        c.focusNode->addChild(n);

    // Made now, shown by updateRootNodeStatus while they have entries.
    c.shareNode = makeEntry(QStringLiteral("SHARED"), T::SectionNode);
    c.couldNode = makeEntry(QStringLiteral("COULD"), T::SectionNode);
    c.indexFolderNode = KPNode::initWithTitle(localizedString(QStringLiteral("INDEX FOLDER")), T::SectionNode);
    c.sourceFolderNode = makeEntry(QStringLiteral("SOURCE"), T::SectionNode);
    c.favoritesNode = makeEntry(QStringLiteral("FAVORITES"), T::SectionNode);
    c.iCloudNode = KPNode::initWithTitle(QStringLiteral("iCloud"), T::ICloudNode);
    c.iCloudNode->setData(KPNode::kICloudMarker);
    // The header's add button is set up once the header is known to the context.
    c.decorate(*c.indexFolderNode);
    c.decorate(*c.iCloudNode);
}

void SideBarDataSource::initData()
{
    QPointer<SideBarDataSource> self(this);
    platform::Dispatch::main([self] {
        if (self)
            self->load();
    });
}

void SideBarDataSource::load()
{
    const platform::ContextPtr context = m_ctx.storeContext();
    if (context) {
        m_ctx.updateRootNodeStatus([&] {
            m_indexFolders->loadFolders(context);
            m_favorites->loadFavorites(context);
        });
        if (m_ctx.view) {
            for (const KPNode::Ptr& n : {m_ctx.libraryNode, m_ctx.focusNode, m_ctx.indexFolderNode, m_ctx.favoritesNode,
                                         m_ctx.sourceFolderNode})
                m_ctx.view->expandNode(n.get());
        }
        m_indexFolders->refreashAllIndexFolder();
    } else {
        KPLogLogMessage(QStringLiteral("Main side bar: no library store is open; only the fixed sections are shown"));
    }
    m_bDataLoaded = true;
    if (m_loaded)
        m_loaded();
}

// ---- selection ----

bool SideBarDataSource::shouldSelectItem(KPNode& node)
{
    if (node.nodeType() == T::SectionNode)
        return false;
    // The owner keeps the state of what it leaves (scroll position, sort settings).
    if (m_ctx.delegate.onSideBarBeforeNodeWillChange)
        m_ctx.delegate.onSideBarBeforeNodeWillChange(m_ctx.selectedNode());
    return true;
}

void SideBarDataSource::selectionDidChange()
{
    const KPNode::Ptr node = m_ctx.selectedNode();
    // The selected row went away with its node: Documents takes its place rather than an
    // empty window.
    if (!node && m_ctx.view && m_ctx.model->indexForNode(m_ctx.documentsNode.get()).isValid()) {
        m_ctx.view->selectNode(m_ctx.documentsNode.get());
        return;
    }
    if (m_ctx.delegate.onSideBarNodeChange)
        m_ctx.delegate.onSideBarNodeChange(node);
}

void SideBarDataSource::reloadSelectNode()
{
    if (m_ctx.delegate.onSideBarNodeChange)
        m_ctx.delegate.onSideBarNodeChange(m_ctx.selectedNode());
}

QVariantMap SideBarDataSource::lastSelectedInfo() const
{
    namespace L = LastSelectedLibraryInfo;
    const KPNode::Ptr node = m_ctx.selectedNode();
    if (node) {
        switch (node->nodeType()) {
        case T::SmartFolderNode:
            return {{L::Name, L::SmartFolder}, {L::DataIndexValue, QVariant::fromValue(node->dbNode().nodeID())}};
        case T::SectionNode:
            return {{L::Name, L::Library}, {L::DataIndexValue, 1}};
        case T::IndexFolderNode:
        case T::SubIndexFolderNode:
            return {};
        default:
            break;
        }
    }
    const int row = node && m_ctx.view ? m_ctx.view->rowForNode(node.get()) : -1;
    return {{L::Name, L::Library}, {L::DataIndexValue, qint64(row)}};
}

// ---- Importing entry ----

void SideBarDataSource::showImportingNode(bool show)
{
    KPNodeTreeModel& model = *m_ctx.model;
    KPNode& library = *m_ctx.libraryNode;
    if (show) {
        if (!m_ctx.importingNode)
            m_ctx.importingNode = makeEntry(QStringLiteral("Importing"), T::ImportingNode);
        if (library.indexOfChild(m_ctx.importingNode.get()) < 0)
            model.appendChild(library, m_ctx.importingNode);
        m_ctx.importingNode->setIsBusy(true);
        m_ctx.reloadNode(m_ctx.importingNode.get());
        return;
    }
    if (const KPNode::Ptr importing = std::exchange(m_ctx.importingNode, nullptr)) {
        importing->setIsBusy(false);
        model.removeChild(library, importing.get());
    }
}

// ---- navigation menu and title-bar icons ----

QMenu* SideBarDataSource::duplicateMenuWithDataSource()
{
    auto* menu = new QMenu;
    for (const KPNode::Ptr& section : m_ctx.rootNode->children()) {
        QAction* header = menu->addAction(section->title());
        header->setEnabled(false);
        for (const KPNode::Ptr& child : section->children()) {
            QAction* item = menu->addAction(child->title());
            item->setIcon(QIcon(QPixmap::fromImage(imageWithNodeType(child->nodeType()))));
            item->setData(QVariant::fromValue(child));
            item->setProperty("indentationLevel", 1);
            connect(item, &QAction::triggered, this, [this, item] { onNavMenuChange(item); });
        }
    }
    return menu;
}

void SideBarDataSource::onNavMenuChange(QAction* action)
{
    const KPNode::Ptr node = action->data().value<KPNode::Ptr>();
    if (node && m_ctx.view && m_ctx.delegate.onSideBarNodeChange)
        m_ctx.view->selectNode(node.get());
}

QImage SideBarDataSource::imageWithNodeType(int nodeType)
{
    QString name;
    switch (nodeType) {
    case T::DocumentsNode: name = QStringLiteral("TopbarSidebarIcon-Document"); break;
    case T::RecentNode: name = QStringLiteral("TopbarSidebarIcon-Recent"); break;
    case T::FlaggedNode: name = QStringLiteral("TopbarSidebarIcon-Flagged"); break;
    case T::TrashNode: name = QStringLiteral("TopbarSidebarIcon-Trash"); break;
    case T::TagsNode:
    case T::TagNode: name = QStringLiteral("TopbarSidebarIcon-Tag"); break;
    case T::FileTypeNode: name = QStringLiteral("TopbarSidebarIcon-FileType"); break;
    case T::AuthorNode: name = QStringLiteral("TopbarSidebarIcon-Author"); break;
    case T::FolderNode: name = QStringLiteral("TopbarSidebarIcon-Folder"); break;
    case T::SmartFolderNode: name = QStringLiteral("TopbarSidebarIcon-SmartFolder"); break;
    case T::SafeBoxNode: name = QStringLiteral("TopbarSidebarIcon-Safebox"); break;
    case T::DocumentDateNode: name = QStringLiteral("TopbarSidebarIcon-DocumentDate"); break;
    case T::CollectionsNode: name = QStringLiteral("TopbarSidebarIcon-Collection"); break;
    case T::IndexFolderNode: name = QStringLiteral("TopbarSidebarIcon-IndexFolder"); break;
    case T::ReceivedNode: name = QStringLiteral("TopbarSidebarIcon-Receive"); break;
    default: return {};
    }
    auto* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("TopbarSidebarIcon"));
    auto* sprite = group ? group->themeObjectWithName<KPMultiSprite>(name) : nullptr;
    return sprite && sprite->normalSprite() ? sprite->normalSprite()->image() : QImage();
}

// ---- theme and the header's button ----

void SideBarDataSource::onThemeChange()
{
    m_ctx.theme = KPThemeObject::customThemeObjectWithName(kSidebarGroup);
    if (m_ctx.view)
        m_ctx.view->setCustomThemeObject(m_ctx.theme);
    KPSideBarImageCell::updateTheme();
    // Sections not shown now get theirs too, and so does the Importing entry.
    m_ctx.decorateTree(*m_ctx.rootNode);
    for (const KPNode::Ptr& n : {m_ctx.shareNode, m_ctx.couldNode, m_ctx.favoritesNode, m_ctx.indexFolderNode,
                                 m_ctx.sourceFolderNode, m_ctx.iCloudNode, m_ctx.importingNode}) {
        if (n)
            m_ctx.decorateTree(*n);
    }
    if (m_ctx.view)
        m_ctx.view->viewport()->update();
}

void SideBarDataSource::onRightButton(KPNode& node)
{
    // Adding a folder is the main window's: it asks for one and posts it back.
    if (&node == m_ctx.indexFolderNode.get())
        platform::kit::CommandDispatcher::shared().perform(MenuAddIndexFolderCommand,
                                                           QVariant::fromValue(node.shared_from_this()));
}
