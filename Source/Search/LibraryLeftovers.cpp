#include "Search/LibraryLeftovers.h"

#include "Platform/Content/DesktopThumbnailCache.h"
#include "Search/KPIndexManager.h"
#include "TagMeta/TagMetaBackup.h"

DataBaseEngine::LeftoverRemover LibraryLeftovers::remover(IndexPurge purge)
{
    if (!purge)
        purge = [](const QList<qint64>& ids) { return KPIndexManager::indexManager().purgeDocuments(ids); };
    return [purge = std::move(purge)](const QList<DataBaseEngine::DocumentLeftovers>& leftovers) {
        QList<qint64> indexIDs;
        QStringList files;
        for (const DataBaseEngine::DocumentLeftovers& leftover : leftovers) {
            if (leftover.indexID > 0)
                indexIDs.append(leftover.indexID);
            if (leftover.filePath.isEmpty())
                continue;
            files.append(leftover.filePath);
            platform::DesktopThumbnailCache::forget(leftover.filePath);
        }
        (void)TagMetaBackup::removeBackupsOfFiles(files);
        return indexIDs.isEmpty() || purge(indexIDs);
    };
}
