// The floor of the window's benchmarks: the listed documents' own columns read straight from
// the library file into plain structs, as fast as SQLite hands them out.
#pragma once

#include <QFile>
#include <QString>
#include <sqlite3.h>
#include <vector>

namespace bench {

struct RawFile {
    qint64 pk;
    QString title, path, pathExtension, thumbPath;
    bool isTrash;
};

inline std::vector<RawFile> readListedDocuments(const QString& libraryFolder)
{
    const auto text = [](sqlite3_stmt* st, int i) {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)), sqlite3_column_bytes(st, i));
    };
    const QByteArray file = QFile::encodeName(libraryFolder + QStringLiteral("/library.db"));
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT pk, a_title, a_path, a_pathExtension, a_thumbPath, a_isTrash FROM t_DBFileInfo WHERE a_isTrash = 0",
                       -1, &st, nullptr);
    std::vector<RawFile> files;
    while (sqlite3_step(st) == SQLITE_ROW)
        files.push_back({sqlite3_column_int64(st, 0), text(st, 1), text(st, 2), text(st, 3), text(st, 4),
                         sqlite3_column_int(st, 5) != 0});
    sqlite3_finalize(st);
    sqlite3_close(db);
    return files;
}

} // namespace bench
