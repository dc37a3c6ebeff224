// The dictionary, one per file, that the importers, the scanner and the peer exchange hand to
// DataBaseEngine::insertRecords / insertIndexFolderRecords. It crosses module boundaries, so it
// stays a QVariantMap under these keys; a missing key leaves the attribute at its model default.
#pragma once

#include <QString>
#include <QVariantMap>

using ImportRecord = QVariantMap;

namespace ImportRecordKey {
// Text: the stored copy's library-relative path, or the file's absolute path with IsIndex.
inline const QString Path = QStringLiteral("Path");
// Text: the library-relative thumbnail path.
inline const QString Thumb = QStringLiteral("Thumb");
// Text: the original file (metadata.from; its dates, size, last use, display name and folder).
inline const QString Original = QStringLiteral("Original");
// Array of text: tag names; empty names are skipped.
inline const QString Tags = QStringLiteral("Tags");
// Number 0-5.
inline const QString Rate = QStringLiteral("Rate");
// Array of text: author names; empty names are skipped.
inline const QString Authors = QStringLiteral("Authors");
inline const QString Comment = QStringLiteral("comment");
// Boolean number.
inline const QString IsIndex = QStringLiteral("IsIndex");
// Number: the flag.
inline const QString FinderLabel = QStringLiteral("FinderLabel");
// Number, index-folder records only: the file's row in the index-folder store.
inline const QString FileID = QStringLiteral("FileID");
} // namespace ImportRecordKey

// Keys of the dictionaries insertIndexFolderRecords answers, one per record.
namespace IndexFolderRecordKey {
inline const QString ID = QStringLiteral("ID");     // the record's "FileID" (left out without one)
inline const QString Path = QStringLiteral("Path"); // the record's "Path"
inline const QString UUID = QStringLiteral("UUID"); // quint64: DBIndexFolderMetadata.uuid
inline const QString Date = QStringLiteral("Date"); // metadata.dateModified (left out when unknown)
} // namespace IndexFolderRecordKey
