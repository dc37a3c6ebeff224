#include "MainWindow/Parts/SearchCoordinator.h"

#include "Browser/KPDataSourceManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Platform/ObjectStore/PersistentStoreCoordinator.h"
#include "SearchField/KPSearchTextEditor.h"
#include "SearchField/SearchResultViewController.h"
#include "Import/KPFileFormatManager.h"
#include "Platform/Kit/Popover.h"
#include "Store/DBAuthor.h"
#include "Store/DBTag.h"
#include "SearchField/SearchQuery.h"
#include "Controls/KPTokenEditorView.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SubSideBarDataSource.h"
#include "SmartFolder/KPSmartDataExport.h"
#include "Store/DBFileInfo.h"
#include "Store/DataBaseEngine.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Search/KPIndexManager.h"
#include "Search/KPIndexSearchObject.h"

#include <utility>

using platform::Predicate;

namespace {

// The shared index's search object behind the coordinator's interface.
class IndexSearchObjectAdapter final : public SearchCoordinator::IndexSearch {
public:
    explicit IndexSearchObjectAdapter(std::shared_ptr<KPIndexSearchObject> object) : m_object(std::move(object)) {}
    void start(Progress progress) override
    {
        m_object->searchByProgressBlock(
            [progress = std::move(progress)](const std::shared_ptr<KPIndexSearchObject>&, const QVariantList& hits,
                                             bool finished) { progress(hits, finished); });
    }
    void cancel() override { m_object->cancel(); }

private:
    std::shared_ptr<KPIndexSearchObject> m_object;
};

Predicate notInTrash()
{
    return *Predicate::parse(QStringLiteral("isTrash == NO"));
}

} // namespace

SearchCoordinator::SearchCoordinator(MainWindowContext& ctx) : m_ctx(ctx)
{
    makeQuerySearch = [](const QString& query) -> IndexSearchPtr {
        return std::make_shared<IndexSearchObjectAdapter>(KPIndexSearchObject::initWithQueryString(query));
    };
    makeValuesSearch = [](const QVariantMap& values) -> IndexSearchPtr {
        return std::make_shared<IndexSearchObjectAdapter>(KPIndexSearchObject::initWithQueryValues(values));
    };
    addIndexRecord = [](const QVariantMap& record) { KPIndexManager::indexManager().addRecord(record); };
}

SearchCoordinator::~SearchCoordinator()
{
    // The field lives in the title bar, which outlives the parts: it must not call back here.
    if (m_field)
        m_field->setDelegate({});
    destroySearchResultPopver();
    // Their last calls find nothing held and change nothing.
    if (m_globleContentSearchObject)
        m_globleContentSearchObject->cancel();
    if (m_smartFolderContentSearchObject)
        m_smartFolderContentSearchObject->cancel();
}

QString SearchCoordinator::smartStringFromData(const QVariantMap& rules) const
{
    return KPSmartDataExport::smartStringFromData(rules, KPSmartDataExport::environment(m_ctx.store));
}

KPSearchTextEditor* SearchCoordinator::searchField() const
{
    return m_field;
}

void SearchCoordinator::setSearchField(KPSearchTextEditor* field)
{
    m_field = field;
    if (!field)
        return;
    KPSearchTextEditorDelegate d;
    d.onSearchTextEditorDidChange = [this](KPSearchTextEditor* f) { onSearchTextEditorDidChange(f->searchValues()); };
    d.onSearchTextEditorWillStart = [this] { onSearchTextEditorWillStart(); };
    d.onSearchTextEditorWillEnd = [this] { onSearchTextEditorWillEnd(); };
    d.onSearchTextEditorExit = [this] { onSearchTextEditorExit(); };
    d.onSearchTextEditorDone = [this] { destroySearchResultPopver(); };
    d.onSearchTextEditorPartValueChange = [this](const QString& run) -> std::optional<QString> {
        createSearchResultPopver();
        return m_resultController ? m_resultController->doSearchValue(run) : std::nullopt;
    };
    d.onSearchTextEditorSearchClick = [this](KPSearchTextEditor* f) {
        if (m_resultPopover)
            return;
        createSearchResultPopver();
        f->textView()->setFocus();
        if (m_resultController)
            m_resultController->doSearchValue(QString());
    };
    d.onSearchTextEditorKeyUpAndDown = [this](int key) -> std::optional<QString> {
        return m_resultController ? m_resultController->doMoveRecordByKeyCode(key) : std::nullopt;
    };
    d.onSearchTextEditorConfirmDataType = [this] {
        return m_resultController ? m_resultController->selectedRowDataType() : QString();
    };
    field->setDelegate(std::move(d));
}

