// The main window's searches: the global search of the title bar's tokens and a smart folder's
// search of its "content" rules, both over the full-text index beside a store query.
//
// A search lists the store's matches at once; the full-text hits arrive in batches, are
// resolved through the store's object URIs, filtered and appended (a document is listed once).
// A hit whose document is gone is reported back to the indexer and left out. At most one
// global and one smart-folder search run; a new one of either kind stops both, and so does
// every side-bar node change: only the held search's batches are taken, so a stopped search's
// late batches and last call change nothing, and a stopped smart folder's row stops spinning
// at once.
//
// The full-text search is behind IndexSearch so that tests feed batches by hand.
//
// Threads: main thread only; the searches call back on it.
#pragma once

#include "Browser/KPItemData.h"
#include "MainWindow/MainWindowExtensions.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "SideBar/KPNode.h"

#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

struct MainWindowContext;
class KPSearchTextEditor;
class SearchResultViewController;
namespace platform::kit {
class Popover;
}

class SearchCoordinator final : public SearchHooks {
public:
    // One running full-text search.
    class IndexSearch {
    public:
        // hits: IndexSearchHit maps {"URI", "SKID"}; exactly one last call with finished set.
        using Progress = std::function<void(const QVariantList& hits, bool finished)>;
        virtual ~IndexSearch() = default;
        virtual void start(Progress progress) = 0;
        virtual void cancel() = 0;
    };
    using IndexSearchPtr = std::shared_ptr<IndexSearch>;

    explicit SearchCoordinator(MainWindowContext& ctx);
    ~SearchCoordinator() override;
    SearchCoordinator(const SearchCoordinator&) = delete;
    SearchCoordinator& operator=(const SearchCoordinator&) = delete;

    // ---- the full-text index (the shared index unless a test replaces them) ----
    // A search over a query in the index's syntax.
    std::function<IndexSearchPtr(const QString& query)> makeQuerySearch;
    // A search over IndexQueryValues {"Operation", "Value"}.
    std::function<IndexSearchPtr(const QVariantMap& values)> makeValuesSearch;
    // Takes an IndexQueueRecord ({"Type": "Delete", "DocumentID"} for a stale hit).
    std::function<void(const QVariantMap& record)> addIndexRecord;

    // ---- hooks of the other parts (set in MainWindowParts::wire()) ----
    // Shows a main side-bar node as the side bar's own node change would.
    std::function<void(const KPNode::Ptr& node)> showMainNode;
    // Adds a smart folder's documents to the listing while that folder is shown.
    std::function<void(const KPNode::Ptr& node, const QList<KPItemDataPtr>& items)> appendSmartFolderItems;
    // Places the search field at its frame for the current searchTextEditoring.
    std::function<void()> layoutSearchField;

    // The title bar's field: its changes run the search; "menuSearchClick" (Edit > Find) puts
    // the keyboard in it.
    void setSearchField(KPSearchTextEditor* field);
    KPSearchTextEditor* searchField() const;

    // The search field's change: its committed tokens (SearchTokenValue records, in order).
    void onSearchTextEditorDidChange(const QVariantList& searchValues);
    // The field gains or loses the keyboard; it stays wide while it holds tokens.
    void onSearchTextEditorWillStart();
    void onSearchTextEditorWillEnd();
    // The third Escape: the documents are shown again and the search is forgotten.
    void onSearchTextEditorExit();

    // ---- SearchHooks ----
    void doSearchBySmartFolderNode(const KPNode::Ptr& node, const QVariantMap& queryValues,
                                   const QString& predicate) override;
    void resetSearchField() override;
    // The suggestion list under the field's magnifier end; it never takes the keyboard.
    void createSearchResultPopver();
    void destroySearchResultPopver() override;
    SearchResultViewController* searchResultController() const { return m_resultController; }
    void cancelContentSearches() override;
    QString smartStringFromData(const QVariantMap& rules) const override;
    bool hasSearchField() const override;
    bool hasSmartFolderSheet() const override { return bool(m_smartFolderEditor); }
    void beginSmartFolderSheet(QWidget* window,
                               std::function<void(int result, const QByteArray& rules, const QString& title)> done) override
    {
        if (m_smartFolderEditor)
            m_smartFolderEditor(window, QString(), QByteArray(), std::move(done));
    }
    // The sheet that names a smart folder and edits its rules (the same one the side bar uses).
    // The same function type as the side bar's SmartFolderEditor, spelt out so that this header
    // does not pull in the side bar's.
    using SmartFolderEditor = std::function<void(QWidget* window, const QString& title, const QByteArray& rules,
                                                 std::function<void(int, const QByteArray&, const QString&)>)>;
    void setSmartFolderEditor(SmartFolderEditor editor) { m_smartFolderEditor = std::move(editor); }
    void focusSearchField() override;

    // For tests: whether a search of either kind is held.
    bool hasGlobalSearch() const { return m_globleContentSearchObject != nullptr; }
    bool hasSmartFolderSearch() const { return m_smartFolderContentSearchObject != nullptr; }

private:
    enum class Filter { Predicate, NotInTrash };

    void stopSmartFolderSearch();
    void stopGlobalSearch();
    void setBusy(const KPNode::Ptr& node, bool busy);
    void selectDocumentsRow();
    void setEditing(bool editing);
    // Empties the listing, or adds items to it, and rebuilds the grid.
    void listItems(const QList<KPItemDataPtr>& items, bool replace);
    QList<KPItemDataPtr> fetch(const platform::Predicate& predicate) const;
    // The documents of hits that pass the filter; stale hits are reported to the indexer.
    QList<KPItemDataPtr> resolveHits(const QVariantList& hits, const std::optional<platform::Predicate>& filter) const;

    MainWindowContext& m_ctx;

    IndexSearchPtr m_globleContentSearchObject;
    std::optional<platform::Predicate> m_globleContentSearchPredicate;
    IndexSearchPtr m_smartFolderContentSearchObject;
    KPNode::Ptr m_smartFolderNode; // the search's carried node
    std::optional<platform::Predicate> m_smartFolderContentSearchPredicate;

    QPointer<KPSearchTextEditor> m_field;
    std::unique_ptr<platform::kit::Popover> m_resultPopover;
    SearchResultViewController* m_resultController = nullptr; // owned by m_resultPopover
    SmartFolderEditor m_smartFolderEditor;
};
