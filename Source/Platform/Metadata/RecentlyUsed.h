// The desktop's record of recently used files: "recently-used.xbel" in the XDG data home,
// which GTK and KDE programs update each time they open or save a file.
//
// Each bookmark names a file URI and carries "added", "modified" and "visited" times; the
// latest of them is when the file was last used. The list is parsed once into a table from
// local path to that time and parsed again only when the file changes (its modification time,
// size or path differ), so asking about every file of a large import stays cheap. The file is
// written by other programs and may be huge, half-written or not XML at all: it is read up to
// a byte cap, a parse error keeps the bookmarks read before it, and no times are ever made up.
//
// Threads: any; the table is guarded by one mutex.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

namespace platform {

class RecentlyUsed {
public:
    // Tuning: a list larger than this is not read (a desktop keeps a few hundred entries,
    // about 1 KiB each).
    static constexpr qint64 kMaxFileBytes = 32LL * 1024 * 1024;
    // Tuning: bookmarks kept from one list; the rest are ignored.
    static constexpr int kMaxBookmarks = 100000;

    static inline const QString kFileName = QStringLiteral("recently-used.xbel");

    // The list of the current XDG data home.
    static QString defaultListPath();

    // When the file at path was last used according to the default list; nothing when the list
    // does not name it or has no valid time for it.
    static std::optional<QDateTime> lastUsedDate(const QString& path);

    // The same against a given list.
    static std::optional<QDateTime> lastUsedDate(const QString& path, const QString& listPath);

    // The table of a list's bytes: cleaned local path → last use (UTC). Bookmarks that are not
    // local files or carry no valid time are left out.
    static QHash<QString, QDateTime> parse(const QByteArray& xbel);

    // A timestamp as the list writes it ("2024-03-01T09:30:00.123456Z"); invalid for anything
    // else, and for the zero time some writers use for "never".
    static QDateTime parseTime(QStringView text);

    RecentlyUsed() = delete;
};

} // namespace platform
