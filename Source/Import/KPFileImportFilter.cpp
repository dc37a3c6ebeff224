#include "Import/KPFileImportFilter.h"

#include "Import/KPFileFormatManager.h"
#include "Import/KPFileWalker.h"
#include "Import/KPImportText.h"

KPFileImportFilter::KPFileImportFilter()
    : KPFileImportFilter(KPFileFormatManager::fileFormatManager(), KPFileWalker::defaultLibraryPath())
{
}

KPFileImportFilter::KPFileImportFilter(KPFileFormatManager& formats, const QString& libraryPath)
    : m_formats(formats)
    , m_libraryPath(libraryPath)
{
}

template <class Walk>
auto KPFileImportFilter::walk(Walk&& body)
{
    KPFileWalker walker(m_formats, m_isCancel, {}, m_libraryPath);
    auto result = body(walker);
    m_notSupportFiles += walker.takeLost();
    return result;
}

bool KPFileImportFilter::isExistFolder(const QStringList& paths) const
{
    return m_formats.isExistFolder(paths);
}

QStringList KPFileImportFilter::fileListByFolders(const QStringList& paths)
{
    return walk([&](KPFileWalker& w) { return w.fileListByFolders(paths); });
}

QStringList KPFileImportFilter::folderChildren(const QString& path)
{
    return walk([&](KPFileWalker& w) { return w.folderChildren(path); });
}

QStringList KPFileImportFilter::deleteNoSupportFormatFiles(const QStringList& paths)
{
    return walk([&](KPFileWalker& w) { return w.deleteNoSupportFormatFiles(paths); });
}

std::shared_ptr<KPFileSysytemItem> KPFileImportFilter::fileSystemItemByPaths(const QStringList& paths)
{
    return walk([&](KPFileWalker& w) { return w.fileSystemItemByPaths(paths, KPImportText::untitledFolder()); });
}

std::shared_ptr<KPFileSysytemItem> KPFileImportFilter::folderChildrenByPath(const QString& path)
{
    return walk([&](KPFileWalker& w) { return w.folderChildrenByPath(path); });
}
