#include "Platform/TextIndex/TextIndexSearch.h"

#include "Platform/TextIndex/TextQueryTranslator.h"

#include <QDeadlineTimer>
#include <sqlite3.h>

namespace platform {

namespace {

// The FTS5 table drives the join, so that hits stream out in document-ID order as they are found.
const char* const searchSql = "SELECT d.id, d.uri FROM fts CROSS JOIN docs AS d ON d.id = fts.rowid "
                              "WHERE fts MATCH ?1";

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
    TextIndexReaderPool::Reader& held = *search->m_reader;
    if (!held.statement) {
        auto st = held.db->prepare(searchSql, TextIndexReadError);
        if (!st)
            return std::unexpected(st.error());
        held.statement = std::move(*st);
    }
    search->m_statement = held.statement.get();
    const QByteArray expr = search->m_expression.toUtf8();
    sqlite3_bind_text(search->m_statement, 1, expr.constData(), int(expr.size()), SQLITE_TRANSIENT);
    sqlite3_progress_handler(held.db->handle(), cancelCheckSteps, &TextIndexSearch::progress, search.get());
    return search;
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
    sqlite3_progress_handler(m_reader->db->handle(), 0, nullptr, nullptr);
    if (m_pool)
        m_pool->giveBack(std::move(m_reader));
    m_reader.reset();
}

Result<TextIndexBatch> TextIndexSearch::findMatches(int maxCount, std::chrono::milliseconds maxTime)
{
    TextIndexBatch batch;
    if (!m_statement || isCancelled()) {
        finish();
        return batch;
    }
    maxCount = std::max(maxCount, 1);
    batch.hits.reserve(size_t(maxCount));
    const QDeadlineTimer deadline(maxTime);
    sqlite3_stmt* st = m_statement;
    for (;;) {
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
            finish();
            return batch;
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
        Error e = m_reader->db->error(TextIndexReadError, QStringLiteral("search for %1").arg(m_expression));
        finish();
        return std::unexpected(e);
    }
}

} // namespace platform