bool SearchCoordinator::hasSearchField() const
{
    return !m_field.isNull();
}

void SearchCoordinator::focusSearchField()
{
    if (m_field)
        m_field->textView()->setFocus(Qt::ShortcutFocusReason);
}

namespace {

// Names of a tag or author entity beginning with prefix, not in the Trash, sorted by the store
// and no more than the list shows.
QStringList namesOf(DataBaseEngine* store, const QString& entity, const QString& prefix, int limit)
{
    QStringList names;
    if (!store || !store->isOpen())
        return names;
    auto predicate = prefix.isEmpty()
                         ? Predicate::format(QStringLiteral("isTrash == NO"))
                         : Predicate::format(QStringLiteral("isTrash == NO && name BEGINSWITH[cd] %@"), {prefix});
    if (!predicate)
        return names;
    auto rows = store->queryRecordByName(entity, *predicate, platform::SortDescriptor(QStringLiteral("name")), limit, {});
    if (!rows)
        return names;
    for (const platform::ManagedObjectPtr& row : *rows)
        names.append(row->valueForKey(QStringLiteral("name")).toString());
    return names;
}

} // namespace

void SearchCoordinator::createSearchResultPopver()
{
    if (m_resultPopover || !m_field)
        return;
    SearchResultViewController::Services services;
    DataBaseEngine* store = m_ctx.store;
    services.tagNames = [store](const QString& prefix, int limit) {
        return namesOf(store, DBTag::entityName(), prefix, limit);
    };
    services.authorNames = [store](const QString& prefix, int limit) {
        return namesOf(store, DBAuthor::entityName(), prefix, limit);
    };
    services.extensions = [] { return KPFileFormatManager::fileFormatManager().extensionList(); };
    services.kindName = [](const QString& ext) { return KPFileFormatManager::fileFormatManager().kindNameByExtenstion(ext); };

    m_resultPopover = std::make_unique<platform::kit::Popover>(platform::kit::Popover::Form::Overlay);
    m_resultPopover->setFocusesContent(false);
    m_resultPopover->setAnimates(false);
    m_resultPopover->setFollowsAnchor(true);   // the field may still be widening
    auto* controller = new SearchResultViewController(std::move(services));
    m_resultController = controller;
    controller->onSearchResultValueChange = [this](const QString& value) {
        if (m_field)
            m_field->setCurrentPartValue(value);
    };
    platform::kit::Popover* popover = m_resultPopover.get();
    controller->onSizeChange = [popover](const QSize& size) { popover->setContentSize(size); };
    m_resultPopover->setContentWidget(controller);
    m_resultPopover->setContentSize(QSize(SearchResultViewController::kWidth, 160));
    m_resultPopover->show(m_field, QRect(0, 0, 36, m_field->height()), platform::kit::PopoverEdge::MinY);
}

void SearchCoordinator::destroySearchResultPopver()
{
    m_resultController = nullptr;
    if (auto popover = std::move(m_resultPopover)) {
        popover->close();
        // A click on the list ends here through the field's commit: the list's own slot is
        // still running.
        popover.release()->deleteLater();
    }
}

void SearchCoordinator::setEditing(bool editing)
{
    if (m_ctx.state.searchTextEditoring == editing)
        return;
    m_ctx.state.searchTextEditoring = editing;
    if (layoutSearchField)
        layoutSearchField();
}

void SearchCoordinator::onSearchTextEditorWillStart()
{
    setEditing(true);
}

void SearchCoordinator::onSearchTextEditorWillEnd()
{
    if (!m_field || m_field->searchValues().isEmpty())
        setEditing(false);
}

void SearchCoordinator::onSearchTextEditorExit()
{
    destroySearchResultPopver();
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    if (sideBar && sideBar->documentsNode()) {
        KPSideBarOutlineView* view = sideBar->sideBarView();
        if (view && view->selectedNode() != sideBar->documentsNode().get())
            view->selectNode(sideBar->documentsNode().get());
        else if (showMainNode)
            showMainNode(sideBar->documentsNode());
    }
    m_ctx.state.globleSearchLastString.clear();
    stopGlobalSearch();
}

