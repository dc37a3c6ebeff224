// The walk of one import over the dropped or chosen paths.
//
// It collects the importable files (flat) or a folder tree (hierarchical) and, on the side, the
// paths of unsupported kinds, which the import reports to the user as not imported. Hidden
// items inside a dropped folder and symbolic links are skipped without a word, as the user
// never saw them in the drop; a hidden item dropped or handed over itself is taken (the library
// stores it under its usable name, which also gives its kind), and a hidden folder so given is
// walked like any other.
// The filter belongs to one import operation; only `setIsCancel` may come from another thread.
#pragma once

#include "Import/KPFileSysytemItem.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

class KPFileFormatManager;

class KPFileImportFilter {
public:
    // Over the shared format manager; the library folder comes from the user defaults.
    KPFileImportFilter();
    // Over a given manager and library folder (the folder is never walked into).
    KPFileImportFilter(KPFileFormatManager& formats, const QString& libraryPath);

    KPFileFormatManager& fileFormatManager() const { return m_formats; }

    bool isExistFolder(const QStringList& paths) const;
    QStringList fileListByFolders(const QStringList& paths);
    QStringList folderChildren(const QString& path);
    QStringList deleteNoSupportFormatFiles(const QStringList& paths);
    std::shared_ptr<KPFileSysytemItem> fileSystemItemByPaths(const QStringList& paths);
    std::shared_ptr<KPFileSysytemItem> folderChildrenByPath(const QString& path);

    // Full paths of the unsupported files found so far, in the order found.
    const QStringList& notSupportFiles() const { return m_notSupportFiles; }

    bool isCancel() const { return m_isCancel.load(); }
    void setIsCancel(bool cancel) { m_isCancel.store(cancel); }

private:
    template <class Walk>
    auto walk(Walk&& body);

    KPFileFormatManager& m_formats;
    QString m_libraryPath;
    QStringList m_notSupportFiles;
    std::atomic<bool> m_isCancel{false};
};
