#include "Import/KPImportOperation.h"

#include "Import/KPFileFormatManager.h"
#include "Import/KPFileImportFilter.h"
#include "Import/KPImportKeys.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Store/KPLibraryFileManager.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QElapsedTimer>
#include <atomic>
#include <utility>

namespace {

std::atomic<long long>& phasePauseMs()
{
    static std::atomic<long long> ms{KPImportOperation::kPhasePause.count()};
    return ms;
}

void logImport(const QString& message)
{
    KPLogLogDomainMessage(QStringLiteral("Import"), 0, message);
}

QStringList stringsOf(const QVariant& value)
{
    QStringList out;
    for (const QVariant& v : value.toList())
        out.append(v.toString());
    return out;
}

} // namespace

KPImportOperation::KPImportOperation(const QVariantMap& options, std::function<void()> completionBlock)
    : m_options(options)
{
    using namespace KPImportKeys;
    m_filePaths = stringsOf(options.value(Paths));
    m_node = options.value(DBNode);
    if (options.contains(NewFolderName))
        m_newFolderName = options.value(NewFolderName).toString();
    if (m_newFolderName.isEmpty())
        m_newFolderName = QString(); // an empty title makes no folder
    m_lastSelectNode = options.value(LastSelectNode);
    m_isDeleteSourceFile = options.value(CMD).toBool();
    m_hasDoNewFolderAction = options.contains(DoNewFolderAction);
    m_doNewFolderAction = options.value(DoNewFolderAction).toBool();
    m_newTags = stringsOf(options.value(NewTags));
    if (completionBlock)
        setCompletionBlock(std::move(completionBlock));
}

KPImportOperation::~KPImportOperation()
{
    stopPreviews();
}

void KPImportOperation::setEnvironment(Environment environment)
{
    m_environment = std::move(environment);
}

void KPImportOperation::setPhasePauseForTesting(std::chrono::milliseconds pause)
{
    phasePauseMs().store(pause.count());
}

void KPImportOperation::cancel()
{
    platform::Operation::cancel();
    {
        std::lock_guard lock(m_filterMutex);
        if (m_fileImportFilter)
            m_fileImportFilter->setIsCancel(true);
    }
    KPImportState::wakeAll();
}

const KPLibraryFileManager& KPImportOperation::library() const
{
    return m_environment.library ? *m_environment.library : KPLibraryFileManager::defaultManager();
}

KPImportStore& KPImportOperation::store()
{
    if (!m_environment.store)
        m_environment.store = KPImportStore::libraryStore();
    return *m_environment.store;
}

void KPImportOperation::prepare()
{
    KPFileFormatManager& formats =
        m_environment.formats ? *m_environment.formats : KPFileFormatManager::fileFormatManager();
    auto filter = std::make_unique<KPFileImportFilter>(formats, library().workFolder());
    m_worker = std::make_unique<KPImportFileWorker>(library(), m_newTags);
    std::lock_guard lock(m_filterMutex);
    m_fileImportFilter = std::move(filter);
    if (isCancelled())
        m_fileImportFilter->setIsCancel(true);
}

std::function<bool()> KPImportOperation::cancelTest() const
{
    return [this] { return isCancelled(); };
}

KPImportState::State KPImportOperation::checkpoint(bool lastCheck)
{
    return KPImportState::checkpoint(cancelTest(), lastCheck);
}

void KPImportOperation::phasePause(const std::function<void()>& meanwhile)
{
    QElapsedTimer elapsed;
    elapsed.start();
    if (meanwhile)
        meanwhile();
    const std::chrono::milliseconds left(phasePauseMs().load() - elapsed.elapsed());
    KPImportState::pace(left, cancelTest());
}

void KPImportOperation::postNotificationByOptions(const QVariantMap& status) const
{
    platform::Dispatch::main([status] {
        platform::NotificationCenter::defaultCenter().post(KPImportKeys::FileImportNotification, status);
    });
}

void KPImportOperation::postStatus(const QString& status) const
{
    postNotificationByOptions({{KPImportKeys::Status, status}});
}

void KPImportOperation::postProgress(int currIndex, int count, const QString& path, const QImage& image) const
{
    using namespace KPImportKeys;
    postNotificationByOptions({{Status, Progress},
                               {CurrIndex, currIndex},
                               {Count, count},
                               {Name, path},
                               {Image, image}});
}

void KPImportOperation::postNewTags(const QVariantList& tags) const
{
    if (tags.isEmpty())
        return;
    std::shared_ptr<KPImportStore> store = m_environment.store;
    platform::Dispatch::main([tags, store] {
        QVariantList objects;
        for (const QVariant& tag : tags)
            objects.append(store ? store->objectForMainThread(tag) : tag);
        platform::NotificationCenter::defaultCenter().post(KPImportKeys::NewTagNotification, objects);
    });
}

