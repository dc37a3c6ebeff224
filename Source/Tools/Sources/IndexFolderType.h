// The kinds of watched folders (the values of DBIndexFolder.type), the six cloud-sync services
// the Source pane offers with their titles, icons and default folders, the iCloud app folders of
// "iCloudServiceConfig.plist", and the payloads of "AddIndexFolder" and "RemoveIndexFolder".
#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

namespace IndexFolderType {
inline const QString Folder = QStringLiteral("Folder");
inline const QString iCloud = QStringLiteral("iCloud");
inline const QString DropBox = QStringLiteral("DropBox");
inline const QString GoogleDrive = QStringLiteral("GoogleDrive");
inline const QString SkyDrive = QStringLiteral("SkyDrive"); // shown as OneDrive
inline const QString Box = QStringLiteral("Box");
inline const QString SugarSync = QStringLiteral("SugarSync");
inline const QString Copy = QStringLiteral("Copy");
} // namespace IndexFolderType

// The object of "AddIndexFolder": {"Path": the folder as a file URL, "Title", "Type"}.
namespace IndexFolderDicInfo {
inline const QString Path = QStringLiteral("Path");
inline const QString Title = QStringLiteral("Title");
inline const QString Type = QStringLiteral("Type");
} // namespace IndexFolderDicInfo

// Posted with an IndexFolderDicInfo; the main side bar stores, shows and syncs the folder.
inline const QString AddIndexFolderNotification = QStringLiteral("AddIndexFolder");
// Posted with the folder's path (a string) once its removal succeeded; the side bar drops the
// folder's node and stops its syncer.
inline const QString RemoveIndexFolderNotification = QStringLiteral("RemoveIndexFolder");

// The IndexFolderDicInfo that connects folder (an absolute path).
QVariantMap indexFolderDicInfo(const QString& folder, const QString& title, const QString& type);

struct CloudSourceKind {
    QString type;
    QString title;
    QString iconName;      // a bundle image of type "tiff"; none for an unknown type
    QString defaultFolder; // below the real home ("%@" stands for it); none for an unknown type

    // The default folder below realHome; empty without one.
    QString defaultFolderIn(const QString& realHome) const;
};

// The six cloud-sync services, in the order the pane shows them.
const QList<CloudSourceKind>& cloudSourceKinds();
// The service of a type key; "Unknown" without icon or default folder for any other key.
CloudSourceKind cloudSourceKind(const QString& type);

// One entry of "iCloudServiceConfig.plist".
struct ICloudServiceEntry {
    QString name;
    QString path;     // its first character stands for the real home's "Library" folder
    QString iconName;

    // "<realHome>/Library" followed by the path after its first character; empty without a path.
    QString defaultFolderIn(const QString& realHome) const;
};

// The entries of the bundle's "iCloudServiceConfig.plist" (or of the file given), in order;
// entries that are not dictionaries are skipped, and a missing or unreadable file (logged)
// gives none.
QList<ICloudServiceEntry> iCloudServiceEntries(const QString& configPath = {});
