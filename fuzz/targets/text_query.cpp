// The full-text query translator never fails, so what it makes of any text must be a match
// expression the full-text engine accepts (or empty).
#include "FuzzSupport.h"

#include "Platform/TextIndex/TextQueryTranslator.h"

#include <sqlite3.h>

namespace {

sqlite3* database()
{
    static sqlite3* db = [] {
        sqlite3* handle = nullptr;
        if (sqlite3_open(":memory:", &handle) != SQLITE_OK
            || sqlite3_exec(handle,
                            "CREATE VIRTUAL TABLE t USING fts5(body);"
                            "INSERT INTO t(body) VALUES ('the quick brown fox, café and C++');",
                            nullptr, nullptr, nullptr) != SQLITE_OK)
            fuzz::abortRun("cannot make the full-text table");
        return handle;
    }();
    return db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QString query = fuzz::utf8(data, size);
    const QString expression = platform::TextQueryTranslator::toMatchExpression(query);
    if (expression.isEmpty())
        return 0;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database(), "SELECT count(*) FROM t WHERE t MATCH ?", -1, &statement,
                           nullptr) != SQLITE_OK)
        fuzz::abortRun("cannot prepare the match query");
    const QByteArray bytes = expression.toUtf8();
    sqlite3_bind_text(statement, 1, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(statement);
    const QString message = QString::fromUtf8(sqlite3_errmsg(database()));
    sqlite3_finalize(statement);
    if (rc != SQLITE_ROW) {
        const bool nul = query.contains(QChar(0));
        fuzz::fail(nul ? "the full-text engine refuses a translated query holding NUL"
                       : "the full-text engine refuses a translated query",
                   QStringLiteral("%1 → %2: %3").arg(fuzz::printable(query.left(300)),
                                                     fuzz::printable(expression.left(300)), message));
    }
    return 0;
}
