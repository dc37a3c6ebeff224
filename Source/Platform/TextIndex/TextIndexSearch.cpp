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

} // namespace

Result<std::unique_ptr<TextIndexSearch>> TextIndexSearch::start(const QString& indexPath, const QString& userQuery)
{
    auto db = TextIndexDatabase::open(indexPath, TextIndexDatabase::Access::Reader);
    if (!db)
        return std::unexpected(db.error());
    std::unique_ptr<TextIndexSearch> search(new TextIndexSearch);
    search->m_expression = TextQueryTranslator::toMatchExpression(userQuery);
    if (search->m_expression.isEmpty())
        return search; // nothing searchable: finds nothing
    search->m_db = std::move(*db);
    auto st = search->m_db->prepare(searchSql, TextIndexReadError);
    if (!st)
        return std::unexpected(st.error());
    search->m_statement = std::move(*st);
    const QByteArray expr = search->m_expression.toUtf8();
    sqlite3_bind_text(search->m_statement.get(), 1, expr.constData(), int(expr.size()), SQLITE_TRANSIENT);
    sqlite3_progress_handler(search->m_db->handle(), cancelCheckSteps, &TextIndexSearch::progress, search.get());
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
    // Ends the read transaction at once, so the writer's checkpoints are not held back.
    m_statement.reset();
    m_db.reset();
}

Result<TextIndexBatch> TextIndexSearch::findMatches(int maxCount, std::chrono::milliseconds maxTime)
{
    TextIndexBatch batch;
    if (!m_statement || isCancelled()) {
        finish();
        return batch;
    }
    maxCount = std::max(maxCount, 1);
    const QDeadlineTimer deadline(maxTime);
    sqlite3_stmt* st = m_statement.get();
    for (;;) {
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            const qint64 id = sqlite3_column_int64(st, 0);
            const auto* uri = static_cast<const char*>(sqlite3_column_blob(st, 1));
            batch.hits.push_back({id, QString::fromUtf8(uri, sqlite3_column_bytes(st, 1))});
            if (int(batch.hits.size()) >= maxCount || deadline.hasExpired()) {
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
        const QByteArray message = sqlite3_errmsg(m_db->handle());
        if (message.startsWith("fts5:")) {
            finish();
            return batch;
        }
        Error e = m_db->error(TextIndexReadError, QStringLiteral("search for %1").arg(m_expression));
        finish();
        return std::unexpected(e);
    }
}

} // namespace platform
