#include "Import/KPFileImport.h"

#include "Import/KPFileImportFilter.h"
#include "Import/KPImportKeys.h"

KPFileImport::KPFileImport(const QVariantMap& options, std::function<void()> completionBlock)
    : KPImportOperation(options, std::move(completionBlock))
{
    setName(QStringLiteral("KPFileImport"));
}

void KPFileImport::main()
{
    KPImportState::beginOperation();
    postStatus(KPImportKeys::ImportStart);
    prepare();

    KPFileImportFilter& filter = fileImportFilter();
    m_hasFolder = filter.isExistFolder(m_filePaths);
    m_importDataList = m_hasFolder ? filter.fileListByFolders(m_filePaths)
                                   : filter.deleteNoSupportFormatFiles(m_filePaths);

    const int count = int(m_importDataList.size());
    startPreviews(m_importDataList, true);
    // One test before each file and one after the last, so that a stop asked for during the
    // walk or during the last copy is still answered.
    for (int i = 0; i <= count; ++i) {
        const KPImportState::State state = checkpoint(i == count);
        if (state == KPImportState::SaveImported)
            break;
        if (state == KPImportState::DeleteImported) {
            postStatus(KPImportKeys::DeleteImported);
            deleteImported();
            m_thrownAway = true;
            break;
        }
        if (i == count)
            break;
        const QString& path = m_importDataList.at(i);
        const KPPreparedFile prepared = previewOf(i, path);
        postProgress(i + 1, count, path, prepared.preview);
        if (auto file = importFile(path, prepared))
            m_insertRecords.append(*file);
    }

    stopPreviews();
    postStatus(KPImportKeys::SaveDataBaseStart);
    // While the panel shows the save starting, the copies go to disk.
    phasePause([this] {
        if (!m_insertRecords.isEmpty())
            flushCopiesAhead();
    });
    startSave();
    settleCopies();
}

void KPFileImport::deleteImported()
{
    discardFiles(m_insertRecords);
    m_insertRecords.clear();
}

void KPFileImport::startSave()
{
    using namespace KPImportKeys;
    QVariantMap status = finishedStatus();
    if (m_insertRecords.isEmpty()) {
        // Nothing arrived; still say which files could not be imported (unless the user threw
        // the import away), or a drop of unsupported files would end without a word.
        const QStringList lost = lostFiles();
        if (!m_thrownAway && !lost.isEmpty()) {
            status.insert(SuccessCount, 0);
            status.insert(LostFiles, lost);
        }
        postFinished(status);
        return;
    }

    QVariantList records;
    records.reserve(m_insertRecords.size());
    for (const KPImportedFile& file : m_insertRecords)
        records.append(file.record);
    const KPImportStore::Outcome outcome =
        storeCopies([&] { return store().storeFlat(records, m_node, m_newFolderName, cancelTest()); });
    if (!outcome.saved) {
        storeFailed(m_insertRecords);
        m_insertRecords.clear();
        if (m_hasDoNewFolderAction)
            status.insert(DoNewFolderAction, true);
        status.insert(SuccessCount, 0);
        status.insert(LostFiles, lostFiles());
        status.insert(SaveError, outcome.error);
        postFinished(status);
        return;
    }

    m_successCount = outcome.successCount;
    if (outcome.newNode.isValid())
        status.insert(NewNode, outcome.newNode);
    if (m_hasDoNewFolderAction)
        status.insert(DoNewFolderAction, true);
    status.insert(SuccessCount, m_successCount);
    status.insert(LostFiles, lostFiles());
    postNewTags(outcome.newTags);
    postFinished(status);

    if (m_isDeleteSourceFile)
        removeSources(m_insertRecords);
}
