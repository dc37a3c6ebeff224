// Names and dictionary keys of the notifications the side bars post and observe. Those of index
// folders and sources ("AddIndexFolder", "RemoveIndexFolder" and their keys) come with the
// Source pane, which posts them too.
#pragma once

#include "Tools/Sources/IndexFolderType.h"

#include <QString>

// Posted with an object naming what to count again (invalid: everything).
inline const QString RefreshItemCountNotification = QStringLiteral("RefreshItemCountNotification");
inline const QString RefreshItemCountIndexFolder = QStringLiteral("IndexFolder");

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
