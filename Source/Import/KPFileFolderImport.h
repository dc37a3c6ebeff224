// The import that keeps the folder structure: every walked folder becomes a folder node and
// each document lands in the node of the folder it was found in.
//
// The per-file work is the flat import's; the walk builds a tree, and the per-file pass
// builds a second tree of the same shape whose items are import records, which the store
// turns into folder nodes. A stop is tested before each file and once after the last one, so
// it is answered even while the walk runs or the last file is copied.
//
// Threads: see KPImportOperation.
#pragma once

#include "Import/KPFileSysytemItem.h"
#include "Import/KPImportOperation.h"

#include <memory>

class KPFileFolderImport : public KPImportOperation {
public:
    KPFileFolderImport(const QVariantMap& options, std::function<void()> completionBlock = {});

    bool isNeedDelete() const { return m_isNeedDelete; }
    qint32 fileCount() const { return m_fileCount; }
    qint32 currentIndex() const { return m_currentIndex; }
    int successCount() const { return m_successCount; }
    const std::shared_ptr<KPFileSysytemItem>& rootFileSystemItem() const { return m_rootFileSystemItem; }

    // The per-file work of one folder and, unless the import was stopped, of its sub-folders.
    std::shared_ptr<KPFileSysytemItem> createNewFolderContent(const KPFileSysytemItem& item);
    // Stores the tree and posts the final status.
    void startSave();
    // Removes the copy and the thumbnail of every file imported into item and below it.
    void deleteImported(const KPFileSysytemItem& item);

protected:
    void main() override;

private:
    bool m_isNeedDelete = false;
    bool m_stopped = false;
    qint32 m_fileCount = 0;
    qint32 m_currentIndex = 0;
    int m_successCount = 0;
    std::shared_ptr<KPFileSysytemItem> m_rootFileSystemItem;
    QList<KPImportedFile> m_imported; // every file copied in, in order
};