void KPImportOperation::postFinished(const QVariantMap& status) const
{
    std::shared_ptr<KPImportStore> store = m_environment.store;
    // Observers read the nodes on the main thread, so they get the main context's objects,
    // not those of the save context that is gone by then.
    platform::Dispatch::main([finished = status, store] {
        QVariantMap status = finished;
        if (store) {
            using namespace KPImportKeys;
            if (status.contains(NewNode))
                status.insert(NewNode, store->objectForMainThread(status.value(NewNode)));
            std::function<void(KPFileSysytemItem&)> toMain = [&](KPFileSysytemItem& item) {
                if (item.dataObj().isValid())
                    item.setDataObj(store->objectForMainThread(item.dataObj()));
                for (const auto& child : item.children())
                    toMain(*child);
            };
            if (auto root = status.value(FileSystemItem).value<std::shared_ptr<KPFileSysytemItem>>())
                toMain(*root);
        }
        platform::NotificationCenter::defaultCenter().post(KPImportKeys::FileImportNotification, status);
    });
}

void KPImportOperation::startPreviews(const QStringList& paths, bool metadataFirst)
{
    const int workers = m_environment.previewWorkers > 0 ? m_environment.previewWorkers
                                                          : KPPreviewPrefetcher::defaultWorkerCount();
    m_metadataFirst = metadataFirst;
    m_previews = std::make_unique<KPPreviewPrefetcher>(
        paths, [worker = m_worker.get(), metadataFirst](const QString& path) { return worker->prepare(path, metadataFirst); },
        workers);
}

KPPreparedFile KPImportOperation::previewOf(int index, const QString& path)
{
    return m_previews ? m_previews->take(index, path) : m_worker->prepare(path, m_metadataFirst);
}

void KPImportOperation::stopPreviews()
{
    m_previews.reset();
}

std::optional<KPImportedFile> KPImportOperation::importFile(const QString& path, const KPPreparedFile& prepared)
{
    std::optional<KPImportFileWorker::Metadata> metadata = prepared.metadata;
    platform::Result<QString> copy = m_worker->copyIn(path);
    if (!copy) {
        logImport(copy.error().toString());
        m_failedFiles.append(path);
        return std::nullopt;
    }
    // The thumbnail is named after the copy, so it exists only for files that arrived.
    const QString thumb = m_worker->writeThumb(*copy, prepared);
    if (!metadata)
        metadata = m_worker->readMetadata(path);
    m_worker->writeGivenTags(*copy, *metadata);
    return m_worker->makeRecord(path, *copy, thumb, *metadata);
}

void KPImportOperation::flushCopiesAhead()
{
    m_flushedAhead = m_worker->flushCopies();
}

KPImportStore::Outcome KPImportOperation::storeCopies(const std::function<KPImportStore::Outcome()>& save)
{
    const platform::Result<void> flushed = m_flushedAhead ? *std::exchange(m_flushedAhead, std::nullopt)
                                                          : m_worker->flushCopies();
    if (!flushed) {
        logImport(flushed.error().toString());
        KPImportStore::Outcome outcome;
        outcome.error = QStringLiteral("The copies could not be written to disk: %1").arg(flushed.error().message);
        return outcome;
    }
    return save();
}

void KPImportOperation::discardFiles(const QList<KPImportedFile>& files)
{
    for (const KPImportedFile& file : files) {
        if (!m_worker->discard(file))
            m_copiesLeft = true;
    }
}

void KPImportOperation::storeFailed(const QList<KPImportedFile>& files)
{
    logImport(QStringLiteral("The library store did not take %1 documents; their copies were removed")
                  .arg(files.size()));
    discardFiles(files);
    for (const KPImportedFile& file : files)
        m_failedFiles.append(file.source);
}

void KPImportOperation::settleCopies()
{
    if (m_worker && !m_copiesLeft)
        m_worker->forgetCopies();
}

void KPImportOperation::removeSources(const QList<KPImportedFile>& files) const
{
    for (const KPImportedFile& file : files)
        m_worker->removeSource(file);
}

QStringList KPImportOperation::lostFiles() const
{
    // The walk's refusals first, as the result window lists them in the order found.
    QStringList lost = m_fileImportFilter ? m_fileImportFilter->notSupportFiles() : QStringList();
    lost += m_failedFiles;
    return lost;
}

QVariantMap KPImportOperation::finishedStatus() const
{
    QVariantMap status{{KPImportKeys::Status, KPImportKeys::SaveDataBaseFinished}};
    if (m_lastSelectNode.isValid())
        status.insert(KPImportKeys::LastSelectNode, m_lastSelectNode);
    if (m_node.isValid())
        status.insert(KPImportKeys::DBNode, m_node);
    return status;
}
