#include "Search/KPIndexManager.h"

#include "Platform/Content/TextExtractor.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/TextIndex/TextIndexError.h"
#include "Store/KPLibraryFileManager.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Search/KPIndexLibraryStore.h"

#include <algorithm>
#include <QFileInfo>
#include <QUrl>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("IndexManager");
const QString kIndexingNotification = QStringLiteral("KPIndexManagerIndexing");
const QString kFinishedNotification = QStringLiteral("KPIndexManagerIndexFinished");

void logIndex(const QString& message)
{
    KPLogLogDomainMessage(kLogDomain, 0, message);
}

bool isMail(const QString& suffix)
{
    return suffix == QLatin1String("eml") || suffix == QLatin1String("emlx");
}

// Mail is indexed as text: decoded when it parses as a message, else the file's bytes as text.
Result<ExtractedText> extractMail(const QString& path)
{
    Result<ExtractedText> text = TextExtractor::shared().extract(path);
    if (text)
        return text;
    if (text.error().domain == ContentError::kDomain && text.error().code == ContentError::NotFound)
        return text;
    ExtractionContext ctx;
    return TextExtractor::extractPlainText(path, ctx);
}

bool isCorruptIndex(const Error& error)
{
    return error.domain == textIndexErrorDomain()
           && (error.code == TextIndexCorruptError || error.code == TextIndexNotAnIndexError);
}

} // namespace

static std::atomic<KPIndexManager*> g_shared{nullptr};

KPIndexManager& KPIndexManager::indexManager()
{
    // Never freed: searches may still hold it while the program quits.
    static KPIndexManager* shared = [] {
        auto* made = new KPIndexManager(KPLibraryFileManager::defaultManager().contentIndexFile(),
                                        std::make_shared<KPIndexLibraryStore>());
        g_shared.store(made);
        return made;
    }();
    return *shared;
}

void KPIndexManager::shutdownShared()
{
    if (KPIndexManager* shared = g_shared.load())
        shared->shutdown();
}

KPIndexManager::KPIndexManager(const QString& indexPath, std::shared_ptr<KPIndexRecordStore> store)
    : m_indexPath(indexPath), m_store(std::move(store))
{
    // A damaged file is replaced by the worker, off the main thread, since that touches the store.
    openIndex(false);
}

KPIndexManager::~KPIndexManager()
{
    shutdown();
}

void KPIndexManager::shutdown()
{
    // A rebuild under way finishes first: it writes the index too.
    std::lock_guard rebuild(m_rebuildLock);
    std::unique_lock lock(m_lock);
    m_isShutDown = true;
    m_isCancel.store(true);
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_isRunning; });
}

// ---- opening ----

bool KPIndexManager::openIndex(bool replaceDamaged)
{
    const QString folder = QFileInfo(m_indexPath).absolutePath();
    if (!FileManager::fileExists(folder)) {
        if (auto made = FileManager::createDirectory(folder, false); !made)
            logIndex(made.error().toString());
    }
    const bool existed = QFileInfo::exists(m_indexPath);
    Result<std::unique_ptr<TextIndex>> index = TextIndex::open(m_indexPath);
    if (!index && replaceDamaged && isCorruptIndex(index.error())) {
        // A damaged file is replaced; the store's records then no longer name anything in it.
        logIndex(QStringLiteral("Content index damaged, recreating it: %1").arg(index.error().toString()));
        index = TextIndex::recreate(m_indexPath, m_store->highestDocumentID() + 1);
        if (index && !m_store->resetForRebuild())
            logIndex(QStringLiteral("Content index recreated, but the documents could not be set to wait"));
    }
    if (!index) {
        logIndex(existed ? QStringLiteral("Open index lost!") : QStringLiteral("Create serach index lost: index is nil"));
        return false;
    }
    std::lock_guard lock(m_indexLock);
    m_index = std::shared_ptr<TextIndex>(std::move(*index));
    return true;
}

bool KPIndexManager::ensureIndex()
{
    if (indexRef())
        return true;
    return openIndex(true);
}

std::shared_ptr<TextIndex> KPIndexManager::indexRef() const
{
    std::lock_guard lock(m_indexLock);
    return m_index;
}

// ---- queue and flags ----

bool KPIndexManager::needIndex() const
{
    std::lock_guard lock(m_lock);
    return m_needIndex;
}

