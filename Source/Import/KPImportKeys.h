// The names an import shares with the rest of the program: the notification it posts, the
// keys of the import options it is given, of the status it reports and of the import record it
// hands to the library store. Written once here so a typo cannot split a key in two.
#pragma once

#include "Store/ImportRecord.h"

#include <QString>

namespace KPImportKeys {

inline const QString FileImportNotification = QStringLiteral("FileImportNotification");
inline const QString NewTagNotification = QStringLiteral("NewTagNotification");

// Import options.
inline const QString Paths = QStringLiteral("Paths");
inline const QString DBNode = QStringLiteral("DBNode");
inline const QString NewFolderName = QStringLiteral("NewFolderName");
inline const QString LastSelectNode = QStringLiteral("LastSelectNode");
inline const QString CMD = QStringLiteral("CMD");
inline const QString NewTags = QStringLiteral("NewTags");
inline const QString DoNewFolderAction = QStringLiteral("DoNewFolderAction");

// Status.
inline const QString Status = QStringLiteral("Status");
inline const QString ImportStart = QStringLiteral("ImportStart");
inline const QString Progress = QStringLiteral("Progress");
inline const QString SaveDataBaseStart = QStringLiteral("SaveDataBaseStart");
inline const QString SaveDataBaseFinished = QStringLiteral("SaveDataBaseFinished");
inline const QString DeleteImported = QStringLiteral("DeleteImported");
inline const QString CurrIndex = QStringLiteral("CurrIndex");
inline const QString Count = QStringLiteral("Count");
inline const QString Name = QStringLiteral("Name");
inline const QString Image = QStringLiteral("Image");
inline const QString NewNode = QStringLiteral("NewNode");
inline const QString SuccessCount = QStringLiteral("SuccessCount");
inline const QString LostFiles = QStringLiteral("LostFiles");
inline const QString FileSystemItem = QStringLiteral("FileSystemItem");
// Why the library did not take the documents (a full disk, say), when it did not.
inline const QString SaveError = QStringLiteral("SaveError");

// Import record: the store's own key names.
using ImportRecordKey::Authors;
using ImportRecordKey::Comment;
using ImportRecordKey::FinderLabel;
using ImportRecordKey::IsIndex;
using ImportRecordKey::Original;
using ImportRecordKey::Path;
using ImportRecordKey::Rate;
using ImportRecordKey::Tags;
using ImportRecordKey::Thumb;

} // namespace KPImportKeys
