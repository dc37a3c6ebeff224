// The plaintext inside a SafeBox container: a stream of records for the folders, files and links
// of the open box, and an end record.
//
// Each record holds the kind, the path relative to the box (bytes, "/"-separated), the mode, the
// modification time and the original creation time in nanoseconds, the item's user attributes
// (TagMeta's tags live there) and, for a file its bytes, for a link its target. A folder's record
// comes before its contents.
//
// Extraction trusts nothing of the stream: anyone who can write the library folder can replace
// the container (it is sealed to a public key). A path that is absolute, has an empty, "." or ".."
// part, or passes through anything but a folder the extraction made itself is refused; files are
// created exclusively and never through a link; a link where the program writes (its thumbnail
// folder) is left out; sizes and counts are bounded. Creation dates and
// user attributes go back as "user." attributes or, where the folder's file system refuses those,
// into the box's sidecar file, which the next seal reads back.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <functional>

namespace platform::sbx {

// Names at the top of an open box that belong to the tool, not to the user.
inline const QByteArray kAttachedRecordName = QByteArrayLiteral(".sbx-attached");
inline const QByteArray kSidecarName = QByteArrayLiteral(".sbx-sidecar");
// The folder at the top of an open box where the program keeps its thumbnails. The program
// writes there, so nothing from a container may make it (or anything in it) a link: thumbnails
// would be written through the link, outside the private runtime folder.
inline const QByteArray kThumbnailFolderName = QByteArrayLiteral(".Thumbnail");
bool isProgramWrittenPath(const QByteArray& relative);

// The user attribute that carries an item's creation date through an attach (seconds.nanoseconds
// since 1970, decimal text).
inline const QString kBirthTimeAttribute = QStringLiteral("folivo.btime");

// Attributes and creation dates kept beside the files where the file system takes no user
// attributes; keyed by the path relative to the box.
struct SidecarEntry {
    QMap<QString, QByteArray> attributes;
    qint64 birthTimeNs = 0;
};
using Sidecar = QHash<QByteArray, SidecarEntry>;
Sidecar readSidecar(const QByteArray& root);
Result<void> writeSidecar(const QByteArray& root, const Sidecar& sidecar);

using ArchiveWrite = std::function<Result<void>(const char* data, qsizetype size)>;
using ArchiveRead = std::function<Result<void>(char* data, qsizetype size)>;

// The allocated and the content bytes below root (the tool's own top-level records excluded).
struct TreeSize {
    quint64 contentBytes = 0;
    quint64 allocatedBytes = 0;
    quint64 entries = 0;
};
TreeSize measureTree(const QByteArray& root);

// Whether anything below root (or root itself) changed status at or after sinceRealNs (wall
// clock, as file times are): a write, a new, removed or renamed entry, a mode or attribute change.
bool treeChangedSince(const QByteArray& root, qint64 sinceRealNs);

// Streams the tree below root; links are stored as links and never followed.
Result<void> writeArchive(const QByteArray& root, const ArchiveWrite& write);

struct ExtractStats {
    quint64 contentBytes = 0;
    quint64 entries = 0;
};
// Recreates the tree into the existing empty folder root. countOnly reads and checks the stream
// without writing anything (the size of a box's content).
Result<ExtractStats> extractArchive(const ArchiveRead& read, const QByteArray& root, bool countOnly = false);

// Writes one record for tests that need hostile archives: raw path, kind 1 folder, 2 file,
// 3 link; data is the file's bytes or the link's target.
QByteArray encodeRecordForTesting(quint8 kind, const QByteArray& path, quint32 mode, const QByteArray& data);
QByteArray encodeEndRecordForTesting();

} // namespace platform::sbx
