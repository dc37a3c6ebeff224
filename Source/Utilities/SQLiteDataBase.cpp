#include "Utilities/SQLiteDataBase.h"

#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <sqlite3.h>

namespace {

void logQueryError(int code, const QString& sql)
{
    KPLogLogMessage(QStringLiteral("SQLiteDataBase Query erorr!, code[%1], %2")
                        .arg(QString::number(code), sql));
}

} // namespace

SQLiteDataBase::SQLiteDataBase(const QString& dataBasePath)
    : m_dataBasePath(dataBasePath)
{
}

SQLiteDataBase::~SQLiteDataBase()
{
    if (m_connected)
        disconnect();
}

bool SQLiteDataBase::connect()
{
    if (m_connected)
        return true;
    const QByteArray path = QFile::encodeName(m_dataBasePath);
    sqlite3* db = nullptr;
    const int rc = ::sqlite3_open(path.constData(), &db);
    if (rc != SQLITE_OK) {
        // SQLite hands out a handle even when opening fails; it must still be closed.
        ::sqlite3_close(db);
        KPLogLogMessage(QStringLiteral("SQLiteDataBase Unable to open!, code[%1], %2")
                            .arg(QString::number(rc), m_dataBasePath));
        return false;
    }
    m_database = db;
    m_connected = true;
    return true;
}

void SQLiteDataBase::disconnect()
{
    if (m_database)
        ::sqlite3_close(m_database);
    m_database = nullptr;
    m_connected = false;
}

std::optional<QList<SQLiteDataBase::Row>> SQLiteDataBase::queryBySQL(const QString& sql)
{
    if (!m_connected)
        return std::nullopt;
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const int rc = ::sqlite3_prepare_v2(m_database, utf8.constData(), int(utf8.size()), &stmt,
                                        nullptr);
    if (rc != SQLITE_OK) {
        ::sqlite3_finalize(stmt);
        logQueryError(rc, sql);
        return std::nullopt;
    }
    QList<Row> rows;
    int step;
    while ((step = ::sqlite3_step(stmt)) == SQLITE_ROW) {
        const int columns = ::sqlite3_column_count(stmt);
        Row row;
        row.reserve(columns);
        for (int i = 0; i < columns; ++i) {
            switch (::sqlite3_column_type(stmt, i)) {
            case SQLITE_INTEGER:
                row.append(QVariant::fromValue<qint64>(::sqlite3_column_int64(stmt, i)));
                break;
            case SQLITE_FLOAT:
                row.append(QVariant::fromValue<double>(::sqlite3_column_double(stmt, i)));
                break;
            case SQLITE_TEXT: {
                const auto* text = reinterpret_cast<const char*>(::sqlite3_column_text(stmt, i));
                // Invalid UTF-8 becomes replacement characters rather than failing the row.
                row.append(QString::fromUtf8(text, ::sqlite3_column_bytes(stmt, i)));
                break;
            }
            case SQLITE_NULL:
                row.append(QVariant::fromValue(nullptr));
                break;
            default:
                KPLogLogMessage(QStringLiteral("Unknown column type"));
                row.append(QVariant::fromValue(nullptr));
                break;
            }
        }
        rows.append(std::move(row));
    }
    ::sqlite3_finalize(stmt);
    // A statement that fails half-way must not pass its first rows off as the whole answer.
    if (step != SQLITE_DONE) {
        logQueryError(step, sql);
        return std::nullopt;
    }
    return rows;
}

void SQLiteDataBase::execSQL(const QString& sql)
{
    if (!m_connected)
        return;
    char* message = nullptr;
    const int rc = ::sqlite3_exec(m_database, sql.toUtf8().constData(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        KPLogLogMessage(QStringLiteral("SQLiteDataBase exec error!, code[%1], error[%2], %3")
                            .arg(QString::number(rc), QString::fromUtf8(message ? message : ""),
                                 sql));
    }
    ::sqlite3_free(message);
}