bool KPIndexManager::isRunning() const
{
    std::lock_guard lock(m_lock);
    return m_isRunning;
}

int KPIndexManager::queuedRecordCount() const
{
    std::lock_guard lock(m_lock);
    return int(m_progressRecord.size());
}

void KPIndexManager::buildNeedIndexItem()
{
    {
        // A worker idling after its last pass must look at the store again: the caller has
        // just added documents that its last look did not see.
        std::lock_guard lock(m_lock);
        m_needIndex = true;
        m_changed.notify_all();
    }
    run();
}

void KPIndexManager::run()
{
    std::lock_guard lock(m_lock);
    // During a rebuild the rebuild itself starts the next worker.
    if (m_isRunning || m_isCancel.load())
        return;
    m_isRunning = true;
    // The new worker's first pass looks at the store anyway.
    m_needIndex = false;
    Dispatch::async(DispatchQueue::global(QueuePriority::Background), [this] { workerMain(); });
}

void KPIndexManager::enqueueLocked(const QList<QVariantMap>& records)
{
    m_progressRecord.append(records);
    m_needIndex = true;
    m_changed.notify_all();
}

void KPIndexManager::addRecord(const QVariantMap& record)
{
    addRecords({record});
}

void KPIndexManager::addRecords(const QList<QVariantMap>& records)
{
    {
        std::lock_guard lock(m_lock);
        enqueueLocked(records);
    }
    run();
}

std::optional<QVariantMap> KPIndexManager::dequeue()
{
    std::lock_guard lock(m_lock);
    if (m_progressRecord.isEmpty())
        return std::nullopt;
    return m_progressRecord.takeFirst();
}

// ---- one document ----

bool KPIndexManager::isImageExtension(const QString& path)
{
    static const QSet<QString> images{QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                      QStringLiteral("tiff"), QStringLiteral("bmp")};
    return images.contains(QFileInfo(path).suffix().toLower());
}

bool KPIndexManager::buildIndexofFilePath(const QString& path, const QString& uri, qint64& documentID)
{
    const std::shared_ptr<TextIndex> index = indexRef();
    if (!index)
        return false;
    if (isImageExtension(path)) {
        documentID = kNotIndexed;
        return false;
    }
    if (path.isEmpty() || !QFileInfo(path).isAbsolute()) {
        logIndex(QStringLiteral("create SKDocumentRef lost, %1").arg(path));
        return false;
    }
    const QString url = QUrl::fromLocalFile(path).toString();
    const QString suffix = QFileInfo(path).suffix().toLower();

    Result<ExtractedText> text = isMail(suffix) ? extractMail(path) : TextExtractor::shared().extract(path);
    QString body;
    if (text) {
        body = text->text;
    } else if (text.error().domain == ContentError::kDomain && text.error().code == ContentError::Unsupported) {
        // A kind without a text reader is still a document of the index, only without words.
    } else {
        logIndex(QStringLiteral("Cannot read %1: %2").arg(path, text.error().toString()));
        return false;
    }

    Result<qint64> added = index->addDocument(url, body, uri);
    if (!added) {
        logIndex(QStringLiteral("Create SKDocumentRef exception: %1").arg(added.error().toString()));
        return false;
    }
    documentID = *added;
    return true;
}

bool KPIndexManager::removeIndexOfSKDocumentID(qint64 documentID)
{
    const std::shared_ptr<TextIndex> index = indexRef();
    if (index && documentID >= 1) {
        if (auto removed = index->removeDocument(documentID); !removed)
            logIndex(removed.error().toString());
    }
    return true;
}

bool KPIndexManager::purgeDocuments(const QList<qint64>& documentIDs)
{
    if (std::none_of(documentIDs.begin(), documentIDs.end(), [](qint64 id) { return id >= 1; }))
        return true;
    if (!ensureIndex())
        return false;
    const std::shared_ptr<TextIndex> index = indexRef();
    if (!index)
        return false;
    if (auto purged = index->purgeDocuments(documentIDs); !purged) {
        logIndex(QStringLiteral("Removed documents may stay in the content index: %1").arg(purged.error().toString()));
        return false;
    }
    return true;
}

// ---- the worker ----

void KPIndexManager::postOnMain(const QString& name)
{
    Dispatch::main([name] { NotificationCenter::defaultCenter().post(name); });
}

