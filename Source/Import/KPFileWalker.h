// The folder walks shared by the import filter and the format manager's own copy of them.
//
// Entries are listed with readdir and typed with lstat, never following a symbolic link: a
// link is an alias here, and following one that points at an ancestor would recurse without
// end. Names that are not valid UTF-8 cannot round-trip through the library's stored paths, so
// they are reported as lost instead of being imported under a mangled name. The library folder
// itself is never entered: importing it would copy the library into itself, and an import
// that deletes its sources would delete the library's own files.
//
// Threads: one walker belongs to one caller; it keeps no shared state.
#pragma once

#include "Import/KPFileSysytemItem.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

class KPFileFormatManager;

class KPFileWalker {
public:
    struct Options {
        // Tree walk: report folders whose extension is no known kind (and still enter them).
        bool listUnknownFoldersInTree = true;
        // Tree walk: report files of unsupported kinds.
        bool listUnsupportedFilesInTree = true;
    };

    KPFileWalker(const KPFileFormatManager& formats, const std::atomic<bool>& cancel,
                 Options options, const QString& libraryPath);

    QStringList fileListByFolders(const QStringList& paths);
    QStringList folderChildren(const QString& path);
    QStringList deleteNoSupportFormatFiles(const QStringList& paths);
    std::shared_ptr<KPFileSysytemItem> fileSystemItemByPaths(const QStringList& paths,
                                                             const QString& rootTitle);
    std::shared_ptr<KPFileSysytemItem> folderChildrenByPath(const QString& path);

    // The unsupported paths found so far, in the order found; the list is emptied.
    QStringList takeLost();

    // The library folder from the user defaults ("String_Library_Path", tilde expanded).
    static QString defaultLibraryPath();

private:
    enum class Kind { Missing, Directory, Regular, Link, Other };
    struct Entry {
        QString path;
        QString name;
        Kind kind = Kind::Missing;
        bool nameIsValid = true;
    };

    static Kind kindOf(const QString& path);
    static QList<Entry> listDirectory(const QString& path);
    bool isLibraryFolder(const QString& path) const;
    void walkFlat(const QString& folder, QStringList& out, int depth);
    // given: a path the user handed over, not an entry met inside a folder.
    void treeEntry(const Entry& entry, KPFileSysytemItem& into, int depth, bool given = false);
    std::shared_ptr<KPFileSysytemItem> treeFolder(const QString& path, int depth);

    const KPFileFormatManager& m_formats;
    const std::atomic<bool>& m_cancel;
    Options m_options;
    QString m_libraryPath;
    QStringList m_lost;
};
