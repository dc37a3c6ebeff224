#include "Platform/Metadata/MetadataQuery.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/XAttr.h"

namespace platform {

namespace {

// Nesting beyond this is not a query a program writes; refusing it keeps the parser's
// recursion bounded whatever text arrives.
constexpr int kMaxNesting = 64;

class Parser {
public:
    explicit Parser(const QString& text) : m_text(text) {}

    bool parse(MetadataQuery::Node* root)
    {
        if (!parseOr(root, 0))
            return false;
        skipSpace();
        return m_pos == m_text.size();
    }

private:
    void skipSpace()
    {
        while (m_pos < m_text.size() && m_text.at(m_pos).isSpace())
            ++m_pos;
    }

    bool take(QLatin1String token)
    {
        skipSpace();
        if (QStringView(m_text).mid(m_pos).startsWith(token)) {
            m_pos += token.size();
            return true;
        }
        return false;
    }

    bool parseOr(MetadataQuery::Node* out, int depth)
    {
        return parseJoined(out, depth, QLatin1String("||"), MetadataQuery::Node::Kind::Or,
                           [this](MetadataQuery::Node* n, int d) { return parseAnd(n, d); });
    }

    bool parseAnd(MetadataQuery::Node* out, int depth)
    {
        return parseJoined(out, depth, QLatin1String("&&"), MetadataQuery::Node::Kind::And,
                           [this](MetadataQuery::Node* n, int d) { return parseTerm(n, d); });
    }

    template <class Next>
    bool parseJoined(MetadataQuery::Node* out, int depth, QLatin1String op, MetadataQuery::Node::Kind kind,
                     Next next)
    {
        MetadataQuery::Node first;
        if (!next(&first, depth))
            return false;
        if (!take(op)) {
            *out = std::move(first);
            return true;
        }
        MetadataQuery::Node joined;
        joined.kind = kind;
        joined.children.push_back(std::move(first));
        do {
            MetadataQuery::Node more;
            if (!next(&more, depth))
                return false;
            joined.children.push_back(std::move(more));
        } while (take(op));
        *out = std::move(joined);
        return true;
    }

    bool parseTerm(MetadataQuery::Node* out, int depth)
    {
        if (depth > kMaxNesting)
            return false;
        if (take(QLatin1String("("))) {
            if (!parseOr(out, depth + 1))
                return false;
            return take(QLatin1String(")"));
        }
        skipSpace();
        const qsizetype start = m_pos;
        while (m_pos < m_text.size()
               && (m_text.at(m_pos).isLetterOrNumber() || m_text.at(m_pos) == QLatin1Char('_')
                   || m_text.at(m_pos) == QLatin1Char(':') || m_text.at(m_pos) == QLatin1Char('.')))
            ++m_pos;
        if (m_pos == start)
            return false;
        out->key = m_text.mid(start, m_pos - start);
        if (take(QLatin1String("==")))
            out->kind = MetadataQuery::Node::Kind::Present;
        else if (take(QLatin1String("!=")))
            out->kind = MetadataQuery::Node::Kind::Absent;
        else
            return false;
        // Only the wildcard value, bare or quoted: presence is all a walk of attributes can test.
        return take(QLatin1String("*")) || take(QLatin1String("\"*\"")) || take(QLatin1String("'*'"));
    }

    const QString m_text;
    qsizetype m_pos = 0;
};

void collectKeys(const MetadataQuery::Node& node, QStringList* keys)
{
    if (!node.key.isEmpty() && !keys->contains(node.key))
        keys->append(node.key);
    for (const auto& child : node.children)
        collectKeys(child, keys);
}

bool isSkippedFolderName(const QString& name)
{
    return name.startsWith(QLatin1Char('.')) || name.endsWith(QLatin1String(".noindex"));
}

} // namespace

Result<MetadataQuery> MetadataQuery::create(const QString& queryText)
{
    auto root = std::make_shared<Node>();
    Parser parser(queryText);
    if (queryText.trimmed().isEmpty() || !parser.parse(root.get()))
        return fail(kErrorDomain, 1, QStringLiteral("query cannot be answered here: %1").arg(queryText));
    MetadataQuery query;
    query.m_root = std::move(root);
    return query;
}

QStringList MetadataQuery::searchScopes() const
{
    return m_scopes.isEmpty() ? QStringList{Paths::homeDirectory()} : m_scopes;
}

QStringList MetadataQuery::keys() const
{
    QStringList keys;
    if (m_root)
        collectKeys(*m_root, &keys);
    return keys;
}

bool MetadataQuery::evaluate(const Node& node, const QSet<QString>& names)
{
    switch (node.kind) {
    case Node::Kind::Present:
        return names.contains(kAttributePrefix + node.key);
    case Node::Kind::Absent:
        return !names.contains(kAttributePrefix + node.key);
    case Node::Kind::And:
        return std::all_of(node.children.begin(), node.children.end(),
                           [&](const Node& child) { return evaluate(child, names); });
    case Node::Kind::Or:
        return std::any_of(node.children.begin(), node.children.end(),
                           [&](const Node& child) { return evaluate(child, names); });
    }
    return false;
}

bool MetadataQuery::matchesAttributeNames(const QSet<QString>& names) const
{
    return m_root && evaluate(*m_root, names);
}

bool MetadataQuery::matchesFile(const QString& path) const
{
    const auto names = XAttr::list(path);
    if (!names)
        return false;
    return matchesAttributeNames(QSet<QString>(names->begin(), names->end()));
}

Result<QStringList> MetadataQuery::execute(const std::atomic<bool>* cancel) const
{
    QStringList results;
    qint64 visited = 0;
    bool anyScopeRead = false;
    bool stopped = false;
    for (const QString& scope : searchScopes()) {
        if (stopped)
            break;
        const auto walked = FileManager::enumerate(scope, [&](const EnumeratedItem& item) {
            if ((cancel && cancel->load()) || ++visited > m_maxVisited || results.size() >= m_maxResults) {
                stopped = true;
                return EnumerationControl::Stop;
            }
            const QString name = item.path.mid(item.path.lastIndexOf(QLatin1Char('/')) + 1);
            if (item.type == FileType::Directory) {
                if (isSkippedFolderName(name) || item.depth >= m_maxDepth)
                    return EnumerationControl::SkipDescendants;
                return EnumerationControl::Continue;
            }
            if (item.type == FileType::Regular && matchesFile(item.path))
                results.append(item.path);
            return EnumerationControl::Continue;
        });
        anyScopeRead = anyScopeRead || walked.has_value();
    }
    if (!anyScopeRead)
        return fail(kErrorDomain, 2, QStringLiteral("no search scope could be read"));
    return results;
}

} // namespace platform