bool KPIndexManager::sleepUnlessCancelled(std::chrono::milliseconds time)
{
    std::unique_lock lock(m_lock);
    return !m_changed.wait_for(lock, time, [this] { return m_isCancel.load(); });
}

void KPIndexManager::workerMain()
{
    m_failedURIs.clear();
    for (;;) {
        if (!ensureIndex()) {
            // Nothing is marked failed: a folder without rights or a full disk may be fine on
            // the next build. Queued records wait for that worker too.
            std::lock_guard lock(m_lock);
            m_isRunning = false;
            m_changed.notify_all();
            return;
        }
        fetchWaiting();
        if (!m_isCancel.load()) {
            const PassOutcome outcome = processQueue();
            postOnMain(kFinishedNotification);
            if (moreWaiting()) {
                std::lock_guard lock(m_lock);
                m_needIndex = true;
            }
            if (outcome.recordingFailed)
                sleepUnlessCancelled(kFailureBackoff);
            splitOldTextWhileIdle();
            if (idleForWork())
                continue;
        }
        if (finishUnlessWorkArrived())
            return;
    }
}

bool KPIndexManager::fetchWaiting()
{
    // Set-aside records still match the store's waiting predicate, so ask for enough to get a
    // full batch past them.
    Result<QVariantList> fetched = m_store->fetchWaitingRecords(kFetchLimit + int(m_failedURIs.size()));
    if (!fetched) {
        logIndex(fetched.error().toString());
        return false;
    }
    QList<QVariantMap> records;
    for (const QVariant& value : std::as_const(*fetched)) {
        QVariantMap record = value.toMap();
        if (m_failedURIs.contains(record.value(QStringLiteral("URI")).toString()))
            continue;
        records.append(record);
        if (records.size() == kFetchLimit)
            break;
    }
    if (!records.isEmpty()) {
        std::lock_guard lock(m_lock);
        enqueueLocked(records);
    }
    return true;
}

KPIndexManager::PassOutcome KPIndexManager::processQueue()
{
    PassOutcome outcome;
    if (queuedRecordCount() == 0)
        return outcome;
    postOnMain(kIndexingNotification);

    QVariantList results;
    int counter = 0;
    while (!m_isCancel.load()) {
        std::optional<QVariantMap> record = dequeue();
        if (!record)
            break;
        const QString type = record->value(QStringLiteral("Type")).toString();
        if (type == QLatin1String("New")) {
            const QString uri = record->value(QStringLiteral("URI")).toString();
            qint64 documentID = kFailed;
            buildIndexofFilePath(record->value(QStringLiteral("Path")).toString(), uri, documentID);
            const qint64 previous = record->value(QStringLiteral("SKID")).toLongLong();
            // A document whose path changed got a new index document; the old one would be
            // a second hit for the same record.
            if (previous >= 1 && documentID >= 1 && previous != documentID)
                removeIndexOfSKDocumentID(previous);
            results.append(QVariantMap{{QStringLiteral("ID"), record->value(QStringLiteral("ID"))},
                                       {QStringLiteral("DocumentID"), documentID},
                                       {QStringLiteral("URI"), uri}});
        } else if (type == QLatin1String("Delete")) {
            removeIndexOfSKDocumentID(record->value(QStringLiteral("DocumentID")).toLongLong());
        }
        if (counter == kWriteEvery) {
            if (!recordResults(results))
                outcome.recordingFailed = true;
            results.clear();
            counter = 0;
        }
        ++counter;
    }
    if (!results.isEmpty() && !recordResults(results))
        outcome.recordingFailed = true;
    return outcome;
}

