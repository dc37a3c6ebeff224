// The process-wide table of document kinds the library takes in.
//
// The kinds come from the bundle's "SupportFileList.plist" and never change during a run; only
// the kinds the user switched off ("String_UnSupportKindIDS") are re-read when the preferences
// close, so that list alone sits behind a lock and everything else is read without one. Kind
// look-ups by extension use a case- and diacritic-insensitive LIKE match, so callers may pass
// "PDF" or a wildcard pattern. The manager also carries its own copy of the import walks (with
// its own stop flag and lost list) for callers that have no import filter.
//
// Threads: any. `m_unSupportLock` guards the switched-off lists; `m_walkLock` the lost list.
#pragma once

#include "Import/KPFileSysytemItem.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <atomic>
#include <memory>
#include <mutex>

class KPFileFormatManager {
public:
    // The shared manager over the bundle's table, made on first use and kept for the run.
    static KPFileFormatManager& fileFormatManager();

    // A manager over the given "SupportList" rows; the switched-off kinds come from the user
    // defaults as for the shared one.
    explicit KPFileFormatManager(const QVariantList& supportList);

    KPFileFormatManager(const KPFileFormatManager&) = delete;
    KPFileFormatManager& operator=(const KPFileFormatManager&) = delete;

    // Whether the extension of path names a kind that is known and not switched off.
    bool checkFileIsSupportImport(const QString& path) const;
    // As above, and never for hidden items or symbolic links.
    bool checkFileIsSupportByFilePath(const QString& path) const;
    // False for folders that are packages of an excluded kind ("app", "bundle", …).
    bool checkFolderIsSupport(const QString& path) const;
    // True when at least one of the paths could be imported by its extension.
    bool checkFileIsSupportByFiles(const QStringList& paths) const;
    // Whether the first real folder among the paths is a plain folder, not a document package.
    bool isExistFolder(const QStringList& paths) const;

    // Re-reads "String_UnSupportKindIDS".
    void reloadUnSupportKindIDS();

    // The localized "Unknown" when nothing matches.
    QString kindNameByExtenstion(const QString& extension) const;
    QString kindNameByKindID(qint64 kindID) const;
    // -1 when nothing matches.
    qint64 kindIDByExtenstion(const QString& extension) const;
    // 0 when no row has exactly this name.
    qint64 kindIDByKindName(const QString& name) const;
    QStringList extenstionsByKindID(qint64 kindID) const;

    const QVariantList& supportFormatList() const { return m_supportFormatList; }
    const QStringList& kindList() const { return m_kindList; }
    const QStringList& extensionList() const { return m_extensionList; }
    const QMap<QString, QStringList>& groupList() const { return m_groupList; }
    const QSet<QString>& groupNameList() const { return m_groupNameList; }
    QStringList unSupportKindIDS() const;
    QStringList unSupportExtensionList() const;

    // The manager's own walks: like the import filter's, but in the tree walk unsupported
    // files are skipped unlisted and folders of unknown extension are entered unlisted.
    QStringList fileListByFolders(const QStringList& paths);
    QStringList folderChildren(const QString& path);
    QStringList deleteNoSupportFormatFiles(const QStringList& paths);
    std::shared_ptr<KPFileSysytemItem> fileSystemItemByPaths(const QStringList& paths);
    std::shared_ptr<KPFileSysytemItem> folderChildrenByPath(const QString& path);
    bool isStop() const { return m_isStop.load(); }
    void setIsStop(bool stop) { m_isStop.store(stop); }
    QStringList lostFiles() const;
    void clearLostFiles();

    // The lower-cased extension of the last path component; "" for hidden names such as
    // ".profile" and for names ending in ".".
    static QString lowerExtension(const QString& path);
    // The nine package kinds that are never entered nor taken as documents.
    static const QSet<QString>& excludedPackageExtensions();

private:
    bool isSwitchedOff(const QString& lowerExt) const;
    const QVariantMap* rowForExtension(const QString& extension) const;

    QVariantList m_supportFormatList;
    QList<QVariantMap> m_rows; // the same rows, typed
    QStringList m_extensionList;
    QSet<QString> m_extensionSet;
    QStringList m_kindList;
    QMap<QString, QStringList> m_groupList;
    QSet<QString> m_groupNameList;

    mutable std::mutex m_unSupportLock;
    QStringList m_unSupportKindIDS;
    QStringList m_unSupportExtensionList;
    QSet<QString> m_unSupportExtensionSet;

    std::atomic<bool> m_isStop{false};
    mutable std::mutex m_walkLock;
    QStringList m_lostFiles;
};
