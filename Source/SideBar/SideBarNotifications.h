// Names and dictionary keys of the notifications the side bars post and observe.
#pragma once

#include <QString>

// Posted with an object naming what to count again (invalid: everything).
inline const QString RefreshItemCountNotification = QStringLiteral("RefreshItemCountNotification");
inline const QString RefreshItemCountIndexFolder = QStringLiteral("IndexFolder");

// Object: an IndexFolderDicInfo.
inline const QString AddIndexFolderNotification = QStringLiteral("AddIndexFolder");
// Object: the folder's path.
inline const QString RemoveIndexFolderNotification = QStringLiteral("RemoveIndexFolder");

// IndexFolderDicInfo: a folder to add as an index folder or document source.
namespace IndexFolderDicInfo {
inline const QString Path = QStringLiteral("Path");   // file URL (a path text is taken too)
inline const QString Title = QStringLiteral("Title");
inline const QString Type = QStringLiteral("Type");   // IndexFolderType
} // namespace IndexFolderDicInfo

// Values of DBIndexFolder.type that the side bar tells apart; any other is a cloud-sync source.
namespace IndexFolderType {
inline const QString Folder = QStringLiteral("Folder");
inline const QString ICloud = QStringLiteral("iCloud");
} // namespace IndexFolderType

// Object: a FavoriteChangeInfo; posted when a favourite's folder or tag is renamed or deleted.
inline const QString FavoriteNodeChangeNotification = QStringLiteral("FavoriteNodeChange");
namespace FavoriteChangeInfo {
inline const QString Type = QStringLiteral("Type"); // Rename or Remove
inline const QString URI = QStringLiteral("URI");   // the changed object's URI text
inline const QString Rename = QStringLiteral("Rename");
inline const QString Remove = QStringLiteral("Remove");
} // namespace FavoriteChangeInfo

// LastSelectedLibraryInfo: the record of the selected row kept at quit.
namespace LastSelectedLibraryInfo {
inline const QString Name = QStringLiteral("Name");
inline const QString DataIndexValue = QStringLiteral("DataIndexValue");
inline const QString Library = QStringLiteral("LIBRARY");
inline const QString SmartFolder = QStringLiteral("SMARTFOLDER");
} // namespace LastSelectedLibraryInfo

// Commands the side bar sends along to whoever answers them.
inline const QString MenuAddIndexFolderCommand = QStringLiteral("menuAddIndexFolder");
inline const QString MenuEmptyTrashCommand = QStringLiteral("menuEmptyTrash");
