// One full-text query over the library's content index, answered in batches while it runs.
//
// The search field asks with a ready query string, a smart folder with a list of values joined by
// "all" or "any" (IndexQueryValues). The search runs on a global queue and hands each batch of
// new hits ({"URI", "SKID"}, IndexSearchHit) to the progress block on the main queue; a URI is
// delivered once per search even when several index documents carry it. Whatever happens
// (no index, a cancel, an unreadable index, no matches) the block gets exactly one last call
// with no hits and finished set, because both callers clear their busy state only then. A
// batch that reaches the main queue after cancel() is dropped, so nothing arrives after a cancel
// but that last call.
//
// Threads: create, start, cancel and read data on the main thread; the block runs there too.
// The running search holds the object (shared ownership), so the caller may drop it at any time.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class KPIndexManager;
namespace platform {
class TextIndexSearch;
}

class KPIndexSearchObject : public std::enable_shared_from_this<KPIndexSearchObject> {
public:
    // Tuning: hits per batch and the longest wait for one batch, so that the first hits reach
    // the grid quickly and a cancel takes effect within one batch.
    static constexpr int kBatchSize = 100;
    static constexpr int kBatchMilliseconds = 300;

    // (search, hits, finished): hits is a list of IndexSearchHit maps, empty exactly on the last
    // call (finished true), which stands for nil.
    using ProgressBlock =
        std::function<void(const std::shared_ptr<KPIndexSearchObject>& search, const QVariantList& hits, bool finished)>;

    // A search over a query string in the index's query syntax, used unchanged.
    static std::shared_ptr<KPIndexSearchObject> initWithQueryString(const QString& queryString);
    // A search whose query is built from IndexQueryValues {"Operation": bool, "Value": [strings]}.
    static std::shared_ptr<KPIndexSearchObject> initWithQueryValues(const QVariantMap& values);

    // The query IndexQueryValues stand for: with "Operation" YES every term of every value,
    // joined by blanks; with NO each value's terms in parentheses, the groups joined by " OR "
    // (one blank left at the end). Values are split at ","; a term holding white space is quoted;
    // double quotes inside a term are dropped, since they would end the phrase early.
    static QString queryStringFromValues(const QVariantMap& values);

    // Starts the search on a global queue and returns at once; the block is required.
    void searchByProgressBlock(ProgressBlock block);
    void cancel();
    bool isCancel() const { return m_isCancel.load(); }

    // Carried for the caller (the smart-folder search's side-bar node); not used here.
    QVariant data() const { return m_data; }
    void setData(const QVariant& data) { m_data = data; }

    const QString& queryString() const { return m_queryString; }
    const QVariantMap& searchValues() const { return m_searchValues; }

    // The indexer whose index is searched; the shared one unless set (tests, other libraries).
    void setIndexManager(KPIndexManager* manager) { m_manager = manager; }

private:
    KPIndexSearchObject() = default;
    void runSearch();
    void deliver(const QVariantList& hits, bool finished);

    QString m_queryString;
    QVariantMap m_searchValues;
    ProgressBlock m_progressBlock;
    std::atomic<bool> m_isCancel{false};
    QVariant m_data;
    KPIndexManager* m_manager = nullptr;

    std::mutex m_searchLock; // guards m_search, which cancel() interrupts from the main thread
    std::shared_ptr<platform::TextIndexSearch> m_search;
};