void SearchCoordinator::resetSearchField()
{
    // Only a search in use gives the field back; the search's own move to the documents row
    // clears the flag first, so its field stays.
    if (!m_ctx.state.searchTextEditoring)
        return;
    if (m_field)
        m_field->clear();
    setEditing(false);
}

void SearchCoordinator::cancelContentSearches()
{
    stopSmartFolderSearch();
    stopGlobalSearch();
}

void SearchCoordinator::stopSmartFolderSearch()
{
    if (m_smartFolderContentSearchObject) {
        m_smartFolderContentSearchObject->cancel();
        m_smartFolderContentSearchObject.reset();
    }
    if (KPNode::Ptr node = std::exchange(m_smartFolderNode, nullptr))
        setBusy(node, false);
    m_smartFolderContentSearchPredicate.reset();
}

void SearchCoordinator::stopGlobalSearch()
{
    if (m_globleContentSearchObject) {
        m_globleContentSearchObject->cancel();
        m_globleContentSearchObject.reset();
    }
    m_globleContentSearchPredicate.reset();
}

void SearchCoordinator::setBusy(const KPNode::Ptr& node, bool busy)
{
    node->setIsBusy(busy);
    // A smart folder's row may be a favourite in the main side bar or in the collections tree.
    if (m_ctx.sideBarDataSource && m_ctx.sideBarDataSource->sideBarView())
        m_ctx.sideBarDataSource->sideBarView()->reloadItem(node.get());
    if (m_ctx.subSideBarDataSource && m_ctx.subSideBarDataSource->sideBarView())
        m_ctx.subSideBarDataSource->sideBarView()->reloadItem(node.get());
}

void SearchCoordinator::selectDocumentsRow()
{
    SideBarDataSource* sideBar = m_ctx.sideBarDataSource;
    if (!sideBar || !sideBar->sideBarView() || !sideBar->documentsNode())
        return;
    KPSideBarOutlineView* view = sideBar->sideBarView();
    if (view->selectedNode() == sideBar->documentsNode().get())
        return;
    // The node change this selection runs must not take the field away from the user.
    m_ctx.state.searchTextEditoring = false;
    view->selectNode(sideBar->documentsNode().get());
    m_ctx.state.searchTextEditoring = true;
}

void SearchCoordinator::onSearchTextEditorDidChange(const QVariantList& searchValues)
{
    const SearchQuery query = SearchQuery::fromTokens(searchValues);
    const QString key = query.key();
    QString& held = m_ctx.state.globleSearchLastString;
    if (!held.isEmpty() && held == key)
        return;

    if (query.isEmpty()) {
        if (held.isEmpty())
            return;
        // A field that keeps the keyboard (its tokens cleared with Escape) stays wide for what
        // is typed next; it narrows when it is left. The move back to the documents must not
        // give the field back meanwhile.
        const bool keepsKeyboard = m_field && m_field->textView()->hasFocus();
        const bool editing = std::exchange(m_ctx.state.searchTextEditoring, false);
        if (showMainNode && m_ctx.sideBarDataSource)
            showMainNode(m_ctx.sideBarDataSource->documentsNode());
        m_ctx.state.searchTextEditoring = editing;
        setEditing(keepsKeyboard);
        held.clear();
        stopGlobalSearch();
        return;
    }

    // Searching is a mode of the Documents view.
    setEditing(true);
    selectDocumentsRow();
    held = key;

    stopSmartFolderSearch();
    stopGlobalSearch();
    m_globleContentSearchPredicate = query.contentPredicate();
    listItems(fetch(query.storePredicate()), true);

    if (query.fullTextQuery.isEmpty() || !makeQuerySearch)
        return;
    IndexSearchPtr search = makeQuerySearch(query.fullTextQuery);
    if (!search)
        return;
    m_globleContentSearchObject = search;
    std::weak_ptr<IndexSearch> weak = search;
    search->start([this, weak](const QVariantList& hits, bool finished) {
        const IndexSearchPtr self = weak.lock();
        // Only the held search is heard: one stopped since has nothing more to say.
        if (!self || self != m_globleContentSearchObject)
            return;
        if (finished) {
            m_globleContentSearchObject.reset();
            return;
        }
        const QList<KPItemDataPtr> items = resolveHits(hits, m_globleContentSearchPredicate);
        if (!items.isEmpty())
            listItems(items, false);
    });
}