bool KPIndexManager::recordResults(QVariantList& entries)
{
    bool ok = true;
    const std::shared_ptr<TextIndex> index = indexRef();
    if (index) {
        if (Result<void> flushed = index->flush(); !flushed) {
            // None of this batch's documents reached the index: their records keep waiting.
            logIndex(QStringLiteral("Content index commit failed: %1").arg(flushed.error().toString()));
            ok = false;
            if (isCorruptIndex(flushed.error())) {
                // Reopened (and so replaced) before the next pass.
                std::lock_guard lock(m_indexLock);
                m_index.reset();
            }
            QVariantList kept;
            for (const QVariant& entry : std::as_const(entries)) {
                const QVariantMap map = entry.toMap();
                if (map.value(QStringLiteral("DocumentID")).toLongLong() >= 1)
                    m_failedURIs.insert(map.value(QStringLiteral("URI")).toString());
                else
                    kept.append(entry);
            }
            entries = kept;
        }
    }
    if (!entries.isEmpty() && !m_store->writeResults(entries)) {
        logIndex(QStringLiteral("Index results of %1 documents could not be saved").arg(entries.size()));
        ok = false;
        for (const QVariant& entry : std::as_const(entries))
            m_failedURIs.insert(entry.toMap().value(QStringLiteral("URI")).toString());
    } else if (!entries.isEmpty() && index && ok) {
        // A document that left the library while it was read takes its text out again: the
        // purge that removed its record knew no index ID for it yet. Looked at after the write,
        // so a record removed later is purged with the ID it now holds.
        if (const QList<qint64> orphans = m_store->documentsWithoutRecord(entries); !orphans.isEmpty()) {
            if (auto purged = index->purgeDocuments(orphans); !purged)
                logIndex(QStringLiteral("Text of removed documents stays in the content index: %1").arg(purged.error().toString()));
        }
    }
    return ok;
}

bool KPIndexManager::moreWaiting()
{
    Result<QVariantList> fetched = m_store->fetchWaitingRecords(int(m_failedURIs.size()) + 1);
    if (!fetched)
        return false;
    for (const QVariant& value : std::as_const(*fetched)) {
        if (!m_failedURIs.contains(value.toMap().value(QStringLiteral("URI")).toString()))
            return true;
    }
    return false;
}

void KPIndexManager::splitOldTextWhileIdle()
{
    const std::shared_ptr<TextIndex> index = indexRef();
    while (index && !m_isCancel.load()) {
        {
            std::lock_guard lock(m_lock);
            if (m_needIndex || !m_progressRecord.isEmpty())
                return;
        }
        Result<bool> more = index->splitOldText(kSplitStep);
        if (!more) {
            logIndex(QStringLiteral("The content index could not be split: %1").arg(more.error().toString()));
            return;
        }
        if (!*more)
            return;
    }
}

bool KPIndexManager::idleForWork()
{
    std::unique_lock lock(m_lock);
    const bool woken = m_changed.wait_for(lock, kIdleStep * kIdleSteps,
                                          [this] { return m_isCancel.load() || m_needIndex; });
    if (!woken || m_isCancel.load())
        return false;
    m_needIndex = false;
    return true;
}

bool KPIndexManager::finishUnlessWorkArrived()
{
    // Decided under the lock that every producer takes to set the need flag, so work handed
    // over from here on finds the worker either still going or gone (and starts a new one).
    std::lock_guard lock(m_lock);
    if (!m_isCancel.load() && (m_needIndex || !m_progressRecord.isEmpty())) {
        m_needIndex = false;
        return false;
    }
    m_isRunning = false;
    m_changed.notify_all();
    return true;
}

// ---- rebuilding ----

void KPIndexManager::rebuildAllIndex()
{
    std::shared_ptr<TextIndex> index = indexRef();
    bool rebuilt = false;
    if (index) {
        if (Result<void> emptied = index->rebuild(); emptied)
            rebuilt = true;
        else
            logIndex(emptied.error().toString());
    }
    if (!rebuilt) {
        const QString folder = QFileInfo(m_indexPath).absolutePath();
        if (!FileManager::fileExists(folder))
            (void)FileManager::createDirectory(folder, false);
        Result<std::unique_ptr<TextIndex>> fresh = TextIndex::recreate(m_indexPath, m_store->highestDocumentID() + 1);
        std::lock_guard lock(m_indexLock);
        if (fresh) {
            m_index = std::shared_ptr<TextIndex>(std::move(*fresh));
        } else {
            m_index.reset();
            logIndex(QStringLiteral("Create serach index lost: index is nil"));
        }
    }
    std::lock_guard lock(m_lock);
    m_progressRecord.clear();
    m_needIndex = false;
}

void KPIndexManager::rebuildAndWait()
{
    if (Dispatch::isMainThread())
        return;
    std::lock_guard rebuild(m_rebuildLock);
    {
        std::unique_lock lock(m_lock);
        if (m_isShutDown)
            return;
        m_isCancel.store(true);
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_isRunning; });
    }
    rebuildAllIndex();
    if (!m_store->resetForRebuild())
        logIndex(QStringLiteral("Rebuild: the documents could not be set to wait for indexing"));
    m_isCancel.store(false);
    buildNeedIndexItem();
}
