// File-system operations with the guarantees the program's data depends on.
//
// Everything works on the item at a path itself and never follows a symbolic link unless
// asked: a link is copied as a link, removed as a link and never descended into, so a link
// planted in a library or a link loop can neither redirect a delete nor hang an enumeration.
// Nothing here overwrites silently: copy and move fail when the destination exists, a free
// name is claimed atomically, and a replacement file is written beside its target and renamed
// over it. A move across file systems is a copy that is flushed and checked before the source
// goes. Failures are POSIX errors naming the operation and the path.
//
// Stateless apart from the test seam for rename; callable from any thread.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

namespace platform {

enum class FileType { Regular, Directory, SymbolicLink, Other };

struct FileAttributes {
    FileType type = FileType::Other;
    qint64 size = 0;                // bytes; a link's own size
    QDateTime modificationDate;     // UTC, millisecond precision
    QDateTime creationDate;         // birth time; invalid where the file system keeps none
    quint32 permissions = 0;        // mode bits 07777
    quint64 inode = 0;
    quint64 device = 0;             // as stat's st_dev
    quint32 ownerID = 0;
    quint64 linkCount = 0;
};

// One item met by FileManager::enumerate.
struct EnumeratedItem {
    QString path;          // absolute
    QString relativePath;  // below the enumerated root, "/"-separated, no leading "/"
    FileType type = FileType::Other;
    int depth = 1;         // 1 for the root's own entries
};

enum class EnumerationControl { Continue, SkipDescendants, Stop };

class FileManager {
public:
    // Whether the program may give a file it keeps this name: not empty, no separator or NUL,
    // within the file systems' 255 bytes, and no leading dot: folder walks skip hidden names,
    // so a file renamed so would drop out of its library with its tags and rating.
    static bool isUsableFileName(const QString& name);
    static constexpr int kMaxFileNameBytes = 255;
    // What isUsableFileName holds against a name, each that applies (none for a usable one),
    // so that a refusal can say why.
    enum FileNameProblem {
        NoProblem = 0,
        EmptyName = 1,
        LeadingDot = 2,
        Separator = 4,   // "/"
        NulCharacter = 8,
        TooLong = 16,    // over kMaxFileNameBytes bytes of UTF-8
    };
    static int fileNameProblems(const QString& name);
    // name made into one isUsableFileName accepts, for a name from outside the program that
    // must be kept rather than refused (a peer's document, an imported item): each separator or
    // NUL becomes "_", leading dots go, the rest is cut between whole characters to 255 bytes,
    // and fallback stands for a name with nothing left. Every working name the program gives a
    // file of its own (staged copies ".folivo-…", temporary ".<name>.….tmp") starts with a dot,
    // so a usable name is never taken for one and removed by the clean-up after a crash.
    static QString usableFileName(const QString& name, const QString& fallback = QStringLiteral("Untitled"));

    // Whether something is at path. A link counts by its target (a dangling link does not
    // exist), as isDirectory does; itemExists sees the link itself.
    static bool fileExists(const QString& path, bool* isDirectory = nullptr);
    static bool itemExists(const QString& path);

    // A folder with mode 0777 less the umask. Without intermediates the parent must exist;
    // with them, existing folders along the way (and the folder itself) are fine.
    static Result<void> createDirectory(const QString& path, bool withIntermediates);

    // Copies a file, link or whole folder to dst, keeping modes, modification dates and the
    // user extended attributes. Fails without touching anything when dst exists; a copy that
    // fails half-way is removed again. A folder cannot be copied into itself.
    static Result<void> copyItem(const QString& src, const QString& dst);

    // Renames src to dst, failing when dst exists. Across file systems: a copy flushed to disk,
    // compared with the source (tree shape, types, sizes, link targets), then the source is
    // removed. When the comparison fails the copy is removed and the source kept.
    static Result<void> moveItem(const QString& src, const QString& dst);
    // Renames src to dst, failing when dst exists; never copies: across file systems (EXDEV)
    // it fails and leaves src where it was.
    static Result<void> renameItem(const QString& src, const QString& dst);

    // Checks that dst holds the same tree as src: the same names and types, regular files of
    // the same sizes, links with the same targets.
    static Result<void> verifyCopy(const QString& src, const QString& dst);

    // Removes a file, a link (not its target) or a folder with everything in it.
    static Result<void> removeItem(const QString& path);
    // The same, asking keepGoing before each item; when it answers false the removal stops
    // there with ECANCELED, leaving what it has not reached yet.
    static Result<void> removeItem(const QString& path, const std::function<bool()>& keepGoing);

    // The item's attributes; of the link itself unless followLinks.
    static Result<FileAttributes> attributesOfItem(const QString& path, bool followLinks = false);
    static Result<void> setModificationDate(const QString& path, const QDateTime& date);

    // Names in a folder, hidden ones included, sorted by code unit (stable across runs).
    static Result<QStringList> contentsOfDirectory(const QString& path);

    // Visits everything below root, depth first in the order of contentsOfDirectory, each
    // folder before its contents. Links are reported but never entered. A folder that cannot
    // be read is passed to onError (when given) and skipped; onError returning false stops.
    // Fails only when root itself cannot be read.
    static Result<void> enumerate(const QString& root,
                                  const std::function<EnumerationControl(const EnumeratedItem&)>& visit,
                                  const std::function<bool(const QString& path, const Error& error)>& onError = {});
    // Relative paths of everything below root, in enumeration order.
    static Result<QStringList> subpathsOfDirectory(const QString& root);

    // Writes data to path through a temporary file in the same folder that is flushed and then
    // renamed over path: readers see the old content or the new, never a mix. A replaced file
    // keeps its permissions; a link at path is replaced by the file.
    static Result<void> writeAtomically(const QString& path, const QByteArray& data);

    // Moves the item at tempPath into dir under the first free name of "baseName.ext",
    // "baseName_1.ext", "baseName_2.ext"… (no dot when ext is empty), never replacing an item
    // that is there, even when other threads or processes claim names at the same time.
    // Answers the path it took. Across file systems the item is first copied into dir.
    static Result<QString> claimFreeName(const QString& tempPath, const QString& dir,
                                         const QString& baseName, const QString& ext);

    // Test seam: replaces the no-replace rename (returns 0 or -1 with errno set) used by
    // moveItem, renameItem and claimFreeName; nullptr restores the real one.
    using RenameFunction = int (*)(const char* from, const char* to);
    static void setRenameFunctionForTesting(RenameFunction rename);
};

} // namespace platform
