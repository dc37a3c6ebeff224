#include "Platform/TextIndex/TextIndexSearch.h"

#include "Platform/TextIndex/TextQueryTranslator.h"

#include <QDeadlineTimer>
#include <sqlite3.h>

namespace platform {

namespace {

// The FTS5 table drives the join, so that hits stream out in document-ID order as they are found.
// The shard's table is put in for %1.
const char* const searchSql = "SELECT d.id, d.uri FROM %1 CROSS JOIN docs AS d ON d.id = %1.rowid "
                              "WHERE %1 MATCH ?1";

// Virtual-machine steps between two looks at the cancel flag: small enough that a cancel takes
// effect within a fraction of a millisecond, large enough to cost nothing.
constexpr int cancelCheckSteps = 1000;
// Hits between two looks at the clock: a hit takes well under a microsecond, a look at the
// clock a good part of one.
constexpr size_t deadlineCheckHits = 16;

} // namespace

Result<std::unique_ptr<TextIndexSearch>> TextIndexSearch::start(const QString& indexPath, const QString& userQuery)
{
    return start(nullptr, TextIndexReaderPool::open(indexPath), userQuery);
}

Result<std::unique_ptr<TextIndexSearch>> TextIndexSearch::start(const std::shared_ptr<TextIndexReaderPool>& pool,
                                                                const QString& userQuery)
{
    return start(pool, pool->take(), userQuery);
}

Result<std::unique_ptr<TextIndexSearch>> TextIndexSearch::start(std::shared_ptr<TextIndexReaderPool> pool,
                                                                Result<std::unique_ptr<TextIndexReaderPool::Reader>> reader,
                                                                const QString& userQuery)
{
    if (!reader)
        return std::unexpected(reader.error());
    std::unique_ptr<TextIndexSearch> search(new TextIndexSearch);
    search->m_pool = std::move(pool);
    search->m_reader = std::move(*reader);
    search->m_expression = TextQueryTranslator::toMatchExpression(userQuery);
    if (search->m_expression.isEmpty()) {
        search->finish();
        return search; // nothing searchable: finds nothing
    }
    search->m_expressionBytes = search->m_expression.toUtf8();
    sqlite3_progress_handler(search->m_reader->db->handle(), cancelCheckSteps, &TextIndexSearch::progress, search.get());
    return search;
}

Result<void> TextIndexSearch::begin()
{
    m_begun = true;
    TextIndexDatabase& db = *m_reader->db;
    if (auto r = db.exec("BEGIN", TextIndexReadError); !r)
        return r;
    auto shards = db.shards();
    if (!shards)
        return std::unexpected(shards.error());
    // Taken from the back.
    m_shards.assign(shards->rbegin(), shards->rend());
    return {};
}

Result<sqlite3_stmt*> TextIndexSearch::nextShard()
{
    if (m_statement) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
        m_statement = nullptr;
    }
    if (m_shards.empty())
        return nullptr;
    const qint64 shard = m_shards.back();
    m_shards.pop_back();
    TextIndexStatement& slot = m_reader->statements[shard];
    if (!slot) {
        const QByteArray sql = QByteArray(searchSql).replace("%1", TextIndexDatabase::shardTable(shard));
        auto st = m_reader->db->prepare(sql.constData(), TextIndexReadError);
        if (!st)
            return std::unexpected(st.error());
        slot = std::move(*st);
    }
    m_statement = slot.get();
    sqlite3_bind_text(m_statement, 1, m_expressionBytes.constData(), int(m_expressionBytes.size()), SQLITE_STATIC);
    return m_statement;
}

TextIndexSearch::~TextIndexSearch()
{
    finish();
}

int TextIndexSearch::progress(void* self)
{
    return static_cast<TextIndexSearch*>(self)->m_cancelled.load() ? 1 : 0;
}

void TextIndexSearch::finish()
{
    if (!m_reader)
        return;
    // Ends the read transaction at once, so the writer's checkpoints are not held back, and
    // leaves the connection as the next search expects it.
    if (m_statement) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
        m_statement = nullptr;
    }
    m_shards.clear();
    sqlite3_progress_handler(m_reader->db->handle(), 0, nullptr, nullptr);
    if (sqlite3_get_autocommit(m_reader->db->handle()) == 0)
        sqlite3_exec(m_reader->db->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    if (m_pool)
        m_pool->giveBack(std::move(m_reader));
    m_reader.reset();
}

Result<TextIndexBatch> TextIndexSearch::findMatches(int maxCount, std::chrono::milliseconds maxTime)
{
    TextIndexBatch batch;
    if (!m_reader || m_expression.isEmpty() || isCancelled()) {
        finish();
        return batch;
    }
    const auto failed = [this](const Error& e) -> Result<TextIndexBatch> {
        // A cancel that interrupted the listing of the shards is no failure.
        const bool cancelled = isCancelled();
        finish();
        if (cancelled)
            return TextIndexBatch{};
        return std::unexpected(e);
    };
    if (!m_begun) {
        if (auto r = begin(); !r)
            return failed(r.error());
        auto first = nextShard();
        if (!first)
            return failed(first.error());
    }
    maxCount = std::max(maxCount, 1);
    batch.hits.reserve(size_t(maxCount));
    const QDeadlineTimer deadline(maxTime);
    while (m_statement) {
        sqlite3_stmt* st = m_statement;
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            const qint64 id = sqlite3_column_int64(st, 0);
            const auto* uri = static_cast<const char*>(sqlite3_column_blob(st, 1));
            batch.hits.push_back({id, QString::fromUtf8(uri, sqlite3_column_bytes(st, 1))});
            if (int(batch.hits.size()) >= maxCount
                || (batch.hits.size() % deadlineCheckHits == 0 && deadline.hasExpired())) {
                batch.more = true;
                return batch;
            }
            continue;
        }
        if (rc == SQLITE_DONE) {
            auto next = nextShard();
            if (!next)
                return failed(next.error());
            continue;
        }
        if (isCancelled()) {
            finish();
            return TextIndexBatch{};
        }
        // An expression FTS5 refuses finds nothing; the translator is meant to prevent this.
        const QByteArray message = sqlite3_errmsg(m_reader->db->handle());
        if (message.startsWith("fts5:")) {
            finish();
            return batch;
        }
        return failed(m_reader->db->error(TextIndexReadError, QStringLiteral("search for %1").arg(m_expression)));
    }
    finish();
    return batch;
}

} // namespace platform