void SearchCoordinator::doSearchBySmartFolderNode(const KPNode::Ptr& node, const QVariantMap& queryValues,
                                                  const QString& predicate)
{
    stopSmartFolderSearch();
    if (!node)
        return;
    if (!predicate.isEmpty()) {
        auto parsed = Predicate::parse(predicate);
        if (parsed) {
            m_smartFolderContentSearchPredicate = *parsed;
        } else {
            // Rules that say nothing readable find nothing, not the whole library.
            KPLogLogMessage(QStringLiteral("smart folder \"%1\": %2").arg(node->title(), parsed.error().toString()));
            m_smartFolderContentSearchPredicate = *Predicate::parse(QStringLiteral("FALSEPREDICATE"));
        }
    }
    const bool all = queryValues.value(QStringLiteral("Operation")).toBool();
    IndexSearchPtr search = makeValuesSearch ? makeValuesSearch(queryValues) : nullptr;
    if (search) {
        m_smartFolderContentSearchObject = search;
        m_smartFolderNode = node;
        setBusy(node, true);
    }
    if (!all && appendSmartFolderItems)
        appendSmartFolderItems(node, fetch(m_smartFolderContentSearchPredicate.value_or(notInTrash())));
    if (!search)
        return;

    std::weak_ptr<IndexSearch> weak = search;
    search->start([this, weak, node, all](const QVariantList& hits, bool finished) {
        const IndexSearchPtr self = weak.lock();
        // A stopped search's row was freed when it stopped; its late calls leave the next alone.
        if (!self || self != m_smartFolderContentSearchObject)
            return;
        if (finished) {
            m_smartFolderContentSearchObject.reset();
            m_smartFolderNode.reset();
            m_smartFolderContentSearchPredicate.reset();
            setBusy(node, false);
            return;
        }
        const std::optional<Predicate> filter = all ? m_smartFolderContentSearchPredicate : std::nullopt;
        const QList<KPItemDataPtr> items = resolveHits(hits, filter);
        if (!items.isEmpty() && appendSmartFolderItems)
            appendSmartFolderItems(node, items);
    });
}

QList<KPItemDataPtr> SearchCoordinator::fetch(const Predicate& predicate) const
{
    QList<KPItemDataPtr> items;
    if (!m_ctx.store || !m_ctx.store->isOpen())
        return items;
    auto rows = m_ctx.store->queryRecordByName(DBFileInfo::entityName(), predicate);
    if (!rows) {
        KPLogLogMessage(QStringLiteral("search \"%1\" failed: %2").arg(predicate.toString(), rows.error().toString()));
        return items;
    }
    items.reserve(rows->size());
    for (const platform::ManagedObjectPtr& row : *rows) {
        const DBFileInfo file(row);
        if (file)
            items.append(KPItemData::create(file));
    }
    return items;
}

QList<KPItemDataPtr> SearchCoordinator::resolveHits(const QVariantList& hits,
                                                    const std::optional<Predicate>& filter) const
{
    QList<KPItemDataPtr> items;
    // Without the store nothing can be told stale: report nothing rather than lose the index.
    if (!m_ctx.store || !m_ctx.store->isOpen() || !m_ctx.store->coordinator())
        return items;
    for (const QVariant& entry : hits) {
        const QVariantMap hit = entry.toMap();
        const platform::ObjectID id =
            m_ctx.store->coordinator()->managedObjectIDForURIRepresentation(hit.value(QStringLiteral("URI")).toString());
        const DBFileInfo file(id.isNull() ? nullptr : m_ctx.store->context()->existingObjectWithID(id));
        if (!file || file.isDeleted()) {
            if (addIndexRecord)
                addIndexRecord({{QStringLiteral("Type"), QStringLiteral("Delete")},
                                {QStringLiteral("DocumentID"), hit.value(QStringLiteral("SKID"))}});
            continue;
        }
        const bool taken = filter ? filter->evaluate(*file.object()) : !file.isTrash();
        if (taken)
            items.append(KPItemData::create(file));
    }
    return items;
}

void SearchCoordinator::listItems(const QList<KPItemDataPtr>& items, bool replace)
{
    if (!m_ctx.dataSourceManager)
        return;
    if (replace)
        m_ctx.dataSourceManager->addSource(items);
    else
        m_ctx.dataSourceManager->appendSource(items);
    if (GridDataSource* grid = m_ctx.gridDataSource) {
        grid->grouping().createDataAndFileDataByGroupSortSetting(m_ctx.dataSourceManager->dataSource(),
                                                                 grid->sortInfoWithNode(m_ctx.state.shownNode.get()));
        grid->reloadData();
    }
}
