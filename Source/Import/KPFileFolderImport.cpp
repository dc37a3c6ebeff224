#include "Import/KPFileFolderImport.h"

#include "Import/KPFileImportFilter.h"
#include "Import/KPImportKeys.h"

#include <QSet>

namespace {

qint32 countFiles(const KPFileSysytemItem& item)
{
    qint32 count = qint32(item.items().size());
    for (const auto& child : item.children())
        count += countFiles(*child);
    return count;
}

// The files in the order the per-file pass meets them: a folder's own, then its sub-folders'.
void collectFiles(const KPFileSysytemItem& item, QStringList& into)
{
    for (const QVariant& entry : item.items())
        into.append(entry.toString());
    for (const auto& child : item.children())
        collectFiles(*child, into);
}

void collectPaths(const KPFileSysytemItem& item, QSet<QString>& into)
{
    for (const QVariant& record : item.items())
        into.insert(record.toMap().value(KPImportKeys::Path).toString());
    for (const auto& child : item.children())
        collectPaths(*child, into);
}

} // namespace

KPFileFolderImport::KPFileFolderImport(const QVariantMap& options, std::function<void()> completionBlock)
    : KPImportOperation(options, std::move(completionBlock))
{
    setName(QStringLiteral("KPFileFolderImport"));
}

void KPFileFolderImport::main()
{
    KPImportState::beginOperation();
    postStatus(KPImportKeys::ImportStart);
    // While the panel shows the import starting, the dropped folders are walked.
    std::shared_ptr<KPFileSysytemItem> walked;
    phasePause([&] {
        prepare();
        walked = fileImportFilter().fileSystemItemByPaths(m_filePaths);
    });
    m_fileCount = countFiles(*walked);
    m_currentIndex = 0;
    QStringList files;
    collectFiles(*walked, files);
    startPreviews(files, false);
    m_rootFileSystemItem = createNewFolderContent(*walked);
    stopPreviews();
    // Also answers a stop asked for during the walk of a tree without files, or during the
    // last copy, which no per-file test would see.
    if (!m_stopped) {
        const KPImportState::State state = checkpoint(true);
        m_isNeedDelete = state == KPImportState::DeleteImported;
    }
    startSave();
    settleCopies();
}

std::shared_ptr<KPFileSysytemItem> KPFileFolderImport::createNewFolderContent(const KPFileSysytemItem& item)
{
    auto made = std::make_shared<KPFileSysytemItem>(item.path());
    made->setTitle(item.title());
    for (const QVariant& entry : item.items()) {
        if (m_stopped)
            break;
        const KPImportState::State state = checkpoint();
        if (state == KPImportState::SaveImported || state == KPImportState::DeleteImported) {
            m_isNeedDelete = state == KPImportState::DeleteImported;
            m_stopped = true;
            break;
        }
        const QString path = entry.toString();
        const KPPreparedFile prepared = previewOf(m_currentIndex, path);
        postProgress(m_currentIndex + 1, m_fileCount, path, prepared.preview);
        if (auto file = importFile(path, prepared)) {
            made->addItemByObj(file->record);
            m_imported.append(*file);
        }
        ++m_currentIndex; // a file that failed still moves the progress on
    }
    if (!m_stopped) {
        for (const auto& child : item.children())
            made->addChildren(createNewFolderContent(*child));
    }
    return made;
}

void KPFileFolderImport::deleteImported(const KPFileSysytemItem& item)
{
    // The tree holds records only; what this import created for them is known by copy path.
    QSet<QString> paths;
    collectPaths(item, paths);
    QList<KPImportedFile> files;
    for (const KPImportedFile& file : m_imported) {
        if (paths.contains(file.record.value(KPImportKeys::Path).toString()))
            files.append(file);
    }
    discardFiles(files);
}

void KPFileFolderImport::startSave()
{
    using namespace KPImportKeys;
    if (m_isNeedDelete) {
        postStatus(DeleteImported);
        deleteImported(*m_rootFileSystemItem);
        m_imported.clear();
        QVariantMap status{{Status, SaveDataBaseFinished}};
        if (m_lastSelectNode.isValid())
            status.insert(LastSelectNode, m_lastSelectNode);
        postFinished(status);
        return;
    }

    postStatus(SaveDataBaseStart);
    // A new folder only for a request that also asks to show it as one.
    const QString newFolder = m_doNewFolderAction ? m_newFolderName : QString();
    const KPImportStore::Outcome outcome =
        storeCopies([&] { return store().storeTree(*m_rootFileSystemItem, m_node, newFolder, cancelTest()); });
    QVariantMap status = finishedStatus();
    if (m_hasDoNewFolderAction)
        status.insert(DoNewFolderAction, true);
    if (!outcome.saved) {
        storeFailed(m_imported);
        m_imported.clear();
        status.insert(SuccessCount, 0);
        status.insert(LostFiles, lostFiles());
        status.insert(SaveError, outcome.error);
        postFinished(status);
        return;
    }

    m_successCount = outcome.successCount;
    if (outcome.newNode.isValid())
        status.insert(NewNode, outcome.newNode);
    status.insert(SuccessCount, m_successCount);
    status.insert(LostFiles, lostFiles());
    status.insert(FileSystemItem, QVariant::fromValue(m_rootFileSystemItem));
    postNewTags(outcome.newTags);
    postFinished(status);

    if (m_isDeleteSourceFile)
        removeSources(m_imported);
}
