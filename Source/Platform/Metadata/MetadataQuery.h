// A metadata query over files: which files carry given metadata attributes.
//
// There is no system-wide metadata index here, so a query walks a bounded set of folders
// (by default the home folder) and tests each file's extended attributes: a key counts as
// present when the file has "com.apple.metadata:" + key, the copy that metadata importers
// read. The walk never follows links, skips hidden folders and folders named "*.noindex" (a
// folder so named asks to be left out of searches), and stops after a bounded number of items, so a query can be
// slow but never endless.
//
// Only presence tests can be answered: "(key == *)", "(key != *)", joined with "&&" and "||"
// and grouped with parentheses. Anything else (comparisons with values, "$time.now") makes
// create() fail, and the caller takes its "query could not start" path. Live updates are not
// offered: a query reports what it found once.
//
// Threads: a query object is used by one thread at a time; execute() may run on any thread.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <vector>

namespace platform {

class MetadataQuery {
public:
    // Tuning: the walk's default bounds.
    static constexpr qint64 kDefaultMaxVisited = 200000;
    static constexpr int kDefaultMaxDepth = 24;

    static inline const QString kErrorDomain = QStringLiteral("MetadataQuery");
    static inline const QString kAttributePrefix = QStringLiteral("com.apple.metadata:");

    // Fails (code 1) for query text other than the presence tests above.
    static Result<MetadataQuery> create(const QString& queryText);

    // Folders to walk; empty means the home folder.
    void setSearchScopes(const QStringList& folders) { m_scopes = folders; }
    QStringList searchScopes() const;
    void setMaxResultCount(qint64 count) { m_maxResults = count; }
    void setMaxVisitedCount(qint64 count) { m_maxVisited = count; }
    void setMaxDepth(int depth) { m_maxDepth = depth; }

    // Paths of the matching regular files, in walk order. Fails (code 2) when no scope could
    // be read; stops early when cancel becomes true.
    Result<QStringList> execute(const std::atomic<bool>* cancel = nullptr) const;

    // Whether a file with these attribute names (as XAttr lists them) matches.
    bool matchesAttributeNames(const QSet<QString>& names) const;
    // Whether the file at path matches.
    bool matchesFile(const QString& path) const;

    // The keys the query tests.
    QStringList keys() const;

    struct Node {
        enum class Kind { Present, Absent, And, Or } kind = Kind::Present;
        QString key;
        std::vector<Node> children;
    };

private:
    MetadataQuery() = default;
    static bool evaluate(const Node& node, const QSet<QString>& names);

    std::shared_ptr<const Node> m_root;
    QStringList m_scopes;
    qint64 m_maxResults = 500000;
    qint64 m_maxVisited = kDefaultMaxVisited;
    int m_maxDepth = kDefaultMaxDepth;
};

} // namespace platform
